#include "renderer/text.h"

#include "base/log.h"
#include "renderer/primitives.h"

#include <cmath>

namespace tessera {

// ---- Decoding ----------------------------------------------------------------------

Utf8_Decoded detail::decode_utf8_sequence(String text, s64 index) {
    u8 lead = text.data[index];
    s64 length;
    u64 value;
    if (lead >= 252) {
        length = 6, value = lead & 0x03;
    } else if (lead >= 248) {
        length = 5, value = lead & 0x03;
    } else if (lead >= 240) {
        length = 4, value = lead & 0x07;
    } else if (lead >= 224) {
        length = 3, value = lead & 0x0F;
    } else if (lead >= 192) {
        length = 2, value = lead & 0x1F;
    } else {
        return {lead, 1};
    }
    s64 remaining = text.count - index;
    if (length > remaining) return {TEXT_DECODE_FAILED, remaining};
    for (s64 k = 1; k < length; k++) value = (value << 6) | (text.data[index + k] & 0x3F);
    // A six-byte lead carries two bits, so the result can reach 32 bits.
    if (value > 0x7FFFFFFF) return {TEXT_REPLACEMENT_CHARACTER, length};
    return {static_cast<u32>(value), length};
}

// ---- Glyphs and metrics ----------------------------------------------------------------

Metrics metrics_from_font_size(const Font *font, f32 size) {
    const Metrics &m = font->metrics;
    if (m.y_ppem == 0 || m.units_per_em == 0) {
        log_error(TEXT_METRICS_ZERO_SCALE, m.y_ppem, m.units_per_em);
        return {};
    }
    // Floored as a float: a huge or NaN size stays a float, no integer cast.
    f32 s = std::floor(size);
    Metrics r;
    r.ascender = s * m.ascender / m.y_ppem;
    r.descender = s * m.descender / m.y_ppem;
    r.height = s * m.height / m.y_ppem;
    r.line_gap = s * m.line_gap / m.units_per_em;
    return r;
}

// size / base_size. A font without glyphs lays out nothing, whatever its base
// size; one with glyphs but base_size 0 cannot be scaled.
static bool layout_scale(const Font *font, f32 size, f32 *scale) {
    if (font->base_size) {
        *scale = size / static_cast<f32>(font->base_size);
        return true;
    }
    *scale = 0;
    if (!font->glyphs.count) return true;
    log_error(TEXT_FONT_NO_BASE_SIZE);
    return false;
}

// The walks below look glyphs up in a copy of the table's header: it lives in
// registers, where the font's own would be reloaded after every call out.
using Glyph_Table = Table<u32, Glyph>;

// ---- Measuring -------------------------------------------------------------------

f32 get_text_width(const Font *font, String text) {
    const Glyph_Table glyphs = font->glyphs;
    // Also lets the compiler drop table_find's own emptiness test from the loop.
    if (!glyphs.count) return 0;
    // Summed as integers: exact, and no float dependency chain in the loop.
    u64 width = 0;
    for (s64 i = 0; i < text.count;) {
        Utf8_Decoded d = decode_utf8(text, i);
        i += d.length;
        if (d.code_point <= '\r' && (d.code_point == '\r' || d.code_point == '\n')) continue;
        const Glyph *g = table_find(&glyphs, d.code_point);
        if (!g) continue;
        width += max_of(g->width, static_cast<u32>(g->advance));
    }
    return static_cast<f32>(width);
}

s64 text_index_from_position(const Font *font, String text, f32 size, f32 position, Stop_At stop_at) {
    f32 scale;
    if (!layout_scale(font, size, &scale)) return 0;
    const Glyph_Table glyphs = font->glyphs;
    f32 pen = 0; // base-size pixels
    for (s64 index = 0; index < text.count;) {
        Utf8_Decoded d = decode_utf8(text, index);
        u32 cp = d.code_point;
        const Glyph *g = table_find(&glyphs, cp);
        if (g) {
            f32 advance = static_cast<f32>(g->advance);
            f32 start = static_cast<f32>(g->bearing_left) * scale + pen * scale;
            f32 stop = start;
            if (stop_at == Stop_At::END) {
                stop = start + advance * scale;
            } else if (stop_at == Stop_At::CENTER) {
                f32 extent = is_text_white_space(cp) ? advance : static_cast<f32>(g->width);
                stop = start + extent * scale / 2;
            }
            pen += advance;
            if (stop > position) return index;
        }
        index += d.length;
    }
    return text.count;
}

Glyph_Extent text_position_from_index(const Font *font, String text, f32 size, s64 index) {
    f32 scale;
    if (!layout_scale(font, size, &scale)) return {};
    const Glyph_Table glyphs = font->glyphs;
    Glyph_Extent e;
    f32 pen = 0;        // base-size pixels
    s64 code_point = 0; // the number of the code point at `at`
    for (s64 at = 0; at < text.count; code_point++) {
        Utf8_Decoded d = decode_utf8(text, at);
        at += d.length;
        u32 cp = d.code_point;
        const Glyph *g = table_find(&glyphs, cp);
        if (!g) continue;
        f32 advance = static_cast<f32>(g->advance);
        e.x0 = pen * scale + static_cast<f32>(g->bearing_left) * scale;
        e.x1 = is_text_white_space(cp) ? (pen + advance) * scale : e.x0 + static_cast<f32>(g->width) * scale;
        pen += advance;
        if (code_point >= index) break;
    }
    return e;
}

// ---- Drawing -------------------------------------------------------------------

Vector2 draw_text(const Font *font, String text, f32 size, Vector2 position, Vector4 tint, f32 min_x,
                  f32 max_x, f32 min_y, f32 max_y, bool multiline, Vector4 *escape_color_in_out) {
    f32 scale;
    if (!layout_scale(font, size, &scale)) return {};
    Vector4 color = escape_color_in_out ? *escape_color_in_out : tint;
    // Reciprocals of the atlas size: exact for the power-of-two atlases, and
    // four divisions per glyph would cost more than the rest of the layout. A
    // font without a texture gets zero texture coordinates.
    const Texture &atlas = font->texture;
    f32 inverse_width = atlas.width > 0 ? 1.0f / static_cast<f32>(atlas.width) : 0;
    f32 inverse_height = atlas.height > 0 ? 1.0f / static_cast<f32>(atlas.height) : 0;
    f32 line_advance = static_cast<f32>(font->base_size);
    u32 texture_id = atlas.id;
    const Glyph_Table glyphs = font->glyphs;

    f32 pen = 0;  // base-size pixels along the line
    f32 line = 0; // base-size pixels down from the first baseline
    for (s64 i = 0; i < text.count;) {
        Utf8_Decoded d = decode_utf8(text, i);
        i += d.length;
        u32 cp = d.code_point;
        if (cp == '\r') continue;
        if (cp == '\n') {
            if (multiline) line += line_advance, pen = 0;
            continue;
        }
        const Glyph *g = table_find(&glyphs, cp);
        if (!g) continue;

        f32 advance = static_cast<f32>(g->advance);
        if (position.x + (pen + advance) * scale > max_x) {
            if (!multiline) break;
            line += line_advance, pen = 0;
            if (position.y + line * scale > max_y) break;
        }

        Rect dst;
        dst.x0 = position.x + static_cast<f32>(g->bearing_left) * scale + pen * scale;
        dst.y0 = position.y - static_cast<f32>(g->bearing_top) * scale + line * scale;
        dst.x1 = dst.x0 + static_cast<f32>(g->width) * scale;
        dst.y1 = dst.y0 + static_cast<f32>(g->height) * scale;
        pen += advance;
        if (dst.x0 < min_x || dst.y0 < min_y || cp == ' ') continue;

        f32 gx0 = static_cast<f32>(g->x0), gy0 = static_cast<f32>(g->y0);
        Rect src = {gx0 * inverse_width, gy0 * inverse_height,
                    (gx0 + static_cast<f32>(g->width)) * inverse_width,
                    (gy0 + static_cast<f32>(g->height)) * inverse_height};
        draw_quad(texture_id, src, dst, color);
    }
    if (escape_color_in_out) *escape_color_in_out = color;
    return {pen * scale, line * scale};
}

} // namespace tessera
