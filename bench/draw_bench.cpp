// Drawing cost: recording textured quads and rounded UI rectangles, flushing
// them to GL, and Dear ImGui's ImDrawList recording the same shapes, with the
// heap allocations of every variant counted.
//
// Every iteration is one frame's batch of 10,000 shapes followed by the reset a
// frame ends with: for ours the flush's wind-down (pass list, stacks, counters,
// pools, scratch storage), for ImGui _ResetForNewFrame on the same ImDrawList.
// One untimed batch runs first, as the first frame of a program would, so the
// pools are committed, the pass array and ImGui's vectors have grown, and the
// rows show the steady state.
//
// Counters: "per_quad" / "per_rect" / "per_item" is time per shape (seconds, so
// 5.2n reads as 5.2 ns); "allocs" is heap allocations per iteration, counted by
// replacing operator new and the malloc family for the whole process (every
// thread, the GL driver's included); the flush rows add "allocs_this_thread",
// the benchmark thread's share, and "draws", the GL draw calls per flush.
//
// The flush rows need a GL context: run them on a display
// (tests/support/with-display gives one). They time flush() alone: one frame is
// recorded, and every iteration puts back the few fields the flush's wind-down
// cleared and flushes the same frame again.
#include "base/context.h"
#include "gl/gl.h"
#include "renderer/flush.h"
#include "renderer/primitives.h"
#include "renderer/renderer.h"
#include "renderer/texture.h"

#include "gl_fixture.h"

#include <benchmark/benchmark.h>
#include <imgui.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

// ---- Allocation counting ---------------------------------------------------------------

// Every allocation of the process goes through these: operator new and the
// malloc family forward to glibc's own entry points and count one call each.
// free and delete are not counted.
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *p, size_t size);
void __libc_free(void *p);
void *__libc_memalign(size_t alignment, size_t size);
void *__libc_valloc(size_t size);
void *__libc_pvalloc(size_t size);
}

namespace {

// Relaxed: a count, not a synchronisation; driver threads add to it too.
std::atomic<unsigned long long> allocation_calls{0};
// The calling thread's own share, to tell the benchmark's thread from the driver's.
thread_local unsigned long long thread_allocation_calls = 0;

inline void count_allocation() {
    allocation_calls.fetch_add(1, std::memory_order_relaxed);
    thread_allocation_calls++;
}

// operator new must not return null; without exceptions there is no bad_alloc.
void *checked(void *p) {
    if (!p) std::abort();
    return p;
}

} // namespace

extern "C" {
void *malloc(size_t size) noexcept {
    count_allocation();
    return __libc_malloc(size);
}
void *calloc(size_t count, size_t size) noexcept {
    count_allocation();
    return __libc_calloc(count, size);
}
void *realloc(void *p, size_t size) noexcept {
    count_allocation();
    return __libc_realloc(p, size);
}
void free(void *p) noexcept {
    __libc_free(p);
}
void *memalign(size_t alignment, size_t size) noexcept {
    count_allocation();
    return __libc_memalign(alignment, size);
}
void *aligned_alloc(size_t alignment, size_t size) noexcept {
    count_allocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void **result, size_t alignment, size_t size) noexcept {
    count_allocation();
    // glibc's own checks: a power of two that is a multiple of sizeof(void *).
    if (alignment % sizeof(void *) != 0 || (alignment & (alignment - 1)) != 0 || alignment == 0)
        return EINVAL;
    void *p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *result = p;
    return 0;
}
void *valloc(size_t size) noexcept {
    count_allocation();
    return __libc_valloc(size);
}
void *pvalloc(size_t size) noexcept {
    count_allocation();
    return __libc_pvalloc(size);
}
}

