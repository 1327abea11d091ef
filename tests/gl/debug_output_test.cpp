#include "gl/gl.h"

#include "capture.h"
#include "gl_fixture.h"
#include "logger.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessera {
namespace {

const std::string LOG_TAG = "\x1b[36m[LOG]   \x1b[0m";

// Runs the scope with `logger` as the calling thread's context logger.
struct Scoped_Logger {
    Logger_Proc saved_logger;
    void *saved_data;
    Scoped_Logger(Logger_Proc logger, void *data)
        : saved_logger(context().logger), saved_data(context().logger_data) {
        context().logger = logger;
        context().logger_data = data;
    }
    ~Scoped_Logger() {
        context().logger = saved_logger;
        context().logger_data = saved_data;
    }
};

// A logger that records into its logger data, from whichever thread calls it.
struct Log_Record {
    std::mutex lock;
    std::vector<test::Logged_Message> messages;
    std::vector<std::thread::id> threads;
};

void record_into(String message, void *data, Log_Info info) {
    auto *r = static_cast<Log_Record *>(data);
    std::lock_guard<std::mutex> guard(r->lock);
    r->messages.push_back({test::to_std(message), info.common_flags});
    r->threads.push_back(std::this_thread::get_id());
}

// The two lines the callback logs for one message, flags NONE.
void expect_logged(const Log_Record &r, const std::string &header, const std::string &text) {
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[0].text, header);
    EXPECT_EQ(r.messages[1].text, "OGL: message = " + text);
    EXPECT_EQ(r.messages[0].flags, Log_Flags::NONE);
    EXPECT_EQ(r.messages[1].flags, Log_Flags::NONE);
}

// ---- Words -----------------------------------------------------------------------

struct Word_Case {
    GLenum value;
    const char *word;
};

void expect_words(String (*word_of)(GLenum), std::initializer_list<Word_Case> cases) {
    for (const Word_Case &c : cases) {
        EXPECT_EQ(test::to_std(word_of(c.value)), c.word) << std::hex << c.value;
    }
}

TEST(Debug_Words, Types) {
    expect_words(gl_debug_type_word, {
                                         {GL_DEBUG_TYPE_ERROR, "error"},
                                         {GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR, "deprecated behavior"},
                                         {GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR, "undefined behavior"},
                                         {GL_DEBUG_TYPE_PORTABILITY, "portability"},
                                         {GL_DEBUG_TYPE_PERFORMANCE, "performance"},
                                         {GL_DEBUG_TYPE_OTHER, "other"},
                                         {GL_DEBUG_TYPE_MARKER, "unknown"},
                                         {GL_DEBUG_TYPE_PUSH_GROUP, "unknown"},
                                         {GL_DEBUG_SOURCE_API, "unknown"}, // a source is not a type
                                         {0, "unknown"},
                                     });
}

TEST(Debug_Words, Sources) {
    expect_words(gl_debug_source_word, {
                                           {GL_DEBUG_SOURCE_API, "API"},
                                           {GL_DEBUG_SOURCE_WINDOW_SYSTEM, "window system"},
                                           {GL_DEBUG_SOURCE_SHADER_COMPILER, "shader compiler"},
                                           {GL_DEBUG_SOURCE_THIRD_PARTY, "third party"},
                                           {GL_DEBUG_SOURCE_APPLICATION, "application"},
                                           {GL_DEBUG_SOURCE_OTHER, "other"},
                                           {GL_DEBUG_TYPE_ERROR, "unknown"}, // a type is not a source
                                           {0, "unknown"},
                                       });
}

TEST(Debug_Words, Severities) {
    expect_words(gl_debug_severity_word, {
                                             {GL_DEBUG_SEVERITY_HIGH, "high"},
                                             {GL_DEBUG_SEVERITY_MEDIUM, "medium"},
                                             {GL_DEBUG_SEVERITY_LOW, "low"},
                                             {GL_DEBUG_SEVERITY_NOTIFICATION, "unknown"},
                                             {0, "unknown"},
                                         });
}

// ---- The callback, called directly -----------------------------------------------

