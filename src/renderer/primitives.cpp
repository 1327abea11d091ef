#include "renderer/primitives.h"

#include <cmath>
#include <cstring>

namespace tessera {

// ---- The hot path ------------------------------------------------------------------
//
// Every primitive first asks whether the last pass already takes the draw: its
// kind, room for the vertices, the texture in its list (Path::JOIN, inline).
// That is the common case, and it gives the same pass and texture index as the
// full path through get_textured_pass and the reserve, which would then open
// nothing. Only when it fails does the primitive jump to an out-of-line twin
// that takes the full path (Path::FULL) and writes the same data.
//
// The data go straight into the window, built from the arguments in vector
// registers. A Rect or Vector4 argument arrives as two SSE registers of two
// floats each. GCC, asked to copy such a record whole or to build a vector from
// its named floats, takes the pairs apart through general registers or joins
// them through the stack (two 8-byte stores, then a 16-byte load that store
// forwarding cannot serve: a stall of a dozen cycles). So the pairs are taken
// as bytes (pair_at) and stay vectors until they are stored. Together with
// writing the vertices in place instead of through standard_add_vertex this
// cut a quad from about 360 instructions to about 100.

using F32x2 = f32 __attribute__((vector_size(8)));
using F32x4 = f32 __attribute__((vector_size(16)));

// The halves of a Rect, Vector4 or Vector2 as the float pairs they arrived in.
static inline F32x2 pair_at(const f32 *first) {
    F32x2 v;
    memcpy(&v, first, sizeof(v));
    return v;
}

static inline F32x2 pair(Vector2 v) {
    return pair_at(&v.x);
}

static inline F32x2 low(const Rect &r) {
    return pair_at(&r.x0);
}

static inline F32x2 high(const Rect &r) {
    return pair_at(&r.x1);
}

static inline F32x4 join(F32x2 low, F32x2 high) {
    return __builtin_shufflevector(low, high, 0, 1, 2, 3);
}

static inline F32x4 join(Vector4 v) {
    return join(pair_at(&v.x), pair_at(&v.z));
}

static inline F32x4 join(const Rect &r) {
    return join(low(r), high(r));
}

static inline void put(u8 *to, F32x4 v) {
    memcpy(to, &v, sizeof(v));
}

static inline void put(u8 *to, F32x2 v) {
    memcpy(to, &v, sizeof(v));
}

// The last pass of the list when it has `kind`, else null.
static inline Pass *last_pass_of(Pass_Kind kind) {
    const Array<Pass> &passes = renderer.passes;
    if (passes.count == 0) return nullptr;
    Pass *last = &passes.data[passes.count - 1];
    return last->base.kind == kind ? last : nullptr;
}

// The index of `id` in the pass's texture list (-1 for id 0) as
// register_texture would give it without adding anything (newest first); false
// when it would have to add `id`.
template <typename T>
static inline bool find_texture(const T *p, u32 id, f32 *index) {
    if (id == 0) {
        *index = -1;
        return true;
    }
    for (s32 i = p->texture_count - 1; i >= 0; i--) {
        if (p->texture_data[i] == id) {
            *index = static_cast<f32>(i);
            return true;
        }
    }
    return false;
}

// ---- Quads and triangles -------------------------------------------------------------

// The last pass when it is a STANDARD pass with room for the draw and
// `texture_id` in its list; pass null otherwise.
static inline Textured_Pass<Standard_Pass> standard_joinable(u32 texture_id, s32 vertices, s32 indices) {
    Textured_Pass<Standard_Pass> t;
    Pass *last = last_pass_of(Pass_Kind::STANDARD);
    if (!last) return t;
    Standard_Pass *p = &last->standard;
    if (p->vertex_count >= STANDARD_PASS_VERTEX_LIMIT - vertices ||
        p->index_count >= STANDARD_PASS_INDEX_LIMIT - indices)
        return t;
    if (find_texture(p, texture_id, &t.texture_index)) t.pass = p;
    return t;
}

// The full path: the STANDARD pass with room for `vertices` and `indices` and the
// index of `texture_id` in it. When making room opened a new pass, the texture is
// registered there: the index always refers to the pass holding the vertices.
static Textured_Pass<Standard_Pass> standard_begin(u32 texture_id, s32 vertices, s32 indices) {
    Textured_Pass<Standard_Pass> batched = get_textured_pass<Standard_Pass>(texture_id);
    Textured_Pass<Standard_Pass> t = {standard_reserve_vertex_and_index(vertices, indices),
                                      batched.texture_index};
    if (t.pass != batched.pass) t.texture_index = register_texture(&t.pass, texture_id);
    return t;
}

// Which way a primitive finds its pass. The jump to the FULL twin is the public
// primitive's last act and passes its own arguments on unchanged, so it is a
// plain jump: the fast path neither saves registers for a call nor spills its
// arguments.
enum class Path { JOIN, FULL };

template <Path P>
static inline Textured_Pass<Standard_Pass> standard_pass(u32 texture_id, s32 vertices, s32 indices) {
    if constexpr (P == Path::JOIN) {
        return standard_joinable(texture_id, vertices, indices);
    } else {
        return standard_begin(texture_id, vertices, indices);
    }
}

// One Standard_Vertex as standard_add_vertex writes it, in five 8-byte stores
// that need few shuffles of the float pairs the arguments arrived in:
// (x, y), (0, u), (v, r), (g, b), (a, texture_id).
static_assert(offsetof(Standard_Vertex, position) == 0 && offsetof(Standard_Vertex, texture_uv) == 12 &&
              offsetof(Standard_Vertex, color) == 20 && offsetof(Standard_Vertex, texture_id) == 36 &&
              sizeof(Standard_Vertex) == 40);
static inline void put_vertex(u8 *to, F32x2 position, F32x2 uv, F32x2 rg, F32x2 ba, f32 texture_index) {
    put(to, position);
    put(to + 8, __builtin_shufflevector(F32x2{0, 0}, uv, 0, 2));
    put(to + 16, __builtin_shufflevector(uv, rg, 1, 2));
    put(to + 24, __builtin_shufflevector(rg, ba, 1, 2));
    put(to + 32, __builtin_shufflevector(ba, F32x2{texture_index, texture_index}, 1, 2));
}

static inline void put_vertex(u8 *to, F32x2 position, F32x2 uv, F32x4 rgba, f32 texture_index) {
    put_vertex(to, position, uv, __builtin_shufflevector(rgba, rgba, 0, 1),
               __builtin_shufflevector(rgba, rgba, 2, 3), texture_index);
}

// One quad as standard_add_indices([0, 1, 2, 2, 3, 0]) and four standard_add_vertex
// calls write it. Corners, texture coordinates and colours in vertex order:
// top-left, top-right, bottom-right, bottom-left. False when P is JOIN and the
// last pass does not take the quad; nothing is written then.
template <Path P>
static inline bool quad(F32x2 p0, F32x2 p1, F32x2 p2, F32x2 p3, F32x2 src_min, F32x2 src_max, F32x4 c0,
                        F32x4 c1, F32x4 c2, F32x4 c3, u32 texture_id) {
    Textured_Pass<Standard_Pass> t = standard_pass<P>(texture_id, 4, 6);
    Standard_Pass *p = t.pass;
    if (!p) return false;
    // The six indices in one vector add and two stores (8 + 4 bytes).
    using U16x8 = u16 __attribute__((vector_size(16)));
    U16x8 indices = U16x8{0, 1, 2, 2, 3, 0, 0, 0} + static_cast<u16>(p->vertex_count);
    memcpy(p->index_data + p->index_count, &indices, 6 * sizeof(u16));
    u8 *v = p->vertex_data + static_cast<s64>(p->vertex_count) * static_cast<s64>(sizeof(Standard_Vertex));
    F32x2 uv1 = __builtin_shufflevector(src_max, src_min, 0, 3); // (x1, y0)
    F32x2 uv3 = __builtin_shufflevector(src_min, src_max, 0, 3); // (x0, y1)
    put_vertex(v, p0, src_min, c0, t.texture_index);
    put_vertex(v + 40, p1, uv1, c1, t.texture_index);
    put_vertex(v + 80, p2, src_max, c2, t.texture_index);
    put_vertex(v + 120, p3, uv3, c3, t.texture_index);
    p->index_count += 6;
    p->vertex_count += 4;
    renderer.index_current_allocation += 6 * sizeof(u16);
    renderer.vertex_current_allocation += 4 * sizeof(Standard_Vertex);
    return true;
}

// An axis-aligned quad: the corners are the rectangle's.
template <Path P>
static inline bool quad(Rect dst, Rect src, F32x4 c0, F32x4 c1, F32x4 c2, F32x4 c3, u32 texture_id) {
    F32x2 d_min = low(dst), d_max = high(dst);
    return quad<P>(d_min, __builtin_shufflevector(d_max, d_min, 0, 3), d_max,
                   __builtin_shufflevector(d_min, d_max, 0, 3), low(src), high(src), c0, c1, c2, c3,
                   texture_id);
}

// (v.x cos theta - v.y sin theta, v.x sin theta + v.y cos theta) + center.
struct Rotation {
    Vector2 center;
    f32 cos_theta, sin_theta;
};

static Rotation rotation(Vector2 center, f32 theta) {
    return {center, std::cos(theta), std::sin(theta)};
}

static F32x2 apply(const Rotation &r, f32 x, f32 y) {
    return F32x2{r.center.x + x * r.cos_theta - y * r.sin_theta,
                 r.center.y + x * r.sin_theta + y * r.cos_theta};
}

template <Path P>
static inline bool rotated_quad(Rect dst, Rect src, Vector4 ctl, Vector4 ctr, Vector4 cbr, Vector4 cbl,
                                Vector2 center, f32 theta, u32 texture_id) {
    Rotation r = rotation(center, theta);
    return quad<P>(apply(r, dst.x0, dst.y0), apply(r, dst.x1, dst.y0), apply(r, dst.x1, dst.y1),
                   apply(r, dst.x0, dst.y1), low(src), high(src), join(ctl), join(ctr), join(cbr), join(cbl),
                   texture_id);
}

// As quad, for standard_add_indices([0, 1, 2]) and three vertices.
template <Path P>
static inline bool triangle(F32x2 d1, F32x2 d2, F32x2 d3, F32x2 s1, F32x2 s2, F32x2 s3, F32x4 c1, F32x4 c2,
                            F32x4 c3, u32 texture_id) {
    Textured_Pass<Standard_Pass> t = standard_pass<P>(texture_id, 3, 3);
    Standard_Pass *p = t.pass;
    if (!p) return false;
    u16 first = static_cast<u16>(p->vertex_count);
    u16 *to = p->index_data + p->index_count;
    for (s32 k = 0; k < 3; k++) to[k] = static_cast<u16>(first + k);
    u8 *v = p->vertex_data + static_cast<s64>(p->vertex_count) * static_cast<s64>(sizeof(Standard_Vertex));
    put_vertex(v, d1, s1, c1, t.texture_index);
    put_vertex(v + 40, d2, s2, c2, t.texture_index);
    put_vertex(v + 80, d3, s3, c3, t.texture_index);
    p->index_count += 3;
    p->vertex_count += 3;
    renderer.index_current_allocation += 3 * sizeof(u16);
    renderer.vertex_current_allocation += 3 * sizeof(Standard_Vertex);
    return true;
}

template <Path P>
static inline bool rotated_triangle(Vector2 dst1, Vector2 dst2, Vector2 dst3, Vector2 src1, Vector2 src2,
                                    Vector2 src3, Vector4 col1, Vector4 col2, Vector4 col3, Vector2 center,
                                    f32 theta, u32 texture_id) {
    Rotation r = rotation(center, theta);
    return triangle<P>(apply(r, dst1.x, dst1.y), apply(r, dst2.x, dst2.y), apply(r, dst3.x, dst3.y),
                       pair(src1), pair(src2), pair(src3), join(col1), join(col2), join(col3), texture_id);
}

// The out-of-line twins of the public primitives.
[[gnu::noinline]] static void draw_quad_full(Rect dst, Vector4 tint) {
    F32x4 c = join(tint);
    quad<Path::FULL>(dst, Rect{}, c, c, c, c, 0);
}

[[gnu::noinline]] static void draw_quad_full(u32 texture_id, Rect src, Rect dst, Vector4 tint) {
    F32x4 c = join(tint);
    quad<Path::FULL>(dst, src, c, c, c, c, texture_id);
}

[[gnu::noinline]] static void standard_draw_quad_full(Rect dst, Rect src, Vector4 ctl, Vector4 ctr,
                                                      Vector4 cbr, Vector4 cbl, u32 texture_id) {
    quad<Path::FULL>(dst, src, join(ctl), join(ctr), join(cbr), join(cbl), texture_id);
}

[[gnu::noinline]] static void standard_draw_quad_full(Rect dst, Rect src, Vector4 ctl, Vector4 ctr,
                                                      Vector4 cbr, Vector4 cbl, Vector2 center, f32 theta,
                                                      u32 texture_id) {
    rotated_quad<Path::FULL>(dst, src, ctl, ctr, cbr, cbl, center, theta, texture_id);
}

[[gnu::noinline]] static void standard_draw_triangle_full(Vector2 dst1, Vector2 dst2, Vector2 dst3,
                                                          Vector2 src1, Vector2 src2, Vector2 src3,
                                                          Vector4 col1, Vector4 col2, Vector4 col3,
                                                          u32 texture_id) {
    triangle<Path::FULL>(pair(dst1), pair(dst2), pair(dst3), pair(src1), pair(src2), pair(src3), join(col1),
                         join(col2), join(col3), texture_id);
}

[[gnu::noinline]] static void standard_draw_triangle_full(Vector2 dst1, Vector2 dst2, Vector2 dst3,
                                                          Vector2 src1, Vector2 src2, Vector2 src3,
                                                          Vector4 col1, Vector4 col2, Vector4 col3,
                                                          Vector2 center, f32 theta, u32 texture_id) {
    rotated_triangle<Path::FULL>(dst1, dst2, dst3, src1, src2, src3, col1, col2, col3, center, theta,
                                 texture_id);
}

// The public primitives.
void draw_quad(Rect dst, Vector4 tint) {
    F32x4 c = join(tint);
    if (!quad<Path::JOIN>(dst, Rect{}, c, c, c, c, 0)) [[unlikely]]
        draw_quad_full(dst, tint);
}

void draw_quad(u32 texture_id, Rect src, Rect dst, Vector4 tint) {
    F32x4 c = join(tint);
    if (!quad<Path::JOIN>(dst, src, c, c, c, c, texture_id)) [[unlikely]]
        draw_quad_full(texture_id, src, dst, tint);
}

void standard_draw_quad(Rect dst, Rect src, Vector4 ctl, Vector4 ctr, Vector4 cbr, Vector4 cbl,
                        u32 texture_id) {
    if (!quad<Path::JOIN>(dst, src, join(ctl), join(ctr), join(cbr), join(cbl), texture_id)) [[unlikely]]
        standard_draw_quad_full(dst, src, ctl, ctr, cbr, cbl, texture_id);
}

void standard_draw_quad(Rect dst, Rect src, Vector4 ctl, Vector4 ctr, Vector4 cbr, Vector4 cbl,
                        Vector2 center, f32 theta, u32 texture_id) {
    // The rotation is computed again on the full path: sin and cos are cheaper
    // than keeping their inputs alive across a call.
    if (!rotated_quad<Path::JOIN>(dst, src, ctl, ctr, cbr, cbl, center, theta, texture_id)) [[unlikely]]
        standard_draw_quad_full(dst, src, ctl, ctr, cbr, cbl, center, theta, texture_id);
}

void standard_draw_triangle(Vector2 dst1, Vector2 dst2, Vector2 dst3, Vector2 src1, Vector2 src2,
                            Vector2 src3, Vector4 col1, Vector4 col2, Vector4 col3, u32 texture_id) {
    if (!triangle<Path::JOIN>(pair(dst1), pair(dst2), pair(dst3), pair(src1), pair(src2), pair(src3),
                              join(col1), join(col2), join(col3), texture_id)) [[unlikely]]
        standard_draw_triangle_full(dst1, dst2, dst3, src1, src2, src3, col1, col2, col3, texture_id);
}

void standard_draw_triangle(Vector2 dst1, Vector2 dst2, Vector2 dst3, Vector2 src1, Vector2 src2,
                            Vector2 src3, Vector4 col1, Vector4 col2, Vector4 col3, Vector2 center, f32 theta,
                            u32 texture_id) {
    if (!rotated_triangle<Path::JOIN>(dst1, dst2, dst3, src1, src2, src3, col1, col2, col3, center, theta,
                                      texture_id)) [[unlikely]]
        standard_draw_triangle_full(dst1, dst2, dst3, src1, src2, src3, col1, col2, col3, center, theta,
                                    texture_id);
}

// ---- UI rectangles -----------------------------------------------------------------

static inline bool window_full(const UI_Pass *p) {
    return static_cast<s64>(p->vertex_count) * static_cast<s64>(sizeof(UI_Vertex)) >= UI_PASS_WINDOW_LIMIT;
}

// The last pass when it is a UI pass with room for one more rectangle and
// `texture_id` in its list; pass null otherwise.
static inline Textured_Pass<UI_Pass> ui_joinable(u32 texture_id) {
    Textured_Pass<UI_Pass> t;
    Pass *last = last_pass_of(Pass_Kind::UI);
    if (!last || window_full(&last->ui)) return t;
    if (find_texture(&last->ui, texture_id, &t.texture_index)) t.pass = &last->ui;
    return t;
}

// The full path: the UI pass that takes a rectangle with `texture_id` (0:
// untextured, registering nothing) and the texture's index in it.
[[gnu::noinline]] static Textured_Pass<UI_Pass> ui_begin(u32 texture_id) {
    Textured_Pass<UI_Pass> t = get_textured_pass<UI_Pass>(texture_id);
    if (window_full(t.pass)) {
        frame_stats.pass_begin_reasons[static_cast<u32>(Pass_Begin_Reason::FULL_WINDOW)]++;
        t.pass = &push_new_pass(Pass_Kind::UI)->ui;
        t.texture_index = register_texture(&t.pass, texture_id);
    }
    return t;
}

template <Path P>
static inline Textured_Pass<UI_Pass> ui_pass(u32 texture_id) {
    if constexpr (P == Path::JOIN) {
        return ui_joinable(texture_id);
    } else {
        return ui_begin(texture_id);
    }
}

// The next rectangle slot of the pass that takes it; only texture_index is
// written. Null when P is JOIN and the last pass does not take it.
template <Path P>
static inline UI_Vertex *next_slot(u32 texture_id) {
    Textured_Pass<UI_Pass> t = ui_pass<P>(texture_id);
    UI_Pass *p = t.pass;
    if (!p) return nullptr;
    UI_Vertex *slot = reinterpret_cast<UI_Vertex *>(p->vertex_data + static_cast<s64>(p->vertex_count) *
                                                                         static_cast<s64>(sizeof(UI_Vertex)));
    p->vertex_count++;
    renderer.vertex_current_allocation += sizeof(UI_Vertex);
    slot->texture_index = t.texture_index;
    return slot;
}

UI_Vertex *ui_draw_rect() {
    UI_Vertex *slot = next_slot<Path::JOIN>(0);
    return slot ? slot : next_slot<Path::FULL>(0);
}

UI_Vertex *ui_draw_rect(u32 texture_id) {
    UI_Vertex *slot = next_slot<Path::JOIN>(texture_id);
    return slot ? slot : next_slot<Path::FULL>(texture_id);
}

// A rectangle slot with every field written, as eight 16-byte stores (the
// texture index is stored again, unchanged, with the last three fields). Null
// when P is JOIN and the last pass does not take it.
static_assert(offsetof(UI_Vertex, corner_radii) == 96 && offsetof(UI_Vertex, border_thickness) == 112 &&
              offsetof(UI_Vertex, texture_index) == 120 && offsetof(UI_Vertex, gradient_radius) == 124);
template <Path P>
static inline UI_Vertex *rect(u32 texture_id, Rect src, Rect dst, Vector4 color, f32 border_thickness,
                              f32 edge_softness, f32 corner_radii) {
    UI_Vertex *slot = next_slot<P>(texture_id);
    if (!slot) return nullptr;
    u8 *v = reinterpret_cast<u8 *>(slot);
    F32x4 c = join(color);
    put(v, join(dst));
    put(v + 16, join(src));
    for (s32 i = 0; i < 4; i++) put(v + 32 + 16 * i, c);
    put(v + 96, F32x4{corner_radii, corner_radii, corner_radii, corner_radii});
    put(v + 112, F32x4{border_thickness, edge_softness, slot->texture_index, 0});
    return slot;
}

[[gnu::noinline]] static UI_Vertex *ui_draw_rect_full(Rect dst, Vector4 color, f32 border_thickness,
                                                      f32 edge_softness, f32 corner_radii) {
    return rect<Path::FULL>(0, Rect{}, dst, color, border_thickness, edge_softness, corner_radii);
}

[[gnu::noinline]] static UI_Vertex *ui_draw_rect_full(u32 texture_id, Rect src, Rect dst, Vector4 tint,
                                                      f32 border_thickness, f32 edge_softness,
                                                      f32 corner_radii) {
    return rect<Path::FULL>(texture_id, src, dst, tint, border_thickness, edge_softness, corner_radii);
}

UI_Vertex *ui_draw_rect(Rect dst, Vector4 color, f32 border_thickness, f32 edge_softness, f32 corner_radii) {
    UI_Vertex *slot = rect<Path::JOIN>(0, Rect{}, dst, color, border_thickness, edge_softness, corner_radii);
    if (!slot) [[unlikely]]
        return ui_draw_rect_full(dst, color, border_thickness, edge_softness, corner_radii);
    return slot;
}

UI_Vertex *ui_draw_rect(u32 texture_id, Rect src, Rect dst, Vector4 tint, f32 border_thickness,
                        f32 edge_softness, f32 corner_radii) {
    UI_Vertex *slot =
        rect<Path::JOIN>(texture_id, src, dst, tint, border_thickness, edge_softness, corner_radii);
    if (!slot) [[unlikely]]
        return ui_draw_rect_full(texture_id, src, dst, tint, border_thickness, edge_softness, corner_radii);
    return slot;
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
