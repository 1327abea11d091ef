#include "arena.h"
#include "base/context.h"
#include "base/format.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace tessera;

u64 page() {
    return get_page_size();
}

u8 *bytes(const Region *r) {
    return reinterpret_cast<u8 *>(const_cast<Region *>(r));
}

u64 offset_in(const Region *r, const void *p) {
    return static_cast<u64>(static_cast<const u8 *>(p) - bytes(r));
}

u64 header_committed(const Region *r) {
    return static_cast<u64>(r->committed_pages) * page();
}

// The whole record, for "the arena is unchanged" checks.
auto record(const Arena &a) {
    return std::tuple(a.begin, a.current, a.current_region_occupied, a.current_region_committed,
                      a.last_allocation, a.current ? a.current->committed_pages : 0u);
}

// 0 when every page of the range is mapped, else mincore's errno (ENOMEM: some
// page is not). mincore touches nothing, so reserved-only memory is fine.
int mapping_state(const void *p, u64 size) {
    std::vector<unsigned char> residency((size + page() - 1) / page());
    return mincore(const_cast<void *>(p), size, residency.data()) == 0 ? 0 : errno;
}

// True when every byte of the range lies in readable and writable mappings
// (neighbouring mappings with the same protection may or may not be merged).
bool is_read_write(const void *p, u64 size) {
    struct Mapping {
        uintptr_t begin, end;
        bool rw;
    };
    std::vector<Mapping> maps;
    FILE *f = fopen("/proc/self/maps", "r");
    if (!f) return false;
    char line[512];
    while (fgets(line, sizeof line, f)) {
        unsigned long begin = 0, end = 0;
        char perms[5] = {};
        if (sscanf(line, "%lx-%lx %4s", &begin, &end, perms) == 3) {
            maps.push_back({begin, end, perms[0] == 'r' && perms[1] == 'w'});
        }
    }
    fclose(f);
    uintptr_t at = reinterpret_cast<uintptr_t>(p), stop = at + size;
    while (at < stop) {
        const Mapping *m = nullptr;
        for (const Mapping &candidate : maps) {
            if (candidate.begin <= at && at < candidate.end) m = &candidate;
        }
        if (!m || !m->rw) return false;
        at = m->end;
    }
    return true;
}

struct Logged {
    std::string text;
    Log_Flags flags;
};

void record_message(String message, void *data, Log_Info info) {
    static_cast<std::vector<Logged> *>(data)->push_back(
        {std::string(reinterpret_cast<const char *>(message.data), static_cast<size_t>(message.count)),
         info.common_flags});
}

template <typename... Args>
std::string formatted(Format_String fmt, const Args &...args) {
    Temporary_Scope scratch;
    String s = format(fmt, args...);
    return std::string(reinterpret_cast<const char *>(s.data), static_cast<size_t>(s.count));
}

class ArenaTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Scratch storage (used by logging) reserves its span on first use; have
        // it in place before a test punches holes in the address space.
        temporary_storage();
        saved_logger = context().logger;
        saved_data = context().logger_data;
        context().logger = record_message;
        context().logger_data = &logged;
    }

    void TearDown() override {
        context().logger = saved_logger;
        context().logger_data = saved_data;
        arena_deinit(&a);
        arena_deinit(&b);
        for (const Logged &m : logged) ADD_FAILURE() << "unexpected message: " << m.text;
    }

    // The one message logged since the last call, which must be an error.
    void expect_one_error(const std::string &text) {
        std::vector<Logged> got = std::exchange(logged, {});
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].text, text);
        EXPECT_TRUE(has_any(got[0].flags, Log_Flags::ERROR));
    }

    // Allocates `size`-byte blocks until a block lands in a new region; returns it.
    void *fill_current_region(Arena *arena, u64 size) {
        Region *start = arena->current;
        for (;;) {
            void *p = arena_alloc(arena, size, 0);
            if (!p) return nullptr;
            if (arena->current != start) return p;
        }
    }

    Arena a{};
    Arena b{};
    std::vector<Logged> logged;
    Logger_Proc saved_logger = nullptr;
    void *saved_data = nullptr;
};

