#include "dynamic_font.h"

#include "base/allocator.h"
#include "base/assert.h"
#include "base/context.h"
#include "base/log.h"
#include "utils.h"

// stb_rect_pack sorts the rectangles twice per pack, with qsort by default.
// Which glyph of two equal rectangles lands where depends on the order the sort
// leaves them in; glibc's qsort is a stable merge sort, and so is this one, so
// the atlas is the same. On 95 rectangles insertion is cheaper (no allocation,
// and the comparison inlines), and it does not depend on the C library's choice.
static void stable_sort_rects(void *base, size_t count, size_t size,
                              int (*compare)(const void *, const void *)) {
    ASSERT(size == sizeof(stbrp_rect));
    stbrp_rect *rects = static_cast<stbrp_rect *>(base);
    for (size_t i = 1; i < count; i++) {
        stbrp_rect moving = rects[i];
        size_t at = i;
        for (; at > 0 && compare(&rects[at - 1], &moving) > 0; at--) rects[at] = rects[at - 1];
        rects[at] = moving;
    }
}
#define STBRP_SORT stable_sort_rects
#define STB_RECT_PACK_IMPLEMENTATION
#include <stb_rect_pack.h>

#include <cstdlib>
#include <cstring>

namespace tessera {

FT_Library freetype = nullptr;

static constexpr FT_Int32 GLYPH_LOAD_FLAGS = FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT;

// ---- Atlas sizing ------------------------------------------------------------------

s64 atlas_first_side(s32 cell) {
    const s32 bound = truncate_to_s32(1.0 + static_cast<f64>(ATLAS_CELLS_PER_SIDE) * cell);
    if (bound <= 1) return 1;
    return static_cast<s64>(my_next_power_of_two(static_cast<u64>(bound)));
}

Atlas_Size first_atlas_size(s32 cell_width, s32 cell_height) {
    return {atlas_first_side(cell_width), atlas_first_side(cell_height)};
}

Atlas_Size next_atlas_size(Atlas_Size size) {
    if (size.width <= size.height) return {size.width * 2, size.height};
    return {size.width, size.height * 2};
}

static bool fits_atlas_limit(Atlas_Size size) {
    return size.width <= ATLAS_MAX_SIDE && size.height <= ATLAS_MAX_SIDE;
}

// ---- FreeType helpers ----------------------------------------------------------------

// Whole pixels of a 26.6 value (the shift floors), clamped to s32.
static s32 pixels_from_26_6(FT_Pos v) {
    v >>= 6;
    if (v < INT32_MIN) return INT32_MIN;
    if (v > INT32_MAX) return INT32_MAX;
    return static_cast<s32>(v);
}

enum class Bitmap_Kind { EMPTY, GREY, UNSUPPORTED };

// Only 8-bit grey rows are copied; an embedded mono or colour strike would be
// read past its rows if taken as width bytes per row.
static Bitmap_Kind bitmap_kind(const FT_Bitmap &b) {
    if (b.width == 0 || b.rows == 0 || !b.buffer) return Bitmap_Kind::EMPTY;
    const s64 pitch = b.pitch < 0 ? -static_cast<s64>(b.pitch) : b.pitch;
    if (b.pixel_mode != FT_PIXEL_MODE_GRAY || pitch < b.width) return Bitmap_Kind::UNSUPPORTED;
    return Bitmap_Kind::GREY;
}

// Rows are `pitch` bytes apart, bottom row first in memory when it is negative;
// `dst` gets them top down, `width` bytes each.
static void copy_grey_rows(u8 *dst, const FT_Bitmap &b) {
    const size_t width = b.width;
    if (b.pitch == static_cast<int>(b.width)) {
        memcpy(dst, b.buffer, width * b.rows);
        return;
    }
    const u8 *top = b.buffer;
    if (b.pitch < 0) top += -static_cast<s64>(b.pitch) * (b.rows - 1);
    for (u32 y = 0; y < b.rows; y++) memcpy(dst + y * width, top + static_cast<s64>(y) * b.pitch, width);
}

static Glyph glyph_from_slot(const FT_GlyphSlot slot, FT_UInt glyph_id) {
    Glyph g;
    g.width = slot->bitmap.width;
    g.height = slot->bitmap.rows;
    g.bearing_left = slot->bitmap_left;
    g.bearing_top = slot->bitmap_top;
    g.advance = pixels_from_26_6(slot->advance.x);
    if (g.advance == 0) g.advance = static_cast<s32>(g.width);
    g.glyph_id = glyph_id;
    return g;
}

// ---- Atlas state -----------------------------------------------------------------------

// Forgets the CPU side of the atlas: glyphs, packer, kept pixels, load_glyph.
// The texture belongs to the GL half.
static void drop_atlas(Dynamic_Font *font) {
    table_reset(&font->base.glyphs);
    array_free(&font->rp_nodes);
    font->rp_context = {};
    if (font->atlas) deallocate(font->atlas, heap_allocator);
    font->atlas = nullptr;
    font->base.average_glyph_advance = 0;
    font->base.flags = Font_Flags::NONE;
    font->base.load_glyph_proc = nullptr;
}

static bool has_atlas(const Dynamic_Font *font) {
    return font->base.load_glyph_proc && font->base.texture.id != 0 &&
           font->rp_nodes.count == ATLAS_PACK_NODES;
}

// Everything but ft_data, base_size and padding.
static void release(Dynamic_Font *font) {
    if (font->face) FT_Done_Face(font->face);
    font->face = nullptr;
    drop_atlas(font);
    table_deinit(&font->base.glyphs);
    deinit(&font->base.texture);
}

void free_atlas_image(Atlas_Image *image) {
    if (image->pixels) deallocate(image->pixels, heap_allocator);
    *image = {};
}

// ---- init, deinit ------------------------------------------------------------------------

bool init(Dynamic_Font *font, Array_View<u8> memory, s32 base_size, s64 padding) {
    if (base_size < 1) {
        log_error(DYNAMIC_FONT_BAD_BASE_SIZE, base_size);
        return false;
    }
    if (padding < 0 || padding > UINT16_MAX) {
        log_error(DYNAMIC_FONT_BAD_PADDING, padding);
        return false;
    }
    release(font);

    if (!freetype) {
        FT_Error error = FT_Init_FreeType(&freetype);
        if (error) {
            freetype = nullptr;
            log(DYNAMIC_FONT_FREETYPE_INIT_FAILED, error);
        }
    }

    font->padding = static_cast<u16>(padding);
    font->base.base_size = static_cast<u32>(base_size);

    // A negative count would reach FreeType as a huge unsigned size.
    const FT_Long size = memory.data && memory.count > 0 ? static_cast<FT_Long>(memory.count) : 0;
    FT_Error error = FT_New_Memory_Face(freetype, memory.data, size, 0, &font->face);
    if (error) {
        font->face = nullptr;
        log(DYNAMIC_FONT_FACE_FAILED, error);
        return false;
    }
    font->ft_data = memory;
    return true;
}

void deinit(Dynamic_Font *font) {
    release(font);
    *font = Dynamic_Font{};
}

// ---- make_atlas ----------------------------------------------------------------------------

// Room for the preloaded glyphs at the table's 70 % load, so building never rehashes.
static void reserve_glyphs(Table<u32, Glyph> *glyphs, s64 count) {
    s64 capacity = 16;
    while (count * 10 > capacity * 7) capacity *= 2;
    if (glyphs->allocated < capacity) detail::table_grow(glyphs, capacity);
}

bool build_atlas(Dynamic_Font *font, Atlas_Image *image) {
    ASSERT(font->ft_data.count > 0 && font->ft_data.data, "make_atlas: the font has no data");
    ASSERT(font->face, "make_atlas: the font has no face");
    *image = {};
    FT_Face face = font->face;
    Font *base = &font->base;

    // Until the old atlas is dropped a failure leaves the font as it was, which
    // includes the pixel size its glyphs and load_glyph use.
    auto keep_earlier_atlas = [&] {
        if (has_atlas(font)) FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(base->metrics.y_ppem));
        return false;
    };
    FT_Error error = FT_Set_Pixel_Sizes(face, 0, base->base_size);
    if (error) {
        log_error(DYNAMIC_FONT_PIXEL_SIZE_FAILED, error);
        return keep_earlier_atlas();
    }
    error = FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    if (error) {
        log_error(DYNAMIC_FONT_CHARMAP_FAILED, error);
        return keep_earlier_atlas();
    }
    const FT_Size_Metrics &size_metrics = face->size->metrics;
    // Text layout divides by both.
    if (face->units_per_EM == 0 || size_metrics.y_ppem == 0) {
        log_error(DYNAMIC_FONT_NO_METRICS, face->units_per_EM, size_metrics.y_ppem);
        return keep_earlier_atlas();
    }
    const s32 cell_width = pixels_from_26_6(size_metrics.max_advance);
    const s32 cell_height = pixels_from_26_6(size_metrics.height);
    Atlas_Size atlas_size = first_atlas_size(cell_width, cell_height);
    if (!fits_atlas_limit(atlas_size)) {
        log_error(DYNAMIC_FONT_ATLAS_TOO_LARGE, base->base_size, ATLAS_MAX_SIDE, ATLAS_MAX_SIDE);
        return keep_earlier_atlas();
    }

