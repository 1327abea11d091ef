#include "renderer/text.h"

#include "base/context.h"
#include "base/format.h"
#include "font.h"
#include "renderer/pass.h"
#include "renderer/renderer.h"

#include "capture.h"
#include "recording_renderer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessera {
namespace {

String bytes(const std::string &s) {
    return make_string(s.data(), static_cast<s64>(s.size()));
}

// ---- The hand-built font ---------------------------------------------------------
//
// Base size 64 on a 512 by 256 atlas, texture name 7. At size 64 the scale is 1,
// so the expected positions below are plain sums of these numbers.

constexpr u32 ATLAS_ID = 7;

//                                    x0   y0   w   h  left top advance
constexpr Glyph GLYPH_A = {10, 20, 30, 40, 2, 36, 32};
constexpr Glyph GLYPH_B = {50, 20, 28, 40, 3, 36, 34};
constexpr Glyph GLYPH_LOWER_A = {90, 30, 20, 26, 1, 20, 24};
constexpr Glyph GLYPH_SPACE = {120, 0, 0, 0, 0, 0, 16};
constexpr Glyph GLYPH_QUESTION = {130, 20, 26, 40, 2, 36, 30};

struct Hand_Font {
    Font font;
    Hand_Font() {
        font.base_size = 64;
        font.texture.width = 512;
        font.texture.height = 256;
        font.texture.id = ATLAS_ID;
        font.metrics = {60, -15, 75, 2048, 2400, 64};
        add('A', GLYPH_A);
        add('B', GLYPH_B);
        add('a', GLYPH_LOWER_A);
        add(' ', GLYPH_SPACE);
        add('?', GLYPH_QUESTION);
    }
    ~Hand_Font() { table_deinit(&font.glyphs); }
    void add(u32 cp, Glyph g) { table_set(&font.glyphs, cp, g); }
};

// ---- Decoding ----------------------------------------------------------------------

struct Decode_Case {
    std::string text;
    s64 start;
    u32 code_point;
    s64 end; // start + the length taken
};

const Decode_Case DECODE_CASES[] = {
    {"A", 0, 'A', 1},
    {std::string(1, '\0'), 0, 0, 1},
    {"\x7e", 0, 0x7E, 1},
    // 127 and stray continuation bytes are one-byte code points of their own value.
    {"\x7f\x80", 0, 0x7F, 1},
    {"\x80\x80", 0, 0x80, 1},
    {"\xbf\x80", 0, 0xBF, 1},
    {"\xc3\xa9", 0, 0xE9, 2},
    {"\xdf\xbf", 0, 0x7FF, 2},
    {"\xe2\x82\xac", 0, 0x20AC, 3},
    {"\xf0\x9f\x98\x80", 0, 0x1F600, 4},
    {"\xf7\xbf\xbf\xbf", 0, 0x1FFFFF, 4},
    {"\xf8\x88\x80\x80\x80", 0, 0x200000, 5},
    {"\xfb\xbf\xbf\xbf\xbf", 0, 0x3FFFFFF, 5},
    {"\xfc\x84\x80\x80\x80\x80", 0, 0x4000000, 6},
    {"\xfd\xbf\xbf\xbf\xbf\xbf", 0, 0x7FFFFFFF, 6},
    // Beyond 31 bits.
    {"\xfe\x80\x80\x80\x80\x80", 0, 0xFFFD, 6},
    {"\xff\xbf\xbf\xbf\xbf\xbfZ", 0, 0xFFFD, 6},
    // Continuations are not validated: only their low six bits count.
    {"\xc3\x41", 0, 0xC1, 2},
    // Running past the end: '?' and the rest of the text is consumed.
    {"\xc3", 0, '?', 1},
    {"a\xe2\x82", 1, '?', 3},
    {"\xf0\x9f\x98", 0, '?', 3},
    {"ab\xfc\x80\x80\x80\x80", 2, '?', 7},
    // Starting mid-text.
    {"a\xc3\xa9z", 1, 0xE9, 3},
    {"a\xc3\xa9z", 3, 'z', 4},
};

TEST(Text_Decode, DecodesEachCaseWithTheBytesItTakes) {
    for (const Decode_Case &c : DECODE_CASES) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        Utf8_Decoded d = decode_utf8(bytes(c.text), c.start);
        EXPECT_EQ(d.code_point, c.code_point);
        EXPECT_EQ(c.start + d.length, c.end);
    }
}

