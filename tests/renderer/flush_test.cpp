#include "renderer/flush.h"

#include "gl/gl.h"
#include "renderer/framebuffer.h"
#include "renderer/primitives.h"
#include "renderer/renderer.h"
#include "window.h"

#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace tessera {
namespace {

constexpr s32 W = 800;
constexpr s32 H = 600;

// ---- Recording GL calls ----------------------------------------------------------

struct Call {
    std::string name;
    std::vector<double> args; // arithmetic arguments; pointers read as 0
};

std::vector<Call> calls;

template <typename T>
double as_number(T v) {
    if constexpr (std::is_arithmetic_v<T>)
        return static_cast<double>(v);
    else
        return 0;
}

template <typename Tag, typename F>
struct Tap;

template <typename Tag, typename R, typename... A>
struct Tap<Tag, R (*)(A...)> {
    static inline R (*saved)(A...) = nullptr;
    static R call(A... a) {
        calls.push_back({Tag::label, {as_number(a)...}});
        return saved(a...);
    }
};

#define TAP_TAG_(name, type)                                                                                 \
    struct Tag_##name {                                                                                      \
        static constexpr const char *label = #name;                                                          \
    };
TESSERA_GL_PROCS(TAP_TAG_)

// Every GL entry records its calls into `calls` while a Tapping_Scope lives.
struct Tapping_Scope {
    Tapping_Scope() {
        calls.clear();
#define TAP_INSTALL_(name, type)                                                                             \
    Tap<Tag_##name, type>::saved = tessera::name;                                                            \
    if (tessera::name) tessera::name = &Tap<Tag_##name, type>::call;
        TESSERA_GL_PROCS(TAP_INSTALL_)
    }
    ~Tapping_Scope() {
#define TAP_RESTORE_(name, type)                                                                             \
    if (Tap<Tag_##name, type>::saved) tessera::name = Tap<Tag_##name, type>::saved;
        TESSERA_GL_PROCS(TAP_RESTORE_)
    }
};

std::vector<Call> named(const char *name) {
    std::vector<Call> out;
    for (const Call &c : calls)
        if (c.name == name) out.push_back(c);
    return out;
}

// glUniform* calls of the given shader's uniform: calls made while that
// program was in use, to its location.
std::vector<Call> uniform_calls(const Shader &shader, const char *uniform_name) {
    GLint location = glGetUniformLocation(shader.id, uniform_name);
    std::vector<Call> out;
    double program = -1;
    for (const Call &c : calls) {
        if (c.name == "glUseProgram") program = c.args[0];
        if (c.name.rfind("glUniform", 0) == 0 && program == shader.id && c.args[0] == location)
            out.push_back(c);
    }
    return out;
}

// ---- Fixture ---------------------------------------------------------------------

struct Pixel {
    int r, g, b, a;
};

struct Flush_Test : test::GL_Test {
    Render_Texture target;

