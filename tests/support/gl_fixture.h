// Test helper: one hidden OpenGL window for the whole test binary.
//
// The first gl_test_context() initialises GLFW, opens a hidden 800 by 600 window
// with a 3.3 core-profile debug context, makes it current and runs gl_load.
// Later calls only make it current again. Like the program's own window, it is
// never closed: process exit releases it. Terminating GLFW would unload the GL
// driver, and the driver's start-up allocations would then read as leaks.
//
// Tests that need GL derive their fixture from GL_Test, or assert on
// gl_test_context() themselves. Everything here is main-thread only.
#pragma once

#include "base/types.h"

#include <gtest/gtest.h>

struct GLFWwindow;

namespace tessera::test {

inline constexpr s32 GL_TEST_WINDOW_WIDTH = 800;
inline constexpr s32 GL_TEST_WINDOW_HEIGHT = 600;

// Whether the shared context exists and is current. A failure is logged once,
// with GLFW's reason, and not retried.
bool gl_test_context();

// The shared window; null until gl_test_context() has succeeded.
GLFWwindow *gl_test_window();

// What gl_load returned when the context was set up: entries left null.
s64 gl_test_missing_procs();

// Fails the test (and skips its body) when no context is available.
struct GL_Test : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(gl_test_context()) << "no OpenGL context for this test"; }
};

} // namespace tessera::test
