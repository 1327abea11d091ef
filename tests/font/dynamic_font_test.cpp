#include "dynamic_font.h"
#include "logger.h"

#include "base/format.h"
#include "capture.h"
#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

// ---- Counting FreeType calls -------------------------------------------------------
//
// The test binary defines the two FreeType entry points the font calls per glyph,
// so the library's calls land here first; they count and go on to FreeType's own.

namespace {
int freetype_glyph_calls = 0;

template <typename Proc>
Proc next_definition(const char *name) {
    return reinterpret_cast<Proc>(dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" FT_UInt FT_Get_Char_Index(FT_Face face, FT_ULong charcode) {
    static auto real = next_definition<FT_UInt (*)(FT_Face, FT_ULong)>("FT_Get_Char_Index");
    freetype_glyph_calls++;
    return real(face, charcode);
}

extern "C" FT_Error FT_Load_Glyph(FT_Face face, FT_UInt glyph_index, FT_Int32 load_flags) {
    static auto real = next_definition<FT_Error (*)(FT_Face, FT_UInt, FT_Int32)>("FT_Load_Glyph");
    freetype_glyph_calls++;
    return real(face, glyph_index, load_flags);
}

namespace tessera {
namespace {

const std::string PROJECT_FONT = TESSERA_SOURCE_DIR "/res/fonts/DejaVuSans.ttf";
const std::string MONO_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

std::vector<u8> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::vector<u8>(std::istreambuf_iterator<char>(in), {});
}

Array_View<u8> view(std::vector<u8> &bytes) {
    return {static_cast<s64>(bytes.size()), bytes.data()};
}

std::string formatted(String s) {
    return test::to_std(s);
}

// ---- TrueType patching (big-endian fields) -------------------------------------------

u32 be16(const std::vector<u8> &d, size_t at) {
    return static_cast<u32>(d[at] << 8 | d[at + 1]);
}
u32 be32(const std::vector<u8> &d, size_t at) {
    return be16(d, at) << 16 | be16(d, at + 2);
}
void put16(std::vector<u8> &d, size_t at, u32 v) {
    d[at] = static_cast<u8>(v >> 8);
    d[at + 1] = static_cast<u8>(v);
}
void put32(std::vector<u8> &d, size_t at, u32 v) {
    put16(d, at, v >> 16);
    put16(d, at + 2, v);
}

struct Table_Record {
    size_t offset = 0;
    size_t length = 0;
};

Table_Record find_table(const std::vector<u8> &d, const char tag[4]) {
    const u32 count = be16(d, 4);
    for (u32 t = 0; t < count; t++) {
        const size_t record = 12 + 16 * static_cast<size_t>(t);
        if (memcmp(&d[record], tag, 4) == 0) return {be32(d, record + 8), be32(d, record + 12)};
    }
    return {};
}

// Ends every Unicode mapping range that ends at `code_point` one earlier, so the
// face no longer maps it (formats 4 and 12). False when a range does not end there.
bool drop_last_code_point_of_range(std::vector<u8> &d, u32 code_point) {
    const Table_Record cmap = find_table(d, "cmap");
    const u32 subtables = be16(d, cmap.offset + 2);
    int patched = 0;
    std::vector<size_t> seen;
    for (u32 k = 0; k < subtables; k++) {
        const size_t at = cmap.offset + be32(d, cmap.offset + 4 + 8 * k + 4);
        if (std::find(seen.begin(), seen.end(), at) != seen.end()) continue;
        seen.push_back(at);
        if (be16(d, at) == 4) {
            const u32 segments = be16(d, at + 6) / 2;
            for (u32 s = 0; s < segments; s++) {
                const size_t end = at + 14 + 2 * s, start = at + 16 + 2 * segments + 2 * s;
                if (be16(d, start) <= code_point && code_point <= be16(d, end)) {
                    if (be16(d, end) != code_point || be16(d, start) == code_point) return false;
                    put16(d, end, code_point - 1);
                    patched++;
                }
            }
        } else if (be16(d, at) == 12) {
            const u32 groups = be32(d, at + 12);
            for (u32 g = 0; g < groups; g++) {
                const size_t start = at + 16 + 12 * g, end = start + 4;
                if (be32(d, start) <= code_point && code_point <= be32(d, end)) {
                    if (be32(d, end) != code_point || be32(d, start) == code_point) return false;
                    put32(d, end, code_point - 1);
                    patched++;
                }
            }
        }
    }
    return patched > 0;
}

// Every character map becomes a Microsoft symbol map: no Unicode map is left.
void make_cmaps_symbol_only(std::vector<u8> &d) {
    const Table_Record cmap = find_table(d, "cmap");
    const u32 subtables = be16(d, cmap.offset + 2);
    for (u32 k = 0; k < subtables; k++) {
        put16(d, cmap.offset + 4 + 8 * k, 3);
        put16(d, cmap.offset + 4 + 8 * k + 2, 0);
    }
}

// Fills the outline data of one glyph (or of all, for glyph_id < 0) with 0xFF.
void corrupt_outlines(std::vector<u8> &d, s64 glyph_id) {
    const Table_Record glyf = find_table(d, "glyf");
    if (glyph_id < 0) {
        memset(&d[glyf.offset], 0xFF, glyf.length);
        return;
    }
    const Table_Record head = find_table(d, "head");
    const Table_Record loca = find_table(d, "loca");
    const bool long_offsets = be16(d, head.offset + 50) == 1;
    const size_t i = static_cast<size_t>(glyph_id);
    size_t begin, end;
    if (long_offsets) {
        begin = be32(d, loca.offset + 4 * i);
        end = be32(d, loca.offset + 4 * i + 4);
    } else {
        begin = 2 * static_cast<size_t>(be16(d, loca.offset + 2 * i));
        end = 2 * static_cast<size_t>(be16(d, loca.offset + 2 * i + 2));
    }
    ASSERT_LT(begin, end);
    memset(&d[glyf.offset + begin], 0xFF, end - begin);
}

// ---- FreeType as the reference -------------------------------------------------------

struct Reference_Glyph {
    u32 glyph_id = 0;
    u32 width = 0, rows = 0;
    s32 left = 0, top = 0, advance = 0;
    std::vector<u8> pixels; // rows top down, unpadded
};

// A face of its own on the same bytes, loaded the way the font loads glyphs.
struct Reference_Face {
    FT_Library library = nullptr;
    FT_Face face = nullptr;

    Reference_Face(std::vector<u8> &bytes, u32 pixel_size) {
        EXPECT_EQ(FT_Init_FreeType(&library), 0);
        EXPECT_EQ(FT_New_Memory_Face(library, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &face), 0);
        if (!face) return;
        EXPECT_EQ(FT_Set_Pixel_Sizes(face, 0, pixel_size), 0);
        EXPECT_EQ(FT_Select_Charmap(face, FT_ENCODING_UNICODE), 0);
    }
    ~Reference_Face() {
        if (face) FT_Done_Face(face);
        FT_Done_FreeType(library);
    }

    u32 index(u32 code_point) const { return FT_Get_Char_Index(face, code_point); }

    Reference_Glyph glyph(u32 code_point) const {
        Reference_Glyph g;
        g.glyph_id = index(code_point);
        EXPECT_EQ(
            FT_Load_Glyph(face, g.glyph_id, FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT),
            0);
        const FT_GlyphSlot slot = face->glyph;
        g.width = slot->bitmap.width;
        g.rows = slot->bitmap.rows;
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.advance = static_cast<s32>(slot->advance.x >> 6);
        if (g.advance == 0) g.advance = static_cast<s32>(g.width);
        for (u32 y = 0; y < g.rows; y++) {
            const u8 *row = slot->bitmap.buffer + static_cast<s64>(y) * slot->bitmap.pitch;
            g.pixels.insert(g.pixels.end(), row, row + g.width);
        }
        return g;
    }
};

void expect_glyph_matches(const Glyph &g, const Reference_Glyph &r, u32 code_point) {
    SCOPED_TRACE(code_point);
    EXPECT_EQ(g.glyph_id, r.glyph_id);
    EXPECT_EQ(g.width, r.width);
    EXPECT_EQ(g.height, r.rows);
    EXPECT_EQ(g.bearing_left, r.left);
    EXPECT_EQ(g.bearing_top, r.top);
    EXPECT_EQ(g.advance, r.advance);
}

// ---- Reading the atlas -----------------------------------------------------------------

std::vector<u8> read_texture(const Texture &t) {
    std::vector<u8> pixels(static_cast<size_t>(t.width) * static_cast<size_t>(t.height));
    bind(t, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return pixels;
}

GLint texture_parameter(const Texture &t, GLenum name) {
    GLint v = -1;
    bind(t, 0);
    glGetTexParameteriv(GL_TEXTURE_2D, name, &v);
    return v;
}

std::map<u32, Glyph> glyph_map(const Font &font) {
    std::map<u32, Glyph> m;
    table_for_each(&font.glyphs, [&](u32 cp, const Glyph &g) { m[cp] = g; });
    return m;
}

// Every glyph's image is FreeType's bitmap at x0, y0; its border of `padding`
// pixels and every pixel outside all images hold the fill value; the padded
// rectangles lie inside the atlas and do not overlap.
void expect_atlas_holds(const std::vector<u8> &atlas, s32 width, s32 height, const Font &font, u32 padding,
                        const Reference_Face &reference) {
    ASSERT_EQ(atlas.size(), static_cast<size_t>(width) * static_cast<size_t>(height));
    enum : u8 { FREE, BORDER, IMAGE };
    std::vector<u8> owner(atlas.size(), FREE);
    s64 overlaps = 0, outside = 0, wrong_image = 0;
    for (const auto &[cp, g] : glyph_map(font)) {
        const s64 left = static_cast<s64>(g.x0) - padding, top = static_cast<s64>(g.y0) - padding;
        const s64 right = g.x0 + g.width + padding, bottom = g.y0 + g.height + padding;
        if (left < 0 || top < 0 || right > width || bottom > height) {
            ADD_FAILURE() << "glyph " << cp << " lies outside the atlas";
            outside++;
            continue;
        }
        for (s64 y = top; y < bottom; y++) {
            for (s64 x = left; x < right; x++) {
                u8 &o = owner[static_cast<size_t>(y * width + x)];
                if (o != FREE) overlaps++;
                const bool image = x >= g.x0 && x < g.x0 + g.width && y >= g.y0 && y < g.y0 + g.height;
                o = image ? IMAGE : BORDER;
            }
        }
        const Reference_Glyph r = reference.glyph(cp);
        for (u32 y = 0; y < g.height && r.rows == g.height && r.width == g.width; y++) {
            for (u32 x = 0; x < g.width; x++) {
                if (atlas[static_cast<size_t>(g.y0 + y) * width + g.x0 + x] != r.pixels[y * r.width + x])
                    wrong_image++;
            }
        }
        if (r.rows != g.height || r.width != g.width) wrong_image++;
    }
    s64 not_fill = 0;
    for (size_t i = 0; i < atlas.size(); i++) {
        if (owner[i] != IMAGE && atlas[i] != ATLAS_FILL_VALUE) not_fill++;
    }
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(wrong_image, 0) << "pixels that differ from FreeType's bitmaps";
    EXPECT_EQ(not_fill, 0) << "pixels outside every image that do not hold the fill value";
}

// ---- Recording glTexSubImage2D ---------------------------------------------------------

struct Sub_Image_Call {
    GLint x, y;
    GLsizei width, height;
    GLenum format, type;
    bool operator==(const Sub_Image_Call &) const = default;
};

std::vector<Sub_Image_Call> sub_image_calls;
PFNGLTEXSUBIMAGE2DPROC real_tex_sub_image = nullptr;
void APIENTRY recording_tex_sub_image(GLenum target, GLint level, GLint x, GLint y, GLsizei w, GLsizei h,
                                      GLenum format, GLenum type, const void *pixels) {
    sub_image_calls.push_back({x, y, w, h, format, type});
    real_tex_sub_image(target, level, x, y, w, h, format, type, pixels);
}

struct Recorded_Sub_Images {
    Recorded_Sub_Images() {
        sub_image_calls.clear();
        real_tex_sub_image = glTexSubImage2D;
        glTexSubImage2D = recording_tex_sub_image;
    }
    ~Recorded_Sub_Images() { glTexSubImage2D = real_tex_sub_image; }
};

// ---- Fixture ---------------------------------------------------------------------------

struct Dynamic_Font_Test : test::GL_Test {
    std::vector<u8> bytes;
    Dynamic_Font font = {};

    void TearDown() override {
        deinit(&font);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        texture_bind(0, 0);
    }

    void open(const std::string &path, s32 base_size, s64 padding) {
        bytes = read_file(path);
        ASSERT_TRUE(init(&font, view(bytes), base_size, padding));
    }
    void open_and_build(const std::string &path, s32 base_size, s64 padding, bool free_atlas) {
        ASSERT_NO_FATAL_FAILURE(open(path, base_size, padding));
        ASSERT_TRUE(make_atlas(&font, free_atlas));
    }
};

// ---- Sizing ----------------------------------------------------------------------------

TEST(Atlas_Sizing, FirstSizeIsAPowerOfTwoAboveTenCells) {
    struct Case {
        s32 cell;
        s64 side;
    } cases[] = {{30, 512},
                 {40, 512},
                 {25, 256},
                 {51, 512},
                 {52, 1024},
                 {120, 2048},
                 {75, 1024},
                 {0, 1},
                 {-7, 1},
                 {1, 16},
                 {INT32_MAX, s64{1} << 31}};
    for (const Case &c : cases) EXPECT_EQ(atlas_first_side(c.cell), c.side) << c.cell;

    const Atlas_Size size = first_atlas_size(30, 40); // bounds 301 and 401
    EXPECT_EQ(size.width, 512);
    EXPECT_EQ(size.height, 512);
}

TEST(Atlas_Sizing, DoublesWidthWhileNotWiderThanHigh) {
    const Atlas_Size expected[] = {{256, 256}, {512, 256}, {512, 512}, {1024, 512}, {1024, 1024}};
    Atlas_Size size = {256, 256};
    for (const Atlas_Size &e : expected) {
        EXPECT_EQ(size.width, e.width);
        EXPECT_EQ(size.height, e.height);
        size = next_atlas_size(size);
    }
    const Atlas_Size tall = next_atlas_size({256, 1024});
    EXPECT_EQ(tall.width, 512);
    EXPECT_EQ(tall.height, 1024);
}

// ---- make_atlas --------------------------------------------------------------------------

// Faces, sizes and paddings, including no padding and a small size with a wide border.
TEST_F(Dynamic_Font_Test, AtlasHoldsEveryPrintableGlyphAsFreeTypeRendersIt) {
    struct Case {
        const std::string &path;
        s32 size;
        s64 padding;
    } cases[] = {{PROJECT_FONT, 64, 4}, {MONO_FONT, 20, 0}, {PROJECT_FONT, 13, 9}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path + " at " + std::to_string(c.size));
        ASSERT_NO_FATAL_FAILURE(open_and_build(c.path, c.size, c.padding, false));
        Reference_Face reference(bytes, static_cast<u32>(c.size));

        EXPECT_EQ(font.base.glyphs.count, ATLAS_PRELOADED_GLYPHS);
        for (u32 cp = 32; cp <= 126; cp++) {
            const Glyph *g = table_find(&font.base.glyphs, cp);
            ASSERT_NE(g, nullptr) << cp;
            expect_glyph_matches(*g, reference.glyph(cp), cp);
        }
        ASSERT_NE(font.atlas, nullptr);
        const Texture &t = font.base.texture;
        const std::vector<u8> kept(font.atlas, font.atlas + static_cast<s64>(t.width) * t.height);
        expect_atlas_holds(kept, t.width, t.height, font.base, font.padding, reference);
        expect_atlas_holds(read_texture(t), t.width, t.height, font.base, font.padding, reference);
        deinit(&font);
    }
}

TEST_F(Dynamic_Font_Test, AtlasTextureMetricsAndFlags) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 64, 4, false));
    Reference_Face reference(bytes, 64);
    const FT_Size_Metrics &m = reference.face->size->metrics;

