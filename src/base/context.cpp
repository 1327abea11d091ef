#include "base/context.h"

#include "base/console.h"

#include <pthread.h>

namespace tessera {

namespace detail {
constinit thread_local Context thread_context;
constinit thread_local Context *pushed_context = nullptr;
} // namespace detail

// A thread's own scratch storage is released when the thread exits. Thread-
// specific data destructors run for threads that end, not for the main thread at
// process exit, where the system takes everything back anyway.
static pthread_key_t scratch_key;
static pthread_once_t scratch_key_once = PTHREAD_ONCE_INIT;

static void release_scratch(void *arena) {
    arena_deinit(static_cast<Arena *>(arena));
}
static void make_scratch_key() {
    pthread_key_create(&scratch_key, release_scratch);
}

Arena *temporary_storage() {
    Arena *a = &context().temporary_storage;
    if (!a->begin) [[unlikely]] {
        arena_init(a, TEMPORARY_STORAGE_RESERVE);
        if (a == &detail::thread_context.temporary_storage) {
            pthread_once(&scratch_key_once, make_scratch_key);
            pthread_setspecific(scratch_key, a);
        }
    }
    return a;
}

void reset_temporary_storage() {
    arena_reset(&context().temporary_storage);
}

void default_logger_proc(String message, void *, Log_Info info) {
    if (message.count == 0) return;
    Log_Flags f = info.common_flags;
    s32 verbosity = has_any(f, Log_Flags::VERBOSE_ONLY)        ? 1
                    : has_any(f, Log_Flags::VERY_VERBOSE_ONLY) ? 2
                                                               : 0;
    if (verbosity > static_cast<s32>(context().log_level)) return;
    int fd = has_any(f, Log_Flags::ERROR) ? 2 : 1;
    bool newline = message.data[message.count - 1] != '\n';
    Console_Guard guard;
    if (console_write_all(fd, message.data, message.count) && newline) console_write_all(fd, "\n", 1);
}

} // namespace tessera
