// The renderer record: every GL object the 2D drawing layer uses, the per-frame
// pools and lists it fills, and the start-up that creates them.
//
// There is one renderer, the global `renderer`. renderer_init builds it once,
// on the thread that owns the GL context, after gl_load and before anything is
// drawn: one vertex buffer and one index buffer of 131072 bytes each, two
// vertex array objects (the standard layout and the per-instance UI layout),
// the three programs, two 1x1 RGBA8 blur caches (the blur passes resize them)
// and two 256 MiB vertex and index pools. Every failure inside it stops the
// program with an assertion (the shader and framebuffer modules log the cause
// first).
//
// Under the hood:
// - Drawing never calls GL: primitives append passes and write their vertices
//   straight into the pools; the flush uploads each pass into vb / ib and draws
//   it. The buffers are made once at full size and refilled per pass.
// - The pools reserve their span once and commit pages as a frame first needs
//   them; a frame's data never moves and needs no heap allocation.
// - renderer_init takes its sampler list from scratch storage and gives back
//   everything it took there. It leaves ui_va, the blur program, vb and the
//   second cache texture bound, and the caller's framebuffer bound again.
// - One vertex costs 40 bytes (Standard_Vertex); one UI rectangle is one
//   128-byte instance (UI_Vertex) drawn as a four-vertex strip.
// Main thread only. No locks.
#pragma once

#include "base/array.h"
#include "base/types.h"
#include "renderer/bump_pool.h"
#include "renderer/clip.h"
#include "renderer/framebuffer.h"
#include "renderer/pass.h"
#include "renderer/rect.h"
#include "renderer/shader.h"
#include "renderer/shader_sources.h"
#include "renderer/texture.h"

#include <cstddef>