    // The face's cell: 10 by 10 cells fit all of printable ASCII at the first try.
    const Atlas_Size size =
        first_atlas_size(static_cast<s32>(m.max_advance >> 6), static_cast<s32>(m.height >> 6));
    const Texture &t = font.base.texture;
    EXPECT_EQ(t.width, size.width);
    EXPECT_EQ(t.height, size.height);
    EXPECT_EQ(t.internal_format, GL_R8);
    EXPECT_EQ(t.channels, 1u);
    GLint internal_format = 0;
    bind(t, 0);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internal_format);
    EXPECT_EQ(internal_format, GL_R8);
    const std::pair<GLenum, GLint> parameters[] = {
        {GL_TEXTURE_MIN_FILTER, GL_NEAREST},     {GL_TEXTURE_MAG_FILTER, GL_NEAREST},
        {GL_TEXTURE_WRAP_S, GL_MIRRORED_REPEAT}, {GL_TEXTURE_WRAP_T, GL_MIRRORED_REPEAT},
        {GL_TEXTURE_SWIZZLE_R, GL_ONE},          {GL_TEXTURE_SWIZZLE_G, GL_ONE},
        {GL_TEXTURE_SWIZZLE_B, GL_ONE},          {GL_TEXTURE_SWIZZLE_A, GL_RED},
    };
    for (const auto &[name, value] : parameters) EXPECT_EQ(texture_parameter(t, name), value) << name;

    EXPECT_EQ(font.base.base_size, 64u);
    EXPECT_EQ(font.base.metrics.ascender, static_cast<f32>(m.ascender >> 6));
    EXPECT_EQ(font.base.metrics.descender, static_cast<f32>(m.descender >> 6));
    EXPECT_LT(font.base.metrics.descender, 0);
    EXPECT_EQ(font.base.metrics.height, static_cast<f32>(m.height >> 6));
    EXPECT_EQ(font.base.metrics.units_per_em, static_cast<f32>(reference.face->units_per_EM));
    EXPECT_EQ(font.base.metrics.line_gap, static_cast<f32>(reference.face->height));
    EXPECT_EQ(font.base.metrics.y_ppem, 64.0f);

    // 'm' and 'i' differ: not monospaced, the integer mean of the positive advances.
    EXPECT_EQ(font.base.flags, Font_Flags::DYNAMIC);
    s64 sum = 0, count = 0;
    for (u32 cp = 32; cp <= 126; cp++) {
        const s32 advance = reference.glyph(cp).advance;
        if (advance > 0) sum += advance, count++;
    }
    ASSERT_GT(count, 0);
    EXPECT_EQ(font.base.average_glyph_advance, static_cast<u32>(sum / count));
    EXPECT_EQ(font.base.load_glyph_proc, &load_glyph);

    // Space: no image, its own advance; its rectangle is only the border.
    const Glyph *space = table_find(&font.base.glyphs, u32{' '});
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->width, 0u);
    EXPECT_EQ(space->height, 0u);
    EXPECT_EQ(space->advance, static_cast<s32>(reference.glyph(' ').advance));
    EXPECT_GT(space->advance, 0);
}

