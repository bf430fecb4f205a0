// Operating-system seam for the clocks that the process timer chooses from.
#pragma once

#include <cstdint>

struct sys_clock_api_t
{
    // The performance counter: a monotonic clock and its ticks per second.
    bool (*query_frequency)(uint64_t* ticks_per_second);
    bool (*query_counter)(uint64_t* ticks);
    // A millisecond multimedia timer at its finest period; false on systems without one.
    bool (*open_multimedia_timer)();
    void (*close_multimedia_timer)();
    uint64_t (*multimedia_time_ms)();
    // Milliseconds of a coarse monotonic clock.
    uint64_t (*tick_count_ms)();
    // Wall-clock time in 100-nanosecond units; may jump backwards when the clock is set.
    uint64_t (*system_time_100ns)();
};

// Defaults to the system's table; tests may swap it.
extern const sys_clock_api_t* sys_clock;
extern const sys_clock_api_t sys_clock_posix;