// ---- Layout of the first region and of growth -------------------------------

TEST_F(ArenaTest, FirstAllocationOfEmptyArenaReservesAndCommitsOnePage) {
    u8 *p = static_cast<u8 *>(arena_alloc(&a, 100, 0));
    ASSERT_NE(a.begin, nullptr);
    EXPECT_EQ(a.current, a.begin);
    EXPECT_EQ(p, bytes(a.begin) + 16);
    EXPECT_EQ(region_reserved(a.begin), page());
    EXPECT_EQ(a.current_region_committed, page());
    EXPECT_EQ(a.begin->reserved_pages, 1u);
    EXPECT_EQ(a.begin->committed_pages, 1u);
    EXPECT_EQ(a.begin->next, nullptr);

    EXPECT_EQ(arena_alloc(&a, 100, 0), bytes(a.begin) + 116);
    EXPECT_EQ(a.current_region_occupied, 216u);
}

// A zero-byte request still opens the first region and returns a real address.
TEST_F(ArenaTest, ZeroBytesFromAnEmptyArena) {
    for (u32 alignment : {0u, 8u}) {
        Arena empty{};
        void *p = arena_alloc(&empty, 0, alignment);
        ASSERT_NE(empty.begin, nullptr);
        EXPECT_EQ(p, bytes(empty.begin) + 16);
        arena_deinit(&empty);
    }
}

TEST_F(ArenaTest, ReallocOfNullOnEmptyArenaIsAllocWithoutAlignment) {
    for (u64 amount : {u64{0}, u64{1}, u64{100}, page() - 16, page(), 3 * page()}) {
        SCOPED_TRACE(amount);
        Arena by_alloc{}, by_realloc{};
        void *p = arena_alloc(&by_alloc, amount, 0);
        void *q = arena_realloc(&by_realloc, nullptr, amount, false);
        ASSERT_NE(by_alloc.begin, nullptr);
        ASSERT_NE(by_realloc.begin, nullptr);
        EXPECT_EQ(offset_in(by_alloc.begin, p), 16u);
        EXPECT_EQ(offset_in(by_realloc.begin, q), 16u);
        EXPECT_EQ(region_reserved(by_alloc.begin), region_reserved(by_realloc.begin));
        EXPECT_EQ(by_alloc.current_region_committed, by_realloc.current_region_committed);
        EXPECT_EQ(region_reserved(by_realloc.begin), align_up_pow2(amount + 16, page()));
        EXPECT_EQ(by_realloc.current_region_occupied, 16 + amount);
        // The block it returned is the most recent one.
        EXPECT_TRUE(arena_is_last_allocation(&by_realloc, q));
        arena_deinit(&by_alloc);
        arena_deinit(&by_realloc);
    }
}

struct Alignment_Case {
    u64 reserve; // for arena_init; 0 leaves the arena empty
    u64 before;  // bytes allocated first, unaligned; 0 for none
    u32 alignment;
    u64 expected_offset;
};

TEST_F(ArenaTest, AlignmentAppliesToTheOffsetInTheRegion) {
    const u64 P = page();
    const Alignment_Case cases[] = {
        {16 * P, 0, 0, 16},     {16 * P, 0, 1, 16},    {16 * P, 0, 8, 16},
        {16 * P, 0, 16, 16},    {16 * P, 0, 64, 64},   {16 * P, 0, static_cast<u32>(P), P},
        {0, 0, 64, 64},         {16 * P, 100, 0, 116}, {16 * P, 100, 8, 120},
        {16 * P, 100, 64, 128}, {16 * P, 100, 4, 116},
    };
    for (const Alignment_Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "reserve " << c.reserve << ", before " << c.before << ", alignment " << c.alignment);
        Arena x{};
        if (c.reserve) arena_init(&x, c.reserve);
        if (c.before) arena_alloc(&x, c.before, 0);
        void *p = arena_alloc(&x, 100, c.alignment);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(x.current, x.begin);
        EXPECT_EQ(offset_in(x.current, p), c.expected_offset);
        if (c.alignment) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % c.alignment, 0u);
        }
        EXPECT_EQ(x.current_region_occupied, c.expected_offset + 100);
        arena_deinit(&x);
    }
}

