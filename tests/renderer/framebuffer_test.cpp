#include "renderer/framebuffer.h"

#include "capture.h"
#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tessera {
namespace {

// Every test leaves no GL error behind and the window's framebuffer bound.
struct Framebuffer_Test : test::GL_Test {
    void TearDown() override {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        framebuffer_bind(0);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        texture_bind(0, 0);
    }
};
using Framebuffer_DeathTest = Framebuffer_Test;

GLint integer(GLenum name) {
    GLint v = -1;
    glGetIntegerv(name, &v);
    return v;
}

// Pixel (x, y) of the pattern: red 16x, green 16y, blue 7, alpha 255.
std::vector<u8> rgba_pattern(s32 w, s32 h) {
    std::vector<u8> bytes;
    for (s32 y = 0; y < h; y++) {
        for (s32 x = 0; x < w; x++) {
            bytes.insert(bytes.end(), {static_cast<u8>(16 * x), static_cast<u8>(16 * y), 7, 255});
        }
    }
    return bytes;
}

// A render texture the way the renderer makes its caches: texture, framebuffer
// (left bound), attachment, check.
bool make_render_texture(Render_Texture *rt, s32 w, s32 h, const u8 *data) {
    if (!init(&rt->tx, w, h, 4, data, GL_RGBA8, GL_LINEAR, GL_MIRRORED_REPEAT)) return false;
    init(&rt->fb);
    attach(&rt->fb, rt->tx, GL_COLOR_ATTACHMENT0);
    return check(&rt->fb);
}

void free_render_texture(Render_Texture *rt) {
    deinit(&rt->fb);
    deinit(&rt->tx);
}

// Reads w by h RGBA pixels of the framebuffer bound for reading.
std::vector<u8> read_rgba(s32 x, s32 y, u32 w, u32 h) {
    std::vector<u8> pixels(static_cast<size_t>(framebuffer_read_size(w, h, 4)));
    read(nullptr, pixels.data(), x, y, w, h, 4);
    return pixels;
}

// ---- init, bind, attach ------------------------------------------------------------

TEST_F(Framebuffer_Test, InitAndBindSelectTheFramebuffer) {
    Framebuffer fb = {};
    init(&fb);
    EXPECT_NE(fb.id, 0u);
    EXPECT_TRUE(glIsFramebuffer(fb.id));
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), static_cast<GLint>(fb.id));
    framebuffer_bind(0);
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), 0);
    bind(&fb);
    EXPECT_EQ(integer(GL_DRAW_FRAMEBUFFER_BINDING), static_cast<GLint>(fb.id));
    EXPECT_EQ(integer(GL_READ_FRAMEBUFFER_BINDING), static_cast<GLint>(fb.id));
    deinit(&fb);
}

// The texture form attaches the texture's `lod`, binding it on unit 0 first.
TEST_F(Framebuffer_Test, AttachTextureUsesUnitZeroAndTheRecordedLevel) {
    Texture t = {};
    ASSERT_TRUE(init(&t, 4, 4, 4, nullptr));
    Framebuffer fb = {};
    init(&fb);
    texture_bind(0, 6);

    for (u32 lod : {0u, 1u}) {
        Texture at = t;
        at.lod = lod;
        attach(&fb, at, GL_COLOR_ATTACHMENT0);
        EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(t.id));
        GLint name = -1, level = -1;
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                              GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                              GL_FRAMEBUFFER_ATTACHMENT_TEXTURE_LEVEL, &level);
        EXPECT_EQ(name, static_cast<GLint>(t.id));
        EXPECT_EQ(level, static_cast<GLint>(lod));
    }
    deinit(&fb);
    deinit(&t);
}

// ---- check -------------------------------------------------------------------------

TEST_F(Framebuffer_Test, CheckReportsAMissingAttachment) {
    Framebuffer fb = {};
    init(&fb);
    test::Recording_Logger recorder;
    EXPECT_FALSE(check(&fb));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text,
              "failed to complete framebuffer (GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT)\n");
    EXPECT_EQ(recorder.messages[0].flags, Log_Flags::ERROR);
    deinit(&fb);
}

