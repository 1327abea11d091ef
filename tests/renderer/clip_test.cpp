#include "renderer/clip.h"

#include "base/context.h"
#include "renderer/pass.h"
#include "renderer/primitives.h"
#include "renderer/renderer.h"

#include "recording_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

namespace tessera {

// In the record's namespace, where the assertions look for them.
static bool operator==(Clip a, Clip b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

static std::ostream &operator<<(std::ostream &o, Clip c) {
    return o << "{" << c.x << ", " << c.y << ", " << c.w << ", " << c.h << "}";
}

namespace {

// Exact comparison: every helper here is one float operation per component.
void expect_rect(Rect got, Rect want) {
    for (s32 i = 0; i < 4; i++) EXPECT_EQ(got.component[i], want.component[i]) << "component " << i;
}

struct Clip_Stack_Test : test::Recording_Renderer_Test {
    // A copy of the pass a quad drawn now lands in (the list may move later).
    Pass pass_of_next_draw() {
        draw_quad(Rect{0, 0, 1, 1}, Vector4{1, 1, 1, 1});
        return renderer.passes.data[renderer.passes.count - 1];
    }
};

using Clip_Stack_DeathTest = Clip_Stack_Test;

// ---- Conversions and rectangle helpers ---------------------------------------------

TEST(Clip, ToClipTruncatesTheDifferencesAndSaturatesOutOfRange) {
    const f32 inf = std::numeric_limits<f32>::infinity();
    const f32 nan = std::numeric_limits<f32>::quiet_NaN();
    struct Case {
        const char *label;
        Rect r;
        Clip want;
    };
    const Case cases[] = {
        // 110.5 - 10.9 = 99.6 truncates to 99, not 110 - 10 = 100.
        {"the width is the truncated difference", {10.9f, 20.2f, 110.5f, 60.1f}, {10, 20, 99, 39}},
        {"negative edges truncate toward zero", {-10.7f, -0.5f, 0, 0}, {-10, 0, 10, 0}},
        {"the 16-bit extremes are kept",
         {-32768, 32767, 32767, 32767 + 65535.0f},
         {-32768, 32767, 65535, 65535}},
        {"edges beyond the range saturate", {-40000, 40000, -39000, 40001}, {-32768, 32767, 1000, 1}},
        {"sizes beyond the range saturate", {-40000, 0, 40000, 70000}, {-32768, 0, 65535, 65535}},
        {"an inverted rectangle has no size", {100, 100, 50, 20}, {100, 100, 0, 0}},
        {"infinities saturate", {-inf, inf, inf, inf}, {-32768, 32767, 65535, 0}},
        {"NaN gives 0", {nan, nan, nan, 5}, {0, 0, 0, 0}},
    };
    for (const Case &c : cases) EXPECT_EQ(to_clip(c.r), c.want) << c.label;
}

TEST(Clip, ToRectAddsTheUnsignedSizeToTheSignedEdge) {
    expect_rect(to_rect(Clip{-5, 7, 65535, 10}), Rect{-5, 7, 65530, 17});
    expect_rect(to_rect(Clip{-32768, -32768, 0, 1}), Rect{-32768, -32768, -32768, -32767});
}

TEST(Rect, HelpersWorkOnAllFourComponents) {
    const Rect r = {10, 20, 50, 80};
    Vector2 d = dimensions(r), c = center(r);
    EXPECT_EQ(d.x, 40);
    EXPECT_EQ(d.y, 60);
    EXPECT_EQ(c.x, 30);
    EXPECT_EQ(c.y, 50);
    expect_rect(pad(r, 5), Rect{5, 15, 55, 85});
    expect_rect(pad(r, -5), Rect{15, 25, 45, 75});
    expect_rect(shift(r, 3), Rect{13, 23, 53, 83});

    Vector4 color = blend(Vector4{0.2f, 0.4f, 0.6f, 0.5f}, 0.5f);
    EXPECT_EQ(color.x, 0.2f);
    EXPECT_EQ(color.y, 0.4f);
    EXPECT_EQ(color.z, 0.6f);
    EXPECT_EQ(color.w, 0.25f);
}

TEST(Rect, IntersectOfDisjointRectanglesComesOutInverted) {
    expect_rect(intersect(Rect{0, 0, 100, 100}, Rect{50, -10, 150, 60}), Rect{50, 0, 100, 60});
    Rect apart = intersect(Rect{0, 0, 10, 10}, Rect{20, 30, 40, 50});
    expect_rect(apart, Rect{20, 30, 10, 10});
    EXPECT_LT(apart.x1, apart.x0);
    EXPECT_LT(apart.y1, apart.y0);
}

TEST(Rect, CollideCountsEveryEdgeAsInside) {
    const Rect r = {10, 20, 30, 40};
    struct Case {
        Vector2 v;
        bool inside;
    };
    const Case cases[] = {
        {{10, 20}, true},       {{30, 40}, true},      {{30, 20}, true},
        {{10, 40}, true},       {{20, 30}, true},      {{30.001f, 30}, false},
        {{20, 40.001f}, false}, {{9.999f, 30}, false}, {{20, 19.999f}, false},
    };
    for (const Case &c : cases) EXPECT_EQ(collide(c.v, r), c.inside) << c.v.x << ", " << c.v.y;
}

TEST(Rect, AliasesShareTheFourFloats) {
    Rect r = {};
    r.right = 7;
    r.p0 = {1, 2};
    r.max.y = 9;
    EXPECT_EQ(r.x0, 1);
    EXPECT_EQ(r.top, 2);
    EXPECT_EQ(r.component[2], 7);
    EXPECT_EQ(r.y1, 9);
    EXPECT_EQ(r.min.x, r.left);
}

// ---- Stacks ------------------------------------------------------------------------

TEST_F(Clip_Stack_Test, AnEmptyStackGivesNoClipAndFullOpacity) {
    Pass p = pass_of_next_draw();
    EXPECT_EQ(p.base.clip, Clip{});
    EXPECT_EQ(p.base.opacity, 1.0f);
    EXPECT_FALSE(currently_clipping());
}

// Only the top counts: an inner clip larger than the outer one escapes it, and
// opacities do not multiply.
TEST_F(Clip_Stack_Test, APassTakesTheTopOfEachStackAlone) {
    push_clip(Clip{10, 10, 20, 20});
    push_clip(Rect{0, 0, 100.9f, 50.5f});
    push_opacity(0.5f);
    push_opacity(0.5f);
    ASSERT_TRUE(currently_clipping());
    EXPECT_EQ(current_clip(), (Clip{0, 0, 100, 50}));

    Pass inner = pass_of_next_draw();
    EXPECT_EQ(inner.base.clip, (Clip{0, 0, 100, 50}));
    EXPECT_EQ(inner.base.opacity, 0.5f);

    pop_clip();
    pop_opacity();
    Pass outer = pass_of_next_draw();
    EXPECT_EQ(outer.base.clip, (Clip{10, 10, 20, 20}));
    EXPECT_EQ(outer.base.opacity, 0.5f);

    pop_clip();
    pop_opacity();
    Pass none = pass_of_next_draw();
    EXPECT_EQ(none.base.clip, Clip{});
    EXPECT_EQ(none.base.opacity, 1.0f);
    EXPECT_FALSE(currently_clipping());
    EXPECT_EQ(renderer.passes.count, 3);
}

// Every stack operation closes the pass being filled, even when the value does not change.
TEST_F(Clip_Stack_Test, EveryOperationEndsThePassBeingFilled) {
    struct Case {
        const char *label;
        void (*op)();
    };
    const Case cases[] = {
        {"push_clip", [] { push_clip(Clip{}); }},
        {"pop_clip", [] { pop_clip(); }},
        {"push_opacity", [] { push_opacity(1); }},
        {"pop_opacity", [] { pop_opacity(); }},
    };
    push_clip(Clip{});
    push_opacity(1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        pass_of_next_draw();
        const s64 drawn_into = renderer.passes.count - 1;
        c.op();
        EXPECT_EQ(renderer.passes.data[renderer.passes.count - 1].base.kind, Pass_Kind::NONE);
        pass_of_next_draw();
        EXPECT_EQ(renderer.passes.count - 1, drawn_into + 1);
    }
}

TEST_F(Clip_Stack_Test, APushAndPopWithNothingBetweenLeaveOneNonePass) {
    draw_quad(Rect{0, 0, 1, 1}, Vector4{1, 1, 1, 1});
    push_clip(Clip{1, 2, 3, 4});
    pop_clip();
    push_opacity(0.25f);
    pop_opacity();
    ASSERT_EQ(renderer.passes.count, 2);
    EXPECT_EQ(renderer.passes.data[0].base.kind, Pass_Kind::STANDARD);
    EXPECT_EQ(renderer.passes.data[1].base.kind, Pass_Kind::NONE);
    EXPECT_EQ(renderer.clip_stack.count, 0);
    EXPECT_EQ(renderer.opacity_stack.count, 0);
}

TEST_F(Clip_Stack_DeathTest, UnmatchedPopsAndAnEmptyCurrentClipStop) {
    EXPECT_DEATH(pop_clip(), CLIP_STACK_UNDERFLOW);
    EXPECT_DEATH(pop_opacity(), OPACITY_STACK_UNDERFLOW);
    EXPECT_DEATH(current_clip(), CLIP_STACK_EMPTY);
    // One push does not cover two pops.
    push_clip(Clip{});
    pop_clip();
    EXPECT_DEATH(pop_clip(), CLIP_STACK_UNDERFLOW);
}

} // namespace
} // namespace tessera
