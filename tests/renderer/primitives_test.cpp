#include "renderer/primitives.h"

#include "base/context.h"
#include "renderer/clip.h"
#include "renderer/pass.h"
#include "renderer/renderer.h"

#include "recording_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace tessera {
namespace {

constexpr Vector4 WHITE = {1, 1, 1, 1};

struct Primitives_Test : test::Recording_Renderer_Test {};

const Standard_Vertex &vertex(const Standard_Pass &p, s32 i) {
    return reinterpret_cast<const Standard_Vertex *>(p.vertex_data)[i];
}

std::vector<u16> indices(const Standard_Pass &p) {
    return std::vector<u16>(p.index_data, p.index_data + p.index_count);
}

void expect_vertex(const Standard_Vertex &v, Vector2 position, Vector2 uv, Vector4 color, f32 texture_id) {
    EXPECT_FLOAT_EQ(v.position.x, position.x);
    EXPECT_FLOAT_EQ(v.position.y, position.y);
    EXPECT_EQ(v.position.z, 0);
    EXPECT_EQ(v.texture_uv.x, uv.x);
    EXPECT_EQ(v.texture_uv.y, uv.y);
    EXPECT_EQ(v.color.x, color.x);
    EXPECT_EQ(v.color.y, color.y);
    EXPECT_EQ(v.color.z, color.z);
    EXPECT_EQ(v.color.w, color.w);
    EXPECT_EQ(v.texture_id, texture_id);
}

// ---- Quads and triangles -------------------------------------------------------------

TEST_F(Primitives_Test, APlainQuadIsUntexturedWithZeroTextureCoordinates) {
    const Vector4 tint = {0.1f, 0.2f, 0.3f, 0.4f};
    draw_quad(Rect{10, 20, 110, 70}, tint);
    ASSERT_EQ(renderer.passes.count, 1);
    const Standard_Pass &p = pass(0).standard;
    ASSERT_EQ(p.vertex_count, 4);
    expect_vertex(vertex(p, 0), {10, 20}, {0, 0}, tint, -1);
    expect_vertex(vertex(p, 1), {110, 20}, {0, 0}, tint, -1);
    expect_vertex(vertex(p, 2), {110, 70}, {0, 0}, tint, -1);
    expect_vertex(vertex(p, 3), {10, 70}, {0, 0}, tint, -1);
    EXPECT_EQ(p.texture_count, 0);
    EXPECT_EQ(p.texture_data, nullptr);
}

// Indices are offset by the vertices already in the pass: quad, quad, triangle.
TEST_F(Primitives_Test, EachShapesIndicesReferToItsOwnVertices) {
    const Vector4 c[] = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 0, 1}};
    standard_draw_quad(Rect{0, 0, 10, 10}, Rect{0, 0, 1, 1}, c[0], c[1], c[2], c[3], 0);
    draw_quad(42, Rect{0.25f, 0.5f, 0.75f, 1}, Rect{20, 30, 40, 50}, WHITE);
    standard_draw_triangle({1, 2}, {3, 4}, {5, 6}, {0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}, c[0], c[1], c[2],
                           42);
    ASSERT_EQ(renderer.passes.count, 1);
    const Standard_Pass &p = pass(0).standard;
    EXPECT_EQ(indices(p), (std::vector<u16>{0, 1, 2, 2, 3, 0, 4, 5, 6, 6, 7, 4, 8, 9, 10}));
    ASSERT_EQ(p.vertex_count, 11);
    EXPECT_EQ(renderer.vertex_current_allocation, 11 * 40);
    EXPECT_EQ(renderer.index_current_allocation, 15 * 2);

    // Corner colours in the order top-left, top-right, bottom-right, bottom-left.
    for (s32 i = 0; i < 4; i++) EXPECT_EQ(vertex(p, i).color.x, c[i].x) << i;
    for (s32 i = 0; i < 4; i++) EXPECT_EQ(vertex(p, i).color.y, c[i].y) << i;
    expect_vertex(vertex(p, 4), {20, 30}, {0.25f, 0.5f}, WHITE, 0);
    expect_vertex(vertex(p, 5), {40, 30}, {0.75f, 0.5f}, WHITE, 0);
    expect_vertex(vertex(p, 6), {40, 50}, {0.75f, 1}, WHITE, 0);
    expect_vertex(vertex(p, 7), {20, 50}, {0.25f, 1}, WHITE, 0);
    expect_vertex(vertex(p, 8), {1, 2}, {0.1f, 0.2f}, c[0], 0);
    expect_vertex(vertex(p, 9), {3, 4}, {0.3f, 0.4f}, c[1], 0);
    expect_vertex(vertex(p, 10), {5, 6}, {0.5f, 0.6f}, c[2], 0);
    ASSERT_EQ(p.texture_count, 1);
    EXPECT_EQ(p.texture_data[0], 42u);
}

