#include "package/package.h"

#include "base/assert.h"
#include "base/context.h"
#include "base/log.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessera {

// ---- Little-endian fields at any alignment ------------------------------------------

template <typename T>
static T load_le(const u8 *p) {
    T v;
    memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
        using U = std::make_unsigned_t<T>;
        U u;
        memcpy(&u, &v, sizeof u);
        if constexpr (sizeof(T) == 2) u = __builtin_bswap16(u);
        if constexpr (sizeof(T) == 4) u = __builtin_bswap32(u);
        if constexpr (sizeof(T) == 8) u = __builtin_bswap64(u);
        memcpy(&v, &u, sizeof v);
    }
    return v;
}

template <typename T>
static void store_le(u8 *p, T v) {
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
        using U = std::make_unsigned_t<T>;
        U u;
        memcpy(&u, &v, sizeof u);
        if constexpr (sizeof(T) == 2) u = __builtin_bswap16(u);
        if constexpr (sizeof(T) == 4) u = __builtin_bswap32(u);
        if constexpr (sizeof(T) == 8) u = __builtin_bswap64(u);
        memcpy(&v, &u, sizeof v);
    }
    memcpy(p, &v, sizeof v);
}

// ---- Header records ------------------------------------------------------------------

Package_Header load_package_header(const u8 *p) {
    Package_Header h;
    h.signature = load_le<u64>(p);
    h.version_major = load_le<u16>(p + 8);
    h.version_minor = load_le<u16>(p + 10);
    h.flags = load_le<u32>(p + 12);
    h.reserved[0] = load_le<u64>(p + 16);
    h.reserved[1] = load_le<u64>(p + 24);
    memcpy(h.package_name, p + 32, sizeof h.package_name);
    return h;
}

void store(u8 *p, const Package_Header &h) {
    store_le(p, h.signature);
    store_le(p + 8, h.version_major);
    store_le(p + 10, h.version_minor);
    store_le(p + 12, h.flags);
    store_le(p + 16, h.reserved[0]);
    store_le(p + 24, h.reserved[1]);
    memcpy(p + 32, h.package_name, sizeof h.package_name);
}

Base_Entry_Header load_base_entry_header(const u8 *p) {
    Base_Entry_Header h;
    h.signature = load_le<u32>(p);
    h.type = load_le<u16>(p + 4);
    h.flags = load_le<u16>(p + 6);
    h.data_offset = load_le<s64>(p + 8);
    h.data_count = load_le<s64>(p + 16);
    return h;
}

void store(u8 *p, const Base_Entry_Header &h) {
    store_le(p, h.signature);
    store_le(p + 4, h.type);
    store_le(p + 6, h.flags);
    store_le(p + 8, h.data_offset);
    store_le(p + 16, h.data_count);
}

Table_Header load_table_header(const u8 *p) {
    Table_Header h;
    h.signature = load_le<u32>(p);
    h.entry_count = load_le<s32>(p + 4);
    h.names_data_size_in_bytes = load_le<s64>(p + 8);
    h.entry_data_size_in_bytes = load_le<s64>(p + 16);
    return h;
}

void store(u8 *p, const Table_Header &h) {
    store_le(p, h.signature);
    store_le(p + 4, h.entry_count);
    store_le(p + 8, h.names_data_size_in_bytes);
    store_le(p + 16, h.entry_data_size_in_bytes);
}

Table_Entry_Header load_table_entry_header(const u8 *p) {
    Table_Entry_Header h;
    h.base = load_base_entry_header(p);
    h.name_offset = load_le<s64>(p + 24);
    h.name_count = load_le<s64>(p + 32);
    return h;
}

void store(u8 *p, const Table_Entry_Header &h) {
    store(p, h.base);
    store_le(p + 24, h.name_offset);
    store_le(p + 32, h.name_count);
}

Array_Header load_array_header(const u8 *p) {
    Array_Header h;
    h.signature = load_le<u32>(p);
    h.entry_count = load_le<s32>(p + 4);
    h.entry_data_size_in_bytes = load_le<s64>(p + 8);
    return h;
}

void store(u8 *p, const Array_Header &h) {
    store_le(p, h.signature);
    store_le(p + 4, h.entry_count);
    store_le(p + 8, h.entry_data_size_in_bytes);
}

Array_Of_Data_Header load_array_of_data_header(const u8 *p) {
    Array_Of_Data_Header h;
    h.signature = load_le<u32>(p);
    h.element_size = load_le<s32>(p + 4);
    h.element_count = load_le<s64>(p + 8);
    return h;
}

