// The demo as a user meets it: how long from starting the process to the first
// frame on screen, and what one frame costs the main thread afterwards. Both
// spawn tessera-demo at the verbose level (silent audio) and read its own
// report lines: "First frame swapped at % ns (monotonic)." and "Main thread CPU
// time per frame: % us.".
//
// Needs a display: run it under tests/support/with-display.
#include "demo_process.h"
#include "x11_client.h"

#include <X11/keysym.h>

#include <benchmark/benchmark.h>

#include <regex>

namespace {

using tessera::e2e::Demo;
namespace x11 = tessera::x11;

const std::vector<std::string> DEMO_ENV = {"TESSERA_LOG_LEVEL=1", "SDL_AUDIODRIVER=dummy"};

// Closes the demo's window as a window manager would; SIGTERM when that does
// not end it. False when it had to be killed.
bool close_demo(Display *display, Demo *demo) {
    ::Window w = x11::wait_for_window(display, "output", 5000);
    if (w && x11::send_delete_window(display, w) && demo->wait_exit(5000) != -1) return true;
    kill(demo->pid, SIGTERM);
    return demo->wait_exit(5000) != -1;
}

// User plus system CPU time of all the demo's threads (the driver's included),
// in seconds; -1 when unreadable.
double process_cpu_seconds(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE *f = fopen(path, "r");
    if (!f) return -1;
    char text[1024] = {};
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = 0;
    // Fields 14 and 15 (utime, stime), counted after the parenthesised name.
    const char *p = strrchr(text, ')');
    unsigned long utime = 0, stime = 0;
    if (!p || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return -1;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool first_swap_ns(Demo *demo, int64_t *ns) {
    static const std::regex line("First frame swapped at ([0-9]+) ns \\(monotonic\\)\\.\n");
    if (!demo->wait_for_output(" ns (monotonic).\n", 20000)) return false;
    std::smatch m;
    if (!std::regex_search(demo->out, m, line)) return false;
    *ns = std::stoll(m[1]);
    return true;
}

// ---- Start-up ----------------------------------------------------------------------

// From just before posix_spawn to just after the first swap_buffers returned,
// both on CLOCK_MONOTONIC: process start, GLFW and the context, renderer, font
// atlas, picture decode and upload, audio device, the first frame.
void demo_startup_to_first_frame(benchmark::State &state) {
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("no display (run under tests/support/with-display)");
        return;
    }
    for (auto _ : state) {
        Demo demo;
        if (!demo.start(DEMO_ENV)) {
            state.SkipWithError("the demo did not start");
            break;
        }
        int64_t first = 0;
        if (!first_swap_ns(&demo, &first)) {
            state.SkipWithError(("no first-frame line: " + demo.out + demo.err).c_str());
            break;
        }
        state.SetIterationTime(static_cast<double>(first - demo.spawned_at_ns) * 1e-9);
        if (!close_demo(display, &demo)) {
            state.SkipWithError("the demo did not close");
            break;
        }
    }
    XCloseDisplay(display);
}
BENCHMARK(demo_startup_to_first_frame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// ---- Per frame -----------------------------------------------------------------------

// Five seconds of frames, at 800x600 (argument 0) or full screen (1: F11 right
// after the first frame; the windowed frames before the switch are a few out of
// hundreds). The iteration time is wall time per frame; the counters are the
// demo's own figure of main-thread CPU time per frame, the CPU time of all its
// threads per frame (from /proc, 10 ms ticks) and the frame rate.
void demo_frame_cost(benchmark::State &state) {
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("no display (run under tests/support/with-display)");
        return;
    }
    constexpr int RUN_MS = 5000;
    double cpu_us = 0, process_cpu_us = 0, frames = 0, wall_s = 0;
    for (auto _ : state) {
        Demo demo;
        int64_t first = 0;
        if (!demo.start(DEMO_ENV) || !first_swap_ns(&demo, &first)) {
            state.SkipWithError("the demo did not start");
            break;
        }
        double cpu_at_first = process_cpu_seconds(demo.pid);
        if (state.range(0)) {
            ::Window w = x11::wait_for_window(display, "output", 5000);
            x11::Geometry g = x11::window_geometry(display, w);
            x11::move_pointer(display, g.x + g.width / 2, g.y + g.height / 2);
            x11::tap_key(display, XK_F11);
        }
        demo.run_for(RUN_MS);
        int64_t closing = tessera::e2e::monotonic_ns();
        double process_cpu = process_cpu_seconds(demo.pid) - cpu_at_first;
        if (!close_demo(display, &demo)) {
            state.SkipWithError("the demo did not close");
            break;
        }
        std::smatch m;
        if (!std::regex_search(demo.out, m, std::regex("Main thread CPU time per frame: ([0-9.]+) us\\."))) {
            state.SkipWithError(("no CPU time line: " + demo.out).c_str());
            break;
        }
        cpu_us = std::stod(m[1]);
        if (!std::regex_search(demo.out, m, std::regex("Frame loop ended after ([0-9]+) frames\\."))) {
            state.SkipWithError("no frame count line");
            break;
        }
        frames = std::stod(m[1]);
        wall_s = static_cast<double>(closing - first) * 1e-9;
        process_cpu_us = process_cpu * 1e6 / frames;
        state.SetIterationTime(wall_s / frames);
    }
    state.counters["cpu_us_per_frame"] = cpu_us;
    state.counters["process_cpu_us_per_frame"] = process_cpu_us;
    state.counters["frames"] = frames;
    state.counters["fps"] = frames / wall_s;
    XCloseDisplay(display);
}
BENCHMARK(demo_frame_cost)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
