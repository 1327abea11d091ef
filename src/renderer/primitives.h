// Drawing primitives: quads, triangles, UI rectangles, blur regions and custom
// passes, recorded into the pass list.
//
// All coordinates are window pixels (top-left origin, y down); colours are
// Vector4 red, green, blue, alpha in 0..1; a texture is its GL name (0:
// untextured) with normalised texture coordinates. Nothing here calls GL: each
// call finds or opens the right pass (under the clip and opacity in force) and
// writes into it; the flush draws everything later, in the order recorded.
//
// Costs:
// - A quad is one texture lookup (at most 16 names), a capacity test, and 6
//   indices and 4 vertices (160 bytes) written straight into the pass window; a
//   triangle 3 indices and 3 vertices. Consecutive quads and triangles merge
//   into one pass, up to 3275 vertices and 16 textures.
// - A UI rectangle is one 128-byte record written in place, up to 1023 per pass;
//   the flush draws a pass's rectangles with one instanced call.
// - A blur costs a read-back and a few small passes at the flush; two blur_pass
//   calls with nothing recorded between them are one blur (the second wins), and
//   so are two custom_render_pass calls.
// - Nothing allocates, apart from a pass's first texture list (scratch storage).
// The returned pointers are valid until the next flush. Main thread only.
#pragma once

#include "base/types.h"
#include "renderer/pass.h"
#include "renderer/rect.h"
#include "renderer/renderer.h"

namespace tessera {

// ---- Quads and triangles -------------------------------------------------------------

// An untextured quad of one colour (texture coordinates all 0).
void draw_quad(Rect dst, Vector4 tint);

// A textured quad: `src` (texture coordinates) mapped onto `dst`, tinted.
void draw_quad(u32 texture_id, Rect src, Rect dst, Vector4 tint);

// One axis-aligned quad, one colour per corner: top-left, top-right,
// bottom-right, bottom-left.
void standard_draw_quad(Rect dst, Rect src, Vector4 ctl, Vector4 ctr, Vector4 cbr, Vector4 cbl,
                        u32 texture_id);

// The same quad rotated by `theta` radians (clockwise on screen for theta > 0)
// and moved to `center`: `dst` is given relative to the centre of rotation.
void standard_draw_quad(Rect dst, Rect src, Vector4 ctl, Vector4 ctr, Vector4 cbr, Vector4 cbl,
                        Vector2 center, f32 theta, u32 texture_id);

// One triangle, one position, texture coordinate and colour per corner.
void standard_draw_triangle(Vector2 dst1, Vector2 dst2, Vector2 dst3, Vector2 src1, Vector2 src2,
                            Vector2 src3, Vector4 col1, Vector4 col2, Vector4 col3, u32 texture_id);

// The same triangle, its points rotated about the origin by `theta` and moved
// to `center`.
void standard_draw_triangle(Vector2 dst1, Vector2 dst2, Vector2 dst3, Vector2 src1, Vector2 src2,
                            Vector2 src3, Vector4 col1, Vector4 col2, Vector4 col3, Vector2 center, f32 theta,
                            u32 texture_id);

// ---- UI rectangles -----------------------------------------------------------------

// An untextured rectangle slot. Only texture_index (-1) is written: the slot's
// memory is reused from earlier frames, so the caller writes every other field.
UI_Vertex *ui_draw_rect();

// The same for a textured rectangle; texture_index is the texture's slot in the
// pass (-1 for texture_id 0).
UI_Vertex *ui_draw_rect(u32 texture_id);

// A filled (border_thickness 0) or bordered untextured rectangle: one colour and
// one corner radius for all four corners, src all 0, gradient off. The caller
// may adjust the returned slot (per-corner colours and radii, gradient_radius).
UI_Vertex *ui_draw_rect(Rect dst, Vector4 color, f32 border_thickness, f32 edge_softness, f32 corner_radii);

// A textured rectangle: `src` (texture coordinates) onto `dst`, tinted.
UI_Vertex *ui_draw_rect(u32 texture_id, Rect src, Rect dst, Vector4 tint, f32 border_thickness,
                        f32 edge_softness, f32 corner_radii);

// ---- Blur and custom passes ----------------------------------------------------------

// Blurs what is already drawn inside `rect` by `radius` pixels (0: nothing). The
// caller may set the returned pass's corner_radii (0 in a new pass).
Blur_Pass *blur_pass(Rect rect, f32 radius, f32 edge_softness);

// Calls proc(data) at this point of the flush, with the GL context current.
Custom_Pass *custom_render_pass(Custom_Pass_Proc proc, void *data);

} // namespace tessera
