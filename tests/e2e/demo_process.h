// The demo as a child process, started as a user starts it: its two output
// streams collected as they come, its exit awaited with a deadline, its memory
// read from /proc. Shared by the end-to-end tests, the soak test and the demo
// benchmarks; TESSERA_DEMO_PATH names the executable.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace tessera::e2e {

using Clock = std::chrono::steady_clock;

// The colour-tagged prefix of an ordinary log line.
inline const std::string LOG_TAG = "\x1b[36m[LOG]   \x1b[0m";

inline int64_t monotonic_ns() {
    timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

struct Demo {
    pid_t pid = -1;
    int out_fd = -1, err_fd = -1;
    std::string out, err;
    int64_t spawned_at_ns = 0; // CLOCK_MONOTONIC just before posix_spawn
    int exit_status = 0;       // waitpid's status, once the child has exited

    // The current environment with `extra_env` ("NAME=value") replacing or
    // adding variables.
    bool start(std::vector<std::string> extra_env) {
        int out_pipe[2], err_pipe[2];
        if (pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC)) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
        std::vector<std::string> overrides = extra_env;
#ifdef TESSERA_DEMO_LSAN_SUPPRESSIONS
        // Under the sanitizer: the demo's own suppressions (the last file named
        // wins), and no report of what they matched, which would land on stderr.
        const char *lsan = getenv("LSAN_OPTIONS");
        overrides.push_back(std::string("LSAN_OPTIONS=") + (lsan ? lsan : "") +
                            ":suppressions=" TESSERA_DEMO_LSAN_SUPPRESSIONS ":print_suppressions=0");
#endif
        std::vector<std::string> env = overrides;
        for (char **e = environ; *e; e++) {
            bool replaced = false;
            for (auto &x : overrides) {
                size_t name_end = x.find('=') + 1;
                replaced |= strncmp(*e, x.c_str(), name_end) == 0;
            }
            if (!replaced) env.emplace_back(*e);
        }
        std::vector<char *> envp;
        for (auto &e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char *argv[] = {const_cast<char *>(TESSERA_DEMO_PATH), nullptr};
        spawned_at_ns = monotonic_ns();
        int r = posix_spawn(&pid, TESSERA_DEMO_PATH, &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(out_pipe[1]);
        close(err_pipe[1]);
        out_fd = out_pipe[0];
        err_fd = err_pipe[0];
        if (r != 0) pid = -1;
        return r == 0;
    }

    // Reads what is ready on either stream, waiting at most `timeout_ms` for it.
    void drain(int timeout_ms) {
        pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        if (poll(fds, 2, timeout_ms) <= 0) return;
        char buf[4096];
        for (int i = 0; i < 2; i++) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) (i ? err : out).append(buf, static_cast<size_t>(n));
        }
    }

    // Keeps collecting for `ms` milliseconds.
    void run_for(int ms) {
        auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) drain(10);
    }

    // Collects standard output until it holds `text`; false at the deadline.
    bool wait_for_output(const std::string &text, int timeout_ms) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (out.find(text) == std::string::npos) {
            if (Clock::now() >= deadline) return false;
            drain(10);
        }
        return true;
    }

    // False once the child has exited (its status then in exit_status).
    bool running() {
        if (pid > 0 && waitpid(pid, &exit_status, WNOHANG) == pid) pid = -1;
        return pid > 0;
    }

    // Waits for the exit, collecting output; -1 when it did not exit in time.
    int wait_exit(int timeout_ms) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (Clock::now() < deadline) {
            drain(10);
            if (!running()) {
                // What is left in the pipes: both ends are closed now, so this ends.
                for (;;) {
                    size_t before = out.size() + err.size();
                    drain(0);
                    if (out.size() + err.size() == before) break;
                }
                return exit_status;
            }
        }
        return -1;
    }

    // Resident memory of the running child in KiB (VmRSS); -1 when unreadable.
    long resident_kib() const {
        char path[64];
        snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
        FILE *f = fopen(path, "r");
        if (!f) return -1;
        char line[256];
        long kib = -1;
        while (fgets(line, sizeof line, f)) {
            if (sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
        }
        fclose(f);
        return kib;
    }

    ~Demo() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out_fd >= 0) close(out_fd);
        if (err_fd >= 0) close(err_fd);
    }
};

} // namespace tessera::e2e