void store(u8 *p, const Array_Of_Data_Header &h) {
    store_le(p, h.signature);
    store_le(p + 4, h.element_size);
    store_le(p + 8, h.element_count);
}

String_Header load_string_header(const u8 *p) {
    String_Header h;
    h.signature = load_le<u32>(p);
    h.padding = load_le<u32>(p + 4);
    h.string_count = load_le<s64>(p + 8);
    return h;
}

void store(u8 *p, const String_Header &h) {
    store_le(p, h.signature);
    store_le(p + 4, h.padding);
    store_le(p + 8, h.string_count);
}

// ---- Bounds ----------------------------------------------------------------------------

// [offset, offset + count) lies inside [0, limit): both non-negative and the sum
// neither overflows nor passes the limit.
static bool span_fits(s64 offset, s64 count, s64 limit) {
    s64 end;
    if (offset < 0 || count < 0) return false;
    if (__builtin_add_overflow(offset, count, &end)) return false;
    return end <= limit;
}

static u32 load_signature(Array_View<u8> data, s64 at) {
    return load_le<u32>(data.data + at);
}

// A writer's running size: the inputs live in memory, so a sum that overflows is
// a caller's broken record, not outside data.
static s64 add_size(s64 a, s64 b) {
    s64 sum;
    ASSERT(b >= 0 && !__builtin_add_overflow(a, b, &sum), "Package entry size overflows (% + %)", a, b);
    return sum;
}

static Array<u8> allocate_buffer(s64 count) {
    Array<u8> buffer;
    buffer.allocator = current_allocator();
    buffer.data = static_cast<u8 *>(allocate(count, buffer.allocator));
    buffer.count = buffer.allocated = count;
    memset(buffer.data, 0, static_cast<size_t>(count));
    return buffer;
}

static void put_bytes(void *at, const void *bytes, s64 count) {
    if (count > 0) memcpy(at, bytes, static_cast<size_t>(count));
}

// ---- Strings ---------------------------------------------------------------------------

Array<u8> write_string_entry(String s) {
    ASSERT(s.count >= 0, "String of negative count %", s.count);
    Array<u8> out = allocate_buffer(add_size(STRING_HEADER_SIZE + 1, s.count));
    String_Header h;
    h.string_count = s.count;
    store(out.data, h);
    put_bytes(out.data + STRING_HEADER_SIZE, s.data, s.count);
    // The zero byte after the text is already there.
    return out;
}

Read_String_Result read_string_entry(Array_View<u8> data) {
    if (data.count < STRING_HEADER_SIZE) {
        log_error(STRING_ENTRY_TOO_SMALL);
        return {};
    }
    String_Header h = load_string_header(data.data);
    if (h.signature != STRING_SIGNATURE) {
        log_error(STRING_ENTRY_SIGNATURE_MISMATCH);
        return {};
    }
    if (h.string_count < 0) {
        log_error(STRING_ENTRY_NEGATIVE_COUNT, h.string_count);
        return {};
    }
    if (h.string_count > data.count - STRING_HEADER_SIZE) {
        log_error(STRING_ENTRY_COUNT_TOO_BIG);
        return {};
    }
    return {true, String{h.string_count, data.data + STRING_HEADER_SIZE}};
}

// ---- Tables ------------------------------------------------------------------------------

