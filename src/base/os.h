// The virtual-memory layer under the arena and the renderer's pools: reserve
// address space, commit and decommit pages, change protection.
#pragma once

#include "base/types.h"

namespace tessera {

enum class Memory_Protection : u64 {
    READ_ONLY = 0,
    READ_WRITE = 1,
    EXEC_ONLY = 2,
    EXEC_READ = 3,
    EXEC_READ_WRITE = 4,
};

// sysconf(_SC_PAGESIZE).
u64 os_get_page_size();

// Maps `size` bytes of private anonymous memory at `at` (a hint; null lets the
// system choose), readable and writable when `commit`, inaccessible otherwise.
// Null when the mapping fails.
void *os_reserve(void *at, u64 size, bool commit);

// Makes [at, at + size) readable and writable. False when mprotect fails.
bool os_commit(void *at, u64 size);

// Unmaps the range; the result is not examined.
void os_release(void *at, u64 size);

// Gives the pages back to the system and makes them inaccessible again.
void os_decommit(void *at, u64 size);

bool os_protect(void *at, u64 size, Memory_Protection prot);

} // namespace tessera
