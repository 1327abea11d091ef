// A fixture for tests that record drawing without a GL context: the renderer
// record with real 256 MiB pools and 16 texture units, reset after every test.
#pragma once

#include "base/context.h"
#include "renderer/pass.h"
#include "renderer/renderer.h"

#include <gtest/gtest.h>

namespace tessera::test {

struct Recording_Renderer_Test : ::testing::Test {
    static constexpr s64 POOL_RESERVATION = 256 * 1024 * 1024;

    void SetUp() override {
        init(&renderer.vertex_data, POOL_RESERVATION, "vertex_data"_s);
        init(&renderer.index_data, POOL_RESERVATION, "index_data"_s);
        renderer.texture_units_available = 16;
    }
    void TearDown() override {
        deinit(&renderer.vertex_data);
        deinit(&renderer.index_data);
        array_free(&renderer.passes);
        array_free(&renderer.clip_stack);
        array_free(&renderer.opacity_stack);
        renderer = Renderer{};
        frame_stats = {};
        reset_temporary_storage();
    }

    Pass &pass(s64 i) { return renderer.passes.data[i]; }
    Pass &last() { return renderer.passes.data[renderer.passes.count - 1]; }
};

} // namespace tessera::test
