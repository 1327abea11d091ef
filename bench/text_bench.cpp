// Text cost beside Dear ImGui: drawing a line, measuring it, and building the
// glyph atlas, all on the project font (DejaVu Sans) at base size 64.
//
// Drawing: every iteration is one frame's batch of 100 copies of the same
// 64-character ASCII line at size 22, then the reset a frame ends with (ours: the
// flush's wind-down without GL; ImGui: _ResetForNewFrame on the same list). One
// untimed batch runs first, so the pools are committed and ImGui's vectors have
// grown: the rows show the steady state. "per_char" is time per character of
// the text (seconds, so 5.2n reads as 5.2 ns); the line has 10 spaces, so 54 of
// its 64 characters become quads.
//
// Measuring: one call on the line per iteration; "per_char" as above.
//
// Atlas: printable ASCII (32..126) at 64 pixels per iteration, in ms per build.
// ImGui's build opens its own FreeType library and face every time, so ours is
// also timed with a fresh face (init_and_build_atlas). freetype_alone_warm_face
// is FreeType's share of build_atlas. All rows reuse warm heap memory: the
// first build of a process also faults in the atlas's fresh pages.
//
// The font's atlas and the make_atlas row need a GL context (a display;
// tests/support/with-display gives one). Without one, the text font is built by
// build_atlas with a stand-in texture name (recording never calls GL; the glyphs
// are the same) and the GL row is skipped.
#include "base/context.h"
#include "dynamic_font.h"
#include "renderer/primitives.h"
#include "renderer/renderer.h"
#include "renderer/text.h"

#include "gl_fixture.h"