    void SetUp() override {
        GL_Test::SetUp();
        static bool initialised = false;
        if (!initialised) {
            renderer.width = W;
            renderer.height = H;
            renderer_init();
            initialised = true;
        }
        renderer.width = W;
        renderer.height = H;
        // Window pixels, top-left origin.
        renderer.projection_matrix = {2.0f / W, 0, 0, -1, 0, -2.0f / H, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1};
        ASSERT_TRUE(init(&target.tx, W, H, 4, nullptr, GL_RGBA8, GL_NEAREST, GL_CLAMP_TO_EDGE));
        init(&target.fb);
        attach(&target.fb, target.tx, GL_COLOR_ATTACHMENT0);
        ASSERT_TRUE(check(&target.fb));
        glViewport(0, 0, W, H);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    void TearDown() override {
        flush();
        // Every size and rectangle the flush handed GL was valid.
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        framebuffer_bind(0);
        deinit(&target.fb);
        deinit(&target.tx);
    }

    // The pixel at (x, y) in window pixels (top-left origin) of the target.
    static Pixel pixel(s32 x, s32 y) {
        u8 p[4] = {};
        glReadPixels(x, H - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2], p[3]};
    }
};

void expect_pixel(Pixel got, Pixel want, const char *where) {
    SCOPED_TRACE(where);
    EXPECT_NEAR(got.r, want.r, 2);
    EXPECT_NEAR(got.g, want.g, 2);
    EXPECT_NEAR(got.b, want.b, 2);
    EXPECT_NEAR(got.a, want.a, 2);
}

u32 make_texture_2x2() {
    // Rows top to bottom: red, green / blue, white.
    const u8 data[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    Texture t;
    EXPECT_TRUE(init(&t, 2, 2, 4, data));
    return t.id;
}

// ---- Pixels ----------------------------------------------------------------------

TEST_F(Flush_Test, DrawsTexturedQuadAndRoundedRectangle) {
    u32 tex = make_texture_2x2();
    draw_quad(tex, {0, 0, 1, 1}, {100, 100, 300, 300}, {1, 1, 1, 1});
    ui_draw_rect({400, 100, 600, 300}, {1, 0, 0, 1}, 0, 0, 40);
    flush();

    expect_pixel(pixel(150, 150), {255, 0, 0, 255}, "top-left texel");
    expect_pixel(pixel(250, 150), {0, 255, 0, 255}, "top-right texel");
    expect_pixel(pixel(150, 250), {0, 0, 255, 255}, "bottom-left texel");
    expect_pixel(pixel(250, 250), {255, 255, 255, 255}, "bottom-right texel");
    expect_pixel(pixel(99, 150), {0, 0, 0, 255}, "left of the quad");
    expect_pixel(pixel(500, 200), {255, 0, 0, 255}, "rectangle centre");
    expect_pixel(pixel(500, 101), {255, 0, 0, 255}, "top edge, middle");
    expect_pixel(pixel(402, 102), {0, 0, 0, 255}, "rounded-off corner");
    glDeleteTextures(1, &tex);
}

TEST_F(Flush_Test, AppliesClipAndOpacityPerPass) {
    push_clip(Clip{10, 20, 100, 50});
    draw_quad({0, 0, 200, 200}, {0, 1, 0, 1});
    pop_clip();
    push_opacity(0.5f);
    ui_draw_rect({300, 400, 400, 500}, {1, 1, 1, 1}, 0, 0, 0);
    pop_opacity();
    ui_draw_rect({500, 400, 600, 500}, {1, 1, 1, 1}, 0, 0, 0);
    flush();

    expect_pixel(pixel(50, 40), {0, 255, 0, 255}, "inside the clip");
    expect_pixel(pixel(5, 40), {0, 0, 0, 255}, "left of the clip");
    expect_pixel(pixel(50, 75), {0, 0, 0, 255}, "below the clip");
    // Alpha blends with the same factors: 0.5 * 0.5 + 1 * 0.5.
    expect_pixel(pixel(350, 450), {128, 128, 128, 191}, "half opacity");
    expect_pixel(pixel(550, 450), {255, 255, 255, 255}, "opacity back to 1");
}

struct Custom_Record {
    std::vector<int> order;
    Pixel seen = {};
    bool scissor_on = true;
};

void custom_proc(void *data) {
    auto *r = static_cast<Custom_Record *>(data);
    r->order.push_back(static_cast<int>(r->order.size()));
    r->seen = Flush_Test::pixel(20, 30);
    r->scissor_on = glIsEnabled(GL_SCISSOR_TEST);
}

TEST_F(Flush_Test, CustomPassRunsInOrderWithItsData) {
    Custom_Record first, second;
    push_clip(Clip{0, 0, 100, 100});
    draw_quad({0, 0, 100, 100}, {1, 0, 0, 1});
    custom_render_pass(custom_proc, &first);
    pop_clip();
    draw_quad({0, 0, 100, 100}, {0, 0, 1, 1});
    custom_render_pass(custom_proc, &second);
    flush();

    ASSERT_EQ(first.order.size(), 1u);
    ASSERT_EQ(second.order.size(), 1u);
    expect_pixel(first.seen, {255, 0, 0, 255}, "first procedure sees the red quad");
    expect_pixel(second.seen, {0, 0, 255, 255}, "second procedure sees the blue quad");
    EXPECT_FALSE(first.scissor_on) << "a custom pass runs without the scissor";
    expect_pixel(pixel(20, 30), {0, 0, 255, 255}, "final picture");
}

TEST_F(Flush_Test, BlurSoftensAnEdgeInsideItsRectangleOnly) {
    draw_quad({0, 0, 400, 600}, {1, 1, 1, 1});
    blur_pass({300, 100, 500, 300}, 4, 0);
    flush();
    Pixel at_edge = pixel(400, 200);
    EXPECT_GT(at_edge.r, 40);
    EXPECT_LT(at_edge.r, 215);
    expect_pixel(pixel(310, 200), {255, 255, 255, 255}, "far inside the white part");
    expect_pixel(pixel(490, 200), {0, 0, 0, 255}, "far inside the black part");
    expect_pixel(pixel(399, 400), {255, 255, 255, 255}, "outside the blur");
    expect_pixel(pixel(401, 400), {0, 0, 0, 255}, "outside the blur");
}

TEST_F(Flush_Test, PerCornerColoursAndRotation) {
    // Corners top-left, top-right, bottom-right, bottom-left.
    standard_draw_quad({100, 100, 300, 300}, {0, 0, 0, 0}, {1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1},
                       {1, 1, 1, 1}, 0);
    // The 2 by 2 texture turned a quarter clockwise about (600, 200): its
    // top-left texel (red) ends up top-right, its bottom-left (blue) top-left.
    u32 tex = make_texture_2x2();
    standard_draw_quad({-50, -50, 50, 50}, {0, 0, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1},
                       {1, 1, 1, 1}, {600, 200}, static_cast<f32>(M_PI / 2), tex);
    // A square turned by 45 degrees about (400, 450) is a diamond.
    standard_draw_quad({-50, -50, 50, 50}, {0, 0, 0, 0}, {1, 1, 0, 1}, {1, 1, 0, 1}, {1, 1, 0, 1},
                       {1, 1, 0, 1}, {400, 450}, static_cast<f32>(M_PI / 4), 0);
    flush();

    expect_pixel(pixel(100, 100), {254, 0, 0, 255}, "top-left corner");
    expect_pixel(pixel(299, 100), {0, 254, 0, 255}, "top-right corner");
    expect_pixel(pixel(299, 299), {0, 0, 254, 255}, "bottom-right corner");
    expect_pixel(pixel(100, 299), {254, 254, 254, 255}, "bottom-left corner");
    // The quad is two triangles split along 0-2: the centre lies on that
    // diagonal, halfway between the top-left and bottom-right colours.
    expect_pixel(pixel(200, 200), {128, 0, 128, 255}, "centre");

    expect_pixel(pixel(575, 175), {0, 0, 255, 255}, "rotated: top-left shows blue");
    expect_pixel(pixel(625, 175), {255, 0, 0, 255}, "rotated: top-right shows red");
    expect_pixel(pixel(625, 225), {0, 255, 0, 255}, "rotated: bottom-right shows green");
    expect_pixel(pixel(575, 225), {255, 255, 255, 255}, "rotated: bottom-left shows white");

    expect_pixel(pixel(400, 450 - 65), {255, 255, 0, 255}, "diamond: near the top vertex");
    expect_pixel(pixel(400 + 65, 450), {255, 255, 0, 255}, "diamond: near the right vertex");
    expect_pixel(pixel(400 + 45, 450 - 45), {0, 0, 0, 255}, "diamond: where the square's corner was");
    glDeleteTextures(1, &tex);
}

TEST_F(Flush_Test, BorderedAndSoftEdgedRectangles) {
    ui_draw_rect({100, 100, 300, 300}, {1, 1, 1, 1}, 10, 1, 0);
    ui_draw_rect({400, 100, 600, 300}, {1, 1, 1, 1}, 0, 10, 0);
    flush();

    // Border 10 with softness 1: the inner edge sits at 10 + 2 pixels and fades
    // over 2 more.
    expect_pixel(pixel(105, 200), {255, 255, 255, 255}, "in the border");
    expect_pixel(pixel(200, 200), {0, 0, 0, 255}, "inside the border: not drawn");
    expect_pixel(pixel(200, 125), {0, 0, 0, 255}, "just inside the inner edge");
    expect_pixel(pixel(99, 200), {0, 0, 0, 255}, "outside");

    // Softness 10: the shape is inset by 20 pixels and fades out over 20 more,
    // so alpha runs from 0 at the edge to 1 at 20 pixels in (half at 10).
    expect_pixel(pixel(500, 200), {255, 255, 255, 255}, "soft rectangle: centre");
    expect_pixel(pixel(425, 200), {255, 255, 255, 255}, "soft rectangle: past the fade");
    Pixel half = pixel(410, 200);
    EXPECT_GT(half.r, 100);
    EXPECT_LT(half.r, 155);
    EXPECT_LT(pixel(401, 200).r, 20);
    Pixel corner = pixel(410, 110); // the corner fades in both directions
    EXPECT_LT(corner.r, half.r);
}

TEST_F(Flush_Test, SoftCircleFollowsTheMousePosition) {
    for (Vector2 mouse : {Vector2{200, 150}, Vector2{600, 420}}) {
        SCOPED_TRACE(testing::Message() << "mouse at " << mouse.x << ", " << mouse.y);
        glClear(GL_COLOR_BUFFER_BIT);
        window.mouse_position = mouse;
        UI_Vertex *v = ui_draw_rect({0, 0, W, H}, {1, 1, 1, 1}, 0, 0, 0);
        v->gradient_radius = 100;
        flush();
        // Alpha falls linearly from 1 at the pointer to 0 at 100 pixels; the
        // pixel centre is half a pixel off the pointer.
        EXPECT_GT(pixel(s32(mouse.x), s32(mouse.y)).r, 250);
        Pixel halfway = pixel(s32(mouse.x) + 50, s32(mouse.y));
        EXPECT_NEAR(halfway.r, 127, 3);
        EXPECT_EQ(pixel(s32(mouse.x), s32(mouse.y) + 110).r, 0);
        EXPECT_EQ(pixel(s32(mouse.x) - 120, s32(mouse.y)).r, 0);
    }
    // The first circle is gone from where the pointer no longer is.
    EXPECT_EQ(pixel(200, 150).r, 0);
    window.mouse_position = {};
}

TEST_F(Flush_Test, ZeroClipDrawsEverywhereAndZeroWidthClipNothing) {
    push_clip(Clip{0, 0, 0, 0});
    draw_quad({0, 0, W, H}, {0, 1, 0, 1});
    pop_clip();
    flush();
    for (auto [x, y] : {std::pair{0, 0}, {W - 1, 0}, {0, H - 1}, {W - 1, H - 1}, {400, 300}})
        expect_pixel(pixel(x, y), {0, 255, 0, 255}, "zero clip: everywhere");

    glClear(GL_COLOR_BUFFER_BIT);
    push_clip(Clip{10, 20, 0, 50});
    draw_quad({0, 0, W, H}, {0, 1, 0, 1});
    ui_draw_rect({0, 0, W, H}, {0, 1, 0, 1}, 0, 0, 0);
    pop_clip();
    flush();
    for (auto [x, y] : {std::pair{10, 20}, {10, 40}, {0, 0}, {400, 300}})
        expect_pixel(pixel(x, y), {0, 0, 0, 255}, "zero-width clip: nowhere");
}

TEST_F(Flush_Test, OpacityPushedTwiceIsNotMultiplied) {
    push_opacity(0.5f);
    push_opacity(0.5f);
    ui_draw_rect({300, 400, 400, 500}, {1, 1, 1, 1}, 0, 0, 0);
    pop_opacity();
    pop_opacity();
    flush();
    expect_pixel(pixel(350, 450), {128, 128, 128, 191}, "drawn at 0.5");
}

// ---- Blur against a CPU model --------------------------------------------------------
//
// The model repeats the flush's pipeline in double precision: the 2:1 read-back
// (a 2 by 2 box), the further linear downsamplings, the two Gaussian passes as
// the blur program runs them (the same weights, the same paired fetches at the
// same coordinates, mirrored-repeat bilinear sampling) and the composite's
// bilinear lookup at each pixel centre. What is left between it and the GPU is
// the driver's 8-bit filtering weights and the rounding of every intermediate
// image to 8 bits, a few levels at most.

struct Image {
    s32 w = 0, h = 0;
    std::vector<double> px; // RGB, rows bottom to top as GL stores them
    double at(s32 x, s32 y, s32 c) const { return px[(static_cast<size_t>(y) * w + x) * 3 + c]; }
    double &at(s32 x, s32 y, s32 c) { return px[(static_cast<size_t>(y) * w + x) * 3 + c]; }
};

Image make_image(s32 w, s32 h) {
    Image i;
    i.w = w;
    i.h = h;
    i.px.assign(static_cast<size_t>(w) * h * 3, 0);
    return i;
}

// Texel index under GL_MIRRORED_REPEAT, or clamped.
s32 wrap_index(s32 i, s32 n, bool mirrored) {
    if (!mirrored) return i < 0 ? 0 : (i >= n ? n - 1 : i);
    s32 period = 2 * n;
    s32 m = ((i % period) + period) % period;
    return m < n ? m : period - 1 - m;
}

double sample_bilinear(const Image &img, double u, double v, s32 c, bool mirrored) {
    double x = u * img.w - 0.5, y = v * img.h - 0.5;
    s32 x0 = static_cast<s32>(std::floor(x)), y0 = static_cast<s32>(std::floor(y));
    double fx = x - x0, fy = y - y0;
    auto t = [&](s32 xi, s32 yi) {
        return img.at(wrap_index(xi, img.w, mirrored), wrap_index(yi, img.h, mirrored), c);
    };
    return (t(x0, y0) * (1 - fx) + t(x0 + 1, y0) * fx) * (1 - fy) +
           (t(x0, y0 + 1) * (1 - fx) + t(x0 + 1, y0 + 1) * fx) * fy;
}

Image resample(const Image &from, s32 w, s32 h) {
    Image to = make_image(w, h);
    for (s32 y = 0; y < h; y++)
        for (s32 x = 0; x < w; x++)
            for (s32 c = 0; c < 3; c++)
                to.at(x, y, c) = sample_bilinear(from, (x + 0.5) / w, (y + 0.5) / h, c, false);
    return to;
}

// One run of the blur program: a full-target quad over `to_w` by `to_h`.
Image gaussian_pass(const Image &from, s32 to_w, s32 to_h, double radius, bool horizontal) {
    s32 support = static_cast<s32>(std::ceil(1.5 * radius)) * 2;
    double c0 = 1, g = 1;
    if (support > 0) {
        double sigma = radius;
        g = std::exp(-0.5 / (sigma * sigma));
        double total = 1 / (std::sqrt(2 * 3.14159265) * sigma), w = total, cx = w, cy = g, cz = g * g;
        for (s32 i = 1; i <= support; i += 2) {
            cx *= cy, cy *= cz;
            double sub = cx;
            cx *= cy, cy *= cz;
            sub += cx;
            total += 2 * sub;
        }
        c0 = w / total;
    }
    Image to = make_image(to_w, to_h);
    double step_x = horizontal ? 1.0 / from.w : 0, step_y = horizontal ? 0 : 1.0 / from.h;
    for (s32 y = 0; y < to_h; y++)
        for (s32 x = 0; x < to_w; x++) {
            double u = (x + 0.5) / to_w, v = (y + 0.5) / to_h;
            for (s32 c = 0; c < 3; c++) {
                double cx = c0, cy = g, cz = g * g;
                double sum = sample_bilinear(from, u, v, c, true) * cx;
                for (s32 i = 1; i <= std::min(support, 300); i += 2) {
                    cx *= cy, cy *= cz;
                    double sub = cx;
                    cx *= cy, cy *= cz;
                    sub += cx;
                    double ratio = sub > 0 ? cx / sub : 0;
                    double ox = step_x * (i + ratio), oy = step_y * (i + ratio);
                    sum += (sample_bilinear(from, std::max(u - ox, 0.0), std::max(v - oy, 0.0), c, true) +
                            sample_bilinear(from, u + ox, v + oy, c, true)) *
                           sub;
                }
                to.at(x, y, c) = sum;
            }
        }
    return to;
}

// The scene under the blur: 8 by 8 cells of varied colours, drawn with a
// nearest-filtered texture so the target holds exactly these bytes.
std::vector<u8> scene_bytes() {
    std::vector<u8> rgba(static_cast<size_t>(W) * H * 4);
    for (s32 y = 0; y < H; y++)
        for (s32 x = 0; x < W; x++) {
            u32 cell = static_cast<u32>((x / 8) * 7919 + (y / 8) * 104729);
            u8 *p = &rgba[(static_cast<size_t>(y) * W + x) * 4];
            p[0] = static_cast<u8>((cell * 37) & 0xff);
            p[1] = static_cast<u8>((cell * 91 + x) & 0xff);
            p[2] = static_cast<u8>(((x ^ y) & 16) ? 230 : 20);
            p[3] = 255;
        }
    return rgba;
}

struct Blur_Case {
    Rect rect;
    f32 radius;
};

void PrintTo(const Blur_Case &c, std::ostream *os) {
    *os << "(" << c.rect.x0 << ", " << c.rect.y0 << ", " << c.rect.x1 << ", " << c.rect.y1 << ") radius "
        << c.radius;
}

class Blur_Reference_Test : public Flush_Test, public testing::WithParamInterface<Blur_Case> {};

TEST_P(Blur_Reference_Test, MatchesTheCpuModel) {
    const Blur_Case &bc = GetParam();
    std::vector<u8> scene = scene_bytes(); // rows top to bottom
    Texture tex;
    ASSERT_TRUE(init(&tex, W, H, 4, scene.data()));
    draw_quad(tex.id, {0, 0, 1, 1}, {0, 0, W, H}, {1, 1, 1, 1});
    blur_pass(bc.rect, bc.radius, 0);
    flush();

    std::vector<u8> got(static_cast<size_t>(W) * H * 4);
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, got.data()); // rows bottom to top

    // The model.
    Blur_Plan plan = blur_plan(bc.rect, bc.radius, W, H);
    ASSERT_TRUE(plan.run);
    Image region = make_image(truncate_to_s32(plan.fb_dim.x) / 2, truncate_to_s32(plan.fb_dim.y) / 2);
    s32 gx0 = truncate_to_s32(plan.padded_rect.x0), gy0 = H - truncate_to_s32(plan.padded_rect.y1);
    for (s32 y = 0; y < region.h; y++)
        for (s32 x = 0; x < region.w; x++)
            for (s32 c = 0; c < 3; c++) {
                double sum = 0;
                for (s32 dy = 0; dy < 2; dy++)
                    for (s32 dx = 0; dx < 2; dx++) {
                        s32 sx = gx0 + 2 * x + dx, sy = gy0 + 2 * y + dy; // GL rows
                        sum += scene[(static_cast<size_t>(H - 1 - sy) * W + sx) * 4 + c];
                    }
                region.at(x, y, c) = sum / 4;
            }
    Image current = region;
    s32 k = plan.downsampling_passes;
    auto level = [&](f32 dim, double scale, s32 limit) {
        s32 v = static_cast<s32>(std::ceil(dim / scale));
        return std::max(1, std::min(v, limit));
    };
    for (s32 i = 1; i < k; i++) {
        double scale = std::ldexp(1.0, i + 1);
        current = resample(current, level(plan.rect_dim.x, scale, current.w),
                           level(plan.rect_dim.y, scale, current.h));
    }
    double scale = std::ldexp(1.0, k);
    s32 size_w = level(plan.rect_dim.x, scale, current.w), size_h = level(plan.rect_dim.y, scale, current.h);
    double radius = plan.radius / scale;
    current = gaussian_pass(current, size_w, size_h, radius, false);
    current = gaussian_pass(current, size_w, size_h, radius, true);

    const Rect &r = plan.rect;
    const Rect &uv = plan.sample_uvs;
    double max_error = 0, total_error = 0;
    s64 compared = 0;
    for (s32 y = 0; y < H; y++)
        for (s32 x = 0; x < W; x++) {
            const u8 *g = &got[(static_cast<size_t>(H - 1 - y) * W + x) * 4];
            bool inside = x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1;
            for (s32 c = 0; c < 3; c++) {
                if (!inside) {
                    // Everything outside the rectangle is the scene, untouched.
                    ASSERT_EQ(g[c], scene[(static_cast<size_t>(y) * W + x) * 4 + c]) << x << ", " << y;
                    continue;
                }
                double fu = (x + 0.5 - r.x0) / (r.x1 - r.x0), fv = (y + 0.5 - r.y0) / (r.y1 - r.y0);
                double u = uv.x0 + fu * (uv.x1 - uv.x0), v = uv.y0 + fv * (uv.y1 - uv.y0);
                double want = sample_bilinear(current, u, v, c, true);
                double e = std::abs(g[c] - want);
                max_error = std::max(max_error, e);
                total_error += e;
                compared++;
            }
        }
    ASSERT_GT(compared, 0);
    // Tolerance: 3 levels (of 255) at any one pixel, 0.75 on average; llvmpipe
    // stays under 2 and 0.45.
    EXPECT_LE(max_error, 3.0);
    EXPECT_LE(total_error / compared, 0.75);
    RecordProperty("max_error", std::to_string(max_error));
    RecordProperty("mean_error", std::to_string(total_error / compared));
    deinit(&tex);
}

INSTANTIATE_TEST_SUITE_P(Regions, Blur_Reference_Test,
                         testing::Values(Blur_Case{{300, 100, 500, 300}, 4},
                                         Blur_Case{{100.7f, 50.2f, 300.4f, 150.9f}, 12},
                                         Blur_Case{{0, 0, 800, 600}, 6},
                                         Blur_Case{{650, 480, 790, 590}, 20}));

TEST_F(Flush_Test, CustomPassWithoutProcedureStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            custom_render_pass(nullptr, nullptr);
            flush();
        },
        "Assertion failed");
}

