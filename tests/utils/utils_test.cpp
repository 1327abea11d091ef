#include "utils.h"
#include "window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace tessera;

namespace {

TEST(Utils, RoundHalvesAwayFromZero) {
    struct Case {
        f64 x, expected;
    } cases[] = {
        {2.5, 3},
        {-2.5, -3},
        {2.4999, 2},
        {0.5, 1},
        {-0.5, -1},
        {7.0, 7},
        {-7.0, -7},
        {1.5, 2},
        {0.49999999999999994, 0}, // x + 0.5 rounds up to 1 in doubles; the difference test does not
        {-0.49999999999999994, -0},
        {4503599627370497.0, 4503599627370497.0}, // 2^52 + 1: no fraction bits left
        {1e300, 1e300},
        {-1e300, -1e300},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(tessera::round(c.x), c.expected);
    }
    f64 negative_zero = tessera::round(-0.4);
    EXPECT_EQ(negative_zero, 0.0);
    EXPECT_TRUE(std::signbit(negative_zero));
    EXPECT_TRUE(std::isnan(tessera::round(NAN)));
    EXPECT_EQ(tessera::round(INFINITY), INFINITY);
}

TEST(Utils, NextPowerOfTwo) {
    struct Case {
        u64 x, expected;
    } cases[] = {
        {0, 0},
        {1, 1},
        {2, 2},
        {3, 4},
        {5, 8},
        {1024, 1024},
        {1025, 2048},
        {1ull << 32, 1ull << 32},
        {(1ull << 32) + 1, 1ull << 33},
        {1ull << 63, 1ull << 63},
        {(1ull << 63) + 1, 0},
        {UINT64_MAX, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(my_next_power_of_two(c.x), c.expected);
    }
}

TEST(Utils, Fnv1aVectors) {
    struct Case {
        String s;
        u64 hash;
    } cases[] = {
        {""_s, FNV1A_64_OFFSET_BASIS},
        {"a"_s, 0xaf63dc4c8601ec8cull},
        {"foobar"_s, 0x85944171f73967e8ull},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(fnv1a_64(c.s), c.hash);
        EXPECT_EQ(create_hashed_string(c.s).hash, c.hash);
    }
    EXPECT_EQ(FNV1A_64_OFFSET_BASIS, 0xcbf29ce484222325ull);
}

TEST(Utils, HashedStringsCompareByHash) {
    constexpr Hashed_String constant = "u_projection"_hs;
    static_assert(constant.name.count == 12 && constant.hash == fnv1a_64("u_projection"_s));
    char text[] = "u_projection";
    Hashed_String made = create_hashed_string(make_string(text, 12));
    EXPECT_TRUE(made == constant);
    EXPECT_EQ(made.name.data, reinterpret_cast<u8 *>(text)) << "the result views the caller's bytes";
    EXPECT_EQ(get_hash(made), static_cast<u32>(made.hash));

    Hashed_String again = create_hashed_string("u_projection"_s);
    EXPECT_TRUE(again == made);

    // Names play no part in equality.
    Hashed_String a = {"one"_s, 99}, b = {"two"_s, 99}, c = {"one"_s, 98};
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(compare_proc(a, b));
    EXPECT_FALSE(a == c);
    EXPECT_FALSE(compare_proc(a, c));
}

// The table keeps its own copy of each name, so bytes that change or go away
// after the call cannot make a later call see a false collision.
TEST(Utils, HashedStringTableOwnsItsNames) {
    char scratch[] = "uniform_abc";
    u64 hash = create_hashed_string(make_string(scratch, 11)).hash;
    memcpy(scratch, "XXXXXXXXXXX", 11);
    EXPECT_EQ(create_hashed_string("uniform_abc"_s).hash, hash);
    Hashed_String *stored = table_find(&hashed_strings, hash);
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(equal(stored->name, "uniform_abc"_s));
}

TEST(UtilsDeathTest, CollisionStopsWithBothNames) {
    // A stored entry under "foo"'s hash with another name stands in for a real
    // 64-bit collision.
    u64 hash = fnv1a_64("foo"_s);
    std::string expected = "Assertion failed: Hasshes for strings \"foo\" and \"bar\" collided \\(" +
                           std::to_string(hash) + "\\)\n";
    EXPECT_DEATH(
        {
            table_set(&hashed_strings, hash, Hashed_String{"bar"_s, hash});
            create_hashed_string("foo"_s);
        },
        expected);
}

s32 fps_after(f64 frame_time) {
    window.last_frame_time = frame_time;
    return smooth_fps();
}

TEST(Utils, SmoothFpsSequence) {
    fps_smoothing = {};
    // Unseen frames count as zero-length: k frames of 1/60 s read as 1920 / k.
    for (int k = 1; k <= 32; k++) {
        SCOPED_TRACE(k);
        EXPECT_EQ(fps_after(1.0 / 60), static_cast<s32>(tessera::round(1920.0 / k)));
    }
    for (int k = 0; k < 40; k++) EXPECT_EQ(fps_after(1.0 / 60), 60);
    // A new rate takes over completely after 32 frames.
    for (int k = 0; k < 31; k++) fps_after(1.0 / 30);
    EXPECT_NE(fps_after(1.0 / 30), 60);
    EXPECT_EQ(fps_after(1.0 / 30), 30);
    EXPECT_EQ(fps_smoothing.curr_index, (32 + 40 + 32 + 1) % 32u);
}

TEST(Utils, SmoothFpsEdges) {
    fps_smoothing = {};
    EXPECT_EQ(fps_after(0), 0) << "no frame measured yet";
    EXPECT_EQ(fps_after(1e-18), INT32_MAX) << "too fast for s32 saturates";
    fps_smoothing = {};
    EXPECT_EQ(fps_after(NAN), 0);
    fps_smoothing = {};
    EXPECT_EQ(fps_after(-1e-18), INT32_MIN);
    fps_smoothing = {};
    window.last_frame_time = 0;
}

} // namespace