// Layout, all offsets from the start of the payload:
//   0               Table_Header
//   24              n × Table_Entry_Header (40 bytes each)
//   24 + 40n        "Nam!", then each name and a zero byte
//   names + size    "Dat!", then each payload back to back
// The whole size is known up front, so the buffer is allocated once and every
// header is written in place.
Array<u8> write_table_entry(Array_View<Table_Entry> entries) {
    ASSERT(entries.count <= TABLE_MAX_ENTRY_COUNT, ENTRY_COUNT_TOO_BIG, TABLE_MAX_ENTRY_COUNT + 1);
    s64 n = entries.count;
    s64 names_start = TABLE_HEADER_SIZE + TABLE_ENTRY_HEADER_SIZE * n;
    s64 names_size = 4;
    s64 data_size = 4;
    for (const Table_Entry &e : entries) {
        names_size = add_size(add_size(names_size, e.name.count), 1);
        data_size = add_size(data_size, e.entry.data.count);
    }
    s64 data_start = add_size(names_start, names_size);
    Array<u8> out = allocate_buffer(add_size(data_start, data_size));

    store_le(out.data + names_start, NAMES_SIGNATURE);
    store_le(out.data + data_start, DATA_SIGNATURE);
    s64 name_at = names_start + 4;
    s64 data_at = data_start + 4;
    for (s64 i = 0; i < n; i++) {
        const Table_Entry &e = entries.data[i];
        Table_Entry_Header h;
        h.base.signature = 0;
        h.base.type = static_cast<u16>(e.entry.type);
        h.base.flags = e.entry.flags;
        h.base.data_offset = data_at;
        h.base.data_count = e.entry.data.count;
        h.name_offset = name_at;
        h.name_count = e.name.count;
        store(out.data + TABLE_HEADER_SIZE + TABLE_ENTRY_HEADER_SIZE * i, h);
        put_bytes(out.data + name_at, e.name.data, e.name.count);
        name_at += e.name.count + 1; // the zero byte is already there
        put_bytes(out.data + data_at, e.entry.data.data, e.entry.data.count);
        data_at += e.entry.data.count;
    }

    Table_Header th;
    th.entry_count = static_cast<s32>(n);
    th.names_data_size_in_bytes = names_size;
    th.entry_data_size_in_bytes = data_size;
    store(out.data, th);
    return out;
}

// A section after the entry headers: its signature, then the rest of its
// declared size (which counts the signature), all inside `data`. Each check runs
// before the bytes it covers are read; *end moves past the section.
struct Section_Checks {
    Format_String too_small; // the section runs past the input
    Format_String mismatch;  // its signature is wrong
    Format_String negative;  // its declared size is negative (takes the size)
};

static const Section_Checks NAMES_SECTION = {NAMES_DATA_TOO_SMALL, NAMES_SIGNATURE_MISMATCH,
                                             TABLE_NEGATIVE_NAMES_SIZE};
static const Section_Checks DATA_SECTION = {ENTRY_DATA_TOO_SMALL, ENTRY_DATA_SIGNATURE_MISMATCH,
                                            NEGATIVE_ENTRY_DATA_SIZE};

static bool check_section(Array_View<u8> data, s64 *end, u32 signature, s64 size, const Section_Checks &c) {
    if (!span_fits(*end, 4, data.count)) {
        log_error(c.too_small);
        return false;
    }
    if (load_signature(data, *end) != signature) {
        log_error(c.mismatch);
        return false;
    }
    if (size < 0) {
        log_error(c.negative, size);
        return false;
    }
    if (!span_fits(*end, size, data.count)) {
        log_error(c.too_small);
        return false;
    }
    *end += size;
    return true;
}

Read_Table_Result read_table_entry(Array_View<u8> data) {
    if (data.count < TABLE_HEADER_SIZE) {
        log_error(TABLE_HEADER_TOO_SMALL);
        return {};
    }
    Table_Header th = load_table_header(data.data);
    if (th.entry_count < 0) {
        log_error(TABLE_NEGATIVE_ENTRY_COUNT, th.entry_count);
        return {};
    }
    // An s32 count times 40 fits in s64 easily.
    s64 end = TABLE_HEADER_SIZE + TABLE_ENTRY_HEADER_SIZE * static_cast<s64>(th.entry_count);
    if (end > data.count) {
        log_error(TABLE_ENTRY_HEADERS_TOO_SMALL, th.entry_count);
        return {};
    }

    if (!check_section(data, &end, NAMES_SIGNATURE, th.names_data_size_in_bytes, NAMES_SECTION) ||
        !check_section(data, &end, DATA_SIGNATURE, th.entry_data_size_in_bytes, DATA_SECTION))
        return {};

    // Names and payloads need only lie inside the table as its header declares it.
    Read_Table_Result r;
    array_resize(&r.result, th.entry_count);
    for (s64 i = 0; i < th.entry_count; i++) {
        Table_Entry_Header h =
            load_table_entry_header(data.data + TABLE_HEADER_SIZE + TABLE_ENTRY_HEADER_SIZE * i);
        if (!span_fits(h.name_offset, h.name_count, end) ||
            !span_fits(h.base.data_offset, h.base.data_count, end)) {
            log_error(TABLE_ENTRY_OUT_OF_BOUNDS, i);
            array_free(&r.result);
            return {};
        }
        Table_Entry &e = r.result.data[i];
        e.name = String{h.name_count, data.data + h.name_offset};
        e.entry.data = {h.base.data_count, data.data + h.base.data_offset};
        e.entry.type = static_cast<Entry_Type>(h.base.type);
        e.entry.flags = h.base.flags;
    }
    r.success = true;
    return r;
}