TEST_F(ArenaTest, EachRegionOpenedForSmallBlocksIsOnePageLargerAndCommittedWhole) {
    const u64 P = page();
    arena_alloc(&a, 64, 0);
    std::vector<Region *> regions = {a.begin};
    while (regions.size() < 4) {
        u8 *p = static_cast<u8 *>(fill_current_region(&a, 64));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(regions.back()->next, a.current);
        EXPECT_EQ(p, bytes(a.current) + 16);
        regions.push_back(a.current);
    }
    for (size_t i = 0; i < regions.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(region_reserved(regions[i]), (i + 1) * P);
        EXPECT_EQ(regions[i]->committed_pages, regions[i]->reserved_pages);
    }
    EXPECT_EQ(a.current_region_committed, region_reserved(a.current));
    EXPECT_EQ(regions.back()->next, nullptr);
}

TEST_F(ArenaTest, AllocationLargerThanTheRegionOpensAmountPlus32BytesInWholePages) {
    const u64 P = page();
    // (amount, expected reservation): the first two sit right at page boundaries
    // of amount + 32.
    const std::pair<u64, u64> cases[] = {
        {2 * P - 32, 2 * P}, {2 * P - 31, 3 * P}, {3 * P - 20, 4 * P}, {5 * P, 6 * P}};
    for (auto [amount, expected] : cases) {
        SCOPED_TRACE(amount);
        Arena x{};
        arena_alloc(&x, 8, 0);
        ASSERT_EQ(region_reserved(x.begin), P);
        u8 *p = static_cast<u8 *>(arena_alloc(&x, amount, 0));
        ASSERT_NE(p, nullptr);
        ASSERT_NE(x.current, x.begin);
        EXPECT_EQ(x.begin->next, x.current);
        EXPECT_EQ(p, bytes(x.current) + 16);
        EXPECT_EQ(region_reserved(x.current), expected);
        EXPECT_EQ(x.current_region_committed, expected);
        memset(p, 0x5a, amount);
        arena_deinit(&x);
    }
}

// ---- Rewinding ---------------------------------------------------------------

TEST_F(ArenaTest, ResetStartsAgainAtTheFirstRegionAndReusesTheSecond) {
    arena_alloc(&a, 64, 0);
    u8 *first_in_second = static_cast<u8 *>(fill_current_region(&a, 64));
    ASSERT_NE(first_in_second, nullptr);
    Region *second = a.current;
    arena_alloc(&a, 100, 0);

    arena_reset(&a);
    EXPECT_EQ(a.current, a.begin);
    EXPECT_EQ(a.current_region_occupied, 16u);
    EXPECT_EQ(arena_alloc(&a, 64, 0), bytes(a.begin) + 16);

    EXPECT_EQ(fill_current_region(&a, 64), first_in_second);
    ASSERT_EQ(a.current, second);
    EXPECT_EQ(a.begin->next, second);
    EXPECT_EQ(second->next, nullptr);
    EXPECT_EQ(a.current_region_committed, region_reserved(second));
}

struct Mark_Case {
    const char *name;
    int before; // 64-byte blocks allocated before the mark
    int after;  // blocks allocated after the mark (beyond the first)
    u64 size;
    u32 alignment;
};

TEST_F(ArenaTest, SetMarkReplaysTheAddressesHandedOutAfterTheMark) {
    const int per_page = static_cast<int>(page() / 64);
    const Mark_Case cases[] = {
        {"empty arena", 0, 3, 100, 0},
        {"within the first region", 5, 3, 100, 64},
        {"spilling into later regions", 5, 6 * per_page, 100, 0},
        {"from the second region into the third", per_page + 5, 12 * per_page, 24, 8},
    };
    for (const Mark_Case &c : cases) {
        SCOPED_TRACE(c.name);
        Arena x{};
        for (int i = 0; i < c.before; i++) arena_alloc(&x, 64, 0);
        Arena_State mark = get_arena_mark(&x);
        EXPECT_EQ(mark.top_region, x.current);

        std::vector<void *> handed_out;
        for (int i = 0; i <= c.after; i++) handed_out.push_back(arena_alloc(&x, c.size, c.alignment));
        Region *last_region = x.current;

        set_arena_mark(&x, mark);
        EXPECT_EQ(x.current, mark.top_region ? mark.top_region : x.begin);
        for (size_t i = 0; i < handed_out.size(); i++) {
            ASSERT_EQ(arena_alloc(&x, c.size, c.alignment), handed_out[i]) << "block " << i;
        }
        EXPECT_EQ(x.current, last_region);
        arena_deinit(&x);
    }
}

