#include "attribute_state.h"
#include "renderer/renderer.h"

#include "gl/gl.h"
#include "logger.h"

#include "capture.h"
#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tessera {
namespace {

constexpr s64 MiB = 1024 * 1024;

// ---- Reading GL state back ---------------------------------------------------------

GLint get_integer(GLenum name) {
    GLint v = -1;
    glGetIntegerv(name, &v);
    return v;
}

// Every element of `name` (an array uniform when count > 1), read one by one.
std::vector<GLint> uniform_ints(GLuint program, const char *name, int count) {
    std::vector<GLint> values;
    for (int i = 0; i < count; i++) {
        std::string element = count > 1 ? std::string(name) + "[" + std::to_string(i) + "]" : name;
        GLint location = glGetUniformLocation(program, element.c_str());
        GLint v = -1;
        if (location >= 0) glGetUniformiv(program, location, &v);
        values.push_back(v);
    }
    return values;
}

std::vector<GLfloat> uniform_floats(GLuint program, const char *name, int components) {
    std::vector<GLfloat> values(static_cast<size_t>(components), -1.0f);
    GLint location = glGetUniformLocation(program, name);
    if (location >= 0) glGetUniformfv(program, location, values.data());
    return values;
}

using test::Attribute_State;
using test::read_attribute;

// The protection of each page run of [from, to), from /proc/self/maps, with the
// ends cut to the range (neighbouring mappings of the same kind merge into one line).
std::vector<std::pair<s64, std::string>> protections(const u8 *from, const u8 *to) {
    std::vector<std::pair<s64, std::string>> runs; // (bytes, permissions)
    FILE *f = fopen("/proc/self/maps", "r");
    if (!f) return runs;
    char line[512];
    uintptr_t lo = reinterpret_cast<uintptr_t>(from), hi = reinterpret_cast<uintptr_t>(to);
    while (fgets(line, sizeof line, f)) {
        unsigned long s = 0, e = 0;
        char perms[8] = {};
        if (sscanf(line, "%lx-%lx %7s", &s, &e, perms) != 3 || e <= lo || s >= hi) continue;
        runs.push_back({static_cast<s64>((e > hi ? hi : e) - (s < lo ? lo : s)), perms});
    }
    fclose(f);
    return runs;
}

// ---- Wrapping glGetIntegerv ----------------------------------------------------------

// Reports `units` for GL_MAX_TEXTURE_IMAGE_UNITS while alive; every other query
// goes to the driver.
struct Fake_Texture_Units {
    static inline PFNGLGETINTEGERVPROC real = nullptr;
    static inline GLint units = 0;
    static void APIENTRY get(GLenum name, GLint *value) {
        real(name, value);
        if (name == GL_MAX_TEXTURE_IMAGE_UNITS) *value = units;
    }
    explicit Fake_Texture_Units(GLint u) {
        real = glGetIntegerv;
        units = u;
        glGetIntegerv = get;
    }
    ~Fake_Texture_Units() { glGetIntegerv = real; }
};

// ---- Fixture ----------------------------------------------------------------------------

// Each test starts from the initial record and gives everything back afterwards.
struct Renderer_Test : test::GL_Test {
    void SetUp() override {
        test::GL_Test::SetUp();
        if (HasFatalFailure()) return;
        renderer_deinit();
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        while (glGetError() != GL_NO_ERROR) {}
    }
    void TearDown() override {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        renderer_deinit();
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glBindVertexArray(0);
        glUseProgram(0);
    }
};

void expect_initial(const Renderer &r) {
    EXPECT_EQ(r.vb, 0u);
    EXPECT_EQ(r.ib, 0u);
    EXPECT_EQ(r.standard_va, 0u);
    EXPECT_EQ(r.ui_va, 0u);
    for (const Shader *s : {&r.standard_shader, &r.ui_shader, &r.blur_shader}) {
        EXPECT_EQ(s->id, 0u);
        EXPECT_EQ(s->uniforms.count, 0);
        EXPECT_EQ(s->uniforms.slots, nullptr);
    }
    EXPECT_EQ(r.width, 0);
    EXPECT_EQ(r.height, 0);
    const f32 *m = &r.projection_matrix._11;
    for (int i = 0; i < 16; i++) EXPECT_EQ(m[i], i % 5 == 0 ? 1.0f : 0.0f) << "projection element " << i;
    for (const Render_Texture *rt : {&r.caches[0], &r.caches[1], &r.output}) {
        EXPECT_EQ(rt->fb.id, 0u);
        EXPECT_EQ(rt->tx.id, 0u);
        EXPECT_EQ(rt->tx.width, 0);
    }
    for (const Bump_Pool *p : {&r.vertex_data, &r.index_data}) {
        EXPECT_EQ(p->alignment, 8);
        EXPECT_EQ(p->memory_base, nullptr);
        EXPECT_EQ(p->current_point, nullptr);
        EXPECT_EQ(p->address_limit, nullptr);
    }
    EXPECT_EQ(r.vertex_data_allocated, 0);
    EXPECT_EQ(r.index_data_allocated, 0);
    EXPECT_EQ(r.vertex_current_allocation, 0);
    EXPECT_EQ(r.index_current_allocation, 0);
    EXPECT_EQ(r.passes.count, 0);
    EXPECT_EQ(r.passes.data, nullptr);
    EXPECT_EQ(r.clip_stack.count, 0);
    EXPECT_EQ(r.opacity_stack.count, 0);
    EXPECT_EQ(r.opacity_stack.data, nullptr);
    EXPECT_EQ(r.texture_units_available, 0u);
}

TEST_F(Renderer_Test, StartsZeroedWithIdentityProjectionAndPoolAlignment8AndDeinitReturnsThere) {
    {
        SCOPED_TRACE("a new record");
        expect_initial(Renderer{});
    }
    renderer_init();
    array_add(&renderer.opacity_stack, 0.5f);
    renderer.width = 10;
    renderer_deinit();
    {
        SCOPED_TRACE("after renderer_deinit");
        expect_initial(renderer);
    }
}

TEST_F(Renderer_Test, CreatesTheBuffersAndLayoutsAndLeavesTheDocumentedBindings) {
    GLint unpack = 4;
    glPixelStorei(GL_UNPACK_ALIGNMENT, unpack);
    renderer_init();
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // What the last steps left bound.
    EXPECT_EQ(get_integer(GL_VERTEX_ARRAY_BINDING), static_cast<GLint>(renderer.ui_va));
    EXPECT_EQ(get_integer(GL_ARRAY_BUFFER_BINDING), static_cast<GLint>(renderer.vb));
    EXPECT_EQ(get_integer(GL_CURRENT_PROGRAM), static_cast<GLint>(renderer.blur_shader.id));
    EXPECT_EQ(get_integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(renderer.caches[1].tx.id));
    EXPECT_EQ(get_integer(GL_UNPACK_ALIGNMENT), 1);

    // Both buffers: 131072 bytes, dynamic. Read through a target no vertex array holds.
    for (u32 buffer : {renderer.vb, renderer.ib}) {
        ASSERT_NE(buffer, 0u);
        glBindBuffer(GL_COPY_READ_BUFFER, buffer);
        GLint size = 0, usage = 0;
        glGetBufferParameteriv(GL_COPY_READ_BUFFER, GL_BUFFER_SIZE, &size);
        glGetBufferParameteriv(GL_COPY_READ_BUFFER, GL_BUFFER_USAGE, &usage);
        EXPECT_EQ(size, 131072);
        EXPECT_EQ(usage, GL_DYNAMIC_DRAW);
    }
    glBindBuffer(GL_COPY_READ_BUFFER, 0);
    EXPECT_NE(renderer.vb, renderer.ib);

    struct Layout {
        const char *label;
        u32 va;
        std::vector<uintptr_t> sizes, offsets;
        GLint stride, divisor;
    };
    const Layout layouts[] = {
        {"standard", renderer.standard_va, {3, 2, 4, 1}, {0, 12, 20, 36}, 40, 0},
        {"ui", renderer.ui_va, {4, 4, 4, 4, 4, 4, 4, 4}, {0, 16, 32, 48, 64, 80, 96, 112}, 128, 1},
    };
    for (const Layout &l : layouts) {
        SCOPED_TRACE(l.label);
        ASSERT_NE(l.va, 0u);
        glBindVertexArray(l.va);
        for (GLuint i = 0; i < l.sizes.size(); i++) {
            Attribute_State s = read_attribute(i);
            EXPECT_EQ(s.enabled, GL_TRUE) << i;
            EXPECT_EQ(s.size, static_cast<GLint>(l.sizes[i])) << i;
            EXPECT_EQ(s.type, GL_FLOAT) << i;
            EXPECT_EQ(s.normalized, GL_FALSE) << i;
            EXPECT_EQ(s.stride, l.stride) << i;
            EXPECT_EQ(s.offset, l.offsets[i]) << i;
            EXPECT_EQ(s.divisor, l.divisor) << i;
            EXPECT_EQ(s.buffer, static_cast<GLint>(renderer.vb)) << i;
        }
        EXPECT_EQ(read_attribute(static_cast<GLuint>(l.sizes.size())).enabled, GL_FALSE);
    }
}

TEST_F(Renderer_Test, TextureUnitsAreTheReportedCountCappedAt16AndFillUSamplers) {
    GLint real = get_integer(GL_MAX_TEXTURE_IMAGE_UNITS);
    ASSERT_GT(real, 0);
    struct Case {
        const char *label;
        GLint reported; // 0: the driver's own answer
        u32 expected;
    };
    const Case cases[] = {
        {"the driver's value", 0, static_cast<u32>(real < 16 ? real : 16)},
        {"32 reported", 32, 16},
        {"8 reported", 8, 8},
        {"exactly 16", 16, 16},
        {"a single unit", 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        {
            Fake_Texture_Units fake(c.reported ? c.reported : real);
            renderer_init();
        }
        EXPECT_EQ(renderer.texture_units_available, c.expected);

        // Slots 0 .. units-1 hold their own index; the rest keep the default 0.
        std::vector<GLint> expected(16, 0);
        for (u32 i = 0; i < c.expected; i++) expected[i] = static_cast<GLint>(i);
        for (const Shader *s : {&renderer.standard_shader, &renderer.ui_shader}) {
            EXPECT_EQ(uniform_ints(s->id, "u_samplers", 16), expected)
                << (s == &renderer.ui_shader ? "ui" : "standard");
        }
        renderer_deinit();
    }
}

TEST_F(Renderer_Test, ProgramsStartWithTheRecordsProjectionOpacityOneAndSamplerZero) {
    struct Case {
        const char *label;
        bool set_projection;
    };
    for (Case c : {Case{"the initial identity", false}, Case{"a projection set before the call", true}}) {
        SCOPED_TRACE(c.label);
        if (c.set_projection) {
            f32 *m = &renderer.projection_matrix._11;
            for (int i = 0; i < 16; i++) m[i] = static_cast<f32>(i + 1);
        }
        Matrix4 projection = renderer.projection_matrix;
        renderer_init();

        // GL reads matrices by column: its element (column c, row r) is row r, column c of ours.
        const f32 *rows = &projection._11;
        std::vector<GLfloat> expected(16);
        for (int col = 0; col < 4; col++)
            for (int row = 0; row < 4; row++) expected[col * 4 + row] = rows[row * 4 + col];
        for (const Shader *s : {&renderer.standard_shader, &renderer.ui_shader}) {
            ASSERT_NE(s->id, 0u);
            EXPECT_EQ(uniform_floats(s->id, "u_projection", 16), expected);
            EXPECT_EQ(uniform_floats(s->id, "u_opacity", 1), std::vector<GLfloat>{1.0f});
        }
        ASSERT_NE(renderer.blur_shader.id, 0u);
        EXPECT_EQ(uniform_ints(renderer.blur_shader.id, "u_sampler", 1), std::vector<GLint>{0});
        EXPECT_NE(renderer.standard_shader.id, renderer.ui_shader.id);
        EXPECT_NE(renderer.ui_shader.id, renderer.blur_shader.id);
        renderer_deinit();
    }
}

TEST_F(Renderer_Test, CachesAreCompleteRgba8TargetsOfTheSurfaceSizeAtLeast1By1) {
    struct Case {
        s32 width, height, w, h;
    };
    const Case cases[] = {{0, 0, 1, 1}, {-3, 5, 1, 5}, {64, 32, 64, 32}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " by " << c.height);
        renderer.width = c.width;
        renderer.height = c.height;
        renderer_init();
        ASSERT_NE(renderer.caches[0].tx.id, renderer.caches[1].tx.id);
        ASSERT_NE(renderer.caches[0].fb.id, renderer.caches[1].fb.id);
        for (const Render_Texture &rt : renderer.caches) {
            EXPECT_EQ(rt.tx.width, c.w);
            EXPECT_EQ(rt.tx.height, c.h);
            EXPECT_EQ(rt.tx.channels, 4u);
            EXPECT_EQ(rt.tx.internal_format, GL_RGBA8);
            EXPECT_EQ(rt.tx.lod, 0u);

            glBindTexture(GL_TEXTURE_2D, rt.tx.id);
            GLint w = 0, h = 0, format = 0, min = 0, mag = 0, wrap_s = 0, wrap_t = 0;
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
            glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
            glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
            glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap_s);
            glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap_t);
            EXPECT_EQ(w, c.w);
            EXPECT_EQ(h, c.h);
            EXPECT_EQ(format, GL_RGBA8);
            EXPECT_EQ(min, GL_LINEAR);
            EXPECT_EQ(mag, GL_LINEAR);
            EXPECT_EQ(wrap_s, GL_MIRRORED_REPEAT);
            EXPECT_EQ(wrap_t, GL_MIRRORED_REPEAT);

            glBindFramebuffer(GL_FRAMEBUFFER, rt.fb.id);
            EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
            GLint type = 0, name = 0;
            glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                                  GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &type);
            glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                                  GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
            EXPECT_EQ(type, GL_TEXTURE);
            EXPECT_EQ(name, static_cast<GLint>(rt.tx.id));

