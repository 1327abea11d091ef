// Test helpers: capture what reaches descriptors 1 and 2, and record what goes
// through the context's logger.
#pragma once

#include "base/context.h"

#include <string>
#include <vector>

namespace tessera::test {

// While alive, descriptors 1 and 2 write into in-memory files. Keep the scope
// short: test failures reported inside it are captured too.
struct Captured_Output {
    Captured_Output();
    ~Captured_Output();
    std::string out() const; // everything written to descriptor 1 so far
    std::string err() const; // everything written to descriptor 2 so far
    void restore();          // puts the real descriptors back (also done by the destructor)

    int saved_out = -1, saved_err = -1;
    int out_fd = -1, err_fd = -1;
};

struct Logged_Message {
    std::string text;
    Log_Flags flags;
};

// While alive, the context's logger records every message instead of printing.
struct Recording_Logger {
    Recording_Logger();
    ~Recording_Logger();
    std::vector<Logged_Message> messages;

    Logger_Proc saved_logger;
    void *saved_data;
};

std::string to_std(String s);

} // namespace tessera::test
