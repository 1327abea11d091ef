// log(fmt, args..., flags) and log_error(...): format with the `%` convention and
// hand the message to the context's logger. A trailing Log_Flags argument gives
// the flags (default NONE); log_error adds ERROR. Neither adds a newline: the
// logger ends the line unless the message already ends in one.
//
// The formatted text lives in scratch storage only for the logger call; logging
// leaves the scratch storage as it found it.
#pragma once

#include "base/context.h"
#include "base/format.h"

namespace tessera {

void log_args(String fmt, const Format_Arg *args, s64 arg_count, Log_Flags extra_flags);

template <typename... Args>
void log_with_flags(Log_Flags extra_flags, Format_String fmt, const Args &...args) {
    if constexpr (sizeof...(Args) == 0) {
        log_args(fmt.s, nullptr, 0, extra_flags);
    } else {
        const Format_Arg a[] = {make_format_arg(args)...};
        log_args(fmt.s, a, static_cast<s64>(sizeof...(Args)), extra_flags);
    }
}

template <typename... Args>
void log(Format_String fmt, const Args &...args) {
    log_with_flags(Log_Flags::NONE, fmt, args...);
}

template <typename... Args>
void log_error(Format_String fmt, const Args &...args) {
    log_with_flags(Log_Flags::ERROR, fmt, args...);
}

} // namespace tessera
