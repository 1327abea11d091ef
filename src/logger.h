// logger_proc: the system's console logger.
//
// One coloured, tagged line per message: a 17-byte prefix (colour, an 8-character
// tag, reset), the message, and a newline unless the message already ends in one.
// The low three flag bits choose the tag by (flags & 7) mod 3: [LOG] cyan,
// [ERROR] red, [WARN] yellow. ERROR messages go to standard error, all others to
// standard output. Messages marked VERBOSE_ONLY or VERY_VERBOSE_ONLY are dropped
// unless the context's level reaches theirs; empty messages write nothing.
// Prefix, text and terminator are written under the console lock as one unit.
#pragma once

#include "base/context.h"

namespace tessera {

inline constexpr s64 LOG_PREFIX_SIZE = 17;

// Indexed by (common_flags & 7) % 3.
inline constexpr char LOG_PREFIXES[3][LOG_PREFIX_SIZE + 1] = {
    "\x1b[36m[LOG]   \x1b[0m",
    "\x1b[31m[ERROR] \x1b[0m",
    "\x1b[33m[WARN]  \x1b[0m",
};

void logger_proc(String message, void *data, Log_Info info);

} // namespace tessera