void *operator new(size_t size) {
    count_allocation();
    return checked(__libc_malloc(size));
}
void *operator new[](size_t size) {
    count_allocation();
    return checked(__libc_malloc(size));
}
void *operator new(size_t size, const std::nothrow_t &) noexcept {
    count_allocation();
    return __libc_malloc(size);
}
void *operator new[](size_t size, const std::nothrow_t &) noexcept {
    count_allocation();
    return __libc_malloc(size);
}
void *operator new(size_t size, std::align_val_t alignment) {
    count_allocation();
    return checked(__libc_memalign(static_cast<size_t>(alignment), size));
}
void *operator new[](size_t size, std::align_val_t alignment) {
    count_allocation();
    return checked(__libc_memalign(static_cast<size_t>(alignment), size));
}
void *operator new(size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    count_allocation();
    return __libc_memalign(static_cast<size_t>(alignment), size);
}
void *operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    count_allocation();
    return __libc_memalign(static_cast<size_t>(alignment), size);
}
void operator delete(void *p) noexcept {
    __libc_free(p);
}
void operator delete[](void *p) noexcept {
    __libc_free(p);
}
void operator delete(void *p, size_t) noexcept {
    __libc_free(p);
}
void operator delete[](void *p, size_t) noexcept {
    __libc_free(p);
}
void operator delete(void *p, std::align_val_t) noexcept {
    __libc_free(p);
}
void operator delete[](void *p, std::align_val_t) noexcept {
    __libc_free(p);
}
void operator delete(void *p, size_t, std::align_val_t) noexcept {
    __libc_free(p);
}
void operator delete[](void *p, size_t, std::align_val_t) noexcept {
    __libc_free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    __libc_free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    __libc_free(p);
}

