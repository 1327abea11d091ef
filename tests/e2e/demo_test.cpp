// The real executable, started as a user starts it, watched and closed from
// outside as a window manager would: what reaches the screen is compared with
// the picture decoded here, what reaches the console byte for byte, and what
// reaches the sound card (SDL's disk driver) sample for sample with the
// project's decoder.
#include <gtest/gtest.h>

#include "audio/decoder.h"
#include "demo_process.h"
#include "x11_client.h"

#include <X11/keysym.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STBI_ONLY_JPEG
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

using tessera::e2e::Clock;
using tessera::e2e::Demo;
using tessera::e2e::LOG_TAG;
namespace x11 = tessera::x11;

// Silent unless a test asks for the disk driver.
const std::string DUMMY_AUDIO = "SDL_AUDIODRIVER=dummy";

// ---- The expected picture ------------------------------------------------------

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // rows top to bottom
};

// Decoded the way the demo decodes it: stb_image, forced to RGB.
const Picture &picture() {
    static Picture p = [] {
        Picture r;
        int c = 0;
        uint8_t *data = stbi_load(TESSERA_RES_DIR "/picture.jpg", &r.width, &r.height, &c, 3);
        if (data) {
            r.rgb.assign(data, data + static_cast<size_t>(r.width) * r.height * 3);
            stbi_image_free(data);
        }
        return r;
    }();
    return p;
}