TEST_F(Dynamic_Font_Test, MonospacedFontTakesTheCommonAdvance) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(MONO_FONT, 64, 4, true));
    Reference_Face reference(bytes, 64);
    EXPECT_EQ(font.base.flags, Font_Flags::DYNAMIC | Font_Flags::MONOSPACED);
    EXPECT_EQ(font.base.average_glyph_advance, static_cast<u32>(reference.glyph('m').advance));
    EXPECT_EQ(reference.glyph('m').advance, reference.glyph('i').advance);
}

TEST_F(Dynamic_Font_Test, FreedAtlasLeavesTheTextureIntact) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 32, 2, true));
    Reference_Face reference(bytes, 32);
    EXPECT_EQ(font.atlas, nullptr);
    const Texture &t = font.base.texture;
    expect_atlas_holds(read_texture(t), t.width, t.height, font.base, font.padding, reference);
}

// '~' ends the face's first ASCII range; cutting the range there removes it.
TEST_F(Dynamic_Font_Test, MissingCodePointHasNoGlyphAndNoSpace) {
    bytes = read_file(PROJECT_FONT);
    ASSERT_TRUE(drop_last_code_point_of_range(bytes, '~'));
    Reference_Face reference(bytes, 64);
    ASSERT_EQ(reference.index('~'), 0u);
    ASSERT_NE(reference.index('}'), 0u);

    ASSERT_TRUE(init(&font, view(bytes), 64, 4));
    ASSERT_TRUE(make_atlas(&font, false));
    EXPECT_EQ(table_find(&font.base.glyphs, u32{'~'}), nullptr);
    EXPECT_EQ(font.base.glyphs.count, ATLAS_PRELOADED_GLYPHS - 1);
    // Its empty rectangle sits at 0, 0 in the packer's answer; nothing may have
    // been reserved or written there for it.
    const Texture &t = font.base.texture;
    const std::vector<u8> kept(font.atlas, font.atlas + static_cast<s64>(t.width) * t.height);
    expect_atlas_holds(kept, t.width, t.height, font.base, font.padding, reference);
}

