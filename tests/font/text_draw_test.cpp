// A word drawn at the font's base size reaches the screen as FreeType's own
// coverage, glyph by glyph: atlas placement, texture coordinates, the font
// swizzle, the pen walk and blending all have to agree for that.
#include "dynamic_font.h"
#include "renderer/flush.h"
#include "renderer/framebuffer.h"
#include "renderer/renderer.h"
#include "renderer/text.h"

#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tessera {
namespace {

constexpr s32 W = 800;
constexpr s32 H = 600;

struct Placed_Glyph {
    s32 x, y;    // top-left pixel
    s32 w, h;
    std::vector<u8> coverage; // FreeType's bitmap, rows top to bottom
};

TEST(Text_Drawing, WordAtBaseSizeShowsFreeTypeCoverage) {
    ASSERT_TRUE(test::gl_test_context());
    renderer.width = W;
    renderer.height = H;
    renderer_init();
    renderer.projection_matrix = {2.0f / W, 0, 0, -1, 0, -2.0f / H, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1};
    Render_Texture target;
    ASSERT_TRUE(init(&target.tx, W, H, 4, nullptr, GL_RGBA8, GL_NEAREST, GL_CLAMP_TO_EDGE));
    init(&target.fb);
    attach(&target.fb, target.tx, GL_COLOR_ATTACHMENT0);
    ASSERT_TRUE(check(&target.fb));
    glViewport(0, 0, W, H);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    std::ifstream in(TESSERA_SOURCE_DIR "/res/fonts/DejaVuSans.ttf", std::ios::binary);
    std::vector<u8> bytes(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(bytes.empty());
    Dynamic_Font font;
    ASSERT_TRUE(init(&font, {static_cast<s64>(bytes.size()), bytes.data()}, 64, 4));
    ASSERT_TRUE(make_atlas(&font, true));

    // Letters whose boxes do not touch at this size, one with a descender.
    const std::string word = "Hiqk#T";
    const Vector2 pen = {40, 200};
    draw_text(&font.base, String{static_cast<s64>(word.size()), (u8 *)word.data()}, 64, pen, {1, 1, 1, 1});
    flush();
    std::vector<u8> got(static_cast<size_t>(W) * H * 4);
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, got.data());
    auto red = [&](s32 x, s32 y) { return got[(static_cast<size_t>(H - 1 - y) * W + x) * 4]; };

    // The reference: FreeType on its own, same size and flags.
    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face face;
    ASSERT_EQ(FT_New_Memory_Face(library, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &face), 0);
    ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, 64), 0);
    std::vector<Placed_Glyph> placed;
    s32 x = 0;
    for (char c : word) {
        ASSERT_EQ(FT_Load_Char(face, static_cast<FT_ULong>(c),
                               FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT),
                  0);
        const FT_Bitmap &b = face->glyph->bitmap;
        Placed_Glyph g = {static_cast<s32>(pen.x) + x + face->glyph->bitmap_left,
                          static_cast<s32>(pen.y) - face->glyph->bitmap_top, static_cast<s32>(b.width),
                          static_cast<s32>(b.rows), {}};
        for (u32 row = 0; row < b.rows; row++)
            g.coverage.insert(g.coverage.end(), b.buffer + row * b.pitch, b.buffer + row * b.pitch + b.width);
        placed.push_back(g);
        x += static_cast<s32>(face->glyph->advance.x >> 6);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);

    for (size_t i = 0; i < placed.size(); i++) {
        SCOPED_TRACE(std::string("glyph ") + word[i]);
        const Placed_Glyph &g = placed[i];
        if (i > 0) {
            ASSERT_LE(placed[i - 1].x + placed[i - 1].w, g.x) << "the fixture's boxes overlap";
        }
        s32 mismatches = 0, inked = 0;
        for (s32 y = 0; y < g.h; y++)
            for (s32 gx = 0; gx < g.w; gx++) {
                s32 want = g.coverage[static_cast<size_t>(y) * g.w + gx];
                if (want > 0) inked++;
                // White at alpha = coverage over black: red is the coverage.
                if (std::abs(red(g.x + gx, g.y + y) - want) > 1) mismatches++;
            }
        EXPECT_GT(inked, 20);
        EXPECT_EQ(mismatches, 0);
        // Nothing leaks to the column left of the box or the row under it.
        for (s32 y = 0; y < g.h; y++) EXPECT_EQ(red(g.x - 1, g.y + y), 0);
        for (s32 gx = 0; gx < g.w; gx++) EXPECT_EQ(red(g.x + gx, g.y + g.h), 0);
    }

    deinit(&font);
    framebuffer_bind(0);
    deinit(&target.fb);
    deinit(&target.tx);
    renderer_deinit();
}

} // namespace
} // namespace tessera