struct Screen {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t *at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Screen screenshot(Display *display) {
    Screen s;
    s.rgb = x11::screenshot_rgb(display, &s.width, &s.height);
    return s;
}

// The texels nearest to a pixel centre of a `size`-pixel window over `texels`:
// floor((i + 0.5) * texels / size), in integers. Where the centre falls exactly
// on a texel boundary the rasteriser's rounding may pick either neighbour.
void nearest_texels(int i, int size, int texels, int *first, int *second) {
    int64_t num = int64_t{2 * i + 1} * texels, den = int64_t{2} * size;
    *first = *second = static_cast<int>(num / den);
    if (num % den == 0 && *first > 0) *first -= 1;
}

// Whether window pixel (x, y) of the window at `g` shows the picture stretched
// over it (nearest sampling).
bool matches_picture(const Screen &s, x11::Geometry g, int x, int y) {
    const Picture &p = picture();
    int tx0, tx1, ty0, ty1;
    nearest_texels(x, g.width, p.width, &tx0, &tx1);
    nearest_texels(y, g.height, p.height, &ty0, &ty1);
    const uint8_t *got = s.at(g.x + x, g.y + y);
    for (int ty : {ty0, ty1}) {
        for (int tx : {tx0, tx1}) {
            if (memcmp(got, &p.rgb[(static_cast<size_t>(ty) * p.width + tx) * 3], 3) == 0) return true;
        }
    }
    return false;
}

// Compares every pixel of the window at `g` with the picture stretched over it,
// except those with x < skip_w and y < skip_h (the frame rate text). Empty when
// all match, otherwise a description of the mismatches.
std::string compare_with_picture(const Screen &s, x11::Geometry g, int skip_w, int skip_h) {
    const Picture &p = picture();
    if (g.x < 0 || g.y < 0 || g.x + g.width > s.width || g.y + g.height > s.height)
        return "window off screen";
    int64_t bad = 0;
    std::string first;
    for (int y = 0; y < g.height; y++) {
        for (int x = 0; x < g.width; x++) {
            if ((x < skip_w && y < skip_h) || matches_picture(s, g, x, y)) continue;
            if (bad++ == 0) {
                int tx, ty, unused;
                nearest_texels(x, g.width, p.width, &unused, &tx);
                nearest_texels(y, g.height, p.height, &unused, &ty);
                const uint8_t *got = s.at(g.x + x, g.y + y);
                const uint8_t *want = &p.rgb[(static_cast<size_t>(ty) * p.width + tx) * 3];
                first = "first at window (" + std::to_string(x) + ", " + std::to_string(y) + "): got " +
                        std::to_string(got[0]) + "," + std::to_string(got[1]) + "," + std::to_string(got[2]) +
                        ", picture " + std::to_string(want[0]) + "," + std::to_string(want[1]) + "," +
                        std::to_string(want[2]);
            }
        }
    }
    if (bad == 0) return "";
    return std::to_string(bad) + " pixels differ from the picture; " + first;
}

// A frame is drawn in well under a second, but the screen may not show one yet,
// or still show the one before a resize: look again until it matches or
// `timeout_ms` passes. `shot` receives the last screenshot.
std::string wait_for_picture(Display *display, x11::Geometry g, int timeout_ms, Screen *shot = nullptr) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string why;
    Screen s;
    do {
        s = screenshot(display);
        why = compare_with_picture(s, g, 90, 45);
        if (why.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (Clock::now() < deadline);
    if (shot) *shot = std::move(s);
    return why;
}

bool same_geometry(x11::Geometry a, x11::Geometry b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

x11::Geometry wait_for_geometry(Display *display, ::Window w, x11::Geometry want, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    x11::Geometry g = x11::window_geometry(display, w);
    while (!same_geometry(g, want) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        g = x11::window_geometry(display, w);
    }
    return g;
}

std::string regex_escaped(const std::string &text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

int count_of(const std::string &haystack, const std::string &needle) {
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) n++;
    return n;
}

// Closes the window as a window manager would and collects the exit status;
// -1 when the demo did not exit within `timeout_ms`.
int close_and_wait(Display *display, ::Window w, Demo *demo, int timeout_ms = 5000) {
    if (!x11::send_delete_window(display, w)) return -1;
    return demo->wait_exit(timeout_ms);
}

struct Display_Closer {
    Display *display;
    ~Display_Closer() {
        if (display) XCloseDisplay(display);
    }
};

// ---- Tests ---------------------------------------------------------------------------

TEST(Demo, ShowsThePictureAndTheFrameRateAndClosesOnDelete) {
    ASSERT_EQ(picture().width, 1920);
    ASSERT_EQ(picture().height, 1080);
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Display_Closer closer{display};
    Demo demo;
    ASSERT_TRUE(demo.start({DUMMY_AUDIO}));
    ::Window w = x11::wait_for_window(display, "output", 10000);
    ASSERT_NE(w, 0u) << demo.err;

    EXPECT_EQ(x11::find_windows(display, "output").size(), 1u);
    ::Window root, parent, *children = nullptr;
    unsigned int count = 0;
    ASSERT_TRUE(XQueryTree(display, w, &root, &parent, &children, &count));
    if (children) XFree(children);
    EXPECT_EQ(parent, root) << "a top-level window";
    x11::Geometry g = x11::window_geometry(display, w);
    ASSERT_EQ(g.width, 800);
    ASSERT_EQ(g.height, 600);

    demo.run_for(1000);
    Screen s;
    EXPECT_EQ(wait_for_picture(display, g, 5000, &s), "");
    ASSERT_EQ(s.rgb.size(), static_cast<size_t>(s.width) * s.height * 3);

    // The frame rate in white text, pen at (15, 32) on the baseline: digits
    // stand above it. White where the picture is not.
    int white = 0;
    for (int y = 14; y <= 34; y++) {
        for (int x = 15; x <= 60; x++) {
            const uint8_t *c = s.at(g.x + x, g.y + y);
            if (c[0] >= 235 && c[1] >= 235 && c[2] >= 235 && !matches_picture(s, g, x, y)) {
                white++;
            }
        }
    }
    EXPECT_GE(white, 10) << "no white frame-rate text near (15, 32)";
    // Nothing outside the window: the root stays black.
    if (g.x + 900 < s.width) {
        const uint8_t *c = s.at(g.x + 900, g.y + 300);
        EXPECT_EQ(c[0] + c[1] + c[2], 0);
    }

    auto sent = Clock::now();
    int status = close_and_wait(display, w, &demo);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    ASSERT_NE(status, -1) << "still running after WM_DELETE_WINDOW";
    EXPECT_LT(took, 1000);
    ASSERT_TRUE(WIFEXITED(status)) << demo.err;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Demo, NormalVerbosityPrintsTheRendererAndPlayingLinesOnly) {
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Display_Closer closer{display};
    Demo demo;
    ASSERT_TRUE(demo.start({DUMMY_AUDIO}));
    ::Window w = x11::wait_for_window(display, "output", 10000);
    ASSERT_NE(w, 0u);
    demo.run_for(300);
    int status = close_and_wait(display, w, &demo);
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::string tag = regex_escaped(LOG_TAG);
    std::regex expected(tag + "Vendor:   [^\n]+\n" + tag + "Renderer: [^\n]+\n" + tag + "Version:  [^\n]+\n" +
                        tag + "GLSL:     [^\n]+\n" + tag + "Playing sound\\.\\.\\.\n");
    EXPECT_TRUE(std::regex_match(demo.out, expected)) << demo.out;
    EXPECT_EQ(demo.err, "");
}

TEST(Demo, VerboseLevelDescribesTheContextTheLoopAndItsCost) {
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Display_Closer closer{display};
    Demo demo;
    ASSERT_TRUE(demo.start({"TESSERA_LOG_LEVEL=1", DUMMY_AUDIO}));
    ::Window w = x11::wait_for_window(display, "output", 10000);
    ASSERT_NE(w, 0u) << demo.err;
    // No input arrives, yet frames go on: the loop polls, it never waits (that
    // would give a frame or two).
    ASSERT_TRUE(demo.wait_for_output("First frame swapped at", 10000)) << demo.out;
    demo.run_for(1000);
    int status = close_and_wait(display, w, &demo);
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status)) << demo.err;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::smatch m;
    ASSERT_TRUE(std::regex_search(demo.out, m,
                                  std::regex("OpenGL ([0-9]+)\\.([0-9]+) core profile, debug context\\.")))
        << demo.out;
    int major = std::stoi(m[1]), minor = std::stoi(m[2]);
    EXPECT_TRUE(major > 3 || (major == 3 && minor >= 3));
    ASSERT_TRUE(std::regex_search(demo.out, m, std::regex("Frame loop ended after ([0-9]+) frames\\.")));
    EXPECT_GE(std::stoll(m[1]), 5);
    EXPECT_EQ(count_of(demo.out, LOG_TAG + "Shutting down.\n"), 1);

    // The first swap lies between the spawn and now, on the same clock.
    ASSERT_TRUE(
        std::regex_search(demo.out, m, std::regex("First frame swapped at ([0-9]+) ns \\(monotonic\\)\\.\n")))
        << demo.out;
    int64_t first_swap = std::stoll(m[1]);
    EXPECT_GT(first_swap, demo.spawned_at_ns);
    EXPECT_LT(first_swap, tessera::e2e::monotonic_ns());
    EXPECT_EQ(count_of(demo.out, "First frame swapped at"), 1);
    ASSERT_TRUE(std::regex_search(demo.out, m,
                                  std::regex("Main thread CPU time per frame: ([0-9]+(\\.[0-9]+)?) us\\.\n")))
        << demo.out;
    EXPECT_GT(std::stod(m[1]), 0.0);
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
    Display_Closer closer{display};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.env);
        Demo demo;
        ASSERT_TRUE(demo.start({"TESSERA_LOG_LEVEL=1", DUMMY_AUDIO, c.env}));
        ::Window w = x11::wait_for_window(display, "output", 10000);
        ASSERT_NE(w, 0u);
        int status = close_and_wait(display, w, &demo);
        ASSERT_NE(status, -1);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_NE(demo.out.find(c.expected), std::string::npos) << demo.out;
    }
}

