#include "capture.h"

#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>

namespace tessera::test {

static std::string read_all(int fd) {
    std::string s;
    char buf[65536];
    off_t at = 0;
    for (;;) {
        ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n <= 0) break;
        s.append(buf, static_cast<size_t>(n));
        at += n;
    }
    return s;
}

Captured_Output::Captured_Output() {
    fflush(stdout);
    fflush(stderr);
    saved_out = dup(1);
    saved_err = dup(2);
    out_fd = memfd_create("captured-stdout", 0);
    err_fd = memfd_create("captured-stderr", 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
}

void Captured_Output::restore() {
    if (saved_out < 0) return;
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    saved_out = saved_err = -1;
}

Captured_Output::~Captured_Output() {
    restore();
    close(out_fd);
    close(err_fd);
}

std::string Captured_Output::out() const {
    return read_all(out_fd);
}
std::string Captured_Output::err() const {
    return read_all(err_fd);
}

static void record(String message, void *data, Log_Info info) {
    auto *r = static_cast<Recording_Logger *>(data);
    r->messages.push_back({to_std(message), info.common_flags});
}

Recording_Logger::Recording_Logger() : saved_logger(context().logger), saved_data(context().logger_data) {
    context().logger = record;
    context().logger_data = this;
}

Recording_Logger::~Recording_Logger() {
    context().logger = saved_logger;
    context().logger_data = saved_data;
}

std::string to_std(String s) {
    return std::string(reinterpret_cast<const char *>(s.data), static_cast<size_t>(s.count));
}

} // namespace tessera::test
