// The thread context: logger, verbosity, allocator and scratch storage.
//
// Every thread has its own Context, starting from the defaults below (the
// general heap, an untagged console logger, NORMAL verbosity, empty scratch
// storage). context() is the one the calling thread runs with: its own, or one
// pushed with Push_Context (window-system callbacks run with the main thread's).
//
// Scratch storage (temporary_storage) is an Arena that reserves its span on
// first use and commits pages as it fills. Per-frame strings and messages live
// there; the owner of the thread rewinds it (reset_temporary_storage, or a mark).
#pragma once

#include "arena.h"
#include "base/allocator.h"
#include "base/enum.h"
#include "base/format.h"
#include "base/string.h"

namespace tessera {

enum class Log_Level : s32 {
    NORMAL = 0,
    VERBOSE = 1,
    VERY_VERBOSE = 2,
};

#define TESSERA_LOG_FLAGS_LIST(X)                                                                            \
    X(NONE, 0)                                                                                               \
    X(ERROR, 1)                                                                                              \
    X(WARNING, 2)                                                                                            \
    X(CONTENT, 4)                                                                                            \
    X(TO_FILE_ONLY, 8)                                                                                       \
    X(VERBOSE_ONLY, 16)                                                                                      \
    X(VERY_VERBOSE_ONLY, 32)                                                                                 \
    X(TOPIC_ONLY, 64)
TESSERA_ENUM(Log_Flags, u32, TESSERA_LOG_FLAGS_LIST)
TESSERA_FLAGS(Log_Flags)

// A trailing Log_Flags argument of log() is its flags, not a value to print.
template <>
struct Format_Arg_Of<Log_Flags> {
    static Format_Arg make(Log_Flags v) {
        Format_Arg a;
        a.kind = Format_Kind::LOG_FLAGS;
        a.u = static_cast<u64>(v);
        return a;
    }
};

struct Log_Info {
    Log_Flags common_flags = Log_Flags::NONE;
};

// message: not terminated; data: the context's logger_data.
using Logger_Proc = void (*)(String message, void *data, Log_Info info);

// Writes the message and, unless it ends in one, a newline; to standard error for
// ERROR, standard output otherwise. No tag, no colour. Honours the verbosity.
void default_logger_proc(String message, void *data, Log_Info info);

struct Context {
    Logger_Proc logger = default_logger_proc;
    void *logger_data = nullptr;
    Log_Level log_level = Log_Level::NORMAL;
    Allocator allocator = heap_allocator;
    Arena temporary_storage = {};
};

// Reserved on first use; committed page by page as it fills.
inline constexpr u64 TEMPORARY_STORAGE_RESERVE = 1ull << 30;

namespace detail {
extern constinit thread_local Context thread_context;
extern constinit thread_local Context *pushed_context;
} // namespace detail

inline Context &context() {
    Context *c = detail::pushed_context;
    return c ? *c : detail::thread_context;
}

// Runs the enclosing scope with `c` as the thread's context.
struct Push_Context {
    Context *saved;
    explicit Push_Context(Context *c) : saved(detail::pushed_context) { detail::pushed_context = c; }
    ~Push_Context() { detail::pushed_context = saved; }
    Push_Context(const Push_Context &) = delete;
    Push_Context &operator=(const Push_Context &) = delete;
};

// The context's scratch arena, with its first region reserved.
Arena *temporary_storage();

// Rewinds the context's scratch storage to empty (keeping its memory).
void reset_temporary_storage();

// Scope guard: gives back everything taken from scratch storage in the scope.
struct Temporary_Scope {
    Arena *arena;
    Arena_State mark;
    Temporary_Scope() : arena(temporary_storage()), mark(get_arena_mark(arena)) {}
    ~Temporary_Scope() { set_arena_mark(arena, mark); }
    Temporary_Scope(const Temporary_Scope &) = delete;
    Temporary_Scope &operator=(const Temporary_Scope &) = delete;
};

} // namespace tessera