TEST(Debug_Callback, LogsHeaderAndTextThroughTheGivenSettings) {
    struct Case {
        GLenum source, type;
        GLuint id;
        GLenum severity;
        const char *header;
    };
    // Together these pass every word that can get past the filters.
    const Case cases[] = {
        {GL_DEBUG_SOURCE_API, GL_DEBUG_TYPE_ERROR, 1, GL_DEBUG_SEVERITY_HIGH,
         "OGL: type = error; source = API; id = 1; severity = high"},
        {GL_DEBUG_SOURCE_WINDOW_SYSTEM, GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR, 22, GL_DEBUG_SEVERITY_MEDIUM,
         "OGL: type = deprecated behavior; source = window system; id = 22; severity = medium"},
        {GL_DEBUG_SOURCE_SHADER_COMPILER, GL_DEBUG_TYPE_PORTABILITY, 333, GL_DEBUG_SEVERITY_LOW,
         "OGL: type = portability; source = shader compiler; id = 333; severity = low"},
        {GL_DEBUG_SOURCE_THIRD_PARTY, GL_DEBUG_TYPE_PERFORMANCE, 0, GL_DEBUG_SEVERITY_NOTIFICATION,
         "OGL: type = performance; source = third party; id = 0; severity = unknown"},
        {GL_DEBUG_SOURCE_OTHER, GL_DEBUG_TYPE_MARKER, 4294967295u, 0,
         "OGL: type = unknown; source = other; id = 4294967295; severity = unknown"},
        {0, GL_DEBUG_TYPE_ERROR, 7, GL_DEBUG_SEVERITY_HIGH,
         "OGL: type = error; source = unknown; id = 7; severity = high"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.header);
        Log_Record record;
        GL_Debug_Settings settings = {record_into, &record};
        gl_debug_callback(c.source, c.type, c.id, c.severity, -1, "driver text", &settings);
        expect_logged(record, c.header, "driver text");
    }
}

