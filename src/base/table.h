// Table<K, V>: an open-addressing hash table with linear probing.
//
// The hash and the equality are the caller's (template arguments: a procedure
// K -> u32 and a procedure (K, K) -> bool). The hash's top bits pick a key's
// first slot (log2 of the capacity of them), so a hash must mix into its top
// bits. Each slot keeps the hash with its lowest bit set as the "used" mark (0:
// empty), so a probe compares keys only when the hashes agree. Integer keys with
// the default equality are compared directly instead: as cheap as the hash, and
// the hit path needs no marked hash then. A lookup at the table's load (at most
// 70 %) is one probe in the common case. Capacity is a power of two from 16 to
// 2^31 (the mark must stay below the position bits).
// Entries are never removed one by one; table_reset empties the table.
#pragma once

#include "base/allocator.h"
#include "base/assert.h"

#include <type_traits>

namespace tessera {

// Integer keys: Fibonacci hashing (a multiply by 2^w / golden ratio, whose top
// bits pick the slot), so that consecutive keys (code points, small ids) spread
// evenly over the whole table. Keys of up to 32 bits take one 32-bit multiply;
// wider keys multiply in 64 bits and keep the top half, so every key bit counts.
template <typename K>
u32 table_default_hash(const K &key) {
    static_assert(std::is_integral_v<K> || std::is_enum_v<K>, "give Table a hash procedure for this key");
    if constexpr (sizeof(K) <= 4) {
        return static_cast<u32>(key) * 0x9E3779B9u;
    } else {
        return static_cast<u32>((static_cast<u64>(key) * 0x9E3779B97F4A7C15ull) >> 32);
    }
}

template <typename K>
bool table_default_compare(const K &a, const K &b) {
    return a == b;
}

template <typename K, typename V, auto hash_proc = table_default_hash<K>,
          auto compare_proc = table_default_compare<K>>
struct Table {
    using Key = K;
    static constexpr auto compare = compare_proc;

    struct Slot {
        u32 hash; // 0: empty; else the key's hash | TABLE_SLOT_USED
        K key;
        V value;
    };