// ---- Calls -----------------------------------------------------------------------

TEST_F(Flush_Test, EmptyFlushMakesNoGlCallAndKeepsTheStacks) {
    ASSERT_EQ(renderer.passes.count, 0);
    array_add(&renderer.clip_stack, Clip{1, 2, 3, 4});
    {
        Tapping_Scope tap;
        flush();
    }
    EXPECT_TRUE(calls.empty()) << calls.front().name;
    EXPECT_EQ(renderer.clip_stack.count, 1);
    renderer.clip_stack.count = 0;
}

TEST_F(Flush_Test, SetsUpUiStateOnceAndOpacityOnlyOnChange) {
    window.mouse_position = {12, 34};
    draw_quad({0, 0, 10, 10}, {1, 1, 1, 1});
    ui_draw_rect({0, 0, 10, 10}, {1, 1, 1, 1}, 0, 0, 0);
    push_opacity(1); // a new UI pass of equal opacity
    ui_draw_rect({0, 0, 10, 10}, {1, 1, 1, 1}, 0, 0, 0);
    push_opacity(0.25f);
    ui_draw_rect({0, 0, 10, 10}, {1, 1, 1, 1}, 0, 0, 0);
    {
        Tapping_Scope tap;
        flush();
    }
    std::vector<Call> programs = named("glUseProgram");
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(programs[0].args[0], renderer.standard_shader.id);
    EXPECT_EQ(programs[1].args[0], renderer.ui_shader.id);
    std::vector<Call> arrays = named("glBindVertexArray");
    ASSERT_EQ(arrays.size(), 2u);
    EXPECT_EQ(arrays[1].args[0], renderer.ui_va);

    EXPECT_EQ(uniform_calls(renderer.ui_shader, "u_projection").size(), 1u);
    std::vector<Call> soft = uniform_calls(renderer.ui_shader, "u_soft_circle_position");
    ASSERT_EQ(soft.size(), 1u);
    EXPECT_EQ(soft[0].args[1], 12);
    EXPECT_EQ(soft[0].args[2], 34);
    std::vector<Call> opacity = uniform_calls(renderer.ui_shader, "u_opacity");
    ASSERT_EQ(opacity.size(), 2u);
    EXPECT_EQ(opacity[0].args[1], 1.0);
    EXPECT_EQ(opacity[1].args[1], 0.25);
    EXPECT_EQ(named("glDrawArraysInstanced").size(), 3u);
    EXPECT_EQ(named("glDrawElements").size(), 1u);
    window.mouse_position = {};
}

