#include "gl/gl.h"

#include "capture.h"
#include "gl_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The lookup the loader is meant to use, to compare the table against.
extern "C" void (*glXGetProcAddress(const unsigned char *name))(void);

namespace tessera {
namespace {

// The table's current values in list order, read through the variables themselves.
std::vector<GL_Proc> table_values() {
    return {
#define TESSERA_TEST_PROC_VALUE_(name, type) reinterpret_cast<GL_Proc>(name),
        TESSERA_GL_PROCS(TESSERA_TEST_PROC_VALUE_)
#undef TESSERA_TEST_PROC_VALUE_
    };
}

GL_Proc glx_lookup(const char *name) {
    return glXGetProcAddress(reinterpret_cast<const unsigned char *>(name));
}

struct Loader_Test : test::GL_Test {
    // Every test leaves the table and gl_info as the real loader fills them.
    void TearDown() override { EXPECT_EQ(gl_load(), 0); }
};

TEST_F(Loader_Test, EveryListedEntryHoldsWhatGlxResolvesForItsName) {
    EXPECT_EQ(test::gl_test_missing_procs(), 0);
    EXPECT_EQ(gl_load(), 0);

    std::vector<GL_Proc> values = table_values();
    ASSERT_EQ(static_cast<s64>(values.size()), GL_PROC_COUNT);
    for (s64 i = 0; i < GL_PROC_COUNT; i++) {
        EXPECT_NE(values[i], nullptr) << GL_PROC_NAMES[i];
        EXPECT_EQ(values[i], glx_lookup(GL_PROC_NAMES[i])) << GL_PROC_NAMES[i];
    }
}

TEST_F(Loader_Test, RecordsTheContextVersion) {
    // The version string starts with "<major>.<minor>", read independently here.
    const char *version = reinterpret_cast<const char *>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    int major = -1, minor = -1;
    ASSERT_EQ(sscanf(version, "%d.%d", &major, &minor), 2) << version;

    EXPECT_EQ(gl_info.major, major);
    EXPECT_EQ(gl_info.minor, minor);
    EXPECT_TRUE(gl_info.major > 3 || (gl_info.major == 3 && gl_info.minor >= 3))
        << gl_info.major << "." << gl_info.minor;
}

TEST_F(Loader_Test, RecordsEveryReportedExtension) {
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    ASSERT_GT(count, 0);
    ASSERT_EQ(gl_info.extensions.count, count);

    // The ends of the driver's list, so that neither end is dropped.
    for (GLint i : {0, count - 1}) {
        const char *name = reinterpret_cast<const char *>(glGetStringi(GL_EXTENSIONS, i));
        EXPECT_TRUE(gl_has_extension(from_c_string(name))) << name;
    }
    EXPECT_TRUE(gl_info.has_arb_debug_output);
}

TEST_F(Loader_Test, ExtensionQueryMatchesWholeNamesExactly) {
    struct Case {
        String name;
        bool present;
    };
    const Case cases[] = {
        {"GL_ARB_debug_output"_s, true},           // present on the drivers we run on
        {"GL_ARB_debug"_s, false},                 // a prefix of a present name
        {"GL_ARB_debug_output_2"_s, false},        // a present name is a prefix of it
        {"gl_arb_debug_output"_s, false},          // names are case-sensitive
        {"GL_TESSERA_no_such_extension"_s, false}, // unknown
        {""_s, false},                             // empty
    };
    for (const Case &c : cases) {
        EXPECT_EQ(gl_has_extension(c.name), c.present) << test::to_std(c.name);
    }
}

// Names the fake lookup pretends not to know; everything else goes to GLX.
std::vector<std::string> hidden_names;
bool hide_everything = false;

GL_Proc lookup_with_holes(const unsigned char *name) {
    if (hide_everything) return nullptr;
    for (const std::string &h : hidden_names) {
        if (h == reinterpret_cast<const char *>(name)) return nullptr;
    }
    return glXGetProcAddress(name);
}

TEST_F(Loader_Test, MissingEntriesAreCountedAndLeftNull) {
    struct Case {
        const char *label;
        std::vector<std::string> hidden;
        bool hide_all;
        bool version_known;    // glGetIntegerv resolved
        bool extensions_known; // glGetIntegerv and glGetStringi resolved
    };
    const Case cases[] = {
        {"nothing hidden", {}, false, true, true},
        {"one installer", {"glDebugMessageCallbackARB"}, false, true, true},
        {"two unrelated", {"glDrawElements", "glUniform1uiv"}, false, true, true},
        {"the extension query", {"glGetStringi"}, false, true, false},
        {"the integer query", {"glGetIntegerv"}, false, false, false},
        {"everything", {}, true, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        hidden_names = c.hidden;
        hide_everything = c.hide_all;
        s64 missing = gl_load(lookup_with_holes);
        hidden_names.clear();
        hide_everything = false;

        s64 expected_missing = c.hide_all ? GL_PROC_COUNT : static_cast<s64>(c.hidden.size());
        EXPECT_EQ(missing, expected_missing);
        std::vector<GL_Proc> values = table_values();
        for (s64 i = 0; i < GL_PROC_COUNT; i++) {
            bool hidden = c.hide_all;
            for (const std::string &h : c.hidden) hidden |= h == GL_PROC_NAMES[i];
            EXPECT_EQ(values[i] == nullptr, hidden) << GL_PROC_NAMES[i];
        }

        EXPECT_EQ(gl_info.major != 0, c.version_known) << gl_info.major;
        EXPECT_EQ(gl_info.extensions.count != 0, c.extensions_known) << gl_info.extensions.count;
        EXPECT_EQ(gl_info.has_arb_debug_output, c.extensions_known);
    }
}

} // namespace
} // namespace tessera