// ---- Arrays of entries -----------------------------------------------------------------

// Layout: Array_Header (16), n × Base_Entry_Header (24 each, signature 0),
// "Dat!", then each payload back to back.
Array<u8> write_array_entry(Array_View<Entry> entries) {
    ASSERT(entries.count <= ARRAY_MAX_ENTRY_COUNT, ENTRY_COUNT_TOO_BIG, ARRAY_MAX_ENTRY_COUNT);
    s64 n = entries.count;
    s64 data_start = ARRAY_HEADER_SIZE + BASE_ENTRY_HEADER_SIZE * n;
    s64 data_size = 4;
    for (const Entry &e : entries) data_size = add_size(data_size, e.data.count);
    Array<u8> out = allocate_buffer(add_size(data_start, data_size));

    store_le(out.data + data_start, DATA_SIGNATURE);
    s64 data_at = data_start + 4;
    for (s64 i = 0; i < n; i++) {
        const Entry &e = entries.data[i];
        Base_Entry_Header h;
        h.signature = 0;
        h.type = static_cast<u16>(e.type);
        h.flags = e.flags;
        h.data_offset = data_at;
        h.data_count = e.data.count;
        store(out.data + ARRAY_HEADER_SIZE + BASE_ENTRY_HEADER_SIZE * i, h);
        put_bytes(out.data + data_at, e.data.data, e.data.count);
        data_at += e.data.count;
    }

    Array_Header ah;
    ah.entry_count = static_cast<s32>(n);
    ah.entry_data_size_in_bytes = data_size;
    store(out.data, ah);
    return out;
}

Read_Array_Result read_array_entry(Array_View<u8> data) {
    if (data.count < ARRAY_HEADER_SIZE) {
        log_error(ARRAY_HEADER_TOO_SMALL);
        return {};
    }
    Array_Header ah = load_array_header(data.data);
    if (ah.entry_count < 0) {
        log_error(ARRAY_NEGATIVE_ENTRY_COUNT, ah.entry_count);
        return {};
    }
    s64 end = ARRAY_HEADER_SIZE + BASE_ENTRY_HEADER_SIZE * static_cast<s64>(ah.entry_count);
    if (end > data.count) {
        log_error(ARRAY_ENTRY_HEADERS_TOO_SMALL, ah.entry_count);
        return {};
    }

    if (!check_section(data, &end, DATA_SIGNATURE, ah.entry_data_size_in_bytes, DATA_SECTION)) return {};

    Read_Array_Result r;
    array_resize(&r.result, ah.entry_count);
    for (s64 i = 0; i < ah.entry_count; i++) {
        Base_Entry_Header h =
            load_base_entry_header(data.data + ARRAY_HEADER_SIZE + BASE_ENTRY_HEADER_SIZE * i);
        if (!span_fits(h.data_offset, h.data_count, end)) {
            log_error(ARRAY_ENTRY_OUT_OF_BOUNDS, i);
            array_free(&r.result);
            return {};
        }
        Entry &e = r.result.data[i];
        e.data = {h.data_count, data.data + h.data_offset};
        e.type = static_cast<Entry_Type>(h.type);
        e.flags = h.flags;
    }
    r.success = true;
    return r;
}

// ---- Arrays of data ----------------------------------------------------------------------

Array<u8> write_array_of_data_entry(const void *input, s64 count, s64 element_size) {
    ASSERT(element_size <= ARRAY_OF_DATA_MAX_ELEMENT_SIZE, ARRAY_OF_DATA_ELEMENT_SIZE_TOO_BIG);
    ASSERT(count >= 0 && element_size >= 0, "Array of data with negative count % or element size %", count,
           element_size);
    s64 bytes;
    ASSERT(!__builtin_mul_overflow(count, element_size, &bytes), "Array of data size overflows (% * %)",
           count, element_size);
    Array<u8> out = allocate_buffer(add_size(ARRAY_OF_DATA_PREFIX_SIZE, bytes));
    Array_Of_Data_Header h;
    h.element_size = static_cast<s32>(element_size);
    h.element_count = count;
    store(out.data, h);
    store_le(out.data + ARRAY_OF_DATA_HEADER_SIZE, ARRAY_SIGNATURE);
    put_bytes(out.data + ARRAY_OF_DATA_PREFIX_SIZE, input, bytes);
    return out;
}

