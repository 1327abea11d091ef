// The clock and the sleep of frame pacing, alone in this file: a test binary
// that defines os_monotonic_time and os_sleep_milliseconds itself never links
// this object, and the shipped program calls these directly.
#include "window.h"

#include <time.h>

namespace tessera {

s128 os_monotonic_time() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
    return static_cast<s128>(ts.tv_sec) * FEMTOSECONDS_PER_SECOND + static_cast<s128>(ts.tv_nsec) * 1'000'000;
}

void os_sleep_milliseconds(s32 ms) {
    if (ms < 0) ms = 0;
    timespec ts = {ms / 1000, static_cast<long>(ms % 1000) * 1'000'000};
    nanosleep(&ts, nullptr); // not resumed when interrupted: the next frame absorbs the shortfall
}

} // namespace tessera
