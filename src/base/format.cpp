#include "base/format.h"

#include "base/context.h"

#include <charconv>
#include <cstring>

namespace tessera {

// ---- String_Builder ----------------------------------------------------------

static void builder_reserve(String_Builder *b, s64 extra) {
    s64 wanted = b->count + extra;
    if (wanted <= b->allocated) return;
    s64 capacity = b->allocated ? b->allocated * 2 : 64;
    while (capacity < wanted) capacity *= 2;
    if (!b->allocator.proc) b->allocator = current_allocator();
    b->data = static_cast<u8 *>(reallocate(b->data, b->allocated, capacity, b->allocator));
    b->allocated = capacity;
}

void builder_append(String_Builder *b, const void *data, s64 count) {
    if (count <= 0) return;
    builder_reserve(b, count);
    memcpy(b->data + b->count, data, static_cast<size_t>(count));
    b->count += count;
}

void builder_append(String_Builder *b, String s) {
    builder_append(b, s.data, s.count);
}

void builder_append_byte(String_Builder *b, u8 c) {
    builder_reserve(b, 1);
    b->data[b->count++] = c;
}

void builder_free(String_Builder *b) {
    if (b->data) deallocate(b->data, b->allocator);
    *b = String_Builder{};
}

// ---- Number conversions --------------------------------------------------------

static void append_u64(String_Builder *b, u64 v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    builder_append(b, buf, r.ptr - buf);
}

static void append_s64(String_Builder *b, s64 v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    builder_append(b, buf, r.ptr - buf);
}

static void append_s128(String_Builder *b, s128 v) {
    char buf[48];
    char *end = buf + sizeof buf, *p = end;
    // Negate through unsigned so that the most negative value is printed correctly.
    u128 u = v < 0 ? ~static_cast<u128>(v) + 1 : static_cast<u128>(v);
    do {
        *--p = static_cast<char>('0' + static_cast<int>(u % 10));
        u /= 10;
    } while (u);
    if (v < 0) *--p = '-';
    builder_append(b, p, end - p);
}

static void append_hex(String_Builder *b, u64 v) {
    char buf[16];
    char *end = buf + sizeof buf, *p = end;
    do {
        *--p = "0123456789abcdef"[v & 15];
        v >>= 4;
    } while (v);
    builder_append(b, p, end - p);
}

template <typename F>
static void append_float(String_Builder *b, F v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    builder_append(b, buf, r.ptr - buf);
}

// Byte arrays are cut after this many values.
static constexpr s64 FORMAT_ARRAY_LIMIT = 100;

static void append_bytes(String_Builder *b, String bytes) {
    builder_append_byte(b, '[');
    s64 shown = min_of(bytes.count, FORMAT_ARRAY_LIMIT);
    for (s64 i = 0; i < shown; i++) {
        if (i) builder_append(b, ", ", 2);
        append_u64(b, bytes.data[i]);
    }
    if (bytes.count > FORMAT_ARRAY_LIMIT) builder_append(b, "...", 3);
    builder_append_byte(b, ']');
}

static void append_arg(String_Builder *b, const Format_Arg &a) {
    switch (a.kind) {
    case Format_Kind::S64:
        append_s64(b, a.i);
        break;
    case Format_Kind::U64:
        append_u64(b, a.u);
        break;
    case Format_Kind::S128:
        append_s128(b, a.i128);
        break;
    case Format_Kind::F32:
        append_float(b, static_cast<f32>(a.f));
        break;
    case Format_Kind::F64:
        append_float(b, a.f);
        break;
    case Format_Kind::BOOL:
        builder_append(b, a.u ? "true"_s : "false"_s);
        break;
    case Format_Kind::POINTER:
        if (!a.p) {
            builder_append(b, "null"_s);
        } else {
            builder_append(b, "0x", 2);
            append_hex(b, reinterpret_cast<uintptr_t>(a.p));
        }
        break;
    case Format_Kind::STRING:
        builder_append(b, a.s);
        break;
    case Format_Kind::BYTES:
        append_bytes(b, a.s);
        break;
    case Format_Kind::HEX:
        append_hex(b, a.u);
        break;
    case Format_Kind::ENUM:
        if (a.s.count) {
            builder_append(b, a.s);
        } else {
            append_s64(b, a.i);
        }
        break;
    case Format_Kind::LOG_FLAGS:
        append_u64(b, a.u);
        break;
    }
}

// ---- format ------------------------------------------------------------------

void format_into(String_Builder *out, String fmt, const Format_Arg *args, s64 arg_count) {
    s64 next = 0;
    s64 run = 0; // start of the literal run not yet copied
    for (s64 i = 0; i < fmt.count; i++) {
        if (fmt.data[i] != '%') continue;
        builder_append(out, fmt.data + run, i - run);
        if (i + 1 < fmt.count && fmt.data[i + 1] == '%') {
            builder_append_byte(out, '%');
            i++;
        } else if (next < arg_count) {
            append_arg(out, args[next++]);
        } else {
            builder_append_byte(out, '%');
        }
        run = i + 1;
    }
    builder_append(out, fmt.data + run, fmt.count - run);
}

String format_args(String fmt, const Format_Arg *args, s64 arg_count) {
    // Built as the scratch arena's most recent block, so growing it is in place.
    String_Builder b;
    b.allocator = temporary_allocator;
    format_into(&b, fmt, args, arg_count);
    if (!b.data) return String{0, nullptr};
    if (b.count < b.allocated) {
        b.data = static_cast<u8 *>(reallocate(b.data, b.allocated, b.count, b.allocator));
    }
    return String{b.count, b.data};
}

} // namespace tessera