// A 0 by 0 image is an attachment GL cannot draw into.
TEST_F(Framebuffer_Test, CheckReportsAnIncompleteAttachment) {
    Texture empty = {};
    ASSERT_TRUE(init(&empty, 0, 0, 4, nullptr));
    Framebuffer fb = {};
    init(&fb);
    attach(&fb, empty, GL_COLOR_ATTACHMENT0);
    test::Recording_Logger recorder;
    EXPECT_FALSE(check(&fb));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text,
              "failed to complete framebuffer (GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT)\n");
    deinit(&fb);
    deinit(&empty);
}

GLenum fake_status = 0;
GLenum APIENTRY fake_check_status(GLenum) {
    return fake_status;
}

// Statuses GL does not produce here on demand; those without a text keep the
// parentheses around an empty cause.
TEST_F(Framebuffer_Test, CheckNamesOnlyTheListedStatuses) {
    struct Case {
        GLenum status;
        const char *message;
    } cases[] = {
        {GL_FRAMEBUFFER_UNSUPPORTED, "failed to complete framebuffer (GL_FRAMEBUFFER_UNSUPPORTED)\n"},
        {GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER, "failed to complete framebuffer ()\n"},
        {GL_FRAMEBUFFER_UNDEFINED, "failed to complete framebuffer ()\n"},
        {0, "failed to complete framebuffer ()\n"}, // what an error in the query returns
    };
    PFNGLCHECKFRAMEBUFFERSTATUSPROC real = glCheckFramebufferStatus;
    glCheckFramebufferStatus = fake_check_status;
    for (const Case &c : cases) {
        fake_status = c.status;
        test::Recording_Logger recorder;
        EXPECT_FALSE(check(nullptr)) << c.status;
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].text, c.message);
        EXPECT_EQ(recorder.messages[0].flags, Log_Flags::ERROR);
    }
    glCheckFramebufferStatus = real;
}

// ---- Render textures ---------------------------------------------------------------

TEST_F(Framebuffer_Test, RenderTextureIsCompleteDrawsAndReadsBack) {
    Render_Texture rt = {};
    test::Recording_Logger recorder;
    ASSERT_TRUE(make_render_texture(&rt, 6, 5, nullptr));
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(integer(GL_FRAMEBUFFER_BINDING), static_cast<GLint>(rt.fb.id));

    glClearColor(0.2f, 0.4f, 0.6f, 0.8f);
    glClear(GL_COLOR_BUFFER_BIT);
    std::vector<u8> expected;
    for (s32 i = 0; i < 6 * 5; i++) expected.insert(expected.end(), {51, 102, 153, 204});
    EXPECT_EQ(read_rgba(0, 0, 6, 5), expected);

    // Resized through its texture, it keeps the attachment and stays complete.
    resize(&rt.tx, 9, 3);
    bind(&rt.fb);
    EXPECT_TRUE(check(&rt.fb));
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    expected.clear();
    for (s32 i = 0; i < 9 * 3; i++) expected.insert(expected.end(), {255, 0, 0, 255});
    EXPECT_EQ(read_rgba(0, 0, 9, 3), expected);
    free_render_texture(&rt);
}

// ---- blit --------------------------------------------------------------------------

struct Blit_Call {
    GLint args[8];
    GLbitfield mask;
    GLenum filter;
};
std::vector<Blit_Call> blit_calls;
PFNGLBLITFRAMEBUFFERPROC real_blit = nullptr;
bool forward_blit = true;

void APIENTRY recording_blit(GLint a, GLint b, GLint c, GLint d, GLint e, GLint f, GLint g, GLint h,
                             GLbitfield mask, GLenum filter) {
    blit_calls.push_back({{a, b, c, d, e, f, g, h}, mask, filter});
    if (forward_blit) real_blit(a, b, c, d, e, f, g, h, mask, filter);
}

struct Recorded_Blits {
    explicit Recorded_Blits(bool forward) {
        blit_calls.clear();
        forward_blit = forward;
        real_blit = glBlitFramebuffer;
        glBlitFramebuffer = recording_blit;
    }
    ~Recorded_Blits() { glBlitFramebuffer = real_blit; }
};

