// String: a counted view of UTF-8 bytes, never terminated by contract.
//
// A String does not own its bytes. Literals become views with the `_s` suffix,
// usable in constant expressions ("abc"_s); the bytes of such a literal are
// zero-terminated in memory, which GL calls that want C strings rely on.
#pragma once

#include "base/types.h"

#include <cstring>

namespace tessera {

struct String {
    s64 count = 0;
    u8 *data = nullptr;

    constexpr u8 &operator[](s64 i) const { return data[i]; }
    constexpr u8 *begin() const { return data; }
    constexpr u8 *end() const { return data + count; }
};

static_assert(sizeof(String) == 16 && offsetof(String, count) == 0 && offsetof(String, data) == 8);

namespace detail {
template <size_t N>
struct String_Literal {
    u8 bytes[N];
    constexpr String_Literal(const char (&s)[N]) {
        for (size_t i = 0; i < N; i++) bytes[i] = static_cast<u8>(s[i]);
    }
};
} // namespace detail

// The template parameter object has static storage, so the view stays valid for
// the whole run and is a constant expression.
template <detail::String_Literal L>
constexpr String operator""_s() {
    return String{static_cast<s64>(sizeof(L.bytes) - 1), const_cast<u8 *>(L.bytes)};
}

// A view of a zero-terminated C string (empty for null). Runs strlen.
inline String from_c_string(const char *s) {
    if (!s) return {};
    return String{static_cast<s64>(strlen(s)), reinterpret_cast<u8 *>(const_cast<char *>(s))};
}

inline String make_string(const void *data, s64 count) {
    return String{count, static_cast<u8 *>(const_cast<void *>(data))};
}

// Byte-for-byte equality; two empty strings are equal whatever their pointers.
constexpr bool equal(String a, String b) {
    if (a.count != b.count) return false;
    for (s64 i = 0; i < a.count; i++) {
        if (a.data[i] != b.data[i]) return false;
    }
    return true;
}

constexpr bool operator==(String a, String b) {
    return equal(a, b);
}

// The first `count` bytes (clamped to the string).
constexpr String prefix(String s, s64 count) {
    if (count < 0) count = 0;
    return String{min_of(count, s.count), s.data};
}

} // namespace tessera
