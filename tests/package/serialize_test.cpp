// Typed serialization: what each kind of value is written as, what reading
// accepts and refuses (with its messages), member notes and selection, arrays
// and their ownership after reading, and a record read back after its type
// changed.
//
// Inputs are built with the container's writers and outputs checked with its
// readers (both tested on their own), so these tests see entry types, names and
// payload bytes, not the serializer's own idea of them.
#include "package/serialize.h"

#include "capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tessera;
using namespace tessera::test;
using testing::ElementsAre;

namespace {

// ---- Record types under test ----------------------------------------------------------

// Two floats and an alias over both: the alias must be encoded once, through x and y.
struct Vec2 {
    union {
        struct {
            f32 x, y;
        };
        f32 component[2];
    };
};
TESSERA_RECORD(Vec2, TESSERA_NOTES(), TESSERA_MEMBER(x), TESSERA_MEMBER(y), TESSERA_MEMBER(component))

struct Skipped {
    s32 hidden;
    f32 value;
};
TESSERA_RECORD(Skipped, TESSERA_NOTES(), TESSERA_MEMBER(hidden, "skip"), TESSERA_MEMBER(value))

struct One_Way {
    s32 written_only;
    s32 read_only;
    s32 both;
};
TESSERA_RECORD(One_Way, TESSERA_NOTES(), TESSERA_MEMBER(written_only, "no_read"),
               TESSERA_MEMBER(read_only, "no_write"), TESSERA_MEMBER(both))

struct Renamed {
    s32 level;
    s32 plain; // "old_name" without a following note
};
TESSERA_RECORD(Renamed, TESSERA_NOTES(), TESSERA_MEMBER(level, "old_name", "lvl"),
               TESSERA_MEMBER(plain, "old_name"))

struct Pair {
    s32 a, b;
};
TESSERA_RECORD(Pair, TESSERA_NOTES("trivial"), TESSERA_MEMBER(a), TESSERA_MEMBER(b))

struct Plain_Pair {
    s32 a, b;
};
TESSERA_RECORD(Plain_Pair, TESSERA_NOTES(), TESSERA_MEMBER(a), TESSERA_MEMBER(b))

enum class Mood : u16 { CALM = 1, ANGRY = 7 };

struct With_Pointer {
    s32 before;
    const void *pointer;
    s32 after;
};
TESSERA_RECORD(With_Pointer, TESSERA_NOTES(), TESSERA_MEMBER(before), TESSERA_MEMBER(pointer),
               TESSERA_MEMBER(after))

struct Named {
    String name;
    s32 id;
};
TESSERA_RECORD(Named, TESSERA_NOTES(), TESSERA_MEMBER(name), TESSERA_MEMBER(id))

struct Three {
    s32 a;
    s16 b;
    s32 c;
};
TESSERA_RECORD(Three, TESSERA_NOTES(), TESSERA_MEMBER(a), TESSERA_MEMBER(b), TESSERA_MEMBER(c))

struct Flagged {
    bool on;
    u8 pad[3];
    s32 n;
};
TESSERA_RECORD(Flagged, TESSERA_NOTES("trivial"), TESSERA_MEMBER(on), TESSERA_MEMBER(pad), TESSERA_MEMBER(n))

// Noted "trivial" although a String is a pointer: a broken table.
struct Bad_Trivial {
    String text;
};
TESSERA_RECORD(Bad_Trivial, TESSERA_NOTES("trivial"), TESSERA_MEMBER(text))

struct Node;
TESSERA_DECLARE_RECORD(Node)
struct Node {
    s32 value;
    Array<Node> children;
};
TESSERA_DEFINE_RECORD(Node, TESSERA_NOTES(), TESSERA_MEMBER(value), TESSERA_MEMBER(children))

// Two versions of one record: members renamed, removed, added, reordered, one widened.
struct Color3 {
    f32 r, g, b;
};
TESSERA_RECORD(Color3, TESSERA_NOTES("trivial"), TESSERA_MEMBER(r), TESSERA_MEMBER(g), TESSERA_MEMBER(b))

struct Color4 {
    f32 r, g, b, a;
};
TESSERA_RECORD(Color4, TESSERA_NOTES("trivial"), TESSERA_MEMBER(r), TESSERA_MEMBER(g), TESSERA_MEMBER(b),
               TESSERA_MEMBER(a))

struct Player_V1 {
    String name;
    s32 health;
    s32 obsolete;
    Color3 tint;
    f32 position[2];
    Array<s32> scores;
    Array<Named> items;
};
TESSERA_RECORD(Player_V1, TESSERA_NOTES(), TESSERA_MEMBER(name), TESSERA_MEMBER(health),
               TESSERA_MEMBER(obsolete), TESSERA_MEMBER(tint), TESSERA_MEMBER(position),
               TESSERA_MEMBER(scores), TESSERA_MEMBER(items))

struct Player_V2 {
    Array<Named> items;
    Array<s32> scores;
    f32 position[2];
    Color4 tint = {0, 0, 0, 1};
    s32 level = 1;
    String title;
    s32 hit_points;
};
TESSERA_RECORD(Player_V2, TESSERA_NOTES(), TESSERA_MEMBER(items), TESSERA_MEMBER(scores),
               TESSERA_MEMBER(position), TESSERA_MEMBER(tint), TESSERA_MEMBER(level),
               TESSERA_MEMBER(title, "old_name", "name"), TESSERA_MEMBER(hit_points, "old_name", "health"))

// ---- Helpers ---------------------------------------------------------------------------

template <typename... Args>
std::string message(const char *fmt, const Args &...args) {
    return to_std(format(from_c_string(fmt), args...));
}

std::vector<std::string> texts(const Recording_Logger &log) {
    std::vector<std::string> t;
    for (const Logged_Message &m : log.messages) t.push_back(m.text);
    return t;
}

void expect_errors(const Recording_Logger &log, const std::vector<std::string> &expected) {
    EXPECT_EQ(texts(log), expected);
    for (const Logged_Message &m : log.messages) EXPECT_EQ(m.flags, Log_Flags::ERROR) << m.text;
}

std::vector<u8> bytes_of(Array_View<u8> v) {
    return std::vector<u8>(v.data, v.data + v.count);
}

template <typename T>
std::vector<u8> bytes_of_value(const T &v) {
    std::vector<u8> b(sizeof v);
    memcpy(b.data(), &v, sizeof v);
    return b;
}

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
    template <typename T>
    Entry value(const T &v) {
        return data(bytes_of_value(v));
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

// write_entry's result, released with the test.
struct Written {
    Entry entry;
    explicit Written(Any item) : entry(write_entry(item)) {}
    ~Written() { deallocate(entry.data.data); }
    Written(const Written &) = delete;
    Written &operator=(const Written &) = delete;
};

struct Child {
    std::string name;
    Entry_Type type;
    std::vector<u8> bytes;
    bool operator==(const Child &) const = default;
};

void PrintTo(const Child &c, std::ostream *os) {
    *os << c.name << " " << to_std(enum_name(c.type)) << " (" << c.bytes.size() << " bytes)";
}

std::vector<Child> table_children(Entry e) {
    EXPECT_EQ(e.type, Entry_Type::TABLE_OF_ENTRIES);
    Read_Table_Result r = read_table_entry(e.data);
    EXPECT_TRUE(r.success);
    std::vector<Child> out;
    for (const Table_Entry &t : r.result)
        out.push_back({to_std(t.name), t.entry.type, bytes_of(t.entry.data)});
    array_free(&r.result);
    return out;
}

std::vector<Child> array_children(Entry e) {
    EXPECT_EQ(e.type, Entry_Type::ARRAY_OF_ENTRIES);
    Read_Array_Result r = read_array_entry(e.data);
    EXPECT_TRUE(r.success);
    std::vector<Child> out;
    for (const Entry &t : r.result) out.push_back({"", t.type, bytes_of(t.data)});
    array_free(&r.result);
    return out;
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
    Allocator allocator() { return {proc, this}; }
    Counting_Heap() : saved(context().allocator) { context().allocator = allocator(); }
    ~Counting_Heap() { context().allocator = saved; }
};

void free_node(Node *n) {
    for (Node &c : n->children) free_node(&c);
    array_free(&n->children);
}

// ---- Notes, kinds and descriptors ---------------------------------------------------------

TEST(Serialize_Notes, ParseMemberNotes) {
    struct Case {
        std::vector<String> notes;
        Struct_Member_Flags flags;
        const char *replacement;
    } cases[] = {
        {{}, Struct_Member_Flags::NONE, ""},
        {{"skip"_s}, Struct_Member_Flags::SKIP, ""},
        {{"no_write"_s, "no_read"_s}, Struct_Member_Flags::NO_WRITE | Struct_Member_Flags::NO_READ, ""},
        {{"old_name"_s, "hp"_s}, Struct_Member_Flags::OLD_NAME, "hp"},
        {{"old_name"_s}, Struct_Member_Flags::NONE, ""},                   // nothing follows: no effect
        {{"skip"_s, "old_name"_s}, Struct_Member_Flags::SKIP, ""},         // ends the walk
        {{"old_name"_s, "skip"_s}, Struct_Member_Flags::OLD_NAME, "skip"}, // the next note is the name
        {{"old_name"_s, "a"_s, "old_name"_s, "b"_s}, Struct_Member_Flags::OLD_NAME, "b"},
        {{"Skip"_s, "NO_READ"_s, "skip "_s, "trivial"_s}, Struct_Member_Flags::NONE, ""}, // exact words only
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        Struct_Member_Params p = parse_member_notes({static_cast<s64>(c.notes.size()), c.notes.data()});
        EXPECT_EQ(static_cast<u64>(p.flags), static_cast<u64>(c.flags));
        EXPECT_EQ(to_std(p.replacement_name), c.replacement);
    }
}

TEST(Serialize_Notes, StructIsTrivialNeedsTheExactNote) {
    const String trivial[] = {"x"_s, "trivial"_s};
    const String other[] = {"Trivial"_s, "trivial!"_s};
    Type_Descriptor t = {.kind = Type_Kind::STRUCT, .notes = {2, trivial}};
    Type_Descriptor o = {.kind = Type_Kind::STRUCT, .notes = {2, other}};
    Type_Descriptor none = {.kind = Type_Kind::STRUCT};
    EXPECT_TRUE(struct_is_trivial(&t));
    EXPECT_FALSE(struct_is_trivial(&o));
    EXPECT_FALSE(struct_is_trivial(&none));
}

TEST(Serialize_Kinds, TriviallyCopyableKinds) {
    for (Type_Kind k : {Type_Kind::INTEGER, Type_Kind::FLOAT, Type_Kind::BOOL, Type_Kind::ARRAY})
        EXPECT_TRUE(is_trivially_copyable(k)) << to_std(enum_name(k));
    for (Type_Kind k :
         {Type_Kind::VOID, Type_Kind::STRING, Type_Kind::STRUCT, Type_Kind::ENUM, Type_Kind::VARIANT,
          Type_Kind::POINTER, Type_Kind::PROCEDURE, Type_Kind::ANY, Type_Kind::TYPE})
        EXPECT_FALSE(is_trivially_copyable(k)) << to_std(enum_name(k));
}

TEST(Serialize_Kinds, BuiltInDescriptors) {
    struct Case {
        const char *label;
        const Type_Descriptor *type;
        Type_Kind kind;
        s64 size;
    } cases[] = {
        {"s8", type_of<s8>(), Type_Kind::INTEGER, 1},
        {"u64", type_of<u64>(), Type_Kind::INTEGER, 8},
        {"s128", type_of<s128>(), Type_Kind::INTEGER, 16},
        {"f32", type_of<f32>(), Type_Kind::FLOAT, 4},
        {"f64", type_of<const f64>(), Type_Kind::FLOAT, 8},
        {"bool", type_of<bool>(), Type_Kind::BOOL, 1},
        {"enum", type_of<Mood>(), Type_Kind::ENUM, 2},
        {"String", type_of<String>(), Type_Kind::STRING, 16},
        {"pointer", type_of<const void *>(), Type_Kind::POINTER, 8},
        {"procedure", type_of<void (*)(int)>(), Type_Kind::PROCEDURE, 8},
        {"Any", type_of<Any>(), Type_Kind::ANY, 16},
        {"record", type_of<Vector2>(), Type_Kind::STRUCT, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.type->kind, c.kind);
        EXPECT_EQ(c.type->runtime_size, c.size);
    }

    const Type_Descriptor *fixed = type_of<f32[3]>();
    EXPECT_EQ(fixed->kind, Type_Kind::ARRAY);
    EXPECT_EQ(fixed->array_type, Array_Type::FIXED);
    EXPECT_EQ(fixed->array_count, 3);
    EXPECT_EQ(fixed->runtime_size, 12);
    EXPECT_EQ(fixed->element_type, type_of<f32>());
    const Type_Descriptor *view = type_of<Array_View<String>>();
    EXPECT_EQ(view->array_type, Array_Type::VIEW);
    EXPECT_EQ(view->runtime_size, 16);
    EXPECT_EQ(view->element_type, type_of<String>());
    const Type_Descriptor *growable = type_of<Array<Node>>();
    EXPECT_EQ(growable->array_type, Array_Type::RESIZABLE);
    EXPECT_EQ(growable->runtime_size, 40);
    EXPECT_EQ(growable->element_type, type_of<Node>());

    const Type_Descriptor *record = type_of<Three>();
    EXPECT_EQ(to_std(record->name), "Three");
    ASSERT_EQ(record->members.count, 3);
    EXPECT_EQ(to_std(record->members[1].name), "b");
    EXPECT_EQ(record->members[1].type, type_of<s16>());
    EXPECT_EQ(record->members[1].offset_in_bytes, 4);
    EXPECT_EQ(record->members[2].offset_in_bytes, 8);
    const Member_Descriptor &level = type_of<Renamed>()->members[0];
    ASSERT_EQ(level.notes.count, 2);
    EXPECT_EQ(to_std(level.notes[1]), "lvl");
}

TEST(Serialize_Kinds, VariantsResolveToTheirBaseAndEncodeAsIt) {
    Type_Descriptor meters = {
        .kind = Type_Kind::VARIANT, .runtime_size = 4, .name = "Meters"_s, .variant_of = type_of<s32>()};
    Type_Descriptor height = {
        .kind = Type_Kind::VARIANT, .runtime_size = 4, .name = "Height"_s, .variant_of = &meters};
    EXPECT_EQ(resolve_variant(&height), type_of<s32>());
    EXPECT_EQ(resolve_variant(type_of<s32>()), type_of<s32>());

    s32 v = 0x01020304;
    Written w({&height, &v});
    EXPECT_EQ(w.entry.type, Entry_Type::DATA);
    EXPECT_EQ(bytes_of(w.entry.data), bytes_of_value(v));
    s32 back = 0;
    ASSERT_TRUE(read_entry({&height, &back}, &w.entry));
    EXPECT_EQ(back, v);
}

// ---- Member selection -----------------------------------------------------------------------

TEST(Serialize_Selection, MembersAreTakenOnceByStorageFlagsAndNotes) {
    const String skip[] = {"skip"_s};
    const String no_write[] = {"no_write"_s};
    const String no_read[] = {"no_read"_s};
    Type_Descriptor empty = {.kind = Type_Kind::STRUCT, .runtime_size = 0};
    const Member_Descriptor members[] = {
        {"first"_s, type_of<s32>(), 0},
        {"alias_of_first"_s, type_of<u16>(), 2}, // inside first
        {"constant"_s, type_of<s32>(), 4, Member_Flags::CONSTANT},
        {"skipped"_s, type_of<s64>(), 8, Member_Flags::NONE, {1, skip}}, // still takes 8..16
        {"inside_skipped"_s, type_of<s32>(), 12},
        {"imported"_s, type_of<s32>(), 16, Member_Flags::IMPORTED},
        {"nothing"_s, &empty, 16},
        {"not_written"_s, type_of<s32>(), 16, Member_Flags::NONE, {1, no_write}},
        {"not_read"_s, type_of<s32>(), 20, Member_Flags::NONE, {1, no_read}},
        {"last"_s, type_of<s32>(), 24},
    };
    Type_Descriptor record = {
        .kind = Type_Kind::STRUCT, .runtime_size = 28, .name = "Mixed"_s, .members = {10, members}};

    auto names = [&](Member_Use use) {
        std::vector<std::string> out;
        Member_Selection s = select_members(&record, use);
        Selected_Member m;
        while (next_member(&s, &m)) out.push_back(to_std(m.member->name));
        return out;
    };
    EXPECT_THAT(names(Member_Use::WRITE), ElementsAre("first", "not_read", "last"));
    EXPECT_THAT(names(Member_Use::READ), ElementsAre("first", "not_written", "last"));

    s32 storage[7] = {1, 2, 3, 4, 5, 6, 7};
    Written w({&record, storage});
    std::vector<std::string> written;
    for (const Child &c : table_children(w.entry)) written.push_back(c.name);
    EXPECT_THAT(written, ElementsAre("first", "not_read", "last"));
}

TEST(Serialize_Selection, MemberOutsideItsRecordIsABrokenTable) {
    const Member_Descriptor members[] = {{"wide"_s, type_of<s64>(), 4}};
    Type_Descriptor record = {
        .kind = Type_Kind::STRUCT, .runtime_size = 8, .name = "Short"_s, .members = {1, members}};
    u8 storage[8] = {};
    EXPECT_DEATH(write_entry({&record, storage}), "Member wide of Short lies outside the record");
}

// ---- Records ------------------------------------------------------------------------------------

TEST(Serialize_Records, AliasIsEncodedOnceThroughTheFirstMembers) {
    Vec2 v;
    v.x = 1.0f;
    v.y = -2.5f;
    Written w(make_any(&v));
    EXPECT_THAT(table_children(w.entry), ElementsAre(Child{"x", Entry_Type::DATA, bytes_of_value(1.0f)},
                                                     Child{"y", Entry_Type::DATA, bytes_of_value(-2.5f)}));
    // 24 + 2 × 40 + names (4 + 2 + 2) + data (4 + 8).
    EXPECT_EQ(w.entry.data.count, 124);
    EXPECT_EQ(w.entry.flags, 0);

    Vec2 back = {};
    ASSERT_TRUE(read_entry(make_any(&back), &w.entry));
    EXPECT_EQ(back.x, 1.0f);
    EXPECT_EQ(back.y, -2.5f);
}

TEST(Serialize_Records, EngineVectorsAreTablesOfTheirComponents) {
    Vector3 v = {1, 2, 3};
    Written w(make_any(&v));
    std::vector<std::string> names;
    for (const Child &c : table_children(w.entry)) names.push_back(c.name);
    EXPECT_THAT(names, ElementsAre("x", "y", "z"));
    Vector3 back = {};
    ASSERT_TRUE(read_entry(make_any(&back), &w.entry));
    EXPECT_EQ(bytes_of_value(back), bytes_of_value(v));
}

TEST(Serialize_Records, SkippedMemberIsNeitherWrittenNorRead) {
    Skipped s = {42, 0.5f};
    Written w(make_any(&s));
    EXPECT_THAT(table_children(w.entry), ElementsAre(Child{"value", Entry_Type::DATA, bytes_of_value(0.5f)}));

    Entries e;
    Entry stored = e.table({{"hidden", e.value<s32>(9)}, {"value", e.value(2.0f)}});
    Skipped back = {7, 0};
    ASSERT_TRUE(read_entry(make_any(&back), &stored));
    EXPECT_EQ(back.hidden, 7);
    EXPECT_EQ(back.value, 2.0f);
}

TEST(Serialize_Records, NoWriteAndNoReadWorkOneWayEach) {
    One_Way v = {1, 2, 3};
    Written w(make_any(&v));
    std::vector<std::string> names;
    for (const Child &c : table_children(w.entry)) names.push_back(c.name);
    EXPECT_THAT(names, ElementsAre("written_only", "both"));

    Entries e;
    Entry stored = e.table(
        {{"written_only", e.value<s32>(10)}, {"read_only", e.value<s32>(20)}, {"both", e.value<s32>(30)}});
    One_Way back = {-1, -2, -3};
    ASSERT_TRUE(read_entry(make_any(&back), &stored));
    EXPECT_EQ(back.written_only, -1);
    EXPECT_EQ(back.read_only, 20);
    EXPECT_EQ(back.both, 30);
}

TEST(Serialize_Records, OldNameIsTheOnlyNameRead) {
    Renamed v = {5, 6};
    Written w(make_any(&v));
    std::vector<std::string> names;
    for (const Child &c : table_children(w.entry)) names.push_back(c.name);
    EXPECT_THAT(names, ElementsAre("level", "plain")); // written under their own names

    Entries e;
    struct Case {
        const char *label;
        Entry stored;
        s32 level, plain;
    } cases[] = {
        {"old name only", e.table({{"lvl", e.value<s32>(11)}}), 11, -2},
        {"own name only", e.table({{"level", e.value<s32>(12)}, {"plain", e.value<s32>(13)}}), -1, 13},
        {"both", e.table({{"level", e.value<s32>(14)}, {"lvl", e.value<s32>(15)}}), 15, -2},
        // A lone "old_name" has no effect: the member is read under its own name.
        {"lone old_name", e.table({{"old_name", e.value<s32>(16)}, {"plain", e.value<s32>(17)}}), -1, 17},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Renamed back = {-1, -2};
        ASSERT_TRUE(read_entry(make_any(&back), &c.stored));
        EXPECT_EQ(back.level, c.level);
        EXPECT_EQ(back.plain, c.plain);
    }
}

TEST(Serialize_Records, TrivialRecordIsItsBytes) {
    Pair p = {0x11223344, -5};
    Written w(make_any(&p));
    EXPECT_EQ(w.entry.type, Entry_Type::DATA);
    EXPECT_EQ(bytes_of(w.entry.data), bytes_of_value(p));
    // The caller owns what write_entry returns, so it is not the value itself.
    EXPECT_NE(static_cast<void *>(w.entry.data.data), static_cast<void *>(&p));

    Entries e;
    Recording_Logger log;
    Pair back = {1, 2};
    Entry shorter = e.value<s32>(77);
    ASSERT_TRUE(read_entry(make_any(&back), &shorter));
    EXPECT_EQ(back.a, 77);
    EXPECT_EQ(back.b, 2); // a shorter payload leaves the rest

    Entry longer = e.data(std::vector<u8>(12, 0xAB));
    EXPECT_FALSE(read_entry(make_any(&back), &longer));
    EXPECT_EQ(back.a, 77);
    EXPECT_EQ(back.b, 2);
    expect_errors(log, {READ_TRIVIAL_STRUCT_TOO_BIG});

    // Trivial records read from tables member by member, too.
    Entry table = e.table({{"b", e.value<s32>(9)}});
    log.messages.clear();
    ASSERT_TRUE(read_entry(make_any(&back), &table));
    EXPECT_EQ(back.a, 77);
    EXPECT_EQ(back.b, 9);
    EXPECT_TRUE(log.messages.empty());
}

TEST(Serialize_Records, TrivialRecordHoldingPointersIsABrokenTable) {
    Bad_Trivial b = {"text"_s};
    EXPECT_DEATH(write_entry(make_any(&b)), "Record Bad_Trivial is noted \"trivial\" but holds pointers");
    Entries e;
    Entry raw = e.data(std::vector<u8>(16, 0x41));
    EXPECT_DEATH((void)read_entry(make_any(&b), &raw), "Bad_Trivial is noted \"trivial\" but holds pointers");
}

TEST(Serialize_Records, PointerIsAnEmptyEntryAndNeverRead) {
    int target = 0;
    With_Pointer v = {1, &target, 2};
    Written w(make_any(&v));
    EXPECT_THAT(table_children(w.entry), ElementsAre(Child{"before", Entry_Type::DATA, bytes_of_value(1)},
                                                     Child{"pointer", Entry_Type::DATA, {}},
                                                     Child{"after", Entry_Type::DATA, bytes_of_value(2)}));

    Entries e;
    Entry stored = e.table({{"pointer", e.value<u64>(0xdeadbeef)}, {"after", e.value<s32>(3)}});
    With_Pointer back = {0, &target, 0};
    ASSERT_TRUE(read_entry(make_any(&back), &stored));
    EXPECT_EQ(back.pointer, &target);
    EXPECT_EQ(back.after, 3);
}

TEST(Serialize_Records, StructNeedsATable) {
    Entries e;
    Plain_Pair back = {1, 2};
    struct Case {
        Entry entry;
        const char *type;
    } cases[] = {
        {e.string("ab"), "STRING"},
        {e.value<u64>(5), "DATA"}, // DATA is only for trivial records
        {e.array({}), "ARRAY_OF_ENTRIES"},
    };
    for (const Case &c : cases) {
        Recording_Logger log;
        EXPECT_FALSE(read_entry(make_any(&back), &c.entry));
        expect_errors(log, {message(READ_STRUCT_EXPECTED_TABLE, c.type)});
    }
    EXPECT_EQ(back.a, 1);
    EXPECT_EQ(back.b, 2);
}

TEST(Serialize_Records, UndecodableTableNamesTheRecordType) {
    Entries e;
    Entry table = e.table({{"a", e.value<s32>(1)}});
    Entry cut = {{table.data.count - 1, table.data.data}, Entry_Type::TABLE_OF_ENTRIES, 0};
    Plain_Pair back = {1, 2};
    Recording_Logger log;
    EXPECT_FALSE(read_entry(make_any(&back), &cut));
    expect_errors(log, {ENTRY_DATA_TOO_SMALL, "- Plain_Pair"});
    EXPECT_EQ(back.a, 1);
}

// A failing member makes the read false, but every other member is still read.
TEST(Serialize_Records, FailingMemberFailsTheRecordAfterTheWalk) {
    Entries e;
    Entry stored = e.table({{"a", e.value<s32>(1)}, {"b", e.value<s32>(2)}, {"c", e.value<s32>(3)}});
    Three back = {-1, -2, -3};
    Recording_Logger log;
    EXPECT_FALSE(read_entry(make_any(&back), &stored));
    EXPECT_EQ(back.a, 1);
    EXPECT_EQ(back.b, -2);
    EXPECT_EQ(back.c, 3);
    expect_errors(log, {message(READ_SCALAR_SIZE_MISMATCH, "INTEGER", 2, 4)});
}

// ---- Scalars and strings ---------------------------------------------------------------------

TEST(Serialize_Scalars, AnyEntryTypeOfTheExactSizeIsRead) {
    Entries e;
    for (Entry_Type type : {Entry_Type::DATA, Entry_Type::STRING, Entry_Type::TABLE_OF_ENTRIES,
                            Entry_Type::ARRAY_OF_ENTRIES, Entry_Type::ARRAY_OF_DATA}) {
        SCOPED_TRACE(to_std(enum_name(type)));
        Entry four = e.data({0x78, 0x56, 0x34, 0x12}, type);
        s32 v = 0;
        ASSERT_TRUE(read_entry(make_any(&v), &four));
        EXPECT_EQ(v, 0x12345678);
    }

    struct Case {
        const char *label;
        Any item;
        s64 payload;
        const char *kind;
        s64 size;
    };
    s32 i = 5;
    f64 f = 1.5;
    bool b = true;
    Mood m = Mood::CALM;
    Case cases[] = {
        {"s32 from 8 bytes", make_any(&i), 8, "INTEGER", 4},
        {"s32 from 0 bytes", make_any(&i), 0, "INTEGER", 4},
        {"f64 from 4 bytes", make_any(&f), 4, "FLOAT", 8},
        {"bool from 2 bytes", make_any(&b), 2, "BOOL", 1},
        {"enum from 4 bytes", make_any(&m), 4, "ENUM", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Entry entry = e.data(std::vector<u8>(static_cast<size_t>(c.payload), 0xEE));
        Recording_Logger log;
        EXPECT_FALSE(read_entry(c.item, &entry));
        expect_errors(log, {message(READ_SCALAR_SIZE_MISMATCH, c.kind, c.size, c.payload)});
    }
    EXPECT_EQ(i, 5);
    EXPECT_EQ(f, 1.5);
    EXPECT_EQ(b, true);
    EXPECT_EQ(m, Mood::CALM);
}

TEST(Serialize_Scalars, ScalarsRoundTripAsTheirBytes) {
    s128 big = (static_cast<s128>(-3) << 100) + 7;
    Mood mood = Mood::ANGRY;
    f32 f = -0.0f;
    u8 small = 0xFE;
    for (Any item : {make_any(&big), make_any(&mood), make_any(&f), make_any(&small)}) {
        Written w(item);
        EXPECT_EQ(w.entry.type, Entry_Type::DATA);
        ASSERT_EQ(w.entry.data.count, item.type->runtime_size);
        EXPECT_EQ(memcmp(w.entry.data.data, item.value_pointer, w.entry.data.count), 0);
    }
}

// A bool that is neither 0 nor 1 is undefined to load: raw bytes are normalised.
TEST(Serialize_Scalars, BoolsFromRawBytesAreZeroOrOne) {
    Entries e;
    Entry two = e.data({2});
    bool b = false;
    ASSERT_TRUE(read_entry(make_any(&b), &two));
    u8 stored;
    memcpy(&stored, &b, 1);
    EXPECT_EQ(stored, 1);

    u8 raw[] = {0, 5, 1, 0x80};
    Entry bools = e.array_of_data(raw, 4, 1);
    Array<bool> flags;
    ASSERT_TRUE(read_entry(make_any(&flags), &bools));
    ASSERT_EQ(flags.count, 4);
    std::vector<u8> got(4);
    memcpy(got.data(), flags.data, 4);
    EXPECT_THAT(got, ElementsAre(0, 1, 1, 1));
    array_free(&flags);

    Flagged f = {};
    Entry record = e.data({9, 0, 0, 0, 3, 0, 0, 0});
    ASSERT_TRUE(read_entry(make_any(&f), &record));
    memcpy(&stored, &f.on, 1);
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(f.n, 3);
}

TEST(Serialize_Strings, StringIsAViewIntoTheStoredBytes) {
    Named n = {"hello"_s, 3};
    Written w(make_any(&n));
    std::vector<u8> image = bytes_of(w.entry.data);
    Entry stored = {{static_cast<s64>(image.size()), image.data()}, Entry_Type::TABLE_OF_ENTRIES, 0};

    Named back = {};
    ASSERT_TRUE(read_entry(make_any(&back), &stored));
    EXPECT_EQ(to_std(back.name), "hello");
    EXPECT_EQ(back.id, 3);
    ASSERT_GE(back.name.data, image.data());
    ASSERT_LT(back.name.data, image.data() + image.size());
    back.name.data[0] = 'j'; // through the view, into the image
    EXPECT_EQ(to_std(back.name), "jello");
    image[static_cast<size_t>(back.name.data - image.data()) + 4] = 'y';
    EXPECT_EQ(to_std(back.name), "jelly");
}

TEST(Serialize_Strings, StringNeedsAStringEntry) {
    Entries e;
    String s = "kept"_s;
    Entry data = e.value<u64>(1);
    Recording_Logger log;
    EXPECT_FALSE(read_entry(make_any(&s), &data));
    expect_errors(log, {message(READ_EXPECTED_STRING, "DATA")});

    // A string entry that does not decode: the decoder's message only.
    Entry broken = e.data(std::vector<u8>(16, 0), Entry_Type::STRING);
    log.messages.clear();
    EXPECT_FALSE(read_entry(make_any(&s), &broken));
    expect_errors(log, {STRING_ENTRY_SIGNATURE_MISMATCH});
    EXPECT_EQ(to_std(s), "kept");
}

// ---- Arrays ----------------------------------------------------------------------------------------

TEST(Serialize_Arrays, FixedArrayTakesWhatFitsAndKeepsTheRest) {
    const f32 six[] = {1, 2, 3, 4, 5, 6};
    const f32 two[] = {10, 20};
    Entries e;
    struct Case {
        const char *label;
        Entry entry;
        bool truncated;
        std::vector<f32> expected;
    } cases[] = {
        {"6 as data", e.array_of_data(six, 6, 4), true, {1, 2, 3, 4}},
        {"2 as data", e.array_of_data(two, 2, 4), false, {10, 20, -3, -4}},
        {"6 as entries",
         e.array({e.value(1.0f), e.value(2.0f), e.value(3.0f), e.value(4.0f), e.value(5.0f), e.value(6.0f)}),
         true,
         {1, 2, 3, 4}},
        {"2 as entries", e.array({e.value(10.0f), e.value(20.0f)}), false, {10, 20, -3, -4}},
        {"none", e.array({}), false, {-1, -2, -3, -4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        f32 v[4] = {-1, -2, -3, -4};
        Recording_Logger log;
        ASSERT_TRUE(read_entry(make_any(&v), &c.entry));
        EXPECT_EQ(std::vector<f32>(v, v + 4), c.expected);
        if (c.truncated) {
            expect_errors(log, {READ_FIXED_ARRAY_TRUNCATED});
        } else {
            EXPECT_TRUE(log.messages.empty());
        }
    }
}

TEST(Serialize_Arrays, EmptyArraysAreEmptyArraysOfEntries) {
    const std::vector<u8> empty = {'A', 'r', 'r', '!', 0, 0, 0,   0,   4,   0,
                                   0,   0,   0,   0,   0, 0, 'D', 'a', 't', '!'};
    s32 storage[3] = {1, 2, 3};
    Array_View<s32> none;
    Array_View<s32> null_with_count = {3, nullptr};
    Array<s32> growable;
    for (Any item : {make_any(&none), make_any(&null_with_count), make_any(&growable)}) {
        Written w(item);
        EXPECT_EQ(w.entry.type, Entry_Type::ARRAY_OF_ENTRIES);
        EXPECT_EQ(bytes_of(w.entry.data), empty);
    }

    Written w(make_any(&none));
    Array_View<s32> back = {3, storage};
    ASSERT_TRUE(read_entry(make_any(&back), &w.entry));
    EXPECT_EQ(back.count, 0);
    EXPECT_EQ(back.data, nullptr);
    EXPECT_EQ(storage[0], 1); // a view's old block is not its to touch
}

TEST(Serialize_Arrays, ElementKindChoosesTheEncoding) {
    s32 ints[] = {1, -2, 3};
    Mood moods[] = {Mood::CALM, Mood::ANGRY};
    Pair pairs[] = {{1, 2}, {3, 4}};
    Plain_Pair plain[] = {{5, 6}};
    String words[] = {"ab"_s, ""_s};
    s32 grid[2][3] = {{1, 2, 3}, {4, 5, 6}};

    Array_View<s32> int_view = {3, ints};
    Written w_ints(make_any(&int_view));
    EXPECT_EQ(w_ints.entry.type, Entry_Type::ARRAY_OF_DATA);
    Read_Array_Of_Data_Result r = read_array_of_data_entry(w_ints.entry.data);
    EXPECT_EQ(r.element_count, 3);
    EXPECT_EQ(r.element_size, 4);
    EXPECT_EQ(memcmp(r.result.data, ints, sizeof ints), 0);

    Written w_grid(make_any(&grid));
    EXPECT_EQ(w_grid.entry.type, Entry_Type::ARRAY_OF_DATA);
    r = read_array_of_data_entry(w_grid.entry.data);
    EXPECT_EQ(r.element_count, 2);
    EXPECT_EQ(r.element_size, 12);

    Array_View<Pair> pair_view = {2, pairs};
    Written w_pairs(make_any(&pair_view));
    EXPECT_EQ(w_pairs.entry.type, Entry_Type::ARRAY_OF_DATA);
    EXPECT_EQ(read_array_of_data_entry(w_pairs.entry.data).element_size, 8);

    // Enums are one DATA entry per element.
    Array_View<Mood> mood_view = {2, moods};
    Written w_moods(make_any(&mood_view));
    EXPECT_THAT(array_children(w_moods.entry),
                ElementsAre(Child{"", Entry_Type::DATA, {1, 0}}, Child{"", Entry_Type::DATA, {7, 0}}));

    Array_View<Plain_Pair> plain_view = {1, plain};
    Written w_plain(make_any(&plain_view));
    std::vector<Child> plain_children = array_children(w_plain.entry);
    ASSERT_EQ(plain_children.size(), 1u);
    EXPECT_EQ(plain_children[0].type, Entry_Type::TABLE_OF_ENTRIES);

    Array_View<String> word_view = {2, words};
    Written w_words(make_any(&word_view));
    std::vector<Child> word_children = array_children(w_words.entry);
    ASSERT_EQ(word_children.size(), 2u);
    EXPECT_EQ(word_children[0].type, Entry_Type::STRING);
    EXPECT_EQ(word_children[1].bytes.size(), 17u);
}

// The raw bytes of views and growable arrays are pointers: such arrays are
// stored element by element and never read from raw bytes.
TEST(Serialize_Arrays, ArraysOfArraysAreStoredElementByElement) {
    s32 first[] = {1, 2};
    s32 second[] = {3};
    Array_View<s32> rows[] = {{2, first}, {1, second}};
    Array_View<Array_View<s32>> table = {2, rows};
    Written w(make_any(&table));
    std::vector<Child> children = array_children(w.entry);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].type, Entry_Type::ARRAY_OF_DATA);
    EXPECT_EQ(children[1].type, Entry_Type::ARRAY_OF_DATA);

    Array<Array<s32>> back;
    ASSERT_TRUE(read_entry(make_any(&back), &w.entry));
    ASSERT_EQ(back.count, 2);
    EXPECT_THAT(std::vector<s32>(back[0].begin(), back[0].end()), ElementsAre(1, 2));
    EXPECT_THAT(std::vector<s32>(back[1].begin(), back[1].end()), ElementsAre(3));
    for (Array<s32> &a : back) array_free(&a);
    array_free(&back);

    Entries e;
    u64 fake[] = {1, 0x1000};
    Entry raw = e.array_of_data(fake, 1, 16);
    Array<Array_View<s32>> refused;
    Recording_Logger log;
    EXPECT_FALSE(read_entry(make_any(&refused), &raw));
    expect_errors(log, {message(READ_ARRAY_EXPECTED_ENTRIES, "ARRAY_OF_DATA")});
    EXPECT_EQ(refused.count, 0);
}

TEST(Serialize_Arrays, RefusedArrayEntries) {
    Entries e;
    s16 shorts[] = {1, 2};
    struct Case {
        const char *label;
        Entry entry;
        std::vector<std::string> messages;
    } cases[] = {
        {"string", e.string("x"), {message(READ_ARRAY_EXPECTED_ENTRIES, "STRING")}},
        {"data", e.value<s32>(1), {message(READ_ARRAY_EXPECTED_ENTRIES, "DATA")}},
        {"element size", e.array_of_data(shorts, 2, 2), {READ_ARRAY_ELEMENT_SIZE_MISMATCH}},
        {"undecodable data",
         e.data(std::vector<u8>(19, 0), Entry_Type::ARRAY_OF_DATA),
         {ARRAY_OF_DATA_TOO_SMALL}},
        {"undecodable entries",
         e.data(std::vector<u8>(15, 0), Entry_Type::ARRAY_OF_ENTRIES),
         {ARRAY_HEADER_TOO_SMALL}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        s32 storage[] = {7};
        Array<s32> v;
        v.data = storage; // untouched on failure, so never released
        v.count = 1;
        Recording_Logger log;
        EXPECT_FALSE(read_entry(make_any(&v), &c.entry));
        expect_errors(log, c.messages);
        EXPECT_EQ(v.count, 1);
        EXPECT_EQ(v.data, storage);
    }
}

// Elements start as the destination's current elements (zero beyond them), so
// members an entry does not hold keep their values and no garbage gets in.
TEST(Serialize_Arrays, ElementsKeepWhatTheirEntriesDoNotHold) {
    Entries e;
    Entry only_b = e.array({e.table({{"b", e.value<s32>(10)}}), e.table({{"b", e.value<s32>(11)}}),
                            e.table({{"b", e.value<s32>(12)}})});

    Counting_Heap heap;
    Array<Plain_Pair> growable;
    array_add(&growable, Plain_Pair{1, 2});
    array_add(&growable, Plain_Pair{3, 4});
    ASSERT_TRUE(read_entry(make_any(&growable), &only_b));
    ASSERT_EQ(growable.count, 3);
    EXPECT_EQ(bytes_of_value(growable[0]), bytes_of_value(Plain_Pair{1, 10}));
    EXPECT_EQ(bytes_of_value(growable[1]), bytes_of_value(Plain_Pair{3, 11}));
    EXPECT_EQ(bytes_of_value(growable[2]), bytes_of_value(Plain_Pair{0, 12}));
    EXPECT_EQ(heap.live, 1); // the previous block was released
    array_free(&growable);

    Plain_Pair fixed[2] = {{5, 6}, {7, 8}};
    Recording_Logger log;
    ASSERT_TRUE(read_entry(make_any(&fixed), &only_b)); // three entries for two elements
    expect_errors(log, {READ_FIXED_ARRAY_TRUNCATED});
    EXPECT_EQ(bytes_of_value(fixed[0]), bytes_of_value(Plain_Pair{5, 10}));
    EXPECT_EQ(bytes_of_value(fixed[1]), bytes_of_value(Plain_Pair{7, 11}));
    EXPECT_EQ(heap.live, 0);
}

TEST(Serialize_Arrays, FailingElementFailsTheArrayAfterTheWalk) {
    Entries e;
    Entry mixed = e.array({e.value<s32>(1), e.value<s16>(2), e.value<s32>(3)});
    Array<s32> v;
    Recording_Logger log;
    EXPECT_FALSE(read_entry(make_any(&v), &mixed));
    ASSERT_EQ(v.count, 3);
    EXPECT_THAT(std::vector<s32>(v.begin(), v.end()), ElementsAre(1, 0, 3));
    expect_errors(log, {message(READ_SCALAR_SIZE_MISMATCH, "INTEGER", 4, 2)});
    array_free(&v);
}

TEST(Serialize_Arrays, ReadArrayOwnsItsBlockAndCanGrow) {
    Entries e;
    s32 values[] = {4, 5, 6};
    Entry stored = e.array_of_data(values, 3, 4);

    Counting_Heap heap;
    Array<s32> a;
    array_add(&a, 99);
    ASSERT_TRUE(read_entry(make_any(&a), &stored));
    EXPECT_THAT(std::vector<s32>(a.begin(), a.end()), ElementsAre(4, 5, 6));
    EXPECT_EQ(a.allocated, 3);
    EXPECT_EQ(a.allocator.proc, heap.allocator().proc);
    EXPECT_EQ(a.allocator.data, heap.allocator().data);
    EXPECT_NE(static_cast<void *>(a.data), static_cast<void *>(stored.data.data)); // a copy, not a view
    EXPECT_EQ(heap.live, 1);
    array_add(&a, 7);
    EXPECT_THAT(std::vector<s32>(a.begin(), a.end()), ElementsAre(4, 5, 6, 7));
    array_free(&a);
    EXPECT_EQ(heap.live, 0);

    // A view gets a new block too, from the context's allocator; its old one is left.
    s32 old_block[] = {1};
    Array_View<s32> view = {1, old_block};
    ASSERT_TRUE(read_entry(make_any(&view), &stored));
    EXPECT_THAT(std::vector<s32>(view.begin(), view.end()), ElementsAre(4, 5, 6));
    EXPECT_EQ(old_block[0], 1);
    EXPECT_EQ(heap.live, 1);
    deallocate(view.data);
}

// write_entry keeps only its result: every child's buffer is released once copied.
TEST(Serialize_Arrays, WritingKeepsOnlyTheResult) {
    Named names[] = {{"a"_s, 1}, {"b"_s, 2}};
    Player_V1 p = {};
    p.name = "n"_s;
    p.items = {2, names, 2, {}};
    Counting_Heap heap;
    Entry e = write_entry(make_any(&p));
    EXPECT_EQ(heap.live, 1);
    deallocate(e.data.data);
    EXPECT_EQ(heap.live, 0);
}

// ---- Depth -------------------------------------------------------------------------------------------

TEST(Serialize_Depth, RecursiveRecordsReadUpToTheDepthLimit) {
    // A chain of nodes: each level is two reads (the record and its array).
    auto chain = [](s32 length) {
        Node root = {0, {}};
        Node *at = &root;
        for (s32 i = 1; i < length; i++) {
            array_add(&at->children, Node{i, {}});
            at = &at->children[0];
        }
        return root;
    };
    struct Case {
        s32 length;
        bool fits;
    } cases[] = {{READ_ENTRY_MAX_DEPTH / 2, true}, {READ_ENTRY_MAX_DEPTH / 2 + 1, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        Node root = chain(c.length);
        Written w(make_any(&root));
        free_node(&root);

        Node back = {};
        Recording_Logger log;
        EXPECT_EQ(read_entry(make_any(&back), &w.entry), c.fits);
        std::vector<s32> values;
        for (Node *n = &back;; n = &n->children[0]) {
            values.push_back(n->value);
            if (n->children.count == 0) break;
        }
        ASSERT_EQ(values.size(), static_cast<size_t>(c.length));
        for (s32 i = 0; i < c.length - 1; i++) ASSERT_EQ(values[i], i);
        if (c.fits) {
            EXPECT_EQ(values.back(), c.length - 1);
            EXPECT_TRUE(log.messages.empty());
        } else {
            // The node past the limit is not read: it stays zero.
            EXPECT_EQ(values.back(), 0);
            expect_errors(log, {message(READ_TOO_DEEP, READ_ENTRY_MAX_DEPTH)});
        }
        free_node(&back);
    }
}

// ---- Schema evolution ----------------------------------------------------------------------------------

// Written by the first version of a record, read into the next: "name" and
// "health" renamed (old_name), "obsolete" removed, "level" added, the members
// reordered and the tint widened from three channels to four.
TEST(Serialize_Evolution, RecordWrittenByOneVersionReadsIntoTheNext) {
    s32 scores[] = {10, 20, 30};
    Named items[] = {{"sword"_s, 1}, {"shield"_s, 2}};
    Player_V1 old = {};
    old.name = "Ada"_s;
    old.health = 75;
    old.obsolete = 123;
    old.tint = {0.25f, 0.5f, 0.75f};
    old.position[0] = 3;
    old.position[1] = -4;
    old.scores = {3, scores, 3, {}};
    old.items = {2, items, 2, {}};

    std::string path = testing::TempDir() + "tessera_serialize_" + std::to_string(getpid()) + "_player.pkg";
    Package package;
    package.name = "player"_s;
    package.base_entry = write_entry(make_any(&old));
    ASSERT_TRUE(write(&package, string_of(path)));
    deallocate(package.base_entry.data.data);

    Package stored;
    ASSERT_TRUE(read(string_of(path), &stored));
    unlink(path.c_str());
    Player_V2 now;
    Recording_Logger log;
    ASSERT_TRUE(read_entry(make_any(&now), &stored.base_entry));
    EXPECT_TRUE(log.messages.empty());

    EXPECT_EQ(to_std(now.title), "Ada");
    EXPECT_EQ(now.hit_points, 75);
    EXPECT_EQ(now.level, 1); // not stored: keeps its default
    EXPECT_EQ(bytes_of_value(now.tint), bytes_of_value(Color4{0.25f, 0.5f, 0.75f, 1}));
    EXPECT_EQ(now.position[0], 3);
    EXPECT_EQ(now.position[1], -4);
    EXPECT_THAT(std::vector<s32>(now.scores.begin(), now.scores.end()), ElementsAre(10, 20, 30));
    ASSERT_EQ(now.items.count, 2);
    EXPECT_EQ(to_std(now.items[0].name), "sword");
    EXPECT_EQ(now.items[1].id, 2);
    // Strings view the package image.
    EXPECT_GE(now.title.data, stored.data.data);
    EXPECT_LT(now.title.data, stored.data.data + stored.data.count);

    array_free(&now.scores);
    array_free(&now.items);
    deallocate(stored.data.data);
}

} // namespace
