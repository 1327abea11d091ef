// Bump_Pool: a per-frame store of bytes over one fixed span of address space.
//
// init reserves the whole span once, committing nothing. take aligns the end up
// to `alignment`, hands out the next bytes and moves the end past them; reset
// empties the pool in one assignment. Blocks never move and never come back one
// by one, so pointers into the pool stay valid until the next reset. The
// renderer keeps its vertex and index bytes here between drawing and the flush.
//
// Costs: a take that fits the committed part is an alignment and a comparison.
// When the end passes `first_uncommitted_page`, the pool commits at least
// BUMP_POOL_COMMIT_STEP more bytes (whole pages, never past the span) with one
// system call; reset keeps them committed for the next frame. A request that does
// not fit the span stops the program (BUMP_POOL_OVERFLOW): nothing is ever
// written outside it.
//
// A zero-filled record with alignment 8 is an empty pool without a span; init
// gives it one. Under AddressSanitizer the committed bytes past the end are
// poisoned. Not synchronised: one thread at a time.
#pragma once

#include "base/string.h"
#include "base/types.h"

namespace tessera {

struct Bump_Pool {
    s32 alignment = 8;                    // of every block; a power of two
    u8 *current_point = nullptr;          // next free byte
    u8 *memory_base = nullptr;            // start of the reserved span
    u8 *first_uncommitted_page = nullptr; // end of the committed, usable part
    u8 *address_limit = nullptr;          // end of the reserved span
    String name = {};                     // for messages ("vertex_data", "index_data")
};

// Spans are whole multiples of this many bytes.
inline constexpr s64 BUMP_POOL_PAGE_SIZE = 4096;

// The least a commit adds (rounded up to whole machine pages): one system call per
// eight of the renderer's 131072-byte pass windows.
inline constexpr s64 BUMP_POOL_COMMIT_STEP = 1024 * 1024;

inline constexpr char BUMP_POOL_OVERFLOW[] =
    "Bump_Pool \"%\" at % cannot take % bytes (alignment %): % of its % reserved bytes are in use.";
inline constexpr char BUMP_POOL_COMMIT_FAILED[] =
    "Bump_Pool \"%\" at % could not commit % bytes at % (span of % bytes).";
inline constexpr char BUMP_POOL_RESERVE_FAILED[] = "Bump_Pool could not reserve % bytes of address space.";

// Reserves `reservation` bytes, rounded up to whole 4096-byte pages, without
// committing any. The pool must not have a span yet; the reservation must be > 0.
// `name` labels the pool in its messages.
void init(Bump_Pool *pool, s64 reservation, String name = {});

// Releases the span and zeroes the record (alignment back to 8). Accepts a record
// without a span.
void deinit(Bump_Pool *pool);

// `size` bytes at the end aligned up to `alignment`; the end moves past them.
// Commits pages on demand. Stops the program when the block does not fit the span.
u8 *take(Bump_Pool *pool, s64 size);

// Makes the pool empty again; the committed pages stay committed, their contents
// are not cleared.
void reset(Bump_Pool *pool);

// Bytes from the start of the span to the end (including alignment padding).
inline s64 bytes_used(const Bump_Pool &pool) {
    return pool.current_point - pool.memory_base;
}

} // namespace tessera
