// Text layout and drawing over a Font: measuring, caret hit-testing, line
// metrics, and drawing as one textured quad per glyph.
//
// Text is a counted UTF-8 string; every call walks it with decode_utf8 below
// (no validation: a broken sequence becomes '?', never a read past the end).
// Glyph metrics are whole pixels at font->base_size; a call that takes `size`
// scales them by size / base_size. Layout is a plain left-to-right pen walk: no
// kerning, no shaping, no pixel snapping. A code point the font's table does not
// hold has no glyph and is skipped everywhere (no advance); nothing here adds
// glyphs to the font.
//
// Under the hood:
// - One glyph-table probe per code point, decoding inline; nothing allocates.
//   Runs of plain ASCII (no line breaks) skip the decoder: get_text_width tests
//   eight bytes at a time.
// - draw_text calls draw_quad once per drawn glyph (160 bytes of vertices and 6
//   indices in the open STANDARD pass). It lays out up to 64 glyphs into a 2 KB
//   buffer on the stack first and then records them, so the layout state stays
//   in registers. All glyphs sample the atlas texture, so a whole text usually
//   lands in one pass and costs one draw call at the flush.
// - Nothing calls GL; draw_text records into the pass list until the next flush.
//
// Bad fonts: one with glyphs but base_size 0 cannot be scaled; the layout calls
// log TEXT_FONT_NO_BASE_SIZE and return 0 / {0, 0} without drawing. A zeroed
// Font is simply empty.
// Main thread only (draw_text: the renderer's pass list). The measuring calls
// only read the font.
#pragma once

#include "base/string.h"
#include "base/table.h"
#include "base/types.h"
#include "font.h"
#include "renderer/clip.h"

#include <limits>

namespace tessera {

// ---- Decoding ----------------------------------------------------------------------

// What a failed decode yields, and what a value beyond 31 bits becomes.
inline constexpr u32 TEXT_DECODE_FAILED = '?';
inline constexpr u32 TEXT_REPLACEMENT_CHARACTER = 0xFFFD;

// One decoded code point and the bytes it took.
struct Utf8_Decoded {
    u32 code_point = 0;
    s64 length = 0; // 1 or more; a cut-off sequence takes the rest of the text
};

namespace detail {
Utf8_Decoded decode_utf8_sequence(String text, s64 index);
}

// The code point at byte offset `index` (0 <= index < text.count).
//
// A byte below 127 is a code point by itself. Otherwise the lead byte alone sets
// the length: 192..223 two bytes, 224..239 three, 240..247 four, 248..251 five,
// 252..255 six, and 127..191 one (the byte's own value). The lead contributes the
// bits its length class leaves free (0x1F, 0x0F, 0x07, 0x03, 0x03), each
// continuation byte its low six bits, unvalidated; a result above 31 bits (a six-
// byte lead 254 or 255) becomes U+FFFD. A sequence that would run past the end
// yields '?' and takes the rest of the text.
//
// Returned by value, in two registers: a loop's index never has to live in memory.
inline Utf8_Decoded decode_utf8(String text, s64 index) {
    u8 c = text.data[index];
    if (c < 127) [[likely]]
        return {c, 1};
    return detail::decode_utf8_sequence(text, index);
}

// Space, tab, carriage return or line feed in the low eight bits.
constexpr bool is_text_white_space(u32 code_point) {
    u8 low = static_cast<u8>(code_point);
    return low == ' ' || low == '\t' || low == '\r' || low == '\n';
}

// ---- Glyphs and metrics ----------------------------------------------------------------

// The glyph of `code_point`, or null when the font's table does not hold it.
inline const Glyph *get_glyph(const Font *font, u32 code_point) {
    return table_find(&font->glyphs, code_point);
}

inline constexpr char TEXT_METRICS_ZERO_SCALE[] =
    "metrics_from_font_size: the font's y_ppem (%) and units_per_em (%) must not be 0";
inline constexpr char TEXT_FONT_NO_BASE_SIZE[] = "text layout: the font has glyphs but a base_size of 0";

// Line metrics for `size`, floored to whole pixels first (22.7 scales like 22):
// ascender, descender and height scaled by floor(size) / y_ppem, line_gap by
// floor(size) / units_per_em; units_per_em and y_ppem are 0 in the result. A font
// with y_ppem or units_per_em 0 gets a logged error and an all-zero result.
Metrics metrics_from_font_size(const Font *font, f32 size);

// ---- Measuring -------------------------------------------------------------------

// Width of `text` in pixels at base_size (unscaled: multiply by size / base_size).
// Each code point with a glyph, other than CR and LF, adds the larger of its
// width and advance compared as unsigned 32-bit values.
f32 get_text_width(const Font *font, String text);

// The byte offset of the first code point whose stop point (left edge, middle or
// right edge, per `stop_at`) lies right of `position`, measured in pixels at
// `size` from the text's pen origin; text.count when there is none. The middle of
// a white-space glyph is half its advance, of any other half its width. Always
// the start of a code point; 0 for empty text.
s64 text_index_from_position(const Font *font, String text, f32 size, f32 position, Stop_At stop_at);

// The horizontal extent of one glyph, in pixels at the layout size from the
// text's pen origin.
struct Glyph_Extent {
    f32 x0 = 0; // left edge: pen plus bearing
    f32 x1 = 0; // right edge: x0 + width, or pen + advance for white space
};

// The extent of the code point numbered `index` (counting code points, not
// bytes). A code point without a glyph yields the next one's extent, an index past
// the end the last glyph's, text without glyphs (or empty) {0, 0}.
Glyph_Extent text_position_from_index(const Font *font, String text, f32 size, s64 index);

// ---- Drawing -------------------------------------------------------------------

inline constexpr f32 TEXT_UNBOUNDED = std::numeric_limits<f32>::infinity();

// Draws `text` at `size` with the pen starting at `position` on the first line's
// baseline; returns where the pen stands after the last glyph laid out, relative
// to `position` (pixels at `size`). CR is ignored; LF starts a new line (`size`
// pixels lower) only when `multiline`. A glyph whose advance would pass `max_x`
// ends the text, or with `multiline` starts a new line (wrapping at any glyph);
// when that line's baseline passes `max_y` the text ends there instead, the pen
// at the start of that line. A glyph whose quad starts left of
// `min_x` or above `min_y` is dropped whole but still advances; spaces are never
// drawn. Every glyph is tinted with *escape_color_in_out when given (and that
// colour is written back, unchanged), else with `tint`. Only a wrap tests max_y;
// a line feed does not. Texture coordinates are the glyph's image over the atlas
// size (multiplied by its reciprocal: exact for power-of-two atlases).
Vector2 draw_text(const Font *font, String text, f32 size, Vector2 position, Vector4 tint, f32 min_x = 0,
                  f32 max_x = TEXT_UNBOUNDED, f32 min_y = 0, f32 max_y = TEXT_UNBOUNDED,
                  bool multiline = false, Vector4 *escape_color_in_out = nullptr);

} // namespace tessera
