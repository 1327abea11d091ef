#include "base/string.h"

#include <gtest/gtest.h>

using namespace tessera;

namespace {

// Literal views are constant expressions and keep the terminating zero in memory.
constexpr String HELLO = "hello"_s;
static_assert(HELLO.count == 5 && HELLO.data[4] == 'o' && HELLO.data[5] == 0);
static_assert(""_s.count == 0);
static_assert(equal("abc"_s, "abc"_s) && !equal("abc"_s, "abd"_s) && !equal("ab"_s, "abc"_s));

TEST(String, EqualityAndPrefix) {
    char buffer[] = "hello world";
    String a = make_string(buffer, 5);
    EXPECT_TRUE(a == HELLO);
    EXPECT_FALSE(a == from_c_string(buffer));
    EXPECT_TRUE((String{0, nullptr} == String{0, reinterpret_cast<u8 *>(buffer)}));
    EXPECT_EQ(prefix(a, 2).count, 2);
    EXPECT_EQ(prefix(a, 99).count, 5);
    EXPECT_EQ(prefix(a, -1).count, 0);
    EXPECT_EQ(from_c_string(nullptr).count, 0);
    EXPECT_EQ(from_c_string(buffer).count, 11);
}

} // namespace
