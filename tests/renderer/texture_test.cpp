#include "renderer/texture.h"

#include "capture.h"
#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessera {
namespace {

// Every test leaves no GL error behind and GL's default pixel storage and unit.
struct Texture_Test : test::GL_Test {
    void TearDown() override {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        texture_bind(0, 0);
    }
};
using Texture_DeathTest = Texture_Test;

// Level 0 of `t`, rows unpadded, in `format` (GL_RED ... GL_RGBA).
std::vector<u8> read_texture(const Texture &t, GLenum format, s32 channels) {
    std::vector<u8> pixels(static_cast<size_t>(t.width * t.height * channels));
    bind(t, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, format, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return pixels;
}

GLint texture_parameter(const Texture &t, GLenum name) {
    GLint v = -1;
    bind(t, 0);
    glGetTexParameteriv(GL_TEXTURE_2D, name, &v);
    return v;
}

GLint level_parameter(const Texture &t, GLenum name) {
    GLint v = -1;
    bind(t, 0);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, name, &v);
    return v;
}

GLint integer(GLenum name) {
    GLint v = -1;
    glGetIntegerv(name, &v);
    return v;
}

// Distinct, non-zero bytes, so a shifted or padded row shows.
std::vector<u8> pattern(size_t count) {
    std::vector<u8> bytes(count);
    for (size_t i = 0; i < count; i++) bytes[i] = static_cast<u8>(i * 7 + 1);
    return bytes;
}

// ---- Formats -----------------------------------------------------------------------

TEST(Texture_Format_Table, ChannelCountsToFormats) {
    struct Case {
        u32 channels;
        u32 data_format;
        s32 internal_format;
    } cases[] = {
        {0, 0, 0}, {1, GL_RED, GL_R8},  {2, GL_RG, GL_RG8}, {3, GL_RGB, GL_RGB8}, {4, GL_RGBA, GL_RGBA8},
        {5, 0, 0}, {0xffffffffu, 0, 0},
    };
    for (const Case &c : cases) {
        Texture_Format f = get_texture_format(c.channels);
        EXPECT_EQ(f.data_format, c.data_format) << c.channels;
        EXPECT_EQ(f.internal_format, c.internal_format) << c.channels;
    }
}

// ---- init --------------------------------------------------------------------------

// Odd widths make rows that are not multiples of 4 bytes for every channel
// count; they arrive unpadded even when the unpack alignment was 4 before.
TEST_F(Texture_Test, InitUploadsUnpaddedRowsForEveryChannelCount) {
    const GLenum formats[] = {GL_RED, GL_RG, GL_RGB, GL_RGBA};
    const s32 internal_formats[] = {GL_R8, GL_RG8, GL_RGB8, GL_RGBA8};
    for (u32 channels = 1; channels <= 4; channels++) {
        SCOPED_TRACE(channels);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        std::vector<u8> data = pattern(5 * 3 * channels);
        Texture t = {};
        ASSERT_TRUE(init(&t, 5, 3, channels, data.data(), 0, GL_LINEAR, GL_CLAMP_TO_EDGE));

        EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 1);
        EXPECT_EQ(t.width, 5);
        EXPECT_EQ(t.height, 3);
        EXPECT_EQ(t.channels, channels);
        EXPECT_EQ(t.internal_format, internal_formats[channels - 1]);
        EXPECT_EQ(t.lod, 0u);
        EXPECT_EQ(read_texture(t, formats[channels - 1], static_cast<s32>(channels)), data);
        EXPECT_EQ(level_parameter(t, GL_TEXTURE_INTERNAL_FORMAT), internal_formats[channels - 1]);
        EXPECT_EQ(texture_parameter(t, GL_TEXTURE_MIN_FILTER), GL_LINEAR);
        EXPECT_EQ(texture_parameter(t, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
        EXPECT_EQ(texture_parameter(t, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
        EXPECT_EQ(texture_parameter(t, GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
        deinit(&t);
    }
}

TEST_F(Texture_Test, InitLeavesUnitZeroActiveWithNothingBound) {
    texture_bind(0, 5);
    Texture t = {};
    ASSERT_TRUE(init(&t, 2, 2, 4, nullptr));
    EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);
    EXPECT_TRUE(glIsTexture(t.id));
    deinit(&t);
}

TEST_F(Texture_Test, ShortInitUsesTheSystemDefaults) {
    const u8 data[] = {10, 20, 30, 40};
    Texture t = {};
    ASSERT_TRUE(init(&t, 2, 2, 1, data));
    EXPECT_EQ(t.internal_format, GL_R8);
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_WRAP_S), GL_MIRRORED_REPEAT);
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_WRAP_T), GL_MIRRORED_REPEAT);
    EXPECT_EQ(read_texture(t, GL_RED, 1), std::vector<u8>(data, data + 4));
    deinit(&t);
}

// By GL's rules a red-only upload into RGBA storage reads as (r, 0, 0, 1).
TEST_F(Texture_Test, OneChannelIntoRgbaStorage) {
    const u8 data[] = {9, 99, 199};
    Texture t = {};
    ASSERT_TRUE(init(&t, 3, 1, 1, data, GL_RGBA8, GL_NEAREST, GL_REPEAT));
    EXPECT_EQ(t.internal_format, GL_RGBA8);
    EXPECT_EQ(t.channels, 1u);
    EXPECT_EQ(level_parameter(t, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA8);
    EXPECT_EQ(read_texture(t, GL_RGBA, 4), (std::vector<u8>{9, 0, 0, 255, 99, 0, 0, 255, 199, 0, 0, 255}));
    deinit(&t);
}

// Captures the names handed to glDeleteTextures.
std::vector<GLuint> deleted_textures;
PFNGLDELETETEXTURESPROC real_delete_textures = nullptr;
void APIENTRY recording_delete_textures(GLsizei n, const GLuint *names) {
    for (GLsizei i = 0; i < n; i++) deleted_textures.push_back(names[i]);
    real_delete_textures(n, names);
}

struct Recorded_Deletes {
    Recorded_Deletes() {
        deleted_textures.clear();
        real_delete_textures = glDeleteTextures;
        glDeleteTextures = recording_delete_textures;
    }
    ~Recorded_Deletes() { glDeleteTextures = real_delete_textures; }
};

TEST_F(Texture_Test, InitTwiceDeletesTheFirstTexture) {
    const u8 first[] = {1, 2, 3, 4};
    const u8 second[] = {5, 6, 7, 8, 9, 10};
    Texture t = {};
    ASSERT_TRUE(init(&t, 2, 2, 1, first));
    const u32 first_id = t.id;
    {
        Recorded_Deletes deletes;
        ASSERT_TRUE(init(&t, 3, 2, 1, second));
        EXPECT_EQ(deleted_textures, std::vector<GLuint>{first_id});
    }
    EXPECT_NE(t.id, 0u);
    if (t.id != first_id) {
        EXPECT_FALSE(glIsTexture(first_id));
    }
    EXPECT_TRUE(glIsTexture(t.id));
    EXPECT_EQ(t.width, 3);
    EXPECT_EQ(read_texture(t, GL_RED, 1), std::vector<u8>(second, second + 6));
    deinit(&t);
}

PFNGLGENTEXTURESPROC real_gen_textures = nullptr;
void APIENTRY gen_no_texture(GLsizei n, GLuint *names) {
    for (GLsizei i = 0; i < n; i++) names[i] = 0;
}

// No name: false with the cause logged once, the earlier texture gone, id 0.
TEST_F(Texture_Test, InitWithoutANameFails) {
    Texture t = {};
    ASSERT_TRUE(init(&t, 2, 2, 4, nullptr));
    const u32 earlier = t.id;

    real_gen_textures = glGenTextures;
    glGenTextures = gen_no_texture;
    test::Recording_Logger recorder;
    const bool ok = init(&t, 4, 4, 4, nullptr);
    glGenTextures = real_gen_textures;

    EXPECT_FALSE(ok);
    EXPECT_EQ(t.id, 0u);
    EXPECT_FALSE(glIsTexture(earlier));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, TEXTURE_NO_NAME_MESSAGE);
    EXPECT_EQ(recorder.messages[0].flags, Log_Flags::ERROR);
}

// ---- deinit, bind ------------------------------------------------------------------

TEST_F(Texture_Test, DeinitDeletesOnceAndIgnoresAZeroRecord) {
    Recorded_Deletes deletes;
    Texture zero = {};
    deinit(&zero);
    EXPECT_TRUE(deleted_textures.empty());

    Texture t = {};
    ASSERT_TRUE(init(&t, 1, 1, 4, nullptr));
    const u32 id = t.id;
    deinit(&t);
    deinit(&t);
    EXPECT_EQ(t.id, 0u);
    EXPECT_EQ(deleted_textures, std::vector<GLuint>{id});
    EXPECT_FALSE(glIsTexture(id));
}

TEST_F(Texture_Test, BindLeavesItsUnitActive) {
    Texture t = {};
    ASSERT_TRUE(init(&t, 1, 1, 4, nullptr));
    bind(t, 3);
    EXPECT_EQ(integer(GL_ACTIVE_TEXTURE), GL_TEXTURE0 + 3);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(t.id));
    texture_bind(0, 3);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), 0);
    deinit(&t);
}

