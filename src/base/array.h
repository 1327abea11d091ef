// Array_View<T>: a counted view (count, pointer). Array<T>: a growable array
// (count, pointer, capacity, owning allocator).
//
// The field order of both is part of their contract: the package serializer
// reads views and growable arrays by these offsets. Elements are plain records,
// moved with memcpy when the array grows.
#pragma once

#include "base/allocator.h"
#include "base/assert.h"

#include <cstring>
#include <initializer_list>
#include <type_traits>

namespace tessera {

template <typename T>
struct Array_View {
    s64 count = 0;
    T *data = nullptr;

    T &operator[](s64 i) const {
        ASSERT(i >= 0 && i < count, "Array index % out of range (count %)", i, count);
        return data[i];
    }
    T *begin() const { return data; }
    T *end() const { return data + count; }
};

template <typename T>
struct Array {
    s64 count = 0;
    T *data = nullptr;
    s64 allocated = 0;
    Allocator allocator = {}; // taken from the context on first growth when null

    T &operator[](s64 i) const {
        ASSERT(i >= 0 && i < count, "Array index % out of range (count %)", i, count);
        return data[i];
    }
    T *begin() const { return data; }
    T *end() const { return data + count; }
    operator Array_View<T>() const { return {count, data}; }
};

static_assert(offsetof(Array<int>, count) == 0 && offsetof(Array<int>, data) == 8 &&
              offsetof(Array<int>, allocated) == 16 && offsetof(Array<int>, allocator) == 24);
static_assert(offsetof(Array_View<int>, count) == 0 && offsetof(Array_View<int>, data) == 8);

// Byte arrays format as [1, 2, 3] (see format.h).
template <>
struct Format_Arg_Of<Array_View<u8>> {
    static Format_Arg make(Array_View<u8> v) {
        Format_Arg a;
        a.kind = Format_Kind::BYTES;
        a.s = String{v.count, v.data};
        return a;
    }
};

template <>
struct Format_Arg_Of<Array<u8>> {
    static Format_Arg make(const Array<u8> &v) {
        Format_Arg a;
        a.kind = Format_Kind::BYTES;
        a.s = String{v.count, v.data};
        return a;
    }
};

template <typename T>
Array_View<T> view_of(const Array<T> &a) {
    return {a.count, a.data};
}

template <typename T>
Array_View<T> make_view(T *data, s64 count) {
    return {count, data};
}

// Grows the capacity to at least `capacity` elements.
template <typename T>
void array_reserve(Array<T> *a, s64 capacity) {
    static_assert(std::is_trivially_copyable_v<T>, "Array elements are moved with memcpy");
    if (capacity <= a->allocated) return;
    if (!a->allocator.proc) a->allocator = current_allocator();
    s64 elem = static_cast<s64>(sizeof(T));
    a->data = static_cast<T *>(reallocate(a->data, a->allocated * elem, capacity * elem, a->allocator));
    a->allocated = capacity;
}

namespace detail {
template <typename T>
void array_grow_for(Array<T> *a, s64 wanted) {
    if (wanted <= a->allocated) return;
    s64 capacity = a->allocated ? a->allocated * 2 : 8;
    if (capacity < wanted) capacity = wanted;
    array_reserve(a, capacity);
}
} // namespace detail

template <typename T>
T *array_add(Array<T> *a, const std::type_identity_t<T> &value) {
    if (a->count == a->allocated) detail::array_grow_for(a, a->count + 1);
    T *slot = a->data + a->count++;
    *slot = value;
    return slot;
}

// Appends one zeroed element and returns it.
template <typename T>
T *array_add(Array<T> *a) {
    return array_add(a, T{});
}

template <typename T>
void array_add_many(Array<T> *a, const std::type_identity_t<T> *values, s64 n) {
    if (n <= 0) return;
    detail::array_grow_for(a, a->count + n);
    memcpy(a->data + a->count, values, static_cast<size_t>(n) * sizeof(T));
    a->count += n;
}

// Sets the count; new elements are zeroed.
template <typename T>
void array_resize(Array<T> *a, s64 count) {
    detail::array_grow_for(a, count);
    for (s64 i = a->count; i < count; i++) a->data[i] = T{};
    a->count = count;
}

template <typename T>
T array_pop(Array<T> *a) {
    ASSERT(a->count > 0, "array_pop on an empty array");
    return a->data[--a->count];
}

template <typename T>
T &array_peek(const Array<T> &a) {
    ASSERT(a.count > 0, "array_peek on an empty array");
    return a.data[a.count - 1];
}

// Forgets the elements and keeps the storage.
template <typename T>
void array_reset(Array<T> *a) {
    a->count = 0;
}

// Releases the storage to its allocator and zeroes the record.
template <typename T>
void array_free(Array<T> *a) {
    if (a->data) deallocate(a->data, a->allocator);
    *a = Array<T>{};
}

} // namespace tessera
