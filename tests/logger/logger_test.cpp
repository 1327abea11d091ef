#include "base/log.h"
#include "capture.h"
#include "logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace tessera;
using tessera::test::Captured_Output;

namespace {

const std::string LOG_TAG = "\x1b[36m[LOG]   \x1b[0m";
const std::string ERROR_TAG = "\x1b[31m[ERROR] \x1b[0m";
const std::string WARN_TAG = "\x1b[33m[WARN]  \x1b[0m";

struct Written {
    std::string out, err;
};

Written write_through_logger(String message, Log_Flags flags, Log_Level level = Log_Level::NORMAL) {
    Log_Level saved = context().log_level;
    context().log_level = level;
    Captured_Output capture;
    logger_proc(message, nullptr, Log_Info{flags});
    capture.restore();
    context().log_level = saved;
    return {capture.out(), capture.err()};
}

TEST(Logger, PrefixTableBytes) {
    EXPECT_EQ(std::string(LOG_PREFIXES[0]), LOG_TAG);
    EXPECT_EQ(std::string(LOG_PREFIXES[1]), ERROR_TAG);
    EXPECT_EQ(std::string(LOG_PREFIXES[2]), WARN_TAG);
    for (auto &p : LOG_PREFIXES) EXPECT_EQ(strlen(p), 17u);
}

// The low three bits pick the tag by (flags & 7) mod 3; ERROR alone picks the stream.
TEST(Logger, AllEightLowBitSelections) {
    struct Case {
        u32 flags;
        const std::string *tag;
        bool to_stderr;
    } cases[] = {
        {0, &LOG_TAG, false},   {1, &ERROR_TAG, true}, {2, &WARN_TAG, false}, {3, &LOG_TAG, true},
        {4, &ERROR_TAG, false}, {5, &WARN_TAG, true},  {6, &LOG_TAG, false},  {7, &ERROR_TAG, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        Written w = write_through_logger("abc"_s, static_cast<Log_Flags>(c.flags));
        std::string expected = *c.tag + "abc\n";
        EXPECT_EQ(c.to_stderr ? w.err : w.out, expected);
        EXPECT_EQ(c.to_stderr ? w.out : w.err, "");
    }
}

TEST(Logger, TerminatorRule) {
    struct Case {
        String message;
        std::string expected;
    } cases[] = {
        {""_s, ""},
        {"\n"_s, LOG_TAG + "\n"},
        {"abc\n"_s, LOG_TAG + "abc\n"},
        {"first\nsecond"_s, LOG_TAG + "first\nsecond\n"},
        {"two\n\n"_s, LOG_TAG + "two\n\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(test::to_std(c.message));
        Written w = write_through_logger(c.message, Log_Flags::NONE);
        EXPECT_EQ(w.out, c.expected);
        EXPECT_EQ(w.err, "");
    }
}

TEST(Logger, VerbosityFilter) {
    struct Case {
        Log_Flags flags;
        Log_Level level;
        bool shown;
    } cases[] = {
        {Log_Flags::VERBOSE_ONLY, Log_Level::NORMAL, false},
        {Log_Flags::ERROR | Log_Flags::VERBOSE_ONLY, Log_Level::NORMAL, false},
        {Log_Flags::VERY_VERBOSE_ONLY, Log_Level::NORMAL, false},
        {Log_Flags::VERBOSE_ONLY, Log_Level::VERBOSE, true},
        {Log_Flags::VERY_VERBOSE_ONLY, Log_Level::VERBOSE, false},
        {Log_Flags::VERY_VERBOSE_ONLY, Log_Level::VERY_VERBOSE, true},
        // VERBOSE_ONLY wins when both are set.
        {Log_Flags::VERBOSE_ONLY | Log_Flags::VERY_VERBOSE_ONLY, Log_Level::VERBOSE, true},
        {Log_Flags::TO_FILE_ONLY | Log_Flags::TOPIC_ONLY, Log_Level::NORMAL, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<u32>(c.flags));
        Written w = write_through_logger("m"_s, c.flags, c.level);
        EXPECT_EQ(!(w.out + w.err).empty(), c.shown);
    }
}

TEST(Logger, FrontEndsFormatAndRoute) {
    Logger_Proc saved = context().logger;
    context().logger = logger_proc;
    Captured_Output capture;
    log("abc");
    log_error("abc");
    log("% and %", 1, "two"_s, Log_Flags::WARNING);
    log("exceeding the maximum amount of events per frame...\n", Log_Flags::ERROR | Log_Flags::VERBOSE_ONLY);
    capture.restore();
    context().logger = saved;
    EXPECT_EQ(capture.out(), LOG_TAG + "abc\n" + WARN_TAG + "1 and two\n");
    EXPECT_EQ(capture.err(), ERROR_TAG + "abc\n");
}

// Writes from several threads through a pipe (so that long writes are partial)
// and checks that every message arrives as one unbroken unit.
TEST(Logger, ConcurrentMessagesNeverInterleave) {
    constexpr int THREADS = 4, MESSAGES = 16;
    constexpr size_t LENGTH = 100000; // well above the pipe's capacity
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fflush(stdout);
    int saved = dup(1);
    dup2(fds[1], 1);
    close(fds[1]);

    std::string received;
    std::thread reader([&] {
        char buf[65536];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) received.append(buf, static_cast<size_t>(n));
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; t++) {
        writers.emplace_back([t] {
            std::string text(LENGTH, static_cast<char>('a' + t));
            for (int m = 0; m < MESSAGES; m++) {
                logger_proc(make_string(text.data(), static_cast<s64>(text.size())), nullptr, Log_Info{});
            }
        });
    }
    for (auto &w : writers) w.join();
    dup2(saved, 1); // closes the last write end, so the reader sees end of file
    close(saved);
    reader.join();
    close(fds[0]);

    size_t unit = LOG_TAG.size() + LENGTH + 1;
    ASSERT_EQ(received.size(), unit * THREADS * MESSAGES);
    int per_thread[THREADS] = {};
    for (size_t at = 0; at < received.size(); at += unit) {
        ASSERT_EQ(received.compare(at, LOG_TAG.size(), LOG_TAG), 0) << "at " << at;
        char c = received[at + LOG_TAG.size()];
        ASSERT_GE(c, 'a');
        ASSERT_LT(c, 'a' + THREADS);
        ASSERT_EQ(received.find_first_not_of(c, at + LOG_TAG.size()), at + unit - 1)
            << "message broken at " << at;
        ASSERT_EQ(received[at + unit - 1], '\n');
        per_thread[c - 'a']++;
    }
    for (int n : per_thread) EXPECT_EQ(n, MESSAGES);
}

// A descriptor that cannot be written ends the message at once: the call returns
// promptly (the alarm would kill a spinning or blocked child) and later messages
// still go out on the other stream.
TEST(LoggerDeathTest, FailedDescriptorsEndTheMessage) {
    struct Case {
        const char *name;
        void (*break_stdout)();
    } cases[] = {
        {"closed", [] { close(1); }},
        {"pipe without reader",
         [] {
             int fds[2];
             if (pipe(fds) != 0) _exit(3);
             close(fds[0]);
             dup2(fds[1], 1);
             close(fds[1]);
         }},
        {"read-only descriptor",
         [] {
             int fd = open("/dev/null", O_RDONLY);
             dup2(fd, 1);
             close(fd);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                alarm(5);
                c.break_stdout();
                for (int i = 0; i < 1000; i++) logger_proc("lost"_s, nullptr, Log_Info{});
                logger_proc("still here"_s, nullptr, Log_Info{Log_Flags::ERROR});
                _exit(0);
            },
            testing::ExitedWithCode(0), "still here");
    }
}

// A signal that interrupts a blocked write (no SA_RESTART) must not lose or
// repeat bytes: the logger retries and continues where the write stopped.
static void on_signal(int) {}

TEST(LoggerDeathTest, InterruptedWritesAreRetried) {
    EXPECT_EXIT(
        {
            alarm(10);
            struct sigaction sa = {};
            sa.sa_handler = on_signal; // no SA_RESTART: blocked writes return EINTR
            sigaction(SIGUSR1, &sa, nullptr);
            int fds[2];
            if (pipe(fds) != 0) _exit(3);
            // Fill the pipe so that the logger's first write blocks.
            fcntl(fds[1], F_SETFL, O_NONBLOCK);
            std::string filler;
            char block[4096];
            memset(block, '.', sizeof block);
            ssize_t n;
            while ((n = write(fds[1], block, sizeof block)) > 0) filler.append(block, static_cast<size_t>(n));
            fcntl(fds[1], F_SETFL, 0);
            dup2(fds[1], 1);
            close(fds[1]);

            std::string text(200000, 'x');
            std::atomic<bool> done{false};
            std::thread writer([&] {
                logger_proc(make_string(text.data(), static_cast<s64>(text.size())), nullptr, Log_Info{});
                done = true;
            });
            std::string received;
            char buf[8192];
            for (int i = 0; i < 20; i++) {
                usleep(2000);
                pthread_kill(writer.native_handle(), SIGUSR1);
                if (i % 4 == 3) { // drain a little between interruptions: partial writes
                    ssize_t r = read(fds[0], buf, sizeof buf);
                    if (r > 0) received.append(buf, static_cast<size_t>(r));
                }
            }
            std::string expected = filler + LOG_TAG + text + "\n";
            while (received.size() < expected.size()) {
                ssize_t r = read(fds[0], buf, sizeof buf);
                if (r <= 0) _exit(2);
                received.append(buf, static_cast<size_t>(r));
            }
            writer.join();
            if (!done) _exit(4);
            _exit(received == expected ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
