// Typed serialization: any value to an entry tree and back, driven by a
// run-time description of its type.
//
// Nothing here is written per type. write_entry and read_entry walk a
// Type_Descriptor (kind, size, record members with names, offsets and notes,
// array element types) and recurse through records and arrays. Records become
// tables keyed by member name, so a value reads back after members were added,
// removed, reordered or renamed (note "old_name"). Scalars are their raw bytes.
//
//     Any item = make_any(&settings);                // descriptor from type_of<Settings>()
//     Package package = {.base_entry = write_entry(item)};
//     write(&package, "settings.pkg"_s);
//     deallocate(package.base_entry.data.data);
//     ...
//     if (read("settings.pkg"_s, &package) && read_entry(item, &package.base_entry)) ...
//
// Descriptors: type_of<T>() gives the descriptor of integers, floats, bool,
// enums, String, Array_View<T>, Array<T>, T[N] and pointers. A record type gets
// its table once, next to the type, with TESSERA_RECORD (see the bottom of this
// file). Descriptors are constants: no registration, no start-up work.
//
// Encoding by kind (variants resolved first):
//   INTEGER FLOAT BOOL ENUM   DATA, the value's runtime_size bytes
//   STRING                    STRING
//   STRUCT noted "trivial"    DATA, the record's bytes
//   other STRUCT              TABLE_OF_ENTRIES, one entry per selected member
//   ARRAY of plain data       ARRAY_OF_DATA (integers, floats, bools, trivial
//                             records, fixed arrays of those)
//   other ARRAY               ARRAY_OF_ENTRIES, one entry per element; an empty
//                             array (or a view with a null pointer) has none
//   anything else             DATA with an empty payload; never read
//
// Costs and ownership:
//   - write_entry builds bottom-up: each level allocates its payload from the
//     context's allocator, copies its children's payloads into it and releases
//     them, so only the result stays allocated (the caller's, release it with
//     deallocate(entry.data.data)). Bytes d levels deep are copied d times.
//     Arrays of plain data are one block copy.
//   - read_entry copies scalars into the value. Strings become views into the
//     entry's bytes (the package image must outlive the value). Views and
//     growable arrays get a new element block from the context's allocator;
//     a growable array's previous block is released to its own allocator and
//     its capacity and allocator become the new block's. A view's previous
//     block is left alone (the view does not own it), but its elements are
//     moved into the new block: growable arrays inside them are replaced there.
//     Table and array lists decoded on the way are released before returning.
//
// Bad input: every mismatch between the value's type and the stored entry is
// logged once (the constants below) and makes read_entry return false. A
// failing member or element does not stop the walk: the others are still read,
// and the enclosing read_entry returns false so the caller knows the value is
// incomplete. File bytes never become pointers: arrays whose elements hold
// pointers are never read from raw ARRAY_OF_DATA bytes, and a record noted
// "trivial" must be plain data (asserted). Booleans read from raw bytes are
// normalised to 0 or 1. Nesting deeper than READ_ENTRY_MAX_DEPTH is refused, so
// a file cannot exhaust the stack through a recursive record type.
//
// Broken descriptors (a null type, a member outside its record, a view smaller
// than 16 bytes) are assertions.
//
// Threads: no state; each call uses the calling thread's allocator and logger.
#pragma once

#include "base/array.h"
#include "base/enum.h"
#include "base/string.h"
#include "package/package.h"

#include <array>
#include <cstddef>
#include <type_traits>

