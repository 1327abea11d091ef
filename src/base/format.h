// format(fmt, args...): the engine's message formatter.
//
// Each `%` in `fmt` takes the next argument ("%%" writes one `%`):
//   integers      decimal (s128 included)
//   floats        shortest text that reads back as the same value (f32 and f64)
//   bool          true / false
//   enums         the enumerator name when the enum has enum_name(), else decimal
//   pointers      0x<lower-case hex>, null as "null"; const char * is a C string
//   String        its bytes
//   byte arrays   [1, 2, 3]; after 100 values the list is cut and "..." precedes "]"
//   hex(v)        lower-case hexadecimal, at least one digit
// A `%` with no argument left is written as is; arguments beyond the last `%`
// are ignored.
//
// The result lives in the calling thread's scratch storage (temporary_storage)
// and is valid until that storage is rewound. format_into() appends to a
// caller's builder instead.
#pragma once

#include "base/allocator.h"
#include "base/string.h"

#include <concepts>
#include <type_traits>

namespace tessera {

// A format string: a String or a string literal (its length known at compile time).
struct Format_String {
    String s;
    constexpr Format_String(String str) : s(str) {}
    template <size_t N>
    Format_String(const char (&lit)[N]) : s{static_cast<s64>(N - 1), (u8 *)lit} {}
};

struct Hex {
    u64 value;
};
constexpr Hex hex(u64 v) {
    return Hex{v};
}

enum class Format_Kind : u8 {
    S64,
    U64,
    S128,
    F32,
    F64,
    BOOL,
    POINTER,
    STRING,
    BYTES,
    HEX,
    ENUM,      // value in .i, name (possibly empty) in .s
    LOG_FLAGS, // consumed by log(), not printed
};

struct Format_Arg {
    Format_Kind kind;
    union {
        s64 i;
        u64 u;
        s128 i128;
        f64 f;
        const void *p;
    };
    String s; // STRING, BYTES (count and bytes), ENUM (the name, empty when unknown)
};

// Specialise for other argument types (array.h does it for byte arrays).
template <typename T, typename = void>
struct Format_Arg_Of;

template <typename T>
Format_Arg make_format_arg(const T &v) {
    return Format_Arg_Of<std::remove_cvref_t<T>>::make(v);
}

namespace detail {
template <typename E>
concept Has_Enum_Name = requires(E e) {
    { enum_name(e) } -> std::same_as<String>;
};
} // namespace detail

template <typename T>
struct Format_Arg_Of<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
    static Format_Arg make(T v) {
        Format_Arg a;
        if constexpr (std::is_signed_v<T>) {
            a.kind = Format_Kind::S64;
            a.i = v;
        } else {
            a.kind = Format_Kind::U64;
            a.u = v;
        }
        return a;
    }
};

// 128-bit integers are not std::is_integral in strict mode.
template <>
struct Format_Arg_Of<s128> {
    static Format_Arg make(s128 v) {
        Format_Arg a;
        a.kind = Format_Kind::S128;
        a.i128 = v;
        return a;
    }
};

template <>
struct Format_Arg_Of<bool> {
    static Format_Arg make(bool v) {
        Format_Arg a;
        a.kind = Format_Kind::BOOL;
        a.u = v;
        return a;
    }
};

template <typename T>
struct Format_Arg_Of<T, std::enable_if_t<std::is_floating_point_v<T>>> {
    static Format_Arg make(T v) {
        Format_Arg a;
        a.kind = std::is_same_v<T, float> ? Format_Kind::F32 : Format_Kind::F64;
        a.f = v;
        return a;
    }
};

template <typename T>
struct Format_Arg_Of<T, std::enable_if_t<std::is_enum_v<T>>> {
    static Format_Arg make(T v) {
        Format_Arg a;
        a.kind = Format_Kind::ENUM;
        a.i = static_cast<s64>(v);
        if constexpr (detail::Has_Enum_Name<T>) a.s = enum_name(v);
        return a;
    }
};

template <typename T>
struct Format_Arg_Of<T *> {
    static Format_Arg make(T *v) {
        Format_Arg a;
        if constexpr (std::is_same_v<std::remove_cv_t<T>, char>) {
            a.kind = Format_Kind::STRING;
            a.s = from_c_string(v);
        } else {
            a.kind = Format_Kind::POINTER;
            a.p = v;
        }
        return a;
    }
};

template <size_t N>
struct Format_Arg_Of<char[N]> {
    static Format_Arg make(const char (&v)[N]) {
        Format_Arg a;
        a.kind = Format_Kind::STRING;
        a.s = from_c_string(v);
        return a;
    }
};

template <>
struct Format_Arg_Of<std::nullptr_t> {
    static Format_Arg make(std::nullptr_t) {
        Format_Arg a;
        a.kind = Format_Kind::POINTER;
        a.p = nullptr;
        return a;
    }
};

template <>
struct Format_Arg_Of<String> {
    static Format_Arg make(String v) {
        Format_Arg a;
        a.kind = Format_Kind::STRING;
        a.s = v;
        return a;
    }
};

template <>
struct Format_Arg_Of<Hex> {
    static Format_Arg make(Hex v) {
        Format_Arg a;
        a.kind = Format_Kind::HEX;
        a.u = v.value;
        return a;
    }
};

// A growable byte buffer on an allocator (null: the context's allocator).
struct String_Builder {
    u8 *data = nullptr;
    s64 count = 0;
    s64 allocated = 0;
    Allocator allocator = {};
};

void builder_append(String_Builder *b, String s);
void builder_append(String_Builder *b, const void *data, s64 count);
void builder_append_byte(String_Builder *b, u8 c);
void builder_free(String_Builder *b);
inline String builder_view(const String_Builder &b) {
    return String{b.count, b.data};
}

void format_into(String_Builder *out, String fmt, const Format_Arg *args, s64 arg_count);
String format_args(String fmt, const Format_Arg *args, s64 arg_count);

template <typename... Args>
String format(Format_String fmt, const Args &...args) {
    if constexpr (sizeof...(Args) == 0) {
        return format_args(fmt.s, nullptr, 0);
    } else {
        const Format_Arg a[] = {make_format_arg(args)...};
        return format_args(fmt.s, a, static_cast<s64>(sizeof...(Args)));
    }
}

} // namespace tessera