TEST_F(Flush_Test, ComparesTextureListsByIdentity) {
    u32 tex = make_texture_2x2();
    draw_quad(tex, {0, 0, 1, 1}, {0, 0, 10, 10}, {1, 1, 1, 1});
    push_opacity(1);
    draw_quad(tex, {0, 0, 1, 1}, {0, 0, 10, 10}, {1, 1, 1, 1}); // same name, its own list
    push_opacity(1);
    draw_quad({0, 0, 10, 10}, {1, 1, 1, 1}); // untextured: binds nothing
    {
        Tapping_Scope tap;
        flush();
    }
    std::vector<Call> binds = named("glBindTexture");
    ASSERT_EQ(binds.size(), 2u);
    for (const Call &c : binds) EXPECT_EQ(c.args[1], tex);
    EXPECT_EQ(named("glDrawElements").size(), 3u);
    glDeleteTextures(1, &tex);
}

TEST_F(Flush_Test, ScissorBoxIsFlippedAndTheTestSwitchedOnlyOnChange) {
    push_clip(Clip{10, 20, 100, 50});
    draw_quad({0, 0, 10, 10}, {1, 1, 1, 1});
    push_clip(Clip{0, 32000, 10, 40000}); // y + h beyond 16 bits
    draw_quad({0, 0, 10, 10}, {1, 1, 1, 1});
    {
        Tapping_Scope tap;
        flush();
    }
    std::vector<Call> boxes = named("glScissor");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].args, (std::vector<double>{10, 530, 100, 50}));
    EXPECT_EQ(boxes[1].args, (std::vector<double>{0, 600 - 32000 - 40000, 10, 40000}));
    int enables = 0, disables = 0;
    for (const Call &c : calls) {
        if (c.name == "glEnable" && c.args[0] == GL_SCISSOR_TEST) enables++;
        if (c.name == "glDisable" && c.args[0] == GL_SCISSOR_TEST) disables++;
    }
    EXPECT_EQ(enables, 1);
    EXPECT_EQ(disables, 2); // set-up, then the wind-down
}