TEST(Debug_Callback, TakesTheMessageByLengthOrToItsTerminator) {
    // Only the first three bytes belong to the message; nothing terminates them.
    const char unterminated[6] = {'a', 'b', 'c', 'X', 'Y', 'Z'};
    struct Case {
        const char *label;
        const char *message;
        GLsizei length;
        const char *text;
    };
    const Case cases[] = {
        {"counted, not terminated", unterminated, 3, "abc"},
        {"counted, stops before the terminator", "abcdef", 4, "abcd"},
        {"terminated", "to the end", -1, "to the end"},
        {"counted empty", "ignored", 0, ""},
        {"null", nullptr, -1, ""},
        {"null with a length", nullptr, 5, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Log_Record record;
        GL_Debug_Settings settings = {record_into, &record};
        gl_debug_callback(GL_DEBUG_SOURCE_API, GL_DEBUG_TYPE_ERROR, 5, GL_DEBUG_SEVERITY_HIGH, c.length,
                          c.message, &settings);
        expect_logged(record, "OGL: type = error; source = API; id = 5; severity = high", c.text);
    }
}

TEST(Debug_Callback, IgnoresApplicationMessagesAndTwoTypes) {
    const GLenum sources[] = {
        GL_DEBUG_SOURCE_API,         GL_DEBUG_SOURCE_WINDOW_SYSTEM, GL_DEBUG_SOURCE_SHADER_COMPILER,
        GL_DEBUG_SOURCE_THIRD_PARTY, GL_DEBUG_SOURCE_APPLICATION,   GL_DEBUG_SOURCE_OTHER};
    const GLenum types[] = {
        GL_DEBUG_TYPE_ERROR,       GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR, GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR,
        GL_DEBUG_TYPE_PORTABILITY, GL_DEBUG_TYPE_PERFORMANCE,         GL_DEBUG_TYPE_OTHER};
    for (GLenum source : sources) {
        for (GLenum type : types) {
            bool ignored = source == GL_DEBUG_SOURCE_APPLICATION || type == GL_DEBUG_TYPE_OTHER ||
                           type == GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR;
            Log_Record record;
            GL_Debug_Settings settings = {record_into, &record};
            gl_debug_callback(source, type, 1, GL_DEBUG_SEVERITY_HIGH, -1, "text", &settings);
            EXPECT_EQ(record.messages.size(), ignored ? 0u : 2u) << std::hex << source << " " << type;
        }
    }
}

TEST(Debug_Callback, WithoutSettingsUsesTheDefaultLogger) {
    test::Captured_Output captured;
    gl_debug_callback(GL_DEBUG_SOURCE_API, GL_DEBUG_TYPE_ERROR, 9, GL_DEBUG_SEVERITY_MEDIUM, -1, "plain",
                      nullptr);
    captured.restore();
    EXPECT_EQ(captured.out(),
              "OGL: type = error; source = API; id = 9; severity = medium\nOGL: message = plain\n");
    EXPECT_EQ(captured.err(), "");
}

// ---- Enabling, with the real context ---------------------------------------------

struct Debug_Output_Test : test::GL_Test {
    GL_Debug_Settings saved_settings;
    void SetUp() override {
        test::GL_Test::SetUp();
        saved_settings = gl_debug_settings;
    }
    // The driver keeps calling back with gl_debug_settings: never leave it
    // pointing at a test's local record.
    void TearDown() override { gl_debug_settings = saved_settings; }
};

TEST_F(Debug_Output_Test, EnableInstallsTheCallbackWithTheCurrentLogger) {
    Log_Record record;
    {
        Scoped_Logger logger(record_into, &record);
        gl_enable_debug_output();
    }
    EXPECT_EQ(gl_debug_settings.logger, record_into);
    EXPECT_EQ(gl_debug_settings.logger_data, &record);

    void *callback = nullptr, *user = nullptr;
    glGetPointerv(GL_DEBUG_CALLBACK_FUNCTION, &callback);
    glGetPointerv(GL_DEBUG_CALLBACK_USER_PARAM, &user);
    EXPECT_EQ(callback, reinterpret_cast<void *>(gl_debug_callback));
    EXPECT_EQ(user, &gl_debug_settings);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// What the wrapped entries saw during gl_enable_debug_output.
struct Install_Calls {
    int core = 0, arb = 0, enables = 0;
    const void *callback = nullptr;
    const void *user = nullptr;
};
Install_Calls calls;

void APIENTRY fake_core_install(GLDEBUGPROC callback, const void *user) {
    calls.core++;
    calls.callback = reinterpret_cast<const void *>(callback);
    calls.user = user;
}
void APIENTRY fake_arb_install(GLDEBUGPROCARB callback, const void *user) {
    calls.arb++;
    calls.callback = reinterpret_cast<const void *>(callback);
    calls.user = user;
}
void APIENTRY fake_enable(GLenum) {
    calls.enables++;
}

TEST_F(Debug_Output_Test, InstallerFollowsVersionThenExtension) {
    struct Case {
        s32 major, minor;
        bool has_arb;
        bool core_entry_missing;
        int core, arb;
    };
    const Case cases[] = {
        {4, 5, true, false, 1, 0},  {4, 3, false, false, 1, 0}, {5, 0, false, false, 1, 0},
        {4, 2, true, false, 0, 1},  {3, 3, true, false, 0, 1},  {4, 2, false, false, 0, 0},
        {3, 3, false, false, 0, 0}, {4, 6, true, true, 0, 1},   {4, 6, false, true, 0, 0},
    };
    const GL_Info saved_info = gl_info;
    const PFNGLDEBUGMESSAGECALLBACKPROC saved_core = glDebugMessageCallback;
    const PFNGLDEBUGMESSAGECALLBACKARBPROC saved_arb = glDebugMessageCallbackARB;
    const PFNGLENABLEPROC saved_enable = glEnable;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.major << "." << c.minor << (c.has_arb ? " with" : " without") << " the extension"
                     << (c.core_entry_missing ? ", no core entry" : ""));
        gl_info.major = c.major;
        gl_info.minor = c.minor;
        gl_info.has_arb_debug_output = c.has_arb;
        glDebugMessageCallback = c.core_entry_missing ? nullptr : fake_core_install;
        glDebugMessageCallbackARB = fake_arb_install;
        glEnable = fake_enable;
        calls = {};

        gl_enable_debug_output();

        glDebugMessageCallback = saved_core;
        glDebugMessageCallbackARB = saved_arb;
        glEnable = saved_enable;
        gl_info.major = saved_info.major;
        gl_info.minor = saved_info.minor;
        gl_info.has_arb_debug_output = saved_info.has_arb_debug_output;

        EXPECT_EQ(calls.core, c.core);
        EXPECT_EQ(calls.arb, c.arb);
        EXPECT_EQ(calls.enables, 0);
        if (c.core + c.arb) {
            EXPECT_EQ(calls.callback, reinterpret_cast<const void *>(gl_debug_callback));
            EXPECT_EQ(calls.user, &gl_debug_settings);
        }
    }
}