// Moving back to a region used before takes its committed extent from its
// header, never more than is really committed.
struct Revisit_Case {
    const char *name;
    // Leaves `a` in a region it used before; returns that region's committed
    // extent as it was when the arena left it.
    u64 (*revisit)(Arena *a);
};

TEST_F(ArenaTest, RevisitedRegionClaimsExactlyItsCommittedExtent) {
    const Revisit_Case cases[] = {
        {"arena_reset to a first region committed in part",
         [](Arena *x) {
             arena_init(x, 64 << 20);
             void *p = arena_alloc(x, 2 * page(), 0);
             u64 committed = x->current_region_committed;
             arena_realloc(x, p, 65 << 20, true); // moves to a second region
             arena_reset(x);
             return committed;
         }},
        {"set_arena_mark to a first region committed in part",
         [](Arena *x) {
             arena_init(x, 64 << 20);
             void *p = arena_alloc(x, 2 * page(), 0);
             Arena_State mark = get_arena_mark(x);
             u64 committed = x->current_region_committed;
             arena_realloc(x, p, 65 << 20, true);
             set_arena_mark(x, mark);
             return committed;
         }},
        {"reuse of a follower committed in part",
         [](Arena *x) {
             arena_init(x, 0);             // one page
             new_region(x, 8 * page(), 0); // a follower with one page committed
             u64 committed = x->current_region_committed;
             arena_reset(x);
             arena_alloc(x, page() - 16, 0); // the first region is full
             arena_alloc(x, 64, 0);          // moves on to the follower
             return committed;
         }},
    };
    for (const Revisit_Case &c : cases) {
        SCOPED_TRACE(c.name);
        Arena x{};
        u64 committed_before = c.revisit(&x);
        ASSERT_NE(x.current, nullptr);
        ASSERT_LT(committed_before, region_reserved(x.current))
            << "the case must revisit a region committed in part";

        ASSERT_EQ(x.current_region_committed, committed_before);
        ASSERT_EQ(x.current_region_committed, header_committed(x.current));
        ASSERT_TRUE(is_read_write(x.current, x.current_region_committed));

        // Everything up to the claimed extent is handed out without committing, and is writable.
        u64 rest = x.current_region_committed - x.current_region_occupied;
        u8 *p = static_cast<u8 *>(arena_alloc(&x, rest, 0));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(x.current_region_committed, committed_before);
        memset(p, 0xc3, rest);

        // Past it the arena commits more, and the header follows.
        u8 *q = static_cast<u8 *>(arena_alloc(&x, page(), 0));
        ASSERT_NE(q, nullptr);
        EXPECT_GT(x.current_region_committed, committed_before);
        EXPECT_EQ(x.current_region_committed, header_committed(x.current));
        memset(q, 0x3c, page());
        arena_deinit(&x);
    }
}

// Linking a new region after a current region that has followers releases them.
enum class Rewind { RESET, MARK_IN_FIRST, MARK_IN_SECOND };
enum class Opener { TOO_BIG_ALLOCATION, RELOCATING_REALLOC };

struct Release_Case {
    const char *name;
    Rewind rewind;
    Opener opener;
};