namespace tessera {

// ---- Type descriptors --------------------------------------------------------------

// Kinds after VARIANT are described but never encoded.
#define TESSERA_TYPE_KIND_LIST(X)                                                                            \
    X(VOID, 0)                                                                                               \
    X(INTEGER, 1)                                                                                            \
    X(FLOAT, 2)                                                                                              \
    X(BOOL, 3)                                                                                               \
    X(STRING, 4)                                                                                             \
    X(STRUCT, 5)                                                                                             \
    X(ARRAY, 6)                                                                                              \
    X(ENUM, 7)                                                                                               \
    X(VARIANT, 8)                                                                                            \
    X(POINTER, 9)                                                                                            \
    X(PROCEDURE, 10)                                                                                         \
    X(ANY, 11)                                                                                               \
    X(TYPE, 12)
TESSERA_ENUM(Type_Kind, u32, TESSERA_TYPE_KIND_LIST)

// FIXED: the elements lie inside the value. VIEW: count (s64) then element
// pointer. RESIZABLE: as a view, then capacity (s64) and allocator (Array<T>).
#define TESSERA_ARRAY_TYPE_LIST(X)                                                                           \
    X(FIXED, 0)                                                                                              \
    X(VIEW, 1)                                                                                               \
    X(RESIZABLE, 2)
TESSERA_ENUM(Array_Type, u32, TESSERA_ARRAY_TYPE_LIST)

// CONSTANT: no storage in the record. IMPORTED: reached through an embedded
// record, repeating that record's storage. Neither is encoded.
#define TESSERA_MEMBER_FLAGS_LIST(X)                                                                         \
    X(NONE, 0)                                                                                               \
    X(CONSTANT, 1)                                                                                           \
    X(IMPORTED, 2)
TESSERA_ENUM(Member_Flags, u32, TESSERA_MEMBER_FLAGS_LIST)
TESSERA_FLAGS(Member_Flags)

// The value layouts the walk reads and writes (Array_View<T> and Array<T>).
inline constexpr s64 STRING_VALUE_SIZE = 16;
inline constexpr s64 VIEW_VALUE_SIZE = 16;
inline constexpr s64 RESIZABLE_VALUE_SIZE = 40;
static_assert(sizeof(String) == STRING_VALUE_SIZE && sizeof(Array_View<u8>) == VIEW_VALUE_SIZE &&
              sizeof(Array<u8>) == RESIZABLE_VALUE_SIZE);

struct Type_Descriptor;

struct Member_Descriptor {
    String name;
    const Type_Descriptor *type = nullptr;
    s64 offset_in_bytes = 0; // from the start of the record
    Member_Flags flags = Member_Flags::NONE;
    Array_View<const String> notes;
};

// One per type; the fields after runtime_size belong to the kinds named.
struct Type_Descriptor {
    Type_Kind kind = Type_Kind::VOID;
    s64 runtime_size = 0; // bytes in memory

    // STRUCT
    String name;
    Array_View<const Member_Descriptor> members; // in declaration order
    Array_View<const String> notes;              // the record's notes

    // ARRAY
    const Type_Descriptor *element_type = nullptr;
    Array_Type array_type = Array_Type::FIXED;
    s64 array_count = 0; // FIXED only

