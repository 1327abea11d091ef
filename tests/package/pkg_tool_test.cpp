// tessera-pkg, the real executable the tree builds (TESSERA_PKG_PATH), run on
// package files these tests write: its exact standard output and error, and
// its exit status for good files, bad files and bad arguments.
#include "logger.h"
#include "package/package.h"

#include "capture.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tessera;
using namespace tessera::test;

namespace {

const std::string USAGE =
    "usage: tessera-pkg dump [--raw] [--shallow] [--escapes=no|except-newlines|all] FILE\n";
const std::string LOG_TAG = LOG_PREFIXES[0];
const std::string ERROR_TAG = LOG_PREFIXES[1];

struct Tool_Run {
    int status = -1; // the exit status, or -1 when the tool did not exit normally
    std::string out, err;
};

std::string read_all(int fd) {
    std::string s;
    char buffer[65536];
    off_t at = 0;
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
        s.append(buffer, static_cast<size_t>(n));
    return s;
}

Tool_Run run_pkg(const std::vector<std::string> &args) {
    int out_fd = memfd_create("pkg-stdout", 0);
    int err_fd = memfd_create("pkg-stderr", 0);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(TESSERA_PKG_PATH));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        execv(TESSERA_PKG_PATH, argv.data());
        _exit(127);
    }
    Tool_Run r;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.status = WEXITSTATUS(status);
    r.out = read_all(out_fd);
    r.err = read_all(err_fd);
    close(out_fd);
    close(err_fd);
    return r;
}

String string_of(const std::string &s) {
    return make_string(s.data(), static_cast<s64>(s.size()));
}

std::string temp_path(const char *name) {
    return testing::TempDir() + "tessera_pkg_tool_" + std::to_string(getpid()) + "_" + name;
}

// Entries built for a test, released with it.
struct Entries {
    std::vector<Array<u8>> buffers;
    std::vector<std::vector<u8>> raw;
    ~Entries() {
        for (Array<u8> &b : buffers) array_free(&b);
    }
    Entry keep(Entry_Type type, Array<u8> buffer) {
        buffers.push_back(buffer);
        return Entry{view_of(buffer), type, 0};
    }
    Entry data(std::vector<u8> bytes, Entry_Type type = Entry_Type::DATA) {
        raw.push_back(std::move(bytes));
        return Entry{{static_cast<s64>(raw.back().size()), raw.back().data()}, type, 0};
    }
    Entry string(const std::string &s) { return keep(Entry_Type::STRING, write_string_entry(string_of(s))); }
    Entry table(const std::vector<std::pair<std::string, Entry>> &children) {
        std::vector<Table_Entry> list;
        for (const auto &[name, entry] : children) list.push_back({string_of(name), entry});
        return keep(Entry_Type::TABLE_OF_ENTRIES,
                    write_table_entry({static_cast<s64>(list.size()), list.data()}));
    }
    Entry array(std::vector<Entry> children) {
        return keep(Entry_Type::ARRAY_OF_ENTRIES,
                    write_array_entry({static_cast<s64>(children.size()), children.data()}));
    }
};

// A package file removed with the test.
struct Package_File {
    std::string path;
    Package_File(const char *name, Entry root) : path(temp_path(name)) {
        Package p;
        p.name = "tool test"_s;
        p.base_entry = root;
        EXPECT_TRUE(write(&p, string_of(path)));
    }
    ~Package_File() { unlink(path.c_str()); }
};

