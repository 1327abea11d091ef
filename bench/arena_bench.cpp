// Allocation cost of the arena against a plain bump pointer, a monotonic pmr
// resource and malloc, on one batch of 1,000,000 blocks of pseudo-random sizes
// 16..256 bytes at alignment 8 (the same sizes, fixed seed, for every variant).
//
// Each block gets a 4-byte store at its start, so every page of the batch is
// touched and first-touch page faults show up in the variants that start from
// fresh memory. The store is a u32 rather than a byte: a char store may alias
// the arena record and would force it through memory on every allocation, which
// user code storing typed data does not do. The *_untouched variants leave the
// blocks alone and isolate the pointer arithmetic.
//
// The "per_alloc" counter is wall time per allocation; the iteration time is per
// batch.
#include "arena.h"

#include <benchmark/benchmark.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory_resource>
#include <random>
#include <vector>

namespace {

using namespace tessera;

constexpr int BATCH = 1'000'000;
constexpr u32 ALIGNMENT = 8;
constexpr u64 BUFFER_SIZE = 256ull << 20; // holds the batch (about 140 MB) with room to spare
constexpr u64 GIB = 1ull << 30;

const std::vector<u32> &batch_sizes() {
    static const std::vector<u32> sizes = [] {
        std::mt19937 rng(0x7e55e7a);
        std::uniform_int_distribution<u32> size(16, 256);
        std::vector<u32> s(BATCH);
        for (u32 &v : s) v = size(rng);
        return s;
    }();
    return sizes;
}

void report(benchmark::State &state, int allocations, const char *what) {
    state.counters["per_alloc"] =
        benchmark::Counter(static_cast<double>(allocations),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(std::to_string(allocations) + " allocs 16..256 B align 8, " + what);
}

inline void touch(void *p, int i) {
    *static_cast<u32 *>(p) = static_cast<u32>(i);
}

// Maps and faults in a buffer once, outside the timed loops.
u8 *prefaulted_buffer(u64 size) {
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) abort();
    memset(p, 1, size);
    return static_cast<u8 *>(p);
}

template <bool Touch>
inline uintptr_t arena_batch(Arena *a, const u32 *sizes, int count) {
    uintptr_t sum = 0;
    for (int i = 0; i < count; i++) {
        void *p = arena_alloc(a, sizes[i], ALIGNMENT);
        if constexpr (Touch) touch(p, i);
        sum += reinterpret_cast<uintptr_t>(p);
    }
    return sum;
}

// (a) The headline: after arena_reset, with the whole batch already committed
// and faulted in by an untimed first run.
template <bool Touch>
void BM_arena_after_reset(benchmark::State &state) {
    const u32 *sizes = batch_sizes().data();
    Arena a{};
    arena_init(&a, BUFFER_SIZE);
    arena_batch<true>(&a, sizes, BATCH);
    if (a.current != a.begin) state.SkipWithError("batch did not fit the first region");
    for (auto _ : state) {
        arena_reset(&a);
        benchmark::DoNotOptimize(arena_batch<Touch>(&a, sizes, BATCH));
        benchmark::ClobberMemory();
    }
    arena_deinit(&a);
    report(state, BATCH, Touch ? "committed, after reset" : "committed, after reset, blocks untouched");
}
BENCHMARK(BM_arena_after_reset<true>)->Name("arena_after_reset")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_arena_after_reset<false>)->Name("arena_after_reset_untouched")->Unit(benchmark::kMillisecond);