    // VARIANT: a distinct name for another type, laid out exactly like it
    const Type_Descriptor *variant_of = nullptr;
};

// A value and its type. value_pointer is not owned.
struct Any {
    const Type_Descriptor *type = nullptr;
    void *value_pointer = nullptr;
};

// ---- Notes -----------------------------------------------------------------------------

inline constexpr String NOTE_TRIVIAL = "trivial"_s;   // record: copied as its raw bytes
inline constexpr String NOTE_SKIP = "skip"_s;         // member: neither written nor read
inline constexpr String NOTE_NO_WRITE = "no_write"_s; // member: not written
inline constexpr String NOTE_NO_READ = "no_read"_s;   // member: not read
inline constexpr String NOTE_OLD_NAME = "old_name"_s; // member: read under the next note's text

#define TESSERA_STRUCT_MEMBER_FLAGS_LIST(X)                                                                  \
    X(NONE, 0)                                                                                               \
    X(SKIP, 1)                                                                                               \
    X(NO_WRITE, 2)                                                                                           \
    X(NO_READ, 4)                                                                                            \
    X(OLD_NAME, 8)
TESSERA_ENUM(Struct_Member_Flags, u64, TESSERA_STRUCT_MEMBER_FLAGS_LIST)
TESSERA_FLAGS(Struct_Member_Flags)

// A member's notes, parsed.
struct Struct_Member_Params {
    Struct_Member_Flags flags = Struct_Member_Flags::NONE;
    String replacement_name; // the note after "old_name"; a view into the notes
};

// Exact, case-sensitive words; unknown notes are ignored. "old_name" takes the
// next note as replacement_name; as the last note it adds nothing.
Struct_Member_Params parse_member_notes(Array_View<const String> notes);

// True if one of the record's notes is exactly "trivial".
bool struct_is_trivial(const Type_Descriptor *info);

// ---- Kinds -------------------------------------------------------------------------------

// Follows variant_of while the kind is VARIANT.
const Type_Descriptor *resolve_variant(const Type_Descriptor *info);

// INTEGER, FLOAT, BOOL and ARRAY; false for every other kind (ENUM included).
bool is_trivially_copyable(Type_Kind kind);

// True when the value's bytes hold no pointer: scalars, enums, records and
// fixed arrays made only of those. Strings, views, growable arrays, pointers,
// procedures, Any and types hold pointers.
bool holds_no_pointers(const Type_Descriptor *info);

// Whether an array of these elements is stored as ARRAY_OF_DATA: INTEGER,
// FLOAT, BOOL, records noted "trivial" and arrays that hold no pointers. (An
// array of views or growable arrays is stored element by element: its raw
// bytes are pointers.)
bool elements_copy_as_data(const Type_Descriptor *element_type);

// ---- Member selection ----------------------------------------------------------------------
// Shared by writing and reading. A member is taken in declaration order unless
// it is CONSTANT or IMPORTED, starts below the end of the storage taken so far
// (union alternatives and aliases are encoded once, through the first declared
// member), or has size 0; a member its notes leave out still counts as taken.

enum class Member_Use : u8 {
    WRITE, // leaves out "skip" and "no_write"
    READ,  // leaves out "skip" and "no_read"
};

struct Selected_Member {
    const Member_Descriptor *member = nullptr;
    Struct_Member_Params params;
};

// A cursor over one record's members; no allocation.
struct Member_Selection {
    const Type_Descriptor *record = nullptr;
    Member_Use use = Member_Use::WRITE;
    s64 next = 0;        // index of the next member to look at
    s64 end_offset = -1; // end of the storage taken so far
};

Member_Selection select_members(const Type_Descriptor *record, Member_Use use);

// The next selected member, or false when there is none left.
bool next_member(Member_Selection *selection, Selected_Member *out);

// ---- Values and entries ----------------------------------------------------------------------

// The entry for the value; its flags are 0 at every level. The payload is a new
// buffer from the context's allocator that the caller owns (an empty DATA entry
// has none).
Entry write_entry(Any item);

// Fills the value from the entry (see the top of this file for what is read
// and what happens on mismatch). Strings in the value view the entry's bytes.
[[nodiscard]] bool read_entry(Any item, const Entry *entry);

// Nested values read below this depth are refused.
inline constexpr s64 READ_ENTRY_MAX_DEPTH = 1000;

// ---- Messages ----------------------------------------------------------------------------------

inline constexpr char READ_TRIVIAL_STRUCT_TOO_BIG[] =
    "While reading struct marked as @trivial, runtime size does not match.";
inline constexpr char READ_STRUCT_EXPECTED_TABLE[] =
    "While reading struct, expected table of entries, got %.";
inline constexpr char READ_STRUCT_TYPE_NAME[] = "- %"; // after the table decoder's own message
inline constexpr char READ_ARRAY_ELEMENT_SIZE_MISMATCH[] =
    "Array of data element size does not match the array element type's size.";
inline constexpr char READ_ARRAY_EXPECTED_ENTRIES[] = "Expected array of entries, got %.";
inline constexpr char READ_FIXED_ARRAY_TRUNCATED[] =
    "Input array count is greater than fixed array's size, truncating...";
inline constexpr char READ_EXPECTED_STRING[] = "Expected string entry, got %.";
inline constexpr char READ_SCALAR_SIZE_MISMATCH[] =
    "For trivially copiable type %, expected size %, but found %.";
inline constexpr char READ_TOO_DEEP[] = "Entry tree is nested deeper than % levels; not read further.";
inline constexpr char READ_ARRAY_TOO_BIG[] = "Array of % elements of % bytes each does not fit in memory.";

// Assertions (broken descriptor tables).
inline constexpr char TRIVIAL_RECORD_HOLDS_POINTERS[] =
    "Record % is noted \"trivial\" but holds pointers; its raw bytes cannot be stored.";
inline constexpr char MEMBER_OUTSIDE_RECORD[] =
    "Member % of % lies outside the record (offset %, size %, record %).";

// ---- Descriptors of built-in types -------------------------------------------------------------

template <typename T>
constexpr const Type_Descriptor *type_of();

namespace detail {

template <typename T>
struct Array_Parts {
    static constexpr bool is_view = false, is_resizable = false;
};
template <typename T>
struct Array_Parts<Array_View<T>> {
    static constexpr bool is_view = true, is_resizable = false;
    using Element = T;
};
template <typename T>
struct Array_Parts<Array<T>> {
    static constexpr bool is_view = false, is_resizable = true;
    using Element = T;
};

template <Type_Kind K, s64 Size>
inline constexpr Type_Descriptor scalar_descriptor = {.kind = K, .runtime_size = Size};

template <typename E, s64 N>
inline constexpr Type_Descriptor fixed_array_descriptor = {.kind = Type_Kind::ARRAY,
                                                           .runtime_size = static_cast<s64>(sizeof(E)) * N,
                                                           .element_type = type_of<E>(),
                                                           .array_type = Array_Type::FIXED,
                                                           .array_count = N};

template <typename E>
inline constexpr Type_Descriptor view_descriptor = {.kind = Type_Kind::ARRAY,
                                                    .runtime_size = VIEW_VALUE_SIZE,
                                                    .element_type = type_of<E>(),
                                                    .array_type = Array_Type::VIEW};

template <typename E>
inline constexpr Type_Descriptor resizable_descriptor = {.kind = Type_Kind::ARRAY,
                                                         .runtime_size = RESIZABLE_VALUE_SIZE,
                                                         .element_type = type_of<E>(),
                                                         .array_type = Array_Type::RESIZABLE};

} // namespace detail

// The descriptor of T. Records are found through tessera_type_of(T *), which
// TESSERA_RECORD declares next to the type (argument-dependent lookup).
template <typename T>
constexpr const Type_Descriptor *type_of() {
    using U = std::remove_cv_t<T>;
    constexpr s64 size = static_cast<s64>(sizeof(U));
    if constexpr (std::is_same_v<U, bool>) {
        return &detail::scalar_descriptor<Type_Kind::BOOL, size>;
    } else if constexpr (std::is_integral_v<U> || std::is_same_v<U, s128> || std::is_same_v<U, u128>) {
        return &detail::scalar_descriptor<Type_Kind::INTEGER, size>;
    } else if constexpr (std::is_floating_point_v<U>) {
        return &detail::scalar_descriptor<Type_Kind::FLOAT, size>;
    } else if constexpr (std::is_enum_v<U>) {
        return &detail::scalar_descriptor<Type_Kind::ENUM, size>;
    } else if constexpr (std::is_same_v<U, String>) {
        return &detail::scalar_descriptor<Type_Kind::STRING, size>;
    } else if constexpr (std::is_same_v<U, Any>) {
        return &detail::scalar_descriptor<Type_Kind::ANY, size>;
    } else if constexpr (std::is_bounded_array_v<U>) {
        return &detail::fixed_array_descriptor<std::remove_extent_t<U>, static_cast<s64>(std::extent_v<U>)>;
    } else if constexpr (detail::Array_Parts<U>::is_view) {
        return &detail::view_descriptor<typename detail::Array_Parts<U>::Element>;
    } else if constexpr (detail::Array_Parts<U>::is_resizable) {
        return &detail::resizable_descriptor<typename detail::Array_Parts<U>::Element>;
    } else if constexpr (std::is_pointer_v<U> && std::is_function_v<std::remove_pointer_t<U>>) {
        return &detail::scalar_descriptor<Type_Kind::PROCEDURE, size>;
    } else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) {
        return &detail::scalar_descriptor<Type_Kind::POINTER, size>;
    } else {
        return tessera_type_of(static_cast<U *>(nullptr));
    }
}

