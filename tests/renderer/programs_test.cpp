// The three programs draw what they promise: each is drawn straight into an
// off-screen RGBA8 target and every pixel is compared with a value computed here
// on the CPU. Blending is off, so the read-back is the fragment output itself,
// and the target is cleared to SENTINEL, so a discarded fragment shows as such.
#include "renderer/shader.h"
#include "renderer/shader_sources.h"

#include "gl/gl.h"

#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace tessera {
namespace {

constexpr Vector4 SENTINEL = {0.2f, 0.4f, 0.6f, 0.8f};
constexpr s32 TOLERANCE = 2; // of 255

struct Rgba {
    f64 r, g, b, a;
};

u8 to_byte(f64 v) {
    return static_cast<u8>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

// Orthographic, surface pixel (0, 0) at the top-left, y down.
Matrix4 pixel_projection(s32 width, s32 height) {
    Matrix4 m = {};
    m._11 = 2.0f / width;
    m._14 = -1;
    m._22 = -2.0f / height;
    m._24 = 1;
    m._33 = -1;
    m._44 = 1;
    return m;
}

// The test's own target and vertex state, made with raw GL.
struct Programs_Test : test::GL_Test {
    s32 width = 0, height = 0;
    u32 target_texture = 0, framebuffer = 0, vertex_array = 0, vertex_buffer = 0;
    std::vector<u32> textures;
    Shader shader;

    void SetUp() override {
        GL_Test::SetUp();
        glGenVertexArrays(1, &vertex_array);
        glBindVertexArray(vertex_array);
        glGenBuffers(1, &vertex_buffer);
        glBindBuffer(GL_ARRAY_BUFFER, vertex_buffer);
        glDisable(GL_BLEND);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
    }

    void TearDown() override {
        deinit(&shader);
        table_deinit(&shader.uniforms);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glBindVertexArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glDeleteBuffers(1, &vertex_buffer);
        glDeleteVertexArrays(1, &vertex_array);
        if (framebuffer) glDeleteFramebuffers(1, &framebuffer);
        if (target_texture) glDeleteTextures(1, &target_texture);
        if (!textures.empty()) glDeleteTextures(static_cast<GLsizei>(textures.size()), textures.data());
        glActiveTexture(GL_TEXTURE0);
    }

    void make_target(s32 w, s32 h) {
        width = w;
        height = h;
        glGenTextures(1, &target_texture);
        glBindTexture(GL_TEXTURE_2D, target_texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target_texture, 0);
        ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
        glViewport(0, 0, w, h);
    }

    void clear() {
        glClearColor(SENTINEL.x, SENTINEL.y, SENTINEL.z, SENTINEL.w);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    // An RGBA8 texture bound on `unit`; rows in memory order (row 0 at v = 0).
    u32 make_texture(u32 unit, s32 w, s32 h, const std::vector<u8> &pixels, GLint filter, GLint wrap) {
        u32 id = 0;
        glGenTextures(1, &id);
        textures.push_back(id);
        glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, id);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
        return id;
    }

    // Read-back row `row` is GL's (0 at the bottom).
    std::vector<u8> read_target() {
        std::vector<u8> pixels(static_cast<size_t>(width * height * 4));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }

    // Compares every pixel of the read-back with `expected(x, row)`: a colour, or
    // nullopt for "left at SENTINEL". Reports the first few mismatches only.
    template <typename F>
    void expect_pixels(const std::vector<u8> &got, F expected) {
        s32 failures = 0;
        for (s32 row = 0; row < height; row++) {
            for (s32 x = 0; x < width; x++) {
                std::optional<Rgba> e = expected(x, row);
                Rgba want = e ? *e : Rgba{SENTINEL.x, SENTINEL.y, SENTINEL.z, SENTINEL.w};
                const u8 *p = &got[static_cast<size_t>((row * width + x) * 4)];
                const u8 w[4] = {to_byte(want.r), to_byte(want.g), to_byte(want.b), to_byte(want.a)};
                bool close = true;
                for (int k = 0; k < 4; k++) close = close && std::abs(p[k] - w[k]) <= TOLERANCE;
                if (!close && failures++ < 8) {
                    ADD_FAILURE() << "pixel (" << x << ", row " << row << "): got " << +p[0] << " " << +p[1]
                                  << " " << +p[2] << " " << +p[3] << ", want " << +w[0] << " " << +w[1] << " "
                                  << +w[2] << " " << +w[3] << (e ? "" : " (sentinel)");
                }
            }
        }
        EXPECT_EQ(failures, 0);
    }
};

// ---- Standard program ----------------------------------------------------------------------

// Packed as the standard layout reads it: stride 40.
struct Test_Standard_Vertex {
    Vector3 position;
    Vector2 texture_uv;
    Vector4 color;
    f32 texture_id;
};
static_assert(sizeof(Test_Standard_Vertex) == 40);

// Texel (x, y) of the 2 by 2 texture on unit `unit`: distinct per unit and texel.
Rgba unit_texel(s32 unit, s32 x, s32 y) {
    return {(10 + 15 * unit) / 255.0, (x ? 200 : 50) / 255.0, (y ? 220 : 30) / 255.0,
            (255 - 7 * unit - (x ? 20 : 0)) / 255.0};
}

TEST_F(Programs_Test, StandardOutputsTexelTimesColourTimesOpacityAndDiscardsOtherSlots) {
    constexpr s32 SIZE = 32;
    make_target(SIZE, SIZE);
    for (s32 unit = 0; unit < 16; unit++) {
        std::vector<u8> pixels;
        for (s32 y = 0; y < 2; y++) {
            for (s32 x = 0; x < 2; x++) {
                Rgba t = unit_texel(unit, x, y);
                for (f64 c : {t.r, t.g, t.b, t.a}) pixels.push_back(to_byte(c));
            }
        }
        make_texture(static_cast<u32>(unit), 2, 2, pixels, GL_NEAREST, GL_CLAMP_TO_EDGE);
    }

    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 40, reinterpret_cast<void *>(0));
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 40, reinterpret_cast<void *>(12));
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, 40, reinterpret_cast<void *>(20));
    glVertexAttribPointer(3, 1, GL_FLOAT, GL_FALSE, 40, reinterpret_cast<void *>(36));
    for (u32 i = 0; i < 4; i++) glEnableVertexAttribArray(i);

    ASSERT_TRUE(load_from_memory(&shader, STANDARD_VERTEX_SOURCE, STANDARD_FRAGMENT_SOURCE));
    s32 slots[16];
    for (s32 i = 0; i < 16; i++) slots[i] = i;
    uniform(&shader, U_SAMPLERS, slots, 16);
    uniform(&shader, U_PROJECTION, pixel_projection(SIZE, SIZE));
    const f32 opacity = 0.5f;
    uniform(&shader, U_OPACITY, opacity);
    const Vector4 color = {0.5f, 1.0f, 0.25f, 0.8f};

    struct Case {
        f32 texture_id;
        s32 unit; // -1: white; -2: discarded
    };
    for (Case c : {Case{-1, -1}, Case{-0.5f, -1}, Case{0, 0}, Case{3.7f, 3}, Case{15, 15}, Case{16, -2},
                   Case{100, -2}}) {
        SCOPED_TRACE(testing::Message() << "texture id " << c.texture_id);
        // Two triangles over the whole target; uv (0, 0) at the top-left.
        const f32 S = SIZE;
        Test_Standard_Vertex quad[6] = {
            {{0, 0, 0}, {0, 0}, color, c.texture_id}, {{S, 0, 0}, {1, 0}, color, c.texture_id},
            {{0, S, 0}, {0, 1}, color, c.texture_id}, {{S, 0, 0}, {1, 0}, color, c.texture_id},
            {{S, S, 0}, {1, 1}, color, c.texture_id}, {{0, S, 0}, {0, 1}, color, c.texture_id},
        };
        glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STREAM_DRAW);
        clear();
        glDrawArrays(GL_TRIANGLES, 0, 6);

        expect_pixels(read_target(), [&](s32 x, s32 row) -> std::optional<Rgba> {
            if (c.unit == -2) return std::nullopt;
            s32 y = SIZE - 1 - row; // surface row, y down
            Rgba t = c.unit < 0 ? Rgba{1, 1, 1, 1} : unit_texel(c.unit, x * 2 / SIZE, y * 2 / SIZE);
            return Rgba{t.r * color.x * opacity, t.g * color.y * opacity, t.b * color.z * opacity,
                        t.a * color.w * opacity};
        });
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// ---- UI program --------------------------------------------------------------------------------