// (0.9, 0.9)-(10.7, 10.7) is the integer rectangle (0, 0)-(10, 10): the first
// ten rows and columns arrive unscaled, the eleventh keeps the clear colour.
TEST_F(Framebuffer_Test, BlitTruncatesIntoTheWindowFramebuffer) {
    Render_Texture src = {};
    std::vector<u8> pattern = rgba_pattern(16, 16);
    ASSERT_TRUE(make_render_texture(&src, 16, 16, pattern.data()));

    framebuffer_bind(0);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);

    const Rect r = {{{0.9f, 0.9f, 10.7f, 10.7f}}};
    {
        Recorded_Blits blits(true);
        blit(&src.fb, nullptr, r, r, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        ASSERT_EQ(blit_calls.size(), 1u);
        const GLint expected[8] = {0, 0, 10, 10, 0, 0, 10, 10};
        for (int i = 0; i < 8; i++) EXPECT_EQ(blit_calls[0].args[i], expected[i]) << i;
        EXPECT_EQ(blit_calls[0].mask, static_cast<GLbitfield>(GL_COLOR_BUFFER_BIT));
        EXPECT_EQ(blit_calls[0].filter, static_cast<GLenum>(GL_NEAREST));
    }
    EXPECT_EQ(integer(GL_READ_FRAMEBUFFER_BINDING), static_cast<GLint>(src.fb.id));
    EXPECT_EQ(integer(GL_DRAW_FRAMEBUFFER_BINDING), 0);

    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    std::vector<u8> got = read_rgba(0, 0, 12, 12);
    for (s32 y = 0; y < 12; y++) {
        for (s32 x = 0; x < 12; x++) {
            const u8 *p = &got[(y * 12 + x) * 4];
            std::vector<u8> want = {0, 0, 0, 0};
            if (x < 10 && y < 10) want = {static_cast<u8>(16 * x), static_cast<u8>(16 * y), 7, 255};
            // The window's framebuffer may have no alpha channel; compare colour only.
            EXPECT_EQ(std::vector<u8>(p, p + 3), std::vector<u8>(want.begin(), want.begin() + 3))
                << x << ", " << y;
        }
    }
    free_render_texture(&src);
}

TEST_F(Framebuffer_Test, BlitBetweenFramebuffersPassesCoordinatesInOrder) {
    Render_Texture a = {}, b = {};
    ASSERT_TRUE(make_render_texture(&a, 8, 8, nullptr));
    ASSERT_TRUE(make_render_texture(&b, 8, 8, nullptr));
    Recorded_Blits blits(false);
    blit(&a.fb, &b.fb, Rect{{{1.5f, 2.5f, 3.5f, 4.5f}}}, Rect{{{5.9f, 6.9f, 7.9f, 8.9f}}},
         GL_COLOR_BUFFER_BIT, GL_LINEAR);
    ASSERT_EQ(blit_calls.size(), 1u);
    const GLint expected[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int i = 0; i < 8; i++) EXPECT_EQ(blit_calls[0].args[i], expected[i]) << i;
    EXPECT_EQ(blit_calls[0].filter, static_cast<GLenum>(GL_LINEAR));
    EXPECT_EQ(integer(GL_READ_FRAMEBUFFER_BINDING), static_cast<GLint>(a.fb.id));
    EXPECT_EQ(integer(GL_DRAW_FRAMEBUFFER_BINDING), static_cast<GLint>(b.fb.id));
    free_render_texture(&a);
    free_render_texture(&b);
}

