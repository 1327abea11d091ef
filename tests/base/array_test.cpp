#include "base/array.h"
#include "base/context.h"

#include <gtest/gtest.h>

using namespace tessera;

namespace {

// Counts what reaches the allocator, to show which one an array uses.
struct Counting {
    int allocations = 0, frees = 0;
};

void *counting_proc(Allocator_Mode mode, s64 size, s64 old_size, void *old_memory, void *data) {
    auto *c = static_cast<Counting *>(data);
    if (mode == Allocator_Mode::FREE)
        c->frees++;
    else if (mode != Allocator_Mode::FREE_ALL)
        c->allocations++;
    return heap_allocator_proc(mode, size, old_size, old_memory, nullptr);
}

TEST(Array, GrowsKeepingElementsAndOwnsItsAllocator) {
    Counting counts;
    Allocator saved = context().allocator;
    context().allocator = Allocator{counting_proc, &counts};
    Array<s32> a = {};
    for (s32 i = 0; i < 1000; i++) array_add(&a, i * 3);
    context().allocator = saved; // the array keeps the allocator it grew with

    ASSERT_EQ(a.count, 1000);
    EXPECT_GE(a.allocated, 1000);
    for (s32 i = 0; i < 1000; i++) ASSERT_EQ(a[i], i * 3);
    EXPECT_EQ(a.allocator.data, &counts);
    EXPECT_LE(counts.allocations, 10); // doubling, not one allocation per element

    array_free(&a);
    EXPECT_EQ(counts.frees, 1);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(a.allocated, 0);
}

TEST(Array, ResizeZeroesResetKeepsStorage) {
    Array<u64> a = {};
    array_add(&a, 7ull);
    array_resize(&a, 40);
    EXPECT_EQ(a[0], 7u);
    for (s64 i = 1; i < 40; i++) EXPECT_EQ(a[i], 0u);
    u64 *storage = a.data;
    array_reset(&a);
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(a.data, storage);
    u64 more[3] = {1, 2, 3};
    array_add_many(&a, more, 3);
    EXPECT_EQ(array_pop(&a), 3u);
    EXPECT_EQ(array_peek(a), 2u);
    array_free(&a);
}

TEST(ArrayDeathTest, IndexOutOfRangeAsserts) {
    Array<int> a = {};
    array_add(&a, 1);
    EXPECT_DEATH((void)a[1], "Array index 1 out of range \\(count 1\\)");
    Array_View<int> v = a;
    EXPECT_DEATH((void)v[-1], "Array index -1 out of range");
    array_pop(&a);
    EXPECT_DEATH((void)array_pop(&a), "array_pop on an empty array");
    array_free(&a);
}

} // namespace