            // Drawing into it lands in the texture, 8 bits per channel.
            glViewport(0, 0, c.w, c.h);
            glClearColor(1.0f, 0.5f, 0.25f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
            u8 pixel[4] = {};
            glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
            EXPECT_EQ(pixel[0], 255);
            EXPECT_NEAR(pixel[1], 128, 1);
            EXPECT_NEAR(pixel[2], 64, 1);
            EXPECT_EQ(pixel[3], 255);
        }
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, test::GL_TEST_WINDOW_WIDTH, test::GL_TEST_WINDOW_HEIGHT);
        renderer_deinit();
    }
}

TEST_F(Renderer_Test, TheFramebufferBoundBeforeIsBoundAfter) {
    // A complete framebuffer of our own, besides the window's.
    GLuint fb = 0, rb = 0;
    glGenRenderbuffers(1, &rb);
    glBindRenderbuffer(GL_RENDERBUFFER, rb);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 4, 4);
    glGenFramebuffers(1, &fb);
    glBindFramebuffer(GL_FRAMEBUFFER, fb);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));

    for (GLuint before : {fb, 0u}) {
        SCOPED_TRACE(testing::Message() << "framebuffer " << before);
        glBindFramebuffer(GL_FRAMEBUFFER, before);
        renderer_init();
        EXPECT_EQ(get_integer(GL_DRAW_FRAMEBUFFER_BINDING), static_cast<GLint>(before));
        EXPECT_EQ(get_integer(GL_READ_FRAMEBUFFER_BINDING), static_cast<GLint>(before));
        renderer_deinit();
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fb);
    glDeleteRenderbuffers(1, &rb);
}