// Truncation toward zero; values no s32 holds saturate and NaN becomes 0,
// where a plain cast would be undefined behaviour.
TEST_F(Framebuffer_Test, BlitCoordinatesSaturate) {
    const f32 inf = std::numeric_limits<f32>::infinity();
    struct Case {
        f32 in;
        GLint out;
    } cases[] = {
        {-0.9f, 0},
        {-10.7f, -10},
        {2147483520.0f, 2147483520}, // the largest float below 2^31
        {2147483648.0f, INT_MAX},
        {1e20f, INT_MAX},
        {inf, INT_MAX},
        {-2147483648.0f, INT_MIN},
        {-2147483904.0f, INT_MIN}, // the next float down
        {-inf, INT_MIN},
        {std::nanf(""), 0},
        {-std::nanf(""), 0},
    };
    Framebuffer fb = {};
    init(&fb);
    Recorded_Blits blits(false);
    for (const Case &c : cases) {
        blit_calls.clear();
        const Rect r = {{{c.in, c.in, c.in, c.in}}};
        blit(&fb, nullptr, r, r, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        ASSERT_EQ(blit_calls.size(), 1u);
        for (int i = 0; i < 8; i++) EXPECT_EQ(blit_calls[0].args[i], c.out) << c.in << " at " << i;
    }
    deinit(&fb);
}

// ---- read --------------------------------------------------------------------------

TEST(Framebuffer_Read_Size, RowsArePaddedToFourBytes) {
    struct Case {
        u32 w, h, channels;
        s64 bytes;
    } cases[] = {
        {3, 2, 3, 24}, // 9 bytes a row, padded to 12
        {1, 1, 1, 4},  {4, 1, 1, 4},
        {5, 2, 1, 16}, {3, 3, 2, 24},
        {2, 3, 4, 24}, {0, 5, 4, 0},
        {7, 0, 3, 0},  {0xffffffffu, 0xffffffffu, 4, INT64_MAX}, // no buffer is that large
    };
    for (const Case &c : cases) {
        EXPECT_EQ(framebuffer_read_size(c.w, c.h, c.channels), c.bytes)
            << c.w << "x" << c.h << "x" << c.channels;
    }
}

// A 3 by 2 rectangle needs exactly the padded size; nothing past it is
// written, even when other code left a wider pack alignment behind.
TEST_F(Framebuffer_Test, ReadFillsExactlyThePaddedRows) {
    Render_Texture rt = {};
    std::vector<u8> pattern = rgba_pattern(8, 8);
    ASSERT_TRUE(make_render_texture(&rt, 8, 8, pattern.data()));

    const u8 GUARD = 0xab;
    for (u32 channels = 1; channels <= 4; channels++) {
        SCOPED_TRACE(channels);
        const s64 size = framebuffer_read_size(3, 2, channels);
        std::vector<u8> buffer(static_cast<size_t>(size) + 16, GUARD);
        glPixelStorei(GL_PACK_ALIGNMENT, 8);
        read(&rt.fb, buffer.data(), 4, 5, 3, 2, channels);

        const s64 row = size / 2;
        for (s32 y = 0; y < 2; y++) {
            for (s32 x = 0; x < 3; x++) {
                const u8 *src = &pattern[((5 + y) * 8 + 4 + x) * 4];
                const u8 *got = &buffer[y * row + x * channels];
                EXPECT_EQ(std::vector<u8>(got, got + channels), std::vector<u8>(src, src + channels))
                    << x << ", " << y;
            }
        }
        for (size_t i = static_cast<size_t>(size); i < buffer.size(); i++) EXPECT_EQ(buffer[i], GUARD) << i;
    }
    EXPECT_EQ(framebuffer_read_size(3, 2, 3), 24);
    free_render_texture(&rt);
}

// ---- Draw buffers ------------------------------------------------------------------

// Only the selected attachment is cleared.
TEST_F(Framebuffer_Test, DrawBuffersSelectTheAttachmentsDrawnTo) {
    const std::vector<u8> black(4 * 4 * 4, 0);
    Texture t0 = {}, t1 = {};
    ASSERT_TRUE(init(&t0, 4, 4, 4, black.data()));
    ASSERT_TRUE(init(&t1, 4, 4, 4, black.data()));
    Framebuffer fb = {};
    init(&fb);
    attach(&fb, t0, GL_COLOR_ATTACHMENT0);
    attach(&fb, t1, GL_COLOR_ATTACHMENT1);
    ASSERT_TRUE(check(&fb));

    u32 to[] = {GL_NONE, GL_COLOR_ATTACHMENT1};
    _glDrawBuffers({2, to});
    EXPECT_EQ(integer(GL_DRAW_BUFFER0), GL_NONE);
    EXPECT_EQ(integer(GL_DRAW_BUFFER1), GL_COLOR_ATTACHMENT1);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    auto contents = [](const Texture &t) {
        std::vector<u8> pixels(4 * 4 * 4);
        bind(t, 0);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    };
    std::vector<u8> green;
    for (int i = 0; i < 16; i++) green.insert(green.end(), {0, 255, 0, 255});
    EXPECT_EQ(contents(t0), black);
    EXPECT_EQ(contents(t1), green);

    deinit(&fb);
    deinit(&t0);
    deinit(&t1);
}

// ---- Renderbuffers -----------------------------------------------------------------

TEST_F(Framebuffer_Test, RenderbufferHasRgbaStorageAndDrawsAsAnAttachment) {
    Renderbuffer rb = {};
    init(&rb, 7, 5);
    EXPECT_NE(rb.id, 0u);
    EXPECT_EQ(integer(GL_RENDERBUFFER_BINDING), static_cast<GLint>(rb.id));
    EXPECT_EQ(rb.width, 7u);
    EXPECT_EQ(rb.height, 5u);
    auto storage = [](GLenum name) {
        GLint v = -1;
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, name, &v);
        return v;
    };
    EXPECT_EQ(storage(GL_RENDERBUFFER_WIDTH), 7);
    EXPECT_EQ(storage(GL_RENDERBUFFER_HEIGHT), 5);
    EXPECT_EQ(storage(GL_RENDERBUFFER_INTERNAL_FORMAT), GL_RGBA8);

    bind(&rb);
    size(&rb, 3, 2);
    EXPECT_EQ(rb.width, 3u);
    EXPECT_EQ(rb.height, 2u);
    EXPECT_EQ(storage(GL_RENDERBUFFER_WIDTH), 3);

    Framebuffer fb = {};
    init(&fb);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    attach(&fb, rb, GL_COLOR_ATTACHMENT0);
    EXPECT_EQ(integer(GL_RENDERBUFFER_BINDING), static_cast<GLint>(rb.id));
    ASSERT_TRUE(check(&fb));
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    std::vector<u8> expected;
    for (int i = 0; i < 6; i++) expected.insert(expected.end(), {0, 0, 255, 255});
    EXPECT_EQ(read_rgba(0, 0, 3, 2), expected);

    deinit(&fb);
    deinit(&rb);
    EXPECT_EQ(rb.id, 0u);
}