TEST(Demo, F11TogglesFullScreenAndBack) {
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Display_Closer closer{display};
    Demo demo;
    ASSERT_TRUE(demo.start({DUMMY_AUDIO}));
    ::Window w = x11::wait_for_window(display, "output", 10000);
    ASSERT_NE(w, 0u) << demo.err;
    x11::Geometry windowed = x11::window_geometry(display, w);
    ASSERT_EQ(windowed.width, 800);
    ASSERT_EQ(windowed.height, 600);
    EXPECT_EQ(wait_for_picture(display, windowed, 3000), "");

    // Without a window manager GLFW gives its new window the input focus itself
    // (XSetInputFocus); the pointer goes inside too, so the keys would reach it
    // under a PointerRoot focus as well.
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    EXPECT_TRUE(focus == w || focus == PointerRoot) << "the keyboard focus is elsewhere: " << focus;
    x11::move_pointer(display, windowed.x + 400, windowed.y + 300);
    demo.run_for(100);
    x11::tap_key(display, XK_F11);
    int sw = DisplayWidth(display, DefaultScreen(display)),
        sh = DisplayHeight(display, DefaultScreen(display));
    x11::Geometry full = wait_for_geometry(display, w, {0, 0, sw, sh}, 5000);
    ASSERT_TRUE(same_geometry(full, {0, 0, sw, sh}))
        << "after F11: " << full.x << "," << full.y << " " << full.width << "x" << full.height;
    // The picture at the screen's size (1920x1080 under the test display: one
    // texel per pixel).
    EXPECT_EQ(wait_for_picture(display, full, 3000), "");

    x11::tap_key(display, XK_F11);
    x11::Geometry back = wait_for_geometry(display, w, windowed, 5000);
    EXPECT_TRUE(same_geometry(back, windowed))
        << "after the second F11: " << back.x << "," << back.y << " " << back.width << "x" << back.height;
    EXPECT_EQ(wait_for_picture(display, back, 3000), "");

    int status = close_and_wait(display, w, &demo);
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status)) << demo.err;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(demo.err, "");
}

