// The package dump: its lines byte for byte, the walk's order, depth and
// pruning, what undecodable levels do to the walk, and the indentation and
// escape helpers.
#include "package/dump.h"

#include "capture.h"
#include "logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

using namespace tessera;
using namespace tessera::test;
using testing::ElementsAre;

namespace {

// ---- Helpers ---------------------------------------------------------------------------

String string_of(const std::string &s) {
    return make_string(s.data(), static_cast<s64>(s.size()));
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
    Entry array_of_data(const void *elements, s64 count, s64 size) {
        return keep(Entry_Type::ARRAY_OF_DATA, write_array_of_data_entry(elements, count, size));
    }
};

// What log_entry logs: every message's text, and whether it was an error.
struct Line {
    std::string text;
    bool error = false;
    bool operator==(const Line &) const = default;
};
void PrintTo(const Line &l, std::ostream *os) {
    *os << (l.error ? "error " : "") << testing::PrintToString(l.text);
}
Line out(std::string text) {
    return {std::move(text), false};
}
Line err(std::string text) {
    return {std::move(text), true};
}

std::vector<Line> dump(Entry e, bool raw = false, bool recursive = true,
                       Revert_Escapes escapes = Revert_Escapes::NO) {
    Recording_Logger log;
    log_entry(e, raw, recursive, escapes);
    std::vector<Line> lines;
    for (const Logged_Message &m : log.messages) {
        EXPECT_TRUE(m.flags == Log_Flags::NONE || m.flags == Log_Flags::ERROR) << m.text;
        lines.push_back({m.text, m.flags == Log_Flags::ERROR});
    }
    return lines;
}

std::string bytes(s64 n) {
    return std::to_string(n) + " bytes";
}

// ---- The edge cases of the dump ---------------------------------------------------------

TEST(Dump, TableWithOneFloat) {
    Entries e;
    Entry root = e.table({{"x", e.data({0x00, 0x00, 0x80, 0x3F})}});
    ASSERT_EQ(root.data.count, 78);
    EXPECT_THAT(dump(root), ElementsAre(out("|  TABLE_OF_ENTRIES (78 bytes);\n"),
                                        out("  | x DATA (4 bytes);\n"), out("     0x3f800000\n")));
    // Shallow: the root's line only.
    EXPECT_THAT(dump(root, true, false), ElementsAre(out("|  TABLE_OF_ENTRIES (78 bytes);\n")));
}

TEST(Dump, DataValuesAndRawBytes) {
    std::vector<u8> long_data(150);
    for (size_t i = 0; i < long_data.size(); i++) long_data[i] = static_cast<u8>(i);
    std::string first_100 = "[";
    for (int i = 0; i < 100; i++) first_100 += (i ? ", " : "") + std::to_string(i);
    first_100 += "...]";

    struct Case {
        const char *label;
        std::vector<u8> payload;
        const char *plain;    // the value line without print_raw_data, or null
        std::string with_raw; // the value line with it
    } cases[] = {
        {"1 byte zero", {0}, "   0x0\n", "   0x0\n"},
        {"2 bytes", {0x34, 0x12}, "   0x1234\n", "   0x1234\n"},
        {"4 bytes", {0x01, 0x00, 0x00, 0x00}, "   0x1\n", "   0x1\n"},
        {"8 bytes", std::vector<u8>(8, 0xff), "   0xffffffffffffffff\n", "   0xffffffffffffffff\n"},
        {"3 bytes", {1, 2, 3}, nullptr, "   [1, 2, 3]\n"},
        {"0 bytes", {}, nullptr, "   []\n"},
        {"150 bytes", long_data, nullptr, "   " + first_100 + "\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Entries e;
        Entry root = e.data(c.payload);
        Line head = out("|  DATA (" + bytes(static_cast<s64>(c.payload.size())) + ");\n");
        if (c.plain) {
            EXPECT_THAT(dump(root), ElementsAre(head, out(c.plain)));
        } else {
            EXPECT_THAT(dump(root), ElementsAre(head));
        }
        EXPECT_THAT(dump(root, true), ElementsAre(head, out(c.with_raw)));
    }
}

TEST(Dump, ArrayElementsAreUnnamedAndOneLevelDeeper) {
    Entries e;
    Entry list = e.array({e.data({5}), e.string("s"), e.table({})});
    Entry root = e.table({{"list", list}});
    EXPECT_THAT(dump(root), ElementsAre(out("|  TABLE_OF_ENTRIES (" + bytes(root.data.count) + ");\n"),
                                        out("  | list ARRAY_OF_ENTRIES (" + bytes(list.data.count) + ");\n"),
                                        out("    |  DATA (1 bytes);\n"), out("       0x5\n"),
                                        out("    |  STRING (18 bytes);\n"), out("       \"s\"\n"),
                                        out("    |  TABLE_OF_ENTRIES (32 bytes);\n")));
}

TEST(Dump, ArrayOfDataElementsWithRawData) {
    Entries e;
    const u8 elements[] = {1, 2, 3, 4, 250, 0};
    Entry root = e.array_of_data(elements, 3, 2);
    Line head = out("|  ARRAY_OF_DATA (26 bytes);\n");
    EXPECT_THAT(dump(root), ElementsAre(head));
    EXPECT_THAT(dump(root, true),
                ElementsAre(head, out("   [1, 2]\n"), out("   [3, 4]\n"), out("   [250, 0]\n")));

    // Elements of no bytes: nothing to show, however many the header claims.
    std::vector<u8> zero_size = {'A',  'r',  'r',  '!',  0,    0,    0,   0,   0xff, 0xff,
                                 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f, 'A', 'r', 'r',  '!'};
    EXPECT_THAT(dump(e.data(zero_size, Entry_Type::ARRAY_OF_DATA), true),
                ElementsAre(out("|  ARRAY_OF_DATA (20 bytes);\n")));
}

TEST(Dump, StringEscapes) {
    Entries e;
    Entry root = e.string("a\tb\nc");
    Line head = out("|  STRING (22 bytes);\n");
    EXPECT_THAT(dump(root, false, true, Revert_Escapes::NO), ElementsAre(head, out("   \"a\tb\nc\"\n")));
    EXPECT_THAT(dump(root, false, true, Revert_Escapes::ALL_EXCEPT_NEWLINES),
                ElementsAre(head, out("   \"a\\tb\nc\"\n")));
    EXPECT_THAT(dump(root, false, true, Revert_Escapes::ALL), ElementsAre(head, out("   \"a\\tb\\nc\"\n")));
    EXPECT_THAT(dump(e.string(""), false, true, Revert_Escapes::ALL),
                ElementsAre(out("|  STRING (17 bytes);\n"), out("   \"\"\n")));
}

// Through the system's logger, byte for byte: the line the text breaks onto is
// not tagged.
TEST(Dump, ConsoleBytesThroughTheLogger) {
    Entries e;
    Entry root = e.table({{"text", e.string("a\tb\nc")}});
    Logger_Proc saved = context().logger;
    context().logger = logger_proc;
    Captured_Output captured;
    log_entry(root, false, true, Revert_Escapes::ALL_EXCEPT_NEWLINES);
    captured.restore();
    context().logger = saved;
    std::string tag = LOG_PREFIXES[0];
    EXPECT_EQ(captured.out(), tag + "|  TABLE_OF_ENTRIES (" + bytes(root.data.count) + ");\n" + tag +
                                  "  | text STRING (22 bytes);\n" + tag + "     \"a\\tb\nc\"\n");
    EXPECT_EQ(captured.err(), "");
}

TEST(Dump, IndentationStopsAt128Spaces) {
    struct Case {
        s64 amount, multiplier, expected;
    } cases[] = {
        {0, 2, 0}, {1, 2, 2},   {63, 2, 126},        {64, 2, 128},      {1000, 2, 128}, {-1, 2, 0},
        {3, 0, 0}, {-2, -3, 6}, {INT64_MAX, 2, 128}, {INT64_MIN, 2, 0}, {5, 1, 5},
    };
    for (const Case &c : cases) {
        String s = print_indent(c.amount, c.multiplier);
        EXPECT_EQ(to_std(s), std::string(static_cast<size_t>(c.expected), ' '))
            << c.amount << " x " << c.multiplier;
    }

    // The visitor at depth 64 and beyond.
    Entries e;
    Entry small = e.data({7});
    std::string indent(128, ' ');
    for (s64 depth : {64, 65, 1000}) {
        Log_Entry_Data settings;
        Recording_Logger log;
        EXPECT_TRUE(visitor(small, &settings, depth, "deep"_s));
        ASSERT_EQ(log.messages.size(), 2u);
        EXPECT_EQ(log.messages[0].text, indent + "| deep DATA (1 bytes);\n");
        EXPECT_EQ(log.messages[1].text, indent + " 0x7\n");
    }
}

TEST(Dump, RevertEscapes) {
    struct Case {
        std::string input;
        bool skip_newlines;
        std::string expected;
    } cases[] = {
        {"", false, ""},
        {"plain", false, "plain"},
        {"\n\r\x1b\t", false, "\\n\\r\\e\\t"},
        {"\n\r\x1b\t", true, "\n\\r\\e\\t"},
        {"a\\n", false, "a\\n"}, // a backslash already there is copied
        {std::string("z\0y", 3), false, std::string("z\0y", 3)},
    };
    for (const Case &c : cases) {
        Temporary_Scope scratch;
        String s = do_revert_escapes(string_of(c.input), c.skip_newlines);
        EXPECT_EQ(to_std(s), c.expected) << testing::PrintToString(c.input);
    }
}

// ---- What the walk does with undecodable levels ------------------------------------------

TEST(Dump, UndecodableLevelsAreReportedAndSkipped) {
    Entries e;
    std::vector<u8> bad_string(16, 0);
    Entry root = e.table({
        {"bad", e.data(std::vector<u8>(10, 0), Entry_Type::TABLE_OF_ENTRIES)},
        {"worse", e.data(std::vector<u8>(16, 0xEE), Entry_Type::ARRAY_OF_ENTRIES)},
        {"text", e.data(bad_string, Entry_Type::STRING)},
        {"elements", e.data(std::vector<u8>(19, 0), Entry_Type::ARRAY_OF_DATA)},
        {"odd", e.data({}, static_cast<Entry_Type>(9))},
        {"ok", e.data({1})},
    });
    EXPECT_THAT(dump(root, true),
                ElementsAre(out("|  TABLE_OF_ENTRIES (" + bytes(root.data.count) + ");\n"),
                            out("  | bad TABLE_OF_ENTRIES (10 bytes);\n"), err(TABLE_HEADER_TOO_SMALL),
                            out("  | worse ARRAY_OF_ENTRIES (16 bytes);\n"),
                            err(to_std(format(ARRAY_NEGATIVE_ENTRY_COUNT, static_cast<s32>(0xEEEEEEEE)))),
                            out("  | text STRING (16 bytes);\n"), err(STRING_ENTRY_SIGNATURE_MISMATCH),
                            out("  | elements ARRAY_OF_DATA (19 bytes);\n"), err(ARRAY_OF_DATA_TOO_SMALL),
                            out("  | odd 9 (0 bytes);\n"), out("  | ok DATA (1 bytes);\n"),
                            out("     0x1\n")));
}

TEST(Dump, NullSettingsAreABrokenInvariant) {
    Entries e;
    Entry small = e.data({1});
    EXPECT_DEATH(visitor(small, nullptr, 0, {}), "dump\\.cpp:[0-9]+: Assertion failed");
}

// ---- The walk --------------------------------------------------------------------------------

struct Visit {
    s64 depth;
    std::string name;
    Entry_Type type;
    bool operator==(const Visit &) const = default;
};
void PrintTo(const Visit &v, std::ostream *os) {
    *os << v.depth << " " << v.name << " " << to_std(enum_name(v.type));
}

bool recording_visitor(Entry entry, void *data, s64 depth, String name) {
    auto *visits = static_cast<std::vector<Visit> *>(data);
    visits->push_back({depth, to_std(name), entry.type});
    return to_std(name) != "pruned";
}

TEST(Dump, WalkIsPreOrderFromTheGivenDepthAndPrunesOnRequest) {
    Entries e;
    Entry root = e.table({
        {"a", e.array({e.data({1}), e.table({{"inner", e.string("x")}})})},
        {"pruned", e.table({{"hidden", e.data({2})}})},
        {"b", e.data({3})},
    });
    std::vector<Visit> visits;
    visit_entry(recording_visitor, root, &visits, 5, "root"_s);
    EXPECT_THAT(visits,
                ElementsAre(Visit{5, "root", Entry_Type::TABLE_OF_ENTRIES},
                            Visit{6, "a", Entry_Type::ARRAY_OF_ENTRIES}, Visit{7, "", Entry_Type::DATA},
                            Visit{7, "", Entry_Type::TABLE_OF_ENTRIES}, Visit{8, "inner", Entry_Type::STRING},
                            Visit{6, "pruned", Entry_Type::TABLE_OF_ENTRIES},
                            Visit{6, "b", Entry_Type::DATA}));
}

bool counting_visitor(Entry, void *data, s64 depth, String) {
    auto *deepest = static_cast<s64 *>(data);
    if (depth > *deepest) *deepest = depth;
    return true;
}

// A chain of arrays, each holding the next, as one image: 44 bytes a level.
// The walk keeps its own stack, so this depth cannot exhaust the thread's.
TEST(Dump, DeepNestingDoesNotExhaustTheStack) {
    constexpr s64 levels = 100000;
    constexpr s64 level_size = 16 + 24 + 4;
    std::vector<u8> image(static_cast<size_t>(levels * level_size));
    auto put = [&](s64 at, u64 v, int width) {
        for (int i = 0; i < width; i++) image[static_cast<size_t>(at + i)] = static_cast<u8>(v >> (8 * i));
    };
    for (s64 k = 0; k < levels; k++) {
        s64 at = k * level_size;
        s64 child_size = (levels - 1 - k) * level_size; // the innermost child is an empty DATA entry
        put(at, signature_of("Arr!"), 4);
        put(at + 4, 1, 4);
        put(at + 8, static_cast<u64>(4 + child_size), 8);
        put(at + 16, 0, 4);
        put(at + 20, static_cast<u64>(k + 1 < levels ? Entry_Type::ARRAY_OF_ENTRIES : Entry_Type::DATA), 2);
        put(at + 24, static_cast<u64>(level_size), 8);
        put(at + 32, static_cast<u64>(child_size), 8);
        put(at + 40, signature_of("Dat!"), 4);
    }
    Entry root = {{static_cast<s64>(image.size()), image.data()}, Entry_Type::ARRAY_OF_ENTRIES, 0};
    s64 deepest = 0;
    Recording_Logger log;
    visit_entry(counting_visitor, root, &deepest, 0, {});
    EXPECT_EQ(deepest, levels);
    EXPECT_TRUE(log.messages.empty());
}

} // namespace
