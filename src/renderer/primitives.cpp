#include "renderer/primitives.h"

#include <cmath>

namespace tessera {

// ---- Quads and triangles -------------------------------------------------------------

static constexpr u16 QUAD_INDICES[] = {0, 1, 2, 2, 3, 0};
static constexpr u16 TRIANGLE_INDICES[] = {0, 1, 2};

// (v.x cos theta - v.y sin theta, v.x sin theta + v.y cos theta) + center.
struct Rotation {
    Vector2 center;
    f32 cos_theta, sin_theta;
};

static Rotation rotation(Vector2 center, f32 theta) {
    return {center, std::cos(theta), std::sin(theta)};
}

static Vector2 apply(const Rotation &r, Vector2 v) {
    return {r.center.x + v.x * r.cos_theta - v.y * r.sin_theta,
            r.center.y + v.x * r.sin_theta + v.y * r.cos_theta};
}

// The STANDARD pass with room for `vertices` and `indices` and the index of
// `texture_id` in it. When making room opened a new pass, the texture is
// registered there: the index always refers to the pass holding the vertices.
static Standard_Pass *standard_begin(u32 texture_id, s32 vertices, s32 indices, f32 *texture_index) {
    Textured_Pass<Standard_Pass> batched = get_textured_pass<Standard_Pass>(texture_id);
    Standard_Pass *p = standard_reserve_vertex_and_index(vertices, indices);
    *texture_index = batched.texture_index;
    if (p != batched.pass) *texture_index = register_texture(&p, texture_id);
    return p;
}

static void add_vertex(Standard_Pass *p, Vector2 position, Vector2 uv, Vector4 color, f32 texture_index) {
    standard_add_vertex(p, Standard_Vertex{{position.x, position.y, 0}, uv, color, texture_index});
}

// Corners in vertex order: top-left, top-right, bottom-right, bottom-left.
static void quad(const Vector2 (&corners)[4], Rect src, Vector4 ctl, Vector4 ctr, Vector4 cbr, Vector4 cbl,
                 u32 texture_id) {
    f32 texture_index;
    Standard_Pass *p = standard_begin(texture_id, 4, 6, &texture_index);
    standard_add_indices(p, {6, QUAD_INDICES});
    add_vertex(p, corners[0], {src.x0, src.y0}, ctl, texture_index);
    add_vertex(p, corners[1], {src.x1, src.y0}, ctr, texture_index);
    add_vertex(p, corners[2], {src.x1, src.y1}, cbr, texture_index);
    add_vertex(p, corners[3], {src.x0, src.y1}, cbl, texture_index);
}

void draw_quad(Rect dst, Vector4 tint) {
    standard_draw_quad(dst, Rect{}, tint, tint, tint, tint, 0);
}

void draw_quad(u32 texture_id, Rect src, Rect dst, Vector4 tint) {
    standard_draw_quad(dst, src, tint, tint, tint, tint, texture_id);
}

void standard_draw_quad(Rect dst, Rect src, Vector4 ctl, Vector4 ctr, Vector4 cbr, Vector4 cbl,
                        u32 texture_id) {
    const Vector2 corners[4] = {{dst.x0, dst.y0}, {dst.x1, dst.y0}, {dst.x1, dst.y1}, {dst.x0, dst.y1}};
    quad(corners, src, ctl, ctr, cbr, cbl, texture_id);
}

void standard_draw_quad(Rect dst, Rect src, Vector4 ctl, Vector4 ctr, Vector4 cbr, Vector4 cbl,
                        Vector2 center, f32 theta, u32 texture_id) {
    Rotation r = rotation(center, theta);
    const Vector2 corners[4] = {apply(r, {dst.x0, dst.y0}), apply(r, {dst.x1, dst.y0}),
                                apply(r, {dst.x1, dst.y1}), apply(r, {dst.x0, dst.y1})};
    quad(corners, src, ctl, ctr, cbr, cbl, texture_id);
}

static void triangle(const Vector2 (&dst)[3], const Vector2 (&src)[3], const Vector4 (&col)[3],
                     u32 texture_id) {
    f32 texture_index;
    Standard_Pass *p = standard_begin(texture_id, 3, 3, &texture_index);
    standard_add_indices(p, {3, TRIANGLE_INDICES});
    for (s32 i = 0; i < 3; i++) add_vertex(p, dst[i], src[i], col[i], texture_index);
}

void standard_draw_triangle(Vector2 dst1, Vector2 dst2, Vector2 dst3, Vector2 src1, Vector2 src2,
                            Vector2 src3, Vector4 col1, Vector4 col2, Vector4 col3, u32 texture_id) {
    triangle({dst1, dst2, dst3}, {src1, src2, src3}, {col1, col2, col3}, texture_id);
}

void standard_draw_triangle(Vector2 dst1, Vector2 dst2, Vector2 dst3, Vector2 src1, Vector2 src2,
                            Vector2 src3, Vector4 col1, Vector4 col2, Vector4 col3, Vector2 center, f32 theta,
                            u32 texture_id) {
    Rotation r = rotation(center, theta);
    triangle({apply(r, dst1), apply(r, dst2), apply(r, dst3)}, {src1, src2, src3}, {col1, col2, col3},
             texture_id);
}

// ---- UI rectangles -----------------------------------------------------------------

// The next rectangle slot of `p`, whose window has room for it.
static UI_Vertex *next_slot(UI_Pass *p, f32 texture_index) {
    UI_Vertex *slot = reinterpret_cast<UI_Vertex *>(p->vertex_data + static_cast<s64>(p->vertex_count) *
                                                                         static_cast<s64>(sizeof(UI_Vertex)));
    p->vertex_count++;
    renderer.vertex_current_allocation += sizeof(UI_Vertex);
    slot->texture_index = texture_index;
    return slot;
}

static bool window_full(const UI_Pass *p) {
    return static_cast<s64>(p->vertex_count) * static_cast<s64>(sizeof(UI_Vertex)) >= UI_PASS_WINDOW_LIMIT;
}

static UI_Pass *open_full_window_pass() {
    frame_stats.pass_begin_reasons[static_cast<u32>(Pass_Begin_Reason::FULL_WINDOW)]++;
    return &push_new_pass(Pass_Kind::UI)->ui;
}

UI_Vertex *ui_draw_rect() {
    UI_Pass *p = &find_or_create_pass(Pass_Kind::UI)->ui;
    if (window_full(p)) p = open_full_window_pass();
    return next_slot(p, -1);
}

UI_Vertex *ui_draw_rect(u32 texture_id) {
    Textured_Pass<UI_Pass> t = get_textured_pass<UI_Pass>(texture_id);
    UI_Pass *p = t.pass;
    if (window_full(p)) {
        p = open_full_window_pass();
        t.texture_index = register_texture(&p, texture_id);
    }
    return next_slot(p, t.texture_index);
}

static void fill(UI_Vertex *v, Rect dst, Rect src, Vector4 color, f32 border_thickness, f32 edge_softness,
                 f32 corner_radii) {
    v->dst = dst;
    v->src = src;
    for (s32 i = 0; i < 4; i++) {
        v->colors[i] = color;
        v->corner_radii[i] = corner_radii;
    }
    v->border_thickness = border_thickness;
    v->edge_softness = edge_softness;
    v->gradient_radius = 0;
}

UI_Vertex *ui_draw_rect(Rect dst, Vector4 color, f32 border_thickness, f32 edge_softness, f32 corner_radii) {
    UI_Vertex *v = ui_draw_rect();
    fill(v, dst, Rect{}, color, border_thickness, edge_softness, corner_radii);
    return v;
}

UI_Vertex *ui_draw_rect(u32 texture_id, Rect src, Rect dst, Vector4 tint, f32 border_thickness,
                        f32 edge_softness, f32 corner_radii) {
    UI_Vertex *v = ui_draw_rect(texture_id);
    fill(v, dst, src, tint, border_thickness, edge_softness, corner_radii);
    return v;
}

// ---- Blur and custom passes ----------------------------------------------------------

Blur_Pass *blur_pass(Rect rect, f32 radius, f32 edge_softness) {
    Blur_Pass *p = &find_or_create_pass(Pass_Kind::BLUR)->blur;
    p->rect = rect;
    p->radius = radius;
    p->edge_softness = edge_softness;
    return p;
}

Custom_Pass *custom_render_pass(Custom_Pass_Proc proc, void *data) {
    Custom_Pass *p = &find_or_create_pass(Pass_Kind::CUSTOM)->custom;
    p->data = data;
    p->proc = proc;
    return p;
}

} // namespace tessera
