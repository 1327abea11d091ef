// Arena: a bump allocator over virtual memory reserved in large regions and
// committed page by page.
//
// An arena is a chain of regions. Each region starts with a 16-byte header;
// its usable memory starts at offset 16. Allocation moves the occupancy forward
// inside the current region and opens (or reuses) the next region when the
// current one is full. Memory comes back only wholesale: arena_reset and
// set_arena_mark rewind (keeping every region for reuse), arena_deinit releases
// everything. The most recent block of the current region can be resized in
// place with arena_realloc.
//
// Costs: an allocation that fits the committed extent is a bounds test, an
// optional alignment and an addition (inline below). The system is called only
// when the committed extent or the region runs out. A zero-filled Arena is a
// valid, empty arena. Not synchronised: one thread at a time.
//
// A mark is valid while the arena has not been rewound before it: rewinding to
// an earlier point and then linking a new region releases the regions after it.
//
// Under AddressSanitizer the committed bytes past the occupancy are poisoned, so
// reading or writing beyond the last handed-out block is reported.
#pragma once

#include "base/types.h"

// GCC announces AddressSanitizer with __SANITIZE_ADDRESS__; clang only through
// __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define TESSERA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSERA_ASAN 1
#endif
#endif

#if defined(TESSERA_ASAN)
#include <sanitizer/asan_interface.h>
#define TESSERA_ARENA_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define TESSERA_ARENA_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define TESSERA_ARENA_POISON(p, n) ((void)(p), (void)(n))
#define TESSERA_ARENA_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace tessera {

// The header at the base of every region. Sizes are kept in pages so that the
// committed extent fits beside the reservation in 16 bytes: moving back to a
// region used before then knows exactly how much of it is committed.
struct Region {
    Region *next;        // the following region, or null
    u32 reserved_pages;  // the whole reservation, header included
    u32 committed_pages; // from the base, readable and writable
};
static_assert(sizeof(Region) == 16);

inline constexpr u64 ARENA_REGION_HEADER_SIZE = sizeof(Region);

struct Arena {
    Region *begin = nullptr;          // first region
    Region *current = nullptr;        // the region allocations come from
    u64 current_region_occupied = 0;  // offset from the current base handed out up to (16 when empty)
    u64 current_region_committed = 0; // bytes from the current base that are committed
    u64 last_allocation = 0;          // offset of the most recent block in the current region; 0: none
};

// A mark: the region that was current and its occupancy then.
struct Arena_State {
    Region *top_region;
    u64 bytes_occupied;
};

inline constexpr char ARENA_REALLOC_FOREIGN_POINTER[] =
    "In arena_realloc, pointer does not belong to arena's current's region.\nthe pointer: %, region_base: %.";
inline constexpr char ARENA_REALLOC_NO_RELOCATION[] =
    "In arena_realloc, capacity exceeded and allow relocation is not allowed.";
inline constexpr char ARENA_REALLOC_NOT_LAST[] =
    "In arena_realloc, the pointer is not the most recent allocation of the arena's current region.\n"
    "the pointer: %, most recent: %.";
inline constexpr char ARENA_COMMIT_FAILED[] = "Arena could not commit % bytes at % (region of % bytes).";

u64 get_page_size();

// (n + align - 1) with the low bits cleared; align must be a power of two.
constexpr u64 align_up_pow2(u64 n, u64 align) {
    return (n + align - 1) & ~(align - 1);
}

inline u64 region_reserved(const Region *r) {
    return static_cast<u64>(r->reserved_pages) * get_page_size();
}

// Creates the first region, reserving `reserve_size` bytes (plus the header, in
// whole pages) and committing one page. The arena must be empty.
void arena_init(Arena *a, u64 reserve_size);

// Releases every region and zeroes the record.
void arena_deinit(Arena *a);

// `amount` bytes aligned to `alignment` (0: none; otherwise a power of two) inside
// the region. Null only when the system refuses to commit memory (logged).
void *arena_alloc_slow(Arena *a, u64 amount, u32 alignment);

inline void *arena_alloc(Arena *a, u64 amount, u32 alignment) {
    u64 start = a->current_region_occupied;
    if (alignment) start = align_up_pow2(start, alignment);
    // Overflow-safe form of start + amount <= committed. An empty arena (no region)
    // goes to the slow path even for 0 bytes.
    if (a->current && start <= a->current_region_committed && amount <= a->current_region_committed - start)
        [[likely]] {
        a->current_region_occupied = start + amount;
        a->last_allocation = start;
        u8 *p = reinterpret_cast<u8 *>(a->current) + start;
        TESSERA_ARENA_UNPOISON(p, amount);
        return p;
    }
    return arena_alloc_slow(a, amount, alignment);
}

// Resizes the most recent block of the current region (null `memory`: allocates).
// Grows or shrinks in place while the region has room; otherwise relocates into
// a new region when allowed. Null, with a logged error, for a pointer that is not
// the most recent block, a forbidden relocation or a failed commit.
void *arena_realloc(Arena *a, void *memory, u64 amount, bool allow_relocation);

// True when `memory` is the most recent block of the current region.
inline bool arena_is_last_allocation(const Arena *a, const void *memory) {
    return a->current && a->last_allocation &&
           static_cast<const u8 *>(memory) == reinterpret_cast<const u8 *>(a->current) + a->last_allocation;
}

// Rewinds to the first region's offset 16. Nothing is released.
void arena_reset(Arena *a);

Arena_State get_arena_mark(const Arena *a);
void set_arena_mark(Arena *a, Arena_State mark);

// Releases `until` and every region after it. The region before `until` and the
// arena record are left as they are.
void arena_free_up_until(Arena *a, Region *until);

// Reserves a region of at least `reserve` bytes with `commit` of them committed
// (both plus the header, in whole pages), links it after the current region
// (releasing the followers it replaces) and makes it current. Null, with a
// logged error, when the commit fails.
Region *new_region(Arena *a, u64 reserve, u64 commit);

} // namespace tessera
