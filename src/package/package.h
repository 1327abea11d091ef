// Packages: a self-describing container file holding one tree of typed entries.
//
// An entry is a payload (bytes) with a type and 16 bits of flags that are carried
// through every encoding and never interpreted. Five payload encodings exist:
// raw DATA, STRING, TABLE_OF_ENTRIES (named children), ARRAY_OF_ENTRIES
// (unnamed children) and ARRAY_OF_DATA (fixed-size elements copied as bytes).
// The writers and readers here handle one level of the tree: a table or array
// payload contains its children's finished payloads, each a complete encoding.
//
// Costs and ownership:
//   - every write_*_entry allocates exactly one buffer, of the encoded size, from
//     the context's allocator and copies its inputs into it; the caller owns it;
//   - every read_*_entry copies nothing: names, strings and payloads are views
//     into the bytes decoded, which must outlive them. The lists returned by
//     read_table_entry and read_array_entry are one allocation from the
//     context's allocator each (release with array_free);
//   - read(filename, package) reads the whole file into one buffer from the
//     context's allocator, which becomes package.data (release it with
//     deallocate(package.data.data)); write streams the header and the payload
//     straight to the file.
//
// Bad bytes: every reader checks each count, size and offset, with arithmetic
// that cannot overflow, before it reads a byte the field covers. Input it
// refuses gets one logged error (the constants below) and a false result with
// empty views, an empty list and zero counts; no byte outside the input is
// touched. Broken invariants of the caller (a table with 2^31 entries, an
// element size the 32-bit field cannot hold) are assertions.
//
// Byte order: every field is little-endian and unaligned in the file, whatever
// the host; fields are copied in and out byte-wise, never through a cast pointer.
//
// Threads: nothing here keeps state; each call uses the calling thread's
// allocator and logger.
#pragma once

#include "base/array.h"
#include "base/enum.h"
#include "base/string.h"

