// The process timer: the first of five candidate clocks that starts, delivering microseconds.
#pragma once

#include <cstdint>

struct timer_descriptor_t
{
    bool (*start)();      // probes the clock and takes the first sample; false to yield to the next
    void (*stop)();
    uint64_t (*read)();   // microseconds since the previous read; under the process time lock
    void (*announce)();   // the info line naming the timer
};

// Source kinds of the performance counter, judged from its frequency.
enum class counter_kind_t : uint32_t
{
    unknown = 0,
    pit_8254 = 1,
    rtc = 2,
    acpi_pm_clock = 3,
    tsc = 4,
    tsc_invariant = 5,
    hpet = 6,
};

// The kind of a counter running at frequency Hz on a machine whose first processor runs at
// speed_khz; unknown for 0 or a frequency no rule matches.
[[nodiscard]] counter_kind_t performance_counter_kind(uint64_t frequency, uint32_t speed_khz);
[[nodiscard]] const char* performance_counter_kind_name(counter_kind_t kind);

// Turns counter ticks into microseconds, carrying remainders so no time is lost. A value not
// above the previous one counts as no time passing.
struct tick_converter_t
{
    uint64_t frequency;
    uint64_t previous;
    uint64_t remainder;

    void reset(uint64_t ticks_per_second, uint64_t now);
    [[nodiscard]] uint64_t elapsed_us(uint64_t now);
};

// Tries the candidates in order (performance counter, multimedia timer, tick count, system time,
// unchecked performance counter); the first that starts becomes the process timer. Main thread,
// after the processor list is built.
void timer_choose();
// Leaves the choice to the first reading of the timer, so that a run that never reads it does
// not probe clocks or the processor list. Core start-up.
void timer_defer();
// Stops the process timer; process time stands still afterwards.
void timer_stop();
// The chosen timer, or null before timer_choose and after timer_stop.
[[nodiscard]] const timer_descriptor_t* process_timer();
// Microseconds of process time, advanced by the process timer. Any thread.
[[nodiscard]] uint64_t process_time_us();
