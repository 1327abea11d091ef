// Setting a uniform by name: through the location cache (one hash probe on a
// build-time hash) against asking GL for the location every time.
//
// Needs a GL context: run it on a display (tests/support/with-display gives one).
#include "renderer/shader.h"
#include "renderer/shader_sources.h"

#include "gl/gl.h"

#include "gl_fixture.h"

#include <benchmark/benchmark.h>

namespace tessera {
namespace {

// The UI program with the names the flush sets already cached, as after the
// first frame. Null without a context.
Shader *ui_program() {
    static Shader shader;
    static bool ready = [] {
        if (!test::gl_test_context()) return false;
        if (!load_from_memory(&shader, UI_VERTEX_SOURCE, UI_FRAGMENT_SOURCE)) return false;
        for (Hashed_String name : {U_PROJECTION, U_OPACITY, U_SAMPLERS, U_SOFT_CIRCLE_POSITION}) {
            uniform_cache_location(&shader, name);
        }
        return true;
    }();
    if (!ready) return nullptr;
    bind(shader);
    return &shader;
}

#define TESSERA_BENCH_PROGRAM(s)                                                                             \
    Shader *s = ui_program();                                                                                \
    if (!s) {                                                                                                \
        state.SkipWithError("no GL context");                                                                \
        return;                                                                                              \
    }

// ---- The lookup alone ------------------------------------------------------------------

void location_cached(benchmark::State &state) {
    TESSERA_BENCH_PROGRAM(s);
    for (auto _ : state) benchmark::DoNotOptimize(uniform_cache_location(s, U_SOFT_CIRCLE_POSITION));
}
BENCHMARK(location_cached);

void location_from_gl(benchmark::State &state) {
    TESSERA_BENCH_PROGRAM(s);
    for (auto _ : state) benchmark::DoNotOptimize(glGetUniformLocation(s->id, "u_soft_circle_position"));
}
BENCHMARK(location_from_gl);

// A name's first use: the terminated copy, the GL lookup and the insertion.
void location_first_use(benchmark::State &state) {
    TESSERA_BENCH_PROGRAM(s);
    for (auto _ : state) {
        table_reset(&s->uniforms);
        benchmark::DoNotOptimize(uniform_cache_location(s, U_SOFT_CIRCLE_POSITION));
    }
    for (Hashed_String name : {U_PROJECTION, U_OPACITY, U_SAMPLERS, U_SOFT_CIRCLE_POSITION}) {
        uniform_cache_location(s, name);
    }
}
BENCHMARK(location_first_use);

// ---- Lookup and upload -----------------------------------------------------------------

void uniform_cached(benchmark::State &state) {
    TESSERA_BENCH_PROGRAM(s);
    f32 v = 0;
    for (auto _ : state) {
        uniform(s, U_OPACITY, v);
        v += 1.0f / 1024;
    }
}
BENCHMARK(uniform_cached);

void uniform_uncached(benchmark::State &state) {
    TESSERA_BENCH_PROGRAM(s);
    f32 v = 0;
    for (auto _ : state) {
        glUniform1f(glGetUniformLocation(s->id, "u_opacity"), v);
        v += 1.0f / 1024;
    }
}
BENCHMARK(uniform_uncached);

// The upload alone, for reference.
void upload_only(benchmark::State &state) {
    TESSERA_BENCH_PROGRAM(s);
    s32 location = uniform_cache_location(s, U_OPACITY);
    f32 v = 0;
    for (auto _ : state) {
        glUniform1f(location, v);
        v += 1.0f / 1024;
    }
}
BENCHMARK(upload_only);

} // namespace
} // namespace tessera

BENCHMARK_MAIN();
