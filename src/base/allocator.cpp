#include "base/allocator.h"

#include "arena.h"
#include "base/assert.h"
#include "base/context.h"

#include <cstdlib>
#include <cstring>

namespace tessera {

void *heap_allocator_proc(Allocator_Mode mode, s64 size, s64, void *old_memory, void *) {
    switch (mode) {
    case Allocator_Mode::ALLOCATE: {
        void *p = malloc(size > 0 ? static_cast<size_t>(size) : 1);
        ASSERT(p, "Out of memory allocating % bytes", size);
        return p;
    }
    case Allocator_Mode::RESIZE: {
        void *p = realloc(old_memory, size > 0 ? static_cast<size_t>(size) : 1);
        ASSERT(p, "Out of memory resizing to % bytes", size);
        return p;
    }
    case Allocator_Mode::FREE:
        free(old_memory);
        return nullptr;
    case Allocator_Mode::FREE_ALL:
        return nullptr;
    }
    return nullptr;
}

// Blocks are 16-byte aligned, like malloc's, so any scalar (s128 included) fits.
static constexpr u32 ARENA_ALLOCATOR_ALIGNMENT = 16;

static void *arena_allocator(Arena *a, Allocator_Mode mode, s64 size, s64 old_size, void *old_memory) {
    switch (mode) {
    case Allocator_Mode::ALLOCATE: {
        void *p = arena_alloc(a, static_cast<u64>(size), ARENA_ALLOCATOR_ALIGNMENT);
        ASSERT(p, "Arena out of memory allocating % bytes", size);
        return p;
    }
    case Allocator_Mode::RESIZE: {
        if (!old_memory) return arena_allocator(a, Allocator_Mode::ALLOCATE, size, 0, nullptr);
        if (arena_is_last_allocation(a, old_memory)) {
            void *p = arena_realloc(a, old_memory, static_cast<u64>(size), true);
            ASSERT(p, "Arena out of memory resizing to % bytes", size);
            return p;
        }
        void *p = arena_allocator(a, Allocator_Mode::ALLOCATE, size, 0, nullptr);
        memcpy(p, old_memory, static_cast<size_t>(min_of(old_size, size)));
        return p;
    }
    case Allocator_Mode::FREE:
        return nullptr;
    case Allocator_Mode::FREE_ALL:
        arena_reset(a);
        return nullptr;
    }
    return nullptr;
}

void *arena_allocator_proc(Allocator_Mode mode, s64 size, s64 old_size, void *old_memory, void *data) {
    return arena_allocator(static_cast<Arena *>(data), mode, size, old_size, old_memory);
}

void *temporary_allocator_proc(Allocator_Mode mode, s64 size, s64 old_size, void *old_memory, void *) {
    return arena_allocator(temporary_storage(), mode, size, old_size, old_memory);
}

Allocator current_allocator() {
    return context().allocator;
}

static Allocator resolve(Allocator a) {
    return a.proc ? a : context().allocator;
}

void *allocate(s64 size, Allocator a) {
    a = resolve(a);
    return a.proc(Allocator_Mode::ALLOCATE, size, 0, nullptr, a.data);
}

void *reallocate(void *memory, s64 old_size, s64 new_size, Allocator a) {
    a = resolve(a);
    return a.proc(Allocator_Mode::RESIZE, new_size, old_size, memory, a.data);
}

void deallocate(void *memory, Allocator a) {
    if (!memory) return;
    a = resolve(a);
    a.proc(Allocator_Mode::FREE, 0, 0, memory, a.data);
}

} // namespace tessera