// Packed as the UI layout reads it: eight vec4 inputs, stride 128, one per instance.
struct Test_UI_Vertex {
    f32 dst[4]; // x0, y0, x1, y1
    f32 src[4];
    Vector4 colors[4];   // top-left, top-right, bottom-left, bottom-right
    f32 corner_radii[4]; // same order
    f32 border_thickness;
    f32 edge_softness;
    f32 texture_index;
    f32 gradient_radius;
};
static_assert(sizeof(Test_UI_Vertex) == 128);

f64 smoothstep(f64 e0, f64 e1, f64 x) {
    f64 t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

f64 rect_sdf(f64 px, f64 py, f64 hx, f64 hy, f64 r) {
    f64 qx = std::max(std::abs(px) - hx + r, 0.0), qy = std::max(std::abs(py) - hy + r, 0.0);
    return std::sqrt(qx * qx + qy * qy) - r;
}

// The UI fragment output at surface point (sx, sy), or nullopt where the
// fragment is discarded or the point lies outside the rectangle.
std::optional<Rgba> ui_expected(const Test_UI_Vertex &v, Vector2 circle, f64 opacity, f64 sx, f64 sy) {
    f64 x0 = v.dst[0], y0 = v.dst[1], x1 = v.dst[2], y1 = v.dst[3];
    if (sx <= x0 || sx >= x1 || sy <= y0 || sy >= y1) return std::nullopt;

    // The strip's two triangles meet on the top-left to bottom-right diagonal;
    // each interpolates its three corners' values barycentrically.
    f64 u = (sx - x0) / (x1 - x0), w = (sy - y0) / (y1 - y0);
    f64 tl, tr, bl, br;
    if (w >= u) {
        bl = w - u, tl = 1 - w, br = u, tr = 0;
    } else {
        tl = 1 - u, br = w, tr = u - w, bl = 0;
    }
    auto mix = [&](f64 a_tl, f64 a_tr, f64 a_bl, f64 a_br) {
        return tl * a_tl + tr * a_tr + bl * a_bl + br * a_br;
    };
    const Vector4 *c = v.colors;
    Rgba color = {mix(c[0].x, c[1].x, c[2].x, c[3].x), mix(c[0].y, c[1].y, c[2].y, c[3].y),
                  mix(c[0].z, c[1].z, c[2].z, c[3].z), mix(c[0].w, c[1].w, c[2].w, c[3].w)};
    f64 radius = mix(v.corner_radii[0], v.corner_radii[1], v.corner_radii[2], v.corner_radii[3]);

    f64 hx = (x1 - x0) / 2, hy = (y1 - y0) / 2;
    f64 px = sx - (x0 + hx), py = sy - (y0 + hy);
    f64 softness = v.edge_softness, thickness = v.border_thickness;

    f64 border_t = 1;
    if (thickness > 0) {
        f64 s = rect_sdf(px, py, hx - 2 * softness - thickness, hy - 2 * softness - thickness,
                         std::max(radius - thickness, 0.0));
        border_t = smoothstep(0, 2 * softness, s);
    }
    if (border_t < 0.001) return std::nullopt;
    f64 corner_t = 1;
    if (radius > 0 || softness > 0.75) {
        corner_t =
            1 - smoothstep(0, 2 * softness, rect_sdf(px, py, hx - 2 * softness, hy - 2 * softness, radius));
    }
    f64 circle_t = 1;
    if (v.gradient_radius > 0) {
        f64 cx = circle.x - (x0 + hx), cy = circle.y - (y0 + hy);
        circle_t = std::clamp(1 - std::hypot(cx - px, cy - py) / v.gradient_radius, 0.0, 1.0);
    }
    color.a *= circle_t * corner_t * border_t * opacity;
    return color;
}

Test_UI_Vertex ui_rect(std::array<f32, 4> dst, Vector4 color, f32 radius, f32 border, f32 softness,
                       f32 gradient) {
    Test_UI_Vertex v = {};
    for (int i = 0; i < 4; i++) {
        v.dst[i] = dst[i];
        v.colors[i] = color;
        v.corner_radii[i] = radius;
    }
    v.src[2] = v.src[3] = 1;
    v.border_thickness = border;
    v.edge_softness = softness;
    v.texture_index = -1;
    v.gradient_radius = gradient;
    return v;
}

struct UI_Probe {
    s32 x, y; // surface pixel, y down
    std::optional<Rgba> expected;
};

struct UI_Case {
    const char *label;
    Test_UI_Vertex instance;
    Vector2 circle = {0, 0};
    f32 opacity = 1;
    // Stated by hand, independent of ui_expected: the claims the case is about.
    std::vector<UI_Probe> probes;
};

TEST_F(Programs_Test, UIShapesRectanglesWithTheDistanceFunction) {
    constexpr s32 SIZE = 64;
    make_target(SIZE, SIZE);
    for (u32 i = 0; i < 8; i++) {
        glVertexAttribPointer(i, 4, GL_FLOAT, GL_FALSE, 128,
                              reinterpret_cast<void *>(static_cast<uintptr_t>(16 * i)));
        glVertexAttribDivisor(i, 1);
        glEnableVertexAttribArray(i);
    }
    ASSERT_TRUE(load_from_memory(&shader, UI_VERTEX_SOURCE, UI_FRAGMENT_SOURCE));
    uniform(&shader, U_PROJECTION, pixel_projection(SIZE, SIZE));

    Test_UI_Vertex corners = ui_rect({{0, 0, 64, 64}}, {}, 0, 0, 0.5f, 0);
    corners.colors[0] = {1, 0, 0, 1};    // top-left
    corners.colors[1] = {0, 1, 0, 1};    // top-right
    corners.colors[2] = {0, 0, 1, 1};    // bottom-left
    corners.colors[3] = {1, 1, 1, 0.5f}; // bottom-right

    const Rgba orange = {1, 0.5, 0.25, 1};
    std::vector<UI_Case> cases = {
        {"rounded, filled",
         ui_rect({{8, 8, 56, 56}}, {1, 0.5f, 0.25f, 1}, 12, 0, 0.5f, 0),
         {},
         1,
         {{8, 8, Rgba{1, 0.5, 0.25, 0}},
          {10, 10, Rgba{1, 0.5, 0.25, 0}},
          {53, 54, Rgba{1, 0.5, 0.25, 0}},
          {32, 32, orange},
          {20, 20, orange},
          {9, 32, orange}}},
        {"border ring",
         ui_rect({{8, 8, 56, 56}}, {0.2f, 0.6f, 1, 1}, 0, 4, 0.25f, 0),
         {},
         1,
         {{32, 32, std::nullopt},
          {12, 32, std::nullopt},
          {32, 43, std::nullopt},
          {8, 32, Rgba{0.2, 0.6, 1, 1}},
          {11, 32, Rgba{0.2, 0.6, 1, 1}},
          {55, 55, Rgba{0.2, 0.6, 1, 1}},
          {7, 32, std::nullopt}}},
        // The inner edge is rounded by the radius less the thickness.
        {"rounded border ring",
         ui_rect({{8, 8, 56, 56}}, {0.2f, 0.6f, 1, 1}, 12, 4, 0.25f, 0),
         {},
         1,
         {{32, 32, std::nullopt},
          {15, 15, std::nullopt},
          {13, 13, Rgba{0.2, 0.6, 1, 1}},
          {9, 32, Rgba{0.2, 0.6, 1, 1}},
          {8, 8, Rgba{0.2, 0.6, 1, 0}}}},
        // Softness 0 leaves the rectangle unshaped; only the circle fades it.
        {"soft circle",
         ui_rect({{8, 8, 56, 48}}, {1, 1, 1, 1}, 0, 0, 0, 20),
         {24, 20},
         1,
         {{23, 19, Rgba{1, 1, 1, 1 - std::sqrt(0.5) / 20}},
          {44, 20, Rgba{1, 1, 1, 0}},
          {34, 19, Rgba{1, 1, 1, 1 - std::hypot(10.5, 0.5) / 20}}}},
        {"corner colours",
         corners,
         {},
         1,
         {{0, 0, Rgba{1, 2 / 255.0, 2 / 255.0, 254 / 255.0}},
          {63, 0, Rgba{4 / 255.0, 253 / 255.0, 2 / 255.0, 254 / 255.0}},
          {0, 63, Rgba{4 / 255.0, 2 / 255.0, 253 / 255.0, 254 / 255.0}}}},
        // Radius 0, softness 0.75 and no border: not shaped at all, edges included.
        {"unshaped",
         ui_rect({{8, 8, 56, 56}}, {0.8f, 0.4f, 0.2f, 0.9f}, 0, 0, 0.75f, 0),
         {},
         0.5f,
         {{8, 8, Rgba{0.8, 0.4, 0.2, 0.45}},
          {55, 8, Rgba{0.8, 0.4, 0.2, 0.45}},
          {32, 55, Rgba{0.8, 0.4, 0.2, 0.45}}}},
    };

    for (const UI_Case &c : cases) {
        SCOPED_TRACE(c.label);
        uniform(&shader, U_OPACITY, c.opacity);
        uniform(&shader, U_SOFT_CIRCLE_POSITION, c.circle);
        glBufferData(GL_ARRAY_BUFFER, sizeof(Test_UI_Vertex), &c.instance, GL_STREAM_DRAW);
        clear();
        glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, 1);
        std::vector<u8> got = read_target();

        expect_pixels(got, [&](s32 x, s32 row) {
            return ui_expected(c.instance, c.circle, c.opacity, x + 0.5, (SIZE - 1 - row) + 0.5);
        });
        for (const UI_Probe &p : c.probes) {
            // The probes also hold the CPU model to what the case claims.
            std::optional<Rgba> model = ui_expected(c.instance, c.circle, c.opacity, p.x + 0.5, p.y + 0.5);
            ASSERT_EQ(model.has_value(), p.expected.has_value()) << p.x << ", " << p.y;
            Rgba want = p.expected ? *p.expected : Rgba{SENTINEL.x, SENTINEL.y, SENTINEL.z, SENTINEL.w};
            const u8 *px = &got[static_cast<size_t>(((SIZE - 1 - p.y) * SIZE + p.x) * 4)];
            const f64 w[4] = {want.r, want.g, want.b, want.a};
            for (int k = 0; k < 4; k++) {
                EXPECT_NEAR(px[k], to_byte(w[k]), TOLERANCE)
                    << "probe " << p.x << ", " << p.y << " channel " << k;
            }
        }
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// ---- Blur program --------------------------------------------------------------------------------

// Weight of the tap at distance d, as the program normalises them: the
// incremental Gaussian over 2 * ceil(1.5 sigma) taps per side, summing to 1.
std::vector<f64> gaussian_weights(f64 sigma) {
    s32 support = static_cast<s32>(std::ceil(1.5 * sigma)) * 2;
    std::vector<f64> w(static_cast<size_t>(support + 1));
    f64 total = 0;
    for (s32 d = 0; d <= support; d++) {
        w[static_cast<size_t>(d)] = std::exp(-0.5 * d * d / (sigma * sigma));
        total += d ? 2 * w[static_cast<size_t>(d)] : w[0];
    }
    for (f64 &x : w) x /= total;
    return w;
}

TEST_F(Programs_Test, BlurAtRadiusZeroCopiesTheSource) {
    constexpr s32 W = 37, H = 23;
    make_target(W, H);
    std::vector<u8> source(static_cast<size_t>(W * H * 4));
    u32 seed = 12345;
    for (u8 &b : source) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<u8>(seed >> 24);
    }
    make_texture(0, W, H, source, GL_LINEAR, GL_MIRRORED_REPEAT);
    ASSERT_TRUE(load_from_memory(&shader, BLUR_VERTEX_SOURCE, BLUR_FRAGMENT_SOURCE));
    uniform(&shader, U_SAMPLER, s32{0});
    uniform(&shader, U_SRC_RES, Vector2{W, H});
    uniform(&shader, U_RADIUS, 0.0f);

    for (s32 direction : {0, 1}) {
        SCOPED_TRACE(direction);
        uniform(&shader, U_DIRECTION, direction);
        clear();
        glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, 1);
        std::vector<u8> got = read_target();
        s32 worst = 0;
        for (size_t i = 0; i < got.size(); i++) worst = std::max(worst, std::abs(got[i] - source[i]));
        EXPECT_LE(worst, 1);
    }
}

