#include "renderer/text.h"

#include "base/log.h"
#include "renderer/primitives.h"

#include <cmath>
#include <cstring>

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

// Bytes 14..126 are one-byte code points that are not line breaks: the common
// case, told apart with one comparison.
static inline bool is_plain_byte(u32 byte) {
    return byte - 14 < 127 - 14;
}

// Whether all eight bytes of `word` are plain. A byte of 127 or more sets its
// top bit in word | (word + 1): a carry out of a byte only comes from 255, which
// has the bit already. With no byte above 127 nothing borrows across bytes in
// word - 14 except from a byte below 14, and such a byte sets its own top bit.
static inline bool all_plain(u64 word) {
    constexpr u64 ONES = 0x0101010101010101ull;
    return ((word | (word + ONES) | (word - 14 * ONES)) & (ONES * 0x80)) == 0;
}

// ---- Measuring -------------------------------------------------------------------

f32 get_text_width(const Font *font, String text) {
    const Glyph_Table glyphs = font->glyphs;
    // Also lets the compiler drop table_find's own emptiness test from the loop.
    if (!glyphs.count) return 0;
    // Summed as integers: exact, and no float dependency chain in the loop.
    u64 width = 0;
    // A code point without a glyph reads this one: it adds 0, without a branch.
    static const Glyph no_glyph = {};
    auto add = [&](u32 cp) {
        const Glyph *g = table_find_or(&glyphs, cp, &no_glyph);
        width += max_of(g->width, static_cast<u32>(g->advance));
    };
    for (s64 i = 0; i < text.count;) {
        // Eight plain bytes at a time: no decoding, no line-break tests.
        if (text.count - i >= 8) {
            u64 word;
            memcpy(&word, text.data + i, sizeof(word));
            if (all_plain(word)) {
#pragma GCC unroll 8
                for (s64 k = 0; k < 8; k++) add(text.data[i + k]);
                i += 8;
                continue;
            }
        }
        u32 cp = text.data[i];
        if (is_plain_byte(cp)) [[likely]] {
            i++;
        } else {
            Utf8_Decoded d = decode_utf8(text, i);
            i += d.length;
            cp = d.code_point;
            if (cp == '\r' || cp == '\n') continue;
        }
        add(cp);
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
//
// draw_text lays out a run of glyphs into a small buffer, then records the run
// with draw_quad. No vector register survives a call, so calling out per glyph
// would save and reload the whole layout state (scale, pen, limits, colour)
// around every quad; per run it is saved once.
//
// The layout works on quadruples (x, y, x, y): the pen and line offset, the
// bearing, the quad's corners. Each lane is rounded exactly as the scalar
// formula rounds it. Where a lane must pass unchanged it gets -0, the one
// addend that leaves every float (-0, NaN and infinities included) as it was.

using F32x4 = f32 __attribute__((vector_size(16)));
using S32x2 = s32 __attribute__((vector_size(8)));
using S32x4 = s32 __attribute__((vector_size(16)));
using U32x4 = u32 __attribute__((vector_size(16)));

static_assert(offsetof(Glyph, y0) == 4 && offsetof(Glyph, width) == 8 && offsetof(Glyph, height) == 12 &&
              offsetof(Glyph, bearing_top) == offsetof(Glyph, bearing_left) + 4);

inline constexpr F32x4 KEEP = {-0.0f, -0.0f, -0.0f, -0.0f};

// x0, y0, width, height as floats, each as static_cast<f32> of the u32 gives
// it. Values below 2^31 convert as signed; otherwise both 16-bit halves
// convert exactly and their sum is rounded once.
static inline F32x4 glyph_box(const Glyph *g) {
    U32x4 v;
    memcpy(&v, &g->x0, sizeof(v));
    u64 halves[2];
    memcpy(halves, &v, sizeof(halves));
    if (!((halves[0] | halves[1]) & 0x8000000080000000ull)) [[likely]]
        return __builtin_convertvector(reinterpret_cast<S32x4>(v), F32x4);
    F32x4 high = __builtin_convertvector(reinterpret_cast<S32x4>(v >> 16), F32x4);
    F32x4 low = __builtin_convertvector(reinterpret_cast<S32x4>(v & 0xFFFF), F32x4);
    return high * 65536.0f + low;
}

// (bearing_left, bearing_top, bearing_left, bearing_top) as floats.
static inline F32x4 glyph_bearing(const Glyph *g) {
    S32x2 v;
    memcpy(&v, &g->bearing_left, sizeof(v));
    S32x4 both = __builtin_shufflevector(v, v, 0, 1, 0, 1);
    return __builtin_convertvector(both, F32x4);
}

struct Text_Quad {
    Rect src, dst;
};

// Glyphs laid out before they are recorded.
inline constexpr s32 TEXT_QUAD_RUN = 64;

[[gnu::noinline]] static void record_quads(u32 texture_id, const Text_Quad *quads, const Text_Quad *end,
                                           Vector4 color) {
    for (; quads < end; quads++) draw_quad(texture_id, quads->src, quads->dst, color);
}

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

    // A corner = (position + bearing * (scale, -scale)) + (pen, line) * scale;
    // top * -scale is -(top * scale) exactly, so y is position.y - top * scale + ...
    const F32x4 origin = {position.x, position.y, position.x, position.y};
    const F32x4 bearing_scale = {scale, -scale, scale, -scale};
    const F32x4 scale4 = {scale, scale, scale, scale};
    const F32x4 inverse_atlas = {inverse_width, inverse_height, inverse_width, inverse_height};

    Text_Quad run[TEXT_QUAD_RUN];
    Text_Quad *next = run;
    f32 line = 0;             // base-size pixels down from the first baseline
    F32x4 pen = {0, 0, 0, 0}; // (pen x, line, pen x, line), base-size pixels
    for (s64 i = 0; i < text.count;) {
        u32 cp = text.data[i];
        if (is_plain_byte(cp)) [[likely]] {
            i++;
        } else {
            Utf8_Decoded d = decode_utf8(text, i);
            i += d.length;
            cp = d.code_point;
            if (cp == '\r') continue;
            if (cp == '\n') {
                if (multiline) line += line_advance, pen = F32x4{0, line, 0, line};
                continue;
            }
        }
        const Glyph *g = table_find(&glyphs, cp);
        if (!g) continue;

        f32 advance = static_cast<f32>(g->advance);
        F32x4 advanced = pen + F32x4{advance, -0.0f, advance, -0.0f};
        if (position.x + advanced[0] * scale > max_x) [[unlikely]] {
            if (!multiline) break;
            line += line_advance, pen = F32x4{0, line, 0, line};
            if (position.y + line * scale > max_y) break;
            advanced = pen + F32x4{advance, -0.0f, advance, -0.0f};
        }
        if (cp == ' ') {
            pen = advanced;
            continue;
        }
        F32x4 corner = (origin + glyph_bearing(g) * bearing_scale) + pen * scale4;
        pen = advanced;
        if (corner[0] < min_x || corner[1] < min_y) continue;

        if (next == run + TEXT_QUAD_RUN) [[unlikely]] {
            record_quads(texture_id, run, next, color);
            next = run;
        }
        F32x4 box = glyph_box(g); // x0, y0, width, height
        F32x4 size_only = __builtin_shufflevector(KEEP, box, 0, 1, 6, 7);
        F32x4 src = (__builtin_shufflevector(box, box, 0, 1, 0, 1) + size_only) * inverse_atlas;
        F32x4 dst = corner + __builtin_shufflevector(KEEP, box * scale4, 0, 1, 6, 7);
        memcpy(&next->src, &src, sizeof(src));
        memcpy(&next->dst, &dst, sizeof(dst));
        next++;
    }
    record_quads(texture_id, run, next, color);
    if (escape_color_in_out) *escape_color_in_out = color;
    return {pen[0] * scale, line * scale};
}

} // namespace tessera