template <typename T>
Any make_any(T *value) {
    using U = std::remove_cv_t<T>;
    return Any{type_of<U>(), const_cast<U *>(value)};
}

// ---- Descriptor tables for records ----------------------------------------------------------
//
// Written once, after the type, in the type's own namespace:
//
//     struct Player { String name; s32 health; s32 cache; Vector2 position; };
//     TESSERA_RECORD(Player, TESSERA_NOTES(),
//         TESSERA_MEMBER(name),
//         TESSERA_MEMBER(health, "old_name", "hp"),
//         TESSERA_MEMBER(cache, "skip"),
//         TESSERA_MEMBER(position))
//
// A record that holds itself through an array declares first and defines after:
//
//     struct Node;
//     TESSERA_DECLARE_RECORD(Node)
//     struct Node { s32 value; Array<Node> children; };
//     TESSERA_DEFINE_RECORD(Node, TESSERA_NOTES(), TESSERA_MEMBER(value), TESSERA_MEMBER(children))
//
// The tables are constants (inline variables), so a header may hold them.
// TESSERA_MEMBER is valid only inside these macros (it names the record Self).

template <detail::String_Literal L>
constexpr String literal() {
    return String{static_cast<s64>(sizeof(L.bytes) - 1), const_cast<u8 *>(L.bytes)};
}

