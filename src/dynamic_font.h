// Dynamic_Font: a Font whose glyphs FreeType rasterises from a TrueType face
// held in memory, packed into one atlas texture that can take further glyphs
// later.
//
// Lifecycle: init opens the face (no glyphs yet); make_atlas sets the pixel
// size, rasterises printable ASCII (32..126) and builds the atlas; load_glyph
// (installed as load_glyph_proc) adds one code point to the atlas's free space;
// deinit releases everything. A zeroed record is valid and empty.
//
// Under the hood:
// - make_atlas is two stages. build_atlas is the CPU half and calls no GL: it
//   renders every glyph once into one scratch buffer (temporary storage),
//   packs the 95 rectangles with stb_rect_pack, and copies the images into a
//   heap atlas filled with 64 (0x40). upload_atlas is the GL half: one
//   glTexImage2D of the whole atlas, then the font swizzle. Benchmarks, tests
//   and fuzz targets can run build_atlas alone.
// - The atlas starts at the smallest power of two per axis that holds a 10 by
//   10 grid of the face's largest cell plus one pixel, and doubles (width first
//   while it is not wider than high) until all 95 rectangles fit.
// - load_glyph costs one FreeType render, one single-rectangle pack and one
//   glTexSubImage2D of the glyph's rectangle. The atlas never grows or repacks:
//   a glyph that does not fit is refused and the font stays as it was.
// - Allocations: the glyph table and the packer's 95 nodes from the context's
//   allocator, the atlas pixels from the general heap, per-build scratch from
//   the temporary storage (given back before build_atlas returns). Nothing is
//   allocated per glyph.
// - A font has a complete atlas exactly when load_glyph_proc is set.
// Main thread only: FreeType and GL are not synchronised; `freetype` is shared.
#pragma once

#include "base/array.h"
#include "base/types.h"
#include "font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <stb_rect_pack.h>

#include <type_traits>

