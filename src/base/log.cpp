#include "base/log.h"

namespace tessera {

void log_args(String fmt, const Format_Arg *args, s64 arg_count, Log_Flags extra_flags) {
    Log_Flags flags = extra_flags;
    if (arg_count > 0 && args[arg_count - 1].kind == Format_Kind::LOG_FLAGS) {
        flags |= static_cast<Log_Flags>(args[arg_count - 1].u);
        arg_count--;
    }
    Temporary_Scope scratch;
    String message = format_args(fmt, args, arg_count);
    Context &c = context();
    if (c.logger) c.logger(message, c.logger_data, Log_Info{flags});
}

} // namespace tessera
