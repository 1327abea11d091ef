#include "renderer/bump_pool.h"

#include "arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tessera {
namespace {

constexpr s64 MiB = 1024 * 1024;

// One line of /proc/self/maps, clamped to the range that was asked about.
struct Mapping {
    uintptr_t start, end;
    std::string perms;
};

// The mappings that cover [from, to), cut at both ends: the kernel merges a
// neighbouring anonymous mapping of the same protection into one line.
std::vector<Mapping> mappings_in(const u8 *from, const u8 *to) {
    std::vector<Mapping> result;
    FILE *f = fopen("/proc/self/maps", "r");
    if (!f) return result;
    char line[512];
    uintptr_t lo = reinterpret_cast<uintptr_t>(from), hi = reinterpret_cast<uintptr_t>(to);
    while (fgets(line, sizeof line, f)) {
        unsigned long s = 0, e = 0;
        char perms[8] = {};
        if (sscanf(line, "%lx-%lx %7s", &s, &e, perms) != 3) continue;
        if (e <= lo || s >= hi) continue;
        result.push_back({s < lo ? lo : s, e > hi ? hi : e, perms});
    }
    fclose(f);
    return result;
}

// What the span should look like: `committed` bytes readable and writable from
// the base, the rest inaccessible.
void expect_span(const Bump_Pool &pool, s64 committed) {
    std::vector<Mapping> m = mappings_in(pool.memory_base, pool.address_limit);
    uintptr_t base = reinterpret_cast<uintptr_t>(pool.memory_base);
    uintptr_t limit = reinterpret_cast<uintptr_t>(pool.address_limit);
    std::vector<Mapping> expected;
    if (committed > 0) expected.push_back({base, base + committed, "rw-p"});
    if (base + committed < limit) expected.push_back({base + committed, limit, "---p"});
    ASSERT_EQ(m.size(), expected.size());
    for (size_t i = 0; i < m.size(); i++) {
        EXPECT_EQ(m[i].start - base, expected[i].start - base) << i;
        EXPECT_EQ(m[i].end - base, expected[i].end - base) << i;
        EXPECT_EQ(m[i].perms, expected[i].perms) << i;
    }
}

s64 committed_bytes(const Bump_Pool &pool) {
    return pool.first_uncommitted_page - pool.memory_base;
}

// The least whole number of machine pages that holds n bytes.
s64 pages_for(s64 n) {
    return static_cast<s64>(align_up_pow2(static_cast<u64>(n), get_page_size()));
}

struct Pool_Test : ::testing::Test {
    Bump_Pool pool;
    void TearDown() override { deinit(&pool); }
};

TEST_F(Pool_Test, ReservesTheWholeSpanOnceAndCommitsOnlyWhatIsTaken) {
    init(&pool, 256 * MiB);
    ASSERT_NE(pool.memory_base, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pool.memory_base) % get_page_size(), 0u);
    EXPECT_EQ(pool.address_limit - pool.memory_base, 256 * MiB);
    EXPECT_EQ(pool.current_point, pool.memory_base);
    EXPECT_EQ(pool.first_uncommitted_page, pool.memory_base);
    expect_span(pool, 0);

    u8 *base = pool.memory_base;
    u8 *first = take(&pool, 100);
    EXPECT_EQ(first, base);
    EXPECT_EQ(committed_bytes(pool), pages_for(BUMP_POOL_COMMIT_STEP));
    expect_span(pool, committed_bytes(pool));
    memset(first, 0xab, 100);

    // Inside the committed part: no commit.
    take(&pool, 1000);
    EXPECT_EQ(committed_bytes(pool), pages_for(BUMP_POOL_COMMIT_STEP));

    // A block larger than one step commits through its own end, in whole pages.
    u8 *big = take(&pool, 3 * MiB + 1);
    s64 end = big + 3 * MiB + 1 - base;
    EXPECT_EQ(committed_bytes(pool), pages_for(end));
    expect_span(pool, committed_bytes(pool));
    big[3 * MiB] = 1;

    // The span itself never moved or grew.
    EXPECT_EQ(pool.memory_base, base);
    EXPECT_EQ(pool.address_limit - base, 256 * MiB);
}

TEST_F(Pool_Test, ReservationRoundsUpToWhole4096BytePages) {
    struct Case {
        s64 reservation, span;
    };
    const Case cases[] = {{1, 4096}, {4095, 4096}, {4096, 4096}, {4097, 8192}, {256 * MiB, 256 * MiB}};
    for (const Case &c : cases) {
        init(&pool, c.reservation);
        EXPECT_EQ(pool.address_limit - pool.memory_base, c.span) << c.reservation;
        deinit(&pool);
    }
}