// ---- Audio -------------------------------------------------------------------------------

std::vector<uint8_t> file_bytes(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

TEST(Demo, PlaysTheTrackSampleForSample) {
    char path[] = "/tmp/tessera-e2e-audio.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    struct Remove {
        const char *path;
        ~Remove() { unlink(path); }
    } remove_later{path};

    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Display_Closer closer{display};
    Demo demo;
    ASSERT_TRUE(demo.start({"SDL_AUDIODRIVER=disk", std::string("SDL_DISKAUDIOFILE=") + path}));
    ::Window w = x11::wait_for_window(display, "output", 10000);
    ASSERT_NE(w, 0u) << demo.err;
    demo.run_for(2000);
    int status = close_and_wait(display, w, &demo);
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status)) << demo.err;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(demo.err, "");
    // The disk driver is a real device: no fallback warning.
    EXPECT_EQ(demo.out.find("[WARN]"), std::string::npos) << demo.out;

    std::vector<uint8_t> captured = file_bytes(path);
    constexpr size_t FRAME_BYTES = 2 * sizeof(float);
    size_t frames = captured.size() / FRAME_BYTES; // the exit may cut the last write short
    ASSERT_GE(frames, 48000u) << "less than a second of audio captured";

    std::vector<uint8_t> track = file_bytes(TESSERA_RES_DIR "/music.mp3");
    tessera::Audio_Decoder d;
    ASSERT_TRUE(tessera::init(
        &d, tessera::Array_View<tessera::u8>{static_cast<tessera::s64>(track.size()), track.data()}));
    ASSERT_EQ(d.output_format, tessera::Audio_Format::F32);
    ASSERT_EQ(d.output_channels, 2u);
    ASSERT_EQ(d.output_sample_rate, 48000u);
    std::vector<uint8_t> decoded(frames * FRAME_BYTES);
    ASSERT_EQ(tessera::read_pcm_frames(&d, decoded.data(), frames), frames);
    tessera::uninit(&d);

    // Before the program unpauses the device, SDL's thread may already have
    // played a period of silence: the track may start after whole silent
    // periods. Of those starts, the one that matches longest is reported.
    const size_t period = 1024 * FRAME_BYTES, total = frames * FRAME_BYTES;
    size_t best_lead = 0, best_match = 0;
    for (size_t lead = 0; lead <= 4 * period && lead < total; lead += period) {
        bool silent = true;
        for (size_t i = 0; i < lead; i++) silent &= captured[i] == 0;
        if (!silent) break;
        size_t match = 0;
        while (lead + match < total && captured[lead + match] == decoded[match]) match++;
        if (lead == 0 || match > best_match) {
            best_lead = lead;
            best_match = match;
        }
        if (lead + match == total) break;
    }
    EXPECT_EQ(best_lead + best_match, total)
        << "played samples differ from the decoder's at frame " << best_match / FRAME_BYTES << " of "
        << (total - best_lead) / FRAME_BYTES << " (after " << best_lead / FRAME_BYTES << " silent frames)";
    RecordProperty("silent_lead_frames", static_cast<int>(best_lead / FRAME_BYTES));
    printf("captured %zu frames, track after %zu silent frames\n", frames, best_lead / FRAME_BYTES);
}

} // namespace
