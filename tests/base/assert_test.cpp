#include "base/assert.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tessera;
using testing::ContainsRegex;
using testing::EndsWith;
using testing::StartsWith;

// Outside any namespace and not inlined, so the stack trace names them.
// clang-format off
[[gnu::noinline]] void assert_test_failing_with_message(int value) { ASSERT(value == 1, "value was % (expected %)", value, 1); } const int WITH_MESSAGE_LINE = __LINE__;
[[gnu::noinline]] void assert_test_failing_without_message() { ASSERT(1 + 1 == 3); } const int WITHOUT_MESSAGE_LINE = __LINE__;
// clang-format on

namespace {

// The whole report: location and message on one line, the trace, then "Exiting.".
TEST(AssertDeathTest, ReportShapeWithMessage) {
    std::string location = std::string(__FILE__) + ":" + std::to_string(WITH_MESSAGE_LINE);
    EXPECT_DEATH(
        assert_test_failing_with_message(7),
        testing::AllOf(StartsWith(location + ": Assertion failed: value was 7 (expected 1)\nStack trace:\n"),
                       ContainsRegex("\n  #0 assert_test_failing_with_message\\(int\\)\\+0x[0-9a-f]+ \\("),
                       ContainsRegex("\n  #[0-9]+ main\\+0x"), EndsWith("\nExiting.\n")));
}

TEST(AssertDeathTest, ReportShapeWithoutMessage) {
    std::string location = std::string(__FILE__) + ":" + std::to_string(WITHOUT_MESSAGE_LINE);
    EXPECT_DEATH(assert_test_failing_without_message(),
                 testing::AllOf(StartsWith(location + ": Assertion failed\nStack trace:\n  #0 "
                                                      "assert_test_failing_without_message()+0x"),
                                EndsWith("\nExiting.\n")));
}

TEST(AssertDeathTest, AbortsAbnormally) {
    EXPECT_EXIT(assert_test_failing_without_message(), testing::KilledBySignal(SIGABRT), "Exiting\\.");
}

TEST(Assert, PassingAssertionsDoNothing) {
    ASSERT(true);
    ASSERT(2 > 1, "never printed %", 1);
}

} // namespace
