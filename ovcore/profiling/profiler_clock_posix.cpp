// The profiler's clocks on POSIX: the time-stamp counter, the process timer and local time.
#include "ovcore/profiling/profiler_system.h"

#include "ovcore/timer.h"

#include <chrono>
#include <time.h>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace
{

uint64_t posix_read_counter()
{
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    // Without a time-stamp counter the monotonic clock's nanoseconds stand in for its ticks.
    return uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

bool posix_read_local_time(std::tm* out)
{
    const time_t now = time(nullptr);
    return now != time_t(-1) && localtime_r(&now, out) != nullptr;
}

}  // namespace

extern const profiler_clock_api_t profiler_clock_posix = { posix_read_counter,
                                                           process_time_us,
                                                           posix_read_local_time };