TEST_F(ArenaTest, NewRegionReleasesTheFollowersItReplaces) {
    const Release_Case cases[] = {
        {"reset, then an allocation too big for the follower", Rewind::RESET, Opener::TOO_BIG_ALLOCATION},
        {"reset, then a relocating realloc", Rewind::RESET, Opener::RELOCATING_REALLOC},
        {"mark in the first region, then too big", Rewind::MARK_IN_FIRST, Opener::TOO_BIG_ALLOCATION},
        {"mark in the second region, then relocating", Rewind::MARK_IN_SECOND, Opener::RELOCATING_REALLOC},
    };
    for (const Release_Case &c : cases) {
        SCOPED_TRACE(c.name);
        Arena x{};
        arena_alloc(&x, 8, 0);
        Arena_State mark_first = get_arena_mark(&x);
        ASSERT_NE(fill_current_region(&x, 64), nullptr);
        Arena_State mark_second = get_arena_mark(&x);
        ASSERT_NE(fill_current_region(&x, 64), nullptr);
        Region *regions[3] = {x.begin, x.begin->next, x.current};
        ASSERT_EQ(regions[1]->next, regions[2]);
        u64 sizes[3];
        for (int i = 0; i < 3; i++) sizes[i] = region_reserved(regions[i]);

        int kept = 1;
        switch (c.rewind) {
        case Rewind::RESET:
            arena_reset(&x);
            break;
        case Rewind::MARK_IN_FIRST:
            set_arena_mark(&x, mark_first);
            break;
        case Rewind::MARK_IN_SECOND:
            set_arena_mark(&x, mark_second);
            kept = 2;
            break;
        }
        Region *rewound = x.current;
        ASSERT_EQ(rewound, regions[kept - 1]);

        // Larger than every existing region, so no follower can be reused.
        u64 big = 4 * page();
        if (c.opener == Opener::TOO_BIG_ALLOCATION) {
            ASSERT_NE(arena_alloc(&x, big, 0), nullptr);
        } else {
            void *p = arena_alloc(&x, 8, 0);
            ASSERT_EQ(x.current, rewound);
            ASSERT_NE(arena_realloc(&x, p, big, true), nullptr);
        }

        for (int i = kept; i < 3; i++)
            EXPECT_EQ(mapping_state(regions[i], sizes[i]), ENOMEM) << "region " << i;
        for (int i = 0; i < kept; i++) EXPECT_EQ(mapping_state(regions[i], sizes[i]), 0) << "region " << i;
        EXPECT_EQ(rewound->next, x.current);
        EXPECT_EQ(x.current->next, nullptr);
        for (int i = 0; i < 3; i++) EXPECT_NE(x.current, regions[i]);
        arena_deinit(&x);
    }
}

// ---- Commit steps --------------------------------------------------------------

TEST_F(ArenaTest, CommitsAheadInFixedStepsButNeverBeyondTheReservation) {
    const u64 P = page();
    arena_init(&a, 256 << 20);
    ASSERT_EQ(a.current_region_committed, P);

    // Crossing the committed end by a little commits one step.
    ASSERT_NE(arena_alloc(&a, P, 0), nullptr);
    u64 step = a.current_region_committed - P;
    EXPECT_GE(step, P);
    EXPECT_EQ(step % P, 0u);
    EXPECT_EQ(a.current_region_committed, header_committed(a.current));

    // The step is the same each time.
    u64 committed = a.current_region_committed;
    ASSERT_NE(arena_alloc(&a, committed - a.current_region_occupied, 0), nullptr);
    EXPECT_EQ(a.current_region_committed, committed);
    ASSERT_NE(arena_alloc(&a, 1, 0), nullptr);
    EXPECT_EQ(a.current_region_committed, committed + step);

    // A request larger than a step commits what it needs, in whole pages.
    committed = a.current_region_committed;
    u64 needed = a.current_region_occupied + 3 * step - committed;
    ASSERT_NE(arena_alloc(&a, 3 * step, 0), nullptr);
    EXPECT_EQ(a.current_region_committed, committed + align_up_pow2(needed, P));
    EXPECT_TRUE(is_read_write(a.current, a.current_region_committed));

    // A region smaller than a step is committed to its end, not past it.
    arena_init(&b, 2 * P); // three pages with the header
    ASSERT_EQ(region_reserved(b.begin), 3 * P);
    u8 *p = static_cast<u8 *>(arena_alloc(&b, P, 0));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(b.current_region_committed, std::min(P + step, 3 * P));
    EXPECT_EQ(b.current_region_committed, header_committed(b.begin));
    memset(p, 1, P);
    u8 *q = static_cast<u8 *>(arena_alloc(&b, 3 * P - b.current_region_occupied, 0));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(b.current, b.begin);
    EXPECT_EQ(b.current_region_committed, 3 * P);
}

