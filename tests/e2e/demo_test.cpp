// The real executable, started as a user starts it, watched and closed from
// outside as a window manager would.
#include <gtest/gtest.h>

#include "x11_client.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// The demo as a child process, its two output streams collected as they come.
struct Demo {
    pid_t pid = -1;
    int out_fd = -1, err_fd = -1;
    std::string out, err;

    bool start(std::vector<std::string> extra_env) {
        int out_pipe[2], err_pipe[2];
        if (pipe(out_pipe) || pipe(err_pipe)) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
        posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
        posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
        std::vector<std::string> env;
        for (char **e = environ; *e; e++) env.emplace_back(*e);
        for (auto &e : extra_env) env.push_back(e);
        std::vector<char *> envp;
        for (auto &e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char *argv[] = {const_cast<char *>(TESSERA_DEMO_PATH), nullptr};
        int r = posix_spawn(&pid, TESSERA_DEMO_PATH, &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(out_pipe[1]);
        close(err_pipe[1]);
        out_fd = out_pipe[0];
        err_fd = err_pipe[0];
        return r == 0;
    }

    void drain(int timeout_ms) {
        pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        if (poll(fds, 2, timeout_ms) <= 0) return;
        char buf[4096];
        for (int i = 0; i < 2; i++) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) (i ? err : out).append(buf, static_cast<size_t>(n));
        }
    }

    // Waits for the exit, collecting output; -1 when it did not exit in time.
    int wait_exit(int timeout_ms) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        int status = 0;
        while (Clock::now() < deadline) {
            drain(10);
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                for (int i = 0; i < 50; i++) drain(1); // what is left in the pipes
                return status;
            }
        }
        return -1;
    }

    ~Demo() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (out_fd >= 0) close(out_fd);
        if (err_fd >= 0) close(err_fd);
    }
};

int count_of(const std::string &haystack, const std::string &needle) {
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) n++;
    return n;
}

const std::string LOG_TAG = "\x1b[36m[LOG]   \x1b[0m";

TEST(Demo, OpensOneWindowRunsAndClosesOnDelete) {
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Demo demo;
    ASSERT_TRUE(demo.start({"TESSERA_LOG_LEVEL=1"}));
    ::Window w = tessera::x11::wait_for_window(display, "output", 10000);
    ASSERT_NE(w, 0u) << demo.err;

    EXPECT_EQ(tessera::x11::find_windows(display, "output").size(), 1u);
    ::Window root, parent, *children = nullptr;
    unsigned int count = 0;
    ASSERT_TRUE(XQueryTree(display, w, &root, &parent, &children, &count));
    if (children) XFree(children);
    EXPECT_EQ(parent, root) << "a top-level window";
    tessera::x11::Geometry g = tessera::x11::window_geometry(display, w);
    EXPECT_EQ(g.width, 800);
    EXPECT_EQ(g.height, 600);

    // No input arrives, yet frames go on: the loop polls, it never waits.
    for (int i = 0; i < 50; i++) demo.drain(10);

    // What reaches the screen: the window cleared to the dark blue-grey
    // (0.09, 0.12, 0.15) = (23, 31, 38), nothing outside it.
    int sw = 0, sh = 0;
    std::vector<uint8_t> rgb = tessera::x11::screenshot_rgb(display, &sw, &sh);
    ASSERT_EQ(rgb.size(), static_cast<size_t>(sw) * sh * 3);
    auto pixel = [&](int x, int y) {
        const uint8_t *p = &rgb[(static_cast<size_t>(y) * sw + x) * 3];
        return std::vector<int>{p[0], p[1], p[2]};
    };
    for (auto [x, y] :
         {std::pair{g.x + 1, g.y + 1}, std::pair{g.x + 400, g.y + 300}, std::pair{g.x + 798, g.y + 598}}) {
        std::vector<int> c = pixel(x, y);
        EXPECT_NEAR(c[0], 23, 1);
        EXPECT_NEAR(c[1], 31, 1);
        EXPECT_NEAR(c[2], 38, 1);
    }
    if (g.x + 900 < sw) {
        EXPECT_EQ(pixel(g.x + 900, g.y + 300), (std::vector<int>{0, 0, 0}));
    }
    auto sent = Clock::now();
    ASSERT_TRUE(tessera::x11::send_delete_window(display, w));
    int status = demo.wait_exit(5000);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    XCloseDisplay(display);

    ASSERT_NE(status, -1) << "still running after WM_DELETE_WINDOW";
    EXPECT_LT(took, 1000);
    ASSERT_TRUE(WIFEXITED(status)) << demo.err;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::smatch m;
    ASSERT_TRUE(std::regex_search(demo.out, m,
                                  std::regex("OpenGL ([0-9]+)\\.([0-9]+) core profile, debug context\\.")))
        << demo.out;
    int major = std::stoi(m[1]), minor = std::stoi(m[2]);
    EXPECT_TRUE(major > 3 || (major == 3 && minor >= 3));
    ASSERT_TRUE(std::regex_search(demo.out, m, std::regex("Frame loop ended after ([0-9]+) frames\\.")));
    EXPECT_GT(std::stoll(m[1]), 10);
    EXPECT_EQ(count_of(demo.out, LOG_TAG + "Shutting down.\n"), 1);
    EXPECT_EQ(demo.err, "");
}

TEST(Demo, PlatformDecisionIsLoggedVerbosely) {
    struct Case {
        const char *env;
        const char *expected;
    } cases[] = {
        {"GLFW_USE_X11=1", "GLFW_USE_X11 is 1: X11 requested"},
        {"GLFW_USE_X11=0", "GLFW_USE_X11 is 0: no back end requested"},
    };
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.env);
        Demo demo;
        ASSERT_TRUE(demo.start({"TESSERA_LOG_LEVEL=1", c.env}));
        ::Window w = tessera::x11::wait_for_window(display, "output", 10000);
        ASSERT_NE(w, 0u);
        tessera::x11::send_delete_window(display, w);
        int status = demo.wait_exit(5000);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_NE(demo.out.find(c.expected), std::string::npos) << demo.out;
    }
    XCloseDisplay(display);
}

TEST(Demo, NormalVerbosityPrintsNothingOfItsOwn) {
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Demo demo;
    ASSERT_TRUE(demo.start({}));
    ::Window w = tessera::x11::wait_for_window(display, "output", 10000);
    ASSERT_NE(w, 0u);
    tessera::x11::send_delete_window(display, w);
    int status = demo.wait_exit(5000);
    XCloseDisplay(display);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(demo.out, "");
    EXPECT_EQ(demo.err, "");
}

} // namespace
