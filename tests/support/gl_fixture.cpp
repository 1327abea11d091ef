#include "gl_fixture.h"

#include "base/log.h"
#include "gl/gl.h"

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

namespace tessera::test {

namespace {

enum class Setup_State { NOT_TRIED, READY, FAILED };

Setup_State state = Setup_State::NOT_TRIED;
GLFWwindow *window = nullptr;
s64 missing_procs = 0;

void glfw_error(int code, const char *description) {
    log_error("GLFW error %: %", code, description);
}

bool open_window() {
    glfwSetErrorCallback(glfw_error);
    if (!glfwInit()) return false;

    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_DEBUG_CONTEXT, GLFW_TRUE);
    window = glfwCreateWindow(GL_TEST_WINDOW_WIDTH, GL_TEST_WINDOW_HEIGHT, "tessera test", nullptr, nullptr);
    if (!window) {
        glfwTerminate();
        return false;
    }
    glfwMakeContextCurrent(window);
    missing_procs = gl_load();
    return true;
}

} // namespace

bool gl_test_context() {
    if (state == Setup_State::NOT_TRIED) {
        if (open_window()) {
            state = Setup_State::READY;
        } else {
            state = Setup_State::FAILED;
            log_error("No OpenGL 3.3 core context for the tests (is there a display?).");
        }
    }
    if (state != Setup_State::READY) return false;
    if (glfwGetCurrentContext() != window) glfwMakeContextCurrent(window);
    return true;
}

GLFWwindow *gl_test_window() {
    return window;
}

s64 gl_test_missing_procs() {
    return missing_procs;
}

} // namespace tessera::test