    // From here on the earlier atlas is gone, whatever happens.
    drop_atlas(font);
    reserve_glyphs(&base->glyphs, ATLAS_PRELOADED_GLYPHS);
    base->metrics.ascender = static_cast<f32>(pixels_from_26_6(size_metrics.ascender));
    base->metrics.descender = static_cast<f32>(pixels_from_26_6(size_metrics.descender));
    base->metrics.height = static_cast<f32>(cell_height);
    base->metrics.units_per_em = static_cast<f32>(face->units_per_EM);
    base->metrics.line_gap = static_cast<f32>(face->height);
    base->metrics.y_ppem = static_cast<f32>(size_metrics.y_ppem);

    // ---- Rasterise every glyph once into the scratch buffer.
    Temporary_Scope scratch_scope;
    s64 scratch_size = max_of<s64>(0, static_cast<s64>(cell_width)) * ATLAS_PRELOADED_GLYPHS *
                       max_of<s64>(0, static_cast<s64>(cell_height));
    u8 *scratch = static_cast<u8 *>(allocate(scratch_size, temporary_allocator));
    s64 scratch_used = 0;

    stbrp_rect rects[ATLAS_PRELOADED_GLYPHS] = {};
    Glyph glyphs[ATLAS_PRELOADED_GLYPHS];
    s64 sources[ATLAS_PRELOADED_GLYPHS]; // scratch offset of each image; -1: none
    bool present[ATLAS_PRELOADED_GLYPHS] = {};
    s64 advance_sum = 0;
    s64 advance_count = 0;

