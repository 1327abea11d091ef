#include "base/table.h"

#include <gtest/gtest.h>

#include <map>

using namespace tessera;

namespace {

TEST(Table, MatchesAReferenceMapThroughGrowth) {
    Table<u32, u64> t = {};
    std::map<u32, u64> reference;
    u32 x = 12345;
    for (int i = 0; i < 5000; i++) {
        x = x * 1664525u + 1013904223u;
        u32 key = x % 3000; // repeats: overwrites
        table_set(&t, key, static_cast<u64>(i));
        reference[key] = static_cast<u64>(i);
    }
    EXPECT_EQ(t.count, static_cast<s64>(reference.size()));
    EXPECT_LE(t.count * 10, t.allocated * 7);
    for (auto [k, v] : reference) {
        u64 *found = table_find(&t, k);
        ASSERT_NE(found, nullptr) << k;
        EXPECT_EQ(*found, v);
    }
    for (u32 k = 3000; k < 3100; k++) EXPECT_EQ(table_find(&t, k), nullptr);
    s64 visited = 0;
    table_for_each(&t, [&](u32 k, u64 v) {
        visited++;
        EXPECT_EQ(reference.at(k), v);
    });
    EXPECT_EQ(visited, t.count);
    table_deinit(&t);
    EXPECT_EQ(t.slots, nullptr);
}

// Every key in one bucket, and the hash 0 that marks empty slots: probing and
// equality alone must keep the keys apart.
u32 constant_zero_hash(const u32 &) {
    return 0;
}

TEST(Table, CollidingHashesStayDistinct) {
    Table<u32, s32, constant_zero_hash> t = {};
    for (u32 k = 0; k < 100; k++) table_set(&t, k, static_cast<s32>(k) * -1);
    EXPECT_EQ(t.count, 100);
    for (u32 k = 0; k < 100; k++) {
        s32 *v = table_find(&t, k);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(*v, -static_cast<s32>(k));
    }
    EXPECT_EQ(table_find(&t, 100u), nullptr);
    table_reset(&t);
    EXPECT_EQ(t.count, 0);
    EXPECT_EQ(table_find(&t, 5u), nullptr);
    table_deinit(&t);
}

TEST(Table, EmptyTableFindsNothing) {
    Table<u64, int> t = {};
    EXPECT_EQ(table_find(&t, 0ull), nullptr);
    table_deinit(&t); // a zeroed table needs no set-up or tear-down
}

} // namespace
