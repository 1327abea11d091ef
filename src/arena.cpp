#include "arena.h"

#include "base/assert.h"
#include "base/log.h"
#include "base/os.h"

#include <atomic>
#include <climits>
#include <cstring>

namespace tessera {

// ---- Page size ---------------------------------------------------------------

// Written once, with the same value, by whichever thread asks first.
static std::atomic<u64> page_size_cached{0};

u64 get_page_size() {
    u64 p = page_size_cached.load(std::memory_order_relaxed);
    if (!p) {
        p = os_get_page_size();
        page_size_cached.store(p, std::memory_order_relaxed);
    }
    return p;
}

// Committing page by page costs one mprotect per page crossed; committing ahead
// in larger steps amortises it (see docs/benchmarks.md for the measurements that
// chose this size). Never more than the region has reserved.
static constexpr u64 ARENA_COMMIT_GRANULE = 1024 * 1024;

static u64 saturating_add(u64 a, u64 b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

static u8 *base_of(Region *r) {
    return reinterpret_cast<u8 *>(r);
}

// Points the arena at `r`, rewound to `occupied`. Everything handed out after that
// point, in `r` and in the regions that follow it, is poisoned again.
static void enter_region(Arena *a, Region *r, u64 occupied) {
    u64 page = get_page_size();
    u64 committed = static_cast<u64>(r->committed_pages) * page;
    a->current = r;
    a->current_region_occupied = occupied;
    a->current_region_committed = committed;
    a->last_allocation = 0;
    if (committed > occupied) TESSERA_ARENA_POISON(base_of(r) + occupied, committed - occupied);
#if defined(TESSERA_ASAN)
    for (Region *f = r->next; f; f = f->next) {
        TESSERA_ARENA_POISON(base_of(f) + ARENA_REGION_HEADER_SIZE,
                             static_cast<u64>(f->committed_pages) * page - ARENA_REGION_HEADER_SIZE);
    }
#endif
}

// Commits at least `needed` more bytes of the current region at its committed end.
static bool commit_more(Arena *a, u64 needed) {
    u64 page = get_page_size();
    u64 reserved = region_reserved(a->current);
    u64 available = reserved - a->current_region_committed;
    u64 size = align_up_pow2(needed, page);
    if (size < ARENA_COMMIT_GRANULE) size = ARENA_COMMIT_GRANULE;
    if (size > available) size = available;
    ASSERT(size >= needed, "Arena commit of % bytes beyond the reservation (% left)", needed, available);
    u8 *at = base_of(a->current) + a->current_region_committed;
    if (!os_commit(at, size)) {
        log_error(ARENA_COMMIT_FAILED, size, at, reserved);
        return false;
    }
    TESSERA_ARENA_POISON(at, size);
    a->current_region_committed += size;
    a->current->committed_pages = static_cast<u32>(a->current_region_committed / page);
    return true;
}

// ---- Regions -----------------------------------------------------------------

Region *new_region(Arena *a, u64 reserve, u64 commit) {
    if (reserve < commit) reserve = commit;
    u64 page = get_page_size();
    // Sizes near 2^64 would wrap below; they cannot be reserved anyway.
    u64 limit = static_cast<u64>(UINT32_MAX) * page;
    ASSERT(reserve <= limit - ARENA_REGION_HEADER_SIZE,
           "Arena region of % bytes exceeds the limit of % bytes", reserve, limit);
    u64 total_reserve = align_up_pow2(reserve + ARENA_REGION_HEADER_SIZE, page);
    u64 total_commit = align_up_pow2(commit + ARENA_REGION_HEADER_SIZE, page);

    void *base = os_reserve(nullptr, total_reserve, false);
    ASSERT(base);
    if (!os_commit(base, total_commit)) {
        log_error(ARENA_COMMIT_FAILED, total_commit, base, total_reserve);
        os_release(base, total_reserve);
        return nullptr;
    }

    Region *r = static_cast<Region *>(base);
    r->next = nullptr;
    r->reserved_pages = static_cast<u32>(total_reserve / page);
    r->committed_pages = static_cast<u32>(total_commit / page);
    if (a->current) {
        // Followers left over from before a rewind drop out of the chain here.
        if (a->current->next) arena_free_up_until(a, a->current->next);
        a->current->next = r;
    }
    enter_region(a, r, ARENA_REGION_HEADER_SIZE);
    return r;
}

void arena_free_up_until(Arena *, Region *until) {
    Region *r = until;
    while (r) {
        Region *next = r->next;
        u64 reserved = region_reserved(r);
        // The shadow must not outlive the mapping: later mappings may reuse the range.
        TESSERA_ARENA_UNPOISON(r, reserved);
        os_release(r, reserved);
        r = next;
    }
}

// ---- Arena -------------------------------------------------------------------

void arena_init(Arena *a, u64 reserve_size) {
    ASSERT(!a->begin && !a->current);
    a->begin = new_region(a, reserve_size, 0);
}

void arena_deinit(Arena *a) {
    if (a->begin) arena_free_up_until(a, a->begin);
    *a = Arena{};
}

void *arena_alloc_slow(Arena *a, u64 amount, u32 alignment) {
    if (!a->current) {
        arena_init(a, amount);
        if (!a->current) return nullptr;
    }

    u64 start = a->current_region_occupied;
    if (alignment) start = align_up_pow2(start, alignment);
    u64 reserved = region_reserved(a->current);

    if (start > reserved || amount > reserved - start) {
        // Where the block starts in a fresh region, and how much room that needs.
        u64 fresh_start =
            alignment ? align_up_pow2(ARENA_REGION_HEADER_SIZE, alignment) : ARENA_REGION_HEADER_SIZE;
        u64 needed = saturating_add(fresh_start, amount);
        u64 size = max_of(reserved, saturating_add(amount, ARENA_REGION_HEADER_SIZE));
        // Only a large alignment can make the plain size too small for the block.
        if (saturating_add(size, ARENA_REGION_HEADER_SIZE) < needed) size = needed;

        Region *next = a->current->next;
        if (next && region_reserved(next) >= size && region_reserved(next) >= needed) {
            enter_region(a, next, ARENA_REGION_HEADER_SIZE);
        } else if (!new_region(a, size, size)) {
            return nullptr;
        }
        ASSERT(a->current);
        start = fresh_start;
    }

    if (start + amount > a->current_region_committed) {
        if (!commit_more(a, start + amount - a->current_region_committed)) return nullptr;
    }

    a->current_region_occupied = start + amount;
    a->last_allocation = start;
    u8 *p = base_of(a->current) + start;
    TESSERA_ARENA_UNPOISON(p, amount);
    return p;
}

void *arena_realloc(Arena *a, void *memory, u64 amount, bool allow_relocation) {
    if (!a->current) {
        arena_init(a, amount);
        if (!a->current) return nullptr;
    }
    if (!memory) return arena_alloc(a, amount, 0);

    u8 *base = base_of(a->current);
    u8 *first_usable = base + ARENA_REGION_HEADER_SIZE;
    u64 reserved = region_reserved(a->current);
    u8 *p = static_cast<u8 *>(memory);
    if (p < first_usable || p > base + reserved) {
        log_error(ARENA_REALLOC_FOREIGN_POINTER, memory, first_usable);
        return nullptr;
    }

    u64 offset = static_cast<u64>(p - base);
    if (offset != a->last_allocation) {
        // Resizing any other block would move the occupancy over blocks still in use.
        log_error(ARENA_REALLOC_NOT_LAST, memory,
                  a->last_allocation ? static_cast<void *>(base + a->last_allocation) : nullptr);
        return nullptr;
    }
    u64 old_size = a->current_region_occupied - offset;

    u64 capacity = reserved - offset;
    if (amount <= capacity) {
        if (a->current_region_committed - offset < amount) {
            if (!commit_more(a, amount - (a->current_region_committed - offset))) return nullptr;
        }
        a->current_region_occupied = offset + amount;
        if (amount < old_size) {
            TESSERA_ARENA_POISON(p + amount, old_size - amount);
        } else {
            TESSERA_ARENA_UNPOISON(p, amount);
        }
        return memory;
    }

    if (!allow_relocation) {
        log_error(ARENA_REALLOC_NO_RELOCATION);
        return nullptr;
    }

    Region *r = new_region(a, amount, amount);
    if (!r) return nullptr;
    u8 *moved = base_of(r) + ARENA_REGION_HEADER_SIZE;
    TESSERA_ARENA_UNPOISON(moved, amount);
    // Only the block's own bytes: everything past the occupancy is unused.
    memcpy(moved, memory, old_size);
    a->current_region_occupied = ARENA_REGION_HEADER_SIZE + amount;
    a->last_allocation = ARENA_REGION_HEADER_SIZE;
    return moved;
}

void arena_reset(Arena *a) {
    if (!a->begin) return;
    enter_region(a, a->begin, ARENA_REGION_HEADER_SIZE);
}

Arena_State get_arena_mark(const Arena *a) {
    return Arena_State{a->current, a->current_region_occupied};
}

void set_arena_mark(Arena *a, Arena_State mark) {
    // A mark of an empty arena rewinds to the very start.
    if (!mark.top_region) {
        arena_reset(a);
        return;
    }
    enter_region(a, mark.top_region, mark.bytes_occupied);
}

} // namespace tessera
