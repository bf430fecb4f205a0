// POSIX clocks behind the clock seam: CLOCK_MONOTONIC as the performance counter, the coarse
// monotonic clock as tick count, CLOCK_REALTIME as system time; no multimedia timer.
#include "ovcore/sys_clock.h"

#include <time.h>

const sys_clock_api_t* sys_clock = &sys_clock_posix;

namespace
{
uint64_t nanoseconds(const timespec& time)
{
    return uint64_t(time.tv_sec) * 1000000000u + uint64_t(time.tv_nsec);
}

bool posix_query_frequency(uint64_t* ticks_per_second)
{
    *ticks_per_second = 1000000000u;  // CLOCK_MONOTONIC counts nanoseconds
    return true;
}

bool posix_query_counter(uint64_t* ticks)
{
    timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return false;
    *ticks = nanoseconds(now);
    return true;
}

bool posix_open_multimedia_timer()
{
    return false;
}

void posix_close_multimedia_timer()
{
}

uint64_t posix_multimedia_time_ms()
{
    return 0;
}

uint64_t posix_tick_count_ms()
{
    timespec now;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0 && clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return 0;
    return nanoseconds(now) / 1000000u;
}

uint64_t posix_system_time_100ns()
{
    timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        return 0;
    return nanoseconds(now) / 100u;
}
} // namespace

extern const sys_clock_api_t sys_clock_posix = {
    posix_query_frequency,       posix_query_counter,      posix_open_multimedia_timer,
    posix_close_multimedia_timer, posix_multimedia_time_ms, posix_tick_count_ms,
    posix_system_time_100ns,
};