TEST_F(Dynamic_Font_Test, MakeAtlasTwiceReplacesTheTextureAndThePixels) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 24, 3, false));
    const u32 first_texture = font.base.texture.id;
    ASSERT_TRUE(make_atlas(&font, false));
    if (font.base.texture.id != first_texture) {
        EXPECT_FALSE(glIsTexture(first_texture));
    }
    EXPECT_EQ(font.base.glyphs.count, ATLAS_PRELOADED_GLYPHS);
    Reference_Face reference(bytes, 24);
    const Texture &t = font.base.texture;
    const std::vector<u8> kept(font.atlas, font.atlas + static_cast<s64>(t.width) * t.height);
    expect_atlas_holds(kept, t.width, t.height, font.base, font.padding, reference);
    // The sanitizer build reports the first atlas's pixels if they leaked.
}

// ---- make_atlas failures -------------------------------------------------------------------

TEST_F(Dynamic_Font_Test, FaceWithoutUnicodeMapFailsAndKeepsTheTable) {
    bytes = read_file(PROJECT_FONT);
    make_cmaps_symbol_only(bytes);
    ASSERT_TRUE(init(&font, view(bytes), 32, 2));
    FT_Error expected = FT_Select_Charmap(font.face, FT_ENCODING_UNICODE);
    ASSERT_NE(expected, 0);

    test::Recording_Logger recorder;
    EXPECT_FALSE(make_atlas(&font, false));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, formatted(format(DYNAMIC_FONT_CHARMAP_FAILED, expected)));
    EXPECT_EQ(recorder.messages[0].flags, Log_Flags::ERROR);
    EXPECT_EQ(font.base.glyphs.count, 0);
    EXPECT_EQ(font.base.texture.id, 0u);
    EXPECT_EQ(font.base.load_glyph_proc, nullptr);
}

