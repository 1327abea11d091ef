// One list per closed set: an X-macro list X(NAME, VALUE) generates the enum
// and its enumerator names, so the two can never disagree.
//
//     #define ENTRY_TYPE_LIST(X) X(DATA, 0) X(STRING, 1)
//     TESSERA_ENUM(Entry_Type, u16, ENTRY_TYPE_LIST)
//
// format() prints such enums by name (through enum_name, found by argument-
// dependent lookup) and values outside the list as integers.
#pragma once

#include "base/string.h"

#include <type_traits>

#define TESSERA_ENUM_ENUMERATOR_(name, value) name = value,
#define TESSERA_ENUM_NAME_CASE_(name, value)                                                                 \
    case value:                                                                                              \
        return #name ""_s;

#define TESSERA_ENUM(Type, Underlying, LIST)                                                                 \
    enum class Type : Underlying { LIST(TESSERA_ENUM_ENUMERATOR_) };                                         \
    constexpr ::tessera::String enum_name(Type v) {                                                          \
        using namespace ::tessera;                                                                           \
        switch (static_cast<Underlying>(v)) { LIST(TESSERA_ENUM_NAME_CASE_) }                                \
        return {};                                                                                           \
    }

// The same, with further names for values already in LIST (aliases print as the
// first name of their value).
#define TESSERA_ENUM_WITH_ALIASES(Type, Underlying, LIST, ALIASES)                                           \
    enum class Type : Underlying { LIST(TESSERA_ENUM_ENUMERATOR_) ALIASES(TESSERA_ENUM_ENUMERATOR_) };       \
    constexpr ::tessera::String enum_name(Type v) {                                                          \
        using namespace ::tessera;                                                                           \
        switch (static_cast<Underlying>(v)) { LIST(TESSERA_ENUM_NAME_CASE_) }                                \
        return {};                                                                                           \
    }

// Bit operators for an enum class used as a flag set.
#define TESSERA_FLAGS(Type)                                                                                  \
    constexpr Type operator|(Type a, Type b) {                                                               \
        return static_cast<Type>(static_cast<std::underlying_type_t<Type>>(a) |                              \
                                 static_cast<std::underlying_type_t<Type>>(b));                              \
    }                                                                                                        \
    constexpr Type operator&(Type a, Type b) {                                                               \
        return static_cast<Type>(static_cast<std::underlying_type_t<Type>>(a) &                              \
                                 static_cast<std::underlying_type_t<Type>>(b));                              \
    }                                                                                                        \
    constexpr Type operator~(Type a) {                                                                       \
        return static_cast<Type>(~static_cast<std::underlying_type_t<Type>>(a));                             \
    }                                                                                                        \
    constexpr Type &operator|=(Type &a, Type b) {                                                            \
        return a = a | b;                                                                                    \
    }                                                                                                        \
    constexpr Type &operator&=(Type &a, Type b) {                                                            \
        return a = a & b;                                                                                    \
    }                                                                                                        \
    constexpr bool has_any(Type a, Type b) {                                                                 \
        return static_cast<std::underlying_type_t<Type>>(a & b) != 0;                                        \
    }