// ---- resize, update, swizzle -------------------------------------------------------

TEST_F(Texture_Test, ResizeKeepsParametersAndFormat) {
    const s32 filters[] = {GL_NEAREST, GL_LINEAR};
    for (s32 filter : filters) {
        SCOPED_TRACE(filter);
        Texture t = {};
        ASSERT_TRUE(init(&t, 4, 4, 3, nullptr, 0, filter, GL_CLAMP_TO_EDGE));
        resize(&t, 17, 9);

        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(t.id)); // stays bound
        EXPECT_EQ(t.width, 17);
        EXPECT_EQ(t.height, 9);
        EXPECT_EQ(t.channels, 3u);
        EXPECT_EQ(t.internal_format, GL_RGB8);
        EXPECT_EQ(level_parameter(t, GL_TEXTURE_WIDTH), 17);
        EXPECT_EQ(level_parameter(t, GL_TEXTURE_HEIGHT), 9);
        EXPECT_EQ(level_parameter(t, GL_TEXTURE_INTERNAL_FORMAT), GL_RGB8);
        EXPECT_EQ(texture_parameter(t, GL_TEXTURE_MIN_FILTER), filter);
        EXPECT_EQ(texture_parameter(t, GL_TEXTURE_MAG_FILTER), filter);
        EXPECT_EQ(texture_parameter(t, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
        EXPECT_EQ(texture_parameter(t, GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
        deinit(&t);
    }
}

// A 3 by 2 rectangle of a GL_R8 texture changes exactly its six texels, even
// when the unpack alignment was left at 4 (3-byte rows would then be misread).
TEST_F(Texture_Test, UpdateChangesExactlyItsRectangle) {
    const s32 w = 32, h = 32;
    std::vector<u8> before(w * h, 0x11);
    Texture t = {};
    ASSERT_TRUE(init(&t, w, h, 1, before.data()));

    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    const u8 rect[] = {1, 2, 3, 4, 5, 6};
    update(&t, rect, 10, 20, 3, 2, 1);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(t.id));
    EXPECT_EQ(t.width, w);
    EXPECT_EQ(t.height, h);

    std::vector<u8> expected = before;
    for (s32 y = 0; y < 2; y++) {
        for (s32 x = 0; x < 3; x++) expected[(20 + y) * w + 10 + x] = rect[y * 3 + x];
    }
    EXPECT_EQ(read_texture(t, GL_RED, 1), expected);
    deinit(&t);
}

TEST_F(Texture_Test, UpdateWithMoreChannelsThanTheTexture) {
    Texture t = {};
    ASSERT_TRUE(init(&t, 4, 1, 1, nullptr, GL_RGBA8, GL_NEAREST, GL_REPEAT));
    const u8 rgba[] = {10, 20, 30, 40, 50, 60, 70, 80};
    update(&t, rgba, 1, 0, 2, 1, 4);
    std::vector<u8> got = read_texture(t, GL_RGBA, 4);
    EXPECT_EQ(std::vector<u8>(got.begin() + 4, got.begin() + 12), std::vector<u8>(rgba, rgba + 8));
    deinit(&t);
}

TEST_F(Texture_Test, FontSwizzleSamplesWhiteWithRedAsAlpha) {
    Texture t = {};
    ASSERT_TRUE(init(&t, 2, 2, 1, nullptr));
    set_texture_swizzle_mask_for_fonts(&t);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(t.id));
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_SWIZZLE_R), GL_ONE);
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_SWIZZLE_G), GL_ONE);
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_SWIZZLE_B), GL_ONE);
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_SWIZZLE_A), GL_RED);

    // The swizzle belongs to the object: new storage keeps it.
    resize(&t, 8, 8);
    EXPECT_EQ(texture_parameter(t, GL_TEXTURE_SWIZZLE_A), GL_RED);
    deinit(&t);
}