// FreeType fails on every outline: the preload reports the first code point and
// the process ends with FreeType's error as its exit status.
TEST_F(Dynamic_Font_Test, UnloadableGlyphEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    bytes = read_file(PROJECT_FONT);
    corrupt_outlines(bytes, -1);
    FT_Error expected = 0;
    {
        Reference_Face reference(bytes, 32);
        expected = FT_Load_Glyph(reference.face, reference.index('!'),
                                 FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT);
    }
    ASSERT_NE(expected, 0);
    ASSERT_TRUE(init(&font, view(bytes), 32, 2));
    EXPECT_EXIT(
        {
            context().logger = logger_proc;
            make_atlas(&font, false);
        },
        testing::ExitedWithCode(expected), "Could not load glyph \\[33\\] \\(" + std::to_string(expected) + "\\)");
}

// Beyond the atlas side limit nothing is allocated or changed.
TEST_F(Dynamic_Font_Test, SizeBeyondTheAtlasLimitFails) {
    ASSERT_NO_FATAL_FAILURE(open(PROJECT_FONT, 2000, 4));
    test::Recording_Logger recorder;
    EXPECT_FALSE(make_atlas(&font, false));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text,
              "the printable ASCII glyphs at 2000 pixels do not fit an atlas of 16384 by 16384 pixels.\n");
    EXPECT_EQ(recorder.messages[0].flags, Log_Flags::ERROR);
    EXPECT_EQ(font.base.glyphs.count, 0);
    EXPECT_EQ(font.base.texture.id, 0u);
}

// A size refused before anything is dropped leaves the earlier atlas working,
// at its own pixel size.
TEST_F(Dynamic_Font_Test, RefusedSizeKeepsTheEarlierAtlas) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 32, 2, true));
    const u32 texture = font.base.texture.id;
    const std::map<u32, Glyph> glyphs_before = glyph_map(font.base);

    font.base.base_size = 2000;
    test::Recording_Logger recorder;
    EXPECT_FALSE(make_atlas(&font, true));
    font.base.base_size = 32;
    EXPECT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(font.base.texture.id, texture);
    EXPECT_TRUE(glIsTexture(texture));
    EXPECT_EQ(glyph_map(font.base).size(), glyphs_before.size());
    EXPECT_EQ(font.base.load_glyph_proc, &load_glyph);

    Reference_Face reference(bytes, 32);
    const Glyph *g = font.base.load_glyph_proc(&font.base, 0x416);
    ASSERT_NE(g, nullptr);
    expect_glyph_matches(*g, reference.glyph(0x416), 0x416);
}

PFNGLGENTEXTURESPROC real_gen_textures = nullptr;
void APIENTRY gen_no_texture(GLsizei n, GLuint *names) {
    for (GLsizei i = 0; i < n; i++) names[i] = 0;
}

