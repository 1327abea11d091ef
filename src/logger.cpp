#include "logger.h"

#include "base/console.h"

namespace tessera {

static_assert(sizeof(LOG_PREFIXES[0]) - 1 == LOG_PREFIX_SIZE);

void logger_proc(String message, void *, Log_Info info) {
    if (message.count == 0) return;

    u32 flags = static_cast<u32>(info.common_flags);
    // VERBOSE_ONLY wins when both verbosity flags are set.
    s32 verbosity = (flags & static_cast<u32>(Log_Flags::VERBOSE_ONLY))        ? 1
                    : (flags & static_cast<u32>(Log_Flags::VERY_VERBOSE_ONLY)) ? 2
                                                                               : 0;
    if (verbosity > static_cast<s32>(context().log_level)) return;

    const char *prefix = LOG_PREFIXES[(flags & 7) % 3];
    bool terminate = message.data[message.count - 1] != '\n';
    int fd = (flags & static_cast<u32>(Log_Flags::ERROR)) ? 2 : 1;

    // A part that cannot be written ends the message: nothing after it is tried.
    Console_Guard guard;
    if (!console_write_all(fd, prefix, LOG_PREFIX_SIZE)) return;
    if (!console_write_all(fd, message.data, message.count)) return;
    if (terminate) console_write_all(fd, "\n", 1);
}

} // namespace tessera