TEST_F(Flush_Test, RestoresClearColourAndFramebufferBinding) {
    glClearColor(0.25f, 0.5f, 0.75f, 1);
    draw_quad({0, 0, 10, 10}, {1, 1, 1, 1});
    blur_pass({0, 0, 100, 100}, 4, 0);
    {
        Tapping_Scope tap;
        flush();
    }
    f32 color[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, color);
    EXPECT_EQ(color[0], 0.25f);
    EXPECT_EQ(color[1], 0.5f);
    EXPECT_EQ(color[2], 0.75f);
    GLint bound = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(bound, static_cast<GLint>(target.fb.id));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().name, "glBindFramebuffer");
    EXPECT_EQ(calls.back().args, (std::vector<double>{GL_FRAMEBUFFER, static_cast<double>(target.fb.id)}));
    glClearColor(0, 0, 0, 1);
}

TEST_F(Flush_Test, BlurOfTheWorkedExample) {
    blur_pass({100.7f, 50.2f, 300.4f, 150.9f}, 12, 0);
    {
        Tapping_Scope tap;
        flush();
    }
    std::vector<Call> blits = named("glBlitFramebuffer");
    ASSERT_EQ(blits.size(), 2u);
    EXPECT_EQ(blits[0].args,
              (std::vector<double>{100, 448, 304, 552, 0, 0, 102, 52, GL_COLOR_BUFFER_BIT, GL_LINEAR}));
    EXPECT_EQ(blits[1].args,
              (std::vector<double>{0, 0, 102, 52, 0, 0, 50, 25, GL_COLOR_BUFFER_BIT, GL_LINEAR}));
    std::vector<Call> radius = uniform_calls(renderer.blur_shader, "u_radius");
    ASSERT_EQ(radius.size(), 1u);
    EXPECT_EQ(radius[0].args[1], 3);
    std::vector<Call> res = uniform_calls(renderer.blur_shader, "u_src_res");
    ASSERT_EQ(res.size(), 1u);
    EXPECT_EQ(res[0].args[1], 50);
    EXPECT_EQ(res[0].args[2], 25);
    std::vector<Call> direction = uniform_calls(renderer.blur_shader, "u_direction");
    ASSERT_EQ(direction.size(), 2u);
    EXPECT_EQ(direction[0].args[1], 0);
    EXPECT_EQ(direction[1].args[1], 1);
    for (const Render_Texture &c : renderer.caches) {
        EXPECT_EQ(c.tx.width, 50);
        EXPECT_EQ(c.tx.height, 25);
    }
    // The composite samples cache 1.
    std::vector<Call> binds = named("glBindTexture");
    ASSERT_FALSE(binds.empty());
    EXPECT_EQ(binds.back().args[1], renderer.caches[1].tx.id);
    std::vector<Call> uploads = named("glBufferSubData");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].args[2], 128);

    Blur_Plan plan = blur_plan({100.7f, 50.2f, 300.4f, 150.9f}, 12, W, H);
    EXPECT_EQ(plan.downsampling_passes, 2);
    EXPECT_EQ(plan.fb_dim.x, 204);
    EXPECT_EQ(plan.fb_dim.y, 104);
    EXPECT_EQ(plan.padded_rect.x0, 100);
    EXPECT_EQ(plan.padded_rect.y0, 48);
    EXPECT_EQ(plan.padded_rect.x1, 304);
    EXPECT_EQ(plan.padded_rect.y1, 152);
    EXPECT_FLOAT_EQ(plan.sample_uvs.x0, 0);
    EXPECT_FLOAT_EQ(plan.sample_uvs.y0, 102.0f / 104);
    EXPECT_FLOAT_EQ(plan.sample_uvs.x1, 200.0f / 204);
    EXPECT_FLOAT_EQ(plan.sample_uvs.y1, 2.0f / 104);
}