namespace tessera {

// The size of vb and ib, and of one pass's vertex and index window.
inline constexpr s64 RENDERER_BUFFER_SIZE = 131072;
// What each pool reserves.
inline constexpr s64 RENDERER_POOL_RESERVATION = 268435456;
// The length of u_samplers in both fragment programs: the cap on texture units.
inline constexpr u32 RENDERER_MAX_TEXTURE_UNITS = static_cast<u32>(SAMPLER_SLOT_COUNT);

// ---- Vertex formats --------------------------------------------------------------

// A vertex of standard passes; packed, attribute locations 0..3.
struct Standard_Vertex {
    Vector3 position;   // x, y in surface pixels; z carried through the projection
    Vector2 texture_uv; // normalised texture coordinates
    Vector4 color;      // 0..1; multiplies the texel
    f32 texture_id;     // sampler slot of the pass, 0..15; negative: untextured (white)
};
static_assert(sizeof(Standard_Vertex) == 40);
static_assert(offsetof(Standard_Vertex, position) == 0 && offsetof(Standard_Vertex, texture_uv) == 12 &&
              offsetof(Standard_Vertex, color) == 20 && offsetof(Standard_Vertex, texture_id) == 36);

// One rectangle of a UI pass: a per-instance record, attribute locations 0..7 of
// four floats each, divisor 1. Corner order is top-left, top-right, bottom-left,
// bottom-right throughout.
struct UI_Vertex {
    Rect dst;             // surface pixels; (x0, y0) top-left, (x1, y1) bottom-right
    Rect src;             // texture coordinates of the matching corners of dst
    Vector4 colors[4];    // corner colours
    f32 corner_radii[4];  // pixels
    f32 border_thickness; // pixels; 0 or less: filled
    f32 edge_softness;    // pixels of soft edge
    f32 texture_index;    // sampler slot of the pass; negative: untextured
    f32 gradient_radius;  // pixels around u_soft_circle_position; 0 or less: off
};
static_assert(sizeof(UI_Vertex) == 128);
static_assert(offsetof(UI_Vertex, dst) == 0 && offsetof(UI_Vertex, src) == 16 &&
              offsetof(UI_Vertex, colors) == 32 && offsetof(UI_Vertex, corner_radii) == 96 &&
              offsetof(UI_Vertex, border_thickness) == 112 && offsetof(UI_Vertex, edge_softness) == 116 &&
              offsetof(UI_Vertex, texture_index) == 120 && offsetof(UI_Vertex, gradient_radius) == 124);

// ---- The renderer record ---------------------------------------------------------

struct Renderer {
    u32 vb = 0;          // GL_ARRAY_BUFFER, RENDERER_BUFFER_SIZE bytes, read by both vertex arrays
    u32 ib = 0;          // GL_ELEMENT_ARRAY_BUFFER, RENDERER_BUFFER_SIZE bytes of u16 indices
    u32 standard_va = 0; // the Standard_Vertex layout
    u32 ui_va = 0;       // the per-instance UI_Vertex layout
    Shader standard_shader;
    Shader ui_shader;
    Shader blur_shader;
    s32 width = 0; // drawing surface, pixels
    s32 height = 0;
    Matrix4 projection_matrix = MATRIX4_IDENTITY; // uploaded as u_projection
    Render_Texture caches[2];                     // off-screen targets of the blur passes
    Render_Texture output;                        // a slot nothing creates, binds or draws into
    Bump_Pool vertex_data;                        // this frame's vertex bytes, in per-pass windows
    Bump_Pool index_data;                         // this frame's index bytes, likewise
    s64 vertex_data_allocated = 0;                // bytes taken from vertex_data since the last flush
    s64 index_data_allocated = 0;                 // bytes taken from index_data since the last flush
    s64 vertex_current_allocation = 0;            // bytes used in the open pass's vertex window
    s64 index_current_allocation = 0;             // bytes used in the open pass's index window
    Array<Pass> passes;                           // this frame's passes, in order
    Array<Clip> clip_stack;                       // last: the clip in force
    Array<f32> opacity_stack;                     // last: the opacity in force
    u32 texture_units_available = 0;              // min(GL_MAX_TEXTURE_IMAGE_UNITS, 16)
};

extern Renderer renderer;

// The GL identification lines log_renderer_info writes, in order.
inline constexpr char RENDERER_INFO_VENDOR[] = "Vendor:   %\n";
inline constexpr char RENDERER_INFO_RENDERER[] = "Renderer: %\n";
inline constexpr char RENDERER_INFO_VERSION[] = "Version:  %\n";
inline constexpr char RENDERER_INFO_GLSL[] = "GLSL:     %\n";

// Assertion messages of renderer_init.
inline constexpr char RENDERER_NO_TEXTURE_UNITS[] =
    "GL_MAX_TEXTURE_IMAGE_UNITS is %; it must be greater than 0";
inline constexpr char RENDERER_PROGRAM_FAILED[] = "The % program failed to build";
inline constexpr char RENDERER_CACHE_NO_TEXTURE[] = "GL gave no texture name for blur cache %";
inline constexpr char RENDERER_CACHE_INCOMPLETE[] = "Blur cache % is not a complete framebuffer";

// Creates the buffers, vertex arrays, programs (with u_projection, u_opacity and
// u_samplers set), caches and pools; see the manual above. Run once.
void renderer_init();

// Deletes what renderer_init created and returns the record to its initial
// state (empty lists, identity projection, pools without a span), so that
// renderer_init may run again. The program itself never calls it: its GL
// objects and pools live until the process ends.
void renderer_deinit();

// Logs the vendor, renderer, version and GLSL version strings of the context.
void log_renderer_info();

// Starts a GL_TIME_ELAPSED query and returns its name. Timers do not nest.
u32 begin_gpu_timer();
// Ends the query started as `id`, waits for its result and returns the elapsed
// GPU time in nanoseconds (saturating at the s32 range). Deletes the query.
s32 end_gpu_timer(u32 id);

} // namespace tessera