TEST_F(Debug_Output_Test, DriverMessagesBecomeTwoLogLinesOnStandardOutput) {
    struct Case {
        const char *label;
        GLenum source, type;
        GLuint id;
        GLenum severity;
        GLsizei length;
        const char *message;
        std::string out;
    };
    const Case cases[] = {
        {"third-party error", GL_DEBUG_SOURCE_THIRD_PARTY, GL_DEBUG_TYPE_ERROR, 4242, GL_DEBUG_SEVERITY_HIGH,
         -1, "text",
         LOG_TAG + "OGL: type = error; source = third party; id = 4242; severity = high\n" + LOG_TAG +
             "OGL: message = text\n"},
        {"counted message", GL_DEBUG_SOURCE_THIRD_PARTY, GL_DEBUG_TYPE_PERFORMANCE, 17,
         GL_DEBUG_SEVERITY_MEDIUM, 4, "abcdef",
         LOG_TAG + "OGL: type = performance; source = third party; id = 17; severity = medium\n" + LOG_TAG +
             "OGL: message = abcd\n"},
        {"application", GL_DEBUG_SOURCE_APPLICATION, GL_DEBUG_TYPE_ERROR, 1, GL_DEBUG_SEVERITY_HIGH, -1,
         "mine", ""},
        {"other type", GL_DEBUG_SOURCE_THIRD_PARTY, GL_DEBUG_TYPE_OTHER, 2, GL_DEBUG_SEVERITY_HIGH, -1,
         "chatter", ""},
        {"undefined behaviour", GL_DEBUG_SOURCE_THIRD_PARTY, GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR, 3,
         GL_DEBUG_SEVERITY_HIGH, -1, "ub", ""},
    };
    Scoped_Logger logger(logger_proc, nullptr);
    gl_enable_debug_output();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        test::Captured_Output captured;
        glDebugMessageInsert(c.source, c.type, c.id, c.severity, c.length, c.message);
        glFinish();
        captured.restore();
        EXPECT_EQ(captured.out(), c.out);
        EXPECT_EQ(captured.err(), "");
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

TEST_F(Debug_Output_Test, ApiErrorIsLoggedFromTheApiSource) {
    Scoped_Logger logger(logger_proc, nullptr);
    gl_enable_debug_output();
    test::Captured_Output captured;
    glEnable(0xFFFF); // no such capability
    glFinish();
    captured.restore();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_ENUM));

    // The driver chooses the id and the text; the rest is ours.
    const std::string out = captured.out();
    const std::string header = LOG_TAG + "OGL: type = error; source = API; id = ";
    const std::string severity = "; severity = high\n";
    ASSERT_EQ(out.compare(0, header.size(), header), 0) << out;
    size_t digits_end = out.find_first_not_of("0123456789", header.size());
    ASSERT_NE(digits_end, std::string::npos) << out;
    EXPECT_GT(digits_end, header.size()) << out;
    ASSERT_EQ(out.compare(digits_end, severity.size(), severity), 0) << out;

    const std::string text_line = out.substr(digits_end + severity.size());
    const std::string text_start = LOG_TAG + "OGL: message = ";
    ASSERT_EQ(text_line.compare(0, text_start.size(), text_start), 0) << out;
    EXPECT_GT(text_line.size(), text_start.size() + 1) << out;
    EXPECT_EQ(text_line.find('\n'), text_line.size() - 1) << out;
    EXPECT_EQ(captured.err(), "");
}

TEST_F(Debug_Output_Test, CallbackUsesTheLoggerRecordedAtEnableOnAnyThread) {
    Log_Record record;
    {
        Scoped_Logger logger(record_into, &record);
        gl_enable_debug_output();
    }

    // A thread that, like a driver's, runs with the default context.
    std::thread::id caller;
    bool default_before = false, default_after = false, own_scratch_untouched = false;
    test::Captured_Output captured;
    std::thread driver([&] {
        caller = std::this_thread::get_id();
        default_before = context().logger == default_logger_proc;
        gl_debug_callback(GL_DEBUG_SOURCE_API, GL_DEBUG_TYPE_ERROR, 99, GL_DEBUG_SEVERITY_HIGH, -1,
                          "from another thread", &gl_debug_settings);
        default_after = context().logger == default_logger_proc;
        own_scratch_untouched = context().temporary_storage.begin == nullptr;
    });
    driver.join();
    captured.restore();

    EXPECT_TRUE(default_before);
    EXPECT_TRUE(default_after);
    EXPECT_TRUE(own_scratch_untouched);
    EXPECT_EQ(captured.out(), "");
    EXPECT_EQ(captured.err(), "");
    expect_logged(record, "OGL: type = error; source = API; id = 99; severity = high", "from another thread");
    for (std::thread::id t : record.threads) EXPECT_EQ(t, caller);
}

} // namespace
} // namespace tessera
