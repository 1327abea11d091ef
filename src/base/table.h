// Table<K, V>: an open-addressing hash table with linear probing.
//
// The hash and the equality are the caller's (template arguments: a procedure
// K -> u32 and a procedure (K, K) -> bool). Each slot keeps its 32-bit hash, so
// a probe compares keys only when the hashes agree; a lookup at the table's load
// (at most 70 %) is one probe in the common case. Capacity is a power of two.
// Entries are never removed one by one; table_reset empties the table.
#pragma once

#include "base/allocator.h"
#include "base/assert.h"

#include <type_traits>

namespace tessera {

// Integer keys: a multiplicative mix, so that consecutive keys (code points,
// small ids) spread over the whole table.
template <typename K>
u32 table_default_hash(const K &key) {
    static_assert(std::is_integral_v<K> || std::is_enum_v<K>, "give Table a hash procedure for this key");
    u64 x = static_cast<u64>(key) * 0x9E3779B97F4A7C15ull;
    return static_cast<u32>(x >> 32);
}

template <typename K>
bool table_default_compare(const K &a, const K &b) {
    return a == b;
}

template <typename K, typename V, auto hash_proc = table_default_hash<K>,
          auto compare_proc = table_default_compare<K>>
struct Table {
    struct Slot {
        u32 hash; // 0: empty (a real hash of 0 is stored as 1)
        K key;
        V value;
    };

    Slot *slots = nullptr;
    s64 allocated = 0; // slot count, a power of two (or 0)
    s64 count = 0;
    Allocator allocator = {}; // taken from the context on first growth when null
};

namespace detail {
template <typename T>
u32 table_slot_hash(const T &key, auto hash_proc) {
    u32 h = hash_proc(key);
    return h ? h : 1;
}

template <typename Tab>
void table_grow(Tab *t, s64 capacity) {
    using Slot = typename Tab::Slot;
    if (!t->allocator.proc) t->allocator = current_allocator();
    Slot *old = t->slots;
    s64 old_count = t->allocated;
    t->slots = static_cast<Slot *>(allocate(capacity * static_cast<s64>(sizeof(Slot)), t->allocator));
    for (s64 i = 0; i < capacity; i++) t->slots[i].hash = 0;
    t->allocated = capacity;
    u64 mask = static_cast<u64>(capacity - 1);
    for (s64 i = 0; i < old_count; i++) {
        if (!old[i].hash) continue;
        u64 at = old[i].hash & mask;
        while (t->slots[at].hash) at = (at + 1) & mask;
        t->slots[at] = old[i];
    }
    if (old) deallocate(old, t->allocator);
}
} // namespace detail

// The value stored under `key`, or null.
template <typename K, typename V, auto H, auto C>
V *table_find(const Table<K, V, H, C> *t, const std::type_identity_t<K> &key) {
    if (!t->count) return nullptr;
    u32 h = detail::table_slot_hash(key, H);
    u64 mask = static_cast<u64>(t->allocated - 1);
    for (u64 at = h & mask;; at = (at + 1) & mask) {
        auto &slot = t->slots[at];
        if (!slot.hash) return nullptr;
        if (slot.hash == h && C(slot.key, key)) return &slot.value;
    }
}

// Stores `value` under `key`, replacing a value already there. Returns the stored value.
template <typename K, typename V, auto H, auto C>
V *table_set(Table<K, V, H, C> *t, const std::type_identity_t<K> &key, const std::type_identity_t<V> &value) {
    if ((t->count + 1) * 10 > t->allocated * 7) detail::table_grow(t, t->allocated ? t->allocated * 2 : 16);
    u32 h = detail::table_slot_hash(key, H);
    u64 mask = static_cast<u64>(t->allocated - 1);
    for (u64 at = h & mask;; at = (at + 1) & mask) {
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