TEST_F(Flush_Test, BlurPlanEdgeCases) {
    struct Case {
        const char *what;
        Rect rect;
        f32 radius;
        bool run;
        s32 k;
    };
    const f32 nan = std::nanf("");
    const Case cases[] = {
        {"radius 0.5 still runs", {0, 0, 100, 100}, 0.5f, true, 1},
        {"radius 7", {0, 0, 100, 100}, 7, true, 1},
        {"radius 8", {0, 0, 100, 100}, 8, true, 2},
        {"radius 16", {0, 0, 100, 100}, 16, true, 3},
        {"huge radius saturates", {0, 0, 100, 100}, 1e20f, true, 30},
        {"negative radius", {0, 0, 100, 100}, -3, false, 0},
        {"NaN radius", {0, 0, 100, 100}, nan, false, 0},
        {"inverted rectangle", {100, 100, 0, 0}, 4, false, 0},
        {"NaN rectangle", {nan, 0, 100, 100}, 4, false, 0},
        {"infinite rectangle", {-INFINITY, 0, INFINITY, 100}, 4, false, 0},
        {"far outside the target", {1e30f, 1e30f, 2e30f, 2e30f}, 4, true, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Blur_Plan p = blur_plan(c.rect, c.radius, W, H);
        EXPECT_EQ(p.run, c.run);
        if (!p.run) continue;
        EXPECT_EQ(p.downsampling_passes, c.k);
        // The read-back region always lies inside the target.
        EXPECT_GE(p.padded_rect.x0, 0);
        EXPECT_GE(p.padded_rect.y0, 0);
        EXPECT_LE(p.padded_rect.x1, W);
        EXPECT_LE(p.padded_rect.y1, H);
        EXPECT_LE(p.fb_dim.x, W);
        EXPECT_LE(p.fb_dim.y, H);
    }
    // Partly outside: only the part inside is read back.
    Blur_Plan p = blur_plan({700, 500, 900, 700}, 4, W, H);
    EXPECT_EQ(p.fb_dim.x, 202);
    EXPECT_EQ(p.padded_rect.x0, 598);
    EXPECT_EQ(p.padded_rect.y0, 398);
    EXPECT_EQ(p.padded_rect.x1, 800);
    EXPECT_EQ(p.padded_rect.y1, 600);
}

TEST_F(Flush_Test, BlurOfRadiusHalfRunsWithZeroRadiusUniform) {
    blur_pass({0, 0, 100, 100}, 0.5f, 0);
    draw_quad({0, 0, 10, 10}, {1, 1, 1, 1}); // consecutive blur calls would share one pass
    blur_pass({0, 0, 100, 100}, 0, 0);       // skipped
    {
        Tapping_Scope tap;
        flush();
    }
    std::vector<Call> radius = uniform_calls(renderer.blur_shader, "u_radius");
    ASSERT_EQ(radius.size(), 1u);
    EXPECT_EQ(radius[0].args[1], 0);
    EXPECT_EQ(named("glBlitFramebuffer").size(), 1u); // k = 1: no downsampling step
}

TEST_F(Flush_Test, BlurOfOversizedRectanglesStaysWithinTheTarget) {
    const Rect rects[] = {{700, 500, 900, 700}, {-1e9f, -1e9f, 1e9f, 1e9f}, {2000, 2000, 2100, 2100}};
    for (const Rect &r : rects) {
        SCOPED_TRACE(r.x0);
        draw_quad({0, 0, 1, 1}, {1, 1, 1, 1}); // keeps the blur calls apart
        blur_pass(r, 6, 0);
        {
            Tapping_Scope tap;
            flush();
        }
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        std::vector<Call> blits = named("glBlitFramebuffer");
        ASSERT_EQ(blits.size(), 1u);
        const std::vector<double> &a = blits[0].args;
        EXPECT_GE(a[0], 0);
        EXPECT_GE(a[1], 0);
        EXPECT_LE(a[2], W);
        EXPECT_LE(a[3], H);
        EXPECT_LT(a[0], a[2]);
        EXPECT_LT(a[1], a[3]);
        for (const Render_Texture &c : renderer.caches) {
            EXPECT_LE(c.tx.width, W);
            EXPECT_LE(c.tx.height, H);
        }
    }
}

// ---- After the flush ---------------------------------------------------------------

TEST_F(Flush_Test, EmptiesEverythingAndKeepsTheFrameStatistics) {
    push_clip(Clip{0, 0, 50, 50}); // left unmatched: the flush discards it
    push_opacity(0.5f);
    draw_quad({0, 0, 10, 10}, {1, 1, 1, 1});
    ui_draw_rect({0, 0, 10, 10}, {1, 1, 1, 1}, 0, 0, 0);
    blur_pass({0, 0, 100, 100}, 4, 0);
    Custom_Record record;
    custom_render_pass(custom_proc, &record);
    flush();

    EXPECT_EQ(renderer.passes.count, 0);
    EXPECT_EQ(renderer.clip_stack.count, 0);
    EXPECT_EQ(renderer.opacity_stack.count, 0);
    EXPECT_EQ(bytes_used(renderer.vertex_data), 0);
    EXPECT_EQ(bytes_used(renderer.index_data), 0);
    EXPECT_EQ(renderer.vertex_data_allocated, 0);
    EXPECT_EQ(renderer.index_data_allocated, 0);
    EXPECT_EQ(renderer.vertex_current_allocation, 0);
    EXPECT_EQ(renderer.index_current_allocation, 0);

    const Frame_Stats &s = last_frame_stats;
    EXPECT_EQ(s.passes[static_cast<s32>(Pass_Kind::STANDARD)], 1);
    EXPECT_EQ(s.passes[static_cast<s32>(Pass_Kind::UI)], 1);
    EXPECT_EQ(s.passes[static_cast<s32>(Pass_Kind::BLUR)], 1);
    EXPECT_EQ(s.passes[static_cast<s32>(Pass_Kind::CUSTOM)], 1);
    EXPECT_EQ(s.draw_calls, 1 + 1 + 3); // blur: two passes and the composite
    EXPECT_EQ(s.bytes_uploaded, 4 * 40 + 6 * 2 + 128 + 128);
    EXPECT_EQ(s.program_binds, 4); // standard, UI, blur, UI for the composite
    EXPECT_EQ(s.blur_passes_run, 1);
    EXPECT_EQ(s.texture_binds, 3); // the blur's two reads and the composite
    // On + box (quad), box (UI), off (blur), on + box (composite), off (custom).
    EXPECT_EQ(s.scissor_changes, 7);
    // The quad reuses the slot the stack operations closed.
    EXPECT_EQ(s.pass_begin_reasons[static_cast<s32>(Pass_Begin_Reason::CLIP_OR_OPACITY_CHANGE)], 1);
    EXPECT_EQ(s.pass_begin_reasons[static_cast<s32>(Pass_Begin_Reason::KIND_CHANGE)], 3);

    for (s64 v : frame_stats.passes) EXPECT_EQ(v, 0);
    for (s64 v : frame_stats.pass_begin_reasons) EXPECT_EQ(v, 0);
    EXPECT_EQ(frame_stats.draw_calls, 0);
}

} // namespace
} // namespace tessera