Read_Array_Of_Data_Result read_array_of_data_entry(Array_View<u8> data) {
    if (data.count < ARRAY_OF_DATA_PREFIX_SIZE) {
        log_error(ARRAY_OF_DATA_TOO_SMALL);
        return {};
    }
    if (load_signature(data, ARRAY_OF_DATA_HEADER_SIZE) != ARRAY_SIGNATURE) {
        log_error(ARRAY_OF_DATA_SIGNATURE_MISMATCH);
        return {};
    }
    Array_Of_Data_Header h = load_array_of_data_header(data.data);
    // Two negatives would multiply to a plausible size.
    if (h.element_count < 0 || h.element_size < 0) {
        log_error(ARRAY_OF_DATA_NEGATIVE, h.element_count, h.element_size);
        return {};
    }
    s64 available = data.count - ARRAY_OF_DATA_PREFIX_SIZE;
    s64 needed;
    if (__builtin_mul_overflow(h.element_count, static_cast<s64>(h.element_size), &needed) ||
        needed > available) {
        log_error(ARRAY_OF_DATA_SIZE_TOO_SMALL, available, h.element_count, h.element_size);
        return {};
    }
    Read_Array_Of_Data_Result r;
    r.success = true;
    r.result = {available, data.data + ARRAY_OF_DATA_PREFIX_SIZE};
    r.element_count = h.element_count;
    r.element_size = h.element_size;
    return r;
}

// ---- Lookup and helpers ------------------------------------------------------------------

Table_Entry *find(Array_View<Table_Entry> table, String name) {
    for (Table_Entry &e : table) {
        if (equal(e.name, name)) return &e;
    }
    return nullptr;
}

String get_error_string() {
    thread_local char buffer[256];
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char *text = strerror_r(errno, buffer, sizeof buffer);
    return from_c_string(text);
}

s64 my_strnlen(const u8 *p, s64 n) {
    s64 i = 0;
    while (i < n && p[i] != 0) i++;
    return i;
}

// ---- Whole packages ----------------------------------------------------------------------

bool read(Package *package, Array_View<u8> input) {
    if (input.count < PACKAGE_HEADER_SIZE) {
        log_error(PACKAGE_INPUT_TOO_SMALL, input.count);
        return false;
    }
    Package_Header ph = load_package_header(input.data);
    if (ph.signature != PACKAGE_SIGNATURE) {
        log_error(PACKAGE_SIGNATURE_MISMATCH);
        return false;
    }
    // Never true while the minimum is 0; kept for the day it is not.
    if (ph.version_major < PACKAGE_MIN_VERSION_MAJOR) {
        log_error(PACKAGE_VERSION_TOO_OLD);
        return false;
    }
    s64 available = input.count - PACKAGE_HEADER_SIZE;
    if (available < BASE_ENTRY_HEADER_SIZE) {
        log_error(PACKAGE_NO_ENTRY_HEADER, input.count, PACKAGE_HEADER_SIZE, BASE_ENTRY_HEADER_SIZE);
        return false;
    }
    Base_Entry_Header bh = load_base_entry_header(input.data + PACKAGE_HEADER_SIZE);
    if (bh.data_offset < 0 || bh.data_count < 0) {
        log_error(PACKAGE_BASE_ENTRY_NEGATIVE, bh.data_offset, bh.data_count);
        return false;
    }
    if (!span_fits(bh.data_offset, bh.data_count, available)) {
        // The sum is printed exactly even where it would overflow 64 bits.
        log_error(PACKAGE_BASE_ENTRY_TOO_BIG, available, static_cast<s128>(bh.data_offset) + bh.data_count);
        return false;
    }
    if (bh.type > ENTRY_TYPE_MAX) {
        log_error(PACKAGE_UNKNOWN_ENTRY_TYPE, hex(bh.type));
        return false;
    }

    const u8 *name = input.data + 32;
    package->name = String{my_strnlen(name, PACKAGE_NAME_SIZE), const_cast<u8 *>(name)};
    package->data = input;
    package->flags = ph.flags;
    package->base_entry.data = {bh.data_count, input.data + PACKAGE_HEADER_SIZE + bh.data_offset};
    package->base_entry.type = static_cast<Entry_Type>(bh.type);
    package->base_entry.flags = bh.flags;
    return true;
}