    for (u32 cp = ATLAS_FIRST_CODE_POINT; cp <= ATLAS_LAST_CODE_POINT; cp++) {
        const s32 i = static_cast<s32>(cp - ATLAS_FIRST_CODE_POINT);
        const FT_UInt glyph_id = FT_Get_Char_Index(face, cp);
        if (glyph_id == 0) continue; // its rectangle stays empty and takes no space

        error = FT_Load_Glyph(face, glyph_id, GLYPH_LOAD_FLAGS);
        if (error) {
            // A font whose printable range cannot be rasterised is unusable:
            // the process ends with FreeType's error as its status.
            log_error(DYNAMIC_FONT_PRELOAD_FAILED, cp, error);
            exit(error);
        }
        const FT_Bitmap &bitmap = face->glyph->bitmap;
        const Bitmap_Kind kind = bitmap_kind(bitmap);
        if (kind == Bitmap_Kind::UNSUPPORTED) {
            log(DYNAMIC_FONT_UNSUPPORTED_BITMAP, cp, bitmap.pixel_mode, Log_Flags::WARNING);
            continue;
        }
        const s64 image_size = kind == Bitmap_Kind::GREY ? static_cast<s64>(bitmap.width) * bitmap.rows : 0;
        if (scratch_used + image_size > scratch_size) {
            // A glyph larger than the cell; 1.2 times, or at once to what it needs.
            s64 grown = max_of(scratch_size + scratch_size / 5, scratch_used + image_size);
            scratch = static_cast<u8 *>(reallocate(scratch, scratch_size, grown, temporary_allocator));
            scratch_size = grown;
        }

        rects[i].id = static_cast<int>(cp);
        rects[i].w = static_cast<int>(bitmap.width) + 2 * font->padding;
        rects[i].h = static_cast<int>(bitmap.rows) + 2 * font->padding;

        glyphs[i] = glyph_from_slot(face->glyph, glyph_id);
        if (glyphs[i].advance > 0) {
            advance_sum += glyphs[i].advance;
            advance_count++;
        }
        present[i] = true;
        sources[i] = -1;
        if (image_size) {
            sources[i] = scratch_used;
            copy_grey_rows(scratch + scratch_used, bitmap);
            scratch_used += image_size;
        }
    }
    // No positive advance at all: nothing to average.
    base->average_glyph_advance = advance_count ? static_cast<u32>(advance_sum / advance_count) : 0;