TEST_F(Programs_Test, BlurSpreadsALineByTheGaussianWeightsAlongItsDirectionOnly) {
    constexpr s32 SIZE = 32, LINE = 16;
    constexpr f32 RADIUS = 4;
    make_target(SIZE, SIZE);
    ASSERT_TRUE(load_from_memory(&shader, BLUR_VERTEX_SOURCE, BLUR_FRAGMENT_SOURCE));
    uniform(&shader, U_SAMPLER, s32{0});
    uniform(&shader, U_SRC_RES, Vector2{SIZE, SIZE});
    uniform(&shader, U_RADIUS, RADIUS);
    std::vector<f64> w = gaussian_weights(RADIUS);
    ASSERT_EQ(w.size(), 13u); // support 12

    struct Case {
        const char *label;
        bool column;   // a bright column at x = LINE, else a bright row at row LINE
        s32 direction; // 1: horizontal, 0: vertical
    };
    for (Case c : {Case{"column, horizontal", true, 1}, Case{"row, vertical", false, 0},
                   Case{"column, vertical", true, 0}}) {
        SCOPED_TRACE(c.label);
        std::vector<u8> source(static_cast<size_t>(SIZE * SIZE * 4), 0);
        for (s32 row = 0; row < SIZE; row++) {
            for (s32 x = 0; x < SIZE; x++) {
                if ((c.column ? x : row) != LINE) continue;
                for (int k = 0; k < 4; k++) source[static_cast<size_t>((row * SIZE + x) * 4 + k)] = 255;
            }
        }
        // Clamped, so a line along the blur direction has the same value beyond the edge.
        make_texture(0, SIZE, SIZE, source, GL_LINEAR, GL_CLAMP_TO_EDGE);
        uniform(&shader, U_DIRECTION, c.direction);
        clear();
        glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, 1);

        bool across = c.column == (c.direction == 1);
        expect_pixels(read_target(), [&](s32 x, s32 row) -> std::optional<Rgba> {
            s32 d = std::abs((c.column ? x : row) - LINE);
            // Blurring along the line leaves it as it is: the weights add up to 1.
            f64 v = across ? (d < static_cast<s32>(w.size()) ? w[static_cast<size_t>(d)] : 0.0)
                           : (d == 0 ? 1.0 : 0.0);
            return Rgba{v, v, v, v};
        });
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
} // namespace tessera
