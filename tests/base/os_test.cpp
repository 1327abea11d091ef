#include "base/os.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

using namespace tessera;

namespace {

// A memory fault: the signal itself, or AddressSanitizer's report of it.
bool died_of_fault(int status) {
#if defined(__SANITIZE_ADDRESS__)
    return WIFEXITED(status) && WEXITSTATUS(status) != 0;
#else
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
#endif
}

TEST(Os, PageSizeIsAPowerOfTwo) {
    u64 p = os_get_page_size();
    EXPECT_GE(p, 4096u);
    EXPECT_EQ(p & (p - 1), 0u);
}

TEST(Os, ReserveCommitDecommit) {
    u64 page = os_get_page_size();
    u8 *base = static_cast<u8 *>(os_reserve(nullptr, 4 * page, false));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(base) % page, 0u);
    ASSERT_TRUE(os_commit(base + page, 2 * page));
    memset(base + page, 0xab, 2 * page);
    os_decommit(base + page, page);
    // Decommitted pages come back zero once committed again.
    ASSERT_TRUE(os_commit(base + page, page));
    EXPECT_EQ(base[page], 0);
    EXPECT_EQ(base[2 * page], 0xab);
    EXPECT_TRUE(os_protect(base + page, page, Memory_Protection::READ_ONLY));
    EXPECT_EQ(base[page], 0);
    os_release(base, 4 * page);
    EXPECT_FALSE(os_commit(base, page)) << "nothing is mapped there any more";
}

TEST(Os, ReserveCommittedIsWritable) {
    u64 page = os_get_page_size();
    u8 *p = static_cast<u8 *>(os_reserve(nullptr, page, true));
    ASSERT_NE(p, nullptr);
    p[page - 1] = 1;
    os_release(p, page);
}

TEST(Os, ImpossibleReservationIsNull) {
    EXPECT_EQ(os_reserve(nullptr, ~0ull - 4095, false), nullptr);
}

TEST(OsDeathTest, ProtectionIsEnforced) {
    u64 page = os_get_page_size();
    struct Case {
        Memory_Protection prot;
        bool write_faults;
    } cases[] = {
        {Memory_Protection::READ_ONLY, true},
        {Memory_Protection::READ_WRITE, false},
        {Memory_Protection::EXEC_READ, true},
        {Memory_Protection::EXEC_READ_WRITE, false},
    };
    for (const Case &c : cases) {
        u8 *p = static_cast<u8 *>(os_reserve(nullptr, page, true));
        ASSERT_TRUE(os_protect(p, page, c.prot));
        volatile u8 *v = p;
        if (c.write_faults) {
            EXPECT_EXIT(v[0] = 1, died_of_fault, "");
        } else {
            v[0] = 1;
            EXPECT_EQ(v[0], 1);
        }
        os_release(p, page);
    }
    u8 *none = static_cast<u8 *>(os_reserve(nullptr, page, false));
    volatile u8 *v = none;
    EXPECT_EXIT((void)v[0], died_of_fault, "");
    os_release(none, page);
}

} // namespace