TEST_F(Renderer_Test, BothPoolsReserve256MiBAndCommitOnlyWhatIsTaken) {
    renderer_init();
    for (Bump_Pool *p : {&renderer.vertex_data, &renderer.index_data}) {
        String name = p == &renderer.vertex_data ? "vertex_data"_s : "index_data"_s;
        SCOPED_TRACE(test::to_std(name));
        EXPECT_TRUE(equal(p->name, name)) << "its messages name the pool";
        ASSERT_NE(p->memory_base, nullptr);
        EXPECT_EQ(p->alignment, 8);
        EXPECT_EQ(p->address_limit - p->memory_base, 256 * MiB);
        EXPECT_EQ(p->current_point, p->memory_base);
        EXPECT_EQ(p->first_uncommitted_page, p->memory_base);
        using Runs = std::vector<std::pair<s64, std::string>>;
        EXPECT_EQ(protections(p->memory_base, p->address_limit), (Runs{{256 * MiB, "---p"}}));

        // One pass window: only the first step of the span becomes usable.
        u8 *window = take(p, 131072);
        window[131071] = 1;
        s64 committed = p->first_uncommitted_page - p->memory_base;
        EXPECT_GE(committed, 131072);
        EXPECT_LE(committed, BUMP_POOL_COMMIT_STEP + static_cast<s64>(get_page_size()));
        EXPECT_EQ(protections(p->memory_base, p->address_limit),
                  (Runs{{committed, "rw-p"}, {256 * MiB - committed, "---p"}}));
    }
    EXPECT_NE(renderer.vertex_data.memory_base, renderer.index_data.memory_base);
}