TEST_F(Pool_Test, BlocksStartAtTheAlignment) {
    struct Case {
        s32 alignment;
        std::vector<s64> sizes;
        std::vector<s64> offsets; // of each block from the base
    };
    const Case cases[] = {
        {8, {1, 3, 8, 0, 5}, {0, 8, 16, 24, 24}},
        {1, {1, 3, 5}, {0, 1, 4}},
        {16, {40, 128, 1}, {0, 48, 176}},
        {4096, {1, 1}, {0, 4096}},
    };
    for (const Case &c : cases) {
        init(&pool, 64 * 1024);
        pool.alignment = c.alignment;
        for (size_t i = 0; i < c.sizes.size(); i++) {
            u8 *block = take(&pool, c.sizes[i]);
            EXPECT_EQ(block - pool.memory_base, c.offsets[i])
                << "alignment " << c.alignment << ", block " << i;
            EXPECT_EQ(pool.current_point, block + c.sizes[i]);
        }
        deinit(&pool);
    }
}

TEST_F(Pool_Test, ResetEmptiesThePoolAndKeepsItsPagesCommitted) {
    init(&pool, 256 * MiB);
    u8 *first = take(&pool, 24);
    first[0] = 7;
    take(&pool, 2 * MiB);
    s64 committed = committed_bytes(pool);

    reset(&pool);
    EXPECT_EQ(pool.current_point, pool.memory_base);
    EXPECT_EQ(bytes_used(pool), 0);
    EXPECT_EQ(committed_bytes(pool), committed);
    expect_span(pool, committed);

    // The next block is the first one again, its bytes as they were left.
    u8 *again = take(&pool, 24);
    EXPECT_EQ(again, first);
    EXPECT_EQ(again[0], 7);
}

TEST_F(Pool_Test, ASpanSmallerThanAStepIsCommittedWholeAndCanBeFilledExactly) {
    init(&pool, 3 * 4096);
    u8 *a = take(&pool, 1);
    EXPECT_EQ(pool.first_uncommitted_page, pool.address_limit);
    expect_span(pool, 3 * 4096);

    // The rest of the span, to the last byte: alignment pads the start to 8.
    u8 *b = take(&pool, 3 * 4096 - 8);
    EXPECT_EQ(b, a + 8);
    EXPECT_EQ(pool.current_point, pool.address_limit);
    b[3 * 4096 - 9] = 1;
    EXPECT_EQ(take(&pool, 0), pool.address_limit);
}

TEST_F(Pool_Test, DeinitReleasesTheSpanAndRestoresTheInitialRecord) {
    init(&pool, 1 * MiB);
    pool.alignment = 64;
    take(&pool, 10);
    deinit(&pool);
    EXPECT_EQ(pool.alignment, 8);
    EXPECT_EQ(pool.memory_base, nullptr);
    EXPECT_EQ(pool.current_point, nullptr);
    EXPECT_EQ(pool.first_uncommitted_page, nullptr);
    EXPECT_EQ(pool.address_limit, nullptr);

    deinit(&pool); // a record without a span is fine
    init(&pool, 4096);
    EXPECT_NE(pool.memory_base, nullptr);
}

using Pool_DeathTest = Pool_Test;

TEST_F(Pool_DeathTest, ARequestBeyondTheSpanStopsWithTheSizes) {
    struct Case {
        const char *label;
        s64 reservation;
        s64 first;  // taken before (0: nothing)
        s64 second; // the request that does not fit
        const char *pattern;
    };
    const Case cases[] = {
        {"one byte too many", 8192, 0, 8193,
         "Bump_Pool \"test_pool\" at 0x[0-9a-f]+ cannot take 8193 bytes \\(alignment 8\\): 0 of its 8192 reserved bytes "
         "are in "
         "use\\."},
        {"padding pushes it over", 4096, 1, 4089,
         "cannot take 4089 bytes \\(alignment 8\\): 1 of its 4096 reserved bytes are in use"},
        {"a full pool", 4096, 4096, 1, "cannot take 1 bytes \\(alignment 8\\): 4096 of its 4096"},
        {"a size that wraps the address", 4096, 0, INT64_MAX, "cannot take 9223372036854775807 bytes"},
    };
    for (const Case &c : cases) {
        init(&pool, c.reservation, "test_pool"_s);
        if (c.first) take(&pool, c.first);
        EXPECT_DEATH(take(&pool, c.second), c.pattern) << c.label;
        deinit(&pool);
    }
}

TEST_F(Pool_DeathTest, APoolWithoutASpanHasNothingToGive) {
    EXPECT_DEATH(take(&pool, 1), "cannot take 1 bytes \\(alignment 8\\): 0 of its 0 reserved bytes");
}

TEST_F(Pool_DeathTest, ASecondInitIsRefused) {
    init(&pool, 4096);
    EXPECT_DEATH(init(&pool, 4096), "Bump_Pool at 0x[0-9a-f]+ already has a span of 4096 bytes");
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(Pool_DeathTest, WritingPastTheEndIsReported) {
    init(&pool, 1 * MiB);
    u8 *block = take(&pool, 16);
    block[15] = 1;
    EXPECT_DEATH(static_cast<volatile u8 *>(block)[16] = 1, "use-after-poison");
    reset(&pool);
    EXPECT_DEATH(static_cast<volatile u8 *>(block)[0] = 1, "use-after-poison");
}
#endif

} // namespace
} // namespace tessera
