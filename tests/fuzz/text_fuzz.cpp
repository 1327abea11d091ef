// Arbitrary bytes as text through every layout call and draw_text, on the
// project font rasterised with FreeType at base size 64 (no GL: draw_text records
// into real pools, which are emptied after every input the way the flush does).
//
// Besides the sanitizers, each input checks what must hold for any text: a caret
// index is a code-point boundary within the text, extents and pen offsets are
// finite, every recorded quad is finite and starts inside the given bounds, and no
// more quads are recorded than there are code points.

#include "base/context.h"
#include "font.h"
#include "renderer/pass.h"
#include "renderer/renderer.h"
#include "renderer/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace tessera;

namespace {

Font font;

// Any broken property is a finding: stop the way a sanitizer would.
#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                         \
            abort();                                                                                         \
        }                                                                                                    \
    } while (0)

std::vector<u8> read_file(const char *path) {
    std::vector<u8> bytes;
    FILE *f = fopen(path, "rb");
    if (!f) return bytes;
    u8 buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

// The glyph table a dynamic font would build, laid out in shelves of a fake
// 1024 by 1024 atlas (only the coordinates matter here, no pixels are kept).
void load_font() {
    static std::vector<u8> ttf = read_file(TESSERA_FUZZ_FONT_PATH);
    FUZZ_CHECK(!ttf.empty());
    FT_Library library;
    FT_Face face;
    FUZZ_CHECK(FT_Init_FreeType(&library) == 0);
    FUZZ_CHECK(FT_New_Memory_Face(library, ttf.data(), static_cast<FT_Long>(ttf.size()), 0, &face) == 0);
    FUZZ_CHECK(FT_Set_Pixel_Sizes(face, 0, 64) == 0);

    std::vector<u32> code_points;
    for (u32 cp = 32; cp <= 126; cp++) code_points.push_back(cp);
    for (u32 cp : {0xA0u, 0xC9u, 0xE9u, 0xF6u, 0xFFu, 0x410u, 0x416u, 0x430u, 0x44Fu, 0xFFFDu}) {
        code_points.push_back(cp);
    }

    const u32 atlas_size = 1024;
    u32 x = 0, y = 0, shelf = 0;
    for (u32 cp : code_points) {
        FT_UInt index = FT_Get_Char_Index(face, cp);
        if (!index) continue;
        FUZZ_CHECK(
            FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT) == 0);
        FT_GlyphSlot slot = face->glyph;
        Glyph g;
        g.width = slot->bitmap.width;
        g.height = slot->bitmap.rows;
        g.bearing_left = slot->bitmap_left;
        g.bearing_top = slot->bitmap_top;
        g.advance = static_cast<s32>(slot->advance.x >> 6);
        g.glyph_id = index;
        if (x + g.width > atlas_size) x = 0, y += shelf, shelf = 0;
        g.x0 = x, g.y0 = y;
        x += g.width + 1;
        if (g.height + 1 > shelf) shelf = g.height + 1;
        FUZZ_CHECK(y + g.height <= atlas_size);
        table_set(&font.glyphs, cp, g);
    }
    font.base_size = 64;
    font.texture.width = atlas_size;
    font.texture.height = atlas_size;
    font.texture.id = 1;
    font.metrics.ascender = static_cast<f32>(face->size->metrics.ascender >> 6);
    font.metrics.descender = static_cast<f32>(face->size->metrics.descender >> 6);
    font.metrics.height = static_cast<f32>(face->size->metrics.height >> 6);
    font.metrics.units_per_em = face->units_per_EM;
    font.metrics.line_gap = face->height;
    font.metrics.y_ppem = face->size->metrics.y_ppem;
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}

// What the flush leaves behind, without its GL work.
void reset_frame() {
    renderer.passes.count = 0;
    renderer.clip_stack.count = 0;
    renderer.opacity_stack.count = 0;
    renderer.vertex_data_allocated = 0;
    renderer.index_data_allocated = 0;
    renderer.vertex_current_allocation = 0;
    renderer.index_current_allocation = 0;
    reset(&renderer.vertex_data);
    reset(&renderer.index_data);
    frame_stats = {};
    reset_temporary_storage();
}