namespace detail {
template <String_Literal... Notes>
struct Note_Storage {
    static constexpr String values[] = {literal<Notes>()...};
};
} // namespace detail

template <detail::String_Literal... Notes>
constexpr Array_View<const String> notes_of() {
    if constexpr (sizeof...(Notes) == 0) {
        return {};
    } else {
        return {static_cast<s64>(sizeof...(Notes)), detail::Note_Storage<Notes...>::values};
    }
}

template <typename... Members>
constexpr std::array<Member_Descriptor, sizeof...(Members)> member_array(Members... members) {
    return {members...};
}

template <size_t N>
constexpr Type_Descriptor record_descriptor(String name, s64 runtime_size,
                                            const std::array<Member_Descriptor, N> &members,
                                            Array_View<const String> notes) {
    return Type_Descriptor{.kind = Type_Kind::STRUCT,
                           .runtime_size = runtime_size,
                           .name = name,
                           .members = {static_cast<s64>(N), members.data()},
                           .notes = notes};
}

} // namespace tessera

#define TESSERA_NOTES(...) ::tessera::notes_of<__VA_ARGS__>()

#define TESSERA_MEMBER(member, ...)                                                                          \
    ::tessera::Member_Descriptor {                                                                           \
        ::tessera::literal<#member>(), ::tessera::type_of<decltype(Self::member)>(),                         \
            static_cast<::tessera::s64>(offsetof(Self, member)), ::tessera::Member_Flags::NONE,              \
            ::tessera::notes_of<__VA_ARGS__>()                                                               \
    }

#define TESSERA_DECLARE_RECORD(T)                                                                            \
    extern const ::tessera::Type_Descriptor tessera_record_descriptor_##T;                                   \
    constexpr const ::tessera::Type_Descriptor *tessera_type_of(T *) {                                       \
        return &tessera_record_descriptor_##T;                                                               \
    }

#define TESSERA_DEFINE_RECORD(T, record_notes, ...)                                                          \
    struct tessera_record_members_##T {                                                                      \
        using Self = T;                                                                                      \
        static constexpr auto list = ::tessera::member_array(__VA_ARGS__);                                   \
    };                                                                                                       \
    inline const ::tessera::Type_Descriptor tessera_record_descriptor_##T =                                  \
        ::tessera::record_descriptor(::tessera::literal<#T>(), static_cast<::tessera::s64>(sizeof(T)),       \
                                     tessera_record_members_##T::list, record_notes);

#define TESSERA_RECORD(T, record_notes, ...)                                                                 \
    TESSERA_DECLARE_RECORD(T)                                                                                \
    TESSERA_DEFINE_RECORD(T, record_notes, __VA_ARGS__)

namespace tessera {

// The engine's own records.
TESSERA_RECORD(Vector2, TESSERA_NOTES(), TESSERA_MEMBER(x), TESSERA_MEMBER(y))
TESSERA_RECORD(Vector3, TESSERA_NOTES(), TESSERA_MEMBER(x), TESSERA_MEMBER(y), TESSERA_MEMBER(z))
TESSERA_RECORD(Vector4, TESSERA_NOTES(), TESSERA_MEMBER(x), TESSERA_MEMBER(y), TESSERA_MEMBER(z),
               TESSERA_MEMBER(w))

} // namespace tessera
