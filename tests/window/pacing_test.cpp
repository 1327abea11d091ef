// Frame pacing against a clock and a sleep the test controls. Defining these two
// here keeps the real ones (their own object in the library) out of this binary.
#include "window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tessera {

static s128 fake_now = 0;
static s128 fake_oversleep = 0; // added to every sleep, like a late wake-up
static std::vector<s32> sleeps;

s128 os_monotonic_time() {
    return fake_now;
}

void os_sleep_milliseconds(s32 ms) {
    sleeps.push_back(ms);
    fake_now += ms * FEMTOSECONDS_PER_MILLISECOND + fake_oversleep;
}

} // namespace tessera

using namespace tessera;

namespace {

constexpr s128 MS = FEMTOSECONDS_PER_MILLISECOND;

struct Pacing : testing::Test {
    void SetUp() override {
        window = Window{};
        time_discrepancy = 0;
        fake_now = 1'000'000 * MS; // the clock's epoch is arbitrary
        fake_oversleep = 0;
        sleeps.clear();
        window.last_update_time = fake_now;
    }
    void TearDown() override {
        window = Window{};
        time_discrepancy = 0;
    }
    // A frame whose drawing took `work` before window_end_frame.
    void frame(s128 work) {
        fake_now += work;
        window_end_frame();
    }
};

TEST_F(Pacing, NoLimitNeverSleeps) {
    for (s128 limit : {s128{0}, NO_FRAME_TIME_LIMIT, s128{-5}}) {
        window.min_frame_time = limit;
        time_discrepancy = -100 * MS; // whatever it holds
        s128 before = fake_now;
        frame(3 * MS);
        EXPECT_TRUE(sleeps.empty());
        EXPECT_DOUBLE_EQ(window.last_frame_time, 0.003);
        EXPECT_EQ(window.last_update_time, before + 3 * MS);
        EXPECT_EQ(time_discrepancy, -100 * MS);
    }
}

TEST_F(Pacing, SixtyFpsAndAFourMillisecondFrame) {
    set_fps_limit(60);
    frame(4 * MS);
    ASSERT_EQ(sleeps, std::vector<s32>{12}); // 16.666... - 4 truncated
    // The frame time includes the sleep; the error is what truncation dropped.
    EXPECT_DOUBLE_EQ(window.last_frame_time, 0.016);
    EXPECT_EQ(time_discrepancy, 16 * MS - 16'666'666'666'666);
    EXPECT_EQ(window.last_update_time, fake_now);

    // The next frame's budget is corrected by that error: 16.666 + 0.666 - 4.
    frame(4 * MS);
    EXPECT_EQ(sleeps.back(), 13);
    EXPECT_EQ(time_discrepancy, 17 * MS - (4 * MS + (16'666'666'666'666 + 666'666'666'666 - 4 * MS)));
}

TEST_F(Pacing, OversleepMakesTheDiscrepancyPositive) {
    set_fps_limit(100); // exactly 10 ms
    fake_oversleep = MS + MS / 2;
    frame(2 * MS);
    ASSERT_EQ(sleeps, std::vector<s32>{8});
    EXPECT_EQ(time_discrepancy, MS + MS / 2);
    EXPECT_DOUBLE_EQ(window.last_frame_time, 0.0115);
}

TEST_F(Pacing, FrameOverBudgetDoesNotSleepAndKeepsTheDiscrepancy) {
    set_fps_limit(60);
    time_discrepancy = -MS / 3;
    frame(20 * MS);
    EXPECT_TRUE(sleeps.empty());
    EXPECT_EQ(time_discrepancy, -MS / 3);
    EXPECT_DOUBLE_EQ(window.last_frame_time, 0.020);
}

TEST_F(Pacing, LessThanAMillisecondLeftIsAZeroLengthSleep) {
    set_fps_limit(60);
    frame(16 * MS + MS / 4);
    ASSERT_EQ(sleeps, std::vector<s32>{0});
    EXPECT_EQ(time_discrepancy, -(16'666'666'666'666 - 16 * MS - MS / 4));
}

TEST_F(Pacing, FirstFrameMeasuresFromTheLastUpdateTime) {
    window.last_update_time = fake_now - 40 * MS; // as window_init left it
    frame(0);
    EXPECT_DOUBLE_EQ(window.last_frame_time, 0.040);
}

TEST(FpsLimit, RoundTripsOrdinaryRates) {
    for (s64 fps : {1, 30, 60, 75, 120, 144, 165, 240, 1000}) {
        SCOPED_TRACE(fps);
        set_fps_limit(fps);
        EXPECT_GT(window.min_frame_time, 0);
        EXPECT_EQ(get_fps_limit(), fps);
    }
    struct Budget {
        s64 fps;
        s128 femtoseconds;
    } budgets[] = {{60, 16'666'666'666'666},
                   {144, 6'944'444'444'444},
                   {1000, 1'000'000'000'000},
                   {1, FEMTOSECONDS_PER_SECOND}};
    for (const Budget &b : budgets) {
        set_fps_limit(b.fps);
        EXPECT_EQ(window.min_frame_time, b.femtoseconds);
    }
    window = Window{};
}

TEST(FpsLimit, NoLimit) {
    window = Window{};
    EXPECT_EQ(get_fps_limit(), 0) << "before any set_fps_limit";
    for (s64 fps : {0, -5}) {
        set_fps_limit(60);
        set_fps_limit(fps);
        EXPECT_EQ(get_fps_limit(), 0);
        EXPECT_EQ(window.min_frame_time, NO_FRAME_TIME_LIMIT);
    }
    // Low word 0, high word with only its top bit set.
    u128 bits = static_cast<u128>(NO_FRAME_TIME_LIMIT);
    EXPECT_EQ(static_cast<u64>(bits), 0u);
    EXPECT_EQ(static_cast<u64>(bits >> 64), 0x8000000000000000ull);
    window = Window{};
}

TEST(TimeConversions, Table) {
    struct Case {
        f64 seconds;
        s128 femtoseconds;
    } cases[] = {
        {0.0, 0},
        {1.0, FEMTOSECONDS_PER_SECOND},
        {0.001, 1'000'000'000'000},       // the double is a hair above 1 ms
        {1.0 / 3.0, 333'333'333'333'333}, // truncated, not rounded
        {1.0 / 60.0, 16'666'666'666'666},
        {-0.5, -500'000'000'000'000},
        {1e-16, 0},
        {86400.0, 86400 * FEMTOSECONDS_PER_SECOND},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(seconds_to_femtoseconds(c.seconds), c.femtoseconds);
    }
    EXPECT_EQ(seconds_to_femtoseconds(NAN), 0);
    EXPECT_GT(seconds_to_femtoseconds(INFINITY), static_cast<s128>(1) << 120);
    EXPECT_LT(seconds_to_femtoseconds(-1e300), -(static_cast<s128>(1) << 120));

    EXPECT_EQ(femtoseconds_to_milliseconds(16'999'999'999'999), 16);
    EXPECT_EQ(femtoseconds_to_milliseconds(-1'500'000'000'000), -1); // toward zero
    EXPECT_DOUBLE_EQ(femtoseconds_to_seconds(2'500'000'000'000'000), 2.5);
    EXPECT_DOUBLE_EQ(femtoseconds_to_seconds(-250'000'000'000'000), -0.25);
}

} // namespace