// Runs the scope with the system's console logger.
struct Console_Logger {
    Logger_Proc saved = context().logger;
    Console_Logger() { context().logger = logger_proc; }
    ~Console_Logger() { context().logger = saved; }
};

TEST_F(Renderer_Test, LogRendererInfoWritesExactlyFourTaggedLines) {
    const std::string tag = LOG_PREFIXES[0];
    auto text = [](GLenum name) { return std::string(reinterpret_cast<const char *>(glGetString(name))); };
    std::string expected = tag + "Vendor:   " + text(GL_VENDOR) + "\n" +   //
                           tag + "Renderer: " + text(GL_RENDERER) + "\n" + //
                           tag + "Version:  " + text(GL_VERSION) + "\n" +  //
                           tag + "GLSL:     " + text(GL_SHADING_LANGUAGE_VERSION) + "\n";
    std::string out, err;
    {
        Console_Logger console;
        test::Captured_Output capture;
        log_renderer_info();
        capture.restore();
        out = capture.out();
        err = capture.err();
    }
    EXPECT_EQ(out, expected);
    EXPECT_EQ(err, "");
    EXPECT_EQ(tag, "\x1b[36m[LOG]   \x1b[0m");
}

TEST_F(Renderer_Test, GpuTimersReturnANonNegativeTimeOneAfterAnother) {
    for (int i = 0; i < 2; i++) {
        u32 query = begin_gpu_timer();
        EXPECT_NE(query, 0u);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        s32 elapsed = end_gpu_timer(query);
        EXPECT_GE(elapsed, 0) << "timer " << i;
    }
}