    Slot *slots = nullptr;
    s64 allocated = 0; // slot count, a power of two (or 0)
    s64 count = 0;
    Allocator allocator = {}; // taken from the context on first growth when null
};

// Marks a slot's hash as used; the bits above it place the key.
inline constexpr u32 TABLE_SLOT_USED = 1;
inline constexpr s64 TABLE_MIN_CAPACITY = 16;
inline constexpr s64 TABLE_MAX_CAPACITY = s64{1} << 31;

namespace detail {
template <typename T>
u32 table_slot_hash(const T &key, auto hash_proc) {
    return hash_proc(key) | TABLE_SLOT_USED;
}

// How far a hash shifts down to its first slot: 32 - log2(capacity).
inline u32 table_shift(s64 capacity) {
    return static_cast<u32>(__builtin_clzll(static_cast<u64>(capacity)) - 31);
}

// Whether keys can be compared without their hashes: integers (and enums)
// under the default equality.
template <typename K, auto compare_proc>
constexpr bool table_direct_keys() {
    if constexpr (std::is_integral_v<K> || std::is_enum_v<K>) {
        if constexpr (std::is_same_v<decltype(compare_proc), decltype(&table_default_compare<K>)>) {
            return compare_proc == &table_default_compare<K>;
        }
    }
    return false;
}

template <typename Tab>
void table_grow(Tab *t, s64 capacity) {
    using Slot = typename Tab::Slot;
    if (!t->allocator.proc) t->allocator = current_allocator();
    ASSERT(capacity >= TABLE_MIN_CAPACITY && capacity <= TABLE_MAX_CAPACITY && !(capacity & (capacity - 1)),
           "table capacity % is not a power of two from 16 to 2^31", capacity);
    Slot *old = t->slots;
    s64 old_count = t->allocated;
    t->slots = static_cast<Slot *>(allocate(capacity * static_cast<s64>(sizeof(Slot)), t->allocator));
    for (s64 i = 0; i < capacity; i++) {
        t->slots[i].hash = 0;
        // Direct lookups read the key before the mark: never an uninitialised one.
        if constexpr (table_direct_keys<typename Tab::Key, Tab::compare>()) t->slots[i].key = {};
    }
    t->allocated = capacity;
    u64 mask = static_cast<u64>(capacity - 1);
    u32 shift = table_shift(capacity);
    for (s64 i = 0; i < old_count; i++) {
        if (!old[i].hash) continue;
        u64 at = old[i].hash >> shift;
        while (t->slots[at].hash) at = (at + 1) & mask;
        t->slots[at] = old[i];
    }
    if (old) deallocate(old, t->allocator);
}
} // namespace detail

// The value stored under `key`, or `fallback` when there is none; the result
// has the fallback's type (V * or const V *). A fallback that points at a
// neutral value lets a hot loop use the result without a branch on it.
template <typename K, typename V, auto H, auto C, typename P>
P table_find_or(const Table<K, V, H, C> *t, const std::type_identity_t<K> &key, P fallback) {
    static_assert(std::is_same_v<P, V *> || std::is_same_v<P, const V *>, "the fallback must point to a V");
    if (!t->count) return fallback;
    u64 mask = static_cast<u64>(t->allocated - 1);
    u32 shift = detail::table_shift(t->allocated);
    if constexpr (detail::table_direct_keys<K, C>()) {
        // A matching key in an empty slot is a stale one: the probe ends there too.
        for (u64 at = H(key) >> shift;; at = (at + 1) & mask) {
            auto &slot = t->slots[at];
            if (slot.key == key) [[likely]] {
                if (slot.hash) [[likely]]
                    return &slot.value;
                return fallback;
            }
            if (!slot.hash) return fallback;
        }
    } else {
        u32 h = detail::table_slot_hash(key, H);
        for (u64 at = h >> shift;; at = (at + 1) & mask) {
            auto &slot = t->slots[at];
            if (slot.hash == h && C(slot.key, key)) [[likely]]
                return &slot.value;
            if (!slot.hash) return fallback;
        }
    }
}

// The value stored under `key`, or null.
template <typename K, typename V, auto H, auto C>
V *table_find(const Table<K, V, H, C> *t, const std::type_identity_t<K> &key) {
    return table_find_or(t, key, static_cast<V *>(nullptr));
}

// Stores `value` under `key`, replacing a value already there. Returns the stored value.
template <typename K, typename V, auto H, auto C>
V *table_set(Table<K, V, H, C> *t, const std::type_identity_t<K> &key, const std::type_identity_t<V> &value) {
    if ((t->count + 1) * 10 > t->allocated * 7)
        detail::table_grow(t, t->allocated ? t->allocated * 2 : TABLE_MIN_CAPACITY);
    u32 h = detail::table_slot_hash(key, H);
    u64 mask = static_cast<u64>(t->allocated - 1);
    for (u64 at = h >> detail::table_shift(t->allocated);; at = (at + 1) & mask) {
        auto &slot = t->slots[at];
        if (!slot.hash) {
            slot.hash = h;
            slot.key = key;
            slot.value = value;
            t->count++;
            return &slot.value;
        }
        if (slot.hash == h && C(slot.key, key)) {
            slot.value = value;
            return &slot.value;
        }
    }
}

// Empties the table, keeping its slots.
template <typename K, typename V, auto H, auto C>
void table_reset(Table<K, V, H, C> *t) {
    for (s64 i = 0; i < t->allocated; i++) t->slots[i].hash = 0;
    t->count = 0;
}

// Releases the slots and zeroes the record.
template <typename K, typename V, auto H, auto C>
void table_deinit(Table<K, V, H, C> *t) {
    if (t->slots) deallocate(t->slots, t->allocator);
    *t = Table<K, V, H, C>{};
}

// Calls f(key, value) for every entry, in slot order.
template <typename K, typename V, auto H, auto C, typename F>
void table_for_each(const Table<K, V, H, C> *t, F &&f) {
    for (s64 i = 0; i < t->allocated; i++) {
        if (t->slots[i].hash) f(t->slots[i].key, t->slots[i].value);
    }
}

} // namespace tessera
