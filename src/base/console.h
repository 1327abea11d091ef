// The console: one process-wide lock and a writer that gets all bytes out.
//
// Everything written to standard output or standard error by the engine (log
// lines, assertion reports) is written under the lock, so one message is one
// uninterrupted unit of output. The first use also makes a write to a closed
// pipe fail with EPIPE instead of killing the process (SIGPIPE is ignored when
// its disposition is still the default).
#pragma once

#include "base/types.h"

namespace tessera {

void console_lock();
void console_unlock();

struct Console_Guard {
    Console_Guard() { console_lock(); }
    ~Console_Guard() { console_unlock(); }
    Console_Guard(const Console_Guard &) = delete;
    Console_Guard &operator=(const Console_Guard &) = delete;
};

// Writes all `count` bytes to `fd`: continues partial writes, retries EINTR, waits
// (a bounded time) while a non-blocking descriptor is full. False as soon as a
// write fails outright (EBADF, EPIPE, ...) or makes no progress; never spins.
bool console_write_all(int fd, const void *data, s64 count);

} // namespace tessera