bool is_boundary(String text, s64 index) {
    s64 at = 0;
    while (at < index) at += decode_utf8(text, at).length;
    return at == index;
}

s64 code_point_count(String text) {
    s64 n = 0;
    for (s64 at = 0; at < text.count; n++) at += decode_utf8(text, at).length;
    return n;
}

// Checks every recorded quad against the bounds it was drawn under; returns the count.
s64 check_quads(f32 min_x, f32 min_y) {
    s64 quads = 0;
    for (s64 i = 0; i < renderer.passes.count; i++) {
        const Pass &pass = renderer.passes.data[i];
        FUZZ_CHECK(pass.base.kind == Pass_Kind::STANDARD);
        const Standard_Pass &p = pass.standard;
        FUZZ_CHECK(p.vertex_count % 4 == 0 && p.index_count == p.vertex_count / 4 * 6);
        FUZZ_CHECK(p.texture_count == 1 && p.texture_data[0] == font.texture.id);
        const auto *v = reinterpret_cast<const Standard_Vertex *>(p.vertex_data);
        for (s32 k = 0; k < p.vertex_count; k++) {
            FUZZ_CHECK(std::isfinite(v[k].position.x) && std::isfinite(v[k].position.y));
            FUZZ_CHECK(v[k].texture_uv.x >= 0 && v[k].texture_uv.x <= 1);
            FUZZ_CHECK(v[k].texture_uv.y >= 0 && v[k].texture_uv.y <= 1);
            if (k % 4 == 0) FUZZ_CHECK(v[k].position.x >= min_x && v[k].position.y >= min_y);
        }
        quads += p.vertex_count / 4;
    }
    return quads;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    load_font();
    init(&renderer.vertex_data, RENDERER_POOL_RESERVATION, "vertex_data"_s);
    init(&renderer.index_data, RENDERER_POOL_RESERVATION, "index_data"_s);
    renderer.texture_units_available = 16;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, size_t size) {
    String text = make_string(data, static_cast<s64>(size));
    s64 code_points = code_point_count(text);

    f32 width = get_text_width(&font, text);
    FUZZ_CHECK(std::isfinite(width) && width >= 0);

    for (f32 size_px : {22.0f, 64.0f}) {
        for (Stop_At stop_at : {Stop_At::START, Stop_At::CENTER, Stop_At::END}) {
            for (f32 position : {-1.0f, 0.0f, 37.5f, width * size_px / 128, 1e9f}) {
                s64 index = text_index_from_position(&font, text, size_px, position, stop_at);
                FUZZ_CHECK(index >= 0 && index <= text.count);
                FUZZ_CHECK(is_boundary(text, index));
            }
        }
        for (s64 index : {s64(-1), s64(0), s64(1), code_points / 2, code_points, code_points + 3}) {
            Glyph_Extent e = text_position_from_index(&font, text, size_px, index);
            FUZZ_CHECK(std::isfinite(e.x0) && std::isfinite(e.x1));
        }
    }

    const Vector4 tint = {1, 1, 1, 1};
    Vector2 pen = draw_text(&font, text, 22, {10, 40}, tint);
    FUZZ_CHECK(std::isfinite(pen.x) && pen.y == 0);
    FUZZ_CHECK(check_quads(0, 0) <= code_points);
    reset_frame();

    Vector4 escape = {0.5f, 0.25f, 1, 0.75f};
    pen = draw_text(&font, text, 22, {10, 40}, tint, 12, 300, 20, 400, true, &escape);
    FUZZ_CHECK(std::isfinite(pen.x) && std::isfinite(pen.y));
    FUZZ_CHECK(escape.x == 0.5f && escape.w == 0.75f);
    FUZZ_CHECK(check_quads(12, 20) <= code_points);
    reset_frame();

    pen = draw_text(&font, text, 64, {0, 64}, tint, 0, 200, 0, TEXT_UNBOUNDED, false);
    FUZZ_CHECK(pen.x <= 200 && pen.y == 0); // scale 1: every glyph laid out ended within max_x
    FUZZ_CHECK(check_quads(0, 0) <= code_points);
    reset_frame();
    return 0;
}