// ---- Failures that stop the program ----------------------------------------------------

// Each case runs in a fresh child process with a GL context of its own: the parent's
// driver threads do not survive a fork.
struct Renderer_DeathTest : Renderer_Test {};

PFNGLGENTEXTURESPROC real_gen_textures;
void APIENTRY gen_no_texture(GLsizei n, GLuint *names) {
    real_gen_textures(n, names);
    names[0] = 0;
}
PFNGLCHECKFRAMEBUFFERSTATUSPROC real_check_status;
GLenum APIENTRY status_unsupported(GLenum) {
    return GL_FRAMEBUFFER_UNSUPPORTED;
}
PFNGLGETSHADERIVPROC real_get_shader;
void APIENTRY compile_fails(GLuint shader, GLenum name, GLint *value) {
    real_get_shader(shader, name, value);
    if (name == GL_COMPILE_STATUS) *value = GL_FALSE;
}

TEST_F(Renderer_DeathTest, EveryFailureStopsWithItsMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    real_gen_textures = glGenTextures;
    real_check_status = glCheckFramebufferStatus;
    real_get_shader = glGetShaderiv;
    struct Case {
        const char *label;
        void (*wrap)();
        const char *pattern;
    };
    const Case cases[] = {
        {"no texture units", [] { Fake_Texture_Units::units = 0; },
         "Assertion failed: GL_MAX_TEXTURE_IMAGE_UNITS is 0; it must be greater than 0"},
        {"negative texture units", [] { Fake_Texture_Units::units = -4; },
         "GL_MAX_TEXTURE_IMAGE_UNITS is -4"},
        {"a program that does not compile", [] { glGetShaderiv = compile_fails; },
         "vertex shader failed to compile.*Assertion failed: The standard program failed to build"},
        {"no name for a cache texture", [] { glGenTextures = gen_no_texture; },
         "Assertion failed: GL gave no texture name for blur cache 0"},
        {"an incomplete cache", [] { glCheckFramebufferStatus = status_unsupported; },
         "failed to complete framebuffer \\(GL_FRAMEBUFFER_UNSUPPORTED\\).*"
         "Assertion failed: Blur cache 0 is not a complete framebuffer"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Fake_Texture_Units units(get_integer(GL_MAX_TEXTURE_IMAGE_UNITS));
        c.wrap();
        EXPECT_DEATH(renderer_init(), c.pattern);
        glGenTextures = real_gen_textures;
        glCheckFramebufferStatus = real_check_status;
        glGetShaderiv = real_get_shader;
    }
}

} // namespace
} // namespace tessera
