#include "renderer/bump_pool.h"

#include "arena.h"
#include "base/assert.h"
#include "base/os.h"

#include <cstdint>

namespace tessera {

// Pointer arithmetic in integers: a pool without a span has null pointers, and
// the alignment step may run past the span before the check catches it.
static uintptr_t address(const u8 *p) {
    return reinterpret_cast<uintptr_t>(p);
}

void init(Bump_Pool *pool, s64 reservation, String name) {
    ASSERT(!pool->memory_base, "Bump_Pool at % already has a span of % bytes", pool,
           pool->address_limit - pool->memory_base);
    ASSERT(reservation > 0 && static_cast<u64>(reservation) <= UINT64_MAX - BUMP_POOL_PAGE_SIZE,
           "Bump_Pool reservation of % bytes", reservation);
    u64 size = align_up_pow2(static_cast<u64>(reservation), BUMP_POOL_PAGE_SIZE);

    u8 *base = static_cast<u8 *>(os_reserve(nullptr, size, false));
    ASSERT(base, BUMP_POOL_RESERVE_FAILED, size);
    pool->memory_base = base;
    pool->current_point = base;
    pool->first_uncommitted_page = base;
    pool->address_limit = base + size;
    pool->name = name;
}

void deinit(Bump_Pool *pool) {
    if (pool->memory_base) {
        u64 size = static_cast<u64>(pool->address_limit - pool->memory_base);
        // The shadow must not outlive the mapping: later mappings may reuse the range.
        TESSERA_ARENA_UNPOISON(pool->memory_base, size);
        os_release(pool->memory_base, size);
    }
    *pool = Bump_Pool{};
}

// Commits from first_uncommitted_page until at least `end`, in steps of
// BUMP_POOL_COMMIT_STEP whole pages, clamped to the span. `end` lies inside it.
static void commit_through(Bump_Pool *pool, uintptr_t end) {
    u64 page = get_page_size();
    u64 needed = end - address(pool->first_uncommitted_page);
    u64 step = align_up_pow2(max_of(needed, static_cast<u64>(BUMP_POOL_COMMIT_STEP)), page);
    u64 available = static_cast<u64>(pool->address_limit - pool->first_uncommitted_page);
    if (step > available) step = available;
    u8 *at = pool->first_uncommitted_page;
    bool committed = os_commit(at, step);
    // The callers write into the block right away; there is no block to offer instead.
    ASSERT(committed, BUMP_POOL_COMMIT_FAILED, pool->name, pool, step, at, pool->address_limit - pool->memory_base);
    TESSERA_ARENA_POISON(at, step);
    pool->first_uncommitted_page = at + step;
}

u8 *take(Bump_Pool *pool, s64 size) {
    u64 alignment = static_cast<u64>(pool->alignment);
    ASSERT(pool->alignment > 0 && (alignment & (alignment - 1)) == 0, "Bump_Pool at % has alignment %", pool,
           pool->alignment);
    ASSERT(size >= 0, "Bump_Pool at % asked for % bytes", pool, size);

    uintptr_t current = address(pool->current_point);
    uintptr_t limit = address(pool->address_limit);
    uintptr_t start = (current + (alignment - 1)) & ~static_cast<uintptr_t>(alignment - 1);
    // Overflow-safe form of start + size <= limit.
    ASSERT(start >= current && start <= limit && static_cast<u64>(size) <= limit - start, BUMP_POOL_OVERFLOW,
           pool->name, pool, size, pool->alignment, bytes_used(*pool), pool->address_limit - pool->memory_base);

    uintptr_t end = start + static_cast<u64>(size);
    if (end > address(pool->first_uncommitted_page)) [[unlikely]]
        commit_through(pool, end);

    // The alignment padding becomes usable too: the pass list may write into it
    // when it extends a window that ended just before.
    TESSERA_ARENA_UNPOISON(pool->current_point, end - current);
    u8 *block = pool->current_point + (start - current);
    pool->current_point = block + size;
    return block;
}

void reset(Bump_Pool *pool) {
    TESSERA_ARENA_POISON(pool->memory_base, static_cast<u64>(pool->current_point - pool->memory_base));
    pool->current_point = pool->memory_base;
}

} // namespace tessera
