// The demo's frame driven in process: the real window, GL context, font,
// picture and (silent) audio device, with GL entries wrapped where a test
// needs to see what a frame sent.
#include "program.h"

#include "base/context.h"
#include "desktop/glfw_window.h"
#include "gl/gl.h"
#include "logger.h"
#include "renderer/renderer.h"
#include "renderer/text.h"
#include "window.h"

#include <gtest/gtest.h>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace tessera {
namespace {

// Every GL call of a scope, counted; glBufferSubData's vertex uploads kept.
s64 gl_calls = 0;
std::vector<std::vector<Standard_Vertex>> vertex_uploads;

template <typename Tag, typename F>
struct Counter;
template <typename Tag, typename R, typename... A>
struct Counter<Tag, R (*)(A...)> {
    static inline R (*saved)(A...) = nullptr;
    static R call(A... a) {
        gl_calls++;
        return saved(a...);
    }
};
#define COUNTER_TAG_(name, type)                                                                             \
    struct Tag_##name {};
TESSERA_GL_PROCS(COUNTER_TAG_)

void (*saved_buffer_sub_data)(GLenum, GLintptr, GLsizeiptr, const void *) = nullptr;
void recording_buffer_sub_data(GLenum target, GLintptr offset, GLsizeiptr size, const void *data) {
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    if (target == GL_ARRAY_BUFFER && static_cast<u32>(program) == renderer.standard_shader.id) {
        const auto *v = static_cast<const Standard_Vertex *>(data);
        vertex_uploads.emplace_back(v, v + size / static_cast<GLsizeiptr>(sizeof(Standard_Vertex)));
    }
    saved_buffer_sub_data(target, offset, size, data);
}

struct Counting_Scope {
    Counting_Scope() {
        gl_calls = 0;
#define COUNTER_INSTALL_(name, type)                                                                         \
    Counter<Tag_##name, type>::saved = tessera::name;                                                        \
    if (tessera::name) tessera::name = &Counter<Tag_##name, type>::call;
        TESSERA_GL_PROCS(COUNTER_INSTALL_)
    }
    ~Counting_Scope() {
#define COUNTER_RESTORE_(name, type)                                                                         \
    if (Counter<Tag_##name, type>::saved) tessera::name = Counter<Tag_##name, type>::saved;
        TESSERA_GL_PROCS(COUNTER_RESTORE_)
    }
};

struct Upload_Scope {
    Upload_Scope() {
        vertex_uploads.clear();
        saved_buffer_sub_data = glBufferSubData;
        glBufferSubData = recording_buffer_sub_data;
    }
    ~Upload_Scope() { glBufferSubData = saved_buffer_sub_data; }
};

void set_events(std::initializer_list<Window_Event> events) {
    window.events.count = 0;
    for (const Window_Event &e : events) push_event(e);
}

Window_Event key_event(Key key, Key_Action action) {
    Window_Event e = {};
    e.kind = Window_Event_Kind::KEY;
    e.key = key;
    e.action = action;
    return e;
}

struct Program : testing::Test {
    static void SetUpTestSuite() {
        // No sound here: the dummy driver plays the track into nothing.
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        context().logger = logger_proc;
        ASSERT_TRUE(window_init(800, 600, "output"_s));
        gl_load();
        glViewport(0, 0, window.rect.width, window.rect.height);
        program_startup();
    }
    void SetUp() override {
        window.is_minimized = false;
        window.resized_last_frame = false;
        window.events.count = 0;
        frame_log_buffer.count = 0;
    }
    // Polls until `done` holds or two seconds pass.
    template <typename F>
    static bool poll_until(F done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < deadline) {
            window_poll_events(false);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
};

bool same(const Matrix4 &a, const Matrix4 &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(Program, StartupLeavesWhatTheFramesUse) {
    EXPECT_EQ(renderer.width, 800);
    EXPECT_EQ(renderer.height, 600);
    EXPECT_TRUE(same(renderer.projection_matrix, window_projection(800, 600)));
    EXPECT_EQ(default_font.base.base_size, 64u);
    EXPECT_NE(get_glyph(&default_font.base, 'H'), nullptr);
    EXPECT_NE(default_font.atlas, nullptr) << "the atlas pixels are kept";
    EXPECT_EQ(demo_picture.width, 1920);
    EXPECT_EQ(demo_picture.height, 1080);
    EXPECT_EQ(demo_picture.channels, 3u);
    EXPECT_EQ(decoder.output_sample_rate, 48000u);
    EXPECT_EQ(decoder.output_channels, 2u);
    EXPECT_TRUE(device.started);
    EXPECT_EQ(device.config.user_data, &decoder);
    // Window pixels to clip space: the corners land on the corners.
    const Matrix4 &m = renderer.projection_matrix;
    auto clip = [&](f32 x, f32 y) {
        return Vector2{m._11 * x + m._12 * y + m._14, m._21 * x + m._22 * y + m._24};
    };
    EXPECT_EQ(clip(0, 0).x, -1);
    EXPECT_EQ(clip(0, 0).y, 1);
    EXPECT_EQ(clip(800, 600).x, 1);
    EXPECT_EQ(clip(800, 600).y, -1);
}

TEST_F(Program, MinimizedFrameDrawsNothingAndIsNotPaced) {
    window.is_minimized = true;
    log_per_frame("kept for the next frame drawn");
    s128 last_update = window.last_update_time;
    {
        Counting_Scope count;
        program_update();
    }
    EXPECT_EQ(gl_calls, 0);
    EXPECT_EQ(window.last_update_time, last_update) << "no pacing";
    EXPECT_EQ(frame_log_buffer.count, 1);
}

TEST_F(Program, QueuedLinesSitAboveTheBottomEdge) {
    ASSERT_EQ(window.rect.height, 600);
    const Glyph *h = get_glyph(&default_font.base, 'H');
    ASSERT_NE(h, nullptr);
    log_per_frame("H");
    log_per_frame("H%", "");
    log_per_frame("%", "H");
    {
        Upload_Scope uploads;
        program_update();
    }
    EXPECT_EQ(frame_log_buffer.count, 0) << "the queue empties after the frame";
    // Two flushes: the picture's quad, then every glyph in one pass.
    ASSERT_EQ(vertex_uploads.size(), 2u);
    EXPECT_EQ(vertex_uploads[0].size(), 4u);
    const std::vector<Standard_Vertex> &text = vertex_uploads[1];
    f32 scale = PROGRAM_TEXT_SIZE / 64;
    std::vector<f32> baselines;
    for (size_t q = 0; q + 3 < text.size(); q += 4) {
        const Standard_Vertex &top_left = text[q];
        if (top_left.position.x >= 10) continue; // the frame-rate figure
        EXPECT_FLOAT_EQ(top_left.position.x, 5 + h->bearing_left * scale);
        baselines.push_back(top_left.position.y + h->bearing_top * scale);
    }
    ASSERT_EQ(baselines.size(), 3u);
    EXPECT_FLOAT_EQ(baselines[0], 534);
    EXPECT_FLOAT_EQ(baselines[1], 556);
    EXPECT_FLOAT_EQ(baselines[2], 578);
}

TEST_F(Program, FrameRateFigureIsDrawnAtItsPosition) {
    {
        Upload_Scope uploads;
        program_update();
    }
    ASSERT_EQ(vertex_uploads.size(), 2u);
    const std::vector<Standard_Vertex> &text = vertex_uploads[1];
    ASSERT_GE(text.size(), 4u);
    // The first digit's quad: bearings at size 22 from the pen at (15, 32).
    const Standard_Vertex &first = text[0];
    f32 scale = PROGRAM_TEXT_SIZE / 64;
    bool matched = false;
    for (u32 digit = '0'; digit <= '9'; digit++) {
        const Glyph *g = get_glyph(&default_font.base, digit);
        if (first.position.x == 15 + g->bearing_left * scale && first.position.y == 32 - g->bearing_top * scale)
            matched = true;
    }
    EXPECT_TRUE(matched) << first.position.x << ", " << first.position.y;
    for (const Standard_Vertex &v : text) EXPECT_EQ(v.color.x, 1.0f) << "white";
}

TEST_F(Program, FirstFrameKeepsTheProjectionAndAResizeRebuildsIt) {
    Matrix4 marker = MATRIX4_IDENTITY;
    renderer.projection_matrix = marker;
    program_update();
    EXPECT_TRUE(same(renderer.projection_matrix, marker)) << "no resize, no rebuild";

    glfwSetWindowSize(window_get_handle(), 640, 480);
    ASSERT_TRUE(poll_until([] { return window.resized_last_frame; }));
    ASSERT_EQ(window.rect.width, 640);
    program_update();
    EXPECT_TRUE(same(renderer.projection_matrix, window_projection(640, 480)));
    EXPECT_EQ(renderer.width, 640);
    EXPECT_EQ(renderer.height, 480);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);

    glfwSetWindowSize(window_get_handle(), 800, 600);
    ASSERT_TRUE(poll_until([] { return window.resized_last_frame; }));
    program_update();
    EXPECT_TRUE(same(renderer.projection_matrix, window_projection(800, 600)));
}

TEST_F(Program, HeldF11TogglesOnce) {
    bool before = window.wants_fullscreen;
    set_events({key_event(Key::F11, Key_Action::PRESS)});
    program_update();
    EXPECT_NE(window.wants_fullscreen, before);
    for (int frame = 0; frame < 3; frame++) {
        set_events({key_event(Key::F11, Key_Action::REPEAT), key_event(Key::F11, Key_Action::REPEAT)});
        program_update();
        EXPECT_NE(window.wants_fullscreen, before) << "frame " << frame;
    }
    set_events({key_event(Key::F11, Key_Action::RELEASE)});
    program_update();
    EXPECT_NE(window.wants_fullscreen, before);
    window.wants_fullscreen = before; // never switched: no poll ran
    window.events.count = 0;
}

TEST_F(Program, DataCallbackPlaysTheTrackThenSilence) {
    // A decoder of its own over the same bytes, read to its end.
    Audio_Decoder d;
    ASSERT_TRUE(init(&d, decoder.memory));
    Audio_Device fake = {};
    fake.config.user_data = &d;
    std::vector<f32> buffer(4096 * 2);
    u64 total = 0;
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        data_callback(&fake, buffer.data(), nullptr, 4096);
        u64 got = d.frames_read - total;
        total = d.frames_read;
        if (got == 0) break;
    }
    // About 30 seconds at 48 kHz.
    EXPECT_GT(total, 48000u * 20);
    EXPECT_LT(total, 48000u * 60);
    data_callback(&fake, buffer.data(), nullptr, 4096);
    for (f32 s : buffer) ASSERT_EQ(s, 0.0f) << "silence after the end";
    uninit(&d);
}

} // namespace
} // namespace tessera