// No texture name: false, and the font keeps nothing of the half-built atlas
// (the sanitizer build reports the pixels if they leaked).
TEST_F(Dynamic_Font_Test, TextureFailureLeavesNoAtlas) {
    ASSERT_NO_FATAL_FAILURE(open(PROJECT_FONT, 32, 2));
    real_gen_textures = glGenTextures;
    glGenTextures = gen_no_texture;
    test::Recording_Logger recorder;
    const bool ok = make_atlas(&font, false);
    glGenTextures = real_gen_textures;

    EXPECT_FALSE(ok);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, TEXTURE_NO_NAME_MESSAGE);
    EXPECT_EQ(font.base.texture.id, 0u);
    EXPECT_EQ(font.atlas, nullptr);
    EXPECT_EQ(font.base.glyphs.count, 0);
    EXPECT_EQ(font.rp_nodes.count, 0);
    EXPECT_EQ(font.base.load_glyph_proc, nullptr);
    EXPECT_EQ(load_glyph(&font.base, 0xE9), nullptr);
}

// ---- load_glyph --------------------------------------------------------------------------

TEST_F(Dynamic_Font_Test, LoadGlyphPacksIntoFreeSpaceWithOneUpload) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 64, 4, false));
    Reference_Face reference(bytes, 64);
    const Texture &t = font.base.texture;
    const std::vector<u8> kept_before(font.atlas, font.atlas + static_cast<s64>(t.width) * t.height);

    for (u32 cp : {0xE9u, 0x416u}) { // é, Ж
        SCOPED_TRACE(cp);
        const std::vector<u8> before = read_texture(t);
        const s64 count_before = font.base.glyphs.count;
        Glyph *g = nullptr;
        {
            Recorded_Sub_Images recorded;
            g = font.base.load_glyph_proc(&font.base, cp);
            ASSERT_NE(g, nullptr);
            EXPECT_EQ(sub_image_calls, (std::vector<Sub_Image_Call>{
                                           {static_cast<GLint>(g->x0), static_cast<GLint>(g->y0),
                                            static_cast<GLsizei>(g->width), static_cast<GLsizei>(g->height),
                                            GL_RED, GL_UNSIGNED_BYTE}}));
        }
        EXPECT_EQ(table_find(&font.base.glyphs, cp), g);
        EXPECT_EQ(font.base.glyphs.count, count_before + 1);
        const Reference_Glyph r = reference.glyph(cp);
        expect_glyph_matches(*g, r, cp);
        EXPECT_GT(g->width, 0u);

        // Only the glyph's rectangle changed, to FreeType's bitmap; the glyph's
        // border overlaps no other glyph (checked with the whole table).
        const std::vector<u8> after = read_texture(t);
        s64 changed_outside = 0;
        for (s64 y = 0; y < t.height; y++) {
            for (s64 x = 0; x < t.width; x++) {
                const bool inside = x >= g->x0 && x < g->x0 + g->width && y >= g->y0 && y < g->y0 + g->height;
                const size_t i = static_cast<size_t>(y * t.width + x);
                if (!inside && after[i] != before[i]) changed_outside++;
            }
        }
        EXPECT_EQ(changed_outside, 0);
        expect_atlas_holds(after, t.width, t.height, font.base, font.padding, reference);
    }
    // The kept CPU copy is the atlas as make_atlas built it.
    EXPECT_EQ(std::vector<u8>(font.atlas, font.atlas + kept_before.size()), kept_before);
}

TEST_F(Dynamic_Font_Test, LoadGlyphRefusalsWarnAndChangeNothing) {
    std::vector<u8> corrupted = read_file(PROJECT_FONT);
    u32 eacute_index = 0;
    FT_Error eacute_error = 0;
    {
        Reference_Face reference(corrupted, 64);
        eacute_index = reference.index(0xE9);
    }
    corrupt_outlines(corrupted, eacute_index);
    {
        Reference_Face reference(corrupted, 64);
        eacute_error = FT_Load_Glyph(reference.face, eacute_index,
                                     FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT);
    }
    ASSERT_NE(eacute_error, 0);
    bytes = corrupted;
    ASSERT_TRUE(init(&font, view(bytes), 64, 4));
    ASSERT_TRUE(make_atlas(&font, true));

    struct Case {
        u32 code_point;
        std::string message;
        bool asks_freetype;
    } cases[] = {
        {10, "could not find glyph for codepoint 10\n", false},
        {29, "could not find glyph for codepoint 29\n", false},
        {0x4E00, "could not find glyph for codepoint 19968\n", true}, // not in the face
        {0xA0, "Could not load bitmap for codepoint 160\n", true},    // no-break space: empty image
        {0xE9, "Could not load glyph for codepoint 233 (" + std::to_string(eacute_error) + ")\n", true},
    };
    const std::vector<u8> texture_before = read_texture(font.base.texture);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code_point);
        test::Recording_Logger recorder;
        Recorded_Sub_Images recorded;
        freetype_glyph_calls = 0;
        EXPECT_EQ(font.base.load_glyph_proc(&font.base, c.code_point), nullptr);
        EXPECT_EQ(freetype_glyph_calls > 0, c.asks_freetype);
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].text, c.message);
        EXPECT_EQ(recorder.messages[0].flags, Log_Flags::WARNING);
        EXPECT_TRUE(sub_image_calls.empty());
        EXPECT_EQ(font.base.glyphs.count, ATLAS_PRELOADED_GLYPHS);
        EXPECT_EQ(table_find(&font.base.glyphs, c.code_point), nullptr);
    }
    EXPECT_EQ(read_texture(font.base.texture), texture_before);
}