void write_bytes(const std::string &path, const std::string &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// ---- Good files --------------------------------------------------------------------------

TEST(Pkg_Tool, DumpsThePackageTreeWithEachOption) {
    Entries e;
    Entry list = e.array({e.data({9})});
    Entry root = e.table({{"name", e.string("pkg\ttool\nv2")},
                          {"count", e.data({0x2a, 0, 0, 0})},
                          {"raw", e.data({1, 2, 3})},
                          {"list", list}});
    Package_File file("tree.pkg", root);

    std::string root_line =
        LOG_TAG + "|  TABLE_OF_ENTRIES (" + std::to_string(root.data.count) + " bytes);\n";
    std::string name_line = LOG_TAG + "  | name STRING (28 bytes);\n";
    std::string count_lines = LOG_TAG + "  | count DATA (4 bytes);\n" + LOG_TAG + "     0x2a\n";
    std::string raw_line = LOG_TAG + "  | raw DATA (3 bytes);\n";
    std::string list_lines = LOG_TAG + "  | list ARRAY_OF_ENTRIES (" + std::to_string(list.data.count) +
                             " bytes);\n" + LOG_TAG + "    |  DATA (1 bytes);\n" + LOG_TAG + "       0x9\n";
    struct Case {
        std::vector<std::string> options;
        std::string expected;
    } cases[] = {
        {{},
         root_line + name_line + LOG_TAG + "     \"pkg\ttool\nv2\"\n" + count_lines + raw_line + list_lines},
        {{"--raw"},
         root_line + name_line + LOG_TAG + "     \"pkg\ttool\nv2\"\n" + count_lines + raw_line + LOG_TAG +
             "     [1, 2, 3]\n" + list_lines},
        {{"--shallow"}, root_line},
        {{"--raw", "--shallow"}, root_line},
        {{"--escapes=no"},
         root_line + name_line + LOG_TAG + "     \"pkg\ttool\nv2\"\n" + count_lines + raw_line + list_lines},
        {{"--escapes=except-newlines"},
         root_line + name_line + LOG_TAG + "     \"pkg\\ttool\nv2\"\n" + count_lines + raw_line + list_lines},
        {{"--escapes=all"},
         root_line + name_line + LOG_TAG + "     \"pkg\\ttool\\nv2\"\n" + count_lines + raw_line +
             list_lines},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"dump"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(file.path);
        SCOPED_TRACE(testing::PrintToString(args));
        Tool_Run r = run_pkg(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.expected);
        EXPECT_EQ(r.err, "");
    }

    // Options may follow the file, and "--" ends them.
    Tool_Run after = run_pkg({"dump", file.path, "--shallow"});
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.out, root_line);
    Tool_Run dashes = run_pkg({"dump", "--shallow", "--", file.path});
    EXPECT_EQ(dashes.status, 0);
    EXPECT_EQ(dashes.out, root_line);
}

TEST(Pkg_Tool, EmptyPackageIsOneLine) {
    Package_File file("empty.pkg", Entry{});
    Tool_Run r = run_pkg({"dump", file.path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, LOG_TAG + "|  DATA (0 bytes);\n");
    EXPECT_EQ(r.err, "");
}

// ---- Bad files ------------------------------------------------------------------------------

TEST(Pkg_Tool, UnreadableFilesFailWithTheReadersMessages) {
    std::string missing = temp_path("missing.pkg");
    std::string not_package = temp_path("not_package.pkg");
    std::string short_file = temp_path("short.pkg");
    std::string directory = temp_path("directory.pkg");
    write_bytes(not_package, std::string(100, 'N'));
    write_bytes(short_file, "PakgData!!");
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);

    struct Case {
        std::string path;
        std::string err;
    } cases[] = {
        {missing, ERROR_TAG + "Could not open file \"" + missing + "\": code 2, No such file or directory\n"},
        {not_package, ERROR_TAG + PACKAGE_SIGNATURE_MISMATCH + "\n"},
        {short_file, ERROR_TAG + "The input size is smaller than a package header size. (10 bytes)\n"},
        {directory, ERROR_TAG + "Could not read file \"" + directory + "\": code 21, Is a directory\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        Tool_Run r = run_pkg({"dump", c.path});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
    }
    unlink(not_package.c_str());
    unlink(short_file.c_str());
    rmdir(directory.c_str());
}

// The tree is dumped as far as it decodes; the failing part is reported and
// the status says the file is bad.
TEST(Pkg_Tool, UndecodableInnerEntryFailsAfterTheDump) {
    Entries e;
    Entry root =
        e.table({{"bad", e.data(std::vector<u8>(10, 0), Entry_Type::TABLE_OF_ENTRIES)}, {"ok", e.data({1})}});
    Package_File file("inner.pkg", root);
    Tool_Run r = run_pkg({"dump", file.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, LOG_TAG + "|  TABLE_OF_ENTRIES (" + std::to_string(root.data.count) + " bytes);\n" +
                         LOG_TAG + "  | bad TABLE_OF_ENTRIES (10 bytes);\n" + LOG_TAG +
                         "  | ok DATA (1 bytes);\n" + LOG_TAG + "     0x1\n");
    EXPECT_EQ(r.err, ERROR_TAG + TABLE_HEADER_TOO_SMALL + "\n");
}

// ---- Arguments ------------------------------------------------------------------------------

TEST(Pkg_Tool, WrongArgumentsPrintTheUsage) {
    Package_File file("args.pkg", Entry{});
    std::vector<std::string> cases[] = {
        {},
        {"dump"},
        {"list", file.path},
        {"dump", "--bogus", file.path},
        {"dump", "--escapes", file.path},
        {"dump", "--escapes=maybe", file.path},
        {"dump", "--RAW", file.path},
        {"dump", file.path, file.path},
        {"dump", "--raw"},
    };
    for (const std::vector<std::string> &args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        Tool_Run r = run_pkg(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, USAGE);
    }
}

TEST(Pkg_Tool, HelpGoesToStandardOutput) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--help"}, {"dump", "--help"}, {"-h"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        Tool_Run r = run_pkg(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, USAGE);
        EXPECT_EQ(r.err, "");
    }
}

} // namespace
