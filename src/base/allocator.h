// Allocator: a procedure and its data. Every allocation in the engine goes
// through one, so callers choose where memory comes from (the general heap, an
// arena, the thread's scratch storage).
#pragma once

#include "base/types.h"

#include <new>

namespace tessera {

enum class Allocator_Mode : u8 {
    ALLOCATE, // size bytes, uninitialised
    RESIZE,   // old_memory (old_size bytes) to size bytes, contents kept
    FREE,     // old_memory
    FREE_ALL, // everything the allocator handed out, where it can
};

using Allocator_Proc = void *(*)(Allocator_Mode mode, s64 size, s64 old_size, void *old_memory,
                                 void *allocator_data);

struct Allocator {
    Allocator_Proc proc = nullptr;
    void *data = nullptr;
};

// The general heap (malloc, realloc, free). Running out of memory is fatal.
void *heap_allocator_proc(Allocator_Mode mode, s64 size, s64 old_size, void *old_memory, void *data);
inline constexpr Allocator heap_allocator = {heap_allocator_proc, nullptr};

// An Arena (data points at it). FREE does nothing; RESIZE grows the arena's last
// block in place when it can and copies otherwise; FREE_ALL resets the arena.
void *arena_allocator_proc(Allocator_Mode mode, s64 size, s64 old_size, void *old_memory, void *data);

// The calling thread's scratch storage (the context's temporary_storage).
void *temporary_allocator_proc(Allocator_Mode mode, s64 size, s64 old_size, void *old_memory, void *data);
inline constexpr Allocator temporary_allocator = {temporary_allocator_proc, nullptr};

// The calling thread's context allocator.
Allocator current_allocator();

// An allocator whose proc is null stands for the context's current allocator.
void *allocate(s64 size, Allocator a = {});
void *reallocate(void *memory, s64 old_size, s64 new_size, Allocator a = {});
void deallocate(void *memory, Allocator a = {});

// `count` value-initialised (zeroed) T, from `a` (the context's allocator when null).
template <typename T>
T *allocate_array(s64 count, Allocator a = {}) {
    T *p = static_cast<T *>(allocate(count * static_cast<s64>(sizeof(T)), a));
    for (s64 i = 0; i < count; i++) new (&p[i]) T{};
    return p;
}

} // namespace tessera