namespace tessera {
namespace {

// ---- Shapes ----------------------------------------------------------------------------

inline constexpr s32 BATCH = 10000;
inline constexpr s32 SURFACE_WIDTH = test::GL_TEST_WINDOW_WIDTH;
inline constexpr s32 SURFACE_HEIGHT = test::GL_TEST_WINDOW_HEIGHT;
// Both sides round their rectangles by this much; the rectangles are large
// enough (36 by 20) that ImGui does not clamp it.
inline constexpr f32 CORNER_RADIUS = 8;
inline constexpr f32 EDGE_SOFTNESS = 1;
inline constexpr Vector4 TINT = {1.0f, 0.8f, 0.4f, 1.0f};
inline constexpr ImU32 TINT_PACKED = IM_COL32(255, 204, 102, 255);
inline constexpr Rect FULL_SOURCE = {0, 0, 1, 1};
// Any non-zero name does for recording; the flush rows make a real texture.
inline constexpr u32 RECORDING_TEXTURE = 1;

// 36 by 20 rectangles on a 40 by 24 grid over the surface, shifted by a
// quarter pixel on every pass over it, so no two shapes of a batch coincide.
const Rect *recording_shapes() {
    static Rect shapes[BATCH];
    static bool made = [] {
        for (s32 i = 0; i < BATCH; i++) {
            s32 columns = SURFACE_WIDTH / 40, rows = SURFACE_HEIGHT / 24;
            f32 x = static_cast<f32>(i % columns * 40) + 0.25f * static_cast<f32>(i / (columns * rows));
            f32 y = static_cast<f32>(i / columns % rows * 24);
            shapes[i] = {x, y, x + 36, y + 20};
        }
        return true;
    }();
    (void)made;
    return shapes;
}

// 4 by 4 rectangles spread over the surface for the flush rows: the rasterizer
// (llvmpipe, on this machine's CPU) then adds little to the driver's share.
const Rect *flush_shapes() {
    static Rect shapes[BATCH];
    static bool made = [] {
        for (s32 i = 0; i < BATCH; i++) {
            f32 x = static_cast<f32>(i % 100 * 8), y = static_cast<f32>(i / 100 * 6);
            shapes[i] = {x, y, x + 4, y + 4};
        }
        return true;
    }();
    (void)made;
    return shapes;
}

// ---- Counters --------------------------------------------------------------------------

unsigned long long allocations_now() {
    return allocation_calls.load(std::memory_order_relaxed);
}

void report(benchmark::State &state, const char *per_item, unsigned long long allocations) {
    state.SetItemsProcessed(state.iterations() * BATCH);
    state.counters[per_item] = benchmark::Counter(BATCH, benchmark::Counter::kIsIterationInvariantRate |
                                                             benchmark::Counter::kInvert);
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

// ---- Our renderer ----------------------------------------------------------------------

// Recording needs only the two pools and a texture-unit count; once a GL row
// has run, the full renderer (whose pools these are too) serves instead.
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

void record_quads(const Rect *shapes, u32 texture) {
    for (s32 i = 0; i < BATCH; i++) draw_quad(texture, FULL_SOURCE, shapes[i], TINT);
}

void record_rounded_rects(const Rect *shapes) {
    for (s32 i = 0; i < BATCH; i++) ui_draw_rect(shapes[i], TINT, 0, EDGE_SOFTNESS, CORNER_RADIUS);
}

void draw_quad_textured(benchmark::State &state) {
    recording_renderer();
    const Rect *shapes = recording_shapes();
    record_quads(shapes, RECORDING_TEXTURE);
    end_recorded_frame();
    unsigned long long before = allocations_now();
    for (auto _ : state) {
        record_quads(shapes, RECORDING_TEXTURE);
        benchmark::ClobberMemory();
        end_recorded_frame();
    }
    report(state, "per_quad", allocations_now() - before);
}
BENCHMARK(draw_quad_textured);

void ui_draw_rect_rounded(benchmark::State &state) {
    recording_renderer();
    const Rect *shapes = recording_shapes();
    record_rounded_rects(shapes);
    end_recorded_frame();
    unsigned long long before = allocations_now();
    for (auto _ : state) {
        record_rounded_rects(shapes);
        benchmark::ClobberMemory();
        end_recorded_frame();
    }
    report(state, "per_rect", allocations_now() - before);
}
BENCHMARK(ui_draw_rect_rounded);

// ---- Dear ImGui ------------------------------------------------------------------------

// The shared data of a context whose font atlas is built and which has run one
// frame, so the tessellation tables, the white-pixel UV and the full-screen clip
// are what a program's draw lists see. The renderer flag is the one the usual GL3
// back end sets: with 16-bit indices it lets a list grow past 65,536 vertices
// (the rounded rectangles need that), as a real frame would.
const ImDrawListSharedData *imgui_shared_data() {
    static const ImDrawListSharedData *shared = [] {
        IMGUI_CHECKVERSION();
        ImGui::CreateContext();
        ImGuiIO &io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(static_cast<float>(SURFACE_WIDTH), static_cast<float>(SURFACE_HEIGHT));
        io.DeltaTime = 1.0f / 60;
        io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
        unsigned char *pixels = nullptr;
        int width = 0, height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
        io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<intptr_t>(RECORDING_TEXTURE)));
        ImGui::NewFrame();
        ImGui::EndFrame();
        return ImGui::GetDrawListSharedData();
    }();
    return shared;
}

ImTextureID imgui_texture() {
    return reinterpret_cast<ImTextureID>(static_cast<intptr_t>(RECORDING_TEXTURE));
}

// A new frame of the list, as ImGui's Begin does for a window's list, with the
// texture pushed once so that AddImage does not push and pop it per call.
void imgui_begin(ImDrawList *list, bool anti_aliased) {
    list->_ResetForNewFrame();
    if (!anti_aliased) list->Flags &= ~(ImDrawListFlags_AntiAliasedFill | ImDrawListFlags_AntiAliasedLines);
    list->PushClipRectFullScreen();
    list->PushTextureID(imgui_texture());
}

void imgui_images(ImDrawList *list, const Rect *shapes) {
    ImTextureID texture = imgui_texture();
    for (s32 i = 0; i < BATCH; i++) {
        const Rect &r = shapes[i];
        list->AddImage(texture, ImVec2(r.x0, r.y0), ImVec2(r.x1, r.y1), ImVec2(0, 0), ImVec2(1, 1),
                       TINT_PACKED);
    }
}

void imgui_rounded_rects(ImDrawList *list, const Rect *shapes) {
    for (s32 i = 0; i < BATCH; i++) {
        const Rect &r = shapes[i];
        list->AddRectFilled(ImVec2(r.x0, r.y0), ImVec2(r.x1, r.y1), TINT_PACKED, CORNER_RADIUS);
    }
}

void imgui_add_image(benchmark::State &state) {
    ImDrawList list(imgui_shared_data());
    const Rect *shapes = recording_shapes();
    imgui_begin(&list, true);
    imgui_images(&list, shapes);
    unsigned long long before = allocations_now();
    for (auto _ : state) {
        imgui_begin(&list, true);
        imgui_images(&list, shapes);
        benchmark::ClobberMemory();
    }
    report(state, "per_quad", allocations_now() - before);
    state.counters["vertices"] = list.VtxBuffer.Size;
}
BENCHMARK(imgui_add_image);

// ImGui's default: anti-aliased fill (a one-pixel fringe of extra vertices),
// which is what ours gives through edge_softness.
void imgui_add_rect_filled_rounded(benchmark::State &state, bool anti_aliased) {
    ImDrawList list(imgui_shared_data());
    const Rect *shapes = recording_shapes();
    imgui_begin(&list, anti_aliased);
    imgui_rounded_rects(&list, shapes);
    unsigned long long before = allocations_now();
    for (auto _ : state) {
        imgui_begin(&list, anti_aliased);
        imgui_rounded_rects(&list, shapes);
        benchmark::ClobberMemory();
    }
    report(state, "per_rect", allocations_now() - before);
    state.counters["vertices"] = list.VtxBuffer.Size;
}
BENCHMARK_CAPTURE(imgui_add_rect_filled_rounded, anti_aliased, true);
BENCHMARK_CAPTURE(imgui_add_rect_filled_rounded, no_anti_aliasing, false);

// ---- The flush -------------------------------------------------------------------------

// The full renderer on the shared hidden window, its projection in window
// pixels, and a 4 by 4 white texture for the quads. Null on failure.
const Texture *gl_renderer() {
    static Texture texture;
    static bool ready = [] {
        if (!test::gl_test_context()) return false;
        // renderer_init makes the pools itself.
        if (renderer.vertex_data.memory_base) {
            deinit(&renderer.vertex_data);
            deinit(&renderer.index_data);
        }
        renderer.width = SURFACE_WIDTH;
        renderer.height = SURFACE_HEIGHT;
        renderer_init();
        constexpr f32 W = SURFACE_WIDTH, H = SURFACE_HEIGHT;
        renderer.projection_matrix = {2.0f / W, 0, 0, -1, 0, -2.0f / H, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1};
        u8 white[4 * 4 * 4];
        for (u8 &b : white) b = 255;
        return init(&texture, 4, 4, 4, white);
    }();
    return ready ? &texture : nullptr;
}

#define TESSERA_BENCH_GL(texture)                                                                            \
    const Texture *texture = gl_renderer();                                                                  \
    if (!texture) {                                                                                          \
        state.SkipWithError("no GL context");                                                                \
        return;                                                                                              \
    }

// Every GL entry replaced by one that does nothing (and returns zero), so that a
// flush costs only its own walk over the passes and the calls into the table.
struct Stubbed_GL {
#define TESSERA_BENCH_SAVE_(name, type) type saved_##name = name;
    TESSERA_GL_PROCS(TESSERA_BENCH_SAVE_)
#undef TESSERA_BENCH_SAVE_

