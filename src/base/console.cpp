#include "base/console.h"

#include <cerrno>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace tessera {

// Recursive, so that an assertion raised while the lock is held still reports.
static std::recursive_mutex console_mutex;
static std::once_flag console_once;

static void console_first_use() {
    struct sigaction current = {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        signal(SIGPIPE, SIG_IGN);
    }
}

void console_lock() {
    std::call_once(console_once, console_first_use);
    console_mutex.lock();
}

void console_unlock() {
    console_mutex.unlock();
}

// How long a full non-blocking descriptor may stay full before the message is dropped.
static constexpr int CONSOLE_FULL_TIMEOUT_MS = 1000;

bool console_write_all(int fd, const void *data, s64 count) {
    const u8 *p = static_cast<const u8 *>(data);
    while (count > 0) {
        ssize_t n = write(fd, p, static_cast<size_t>(count));
        if (n > 0) {
            p += n;
            count -= n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd = {fd, POLLOUT, 0};
            int r;
            do {
                r = poll(&pfd, 1, CONSOLE_FULL_TIMEOUT_MS);
            } while (r < 0 && errno == EINTR);
            if (r > 0 && (pfd.revents & POLLOUT)) continue;
        }
        return false; // an outright failure, or no progress (write returned 0)
    }
    return true;
}

} // namespace tessera