namespace tessera {

struct Dynamic_Font {
    Font base;                     // first, so a Dynamic_Font * is a Font * and back
    FT_Face face = nullptr;        // null: no face
    stbrp_context rp_context = {}; // the atlas occupancy; points into rp_nodes (and into itself)
    Array<stbrp_node> rp_nodes;    // the packer's storage: ATLAS_PACK_NODES nodes once an atlas exists
    u16 padding = 0;               // empty pixels kept on every side of each glyph image
    u8 *atlas = nullptr;           // texture.width * texture.height bytes as make_atlas built them, kept
                                   // when not freed; later glyphs are not written here
    Array_View<u8> ft_data;        // the TrueType bytes the face reads; not copied, must outlive the face
};

static_assert(std::is_standard_layout_v<Dynamic_Font> && offsetof(Dynamic_Font, base) == 0,
              "a Font pointer must convert to its Dynamic_Font");

// The FreeType library of the process: made by the first init, never released.
extern FT_Library freetype;

// ---- Messages --------------------------------------------------------------------

// Ordinary level.
inline constexpr char DYNAMIC_FONT_FREETYPE_INIT_FAILED[] = "could not initialize freetype (%).\n";
inline constexpr char DYNAMIC_FONT_FACE_FAILED[] = "freetype could not create font face from memory (%).\n";
// Error level.
inline constexpr char DYNAMIC_FONT_BAD_BASE_SIZE[] = "font base size % is not a positive number of pixels.\n";
inline constexpr char DYNAMIC_FONT_BAD_PADDING[] = "font padding % does not fit 0..65535.\n";
inline constexpr char DYNAMIC_FONT_PIXEL_SIZE_FAILED[] = "freetype could not set pixel size (%).\n";
inline constexpr char DYNAMIC_FONT_CHARMAP_FAILED[] = "freetype could not select character map (%).\n";
inline constexpr char DYNAMIC_FONT_NO_METRICS[] =
    "font face has no usable metrics at this size (units per em %, y_ppem %).\n";
inline constexpr char DYNAMIC_FONT_PRELOAD_FAILED[] = "Could not load glyph [%] (%)";
inline constexpr char DYNAMIC_FONT_ATLAS_TOO_LARGE[] =
    "the printable ASCII glyphs at % pixels do not fit an atlas of % by % pixels.\n";
// Warning level.
inline constexpr char DYNAMIC_FONT_NO_GLYPH[] = "could not find glyph for codepoint %\n";
inline constexpr char DYNAMIC_FONT_LOAD_FAILED[] = "Could not load glyph for codepoint % (%)\n";
inline constexpr char DYNAMIC_FONT_NO_BITMAP[] = "Could not load bitmap for codepoint %\n";
inline constexpr char DYNAMIC_FONT_UNSUPPORTED_BITMAP[] =
    "glyph for codepoint % has a bitmap in pixel mode %, not 8-bit grey\n";
inline constexpr char DYNAMIC_FONT_PACK_FAILED[] = "could not pack glyph for codepoint %\n";
inline constexpr char DYNAMIC_FONT_NO_ATLAS[] =
    "could not add glyph for codepoint %: the font has no atlas\n";

// ---- Atlas sizing (pure) ----------------------------------------------------------

inline constexpr u32 ATLAS_FIRST_CODE_POINT = 32;
inline constexpr u32 ATLAS_LAST_CODE_POINT = 126;
inline constexpr s32 ATLAS_PRELOADED_GLYPHS = 95; // 32..126
inline constexpr s32 ATLAS_PACK_NODES = 95;
inline constexpr s32 ATLAS_CELLS_PER_SIDE = 10; // ceil(sqrt(95))
inline constexpr u8 ATLAS_FILL_VALUE = 64;      // what atlas pixels outside every glyph image hold
// No side beyond this (the common GL limit); it also keeps every atlas
// coordinate far below 65536.
inline constexpr s64 ATLAS_MAX_SIDE = 16384;

// Code points below this are refused by load_glyph without asking FreeType.
inline constexpr u32 LOAD_GLYPH_FIRST_CODE_POINT = 30;

struct Atlas_Size {
    s64 width = 0;
    s64 height = 0;
};

// The smallest power of two (at least 1) not below 1 + 10 * cell, the bound
// taken in floating point and truncated; a cell of 0 or less gives 1.
s64 atlas_first_side(s32 cell);
// Both sides from the face's cell (the scaled maximum advance by the scaled height).
Atlas_Size first_atlas_size(s32 cell_width, s32 cell_height);
// The next size tried when the glyphs do not fit: width doubles while it is not
// greater than height, otherwise height doubles.
Atlas_Size next_atlas_size(Atlas_Size size);

// ---- Font operations ---------------------------------------------------------------

// Opens the face over `memory` (not copied) with no glyphs yet; base_size is
// the pixel size make_atlas rasterises at. Anything the record held before (face,
// packer, glyphs, atlas, texture) is released first. False, logged, when
// base_size is not positive or padding does not fit u16 (the record is then left
// alone), or when FreeType cannot open the face (ft_data then stays as it was).
bool init(Dynamic_Font *font, Array_View<u8> memory, s32 base_size, s64 padding);

// build_atlas then upload_atlas. With free_atlas the CPU copy of the atlas is
// freed after the upload; otherwise it stays in `atlas`. On failure the cause is
// logged and false returned: when the pixel size, the character map or the
// metrics fail, or the first atlas size is beyond ATLAS_MAX_SIDE, the font is
// untouched (an earlier atlas keeps working at its pixel size); on any later
// failure it is left without an atlas (no glyphs, no texture, no packer,
// load_glyph_proc null). A glyph FreeType cannot load is such a failure, not
// the end of the process. A missing face or font data is an assertion.
bool make_atlas(Dynamic_Font *font, bool free_atlas);

// The atlas pixels build_atlas produces: width * height bytes from the general
// heap, rows unpadded. Free with free_atlas_image unless upload_atlas takes them.
struct Atlas_Image {
    u8 *pixels = nullptr;
    s32 width = 0;
    s32 height = 0;
};

// The CPU half of make_atlas; calls no GL. Sets the pixel size, the metrics,
// the glyph table, the packer, average_glyph_advance and flags (DYNAMIC, plus
// MONOSPACED when 'm' and 'i' advance alike); frees a kept `atlas`. Leaves
// texture and load_glyph_proc to upload_atlas. Failures as make_atlas.
bool build_atlas(Dynamic_Font *font, Atlas_Image *image);

// The GL half: creates the texture from `image` (and takes the pixels: kept in
// `atlas` unless free_atlas, freed otherwise), binds it to unit 0, sets the font
// swizzle and installs load_glyph. False when the texture cannot be created; the
// font then has no atlas.
bool upload_atlas(Dynamic_Font *font, Atlas_Image image, bool free_atlas);

void free_atlas_image(Atlas_Image *image);

// Rasterises `code_point` into the atlas's free space and adds it to the glyph
// table; `p` must be the `base` of a Dynamic_Font. A code point already in the
// table returns its glyph. Null, with a warning (none when the font has no
// face), when the code point is below 30, the face lacks it, FreeType cannot
// load it, its image is empty or not 8-bit grey, the font has no atlas, or the
// rectangle does not fit; the font is then unchanged. The result points into the
// table and is valid until the next glyph is added.
Glyph *load_glyph(Font *p, u32 code_point);

// Closes the face and frees the packer, the glyph table, the kept atlas pixels
// and the atlas texture (a GL call only when there is one); the record is zeroed
// afterwards. Accepts a zeroed record.
void deinit(Dynamic_Font *font);

} // namespace tessera