// A zero-terminated copy of the path in scratch storage, or null when the path
// holds a zero byte of its own (it would name another file).
static const char *path_for_os(String filename) {
    for (u8 c : filename) {
        if (c == 0) return nullptr;
    }
    char *path = static_cast<char *>(allocate(filename.count + 1, temporary_allocator));
    put_bytes(path, filename.data, filename.count);
    path[filename.count] = 0;
    return path;
}

static int open_file(String filename, int flags) {
    Temporary_Scope scope;
    const char *path = path_for_os(filename);
    int fd = -1;
    if (path) {
        do fd = ::open(path, flags | O_CLOEXEC, 0666);
        while (fd < 0 && errno == EINTR);
    } else {
        errno = EINVAL;
    }
    if (fd < 0) log_error(PACKAGE_FILE_OPEN_FAILED, filename, errno, get_error_string());
    return fd;
}

// Writes all `count` bytes, continuing short writes. False with errno set.
static bool write_all(int fd, const void *bytes, s64 count) {
    const u8 *p = static_cast<const u8 *>(bytes);
    while (count > 0) {
        ssize_t n = ::write(fd, p, static_cast<size_t>(count));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO; // a device that takes nothing and says nothing
            return false;
        }
        p += n;
        count -= n;
    }
    return true;
}

bool write(const Package *package, String filename) {
    int fd = open_file(filename, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return false;

    String name = package->name;
    if (name.count > PACKAGE_NAME_SIZE) {
        log_error(PACKAGE_NAME_TRUNCATED, PACKAGE_NAME_SIZE);
        name.count = PACKAGE_NAME_SIZE;
    }
    Array_View<u8> payload = package->base_entry.data;
    ASSERT(payload.count >= 0, "Package payload of negative size %", payload.count);

    u8 header[PACKAGE_PREFIX_SIZE];
    Package_Header ph;
    ph.version_major = PACKAGE_VERSION_MAJOR;
    ph.version_minor = PACKAGE_VERSION_MINOR;
    ph.flags = package->flags;
    if (name.count > 0) memcpy(ph.package_name, name.data, static_cast<size_t>(name.count));
    store(header, ph);
    Base_Entry_Header bh;
    bh.type = static_cast<u16>(package->base_entry.type);
    bh.flags = package->base_entry.flags;
    bh.data_offset = BASE_ENTRY_HEADER_SIZE;
    bh.data_count = payload.count;
    store(header + PACKAGE_HEADER_SIZE, bh);

    bool ok = write_all(fd, header, PACKAGE_HEADER_SIZE) &&
              write_all(fd, header + PACKAGE_HEADER_SIZE, BASE_ENTRY_HEADER_SIZE) &&
              write_all(fd, payload.data, payload.count);
    if (!ok) {
        log_error(PACKAGE_WRITE_FAILED, get_error_string());
        close(fd);
        return false;
    }

    s64 expected = add_size(PACKAGE_PREFIX_SIZE, payload.count);
    s64 position = lseek(fd, 0, SEEK_CUR);
    close(fd);
    if (position != expected) {
        log_error(PACKAGE_WRITTEN_SIZE_MISMATCH, position, expected);
        return false;
    }
    return true;
}

// The whole file in one buffer from the context's allocator; grows past the
// size fstat reports, so files whose size is not known up front read whole too.
static bool read_entire_file(String filename, Array<u8> *out) {
    int fd = open_file(filename, O_RDONLY);
    if (fd < 0) return false;

    Array<u8> buffer;
    struct stat st;
    s64 expected = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<s64>(st.st_size) : 0;
    // One byte more than the file, so the read that sees its end needs no growth.
    array_reserve(&buffer, add_size(expected, 1));
    for (;;) {
        if (buffer.count == buffer.allocated)
            array_reserve(&buffer, add_size(buffer.allocated, buffer.allocated));
        ssize_t n =
            ::read(fd, buffer.data + buffer.count, static_cast<size_t>(buffer.allocated - buffer.count));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            log_error(PACKAGE_FILE_READ_FAILED, filename, errno, get_error_string());
            array_free(&buffer);
            close(fd);
            return false;
        }
        if (n == 0) break;
        buffer.count += n;
    }
    close(fd);
    *out = buffer;
    return true;
}

bool read(String filename, Package *package) {
    Array<u8> buffer;
    if (!read_entire_file(filename, &buffer)) return false;
    if (!read(package, view_of(buffer))) {
        array_free(&buffer);
        return false;
    }
    return true;
}

} // namespace tessera