namespace tessera {

// ---- Entries ---------------------------------------------------------------------

#define TESSERA_ENTRY_TYPE_LIST(X)                                                                           \
    X(DATA, 0)                                                                                               \
    X(STRING, 1)                                                                                             \
    X(TABLE_OF_ENTRIES, 2)                                                                                   \
    X(ARRAY_OF_ENTRIES, 3)                                                                                   \
    X(ARRAY_OF_DATA, 4)
TESSERA_ENUM(Entry_Type, u16, TESSERA_ENTRY_TYPE_LIST)

// The largest value a stored type may have; read() refuses a root above it.
inline constexpr u16 ENTRY_TYPE_MAX = static_cast<u16>(Entry_Type::ARRAY_OF_DATA);

struct Entry {
    Array_View<u8> data; // the encoded payload; usually a view into someone's buffer
    Entry_Type type = Entry_Type::DATA;
    u16 flags = 0; // carried through unchanged, never interpreted
};

struct Table_Entry {
    String name; // a view; in a decoded table, into the table's bytes
    Entry entry;
};

struct Package {
    String name;         // at most 32 bytes are stored; after read, a view into data
    Array_View<u8> data; // after read: the whole package image
    u32 flags = 0;       // stored in the header; no values are defined
    Entry base_entry;    // the root of the tree; after read, a view into data
};

// ---- Signatures and header records -------------------------------------------------
// A signature is four ASCII bytes in file order; read as a little-endian u32 they
// are the constant compared against.

constexpr u32 signature_of(const char (&s)[5]) {
    return static_cast<u32>(static_cast<u8>(s[0])) | static_cast<u32>(static_cast<u8>(s[1])) << 8 |
           static_cast<u32>(static_cast<u8>(s[2])) << 16 | static_cast<u32>(static_cast<u8>(s[3])) << 24;
}

inline constexpr u64 PACKAGE_SIGNATURE =
    static_cast<u64>(signature_of("Pakg")) | static_cast<u64>(signature_of("Data")) << 32; // "PakgData"
inline constexpr u32 ENTRY_SIGNATURE = signature_of("Ent!");  // the package's base entry header
inline constexpr u32 TABLE_SIGNATURE = signature_of("Map!");  // table header
inline constexpr u32 NAMES_SIGNATURE = signature_of("Nam!");  // start of a table's names
inline constexpr u32 DATA_SIGNATURE = signature_of("Dat!");   // start of a table's or array's entry data
inline constexpr u32 ARRAY_SIGNATURE = signature_of("Arr!");  // array and array-of-data headers
inline constexpr u32 STRING_SIGNATURE = signature_of("Str!"); // string header

inline constexpr u16 PACKAGE_VERSION_MAJOR = 0;
inline constexpr u16 PACKAGE_VERSION_MINOR = 1;
inline constexpr u16 PACKAGE_MIN_VERSION_MAJOR = 0;
inline constexpr s64 PACKAGE_NAME_SIZE = 32;

// Limits the format's 32-bit fields impose on the writers.
inline constexpr s64 TABLE_MAX_ENTRY_COUNT = 2147483646; // a table holds fewer than 2^31 - 1
inline constexpr s64 ARRAY_MAX_ENTRY_COUNT = 2147483647; // entry_count is an s32
inline constexpr s64 ARRAY_OF_DATA_MAX_ELEMENT_SIZE = 2147483646;

// The records as they lie in the file. Each default is its signature with every
// other field zero. Sizes are of the file layout; load and store convert.

// 64 bytes: signature u64 @0, version_major u16 @8, version_minor u16 @10,
// flags u32 @12, reserved [2]u64 @16, package_name [32]u8 @32 (zero-filled, no
// terminator when all 32 bytes are used).
struct Package_Header {
    u64 signature = PACKAGE_SIGNATURE;
    u16 version_major = 0;
    u16 version_minor = 0;
    u32 flags = 0;
    u64 reserved[2] = {};
    u8 package_name[32] = {};
};
inline constexpr s64 PACKAGE_HEADER_SIZE = 64;

// 24 bytes: signature u32 @0, type u16 @4, flags u16 @6, data_offset s64 @8,
// data_count s64 @16. data_offset counts from this header for the package's
// root and from the start of the enclosing payload inside tables and arrays,
// where the signature is 0.
struct Base_Entry_Header {
    u32 signature = ENTRY_SIGNATURE;
    u16 type = 0;
    u16 flags = 0;
    s64 data_offset = 0;
    s64 data_count = 0;
};
inline constexpr s64 BASE_ENTRY_HEADER_SIZE = 24;

// The whole package header ends where the root's payload starts (data_offset 24).
inline constexpr s64 PACKAGE_PREFIX_SIZE = PACKAGE_HEADER_SIZE + BASE_ENTRY_HEADER_SIZE;

// 24 bytes: signature u32 @0, entry_count s32 @4, names_data_size_in_bytes s64
// @8, entry_data_size_in_bytes s64 @16. Both sizes include their section's
// 4-byte signature.
struct Table_Header {
    u32 signature = TABLE_SIGNATURE;
    s32 entry_count = 0;
    s64 names_data_size_in_bytes = 0;
    s64 entry_data_size_in_bytes = 0;
};
inline constexpr s64 TABLE_HEADER_SIZE = 24;

// 40 bytes: base @0 (signature 0), name_offset s64 @24, name_count s64 @32
// (without the zero byte that follows the name).
struct Table_Entry_Header {
    Base_Entry_Header base = {};
    s64 name_offset = 0;
    s64 name_count = 0;
};
inline constexpr s64 TABLE_ENTRY_HEADER_SIZE = 40;

// 16 bytes: signature u32 @0, entry_count s32 @4, entry_data_size_in_bytes s64 @8.
struct Array_Header {
    u32 signature = ARRAY_SIGNATURE;
    s32 entry_count = 0;
    s64 entry_data_size_in_bytes = 0;
};
inline constexpr s64 ARRAY_HEADER_SIZE = 16;

// 16 bytes: signature u32 @0, element_size s32 @4, element_count s64 @8; a
// second "Arr!" follows at 16, the elements at 20.
struct Array_Of_Data_Header {
    u32 signature = ARRAY_SIGNATURE;
    s32 element_size = 0;
    s64 element_count = 0;
};
inline constexpr s64 ARRAY_OF_DATA_HEADER_SIZE = 16;
inline constexpr s64 ARRAY_OF_DATA_PREFIX_SIZE = ARRAY_OF_DATA_HEADER_SIZE + 4;

// 16 bytes: signature u32 @0, padding u32 @4 (not interpreted), string_count s64
// @8; the text follows, then one zero byte the reader does not require.
struct String_Header {
    u32 signature = STRING_SIGNATURE;
    u32 padding = 0;
    s64 string_count = 0;
};
inline constexpr s64 STRING_HEADER_SIZE = 16;

// Copy a record out of / into the file layout at `p` (any alignment; the caller
// guarantees the record's size in bytes).
Package_Header load_package_header(const u8 *p);
Base_Entry_Header load_base_entry_header(const u8 *p);
Table_Header load_table_header(const u8 *p);
Table_Entry_Header load_table_entry_header(const u8 *p);
Array_Header load_array_header(const u8 *p);
Array_Of_Data_Header load_array_of_data_header(const u8 *p);
String_Header load_string_header(const u8 *p);
void store(u8 *p, const Package_Header &h);
void store(u8 *p, const Base_Entry_Header &h);
void store(u8 *p, const Table_Header &h);
void store(u8 *p, const Table_Entry_Header &h);
void store(u8 *p, const Array_Header &h);
void store(u8 *p, const Array_Of_Data_Header &h);
void store(u8 *p, const String_Header &h);

// ---- Messages ----------------------------------------------------------------------

// Files.
inline constexpr char PACKAGE_FILE_OPEN_FAILED[] = "Could not open file \"%\": code %, %";
inline constexpr char PACKAGE_FILE_READ_FAILED[] = "Could not read file \"%\": code %, %";
inline constexpr char PACKAGE_NAME_TRUNCATED[] = "Package name is too big, truncated to %.";
inline constexpr char PACKAGE_WRITE_FAILED[] = "Could not write to file, package, %.";
inline constexpr char PACKAGE_WRITTEN_SIZE_MISMATCH[] =
    "Written data count doesn't matche the expected size (% != %).";

// The package image.
inline constexpr char PACKAGE_INPUT_TOO_SMALL[] =
    "The input size is smaller than a package header size. (% bytes)";
inline constexpr char PACKAGE_SIGNATURE_MISMATCH[] = "The package signature does not match.";
inline constexpr char PACKAGE_VERSION_TOO_OLD[] =
    "The package major version is smaller than the minimum version.";
inline constexpr char PACKAGE_NO_ENTRY_HEADER[] =
    "Remaining input data size is smaller than an entry header (% - % < %).";
inline constexpr char PACKAGE_BASE_ENTRY_TOO_BIG[] =
    "Base entry input data is smaller than the specified size (% < %).";
inline constexpr char PACKAGE_BASE_ENTRY_NEGATIVE[] =
    "Base entry header specifies a negative data offset or count (offset %, count %).";
inline constexpr char PACKAGE_UNKNOWN_ENTRY_TYPE[] = "Entry header specifies unknown type (0x%).";

// Strings.
inline constexpr char STRING_ENTRY_TOO_SMALL[] = "String entry data is smaller than a string entry header.";
inline constexpr char STRING_ENTRY_SIGNATURE_MISMATCH[] = "String entry signature does not match.";
inline constexpr char STRING_ENTRY_COUNT_TOO_BIG[] = "Input data size is smaller than string entry's count.";
inline constexpr char STRING_ENTRY_NEGATIVE_COUNT[] = "String entry header specifies a negative count (%).";

// Tables and arrays of entries (the section messages are shared by both).
inline constexpr char ENTRY_COUNT_TOO_BIG[] = "Entry count exceeds maximum number of entries (%).";
inline constexpr char TABLE_HEADER_TOO_SMALL[] =
    "Expected table, but input data size is too small to fit a table header.";
inline constexpr char TABLE_ENTRY_HEADERS_TOO_SMALL[] =
    "Input data size is too small to fit % table entry headers.";
inline constexpr char TABLE_NEGATIVE_ENTRY_COUNT[] = "Table header specifies a negative entry count (%).";
inline constexpr char NAMES_SIGNATURE_MISMATCH[] = "Start of names data signature does not match";
inline constexpr char NAMES_DATA_TOO_SMALL[] = "Input data size is too small to fit names data.";
inline constexpr char TABLE_NEGATIVE_NAMES_SIZE[] = "Table header specifies a negative names data size (%).";
inline constexpr char ENTRY_DATA_SIGNATURE_MISMATCH[] = "Start of entry data signature does not match";
inline constexpr char ENTRY_DATA_TOO_SMALL[] = "Input data size is too entry to fit entry data.";
inline constexpr char NEGATIVE_ENTRY_DATA_SIZE[] = "Header specifies a negative entry data size (%).";
inline constexpr char TABLE_ENTRY_OUT_OF_BOUNDS[] = "table entry %'s data exceeds the table's size.";
inline constexpr char ARRAY_HEADER_TOO_SMALL[] =
    "Expected array, but input data size is too small to fit an array header.";
inline constexpr char ARRAY_ENTRY_HEADERS_TOO_SMALL[] =
    "Input data size is too small to fit % entry headers.";
inline constexpr char ARRAY_NEGATIVE_ENTRY_COUNT[] = "Array header specifies a negative entry count (%).";
inline constexpr char ARRAY_ENTRY_OUT_OF_BOUNDS[] = "Array entry %'s data exceeds the array's size.";

// Arrays of data.
inline constexpr char ARRAY_OF_DATA_ELEMENT_SIZE_TOO_BIG[] = "Element size exceeds maximum size.";
inline constexpr char ARRAY_OF_DATA_TOO_SMALL[] =
    "Array of Data entry size is smaller than the size of a header + signature.";
inline constexpr char ARRAY_OF_DATA_SIGNATURE_MISMATCH[] = "Array of Data signature does not match.";
inline constexpr char ARRAY_OF_DATA_SIZE_TOO_SMALL[] =
    "Array of data size is smaller than expected. (% < (% * %)).";
inline constexpr char ARRAY_OF_DATA_NEGATIVE[] =
    "Array of data header specifies a negative element count or size (% * %).";

// ---- Whole packages ----------------------------------------------------------------

// Writes the package file: the 64-byte header (name truncated to 32 bytes, with
// a logged error), the root's 24-byte header and its payload, 88 + payload bytes
// in all. Creates or truncates the file. False, logged, when the file cannot be
// opened or written or ends up with another size; what was written stays.
bool write(const Package *package, String filename);

// Decodes a package image into `package` (changed only on success): name, data,
// flags and base_entry become views into `input`, which must outlive them.
// Bytes after the root's payload are ignored.
[[nodiscard]] bool read(Package *package, Array_View<u8> input);

// Reads the whole file into a new buffer from the context's allocator and
// decodes it. On success the buffer is package->data and the caller's to
// release; on failure it is released and `package` is unchanged.
[[nodiscard]] bool read(String filename, Package *package);

// ---- One level of entries ------------------------------------------------------------

struct Read_String_Result {
    bool success = false;
    String result; // a view into the decoded data, without the zero byte
};

struct Read_Table_Result {
    bool success = false;
    Array<Table_Entry> result; // owned by the caller; names and payloads view the decoded data
};

struct Read_Array_Result {
    bool success = false;
    Array<Entry> result; // owned by the caller; payloads view the decoded data
};

struct Read_Array_Of_Data_Result {
    bool success = false;
    Array_View<u8> result; // from the first element to the end of the data (may run longer)
    s64 element_count = 0;
    s32 element_size = 0;
};

// 16 + s.count + 1 bytes: header, the text, a zero byte.
Array<u8> write_string_entry(String s);
[[nodiscard]] Read_String_Result read_string_entry(Array_View<u8> data);

// 24 + 40n + (4 + Σ(name + 1)) + (4 + Σ payload) bytes. Asserts that the table
// holds at most TABLE_MAX_ENTRY_COUNT entries.
Array<u8> write_table_entry(Array_View<Table_Entry> entries);
[[nodiscard]] Read_Table_Result read_table_entry(Array_View<u8> data);

// 16 + 24n + 4 + Σ payload bytes. Asserts that n fits the s32 entry count.
Array<u8> write_array_entry(Array_View<Entry> entries);
[[nodiscard]] Read_Array_Result read_array_entry(Array_View<u8> data);

// 20 + count × element_size bytes copied from `input`. Asserts that the element
// size fits its s32 field (below 2^31 - 1) and that the sizes are not negative.
Array<u8> write_array_of_data_entry(const void *input, s64 count, s64 element_size);
[[nodiscard]] Read_Array_Of_Data_Result read_array_of_data_entry(Array_View<u8> data);

// ---- Helpers -----------------------------------------------------------------------

// The first entry whose name has exactly the bytes of `name`, or null. Linear.
Table_Entry *find(Array_View<Table_Entry> table, String name);

// The system's description of the calling thread's errno, in a per-thread buffer
// that the thread's next call overwrites.
String get_error_string();

// Bytes before the first zero among the first n at p; n when there is none (and
// 0 for n <= 0).
s64 my_strnlen(const u8 *p, s64 n);

} // namespace tessera