// dst is relative to the centre; positive theta turns clockwise on screen (y down).
TEST_F(Primitives_Test, RotatedShapesTurnAboutTheirCentre) {
    const f32 quarter = static_cast<f32>(M_PI / 2);
    standard_draw_quad(Rect{-50, -25, 50, 25}, Rect{0, 0, 1, 1}, WHITE, WHITE, WHITE, WHITE, {400, 300},
                       quarter, 0);
    standard_draw_triangle({10, 0}, {0, 10}, {0, 0}, {}, {}, {}, WHITE, WHITE, WHITE, {100, 100}, quarter, 0);
    const Standard_Pass &p = pass(0).standard;
    ASSERT_EQ(p.vertex_count, 7);
    const Vector2 want[] = {{425, 250}, {425, 350}, {375, 350}, {375, 250},
                            {100, 110}, {90, 100},  {100, 100}};
    for (s32 i = 0; i < 7; i++) {
        EXPECT_NEAR(vertex(p, i).position.x, want[i].x, 1e-3) << i;
        EXPECT_NEAR(vertex(p, i).position.y, want[i].y, 1e-3) << i;
    }
    EXPECT_EQ(vertex(p, 2).texture_uv.x, 1); // texture coordinates do not turn
    EXPECT_EQ(vertex(p, 2).texture_uv.y, 1);
    EXPECT_EQ(indices(p), (std::vector<u16>{0, 1, 2, 2, 3, 0, 4, 5, 6}));
}

// 819 x 4 = 3276 vertices: the 819th quad goes to a new pass, whose texture list
// starts with its texture.
TEST_F(Primitives_Test, TheQuadBeyondThePassWindowOpensAPassWithItsTextureFirst) {
    for (u32 texture : {7u, 9u}) {
        SCOPED_TRACE(texture);
        TearDown();
        SetUp();
        draw_quad(3, Rect{}, Rect{}, WHITE);
        draw_quad(7, Rect{}, Rect{}, WHITE);
        for (s32 i = 2; i < 818; i++) draw_quad(Rect{0, 0, 1, 1}, WHITE);
        ASSERT_EQ(renderer.passes.count, 1);
        EXPECT_EQ(pass(0).standard.vertex_count, 3272);

        draw_quad(texture, Rect{}, Rect{5, 5, 6, 6}, WHITE);
        ASSERT_EQ(renderer.passes.count, 2);
        const Standard_Pass &p = pass(1).standard;
        EXPECT_EQ(p.vertex_count, 4);
        EXPECT_EQ(indices(p), (std::vector<u16>{0, 1, 2, 2, 3, 0}));
        ASSERT_EQ(p.texture_count, 1);
        EXPECT_EQ(p.texture_data[0], texture);
        for (s32 i = 0; i < 4; i++) EXPECT_EQ(vertex(p, i).texture_id, 0) << i;
        EXPECT_EQ(vertex(p, 0).position.x, 5);
    }
}

// ---- UI rectangles -----------------------------------------------------------------

TEST_F(Primitives_Test, RectangleFormsFillEveryFieldButWhatTheCallerAdjusts) {
    const Vector4 color = {0.5f, 0.25f, 1, 0.75f};
    UI_Vertex *plain = ui_draw_rect(Rect{1, 2, 3, 4}, color, 2, 1.5f, 8);
    UI_Vertex *textured = ui_draw_rect(11, Rect{0, 0, 0.5f, 0.5f}, Rect{5, 6, 7, 8}, WHITE, 0, 1, 3);
    ASSERT_EQ(renderer.passes.count, 1);
    const UI_Pass &p = pass(0).ui;
    EXPECT_EQ(p.vertex_count, 2);
    EXPECT_EQ(reinterpret_cast<u8 *>(plain), p.vertex_data);
    EXPECT_EQ(reinterpret_cast<u8 *>(textured), p.vertex_data + 128);
    EXPECT_EQ(renderer.vertex_current_allocation, 256);

    const Rect zero = {};
    EXPECT_EQ(memcmp(&plain->src, &zero, sizeof zero), 0);
    EXPECT_EQ(plain->dst.x1, 3);
    EXPECT_EQ(plain->border_thickness, 2);
    EXPECT_EQ(plain->edge_softness, 1.5f);
    EXPECT_EQ(plain->texture_index, -1);
    EXPECT_EQ(plain->gradient_radius, 0);
    for (s32 i = 0; i < 4; i++) {
        EXPECT_EQ(plain->colors[i].y, 0.25f) << i;
        EXPECT_EQ(plain->colors[i].w, 0.75f) << i;
        EXPECT_EQ(plain->corner_radii[i], 8) << i;
    }
    EXPECT_EQ(textured->src.x1, 0.5f);
    EXPECT_EQ(textured->dst.y0, 6);
    EXPECT_EQ(textured->texture_index, 0);
    EXPECT_EQ(textured->corner_radii[3], 3);
    ASSERT_EQ(p.texture_count, 1);
    EXPECT_EQ(p.texture_data[0], 11u);
}

