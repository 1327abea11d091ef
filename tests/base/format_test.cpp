#include "base/array.h"
#include "base/format.h"
#include "base/log.h"
#include "capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tessera;
using tessera::test::to_std;

namespace {

#define COLOR_LIST(X) X(RED, 0) X(GREEN, 1) X(BLUE, 7)
TESSERA_ENUM(Color, u8, COLOR_LIST)

enum class Unnamed : s32 { A = -3 };

TEST(Format, ArgumentKinds) {
    int local = 0;
    char ptr_text[32];
    snprintf(ptr_text, sizeof ptr_text, "%p", static_cast<void *>(&local));

    struct Case {
        std::string got, expected;
    } cases[] = {
        {to_std(format("plain")), "plain"},
        {to_std(format("% %", 0, -42)), "0 -42"},
        {to_std(format("%", INT64_MIN)), "-9223372036854775808"},
        {to_std(format("%", UINT64_MAX)), "18446744073709551615"},
        {to_std(format("%", static_cast<u8>(200))), "200"},
        {to_std(format("%", static_cast<s128>(-1) << 100)), "-1267650600228229401496703205376"},
        {to_std(format("%", std::numeric_limits<s128>::min())), "-170141183460469231731687303715884105728"},
        {to_std(format("% % %", 1.5, 0.1f, -2.0)), "1.5 0.1 -2"},
        {to_std(format("% %", INFINITY, NAN)), "inf nan"},
        {to_std(format("% %", true, false)), "true false"},
        {to_std(format("% % %", Color::GREEN, Color::BLUE, static_cast<Color>(3))), "GREEN BLUE 3"},
        {to_std(format("%", Unnamed::A)), "-3"},
        {to_std(format("%", static_cast<void *>(&local))), ptr_text},
        {to_std(format("%", nullptr)), "null"},
        {to_std(format("%", static_cast<int *>(nullptr))), "null"},
        {to_std(format("[%]", "c string")), "[c string]"},
        {to_std(format("[%]", "view"_s)), "[view]"},
        {to_std(format("% % %", hex(0), hex(0x3f800000), hex(UINT64_MAX))), "0 3f800000 ffffffffffffffff"},
        {to_std(format("100%% %", 5)), "100% 5"},
        {to_std(format("% %", 1)), "1 %"}, // a placeholder with nothing left stays
        {to_std(format("%", 1, 2)), "1"},  // surplus arguments are ignored
        {to_std(format("%%%", 7)), "%7"},
        {to_std(format("%"_s, "x"_s)), "x"},
    };
    for (const Case &c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(Format, ByteArrays) {
    u8 bytes[150];
    for (int i = 0; i < 150; i++) bytes[i] = static_cast<u8>(i);
    std::string first100;
    for (int i = 0; i < 100; i++) first100 += (i ? ", " : "") + std::to_string(i);

    Array<u8> growable = {};
    array_add(&growable, static_cast<u8>(1));
    array_add(&growable, static_cast<u8>(255));

    struct Case {
        Array_View<u8> v;
        std::string expected;
    } cases[] = {
        {make_view(bytes, 0), "[]"},
        {make_view(bytes + 1, 3), "[1, 2, 3]"},
        {make_view(bytes, 100), "[" + first100 + "]"},
        {make_view(bytes, 101), "[" + first100 + "...]"},
        {make_view(bytes, 150), "[" + first100 + "...]"},
    };
    for (const Case &c : cases) EXPECT_EQ(to_std(format("%", c.v)), c.expected);
    EXPECT_EQ(to_std(format("%", growable)), "[1, 255]");
    array_free(&growable);
}

TEST(Format, ResultLivesInScratchStorage) {
    Arena *scratch = temporary_storage();
    Arena_State before = get_arena_mark(scratch);
    String s = format("% and %", 12345, "words"_s);
    Arena_State after = get_arena_mark(scratch);
    EXPECT_EQ(before.top_region, after.top_region);
    // The result is the newest block of scratch storage, trimmed to its length.
    EXPECT_EQ(reinterpret_cast<u8 *>(after.top_region) + after.bytes_occupied, s.data + s.count);
    set_arena_mark(scratch, before);
}

TEST(Format, LongOutputGrowsInPlace) {
    std::string big(5000, 'q');
    String s = format("<%><%>", make_string(big.data(), 5000), make_string(big.data(), 5000));
    EXPECT_EQ(to_std(s), "<" + big + "><" + big + ">");
}

TEST(Format, LogLeavesScratchStorageAsItWas) {
    test::Recording_Logger recorder;
    Arena *scratch = temporary_storage();
    Arena_State before = get_arena_mark(scratch);
    log("value %", 3);
    Arena_State after = get_arena_mark(scratch);
    EXPECT_EQ(before.top_region, after.top_region);
    EXPECT_EQ(before.bytes_occupied, after.bytes_occupied);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "value 3");
}

TEST(Format, TrailingFlagsAreFlagsNotArguments) {
    test::Recording_Logger recorder;
    log("a % b", 1, Log_Flags::WARNING);
    log("plain", Log_Flags::CONTENT);
    log_error("e %", 2);
    log_error("w", Log_Flags::WARNING);
    log("no flags");
    // Flags in any other position are ordinary arguments.
    log("% middle %", Log_Flags::WARNING, 5);
    struct Case {
        std::string text;
        Log_Flags flags;
    } expected[] = {
        {"a 1 b", Log_Flags::WARNING}, {"plain", Log_Flags::CONTENT},
        {"e 2", Log_Flags::ERROR},     {"w", Log_Flags::ERROR | Log_Flags::WARNING},
        {"no flags", Log_Flags::NONE}, {"2 middle 5", Log_Flags::NONE},
    };
    ASSERT_EQ(recorder.messages.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); i++) {
        EXPECT_EQ(recorder.messages[i].text, expected[i].text);
        EXPECT_EQ(recorder.messages[i].flags, expected[i].flags);
    }
}

} // namespace
