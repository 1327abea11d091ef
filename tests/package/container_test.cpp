// The package container: byte-exact encodings, round trips, the decoders'
// refusals with their messages, and the file writer and reader.
//
// Expected images are built byte by byte here (not with the library's own
// header records), so a wrong offset, width or byte order in the library shows.
// Every image a decoder reads lies in a heap block of exactly its size, so the
// sanitizer build reports any read past its end.
#include "package/package.h"

#include "capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tessera;
using namespace tessera::test;
using testing::ElementsAre;

namespace {

// ---- Helpers ---------------------------------------------------------------------------

// A little-endian image, appended field by field.
struct Image {
    std::vector<u8> bytes;

    Image &le(u64 v, int width) {
        for (int i = 0; i < width; i++) bytes.push_back(static_cast<u8>(v >> (8 * i)));
        return *this;
    }
    Image &u16_(u64 v) { return le(v, 2); }
    Image &u32_(u64 v) { return le(v, 4); }
    Image &s64_(s64 v) { return le(static_cast<u64>(v), 8); }
    Image &text(const char *s) {
        bytes.insert(bytes.end(), s, s + strlen(s));
        return *this;
    }
    Image &raw(std::initializer_list<u8> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    Image &zeros(size_t n) {
        bytes.insert(bytes.end(), n, 0);
        return *this;
    }
};

void patch(std::vector<u8> &b, size_t at, u64 v, int width) {
    ASSERT_LE(at + width, b.size());
    for (int i = 0; i < width; i++) b[at + i] = static_cast<u8>(v >> (8 * i));
}

// A heap block of exactly the image's size.
struct Exact_Copy {
    std::unique_ptr<u8[]> bytes;
    s64 count;
    explicit Exact_Copy(const std::vector<u8> &v)
        : bytes(new u8[v.size()]), count(static_cast<s64>(v.size())) {
        if (!v.empty()) memcpy(bytes.get(), v.data(), v.size());
    }
    Array_View<u8> view() const { return {count, bytes.get()}; }
};

std::vector<u8> to_vector(Array_View<u8> v) {
    return std::vector<u8>(v.data, v.data + v.count);
}

Array_View<u8> view_of_vector(std::vector<u8> &v) {
    return {static_cast<s64>(v.size()), v.data()};
}

template <typename... Args>
std::string message(const char *fmt, const Args &...args) {
    return to_std(format(from_c_string(fmt), args...));
}

std::vector<std::string> texts(const Recording_Logger &log) {
    std::vector<std::string> t;
    for (const Logged_Message &m : log.messages) t.push_back(m.text);
    return t;
}

void expect_one_error(const Recording_Logger &log, const std::string &text) {
    EXPECT_THAT(texts(log), ElementsAre(text));
    if (!log.messages.empty()) {
        EXPECT_EQ(log.messages[0].flags, Log_Flags::ERROR);
    }
}

// The context's allocator, counting live blocks, for the duration of a scope.
struct Counting_Heap {
    s64 live = 0;
    Allocator saved;

