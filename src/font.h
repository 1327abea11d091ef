// Font: the glyph table, the atlas texture and the font-wide metrics that text
// layout and drawing read. Glyph metrics are whole pixels at `base_size`; layout
// scales them by size / base_size.
//
// A Dynamic_Font (dynamic_font.h) fills this record from a TrueType face; a test
// or a baked font may fill it by hand: layout needs only `glyphs`, `base_size`,
// `metrics` and the texture's size and name.
#pragma once

#include "base/enum.h"
#include "base/table.h"
#include "base/types.h"
#include "renderer/texture.h"

namespace tessera {

struct Glyph {
    u32 x0 = 0;     // top-left pixel of the image in the atlas, border excluded
    u32 y0 = 0;
    u32 width = 0;  // image size, pixels
    u32 height = 0;
    s32 bearing_left = 0; // pen to the image's left edge
    s32 bearing_top = 0;  // baseline up to the image's top row
    s32 advance = 0;      // pen advance, whole pixels
    u32 glyph_id = 0;     // the face's glyph index
};

// All at base_size except units_per_em and line_gap, which are design units.
struct Metrics {
    f32 ascender = 0;     // pixels above the baseline
    f32 descender = 0;    // pixels below it, negative
    f32 height = 0;       // baseline-to-baseline distance, pixels
    f32 units_per_em = 0; // design units per em
    f32 line_gap = 0;     // baseline-to-baseline distance, design units
    f32 y_ppem = 0;       // vertical pixels per em
};

#define TESSERA_FONT_FLAGS_LIST(X) X(NONE, 0) X(MONOSPACED, 1) X(DYNAMIC, 2)
TESSERA_ENUM(Font_Flags, u16, TESSERA_FONT_FLAGS_LIST)
TESSERA_FLAGS(Font_Flags)

struct Font;
// Adds one glyph to the font; null when it cannot.
using Load_Glyph_Proc = struct Glyph *(*)(Font *font, u32 code_point);

struct Font {
    Table<u32, Glyph> glyphs;
    u32 base_size = 0; // pixels per em the glyphs were rasterised at
    Texture texture;   // one channel, coverage read as alpha through the font swizzle
    u32 average_glyph_advance = 0; // mean positive advance, or the common one when monospaced
    Font_Flags flags = Font_Flags::NONE;
    Metrics metrics;
    Load_Glyph_Proc load_glyph_proc = nullptr;
};

} // namespace tessera