    // ---- Pack, doubling the atlas until every rectangle fits.
    array_resize(&font->rp_nodes, ATLAS_PACK_NODES);
    for (;;) {
        stbrp_init_target(&font->rp_context, static_cast<int>(atlas_size.width),
                          static_cast<int>(atlas_size.height), font->rp_nodes.data, ATLAS_PACK_NODES);
        if (stbrp_pack_rects(&font->rp_context, rects, ATLAS_PRELOADED_GLYPHS)) break;
        atlas_size = next_atlas_size(atlas_size);
        if (!fits_atlas_limit(atlas_size)) {
            log_error(DYNAMIC_FONT_ATLAS_TOO_LARGE, base->base_size, ATLAS_MAX_SIDE, ATLAS_MAX_SIDE);
            drop_atlas(font);
            return false;
        }
    }
    // Later single glyphs may use every free pixel, not the quantised widths.
    stbrp_setup_allow_out_of_mem(&font->rp_context, 1);

    // ---- Copy the images into the atlas.
    const s64 atlas_width = atlas_size.width;
    const s64 atlas_height = atlas_size.height;
    u8 *pixels = static_cast<u8 *>(allocate(atlas_width * atlas_height, heap_allocator));
    memset(pixels, ATLAS_FILL_VALUE, static_cast<size_t>(atlas_width * atlas_height));

    for (s32 i = 0; i < ATLAS_PRELOADED_GLYPHS; i++) {
        if (!present[i]) continue;
        Glyph *g = &glyphs[i];
        const stbrp_rect &r = rects[i];
        ASSERT(r.was_packed && r.x >= 0 && r.y >= 0, "glyph % was not packed", r.id);
        // The atlas side limit keeps these far from wrapping.
        g->x0 = static_cast<u32>(r.x) + font->padding;
        g->y0 = static_cast<u32>(r.y) + font->padding;
        ASSERT(g->x0 + g->width <= atlas_width && g->y0 + g->height <= atlas_height,
               "glyph % packed outside the atlas", r.id);
        if (sources[i] >= 0) {
            const u8 *source = scratch + sources[i];
            u8 *target = pixels + static_cast<s64>(g->y0) * atlas_width + g->x0;
            for (u32 y = 0; y < g->height; y++) {
                memcpy(target, source, g->width);
                source += g->width;
                target += atlas_width;
            }
        }
        table_set(&base->glyphs, static_cast<u32>(r.id), *g);
    }

    base->flags = Font_Flags::DYNAMIC;
    const s32 m = 'm' - ATLAS_FIRST_CODE_POINT;
    const s32 i = 'i' - ATLAS_FIRST_CODE_POINT;
    if (present[m] && present[i] && glyphs[m].advance == glyphs[i].advance) {
        base->flags |= Font_Flags::MONOSPACED;
        base->average_glyph_advance = static_cast<u32>(max_of(glyphs[m].advance, 0));
    }

    image->pixels = pixels;
    image->width = static_cast<s32>(atlas_width);
    image->height = static_cast<s32>(atlas_height);
    return true;
}

