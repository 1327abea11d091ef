#include "renderer/pass.h"

#include "base/context.h"
#include "renderer/clip.h"
#include "renderer/primitives.h"
#include "renderer/renderer.h"

#include "recording_renderer.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessera {
namespace {

constexpr s64 WINDOW = 131072;

struct Pass_List_Test : test::Recording_Renderer_Test {};

using Pass_List_DeathTest = Pass_List_Test;

// `vertices` vertices and `indices` indices (all 0) through the STANDARD calling order.
Standard_Pass *add_standard(s32 vertices, s32 indices) {
    Standard_Pass *p = standard_reserve_vertex_and_index(vertices, indices);
    std::vector<u16> zeros(static_cast<size_t>(indices), 0);
    standard_add_indices(p, {indices, zeros.data()});
    for (s32 i = 0; i < vertices; i++) standard_add_vertex(p, Standard_Vertex{});
    return p;
}

s64 reasons(Pass_Begin_Reason r) {
    return frame_stats.pass_begin_reasons[static_cast<u32>(r)];
}

// ---- Windows -----------------------------------------------------------------------

TEST_F(Pass_List_Test, TheFirstDrawTakesAFreshWindowFromEachPool) {
    add_standard(4, 6);
    ASSERT_EQ(renderer.passes.count, 1);
    const Standard_Pass &p = pass(0).standard;
    EXPECT_EQ(p.base.kind, Pass_Kind::STANDARD);
    EXPECT_EQ(p.vertex_data, renderer.vertex_data.memory_base);
    EXPECT_EQ(reinterpret_cast<u8 *>(p.index_data), renderer.index_data.memory_base);
    EXPECT_EQ(renderer.vertex_data_allocated, WINDOW);
    EXPECT_EQ(renderer.index_data_allocated, WINDOW);
    EXPECT_EQ(bytes_used(renderer.vertex_data), WINDOW);
    EXPECT_EQ(bytes_used(renderer.index_data), WINDOW);
    EXPECT_EQ(renderer.vertex_current_allocation, 4 * 40);
    EXPECT_EQ(renderer.index_current_allocation, 6 * 2);
    EXPECT_EQ(reasons(Pass_Begin_Reason::KIND_CHANGE), 1);
}

// Each window starts right after the previous pass's last vertex; the pools grow
// by the bytes written, not by a window per pass.
TEST_F(Pass_List_Test, AlternatingKindsReuseTheUnwrittenTail) {
    add_standard(4, 6);
    ui_draw_rect();
    add_standard(3, 3);
    ui_draw_rect();
    ui_draw_rect();
    add_standard(4, 6);
    ASSERT_EQ(renderer.passes.count, 5);

    const s64 written[] = {4 * 40, 128, 3 * 40, 2 * 128, 4 * 40};
    u8 *expected = renderer.vertex_data.memory_base;
    for (s64 i = 0; i < 5; i++) {
        const Pass &p = pass(i);
        u8 *start = p.base.kind == Pass_Kind::UI ? p.ui.vertex_data : p.standard.vertex_data;
        EXPECT_EQ(start, expected) << "pass " << i;
        expected += written[i];
    }
    EXPECT_EQ(renderer.vertex_data_allocated, WINDOW + 4 * 40 + 128 + 3 * 40 + 2 * 128);
    EXPECT_EQ(bytes_used(renderer.vertex_data), renderer.vertex_data_allocated);

    // Index windows follow one another across the UI passes in between.
    EXPECT_EQ(pass(2).standard.index_data, pass(0).standard.index_data + 6);
    EXPECT_EQ(pass(4).standard.index_data, pass(2).standard.index_data + 3);
    EXPECT_EQ(renderer.index_data_allocated, WINDOW + 12 + 6);
    // The pool's padding before a grown window stays inside what was taken.
    EXPECT_GE(bytes_used(renderer.index_data), renderer.index_data_allocated);
    EXPECT_LE(reinterpret_cast<u8 *>(pass(4).standard.index_data) + WINDOW,
              renderer.index_data.current_point);
    EXPECT_EQ(reasons(Pass_Begin_Reason::KIND_CHANGE), 5);
}

TEST_F(Pass_List_Test, ABlurPassLeavesTheWindowBookkeepingAlone) {
    add_standard(4, 6);
    blur_pass(Rect{0, 0, 10, 10}, 4, 1);
    EXPECT_EQ(renderer.vertex_current_allocation, 4 * 40);
    EXPECT_EQ(renderer.index_current_allocation, 6 * 2);
    add_standard(4, 6);
    ASSERT_EQ(renderer.passes.count, 3);
    EXPECT_EQ(pass(2).standard.vertex_data, pass(0).standard.vertex_data + 4 * 40);
    EXPECT_EQ(pass(2).standard.index_data, pass(0).standard.index_data + 6);
    EXPECT_EQ(renderer.vertex_data_allocated, WINDOW + 4 * 40);
    EXPECT_EQ(renderer.index_data_allocated, WINDOW + 6 * 2);
}

// A draw joins the pass only while the counts stay below 3276 vertices and 65536
// indices; the pass it opens starts where the full one stopped writing.
TEST_F(Pass_List_Test, ADrawReachingTheLimitOpensANewPass) {
    struct Case {
        const char *label;
        s32 vertices_before, indices_before, vertices, indices;
        bool opens;
    };
    const Case cases[] = {
        {"3272 + 4 = 3276 vertices", 3272, 6, 4, 6, true},
        {"3271 + 4 = 3275 vertices", 3271, 6, 4, 6, false},
        {"65530 + 6 = 65536 indices", 3, 65530, 3, 6, true},
        {"65529 + 6 = 65535 indices", 3, 65529, 3, 6, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        TearDown();
        SetUp();
        Standard_Pass *full = add_standard(c.vertices_before, c.indices_before);
        Standard_Pass *p = standard_reserve_vertex_and_index(c.vertices, c.indices);
        EXPECT_EQ(p != full, c.opens);
        EXPECT_EQ(renderer.passes.count, c.opens ? 2 : 1);
        EXPECT_EQ(reasons(Pass_Begin_Reason::FULL_WINDOW), c.opens ? 1 : 0);
        if (c.opens) {
            EXPECT_EQ(p->vertex_count, 0);
            EXPECT_EQ(p->index_count, 0);
            EXPECT_EQ(p->vertex_data, full->vertex_data + c.vertices_before * 40);
            EXPECT_EQ(p->index_data, full->index_data + c.indices_before);
        }
    }
}

// ---- Textures ----------------------------------------------------------------------

TEST_F(Pass_List_Test, TheTextureAfterAFullListOpensANewPass) {
    for (u32 units : {1u, 4u, 16u}) {
        SCOPED_TRACE(units);
        TearDown();
        SetUp();
        renderer.texture_units_available = units;
        Standard_Pass *first = nullptr;
        for (u32 t = 0; t < units; t++) {
            Textured_Pass<Standard_Pass> got = get_textured_pass<Standard_Pass>(100 + t);
            if (!first) first = got.pass;
            EXPECT_EQ(got.pass, first);
            EXPECT_EQ(got.texture_index, static_cast<f32>(t));
        }
        // Any of them again, untextured, or the last one: no new pass.
        EXPECT_EQ(get_textured_pass<Standard_Pass>(100).texture_index, 0);
        EXPECT_EQ(get_textured_pass<Standard_Pass>(100 + units - 1).texture_index,
                  static_cast<f32>(units - 1));
        EXPECT_EQ(get_textured_pass<Standard_Pass>(0).texture_index, -1);
        EXPECT_EQ(renderer.passes.count, 1);
        EXPECT_EQ(first->texture_count, static_cast<s32>(units));

        Textured_Pass<Standard_Pass> next = get_textured_pass<Standard_Pass>(999);
        EXPECT_EQ(renderer.passes.count, 2);
        EXPECT_NE(next.pass, first);
        EXPECT_EQ(next.texture_index, 0);
        EXPECT_EQ(next.pass->texture_count, 1);
        EXPECT_NE(next.pass->texture_data, first->texture_data);
        EXPECT_EQ(next.pass->texture_data[0], 999u);
        EXPECT_EQ(first->texture_count, static_cast<s32>(units));
        EXPECT_EQ(reasons(Pass_Begin_Reason::FULL_TEXTURE_LIST), 1);
    }
}

TEST_F(Pass_List_Test, TextureZeroIsUntexturedAndTakesNoSlot) {
    Textured_Pass<UI_Pass> got = get_textured_pass<UI_Pass>(0);
    EXPECT_EQ(got.texture_index, -1);
    EXPECT_EQ(got.pass->texture_count, 0);
    EXPECT_EQ(got.pass->texture_data, nullptr);

    EXPECT_EQ(get_textured_pass<UI_Pass>(7).texture_index, 0);
    u32 *list = got.pass->texture_data;
    EXPECT_EQ(get_textured_pass<UI_Pass>(0).texture_index, -1);
    EXPECT_EQ(got.pass->texture_count, 1);
    EXPECT_EQ(got.pass->texture_data, list);
    EXPECT_EQ(renderer.passes.count, 1);
}

// ---- Stack operations and the NONE slot ------------------------------------------

TEST_F(Pass_List_Test, ConsecutiveStackOperationsShareOneNoneSlotThatTheNextDrawReuses) {
    add_standard(4, 6);
    push_clip(Clip{1, 2, 3, 4});
    push_clip(Clip{5, 6, 7, 8});
    ASSERT_EQ(renderer.passes.count, 2);
    EXPECT_EQ(last().base.kind, Pass_Kind::NONE);

    add_standard(4, 6);
    ASSERT_EQ(renderer.passes.count, 2);
    const Standard_Pass &p = last().standard;
    EXPECT_EQ(p.base.kind, Pass_Kind::STANDARD);
    EXPECT_EQ(p.base.clip.x, 5);
    EXPECT_EQ(p.base.clip.h, 8);
    EXPECT_EQ(p.vertex_count, 4);
    EXPECT_EQ(p.texture_count, 0);
    EXPECT_EQ(p.vertex_data, pass(0).standard.vertex_data + 4 * 40);
    EXPECT_EQ(reasons(Pass_Begin_Reason::KIND_CHANGE), 1);
    EXPECT_EQ(reasons(Pass_Begin_Reason::CLIP_OR_OPACITY_CHANGE), 1);
}

// A reused NONE slot starts from zero like an appended one.
TEST_F(Pass_List_Test, ABlurOpenedInANoneSlotStartsZeroed) {
    push_opacity(0.5f);
    Blur_Pass *b = &find_or_create_pass(Pass_Kind::BLUR)->blur;
    EXPECT_EQ(renderer.passes.count, 1);
    EXPECT_EQ(b->base.opacity, 0.5f);
    EXPECT_EQ(b->radius, 0);
    for (f32 r : b->corner_radii) EXPECT_EQ(r, 0);
    EXPECT_EQ(renderer.vertex_data_allocated, 0);
    EXPECT_EQ(bytes_used(renderer.vertex_data), 0);
}

// ---- Broken invariants and a full pool -------------------------------------------

// The pools hold one window each here: the second pass's window does not fit.
TEST_F(Pass_List_DeathTest, AFrameBeyondThePoolSpanStopsWithThePoolsMessage) {
    struct Case {
        Bump_Pool *pool;
        String name;
        const char *pattern;
    };
    const Case cases[] = {
        {&renderer.vertex_data, "vertex_data"_s, "Bump_Pool \"vertex_data\" at .* cannot take 160 bytes"},
        {&renderer.index_data, "index_data"_s, "Bump_Pool \"index_data\" at .* cannot take 12 bytes"},
    };
    for (const Case &c : cases) {
        TearDown();
        SetUp();
        deinit(c.pool);
        init(c.pool, WINDOW, c.name);
        add_standard(4, 6);
        EXPECT_DEATH(push_new_pass(Pass_Kind::STANDARD), c.pattern);
    }
}

TEST_F(Pass_List_DeathTest, TexturesNeedOneToSixteenUnits) {
    for (u32 units : {0u, 17u}) {
        renderer.texture_units_available = units;
        EXPECT_DEATH(get_textured_pass<Standard_Pass>(5),
                     "texture_units_available is [0-9]+; a textured pass needs 1 to 16 units");
    }
}

} // namespace
} // namespace tessera