    static void *proc(Allocator_Mode mode, s64 size, s64 old_size, void *old_memory, void *data) {
        auto *self = static_cast<Counting_Heap *>(data);
        if (mode == Allocator_Mode::ALLOCATE || (mode == Allocator_Mode::RESIZE && !old_memory)) self->live++;
        if (mode == Allocator_Mode::FREE && old_memory) self->live--;
        return heap_allocator_proc(mode, size, old_size, old_memory, nullptr);
    }
    Counting_Heap() : saved(context().allocator) { context().allocator = {proc, this}; }
    ~Counting_Heap() { context().allocator = saved; }
};

std::string temp_path(const char *name) {
    return testing::TempDir() + "tessera_package_" + std::to_string(getpid()) + "_" + name;
}

std::vector<u8> file_bytes(const std::string &path) {
    std::vector<u8> out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    u8 buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    fclose(f);
    return out;
}

String string_of(const std::string &s) {
    return make_string(s.data(), static_cast<s64>(s.size()));
}

// The package header and root entry header, as a file holds them.
Image package_prefix(u32 flags, const std::string &name, u16 type, u16 entry_flags, s64 payload_count) {
    Image im;
    im.text("PakgData").u16_(0).u16_(1).u32_(flags).zeros(16);
    std::string stored = name.substr(0, 32);
    im.text(stored.c_str()).zeros(32 - stored.size());
    im.text("Ent!").u16_(type).u16_(entry_flags).s64_(24).s64_(payload_count);
    return im;
}

// The 92-byte package: a 4-byte DATA root.
std::vector<u8> small_package() {
    Image im = package_prefix(0x01020304, "small", 0, 0xBEEF, 4);
    im.raw({0xDE, 0xAD, 0x00, 0x7F});
    return im.bytes;
}

// ---- Whole packages -----------------------------------------------------------------------

TEST(Package, SmallPackageIsWrittenByteExactAndReadsBack) {
    u8 payload[] = {0xDE, 0xAD, 0x00, 0x7F};
    Package package;
    package.name = "small"_s;
    package.flags = 0x01020304;
    package.base_entry = {{4, payload}, Entry_Type::DATA, 0xBEEF};
    std::string path = temp_path("small.pkg");

    Recording_Logger log;
    ASSERT_TRUE(write(&package, string_of(path)));
    EXPECT_EQ(file_bytes(path), small_package());

    Package back;
    ASSERT_TRUE(read(string_of(path), &back));
    EXPECT_TRUE(log.messages.empty());
    EXPECT_EQ(back.data.count, 92);
    EXPECT_EQ(to_std(back.name), "small");
    EXPECT_EQ(back.flags, 0x01020304u);
    EXPECT_EQ(back.base_entry.type, Entry_Type::DATA);
    EXPECT_EQ(back.base_entry.flags, 0xBEEF);
    EXPECT_EQ(to_vector(back.base_entry.data), std::vector<u8>(payload, payload + 4));
    // Every view points into the one buffer the file was read into.
    EXPECT_EQ(back.base_entry.data.data, back.data.data + 88);
    EXPECT_EQ(back.name.data, back.data.data + 32);
    deallocate(back.data.data);
    unlink(path.c_str());
}

TEST(Package, ZeroedPackageIsTheBareHeader) {
    std::string path = temp_path("zero.pkg");
    Package package;
    ASSERT_TRUE(write(&package, string_of(path)));
    EXPECT_EQ(file_bytes(path), package_prefix(0, "", 0, 0, 0).bytes);
    unlink(path.c_str());
}

// Names up to 32 bytes are stored whole, without terminator at 32; longer ones
// are cut to 32 with one logged error.
TEST(Package, NamesAreStoredUpTo32Bytes) {
    struct Case {
        size_t length;
        bool truncated;
    } cases[] = {{0, false}, {1, false}, {31, false}, {32, false}, {33, true}, {40, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        std::string name;
        for (size_t i = 0; i < c.length; i++) name.push_back(static_cast<char>('A' + i % 26));
        Package package;
        package.name = string_of(name);
        std::string path = temp_path("name.pkg");

        Recording_Logger log;
        ASSERT_TRUE(write(&package, string_of(path)));
        if (c.truncated) {
            expect_one_error(log, message(PACKAGE_NAME_TRUNCATED, 32));
        } else {
            EXPECT_TRUE(log.messages.empty());
        }
        std::vector<u8> bytes = file_bytes(path);
        EXPECT_EQ(bytes, package_prefix(0, name, 0, 0, 0).bytes);

        Package back;
        ASSERT_TRUE(read(&back, view_of_vector(bytes)));
        EXPECT_EQ(to_std(back.name), name.substr(0, 32));
        unlink(path.c_str());
    }
}

TEST(Package, ReadAcceptsWhatTheFormatAllows) {
    struct Case {
        const char *what;
        size_t at;
        int width;
        u64 value;
        size_t trailing;
    } cases[] = {
        {"as written", 0, 0, 0, 0},
        {"type 4 (the last one)", 68, 2, 4, 0},
        {"any major version: the field is unsigned", 8, 2, 0xFFFF, 0},
        {"any minor version", 10, 2, 0xFFFF, 0},
        {"the base entry signature is not examined", 64, 4, 0, 0},
        {"the reserved words are not examined", 16, 8, ~0ull, 0},
        {"bytes after the payload", 0, 0, 0, 5},
        {"a payload that ends exactly at the input", 80, 8, 4, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> image = small_package();
        if (c.width) patch(image, c.at, c.value, c.width);
        image.insert(image.end(), c.trailing, 0xAB);
        Exact_Copy input(image);
        Recording_Logger log;
        Package package;
        ASSERT_TRUE(read(&package, input.view()));
        EXPECT_TRUE(log.messages.empty());
        EXPECT_EQ(package.data.data, input.bytes.get());
        EXPECT_EQ(package.data.count, input.count);
        EXPECT_EQ(package.base_entry.data.data, input.bytes.get() + 88);
        EXPECT_EQ(package.base_entry.data.count, 4);
    }
}

// Every refusal, including hostile headers, in the order the checks run. The
// package record stays as it was.
TEST(Package, ReadRefusesBadImagesWithTheirMessages) {
    struct Case {
        const char *what;
        size_t at;
        int width;
        u64 value;
        size_t truncate_to; // 0: keep the whole image
        std::string expected;
    } cases[] = {
        {"63 bytes", 0, 0, 0, 63, message(PACKAGE_INPUT_TOO_SMALL, 63)},
        {"one byte", 0, 0, 0, 1, message(PACKAGE_INPUT_TOO_SMALL, 1)},
        {"bad signature, before anything else", 7, 1, 'X', 64, message(PACKAGE_SIGNATURE_MISMATCH)},
        {"bad signature in a whole image", 0, 1, 'p', 0, message(PACKAGE_SIGNATURE_MISMATCH)},
        {"no entry header", 0, 0, 0, 64, message(PACKAGE_NO_ENTRY_HEADER, 64, 64, 24)},
        {"entry header cut short", 0, 0, 0, 87, message(PACKAGE_NO_ENTRY_HEADER, 87, 64, 24)},
        {"payload longer than the input", 80, 8, 5, 0, message(PACKAGE_BASE_ENTRY_TOO_BIG, 28, 29)},
        {"payload starting too late", 72, 8, 25, 0, message(PACKAGE_BASE_ENTRY_TOO_BIG, 28, 29)},
        {"negative offset", 72, 8, static_cast<u64>(-1), 0, message(PACKAGE_BASE_ENTRY_NEGATIVE, -1, 4)},
        {"negative count", 80, 8, static_cast<u64>(-4), 0, message(PACKAGE_BASE_ENTRY_NEGATIVE, 24, -4)},
        {"offset + count overflows", 72, 8, INT64_MAX, 0,
         message(PACKAGE_BASE_ENTRY_TOO_BIG, 28, static_cast<s128>(INT64_MAX) + 4)},
        {"type 7", 68, 2, 7, 0, "Entry header specifies unknown type (0x7)."},
        {"type 5", 68, 2, 5, 0, "Entry header specifies unknown type (0x5)."},
        {"type 0xffff", 68, 2, 0xFFFF, 0, "Entry header specifies unknown type (0xffff)."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> image = small_package();
        if (c.width) patch(image, c.at, c.value, c.width);
        if (c.truncate_to) image.resize(c.truncate_to);
        Exact_Copy input(image);
        u8 sentinel = 0;
        Package package;
        package.name = "kept"_s;
        package.flags = 99;
        package.base_entry = {{1, &sentinel}, Entry_Type::STRING, 3};

        Recording_Logger log;
        EXPECT_FALSE(read(&package, input.view()));
        expect_one_error(log, c.expected);
        EXPECT_EQ(to_std(package.name), "kept");
        EXPECT_EQ(package.flags, 99u);
        EXPECT_EQ(package.data.data, nullptr);
        EXPECT_EQ(package.base_entry.data.data, &sentinel);
        EXPECT_EQ(package.base_entry.type, Entry_Type::STRING);
    }
}

TEST(Package, EmptyInputIsRefused) {
    Recording_Logger log;
    Package package;
    EXPECT_FALSE(read(&package, Array_View<u8>{}));
    expect_one_error(log, message(PACKAGE_INPUT_TOO_SMALL, 0));
}

// A tree of every kind, through a file and back, level by level.
TEST(Package, NestedTreeRoundTripsThroughAFile) {
    f32 values[] = {1.5f, -2.0f, 0.25f, 1e30f};
    u8 one[] = {1};
    Array<u8> title = write_string_entry("Tessera"_s);
    Array<u8> floats = write_array_of_data_entry(values, 4, sizeof(f32));
    Array<u8> empty_table = write_table_entry({});
    Entry list_items[] = {{{1, one}, Entry_Type::DATA, 5},
                          {view_of(empty_table), Entry_Type::TABLE_OF_ENTRIES, 0}};
    Array<u8> list = write_array_entry({2, list_items});
    Table_Entry root_items[] = {
        {"title"_s, {view_of(title), Entry_Type::STRING, 0}},
        {"values"_s, {view_of(floats), Entry_Type::ARRAY_OF_DATA, 0}},
        {"list"_s, {view_of(list), Entry_Type::ARRAY_OF_ENTRIES, 0x8000}},
    };
    Array<u8> root = write_table_entry({3, root_items});

    Package package;
    package.name = "tree"_s;
    package.base_entry = {view_of(root), Entry_Type::TABLE_OF_ENTRIES, 0};
    std::string path = temp_path("tree.pkg");
    Recording_Logger log;
    ASSERT_TRUE(write(&package, string_of(path)));

    Package back;
    ASSERT_TRUE(read(string_of(path), &back));
    EXPECT_EQ(back.data.count, 88 + root.count);
    ASSERT_EQ(back.base_entry.type, Entry_Type::TABLE_OF_ENTRIES);
    Read_Table_Result table = read_table_entry(back.base_entry.data);
    ASSERT_TRUE(table.success);
    ASSERT_EQ(table.result.count, 3);

    Table_Entry *t = find(view_of(table.result), "title"_s);
    ASSERT_NE(t, nullptr);
    Read_String_Result s = read_string_entry(t->entry.data);
    ASSERT_TRUE(s.success);
    EXPECT_EQ(to_std(s.result), "Tessera");
    EXPECT_TRUE(s.result.data > back.data.data && s.result.data < back.data.data + back.data.count);

    Table_Entry *v = find(view_of(table.result), "values"_s);
    ASSERT_NE(v, nullptr);
    Read_Array_Of_Data_Result a = read_array_of_data_entry(v->entry.data);
    ASSERT_TRUE(a.success);
    EXPECT_EQ(a.element_count, 4);
    EXPECT_EQ(a.element_size, 4);
    ASSERT_EQ(a.result.count, 16);
    EXPECT_EQ(memcmp(a.result.data, values, 16), 0);

    Table_Entry *l = find(view_of(table.result), "list"_s);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->entry.flags, 0x8000);
    Read_Array_Result items = read_array_entry(l->entry.data);
    ASSERT_TRUE(items.success);
    ASSERT_EQ(items.result.count, 2);
    EXPECT_EQ(to_vector(items.result[0].data), std::vector<u8>{1});
    EXPECT_EQ(items.result[0].flags, 5);
    EXPECT_EQ(items.result[1].type, Entry_Type::TABLE_OF_ENTRIES);
    Read_Table_Result inner = read_table_entry(items.result[1].data);
    EXPECT_TRUE(inner.success);
    EXPECT_EQ(inner.result.count, 0);
    EXPECT_TRUE(log.messages.empty());

    array_free(&items.result);
    array_free(&table.result);
    deallocate(back.data.data);
    for (Array<u8> *b : {&title, &floats, &empty_table, &list, &root}) array_free(b);
    unlink(path.c_str());
}

// ---- The file writer and reader -----------------------------------------------------------

TEST(Package_File, WriteFailuresAreLoggedAndFalse) {
    u8 payload[4] = {};
    Package package;
    package.base_entry.data = {4, payload};
    std::string missing_dir = "/nonexistent-tessera-dir/x.pkg";
    std::string with_zero("a\0b", 3);
    struct Case {
        const char *what;
        std::string path;
        std::string expected;
    } cases[] = {
        {"missing directory", missing_dir,
         message(PACKAGE_FILE_OPEN_FAILED, string_of(missing_dir), ENOENT, strerror(ENOENT))},
        {"a directory", "/tmp", message(PACKAGE_FILE_OPEN_FAILED, "/tmp"_s, EISDIR, strerror(EISDIR))},
        {"a zero byte in the path", with_zero,
         message(PACKAGE_FILE_OPEN_FAILED, string_of(with_zero), EINVAL, strerror(EINVAL))},
        {"a full device", "/dev/full", message(PACKAGE_WRITE_FAILED, strerror(ENOSPC))},
        // /dev/null takes every byte and always reports position 0.
        {"a file that does not keep its bytes", "/dev/null", message(PACKAGE_WRITTEN_SIZE_MISMATCH, 0, 92)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Recording_Logger log;
        EXPECT_FALSE(write(&package, string_of(c.path)));
        expect_one_error(log, c.expected);
    }
}

TEST(Package_File, ReadFailuresReleaseTheBufferAndKeepThePackage) {
    std::string junk = temp_path("junk.pkg");
    std::string empty = temp_path("empty.pkg");
    std::string missing = temp_path("missing.pkg");
    {
        std::vector<u8> bytes = small_package();
        bytes[0] = 'X';
        FILE *f = fopen(junk.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        f = fopen(empty.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    struct Case {
        const char *what;
        std::string path;
        std::string expected;
    } cases[] = {
        {"missing file", missing,
         message(PACKAGE_FILE_OPEN_FAILED, string_of(missing), ENOENT, strerror(ENOENT))},
        {"a directory", "/tmp", message(PACKAGE_FILE_READ_FAILED, "/tmp"_s, EISDIR, strerror(EISDIR))},
        {"not a package", junk, message(PACKAGE_SIGNATURE_MISMATCH)},
        {"an empty file", empty, message(PACKAGE_INPUT_TOO_SMALL, 0)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Counting_Heap heap;
        Recording_Logger log;
        Package package;
        package.name = "kept"_s;
        EXPECT_FALSE(read(string_of(c.path), &package));
        expect_one_error(log, c.expected);
        EXPECT_EQ(heap.live, 0);
        EXPECT_EQ(to_std(package.name), "kept");
        EXPECT_EQ(package.data.data, nullptr);
    }
    unlink(junk.c_str());
    unlink(empty.c_str());
}

// The file's bytes become the caller's one buffer, whatever the file's size.
TEST(Package_File, ReadHandsTheWholeFileToTheCaller) {
    std::vector<u8> payload(100000);
    for (size_t i = 0; i < payload.size(); i++) payload[i] = static_cast<u8>(i * 7);
    Package package;
    package.base_entry = {view_of_vector(payload), Entry_Type::DATA, 0};
    std::string path = temp_path("big.pkg");
    ASSERT_TRUE(write(&package, string_of(path)));

    Counting_Heap heap;
    Package back;
    ASSERT_TRUE(read(string_of(path), &back));
    EXPECT_EQ(heap.live, 1);
    EXPECT_EQ(back.data.count, 88 + 100000);
    EXPECT_EQ(to_vector(back.base_entry.data), payload);
    deallocate(back.data.data);
    EXPECT_EQ(heap.live, 0);
    unlink(path.c_str());
}

// ---- Strings ---------------------------------------------------------------------------------

TEST(String_Entry, EncodesHeaderTextAndZeroByte) {
    struct Case {
        String s;
        std::vector<u8> expected;
    } cases[] = {
        {"hello"_s, Image().text("Str!").u32_(0).s64_(5).text("hello").raw({0}).bytes},
        {""_s, Image().text("Str!").u32_(0).s64_(0).raw({0}).bytes},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(to_std(c.s));
        Array<u8> out = write_string_entry(c.s);
        EXPECT_EQ(to_vector(view_of(out)), c.expected);
        Exact_Copy input(c.expected);
        Read_String_Result r = read_string_entry(input.view());
        ASSERT_TRUE(r.success);
        EXPECT_EQ(to_std(r.result), to_std(c.s));
        EXPECT_EQ(r.result.data, input.bytes.get() + 16);
        array_free(&out);
    }
}

TEST(String_Entry, DecodesWithoutTheZeroByte) {
    Exact_Copy input(Image().text("Str!").u32_(0xFFFFFFFF).s64_(3).text("abc").bytes);
    Read_String_Result r = read_string_entry(input.view());
    ASSERT_TRUE(r.success);
    EXPECT_EQ(to_std(r.result), "abc");
}

TEST(String_Entry, RefusesBadHeaders) {
    struct Case {
        const char *what;
        std::vector<u8> image;
        std::string expected;
    } cases[] = {
        {"15 bytes", Image().text("Str!").zeros(11).bytes, message(STRING_ENTRY_TOO_SMALL)},
        {"empty", {}, message(STRING_ENTRY_TOO_SMALL)},
        {"bad signature", Image().text("Str?").u32_(0).s64_(0).bytes,
         message(STRING_ENTRY_SIGNATURE_MISMATCH)},
        {"count one past the text", Image().text("Str!").u32_(0).s64_(4).text("abc").bytes,
         message(STRING_ENTRY_COUNT_TOO_BIG)},
        {"huge count", Image().text("Str!").u32_(0).s64_(INT64_MAX).text("abc").bytes,
         message(STRING_ENTRY_COUNT_TOO_BIG)},
        {"negative count", Image().text("Str!").u32_(0).s64_(-1).text("abc").bytes,
         message(STRING_ENTRY_NEGATIVE_COUNT, -1)},
        {"most negative count", Image().text("Str!").u32_(0).s64_(INT64_MIN).bytes,
         message(STRING_ENTRY_NEGATIVE_COUNT, INT64_MIN)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Exact_Copy input(c.image);
        Recording_Logger log;
        Read_String_Result r = read_string_entry(input.view());
        EXPECT_FALSE(r.success);
        EXPECT_EQ(r.result.count, 0);
        EXPECT_EQ(r.result.data, nullptr);
        expect_one_error(log, c.expected);
    }
}

// ---- Tables ------------------------------------------------------------------------------------

TEST(Table_Entry, EmptyTableIs32Bytes) {
    Array<u8> out = write_table_entry({});
    std::vector<u8> expected = Image().text("Map!").u32_(0).s64_(4).s64_(4).text("Nam!").text("Dat!").bytes;
    EXPECT_EQ(to_vector(view_of(out)), expected);
    Exact_Copy input(expected);
    Read_Table_Result r = read_table_entry(input.view());
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.result.count, 0);
    array_free(&out);
}

// ("a", 2 bytes) and ("bc", 0 bytes): names at 108 and 110, data at 117 and 119.
std::vector<u8> two_entry_table() {
    Image im;
    im.text("Map!").u32_(2).s64_(4 + 2 + 3).s64_(4 + 2);
    im.u32_(0).u16_(0).u16_(0x1234).s64_(117).s64_(2).s64_(108).s64_(1);
    im.u32_(0).u16_(1).u16_(7).s64_(119).s64_(0).s64_(110).s64_(2);
    im.text("Nam!").text("a").raw({0}).text("bc").raw({0});
    im.text("Dat!").raw({0x55, 0xAA});
    return im.bytes;
}

TEST(Table_Entry, TwoEntriesEncodeTo119BytesWithTheirOffsets) {
    u8 payload[] = {0x55, 0xAA};
    Table_Entry entries[] = {
        {"a"_s, {{2, payload}, Entry_Type::DATA, 0x1234}},
        {"bc"_s, {{0, nullptr}, Entry_Type::STRING, 7}},
    };
    Array<u8> out = write_table_entry({2, entries});
    std::vector<u8> expected = two_entry_table();
    ASSERT_EQ(expected.size(), 119u);
    EXPECT_EQ(to_vector(view_of(out)), expected);
    array_free(&out);
}

TEST(Table_Entry, DecodesViewsIntoTheTable) {
    Exact_Copy input(two_entry_table());
    Read_Table_Result r = read_table_entry(input.view());
    ASSERT_TRUE(r.success);
    ASSERT_EQ(r.result.count, 2);
    const u8 *base = input.bytes.get();
    EXPECT_EQ(to_std(r.result[0].name), "a");
    EXPECT_EQ(r.result[0].name.data, base + 108);
    EXPECT_EQ(r.result[0].entry.type, Entry_Type::DATA);
    EXPECT_EQ(r.result[0].entry.flags, 0x1234);
    EXPECT_EQ(r.result[0].entry.data.data, base + 117);
    EXPECT_EQ(r.result[0].entry.data.count, 2);
    EXPECT_EQ(to_std(r.result[1].name), "bc");
    EXPECT_EQ(r.result[1].name.data, base + 110);
    EXPECT_EQ(r.result[1].entry.type, Entry_Type::STRING);
    EXPECT_EQ(r.result[1].entry.flags, 7);
    EXPECT_EQ(r.result[1].entry.data.count, 0);
    EXPECT_EQ(r.result[1].entry.data.data, base + 119);
    array_free(&r.result);
}

// What the reader does not examine: header signatures, the zero after a name,
// bytes past the table's declared end, names and payloads outside their own
// sections as long as they are inside the table.
TEST(Table_Entry, AcceptsWhatTheFormatAllows) {
    struct Case {
        const char *what;
        size_t at;
        int width;
        u64 value;
        size_t trailing;
    } cases[] = {
        {"table signature", 0, 4, 0, 0},
        {"entry header signature", 24, 4, ENTRY_SIGNATURE, 0},
        {"zero after a name", 109, 1, 'z', 0},
        {"bytes after the table", 0, 0, 0, 9},
        {"a name inside the headers", 88, 8, 0, 0},
        {"a payload inside the names section", 32, 8, 104, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> image = two_entry_table();
        if (c.width) patch(image, c.at, c.value, c.width);
        image.insert(image.end(), c.trailing, 0xCC);
        Exact_Copy input(image);
        Recording_Logger log;
        Read_Table_Result r = read_table_entry(input.view());
        EXPECT_TRUE(r.success);
        EXPECT_EQ(r.result.count, 2);
        EXPECT_TRUE(log.messages.empty());
        array_free(&r.result);
    }
}

struct Patch_Case {
    const char *what;
    size_t at;
    int width;
    u64 value;
    size_t truncate_to; // 0: keep the whole image
    size_t trailing;    // bytes appended after the image
    std::string expected;
};

// Each case is the valid image with one field changed; it lies in an exact heap
// block, is refused with its message, and leaves no allocation behind.
template <typename Decode>
void expect_refusals(const std::vector<u8> &valid, const std::vector<Patch_Case> &cases, Decode decode) {
    for (const Patch_Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> image = valid;
        if (c.width) patch(image, c.at, c.value, c.width);
        if (c.truncate_to) image.resize(c.truncate_to);
        image.insert(image.end(), c.trailing, 0xCC);
        Exact_Copy input(image);
        Counting_Heap heap;
        Recording_Logger log;
        auto r = decode(input.view());
        EXPECT_FALSE(r.success);
        EXPECT_EQ(r.result.count, 0);
        EXPECT_EQ(r.result.data, nullptr);
        expect_one_error(log, c.expected);
        EXPECT_EQ(heap.live, 0);
    }
}

TEST(Table_Entry, RefusesBadAndHostileHeaders) {
    auto neg = [](s64 v) { return static_cast<u64>(v); };
    std::vector<Patch_Case> cases = {
        {"23 bytes", 0, 0, 0, 23, 0, message(TABLE_HEADER_TOO_SMALL)},
        {"headers cut short", 0, 0, 0, 103, 0, message(TABLE_ENTRY_HEADERS_TOO_SMALL, 2)},
        {"3 entries declared", 4, 4, 3, 0, 0, message(TABLE_ENTRY_HEADERS_TOO_SMALL, 3)},
        {"largest entry count", 4, 4, INT32_MAX, 0, 0, message(TABLE_ENTRY_HEADERS_TOO_SMALL, INT32_MAX)},
        {"negative entry count", 4, 4, neg(-1), 0, 0, message(TABLE_NEGATIVE_ENTRY_COUNT, -1)},
        {"most negative entry count", 4, 4, 0x80000000u, 0, 0,
         message(TABLE_NEGATIVE_ENTRY_COUNT, INT32_MIN)},
        {"0 entries declared: names signature misplaced", 4, 4, 0, 0, 0, message(NAMES_SIGNATURE_MISMATCH)},
        {"names signature", 104, 1, 'n', 0, 0, message(NAMES_SIGNATURE_MISMATCH)},
        {"names signature cut off", 0, 0, 0, 106, 0, message(NAMES_DATA_TOO_SMALL)},
        {"names size too big", 8, 8, 16, 0, 0, message(NAMES_DATA_TOO_SMALL)},
        {"huge names size", 8, 8, INT64_MAX, 0, 0, message(NAMES_DATA_TOO_SMALL)},
        {"negative names size", 8, 8, neg(-4), 0, 0, message(TABLE_NEGATIVE_NAMES_SIZE, -4)},
        {"most negative names size", 8, 8, neg(INT64_MIN), 0, 0,
         message(TABLE_NEGATIVE_NAMES_SIZE, INT64_MIN)},
        {"data signature cut off by the names size", 8, 8, 13, 0, 0, message(ENTRY_DATA_TOO_SMALL)},
        {"data signature", 116, 1, 'd', 0, 0, message(ENTRY_DATA_SIGNATURE_MISMATCH)},
        {"data size too big", 16, 8, 7, 0, 0, message(ENTRY_DATA_TOO_SMALL)},
        {"huge data size", 16, 8, INT64_MAX, 0, 0, message(ENTRY_DATA_TOO_SMALL)},
        {"negative data size", 16, 8, neg(-1), 0, 0, message(NEGATIVE_ENTRY_DATA_SIZE, -1)},
        {"payload past the end", 40, 8, 3, 0, 0, message(TABLE_ENTRY_OUT_OF_BOUNDS, 0)},
        {"payload past the table, inside trailing bytes", 40, 8, 4, 0, 8,
         message(TABLE_ENTRY_OUT_OF_BOUNDS, 0)},
        {"negative payload offset", 32, 8, neg(-8), 0, 0, message(TABLE_ENTRY_OUT_OF_BOUNDS, 0)},
        {"negative payload count", 80, 8, neg(-1), 0, 0, message(TABLE_ENTRY_OUT_OF_BOUNDS, 1)},
        {"payload offset + count overflows", 72, 8, INT64_MAX, 0, 0, message(TABLE_ENTRY_OUT_OF_BOUNDS, 1)},
        {"negative name offset", 88, 8, neg(-1), 0, 0, message(TABLE_ENTRY_OUT_OF_BOUNDS, 1)},
        {"negative name count", 96, 8, neg(-2), 0, 0, message(TABLE_ENTRY_OUT_OF_BOUNDS, 1)},
        {"name offset + count overflows", 96, 8, INT64_MAX, 0, 0, message(TABLE_ENTRY_OUT_OF_BOUNDS, 1)},
        {"name past the end", 48, 8, 119, 0, 0, message(TABLE_ENTRY_OUT_OF_BOUNDS, 0)},
    };
    expect_refusals(two_entry_table(), cases, read_table_entry);
}

// Every proper prefix of a valid table is refused without reading past it.
TEST(Table_Entry, EveryTruncationIsRefused) {
    std::vector<u8> valid = two_entry_table();
    for (size_t n = 0; n < valid.size(); n++) {
        SCOPED_TRACE(n);
        Exact_Copy input(std::vector<u8>(valid.begin(), valid.begin() + n));
        Recording_Logger log;
        Read_Table_Result r = read_table_entry(input.view());
        EXPECT_FALSE(r.success);
        EXPECT_EQ(log.messages.size(), 1u);
    }
}

// ---- Arrays of entries ----------------------------------------------------------------------

TEST(Array_Entry, EmptyArrayIs20Bytes) {
    Array<u8> out = write_array_entry({});
    std::vector<u8> expected = Image().text("Arr!").u32_(0).s64_(4).text("Dat!").bytes;
    EXPECT_EQ(to_vector(view_of(out)), expected);
    Exact_Copy input(expected);
    Read_Array_Result r = read_array_entry(input.view());
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.result.count, 0);
    array_free(&out);
}

// (DATA [1, 2, 3], flags 0x0102) and (ARRAY_OF_DATA [9]): 72 bytes.
std::vector<u8> two_entry_array() {
    Image im;
    im.text("Arr!").u32_(2).s64_(4 + 3 + 1);
    im.u32_(0).u16_(0).u16_(0x0102).s64_(68).s64_(3);
    im.u32_(0).u16_(4).u16_(0).s64_(71).s64_(1);
    im.text("Dat!").raw({1, 2, 3, 9});
    return im.bytes;
}

TEST(Array_Entry, TwoEntriesEncodeAndDecode) {
    u8 first[] = {1, 2, 3}, second[] = {9};
    Entry entries[] = {{{3, first}, Entry_Type::DATA, 0x0102}, {{1, second}, Entry_Type::ARRAY_OF_DATA, 0}};
    Array<u8> out = write_array_entry({2, entries});
    std::vector<u8> expected = two_entry_array();
    ASSERT_EQ(expected.size(), 72u);
    EXPECT_EQ(to_vector(view_of(out)), expected);
    array_free(&out);

    Exact_Copy input(expected);
    Read_Array_Result r = read_array_entry(input.view());
    ASSERT_TRUE(r.success);
    ASSERT_EQ(r.result.count, 2);
    EXPECT_EQ(r.result[0].data.data, input.bytes.get() + 68);
    EXPECT_EQ(to_vector(r.result[0].data), std::vector<u8>({1, 2, 3}));
    EXPECT_EQ(r.result[0].type, Entry_Type::DATA);
    EXPECT_EQ(r.result[0].flags, 0x0102);
    EXPECT_EQ(to_vector(r.result[1].data), std::vector<u8>{9});
    EXPECT_EQ(r.result[1].type, Entry_Type::ARRAY_OF_DATA);
    array_free(&r.result);
}

TEST(Array_Entry, HeaderSignaturesAreNotExamined) {
    std::vector<u8> image = two_entry_array();
    patch(image, 0, 0, 4);
    patch(image, 16, ENTRY_SIGNATURE, 4);
    Exact_Copy input(image);
    Read_Array_Result r = read_array_entry(input.view());
    EXPECT_TRUE(r.success);
    array_free(&r.result);
}

TEST(Array_Entry, RefusesBadAndHostileHeaders) {
    auto neg = [](s64 v) { return static_cast<u64>(v); };
    std::vector<Patch_Case> cases = {
        {"15 bytes", 0, 0, 0, 15, 0, message(ARRAY_HEADER_TOO_SMALL)},
        {"headers cut short", 0, 0, 0, 63, 0, message(ARRAY_ENTRY_HEADERS_TOO_SMALL, 2)},
        {"3 entries declared", 4, 4, 3, 0, 0, message(ARRAY_ENTRY_HEADERS_TOO_SMALL, 3)},
        {"largest entry count", 4, 4, INT32_MAX, 0, 0, message(ARRAY_ENTRY_HEADERS_TOO_SMALL, INT32_MAX)},
        {"negative entry count", 4, 4, neg(-2), 0, 0, message(ARRAY_NEGATIVE_ENTRY_COUNT, -2)},
        {"0 entries declared: data signature misplaced", 4, 4, 0, 0, 0,
         message(ENTRY_DATA_SIGNATURE_MISMATCH)},
        {"data signature", 64, 1, 'd', 0, 0, message(ENTRY_DATA_SIGNATURE_MISMATCH)},
        {"data signature cut off", 0, 0, 0, 66, 0, message(ENTRY_DATA_TOO_SMALL)},
        {"data size too big", 8, 8, 9, 0, 0, message(ENTRY_DATA_TOO_SMALL)},
        {"huge data size", 8, 8, INT64_MAX, 0, 0, message(ENTRY_DATA_TOO_SMALL)},
        {"negative data size", 8, 8, neg(-8), 0, 0, message(NEGATIVE_ENTRY_DATA_SIZE, -8)},
        {"payload past the end", 32, 8, 5, 0, 0, message(ARRAY_ENTRY_OUT_OF_BOUNDS, 0)},
        {"payload past the array, inside trailing bytes", 32, 8, 5, 0, 4,
         message(ARRAY_ENTRY_OUT_OF_BOUNDS, 0)},
        {"negative payload offset", 24, 8, neg(-1), 0, 0, message(ARRAY_ENTRY_OUT_OF_BOUNDS, 0)},
        {"payload offset + count overflows", 48, 8, INT64_MAX, 0, 0, message(ARRAY_ENTRY_OUT_OF_BOUNDS, 1)},
        {"negative payload count", 56, 8, neg(-1), 0, 0, message(ARRAY_ENTRY_OUT_OF_BOUNDS, 1)},
    };
    expect_refusals(two_entry_array(), cases, read_array_entry);
}

TEST(Array_Entry, EveryTruncationIsRefused) {
    std::vector<u8> valid = two_entry_array();
    for (size_t n = 0; n < valid.size(); n++) {
        SCOPED_TRACE(n);
        Exact_Copy input(std::vector<u8>(valid.begin(), valid.begin() + n));
        Recording_Logger log;
        Read_Array_Result r = read_array_entry(input.view());
        EXPECT_FALSE(r.success);
        EXPECT_EQ(log.messages.size(), 1u);
    }
}

// ---- Arrays of data ---------------------------------------------------------------------------

std::vector<u8> three_u16() {
    return Image().text("Arr!").u32_(2).s64_(3).text("Arr!").u16_(0x0102).u16_(0x0304).u16_(0xA0B0).bytes;
}

TEST(Array_Of_Data_Entry, EncodesAndDecodesElements) {
    u16 values[] = {0x0102, 0x0304, 0xA0B0};
    Array<u8> out = write_array_of_data_entry(values, 3, 2);
    EXPECT_EQ(to_vector(view_of(out)), three_u16());
    array_free(&out);

    Array<u8> empty = write_array_of_data_entry(nullptr, 0, 8);
    EXPECT_EQ(to_vector(view_of(empty)), Image().text("Arr!").u32_(8).s64_(0).text("Arr!").bytes);
    array_free(&empty);

    // The largest element size the s32 field allows.
    Array<u8> widest = write_array_of_data_entry(nullptr, 0, ARRAY_OF_DATA_MAX_ELEMENT_SIZE);
    EXPECT_EQ(to_vector(view_of(widest)), Image().text("Arr!").u32_(2147483646).s64_(0).text("Arr!").bytes);
    array_free(&widest);
}

// The view runs from the first element to the end of the data, extra bytes too.
TEST(Array_Of_Data_Entry, ResultViewsEverythingAfterThePrefix) {
    struct Case {
        const char *what;
        size_t trailing;
    } cases[] = {{"exact", 0}, {"extra bytes", 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<u8> image = three_u16();
        patch(image, 0, 0, 4); // the header's own signature is not examined
        image.insert(image.end(), c.trailing, 0xEE);
        Exact_Copy input(image);
        Read_Array_Of_Data_Result r = read_array_of_data_entry(input.view());
        ASSERT_TRUE(r.success);
        EXPECT_EQ(r.element_count, 3);
        EXPECT_EQ(r.element_size, 2);
        EXPECT_EQ(r.result.data, input.bytes.get() + 20);
        EXPECT_EQ(r.result.count, static_cast<s64>(6 + c.trailing));
    }
}

TEST(Array_Of_Data_Entry, RefusesBadAndHostileHeaders) {
    auto neg = [](s64 v) { return static_cast<u64>(v); };
    std::vector<Patch_Case> cases = {
        {"19 bytes", 0, 0, 0, 19, 0, message(ARRAY_OF_DATA_TOO_SMALL)},
        {"second signature", 19, 1, '?', 0, 0, message(ARRAY_OF_DATA_SIGNATURE_MISMATCH)},
        {"one element too many", 8, 8, 4, 0, 0, message(ARRAY_OF_DATA_SIZE_TOO_SMALL, 6, 4, 2)},
        {"elements too wide", 4, 4, 3, 0, 0, message(ARRAY_OF_DATA_SIZE_TOO_SMALL, 6, 3, 3)},
        {"count x size overflows", 8, 8, INT64_MAX, 0, 0,
         message(ARRAY_OF_DATA_SIZE_TOO_SMALL, 6, INT64_MAX, 2)},
        {"negative count", 8, 8, neg(-1), 0, 0, message(ARRAY_OF_DATA_NEGATIVE, -1, 2)},
        {"negative size", 4, 4, neg(-2), 0, 0, message(ARRAY_OF_DATA_NEGATIVE, 3, -2)},
    };
    expect_refusals(three_u16(), cases, [](Array_View<u8> d) {
        Read_Array_Of_Data_Result r = read_array_of_data_entry(d);
        EXPECT_EQ(r.element_count, 0);
        EXPECT_EQ(r.element_size, 0);
        return r;
    });

    // Two negatives multiply to a plausible size; they are refused all the same.
    std::vector<u8> image = three_u16();
    patch(image, 4, neg(-2), 4);
    patch(image, 8, neg(-3), 8);
    Exact_Copy input(image);
    Recording_Logger log;
    EXPECT_FALSE(read_array_of_data_entry(input.view()).success);
    expect_one_error(log, message(ARRAY_OF_DATA_NEGATIVE, -3, -2));
}

// ---- Writer limits ------------------------------------------------------------------------------

// The assertions fire before any entry is looked at, so a view that claims
// more entries than exist is enough.
TEST(Package_Writers_DeathTest, LimitsOfThe32BitFieldsAreAssertions) {
    Table_Entry one_table_entry;
    Entry one_entry;
    u8 byte = 0;
    EXPECT_DEATH(write_table_entry({2147483647, &one_table_entry}),
                 "Assertion failed: Entry count exceeds maximum number of entries \\(2147483647\\)\\.");
    EXPECT_DEATH(write_array_entry({2147483648, &one_entry}),
                 "Assertion failed: Entry count exceeds maximum number of entries \\(2147483647\\)\\.");
    EXPECT_DEATH(write_array_of_data_entry(&byte, 0, 2147483647),
                 "Assertion failed: Element size exceeds maximum size\\.");
}

// ---- Helpers ------------------------------------------------------------------------------------

TEST(Package_Find, ReturnsTheFirstEntryWithExactlyThatName) {
    u8 spare[] = "a";
    Table_Entry table[] = {
        {"a"_s, {}},
        {"ab"_s, {}},
        {make_string(spare, 1), {}},
        {String{0, nullptr}, {}},
    };
    Array_View<Table_Entry> view = {4, table};
    EXPECT_EQ(find(view, "a"_s), &table[0]);
    EXPECT_EQ(find(view, "ab"_s), &table[1]);
    EXPECT_EQ(find(view, String{0, spare}), &table[3]); // two empty names match
    EXPECT_EQ(find(view, "b"_s), nullptr);
    EXPECT_EQ(find(view, "abc"_s), nullptr);
    EXPECT_EQ(find(Array_View<Table_Entry>{}, "a"_s), nullptr);
}

TEST(Package_Helpers, MyStrnlenStopsAtZeroOrN) {
    const u8 bytes[] = {'a', 'b', 'c', 0, 'd'};
    struct Case {
        s64 n, expected;
    } cases[] = {{5, 3}, {3, 3}, {2, 2}, {0, 0}, {-1, 0}};
    for (const Case &c : cases) EXPECT_EQ(my_strnlen(bytes, c.n), c.expected) << c.n;
    EXPECT_EQ(my_strnlen(bytes + 3, 2), 0);
}

TEST(Package_Helpers, GetErrorStringDescribesErrno) {
    for (int code : {ENOENT, ENOSPC, EACCES}) {
        errno = code;
        EXPECT_EQ(to_std(get_error_string()), strerror(code));
    }
}

} // namespace