bool upload_atlas(Dynamic_Font *font, Atlas_Image image, bool free_atlas) {
    Texture *texture = &font->base.texture;
    if (!init(texture, image.width, image.height, 1, image.pixels, 0, GL_NEAREST, GL_MIRRORED_REPEAT)) {
        free_atlas_image(&image);
        drop_atlas(font);
        return false;
    }
    bind(*texture, 0);
    if (font->atlas && font->atlas != image.pixels) deallocate(font->atlas, heap_allocator);
    font->atlas = nullptr;
    if (free_atlas) {
        free_atlas_image(&image);
    } else {
        font->atlas = image.pixels;
    }
    set_texture_swizzle_mask_for_fonts(texture);
    font->base.load_glyph_proc = load_glyph;
    return true;
}

bool make_atlas(Dynamic_Font *font, bool free_atlas) {
    Atlas_Image image;
    if (!build_atlas(font, &image)) {
        // Past the point where the old atlas was dropped, its texture goes too.
        if (!font->base.load_glyph_proc) deinit(&font->base.texture);
        return false;
    }
    return upload_atlas(font, image, free_atlas);
}

// ---- load_glyph ------------------------------------------------------------------------------

Glyph *load_glyph(Font *p, u32 code_point) {
    Dynamic_Font *font = reinterpret_cast<Dynamic_Font *>(p);
    if (!font->face) return nullptr;
    if (code_point < LOAD_GLYPH_FIRST_CODE_POINT) {
        log(DYNAMIC_FONT_NO_GLYPH, code_point, Log_Flags::WARNING);
        return nullptr;
    }
    // Packing it again would only waste atlas space.
    if (Glyph *known = table_find(&p->glyphs, code_point)) return known;
    // Without a packer there is no free space to take (and no texture to write).
    if (!has_atlas(font)) {
        log(DYNAMIC_FONT_NO_ATLAS, code_point, Log_Flags::WARNING);
        return nullptr;
    }

    const FT_UInt glyph_id = FT_Get_Char_Index(font->face, code_point);
    if (glyph_id == 0) {
        log(DYNAMIC_FONT_NO_GLYPH, code_point, Log_Flags::WARNING);
        return nullptr;
    }
    FT_Error error = FT_Load_Glyph(font->face, glyph_id, GLYPH_LOAD_FLAGS);
    if (error) {
        log(DYNAMIC_FONT_LOAD_FAILED, code_point, error, Log_Flags::WARNING);
        return nullptr;
    }
    const FT_Bitmap &bitmap = font->face->glyph->bitmap;
    switch (bitmap_kind(bitmap)) {
    case Bitmap_Kind::EMPTY:
        log(DYNAMIC_FONT_NO_BITMAP, code_point, Log_Flags::WARNING);
        return nullptr;
    case Bitmap_Kind::UNSUPPORTED:
        log(DYNAMIC_FONT_UNSUPPORTED_BITMAP, code_point, bitmap.pixel_mode, Log_Flags::WARNING);
        return nullptr;
    case Bitmap_Kind::GREY:
        break;
    }

    stbrp_rect rect = {};
    rect.id = static_cast<int>(code_point);
    rect.w = static_cast<int>(bitmap.width) + 2 * font->padding;
    rect.h = static_cast<int>(bitmap.rows) + 2 * font->padding;
    stbrp_pack_rects(&font->rp_context, &rect, 1); // a refused rectangle leaves the packer as it was
    if (!rect.was_packed) {
        log(DYNAMIC_FONT_PACK_FAILED, code_point, Log_Flags::WARNING);
        return nullptr;
    }

    Glyph glyph = glyph_from_slot(font->face->glyph, glyph_id);
    glyph.x0 = static_cast<u32>(rect.x) + font->padding;
    glyph.y0 = static_cast<u32>(rect.y) + font->padding;

    // The upload wants unpadded rows; FreeType's grey rows usually are.
    Temporary_Scope scratch_scope;
    const u8 *rows = bitmap.buffer;
    if (bitmap.pitch != static_cast<int>(bitmap.width)) {
        u8 *packed =
            static_cast<u8 *>(allocate(static_cast<s64>(bitmap.width) * bitmap.rows, temporary_allocator));
        copy_grey_rows(packed, bitmap);
        rows = packed;
    }
    update(&p->texture, rows, static_cast<s32>(glyph.x0), static_cast<s32>(glyph.y0),
           static_cast<s32>(glyph.width), static_cast<s32>(glyph.height), 1);
    return table_set(&p->glyphs, code_point, glyph);
}

} // namespace tessera