    template <typename R, typename... A>
    static void stub(R(APIENTRY *&entry)(A...)) {
        entry = [](A...) -> R { return R(); };
    }

    Stubbed_GL() {
#define TESSERA_BENCH_STUB_(name, type) stub(name);
        TESSERA_GL_PROCS(TESSERA_BENCH_STUB_)
#undef TESSERA_BENCH_STUB_
    }
    ~Stubbed_GL() {
#define TESSERA_BENCH_RESTORE_(name, type) name = saved_##name;
        TESSERA_GL_PROCS(TESSERA_BENCH_RESTORE_)
#undef TESSERA_BENCH_RESTORE_
    }
};

enum class Flush_Driver {
    REAL,               // everything the driver does, rasterizing the 4 by 4 quads included
    RASTERIZER_DISCARD, // the driver's CPU work with GL_RASTERIZER_DISCARD on: nothing reaches pixels
    STUBBED,            // no driver at all: our pass walk only
};

// What a recorded frame leaves in the renderer besides the slots and the pool
// bytes themselves, which the flush does not touch (it only sets counts and ends
// back). Putting these back replays the same frame: the next flush sees exactly
// what recording left, so the loop times the flush alone, without recording
// between flushes and without pausing the timer.
struct Recorded_Frame {
    s64 passes = 0;
    u8 *vertex_end = nullptr;
    u8 *index_end = nullptr;
    s64 vertex_data_allocated = 0, index_data_allocated = 0;
    s64 vertex_current_allocation = 0, index_current_allocation = 0;
    Frame_Stats stats = {};
};

Recorded_Frame recorded_frame() {
    return {renderer.passes.count,
            renderer.vertex_data.current_point,
            renderer.index_data.current_point,
            renderer.vertex_data_allocated,
            renderer.index_data_allocated,
            renderer.vertex_current_allocation,
            renderer.index_current_allocation,
            frame_stats};
}

void replay(const Recorded_Frame &f) {
    renderer.passes.count = f.passes;
    renderer.vertex_data.current_point = f.vertex_end;
    renderer.index_data.current_point = f.index_end;
    renderer.vertex_data_allocated = f.vertex_data_allocated;
    renderer.index_data_allocated = f.index_data_allocated;
    renderer.vertex_current_allocation = f.vertex_current_allocation;
    renderer.index_current_allocation = f.index_current_allocation;
    frame_stats = f.stats;
}

template <typename Record>
void flush_batch(benchmark::State &state, Flush_Driver driver, Record record) {
    TESSERA_BENCH_GL(texture);
    Stubbed_GL *stubs = driver == Flush_Driver::STUBBED ? new Stubbed_GL : nullptr;
    if (driver == Flush_Driver::RASTERIZER_DISCARD) glEnable(GL_RASTERIZER_DISCARD);

    // The first frame: commits the pools and lets the driver set up.
    record(texture->id);
    flush();
    reset_temporary_storage();

    record(texture->id);
    Recorded_Frame frame = recorded_frame();
    flush();
    unsigned long long before = allocations_now(), before_here = thread_allocation_calls;
    for (auto _ : state) {
        replay(frame);
        flush();
    }
    unsigned long long allocations = allocations_now() - before;
    unsigned long long allocations_here = thread_allocation_calls - before_here;
    reset_temporary_storage();

    if (driver == Flush_Driver::RASTERIZER_DISCARD) glDisable(GL_RASTERIZER_DISCARD);
    delete stubs;
    glFinish();
    report(state, "per_item", allocations);
    state.counters["allocs_this_thread"] =
        benchmark::Counter(static_cast<double>(allocations_here), benchmark::Counter::kAvgIterations);
    state.counters["draws"] = static_cast<double>(last_frame_stats.draw_calls);
}

void flush_quads(benchmark::State &state, Flush_Driver driver) {
    const Rect *shapes = flush_shapes();
    flush_batch(state, driver, [shapes](u32 texture) { record_quads(shapes, texture); });
}
// Real time: llvmpipe rasterizes on threads of its own, and the flush waits for
// them when it refills a buffer that a draw still reads.
BENCHMARK_CAPTURE(flush_quads, driver, Flush_Driver::REAL)->UseRealTime();
BENCHMARK_CAPTURE(flush_quads, rasterizer_discard, Flush_Driver::RASTERIZER_DISCARD)->UseRealTime();
BENCHMARK_CAPTURE(flush_quads, pass_walk_only, Flush_Driver::STUBBED)->UseRealTime();

void flush_rounded_rects(benchmark::State &state, Flush_Driver driver) {
    const Rect *shapes = flush_shapes();
    flush_batch(state, driver, [shapes](u32) { record_rounded_rects(shapes); });
}
BENCHMARK_CAPTURE(flush_rounded_rects, driver, Flush_Driver::REAL)->UseRealTime();
BENCHMARK_CAPTURE(flush_rounded_rects, rasterizer_discard, Flush_Driver::RASTERIZER_DISCARD)->UseRealTime();
BENCHMARK_CAPTURE(flush_rounded_rects, pass_walk_only, Flush_Driver::STUBBED)->UseRealTime();

} // namespace
} // namespace tessera

BENCHMARK_MAIN();