// A code point already in the table is neither packed nor uploaded again.
TEST_F(Dynamic_Font_Test, LoadGlyphOfAKnownCodePointReturnsIt) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 32, 2, true));
    for (u32 cp : {u32{'A'}, u32{' '}}) {
        Glyph *known = table_find(&font.base.glyphs, cp);
        const Glyph copy = *known;
        test::Recording_Logger recorder;
        Recorded_Sub_Images recorded;
        freetype_glyph_calls = 0;
        EXPECT_EQ(load_glyph(&font.base, cp), known);
        EXPECT_EQ(memcmp(known, &copy, sizeof copy), 0);
        EXPECT_EQ(freetype_glyph_calls, 0);
        EXPECT_TRUE(sub_image_calls.empty());
        EXPECT_TRUE(recorder.messages.empty());
    }
}

TEST_F(Dynamic_Font_Test, LoadGlyphNeedsAFaceAndAnAtlas) {
    test::Recording_Logger recorder;
    EXPECT_EQ(load_glyph(&font.base, 'A'), nullptr); // no face: quietly nothing
    EXPECT_TRUE(recorder.messages.empty());

    // A face but no atlas yet: no packer to take space from, no texture to write.
    ASSERT_NO_FATAL_FAILURE(open(PROJECT_FONT, 32, 2));
    freetype_glyph_calls = 0;
    EXPECT_EQ(load_glyph(&font.base, 0xE9), nullptr);
    EXPECT_EQ(freetype_glyph_calls, 0);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "could not add glyph for codepoint 233: the font has no atlas\n");
    EXPECT_EQ(recorder.messages[0].flags, Log_Flags::WARNING);
    EXPECT_EQ(font.base.glyphs.count, 0);
}

// Glyphs go in until one does not fit; that one is refused, again and again,
// and the table, the texture and the packer stay exactly as they were.
TEST_F(Dynamic_Font_Test, FullAtlasRefusesAndStaysAsItWas) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 12, 16, true));
    Reference_Face reference(bytes, 12);

    u32 refused = 0;
    s64 added = 0;
    FT_UInt unused;
    for (FT_ULong cp = FT_Get_First_Char(reference.face, &unused); cp != 0 && !refused;
         cp = FT_Get_Next_Char(reference.face, cp, &unused)) {
        if (cp < 0xA1) continue;
        test::Recording_Logger recorder;
        if (font.base.load_glyph_proc(&font.base, static_cast<u32>(cp))) {
            added++;
            continue;
        }
        ASSERT_EQ(recorder.messages.size(), 1u);
        if (recorder.messages[0].text == formatted(format(DYNAMIC_FONT_PACK_FAILED, static_cast<u32>(cp))))
            refused = static_cast<u32>(cp);
    }
    ASSERT_NE(refused, 0u) << "the atlas never filled";
    EXPECT_GT(added, 0);

    const std::map<u32, Glyph> glyphs_before = glyph_map(font.base);
    const std::vector<u8> texture_before = read_texture(font.base.texture);
    const stbrp_context packer_before = font.rp_context;
    const std::vector<stbrp_node> nodes_before(font.rp_nodes.begin(), font.rp_nodes.end());

    test::Recording_Logger recorder;
    Recorded_Sub_Images recorded;
    EXPECT_EQ(font.base.load_glyph_proc(&font.base, refused), nullptr);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text,
              "could not pack glyph for codepoint " + std::to_string(refused) + "\n");
    EXPECT_EQ(recorder.messages[0].flags, Log_Flags::WARNING);
    EXPECT_TRUE(sub_image_calls.empty());

    const std::map<u32, Glyph> glyphs_after = glyph_map(font.base);
    EXPECT_EQ(glyphs_after.size(), glyphs_before.size());
    for (const auto &[cp, g] : glyphs_before) {
        ASSERT_TRUE(glyphs_after.count(cp)) << cp;
        EXPECT_EQ(memcmp(&glyphs_after.at(cp), &g, sizeof g), 0) << cp;
    }
    EXPECT_EQ(read_texture(font.base.texture), texture_before);
    EXPECT_EQ(memcmp(&font.rp_context, &packer_before, sizeof packer_before), 0);
    ASSERT_EQ(font.rp_nodes.count, static_cast<s64>(nodes_before.size()));
    EXPECT_EQ(memcmp(font.rp_nodes.data, nodes_before.data(), nodes_before.size() * sizeof(stbrp_node)), 0);
    // Every glyph, preloaded or added, still has its own padded rectangle.
    expect_atlas_holds(texture_before, font.base.texture.width, font.base.texture.height, font.base,
                       font.padding, reference);
}

// ---- init, deinit --------------------------------------------------------------------------