#include <benchmark/benchmark.h>
#include <imgui.h>
#include <imgui_freetype.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace tessera {
namespace {

// ---- Inputs ----------------------------------------------------------------------------

inline constexpr char LINE[] = "The quick brown fox jumps over the lazy dog, 0123456789 ABCDEFGH";
inline constexpr s64 LINE_LENGTH = sizeof(LINE) - 1;
static_assert(LINE_LENGTH == 64);
inline constexpr s32 LINES = 100; // per drawing batch
inline constexpr f32 TEXT_SIZE = 22;
inline constexpr s32 BASE_SIZE = 64;
inline constexpr s64 PADDING = 4;
inline constexpr Vector4 TINT = {1.0f, 0.8f, 0.4f, 1.0f};
inline constexpr ImU32 TINT_PACKED = IM_COL32(255, 204, 102, 255);
// Any non-zero name does for recording.
inline constexpr u32 STAND_IN_TEXTURE = 1;

String line_text() {
    return {LINE_LENGTH, reinterpret_cast<u8 *>(const_cast<char *>(LINE))};
}

// Pen positions of the batch: 40 baselines 24 pixels apart, shifted by a quarter
// pixel per line, all inside a 1920 by 1080 surface.
Vector2 line_position(s32 k) {
    return {10 + 0.25f * static_cast<f32>(k), 30 + 24 * static_cast<f32>(k % 40)};
}

// The TrueType bytes, read once. Empty on failure.
Array_View<u8> font_bytes() {
    static Array_View<u8> bytes = [] {
        Array_View<u8> b;
        FILE *f = fopen(TESSERA_BENCH_FONT, "rb");
        if (!f) return b;
        fseek(f, 0, SEEK_END);
        long size = ftell(f);
        fseek(f, 0, SEEK_SET);
        u8 *data = static_cast<u8 *>(malloc(static_cast<size_t>(size)));
        if (data && fread(data, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size)) {
            b = {size, data};
        }
        fclose(f);
        return b;
    }();
    return bytes;
}

void report_per_char(benchmark::State &state, s64 chars_per_iteration) {
    state.SetItemsProcessed(state.iterations() * chars_per_iteration);
    state.counters["per_char"] =
        benchmark::Counter(static_cast<double>(chars_per_iteration),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- Our font --------------------------------------------------------------------------

// init(64, 4) and make_atlas, as the demo makes its font. Null on failure.
const Font *text_font() {
    static Dynamic_Font font;
    static bool ready = [] {
        Array_View<u8> bytes = font_bytes();
        if (!bytes.count || !init(&font, bytes, BASE_SIZE, PADDING)) return false;
        if (test::gl_test_context()) return make_atlas(&font, true);
        Atlas_Image image;
        if (!build_atlas(&font, &image)) return false;
        font.base.texture.width = image.width;
        font.base.texture.height = image.height;
        font.base.texture.id = STAND_IN_TEXTURE;
        free_atlas_image(&image);
        return true;
    }();
    return ready ? &font.base : nullptr;
}

#define TESSERA_BENCH_FONT_OR_SKIP(font)                                                                     \
    const Font *font = text_font();                                                                          \
    if (!font) {                                                                                             \
        state.SkipWithError("could not make the font");                                                      \
        return;                                                                                              \
    }

// Recording needs only the two pools and a texture-unit count.
void recording_renderer() {
    if (renderer.vertex_data.memory_base) return;
    init(&renderer.vertex_data, RENDERER_POOL_RESERVATION, "vertex_data"_s);
    init(&renderer.index_data, RENDERER_POOL_RESERVATION, "index_data"_s);
    renderer.texture_units_available = RENDERER_MAX_TEXTURE_UNITS;
}

// What the flush's wind-down does to the recorded state, without GL, plus the
// scratch rewind the program makes once per frame (the texture lists live there).
void end_recorded_frame() {
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

// ---- Our text --------------------------------------------------------------------------

void draw_lines(const Font *font) {
    String text = line_text();
    for (s32 k = 0; k < LINES; k++) draw_text(font, text, TEXT_SIZE, line_position(k), TINT);
}

void draw_text_line(benchmark::State &state) {
    TESSERA_BENCH_FONT_OR_SKIP(font);
    recording_renderer();
    draw_lines(font);
    end_recorded_frame();
    for (auto _ : state) {
        draw_lines(font);
        benchmark::ClobberMemory();
        end_recorded_frame();
    }
    report_per_char(state, LINES * LINE_LENGTH);
}
BENCHMARK(draw_text_line);

// The quads draw_text records for the batch, laid out beforehand (the same
// arithmetic), so that recording them alone gives the split between the text
// loop and draw_quad.
struct Glyph_Quad {
    Rect src, dst;
};

struct Batch_Quads {
    Glyph_Quad *quads = nullptr;
    s32 count = 0;
};

Batch_Quads batch_quads(const Font *font) {
    static Batch_Quads batch = [font] {
        Batch_Quads b;
        b.quads = static_cast<Glyph_Quad *>(malloc(sizeof(Glyph_Quad) * LINES * LINE_LENGTH));
        f32 scale = TEXT_SIZE / static_cast<f32>(font->base_size);
        f32 iw = 1.0f / static_cast<f32>(font->texture.width),
            ih = 1.0f / static_cast<f32>(font->texture.height);
        for (s32 k = 0; k < LINES; k++) {
            Vector2 position = line_position(k);
            f32 pen = 0;
            for (s64 i = 0; i < LINE_LENGTH; i++) {
                const Glyph *g = get_glyph(font, static_cast<u8>(LINE[i]));
                if (!g) continue;
                Rect dst;
                dst.x0 = position.x + static_cast<f32>(g->bearing_left) * scale + pen * scale;
                dst.y0 = position.y - static_cast<f32>(g->bearing_top) * scale;
                dst.x1 = dst.x0 + static_cast<f32>(g->width) * scale;
                dst.y1 = dst.y0 + static_cast<f32>(g->height) * scale;
                pen += static_cast<f32>(g->advance);
                if (LINE[i] == ' ') continue;
                f32 x0 = static_cast<f32>(g->x0), y0 = static_cast<f32>(g->y0);
                Rect src = {x0 * iw, y0 * ih, (x0 + static_cast<f32>(g->width)) * iw,
                            (y0 + static_cast<f32>(g->height)) * ih};
                b.quads[b.count++] = {src, dst};
            }
        }
        return b;
    }();
    return batch;
}

void draw_quad_of_text_quads(benchmark::State &state) {
    TESSERA_BENCH_FONT_OR_SKIP(font);
    recording_renderer();
    Batch_Quads b = batch_quads(font);
    u32 texture = font->texture.id;
    auto record = [&] {
        for (s32 i = 0; i < b.count; i++) draw_quad(texture, b.quads[i].src, b.quads[i].dst, TINT);
    };
    record();
    end_recorded_frame();
    for (auto _ : state) {
        record();
        benchmark::ClobberMemory();
        end_recorded_frame();
    }
    // Per character of the text, to compare with draw_text_line.
    report_per_char(state, LINES * LINE_LENGTH);
    state.counters["quads"] = b.count;
}
BENCHMARK(draw_quad_of_text_quads);

void get_text_width_line(benchmark::State &state) {
    TESSERA_BENCH_FONT_OR_SKIP(font);
    String text = line_text();
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data);
        benchmark::DoNotOptimize(get_text_width(font, text));
    }
    report_per_char(state, LINE_LENGTH);
}
BENCHMARK(get_text_width_line);

// ---- Our atlas -------------------------------------------------------------------------

// build_atlas again and again on one face: FreeType's auto-hinter keeps its
// analysis of the face from the first build.
void build_atlas_warm_face(benchmark::State &state) {
    Array_View<u8> bytes = font_bytes();
    Dynamic_Font font;
    if (!bytes.count || !init(&font, bytes, BASE_SIZE, PADDING)) {
        state.SkipWithError("could not open the face");
        return;
    }
    for (auto _ : state) {
        Atlas_Image image;
        if (!build_atlas(&font, &image)) {
            state.SkipWithError("build_atlas failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
        free_atlas_image(&image);
    }
    deinit(&font);
}
BENCHMARK(build_atlas_warm_face)->Unit(benchmark::kMillisecond);

// FreeType's share of build_atlas: the same calls on the same warm face, the
// images left in the glyph slot.
void freetype_alone_warm_face(benchmark::State &state) {
    Array_View<u8> bytes = font_bytes();
    Dynamic_Font font;
    if (!bytes.count || !init(&font, bytes, BASE_SIZE, PADDING)) {
        state.SkipWithError("could not open the face");
        return;
    }
    constexpr FT_Int32 flags = FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT;
    for (auto _ : state) {
        FT_Set_Pixel_Sizes(font.face, 0, BASE_SIZE);
        FT_Select_Charmap(font.face, FT_ENCODING_UNICODE);
        for (u32 cp = ATLAS_FIRST_CODE_POINT; cp <= ATLAS_LAST_CODE_POINT; cp++) {
            FT_UInt glyph_id = FT_Get_Char_Index(font.face, cp);
            if (glyph_id && FT_Load_Glyph(font.face, glyph_id, flags)) {
                state.SkipWithError("FT_Load_Glyph failed");
                break;
            }
            benchmark::DoNotOptimize(font.face->glyph->bitmap.buffer);
        }
    }
    deinit(&font);
}
BENCHMARK(freetype_alone_warm_face)->Unit(benchmark::kMillisecond);

// A fresh face every time, as a program's one make_atlas after init sees it.
void init_and_build_atlas(benchmark::State &state) {
    Array_View<u8> bytes = font_bytes();
    Dynamic_Font font;
    for (auto _ : state) {
        if (!bytes.count || !init(&font, bytes, BASE_SIZE, PADDING)) {
            state.SkipWithError("could not open the face");
            break;
        }
        Atlas_Image image;
        if (!build_atlas(&font, &image)) {
            state.SkipWithError("build_atlas failed");
            break;
        }
        benchmark::DoNotOptimize(image.pixels);
        free_atlas_image(&image);
    }
    deinit(&font);
}
BENCHMARK(init_and_build_atlas)->Unit(benchmark::kMillisecond);

// What the rows above do not see: in a fresh process the atlas's heap block is
// new pages, and filling it faults each of them in. The same 2048 by 1024 fill
// on freshly mapped memory.
void atlas_fill_fresh_pages(benchmark::State &state) {
    constexpr size_t bytes = 2048 * 1024;
    for (auto _ : state) {
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            state.SkipWithError("mmap failed");
            break;
        }
        memset(p, ATLAS_FILL_VALUE, bytes);
        benchmark::ClobberMemory();
        munmap(p, bytes);
    }
}
BENCHMARK(atlas_fill_fresh_pages)->Unit(benchmark::kMillisecond);

// The same fill on warm memory, as the rows above see it.
void atlas_fill_warm(benchmark::State &state) {
    constexpr size_t bytes = 2048 * 1024;
    u8 *p = static_cast<u8 *>(malloc(bytes));
    memset(p, 0, bytes);
    for (auto _ : state) {
        memset(p, ATLAS_FILL_VALUE, bytes);
        benchmark::ClobberMemory();
    }
    free(p);
}
BENCHMARK(atlas_fill_warm)->Unit(benchmark::kMillisecond);

// The whole make_atlas: build_atlas plus the glTexImage2D of the atlas (llvmpipe
// copies it during the call), on one face.
void make_atlas_with_upload(benchmark::State &state) {
    Array_View<u8> bytes = font_bytes();
    if (!test::gl_test_context()) {
        state.SkipWithError("no GL context");
        return;
    }
    Dynamic_Font font;
    if (!bytes.count || !init(&font, bytes, BASE_SIZE, PADDING)) {
        state.SkipWithError("could not open the face");
        return;
    }
    for (auto _ : state) {
        if (!make_atlas(&font, true)) {
            state.SkipWithError("make_atlas failed");
            break;
        }
    }
    deinit(&font);
}
BENCHMARK(make_atlas_with_upload)->Unit(benchmark::kMillisecond);

// ---- Dear ImGui ------------------------------------------------------------------------

inline constexpr ImWchar PRINTABLE_ASCII[] = {32, 126, 0};
// Ours: FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT.
inline constexpr unsigned IMGUI_SAME_HINTING =
    ImGuiFreeTypeBuilderFlags_ForceAutoHint | ImGuiFreeTypeBuilderFlags_LightHinting;

// The font at 64 pixels over the 32..126 range, not owning the bytes.
ImFont *imgui_add_font(ImFontAtlas *atlas, unsigned builder_flags) {
    Array_View<u8> bytes = font_bytes();
    atlas->FontBuilderIO = ImGuiFreeType::GetBuilderForFreeType();
    atlas->FontBuilderFlags = builder_flags;
    ImFontConfig config;
    config.FontDataOwnedByAtlas = false;
    return atlas->AddFontFromMemoryTTF(bytes.data, static_cast<int>(bytes.count), static_cast<f32>(BASE_SIZE),
                                       &config, PRINTABLE_ASCII);
}

// A context whose only font is ours, built, after one frame, so the draw lists'
// shared data are what a program's lists see. Null on failure.
struct Imgui_Text {
    ImFont *font = nullptr;
    const ImDrawListSharedData *shared = nullptr;
};

const Imgui_Text *imgui_text() {
    static Imgui_Text text;
    static bool ready = [] {
        if (!font_bytes().count) return false;
        IMGUI_CHECKVERSION();
        static ImFontAtlas atlas;
        text.font = imgui_add_font(&atlas, IMGUI_SAME_HINTING);
        if (!text.font || !atlas.Build()) return false;
        atlas.SetTexID(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(STAND_IN_TEXTURE)));
        ImGui::CreateContext(&atlas);
        ImGuiIO &io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(1920, 1080);
        io.DeltaTime = 1.0f / 60;
        io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
        ImGui::NewFrame();
        ImGui::EndFrame();
        text.shared = ImGui::GetDrawListSharedData();
        return true;
    }();
    return ready ? &text : nullptr;
}

#define TESSERA_BENCH_IMGUI_OR_SKIP(t)                                                                       \
    const Imgui_Text *t = imgui_text();                                                                      \
    if (!t) {                                                                                                \
        state.SkipWithError("could not make the ImGui font");                                                \
        return;                                                                                              \
    }

// A new frame of the list, as ImGui's Begin does for a window's list.
void imgui_begin(ImDrawList *list, const ImFont *font) {
    list->_ResetForNewFrame();
    list->PushClipRectFullScreen();
    list->PushTextureID(font->ContainerAtlas->TexID);
}

void imgui_lines(ImDrawList *list, const ImFont *font) {
    for (s32 k = 0; k < LINES; k++) {
        Vector2 p = line_position(k);
        // ImGui's position is the line's top; ours the baseline. Either lies on screen.
        list->AddText(font, TEXT_SIZE, ImVec2(p.x, p.y - TEXT_SIZE), TINT_PACKED, LINE, LINE + LINE_LENGTH);
    }
}

void imgui_add_text_line(benchmark::State &state) {
    TESSERA_BENCH_IMGUI_OR_SKIP(t);
    ImDrawList list(t->shared);
    imgui_begin(&list, t->font);
    imgui_lines(&list, t->font);
    for (auto _ : state) {
        imgui_begin(&list, t->font);
        imgui_lines(&list, t->font);
        benchmark::ClobberMemory();
    }
    report_per_char(state, LINES * LINE_LENGTH);
    state.counters["quads"] = list.VtxBuffer.Size / 4;
}
BENCHMARK(imgui_add_text_line);

void imgui_calc_text_size_line(benchmark::State &state) {
    TESSERA_BENCH_IMGUI_OR_SKIP(t);
    for (auto _ : state) {
        const char *text = LINE;
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(t->font->CalcTextSizeA(TEXT_SIZE, FLT_MAX, 0, text, text + LINE_LENGTH));
    }
    report_per_char(state, LINE_LENGTH);
}
BENCHMARK(imgui_calc_text_size_line);

// A fresh atlas every time: the builder opens FreeType and the face, renders,
// packs and fills the Alpha8 texture. same_hinting matches our load flags; the
// default lets FreeType use the face's own hinter.
void imgui_atlas_build(benchmark::State &state, unsigned builder_flags) {
    if (!font_bytes().count) {
        state.SkipWithError("could not read the font");
        return;
    }
    for (auto _ : state) {
        ImFontAtlas atlas;
        imgui_add_font(&atlas, builder_flags);
        if (!atlas.Build()) {
            state.SkipWithError("ImFontAtlas::Build failed");
            break;
        }
        benchmark::DoNotOptimize(atlas.TexPixelsAlpha8);
    }
}
BENCHMARK_CAPTURE(imgui_atlas_build, same_hinting, IMGUI_SAME_HINTING)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(imgui_atlas_build, default_hinting, 0u)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tessera

BENCHMARK_MAIN();