// Pool memory is reused from frame to frame: the bare form writes only the index.
TEST_F(Primitives_Test, TheBareRectangleLeavesStaleFieldsToTheCaller) {
    UI_Vertex *first = ui_draw_rect(Rect{1, 2, 3, 4}, WHITE, 2, 1, 8);
    first->gradient_radius = 40;
    // What a flush leaves behind.
    array_reset(&renderer.passes);
    reset(&renderer.vertex_data);
    reset(&renderer.index_data);
    renderer.vertex_current_allocation = renderer.vertex_data_allocated = 0;

    UI_Vertex *again = ui_draw_rect(12);
    ASSERT_EQ(again, first);
    EXPECT_EQ(again->texture_index, 0);
    UI_Vertex *bare = ui_draw_rect();
    EXPECT_EQ(bare->texture_index, -1);
    EXPECT_EQ(again->dst.x1, 3);
    EXPECT_EQ(again->border_thickness, 2);
    EXPECT_EQ(again->corner_radii[0], 8);
    EXPECT_EQ(again->gradient_radius, 40);
}

// 1023 rectangles fill a pass (1023 x 128 = 130944 bytes).
TEST_F(Primitives_Test, TheRectangleBeyondThePassWindowOpensANewPass) {
    for (u32 texture : {0u, 21u}) {
        SCOPED_TRACE(texture);
        TearDown();
        SetUp();
        ui_draw_rect(20);
        for (s32 i = 1; i < 1023; i++) ui_draw_rect();
        ASSERT_EQ(renderer.passes.count, 1);

        UI_Vertex *slot = ui_draw_rect(texture);
        ASSERT_EQ(renderer.passes.count, 2);
        const UI_Pass &p = pass(1).ui;
        EXPECT_EQ(p.vertex_count, 1);
        EXPECT_EQ(reinterpret_cast<u8 *>(slot), p.vertex_data);
        EXPECT_EQ(p.vertex_data, pass(0).ui.vertex_data + 1023 * 128);
        EXPECT_EQ(slot->texture_index, texture ? 0 : -1);
        EXPECT_EQ(p.texture_count, texture ? 1 : 0);
        if (texture) {
            EXPECT_EQ(p.texture_data[0], texture);
        }
        EXPECT_EQ(frame_stats.pass_begin_reasons[static_cast<u32>(Pass_Begin_Reason::FULL_WINDOW)], 1);
    }
}

// ---- Blur and custom passes ----------------------------------------------------------

TEST_F(Primitives_Test, ABlurRightAfterAnotherRewritesIt) {
    blur_pass(Rect{0, 0, 10, 10}, 4, 1);
    Blur_Pass *b = blur_pass(Rect{1, 2, 3, 4}, 0, 2);
    ASSERT_EQ(renderer.passes.count, 1);
    EXPECT_EQ(b, &pass(0).blur);
    EXPECT_EQ(b->rect.x0, 1);
    EXPECT_EQ(b->rect.y1, 4);
    EXPECT_EQ(b->radius, 0); // recorded; the flush skips it
    EXPECT_EQ(b->edge_softness, 2);
    for (f32 r : b->corner_radii) EXPECT_EQ(r, 0);

    b->corner_radii[0] = 5;
    draw_quad(Rect{0, 0, 1, 1}, WHITE);
    Blur_Pass *second = blur_pass(Rect{5, 5, 6, 6}, 3, 0);
    ASSERT_EQ(renderer.passes.count, 3);
    EXPECT_EQ(second, &pass(2).blur);
    EXPECT_EQ(second->corner_radii[0], 0);
    EXPECT_EQ(pass(0).blur.corner_radii[0], 5);
}

TEST_F(Primitives_Test, ACustomPassRightAfterAnotherRewritesIt) {
    int a = 0, b = 0;
    auto first = [](void *) {};
    auto second = [](void *data) { ++*static_cast<int *>(data); };
    custom_render_pass(first, &a);
    Custom_Pass *p = custom_render_pass(second, &b);
    ASSERT_EQ(renderer.passes.count, 1);
    EXPECT_EQ(p, &pass(0).custom);
    EXPECT_EQ(p->data, &b);
    p->proc(p->data);
    EXPECT_EQ(b, 1);

    push_opacity(0.5f);
    custom_render_pass(first, &a);
    EXPECT_EQ(renderer.passes.count, 2);
    EXPECT_EQ(pass(1).base.opacity, 0.5f);
}

} // namespace
} // namespace tessera
