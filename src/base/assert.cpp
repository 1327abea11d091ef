#include "base/assert.h"

#include "base/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

namespace tessera {

static void write_text(const char *s, size_t n) {
    console_write_all(2, s, static_cast<s64>(n));
}
static void write_text(const char *s) {
    write_text(s, strlen(s));
}

// One line per frame: "  #<i> <function>+0x<offset> (<module>)". Names come from
// the dynamic symbol table, so executables are linked with their symbols exported.
[[gnu::noinline]] static void write_stack_trace() {
    void *frames[64];
    int n = backtrace(frames, 64);
    write_text("Stack trace:\n");
    // Start after assertion_failed's own frame (how many frames precede it
    // depends on inlining and on instrumentation).
    int first = 0;
    for (int i = 0; i < n && i < 8; i++) {
        Dl_info info = {};
        if (dladdr(static_cast<char *>(frames[i]) - 1, &info) &&
            info.dli_saddr == reinterpret_cast<void *>(&assertion_failed)) {
            first = i + 1;
            break;
        }
    }
    for (int i = first; i < n; i++) {
        char line[1024];
        Dl_info info = {};
        const char *name = nullptr;
        char *demangled = nullptr;
        uintptr_t offset = 0;
        // Return addresses: the call itself is one byte back (a noreturn call may be
        // the last instruction of its function).
        void *pc = static_cast<char *>(frames[i]) - 1;
        if (dladdr(pc, &info) && info.dli_sname) {
            int status = 0;
            demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
            name = status == 0 && demangled ? demangled : info.dli_sname;
            offset = reinterpret_cast<uintptr_t>(pc) - reinterpret_cast<uintptr_t>(info.dli_saddr);
        }
        const char *module = info.dli_fname ? info.dli_fname : "?";
        int len;
        if (name) {
            len = snprintf(line, sizeof line, "  #%d %s+0x%lx (%s)\n", i - first, name,
                           static_cast<unsigned long>(offset), module);
        } else {
            len = snprintf(line, sizeof line, "  #%d %p (%s)\n", i - first, frames[i], module);
        }
        free(demangled);
        if (len > 0) write_text(line, min_of(static_cast<size_t>(len), sizeof line - 1));
    }
}

[[noreturn]] void assertion_failed(const char *file, int line, String message) {
    {
        Console_Guard guard;
        char location[64];
        int len = snprintf(location, sizeof location, ":%d: Assertion failed", line);
        write_text(file);
        write_text(location, static_cast<size_t>(len));
        if (message.count) {
            write_text(": ", 2);
            write_text(reinterpret_cast<const char *>(message.data), static_cast<size_t>(message.count));
        }
        write_text("\n", 1);
        write_stack_trace();
        write_text("Exiting.\n");
    }
    abort();
}

} // namespace tessera