// A failed commit refuses the request with one logged error. The failure is real:
// the tail of the reservation is unmapped, so mprotect fails with ENOMEM.
struct Commit_Failure_Case {
    const char *name;
    void *(*request)(Arena *a, void *last, u64 reserved);
};

TEST_F(ArenaTest, FailedCommitReturnsNullWithOneError) {
    const Commit_Failure_Case cases[] = {
        {"arena_alloc to the end of the region",
         [](Arena *x, void *, u64 reserved) {
             return arena_alloc(x, reserved - x->current_region_occupied, 0);
         }},
        {"arena_realloc growing in place to the end of the region",
         [](Arena *x, void *last, u64 reserved) { return arena_realloc(x, last, reserved - 16, false); }},
    };
    for (const Commit_Failure_Case &c : cases) {
        SCOPED_TRACE(c.name);
        Arena x{};
        arena_init(&x, 1 << 20);
        u8 *base = bytes(x.begin);
        u64 reserved = region_reserved(x.begin);
        void *last = arena_alloc(&x, 100, 0);
        ASSERT_EQ(last, base + 16);

        u64 keep = align_up_pow2(64 << 10, page());
        ASSERT_LT(keep, reserved);
        ASSERT_EQ(munmap(base + keep, reserved - keep), 0);

        auto before = record(x);
        u64 committed = x.current_region_committed;
        EXPECT_EQ(c.request(&x, last, reserved), nullptr);
        expect_one_error(formatted(ARENA_COMMIT_FAILED, reserved - committed,
                                   static_cast<void *>(base + committed), reserved));
        EXPECT_EQ(record(x), before);

        // What is committed is still handed out.
        void *small = arena_alloc(&x, 8, 0);
        EXPECT_EQ(small, base + 116);
        memset(small, 0, 8);

        // Fill the hole again before releasing the whole reservation; if something
        // else has taken the range meanwhile, leak the arena instead of unmapping it.
        void *refill = mmap(base + keep, reserved - keep, PROT_NONE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (refill == base + keep) {
            arena_deinit(&x);
        } else if (refill != MAP_FAILED) {
            munmap(refill, reserved - keep);
        }
    }
}

// ---- arena_realloc -----------------------------------------------------------

struct Resize_Case {
    const char *name;
    u64 from, to;
};

TEST_F(ArenaTest, ReallocOfTheLastBlockResizesInPlace) {
    const u64 P = page();
    const Resize_Case cases[] = {
        {"shrink", 200, 120},
        {"grow within the committed pages", 200, 300},
        {"grow, committing more pages", 200, 3 * P},
        {"to zero", 200, 0},
    };
    for (const Resize_Case &c : cases) {
        SCOPED_TRACE(c.name);
        Arena x{};
        arena_init(&x, 16 * P);
        arena_alloc(&x, 40, 0);
        u8 *p = static_cast<u8 *>(arena_alloc(&x, c.from, 0));
        for (u64 i = 0; i < c.from; i++) p[i] = static_cast<u8>(i);

        EXPECT_EQ(arena_realloc(&x, p, c.to, false), p);
        EXPECT_EQ(x.current_region_occupied, offset_in(x.current, p) + c.to);
        EXPECT_LE(x.current_region_occupied, x.current_region_committed);
        for (u64 i = 0; i < std::min(c.from, c.to); i++) ASSERT_EQ(p[i], static_cast<u8>(i)) << "byte " << i;
        if (c.to) memset(p, 0xee, c.to);
        // The tail is free again; the resized block stays the most recent one.
        EXPECT_EQ(arena_alloc(&x, 8, 0), p + c.to);
        arena_deinit(&x);
    }
}

TEST_F(ArenaTest, ReallocBeyondTheRegionWithRelocationRefused) {
    arena_init(&a, page());
    void *p = arena_alloc(&a, 100, 0);
    auto before = record(a);
    EXPECT_EQ(arena_realloc(&a, p, region_reserved(a.current), false), nullptr);
    expect_one_error(ARENA_REALLOC_NO_RELOCATION);
    EXPECT_EQ(record(a), before);
    EXPECT_EQ(a.begin->next, nullptr);
}

TEST_F(ArenaTest, RelocatingReallocCopiesOnlyTheBlockAndCountsOnlyTheNewSize) {
    const u64 P = page();
    arena_init(&a, P);
    Region *old_region = a.current;
    u8 *p = static_cast<u8 *>(arena_alloc(&a, 200, 0));
    memset(p, 0xab, 200);
    // Shrunk: the old bytes past the block are still in memory, but are not the block's.
    ASSERT_EQ(arena_realloc(&a, p, 100, false), p);

    u64 amount = 3 * P;
    u8 *moved = static_cast<u8 *>(arena_realloc(&a, p, amount, true));
    ASSERT_NE(moved, nullptr);
    ASSERT_NE(a.current, old_region);
    EXPECT_EQ(old_region->next, a.current);
    EXPECT_EQ(moved, bytes(a.current) + 16);
    EXPECT_EQ(region_reserved(a.current), align_up_pow2(amount + 16, P));
    for (int i = 0; i < 100; i++) ASSERT_EQ(moved[i], 0xab) << "byte " << i;
    for (u64 i = 100; i < amount; i++) ASSERT_EQ(moved[i], 0) << "byte " << i;
    EXPECT_EQ(p[0], 0xab) << "the old block stays where it was";

    EXPECT_EQ(a.current_region_occupied, 16 + amount);
    EXPECT_TRUE(arena_is_last_allocation(&a, moved));
    EXPECT_EQ(arena_realloc(&a, moved, amount + 8, false), moved);
    EXPECT_EQ(arena_alloc(&a, 8, 0), moved + amount + 8);
}

TEST_F(ArenaTest, ReallocOfPointerOutsideTheCurrentRegionIsRefused) {
    u8 *old_block = static_cast<u8 *>(arena_alloc(&a, 100, 0));
    ASSERT_NE(arena_alloc(&a, 4 * page(), 0), nullptr); // a second region
    ASSERT_NE(a.current, a.begin);
    u8 *base = bytes(a.current);
    u8 *first_usable = base + 16;
    u8 *past_end = reinterpret_cast<u8 *>(reinterpret_cast<uintptr_t>(base) + region_reserved(a.current) + 1);

    for (u8 *foreign : {old_block, base + 8, past_end}) {
        SCOPED_TRACE(static_cast<void *>(foreign));
        auto before = record(a);
        EXPECT_EQ(arena_realloc(&a, foreign, 10, true), nullptr);
        expect_one_error(formatted(ARENA_REALLOC_FOREIGN_POINTER, static_cast<void *>(foreign),
                                   static_cast<void *>(first_usable)));
        EXPECT_EQ(record(a), before);
    }
}

enum class Then { NOTHING, RESET, REWIND_BETWEEN };
enum class Pointer { OLDER, LAST, INSIDE_LAST };

struct Not_Last_Case {
    const char *name;
    Then then; // what happens after the two blocks are allocated
    Pointer pointer;
};

TEST_F(ArenaTest, ReallocOfABlockThatIsNotTheMostRecentIsRefused) {
    const Not_Last_Case cases[] = {
        {"an older block", Then::NOTHING, Pointer::OLDER},
        {"inside the most recent block", Then::NOTHING, Pointer::INSIDE_LAST},
        {"the most recent block after a reset", Then::RESET, Pointer::LAST},
        {"the most recent block after rewinding to a mark before it", Then::REWIND_BETWEEN, Pointer::LAST},
    };
    for (const Not_Last_Case &c : cases) {
        SCOPED_TRACE(c.name);
        Arena x{};
        arena_init(&x, 16 * page());
        u8 *older = static_cast<u8 *>(arena_alloc(&x, 100, 0));
        Arena_State between = get_arena_mark(&x);
        u8 *last = static_cast<u8 *>(arena_alloc(&x, 100, 0));
        if (c.then == Then::RESET) arena_reset(&x);
        if (c.then == Then::REWIND_BETWEEN) set_arena_mark(&x, between);
        u8 *pointer = c.pointer == Pointer::OLDER ? older : c.pointer == Pointer::LAST ? last : last + 8;
        // A rewind leaves no block of the region the most recent one.
        void *most_recent = c.then == Then::NOTHING ? last : nullptr;

        auto before = record(x);
        for (bool allow_relocation : {false, true}) {
            EXPECT_EQ(arena_realloc(&x, pointer, 40, allow_relocation), nullptr);
            expect_one_error(formatted(ARENA_REALLOC_NOT_LAST, static_cast<void *>(pointer), most_recent));
        }
        EXPECT_EQ(record(x), before);
        arena_deinit(&x);
    }
}

// ---- Lifecycle -----------------------------------------------------------------

TEST_F(ArenaTest, DeinitReleasesEveryRegionAndZeroesTheRecord) {
    arena_deinit(&a); // an empty arena: nothing to do
    EXPECT_EQ(record(a), record(Arena{}));

    arena_init(&a, 1 << 20);
    arena_alloc(&a, 100, 0);
    arena_alloc(&a, 2 << 20, 0);
    Region *regions[2] = {a.begin, a.current};
    u64 sizes[2] = {region_reserved(a.begin), region_reserved(a.current)};
    ASSERT_NE(regions[0], regions[1]);

    arena_deinit(&a);
    for (int i = 0; i < 2; i++) EXPECT_EQ(mapping_state(regions[i], sizes[i]), ENOMEM) << "region " << i;
    if (record(a) != record(Arena{})) {
        a = Arena{}; // releasing it again in TearDown would walk unmapped headers
        FAIL() << "arena_deinit left the record pointing at released regions";
    }

    // The record is empty again, so arena_init's precondition holds.
    arena_init(&a, page());
    ASSERT_NE(a.begin, nullptr);
    EXPECT_EQ(arena_alloc(&a, 100, 0), bytes(a.begin) + 16);
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(ArenaTest, UnusedCommittedBytesArePoisoned) {
    arena_init(&a, 16 * page());
    u8 *p = static_cast<u8 *>(arena_alloc(&a, 100, 0));
    u8 *q = static_cast<u8 *>(arena_alloc(&a, 37, 8));
    ASSERT_EQ(q, p + 104);
    EXPECT_EQ(__asan_region_is_poisoned(p, 100), nullptr);
    EXPECT_EQ(__asan_region_is_poisoned(q, 37), nullptr);
    EXPECT_TRUE(__asan_address_is_poisoned(q + 37)) << "the byte just past the last block";
    EXPECT_TRUE(__asan_address_is_poisoned(bytes(a.current) + a.current_region_committed - 1));

    // A shrunk block's tail is poisoned again.
    ASSERT_EQ(arena_realloc(&a, q, 10, false), q);
    EXPECT_TRUE(__asan_address_is_poisoned(q + 10));

    arena_reset(&a);
    EXPECT_TRUE(__asan_address_is_poisoned(p));
    EXPECT_TRUE(__asan_address_is_poisoned(p + 99));
    EXPECT_TRUE(__asan_address_is_poisoned(q));
}

// Rewinding before a region poisons what was handed out in the regions after it.
TEST_F(ArenaTest, RewindPoisonsFollowingRegions) {
    arena_alloc(&a, 8, 0);
    arena_alloc(&a, 2 * page(), 0); // opens a second region
    u8 *later = static_cast<u8 *>(arena_alloc(&a, 64, 0));
    ASSERT_NE(a.current, a.begin);
    Arena_State start = {a.begin, 16};
    for (bool by_mark : {false, true}) {
        SCOPED_TRACE(by_mark);
        EXPECT_FALSE(__asan_address_is_poisoned(later));
        if (by_mark) {
            set_arena_mark(&a, start);
        } else {
            arena_reset(&a);
        }
        EXPECT_TRUE(__asan_address_is_poisoned(later));
        arena_alloc(&a, 8, 0);
        later = static_cast<u8 *>(arena_alloc(&a, 2 * page() + 64, 0)); // back into the second region
        ASSERT_NE(a.current, a.begin);
    }
}
#endif

} // namespace
