// Assertions: checks of the engine's own invariants, on in every build type.
//
// A failure writes, to standard error and as one unit of console output:
//     <file>:<line>: Assertion failed[: <message>]
//     Stack trace:
//       #0 <function>+0x<offset> (<module>)
//       ...
//     Exiting.
// and then aborts the process. The optional message uses the `%` convention of
// format(). Bad input from outside (files, fonts, the user) is never asserted;
// it is logged and reported with a false result instead.
#pragma once

#include "base/format.h"

namespace tessera {

[[noreturn]] void assertion_failed(const char *file, int line, String message);

namespace detail {
// Inlined into the failing site, so the stack trace starts at the caller.
[[noreturn, gnu::always_inline]] inline void assert_fail(const char *file, int line) {
    assertion_failed(file, line, {});
}

template <typename... Args>
[[noreturn, gnu::always_inline]] inline void assert_fail(const char *file, int line, Format_String fmt,
                                                         const Args &...args) {
    assertion_failed(file, line, format(fmt, args...));
}
} // namespace detail

} // namespace tessera

#define ASSERT(condition, ...)                                                                               \
    do {                                                                                                     \
        if (!(condition)) [[unlikely]]                                                                       \
            ::tessera::detail::assert_fail(__FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__);                   \
    } while (0)