// ---- deinit ------------------------------------------------------------------------

s32 framebuffer_deletes = 0, renderbuffer_deletes = 0;
PFNGLDELETEFRAMEBUFFERSPROC real_delete_framebuffers = nullptr;
PFNGLDELETERENDERBUFFERSPROC real_delete_renderbuffers = nullptr;
void APIENTRY counting_delete_framebuffers(GLsizei n, const GLuint *names) {
    framebuffer_deletes++;
    real_delete_framebuffers(n, names);
}
void APIENTRY counting_delete_renderbuffers(GLsizei n, const GLuint *names) {
    renderbuffer_deletes++;
    real_delete_renderbuffers(n, names);
}

TEST_F(Framebuffer_Test, DeinitOfAZeroRecordMakesNoCall) {
    framebuffer_deletes = renderbuffer_deletes = 0;
    real_delete_framebuffers = glDeleteFramebuffers;
    real_delete_renderbuffers = glDeleteRenderbuffers;
    glDeleteFramebuffers = counting_delete_framebuffers;
    glDeleteRenderbuffers = counting_delete_renderbuffers;

    Framebuffer fb = {};
    Renderbuffer rb = {};
    deinit(&fb);
    deinit(&rb);
    EXPECT_EQ(framebuffer_deletes, 0);
    EXPECT_EQ(renderbuffer_deletes, 0);

    // Live records are deleted once; a second deinit finds them at zero.
    init(&fb);
    init(&rb, 2, 2);
    const u32 fb_id = fb.id, rb_id = rb.id;
    for (int i = 0; i < 2; i++) {
        deinit(&fb);
        deinit(&rb);
    }
    EXPECT_EQ(framebuffer_deletes, 1);
    EXPECT_EQ(renderbuffer_deletes, 1);
    EXPECT_EQ(fb.id, 0u);
    EXPECT_EQ(rb.id, 0u);
    EXPECT_FALSE(glIsFramebuffer(fb_id));
    EXPECT_FALSE(glIsRenderbuffer(rb_id));

    glDeleteFramebuffers = real_delete_framebuffers;
    glDeleteRenderbuffers = real_delete_renderbuffers;
}

// ---- Broken invariants -------------------------------------------------------------

TEST_F(Framebuffer_DeathTest, ReadRejectsANullBufferAndUnusableChannelCounts) {
    u8 buffer[64] = {};
    EXPECT_DEATH(read(nullptr, nullptr, 0, 0, 1, 1, 4),
                 "framebuffer\\.cpp:[0-9]+: Assertion failed\nStack trace:");
    for (u32 channels : {0u, 5u}) {
        EXPECT_DEATH(read(nullptr, buffer, 0, 0, 1, 1, channels),
                     "framebuffer\\.cpp:[0-9]+: Assertion failed\nStack trace:");
    }
}

} // namespace
} // namespace tessera