TEST(Text_Decode, WhiteSpaceGoesByTheLowEightBits) {
    for (u32 cp : {u32(' '), u32('\t'), u32('\r'), u32('\n'), 0x120u, 0x10Au}) {
        EXPECT_TRUE(is_text_white_space(cp)) << cp;
    }
    for (u32 cp : {u32('A'), 0u, 0xA0u, 0x0Bu}) EXPECT_FALSE(is_text_white_space(cp)) << cp;
}

// ---- Metrics ---------------------------------------------------------------------

TEST(Text_Metrics, SizeIsFlooredBeforeScaling) {
    Hand_Font f;
    for (f32 size : {22.0f, 22.7f, 22.999f}) {
        Metrics m = metrics_from_font_size(&f.font, size);
        EXPECT_EQ(m.ascender, 22.0f * 60 / 64) << size;
        EXPECT_EQ(m.descender, 22.0f * -15 / 64) << size;
        EXPECT_EQ(m.height, 22.0f * 75 / 64) << size;
        EXPECT_EQ(m.line_gap, 22.0f * 2400 / 2048) << size;
        EXPECT_EQ(m.units_per_em, 0) << size;
        EXPECT_EQ(m.y_ppem, 0) << size;
    }
}

TEST(Text_Metrics, AFontWithoutScaleIsAnErrorAndGivesZeroes) {
    Hand_Font f;
    f.font.metrics.y_ppem = 0;
    test::Recording_Logger logger;
    Metrics m = metrics_from_font_size(&f.font, 22);
    EXPECT_EQ(m.ascender, 0);
    EXPECT_EQ(m.height, 0);
    EXPECT_EQ(m.line_gap, 0);
    ASSERT_EQ(logger.messages.size(), 1u);
    EXPECT_EQ(logger.messages[0].text, test::to_std(format(TEXT_METRICS_ZERO_SCALE, 0.0f, 2048.0f)));
    EXPECT_TRUE(has_any(logger.messages[0].flags, Log_Flags::ERROR));
}

// ---- get_text_width --------------------------------------------------------------

TEST(Text_Width, SumsTheLargerOfWidthAndAdvance) {
    Hand_Font f;
    f.add('\r', {0, 0, 5, 5, 0, 0, 5});
    f.add('\n', {0, 0, 5, 5, 0, 0, 5});
    f.add('W', {0, 0, 40, 40, 0, 0, 36});
    f.add('w', {0, 0, 10, 10, 0, 0, -1}); // compared as unsigned: -1 is the larger
    struct Case {
        std::string text;
        f32 width;
    };
    const Case cases[] = {
        {"", 0},
        {"A", 32},
        {"AB", 66},
        {"A\r\nB", 66},     // CR and LF add nothing, glyphs or not
        {"A\303\251B", 66}, // a code point the font lacks adds nothing
        {"W", 40},
        {"A W", 32 + 16 + 40},
        {"A\xe2\x82", 32 + 30}, // the cut-off sequence measures as '?'
        {"w", 4294967295.0f},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(get_text_width(&f.font, bytes(c.text)), c.width) << testing::PrintToString(c.text);
    }
}

// ---- text_index_from_position ----------------------------------------------------