// ---- Broken invariants -------------------------------------------------------------

TEST_F(Texture_DeathTest, InitRejectsChannelCountsOutsideOneToFour) {
    for (u32 channels : {0u, 5u}) {
        Texture t = {};
        EXPECT_DEATH(init(&t, 1, 1, channels, nullptr),
                     "Assertion failed: texture channels has to be between 1 and 4\n");
    }
}

TEST_F(Texture_DeathTest, UpdateRejectsChannelCountsOutsideOneToFour) {
    Texture t = {};
    ASSERT_TRUE(init(&t, 4, 4, 1, nullptr));
    const u8 data[64] = {};
    for (u32 channels : {0u, 5u}) {
        EXPECT_DEATH(update(&t, data, 0, 0, 1, 1, channels),
                     "Assertion failed: texture channels can be between 1 and 4\n");
    }
    deinit(&t);
}

TEST_F(Texture_DeathTest, UpdateRejectsNullData) {
    Texture t = {};
    ASSERT_TRUE(init(&t, 4, 4, 1, nullptr));
    EXPECT_DEATH(update(&t, nullptr, 0, 0, 1, 1, 1), "texture\\.cpp:[0-9]+: Assertion failed\nStack trace:");
    deinit(&t);
}

// resize derives the format from the recorded count: a bare assertion.
TEST_F(Texture_DeathTest, ResizeRejectsARecordWithoutChannels) {
    Texture t = {};
    ASSERT_TRUE(init(&t, 4, 4, 1, nullptr));
    Texture broken = t;
    broken.channels = 0;
    EXPECT_DEATH(resize(&broken, 8, 8), "texture\\.cpp:[0-9]+: Assertion failed\nStack trace:");
    deinit(&t);
}

} // namespace
} // namespace tessera
