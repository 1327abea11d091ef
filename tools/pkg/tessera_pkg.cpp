// tessera-pkg: inspects package files from the command line.
//   tessera-pkg dump [--raw] [--shallow] [--escapes=no|except-newlines|all] FILE
//   tessera-pkg --help
// dump prints the package's entry tree through the system's logger: the dump's
// lines on standard output, the reader's and decoders' errors on standard error.
// Exit status: 0 when the whole tree was dumped, 1 when the file cannot be read
// or any part of it fails to decode, 2 on wrong arguments.
#include "base/context.h"
#include "base/string.h"
#include "logger.h"
#include "package/dump.h"
#include "package/package.h"

#include <cstdio>
#include <cstring>

using namespace tessera;

namespace {

constexpr char USAGE[] =
    "usage: tessera-pkg dump [--raw] [--shallow] [--escapes=no|except-newlines|all] FILE\n";

struct Options {
    bool raw = false;
    bool shallow = false;
    Revert_Escapes escapes = Revert_Escapes::NO;
    const char *file = nullptr;
};

// False on anything it does not understand.
bool parse_dump_options(int argc, char **argv, Options *options) {
    bool options_done = false;
    for (int i = 2; i < argc; i++) {
        const char *arg = argv[i];
        if (!options_done && arg[0] == '-' && arg[1] != 0) {
            if (strcmp(arg, "--") == 0) {
                options_done = true;
            } else if (strcmp(arg, "--raw") == 0) {
                options->raw = true;
            } else if (strcmp(arg, "--shallow") == 0) {
                options->shallow = true;
            } else if (strcmp(arg, "--escapes=no") == 0) {
                options->escapes = Revert_Escapes::NO;
            } else if (strcmp(arg, "--escapes=except-newlines") == 0) {
                options->escapes = Revert_Escapes::ALL_EXCEPT_NEWLINES;
            } else if (strcmp(arg, "--escapes=all") == 0) {
                options->escapes = Revert_Escapes::ALL;
            } else {
                return false;
            }
        } else {
            if (options->file) return false; // one file at a time
            options->file = arg;
        }
    }
    return options->file != nullptr;
}

// Passes every message to the console logger and remembers whether an error
// went by, so that a tree with undecodable parts ends with status 1.
struct Error_Watch {
    bool saw_error = false;
};

void watching_logger(String message, void *data, Log_Info info) {
    if (has_any(info.common_flags, Log_Flags::ERROR)) static_cast<Error_Watch *>(data)->saw_error = true;
    logger_proc(message, nullptr, info);
}

bool is_help(const char *arg) {
    return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && is_help(argv[1])) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "dump") == 0 && is_help(argv[2])) {
        fputs(USAGE, stdout);
        return 0;
    }
    Options options;
    if (argc < 2 || strcmp(argv[1], "dump") != 0 || !parse_dump_options(argc, argv, &options)) {
        fputs(USAGE, stderr);
        return 2;
    }

    Error_Watch watch;
    context().logger = watching_logger;
    context().logger_data = &watch;

    Package package;
    if (!read(from_c_string(options.file), &package)) return 1;
    log_entry(package.base_entry, options.raw, !options.shallow, options.escapes);
    deallocate(package.data.data);
    return watch.saw_error ? 1 : 0;
}