TEST_F(Dynamic_Font_Test, InitWithBadBytesFails) {
    std::vector<u8> good = read_file(PROJECT_FONT);
    std::vector<u8> garbage(4096, 0xAB);
    std::vector<u8> header_only(good.begin(), good.begin() + 12);
    struct Case {
        const char *name;
        Array_View<u8> memory;
    } cases[] = {
        {"empty", {}},
        {"garbage", view(garbage)},
        {"header only", view(header_only)},
        {"negative count", {-5, good.data()}},
    };
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FT_Face reference = nullptr;
        const FT_Long size = c.memory.count > 0 ? c.memory.count : 0;
        const FT_Error expected = FT_New_Memory_Face(library, c.memory.data, size, 0, &reference);
        ASSERT_NE(expected, 0);

        // Starts from a font that was open: the old face goes, its data view stays.
        ASSERT_TRUE(init(&font, view(good), 16, 1));
        test::Recording_Logger recorder;
        EXPECT_FALSE(init(&font, c.memory, 16, 1));
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].text,
                  "freetype could not create font face from memory (" + std::to_string(expected) + ").\n");
        EXPECT_EQ(recorder.messages[0].flags, Log_Flags::NONE);
        EXPECT_EQ(font.face, nullptr);
        EXPECT_EQ(font.ft_data.data, good.data());
        EXPECT_EQ(font.ft_data.count, static_cast<s64>(good.size()));
    }
    FT_Done_FreeType(library);
}

TEST_F(Dynamic_Font_Test, InitRejectsSizesAndPaddingsOutOfRange) {
    ASSERT_NO_FATAL_FAILURE(open(PROJECT_FONT, 16, 3));
    const FT_Face face = font.face;
    struct Case {
        s32 base_size;
        s64 padding;
        std::string message;
    } cases[] = {
        {0, 4, "font base size 0 is not a positive number of pixels.\n"},
        {-64, 4, "font base size -64 is not a positive number of pixels.\n"},
        {16, -1, "font padding -1 does not fit 0..65535.\n"},
        {16, 65536, "font padding 65536 does not fit 0..65535.\n"},
        {16, s64{1} << 40, "font padding 1099511627776 does not fit 0..65535.\n"},
    };
    for (const Case &c : cases) {
        test::Recording_Logger recorder;
        EXPECT_FALSE(init(&font, view(bytes), c.base_size, c.padding));
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].text, c.message);
        EXPECT_EQ(recorder.messages[0].flags, Log_Flags::ERROR);
        EXPECT_EQ(font.face, face); // left alone
        EXPECT_EQ(font.base.base_size, 16u);
        EXPECT_EQ(font.padding, 3);
    }
    // The extreme that fits is taken as it is.
    EXPECT_TRUE(init(&font, view(bytes), 16, 65535));
    EXPECT_EQ(font.padding, 65535);
}

TEST_F(Dynamic_Font_Test, DeinitReleasesEverything) {
    Dynamic_Font zero = {};
    deinit(&zero); // a zeroed record is fine

    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 32, 2, false));
    ASSERT_NE(font.base.load_glyph_proc(&font.base, 0x416), nullptr);
    const u32 texture = font.base.texture.id;
    ASSERT_TRUE(glIsTexture(texture));

    deinit(&font);
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_EQ(font.face, nullptr);
    EXPECT_EQ(font.base.texture.id, 0u);
    EXPECT_EQ(font.base.glyphs.slots, nullptr);
    EXPECT_EQ(font.base.glyphs.count, 0);
    EXPECT_EQ(font.rp_nodes.data, nullptr);
    EXPECT_EQ(font.atlas, nullptr);
    EXPECT_EQ(font.ft_data.data, nullptr);
    EXPECT_EQ(font.base.load_glyph_proc, nullptr);
    deinit(&font); // twice is fine
    // The sanitizer build reports whatever was not freed.
}

// A second init starts over: the earlier atlas, texture and glyphs go with the face.
TEST_F(Dynamic_Font_Test, InitAgainStartsOver) {
    ASSERT_NO_FATAL_FAILURE(open_and_build(PROJECT_FONT, 32, 2, false));
    const u32 texture = font.base.texture.id;
    std::vector<u8> mono = read_file(MONO_FONT);
    ASSERT_TRUE(init(&font, view(mono), 20, 1));
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_EQ(font.base.glyphs.count, 0);
    EXPECT_EQ(font.atlas, nullptr);
    EXPECT_EQ(font.base.load_glyph_proc, nullptr);
    EXPECT_EQ(font.ft_data.data, mono.data());
    EXPECT_EQ(font.base.base_size, 20u);
    EXPECT_EQ(font.padding, 1);
    ASSERT_TRUE(make_atlas(&font, true));
    EXPECT_TRUE(has_any(font.base.flags, Font_Flags::MONOSPACED));
    deinit(&font);
}

// ---- The CPU stage alone ---------------------------------------------------------------------

// No GL context is touched: the fuzz target's and the benchmark's path.
TEST(Dynamic_Font_Cpu, BuildAtlasMakesTheGlyphTableWithoutGl) {
    std::vector<u8> bytes = read_file(PROJECT_FONT);
    Dynamic_Font font = {};
    ASSERT_TRUE(init(&font, view(bytes), 64, 4));
    Atlas_Image image;
    ASSERT_TRUE(build_atlas(&font, &image));
    EXPECT_EQ(font.base.glyphs.count, ATLAS_PRELOADED_GLYPHS);
    EXPECT_EQ(font.base.load_glyph_proc, nullptr);
    EXPECT_EQ(font.base.texture.id, 0u);
    Reference_Face reference(bytes, 64);
    const std::vector<u8> pixels(image.pixels, image.pixels + static_cast<s64>(image.width) * image.height);
    expect_atlas_holds(pixels, image.width, image.height, font.base, font.padding, reference);
    free_atlas_image(&image);
    EXPECT_EQ(image.pixels, nullptr);
    deinit(&font);
}

} // namespace
} // namespace tessera