TEST(Text_Index, FirstCodePointWhoseStopPointLiesRightOfThePosition) {
    Hand_Font f;
    // At size 64, glyph k of "AAA" starts at 2 + 32k, its middle is 15 further,
    // its end 32 further.
    struct Case {
        std::string text;
        f32 size;
        f32 position;
        Stop_At stop_at;
        s64 index;
    };
    const Case cases[] = {
        {"AAA", 64, 1, Stop_At::START, 0},
        {"AAA", 64, -100, Stop_At::END, 0},
        {"AAA", 64, 2, Stop_At::START, 1}, // a stop point equal to the position is not right of it
        {"AAA", 64, 34, Stop_At::START, 2},
        {"AAA", 64, 16, Stop_At::CENTER, 0},
        {"AAA", 64, 17, Stop_At::CENTER, 1},
        {"AAA", 64, 33, Stop_At::END, 0},
        {"AAA", 64, 34, Stop_At::END, 1},
        {"AAA", 64, 98, Stop_At::END, 3},
        {"AAA", 64, 1000, Stop_At::START, 3},
        {"AAA", 32, 17, Stop_At::START, 2}, // starts at 1, 17, 33 at half scale
        // The middle of white space is half its advance (8), not half its width (0).
        {" A", 64, 5, Stop_At::CENTER, 0},
        {" A", 64, 8, Stop_At::CENTER, 1},
        // A two-byte code point the font lacks is stepped over whole.
        {"\303\251a", 64, 0, Stop_At::START, 2},
        {"A\xc3\xa9", 64, 1000, Stop_At::START, 3},
        {"A\xe2\x82", 64, 1000, Stop_At::END, 3},
        {"A\xe2\x82", 64, 33, Stop_At::START, 1}, // '?' starts at 32 + 2
        {"", 64, -1, Stop_At::START, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(text_index_from_position(&f.font, bytes(c.text), c.size, c.position, c.stop_at), c.index)
            << testing::PrintToString(c.text) << " size " << c.size << " at " << c.position << " "
            << static_cast<int>(c.stop_at);
    }
}

// ---- text_position_from_index ----------------------------------------------------

TEST(Text_Position, ExtentOfTheNumberedCodePoint) {
    Hand_Font f;
    struct Case {
        std::string text;
        f32 size;
        s64 index;
        f32 x0, x1;
    };
    const Case cases[] = {
        {"", 64, 0, 0, 0},
        {"AB", 64, 0, 2, 32},
        {"AB", 64, 1, 35, 63},
        {"AB", 64, -1, 2, 32},
        {"AB", 64, 5, 35, 63}, // past the end: the last glyph
        {"AB", 32, 1, 17.5f, 31.5f},
        {"A ", 64, 1, 32, 48},             // white space spans its advance
        {"\303\251B", 64, 0, 3, 31},       // no glyph: the next one's extent
        {"\xc3\xa9\xc3\xa9", 64, 0, 0, 0}, // no glyph at all
        {"\xc3\xa9\xc3\xa9", 64, 9, 0, 0},
        {"A\xe2\x82", 64, 1, 34, 60}, // the cut-off sequence is '?'
    };
    for (const Case &c : cases) {
        Glyph_Extent e = text_position_from_index(&f.font, bytes(c.text), c.size, c.index);
        EXPECT_EQ(e.x0, c.x0) << testing::PrintToString(c.text) << " index " << c.index;
        EXPECT_EQ(e.x1, c.x1) << testing::PrintToString(c.text) << " index " << c.index;
    }
}

// Code points and bytes agree on one-byte text: the caret at the index found
// for a position sits at that glyph.
TEST(Text_Position, AgreesWithTheIndexOnOneByteText) {
    Hand_Font f;
    String text = "AaB a?"_s;
    for (f32 position = -5; position < 200; position += 3) {
        s64 index = text_index_from_position(&f.font, text, 64, position, Stop_At::START);
        if (index == text.count) continue;
        EXPECT_GT(text_position_from_index(&f.font, text, 64, index).x0, position);
        if (index > 0) {
            EXPECT_LE(text_position_from_index(&f.font, text, 64, index - 1).x0, position);
        }
    }
}

TEST(Text_Layout, AFontWithGlyphsButNoBaseSizeIsAnError) {
    Hand_Font f;
    f.font.base_size = 0;
    test::Recording_Logger logger;
    EXPECT_EQ(text_index_from_position(&f.font, "AB"_s, 22, 100, Stop_At::START), 0);
    Glyph_Extent e = text_position_from_index(&f.font, "AB"_s, 22, 1);
    EXPECT_EQ(e.x0, 0);
    EXPECT_EQ(e.x1, 0);
    ASSERT_EQ(logger.messages.size(), 2u);
    EXPECT_EQ(logger.messages[0].text, TEXT_FONT_NO_BASE_SIZE);

    // A zeroed font is empty, not broken.
    Font empty;
    EXPECT_EQ(text_index_from_position(&empty, "AB"_s, 22, 0, Stop_At::START), 2);
    EXPECT_EQ(get_text_width(&empty, "AB"_s), 0);
    EXPECT_EQ(logger.messages.size(), 2u);
}

// ---- draw_text -------------------------------------------------------------------

struct Quad {
    Rect dst;
    Rect src;
    Vector4 color;
    u32 texture; // GL name, from the pass's texture list
};

// Every quad recorded so far, in order; each quad's four vertices must agree
// with one axis-aligned rectangle and one colour.
std::vector<Quad> recorded_quads() {
    std::vector<Quad> quads;
    for (s64 i = 0; i < renderer.passes.count; i++) {
        const Pass &pass = renderer.passes.data[i];
        if (pass.base.kind != Pass_Kind::STANDARD) continue;
        const Standard_Pass &p = pass.standard;
        const auto *v = reinterpret_cast<const Standard_Vertex *>(p.vertex_data);
        EXPECT_EQ(p.vertex_count % 4, 0);
        EXPECT_EQ(p.index_count, p.vertex_count / 4 * 6);
        for (s32 k = 0; k + 3 < p.vertex_count; k += 4) {
            Quad q;
            q.dst = {v[k].position.x, v[k].position.y, v[k + 2].position.x, v[k + 2].position.y};
            q.src = {v[k].texture_uv.x, v[k].texture_uv.y, v[k + 2].texture_uv.x, v[k + 2].texture_uv.y};
            q.color = v[k].color;
            s32 slot = static_cast<s32>(v[k].texture_id);
            EXPECT_TRUE(slot >= 0 && slot < p.texture_count);
            q.texture = slot >= 0 && slot < p.texture_count ? p.texture_data[slot] : 0;
            EXPECT_EQ(v[k + 1].position.x, q.dst.x1);
            EXPECT_EQ(v[k + 1].position.y, q.dst.y0);
            EXPECT_EQ(v[k + 3].position.x, q.dst.x0);
            EXPECT_EQ(v[k + 3].position.y, q.dst.y1);
            for (s32 j = 1; j < 4; j++) EXPECT_EQ(v[k + j].color.w, q.color.w);
            quads.push_back(q);
        }
    }
    return quads;
}

struct Drawn {
    char glyph; // which glyph of the hand-built font
    f32 x0, y0; // top-left of its quad
};

struct Draw_Case {
    const char *name;
    std::string text;
    Vector2 position;
    f32 max_x = TEXT_UNBOUNDED;
    f32 max_y = TEXT_UNBOUNDED;
    bool multiline = false;
    f32 min_x = 0;
    f32 min_y = 0;
    std::vector<Drawn> drawn;
    Vector2 pen; // the returned offset
};

void PrintTo(const Draw_Case &c, std::ostream *o) {
    *o << c.name;
}

const Glyph &glyph_of(char c) {
    switch (c) {
    case 'A':
        return GLYPH_A;
    case 'B':
        return GLYPH_B;
    case 'a':
        return GLYPH_LOWER_A;
    default:
        return GLYPH_QUESTION;
    }
}

// All at size 64 (scale 1). A at pen p: x0 = p + 2, y0 = baseline - 36; B: x0 = p + 3.
// Fields: name, text, position, max_x, max_y, multiline, min_x, min_y, quads, pen.
// clang-format off
const Draw_Case DRAW_CASES[] = {
    {"empty", "", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 0, {}, {0, 0}},
    {"side_by_side", "AB", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 0,
     {{'A', 102, 164}, {'B', 135, 164}}, {66, 0}},
    {"line_feed_ignored_on_one_line", "A\nB", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 0,
     {{'A', 102, 164}, {'B', 135, 164}}, {66, 0}},
    {"line_feed_multiline", "A\nB", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, true, 0, 0,
     {{'A', 102, 164}, {'B', 103, 228}}, {34, 64}},
    {"carriage_return_ignored", "A\rB", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 0,
     {{'A', 102, 164}, {'B', 135, 164}}, {66, 0}},
    {"carriage_return_ignored_multiline", "A\r\r\nB\r", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, true, 0, 0,
     {{'A', 102, 164}, {'B', 103, 228}}, {34, 64}},
    {"space_advances_undrawn", "A B", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 0,
     {{'A', 102, 164}, {'B', 151, 164}}, {82, 0}},
    {"missing_glyph_no_advance", "A\303\251B", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 0,
     {{'A', 102, 164}, {'B', 135, 164}}, {66, 0}},
    {"cut_off_sequence_is_question_mark", "A\xe2\x82", {100, 200}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 0,
     {{'A', 102, 164}, {'?', 134, 164}}, {62, 0}},
    // A, B fit in 70 (pen 66); the next A would end at 98.
    {"max_x_stops_one_line", "ABA\nA", {0, 100}, 70, TEXT_UNBOUNDED, false, 0, 0,
     {{'A', 2, 64}, {'B', 35, 64}}, {66, 0}},
    {"max_x_wraps_multiline", "ABA", {0, 100}, 70, TEXT_UNBOUNDED, true, 0, 0,
     {{'A', 2, 64}, {'B', 35, 64}, {'A', 2, 128}}, {32, 64}},
    {"wrap_onto_a_line_at_max_y", "ABA", {0, 100}, 70, 164, true, 0, 0,
     {{'A', 2, 64}, {'B', 35, 64}, {'A', 2, 128}}, {32, 64}},
    // The wrap moved the pen to the next line before max_y stopped the text.
    {"max_y_stops_wrapping", "ABA", {0, 100}, 70, 163, true, 0, 0, {{'A', 2, 64}, {'B', 35, 64}}, {0, 64}},
    {"line_feed_makes_no_max_y_test", "A\nA", {0, 100}, TEXT_UNBOUNDED, 101, true, 0, 0,
     {{'A', 2, 64}, {'A', 2, 128}}, {32, 64}},
    // Each glyph is wider than the limit: it wraps onto a line of its own.
    {"glyph_wider_than_max_x", "AA", {0, 100}, 20, TEXT_UNBOUNDED, true, 0, 0, {{'A', 2, 128}, {'A', 2, 192}},
     {32, 128}},
    {"left_of_min_x_dropped_advance_kept", "AB", {0, 100}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 3, 0,
     {{'B', 35, 64}}, {66, 0}},
    {"above_min_y_dropped_advance_kept", "Aa", {0, 30}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 0,
     {{'a', 33, 10}}, {56, 0}},
    {"min_y_is_the_quad_top", "Aa", {0, 30}, TEXT_UNBOUNDED, TEXT_UNBOUNDED, false, 0, 11, {}, {56, 0}},
};
// clang-format on

struct Draw_Text_Test : test::Recording_Renderer_Test, testing::WithParamInterface<Draw_Case> {
    Hand_Font f;
};

TEST_P(Draw_Text_Test, DrawsTheExpectedQuads) {
    const Draw_Case &c = GetParam();
    const Vector4 tint = {0.25f, 0.5f, 0.75f, 1};
    Vector2 pen = draw_text(&f.font, bytes(c.text), 64, c.position, tint, c.min_x, c.max_x, c.min_y, c.max_y,
                            c.multiline);
    EXPECT_EQ(pen.x, c.pen.x);
    EXPECT_EQ(pen.y, c.pen.y);

    std::vector<Quad> quads = recorded_quads();
    ASSERT_EQ(quads.size(), c.drawn.size());
    for (size_t i = 0; i < quads.size(); i++) {
        SCOPED_TRACE(i);
        const Glyph &g = glyph_of(c.drawn[i].glyph);
        EXPECT_EQ(quads[i].dst.x0, c.drawn[i].x0);
        EXPECT_EQ(quads[i].dst.y0, c.drawn[i].y0);
        EXPECT_EQ(quads[i].dst.x1, c.drawn[i].x0 + static_cast<f32>(g.width));
        EXPECT_EQ(quads[i].dst.y1, c.drawn[i].y0 + static_cast<f32>(g.height));
        EXPECT_EQ(quads[i].src.x0, static_cast<f32>(g.x0) / 512);
        EXPECT_EQ(quads[i].texture, ATLAS_ID);
        EXPECT_EQ(quads[i].color.x, tint.x);
        EXPECT_EQ(quads[i].color.y, tint.y);
    }
    // Text lands in one pass, whatever its lines.
    EXPECT_LE(renderer.passes.count, 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, Draw_Text_Test, testing::ValuesIn(DRAW_CASES),
                         [](const testing::TestParamInfo<Draw_Case> &info) {
                             return std::string(info.param.name);
                         });

struct Draw_Text_Fixture : test::Recording_Renderer_Test {
    Hand_Font f;
};

// 22 / 64 = 11 / 32 exactly, so every figure here is exact in floats.
TEST_F(Draw_Text_Fixture, Size22OnBase64MovesThePen11PixelsForAdvance32) {
    Vector2 pen = draw_text(&f.font, "AA"_s, 22, {0, 100}, {1, 1, 1, 1});
    EXPECT_EQ(pen.x, 22);
    EXPECT_EQ(pen.y, 0);
    std::vector<Quad> quads = recorded_quads();
    ASSERT_EQ(quads.size(), 2u);
    EXPECT_EQ(quads[0].dst.x0, 0.6875f); // bearing 2 * 11/32
    EXPECT_EQ(quads[1].dst.x0 - quads[0].dst.x0, 11);
    EXPECT_EQ(quads[0].dst.y0, 100 - 12.375f); // bearing_top 36 * 11/32
    EXPECT_EQ(quads[0].dst.x1, 0.6875f + 10.3125f);
    EXPECT_EQ(quads[0].dst.y1, 100 - 12.375f + 13.75f);

    // Lines are `size` pixels apart.
    Vector2 second =
        draw_text(&f.font, "A\nA"_s, 22, {0, 100}, {1, 1, 1, 1}, 0, TEXT_UNBOUNDED, 0, TEXT_UNBOUNDED, true);
    EXPECT_EQ(second.y, 22);
}

TEST_F(Draw_Text_Fixture, TextureCoordinatesAreTheGlyphImageOverTheAtlas) {
    draw_text(&f.font, "Aa"_s, 64, {0, 100}, {1, 1, 1, 1});
    std::vector<Quad> quads = recorded_quads();
    ASSERT_EQ(quads.size(), 2u);
    const Rect want[] = {{10.0f / 512, 20.0f / 256, 40.0f / 512, 60.0f / 256},
                         {90.0f / 512, 30.0f / 256, 110.0f / 512, 56.0f / 256}};
    for (s32 i = 0; i < 2; i++) {
        for (s32 k = 0; k < 4; k++)
            EXPECT_EQ(quads[i].src.component[k], want[i].component[k]) << i << " " << k;
    }
    ASSERT_EQ(renderer.passes.count, 1);
    EXPECT_EQ(pass(0).standard.texture_count, 1);
    EXPECT_EQ(pass(0).standard.texture_data[0], ATLAS_ID);
}

TEST_F(Draw_Text_Fixture, TheEscapeColourTintsEveryGlyphAndIsHandedBack) {
    const Vector4 tint = {1, 0, 0, 1};
    Vector4 escape = {0, 1, 0, 0.5f};
    draw_text(&f.font, "AB"_s, 64, {0, 100}, tint, 0, TEXT_UNBOUNDED, 0, TEXT_UNBOUNDED, false, &escape);
    EXPECT_EQ(escape.x, 0);
    EXPECT_EQ(escape.y, 1);
    EXPECT_EQ(escape.w, 0.5f);
    std::vector<Quad> quads = recorded_quads();
    ASSERT_EQ(quads.size(), 2u);
    for (const Quad &q : quads) {
        EXPECT_EQ(q.color.x, 0);
        EXPECT_EQ(q.color.y, 1);
        EXPECT_EQ(q.color.w, 0.5f);
    }
}

// A text that outgrows one pass window continues in the next pass, which lists
// the atlas again.
TEST_F(Draw_Text_Fixture, ALongTextContinuesInANewPassWithTheAtlas) {
    std::string text(4000, 'A');
    draw_text(&f.font, bytes(text), 1, {0, 100}, {1, 1, 1, 1});
    ASSERT_GT(renderer.passes.count, 1);
    std::vector<Quad> quads = recorded_quads();
    EXPECT_EQ(quads.size(), 4000u);
    for (const Quad &q : quads) ASSERT_EQ(q.texture, ATLAS_ID);
}

TEST_F(Draw_Text_Fixture, NothingIsRecordedForAFontWithoutGlyphs) {
    Font empty;
    Vector2 pen = draw_text(&empty, "AB"_s, 22, {0, 0}, {1, 1, 1, 1});
    EXPECT_EQ(pen.x, 0);
    EXPECT_EQ(renderer.passes.count, 0);
}

} // namespace
} // namespace tessera