// (b) The baseline: a bump pointer with a bounds test over one prefaulted buffer.
template <bool Touch>
void BM_bump_pointer(benchmark::State &state) {
    const u32 *sizes = batch_sizes().data();
    u8 *buffer = prefaulted_buffer(BUFFER_SIZE);
    for (auto _ : state) {
        u64 used = 0;
        uintptr_t sum = 0;
        for (int i = 0; i < BATCH; i++) {
            u64 start = align_up_pow2(used, ALIGNMENT);
            if (start + sizes[i] > BUFFER_SIZE) [[unlikely]]
                abort();
            used = start + sizes[i];
            void *p = buffer + start;
            if constexpr (Touch) touch(p, i);
            sum += reinterpret_cast<uintptr_t>(p);
        }
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
    munmap(buffer, BUFFER_SIZE);
    report(state, BATCH, Touch ? "prefaulted buffer" : "prefaulted buffer, blocks untouched");
}
BENCHMARK(BM_bump_pointer<true>)->Name("bump_pointer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_bump_pointer<false>)->Name("bump_pointer_untouched")->Unit(benchmark::kMillisecond);

// (c) std::pmr::monotonic_buffer_resource, released at the end of each batch.
void BM_pmr_monotonic_new_delete(benchmark::State &state) {
    const u32 *sizes = batch_sizes().data();
    for (auto _ : state) {
        std::pmr::monotonic_buffer_resource resource(std::pmr::new_delete_resource());
        uintptr_t sum = 0;
        for (int i = 0; i < BATCH; i++) {
            void *p = resource.allocate(sizes[i], ALIGNMENT);
            touch(p, i);
            sum += reinterpret_cast<uintptr_t>(p);
        }
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
    report(state, BATCH, "upstream new/delete");
}
BENCHMARK(BM_pmr_monotonic_new_delete)->Name("pmr_monotonic")->Unit(benchmark::kMillisecond);

// The same resource over a prefaulted initial buffer: like the arena after reset.
void BM_pmr_monotonic_buffer(benchmark::State &state) {
    const u32 *sizes = batch_sizes().data();
    u8 *buffer = prefaulted_buffer(BUFFER_SIZE);
    for (auto _ : state) {
        std::pmr::monotonic_buffer_resource resource(buffer, BUFFER_SIZE, std::pmr::null_memory_resource());
        uintptr_t sum = 0;
        for (int i = 0; i < BATCH; i++) {
            void *p = resource.allocate(sizes[i], ALIGNMENT);
            touch(p, i);
            sum += reinterpret_cast<uintptr_t>(p);
        }
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
    munmap(buffer, BUFFER_SIZE);
    report(state, BATCH, "prefaulted initial buffer");
}
BENCHMARK(BM_pmr_monotonic_buffer)->Name("pmr_monotonic_prefaulted")->Unit(benchmark::kMillisecond);

// (d) glibc malloc, and the frees of the batch, both timed.
void BM_malloc_free(benchmark::State &state) {
    const u32 *sizes = batch_sizes().data();
    std::vector<void *> blocks(BATCH);
    for (auto _ : state) {
        for (int i = 0; i < BATCH; i++) {
            void *p = malloc(sizes[i]);
            touch(p, i);
            blocks[i] = p;
        }
        benchmark::DoNotOptimize(blocks.data());
        benchmark::ClobberMemory();
        for (int i = 0; i < BATCH; i++) free(blocks[i]);
    }
    report(state, BATCH, "malloc + free (malloc aligns to 16)");
}
BENCHMARK(BM_malloc_free)->Name("malloc_free")->Unit(benchmark::kMillisecond);

// (e) From an empty (zero-filled) arena: regions grow one page at a time from a
// one-page first region; arena_deinit is part of each batch.
void BM_arena_empty(benchmark::State &state) {
    const u32 *sizes = batch_sizes().data();
    for (auto _ : state) {
        Arena a{};
        benchmark::DoNotOptimize(arena_batch<true>(&a, sizes, BATCH));
        benchmark::ClobberMemory();
        arena_deinit(&a);
    }
    report(state, BATCH, "empty arena, deinit included");
}
BENCHMARK(BM_arena_empty)->Name("arena_empty")->Unit(benchmark::kMillisecond);

// (f) From a freshly initialised 1 GiB arena: one region, committed in steps as
// it fills. Init and deinit are part of each batch. The argument is the batch
// length, to show small scratch-style batches too.
void BM_arena_fresh_1gib(benchmark::State &state) {
    const u32 *sizes = batch_sizes().data();
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Arena a{};
        arena_init(&a, GIB);
        benchmark::DoNotOptimize(arena_batch<true>(&a, sizes, count));
        benchmark::ClobberMemory();
        arena_deinit(&a);
    }
    report(state, count, "fresh arena_init 1 GiB, init + deinit included");
}
BENCHMARK(BM_arena_fresh_1gib)
    ->Name("arena_fresh_1GiB")
    ->Arg(BATCH)
    ->Arg(10'000)
    ->Unit(benchmark::kMillisecond);

// How much of (e) and (f) is the kernel: first touch of fresh anonymous pages,
// mmap and munmap included, per page.
void BM_first_touch(benchmark::State &state) {
    const u64 page = get_page_size();
    const u64 size = 64ull << 20;
    for (auto _ : state) {
        void *m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) abort();
        u8 *p = static_cast<u8 *>(m);
        for (u64 at = 0; at < size; at += page) p[at] = 1;
        benchmark::ClobberMemory();
        munmap(m, size);
    }
    state.counters["per_page"] =
        benchmark::Counter(static_cast<double>(size / page),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel("64 MiB of fresh anonymous memory, one write per page");
}
BENCHMARK(BM_first_touch)->Name("first_touch_page")->Unit(benchmark::kMillisecond);

} // namespace
