// Timer candidates on the clock seam, the counter-kind table and the process time.
#include "ovcore/timer.h"

#include "ovcore/cpu_info.h"
#include "ovcore/message.h"
#include "ovcore/sys_clock.h"

#include <mutex>

namespace
{
struct timer_state_t
{
    tick_converter_t converter;
    counter_kind_t counter_kind;
    const timer_descriptor_t* chosen;
    uint64_t process_time_us;
    bool deferred;    // chosen at the first reading
    std::mutex lock;  // process time and the chosen timer's reads
};

timer_state_t state;

// The performance counter with its kind checked, or unchecked.
bool start_counter(bool checked)
{
    uint64_t frequency = 0;
    if (!sys_clock->query_frequency(&frequency))
        frequency = 0;
    uint32_t speed_khz = cpu_count() > 0 ? cpu_at(0)->speed_khz : 0;
    state.counter_kind = performance_counter_kind(frequency, speed_khz);
    if (checked && (state.counter_kind == counter_kind_t::unknown ||
                    (state.counter_kind == counter_kind_t::tsc && cpu_count() > 1)))
        return false;
    uint64_t now = 0;
    if (frequency == 0 || !sys_clock->query_counter(&now))
    {
        if (checked)
            return false;
        frequency = 1000000000u;  // keeps the unchecked last resort from dividing by zero
    }
    state.converter.reset(frequency, now);
    return true;
}

bool start_checked_counter() { return start_counter(true); }
bool start_unchecked_counter() { return start_counter(false); }
void stop_nothing() {}

uint64_t read_counter()
{
    uint64_t now = 0;
    if (!sys_clock->query_counter(&now))
        return 0;
    return state.converter.elapsed_us(now);
}

void announce_checked_counter()
{
    msg_info("[sys] using QPC / %s timer, frequency %I64uHz",
             performance_counter_kind_name(state.counter_kind), state.converter.frequency);
}

void announce_unchecked_counter()
{
    msg_info("[sys] using unsafe QPC, frequency %I64uHz", state.converter.frequency);
}

bool start_multimedia()
{
    if (!sys_clock->open_multimedia_timer())
        return false;
    state.converter.reset(1000, sys_clock->multimedia_time_ms());
    return true;
}
void stop_multimedia() { sys_clock->close_multimedia_timer(); }
uint64_t read_multimedia() { return state.converter.elapsed_us(sys_clock->multimedia_time_ms()); }
void announce_multimedia() { msg_info("[sys] using TGT timer"); }

bool start_tick_count()
{
    state.converter.reset(1000, sys_clock->tick_count_ms());
    return true;
}
uint64_t read_tick_count() { return state.converter.elapsed_us(sys_clock->tick_count_ms()); }
void announce_tick_count() { msg_info("[sys] using GTC timer"); }

bool start_system_time()
{
    state.converter.reset(10000000u, sys_clock->system_time_100ns());
    return true;
}
uint64_t read_system_time() { return state.converter.elapsed_us(sys_clock->system_time_100ns()); }
void announce_system_time() { msg_info("[sys] using GSTAFT timer"); }

const timer_descriptor_t timer_candidates[] = {
    { start_checked_counter, stop_nothing, read_counter, announce_checked_counter },
    { start_multimedia, stop_multimedia, read_multimedia, announce_multimedia },
    { start_tick_count, stop_nothing, read_tick_count, announce_tick_count },
    { start_system_time, stop_nothing, read_system_time, announce_system_time },
    { start_unchecked_counter, stop_nothing, read_counter, announce_unchecked_counter },
};

bool within_one_percent(uint64_t frequency, uint64_t target)
{
    uint64_t difference = frequency > target ? frequency - target : target - frequency;
    return difference * 100 <= target;
}
} // namespace

counter_kind_t performance_counter_kind(uint64_t frequency, uint32_t speed_khz)
{
    uint64_t speed_hz = uint64_t(speed_khz) * 1000;
    if (frequency == 0)
        return counter_kind_t::unknown;
    if (frequency == 1193182)
        return counter_kind_t::pit_8254;
    if (frequency == 3579545)
        return counter_kind_t::acpi_pm_clock;
    if (speed_hz != 0 && within_one_percent(frequency, speed_hz))
        return counter_kind_t::tsc;
    if (speed_hz / 1024 != 0 && within_one_percent(frequency, speed_hz / 1024))
        return counter_kind_t::tsc_invariant;
    if (frequency >= 10000000)
        return counter_kind_t::hpet;
    return counter_kind_t::unknown;
}

const char* performance_counter_kind_name(counter_kind_t kind)
{
    switch (kind)
    {
    case counter_kind_t::pit_8254: return "PIT 8254";
    case counter_kind_t::rtc: return "RTC";
    case counter_kind_t::acpi_pm_clock: return "ACPI (PM Clock)";
    case counter_kind_t::tsc: return "TSC";
    case counter_kind_t::tsc_invariant: return "TSC invariant";
    case counter_kind_t::hpet: return "HPET";
    default: return "unknown";
    }
}

void tick_converter_t::reset(uint64_t ticks_per_second, uint64_t now)
{
    frequency = ticks_per_second;
    previous = now;
    remainder = 0;
}

uint64_t tick_converter_t::elapsed_us(uint64_t now)
{
    if (now <= previous)
        return 0;
    // 128 bits: a long pause at a high frequency would overflow 64.
    unsigned __int128 scaled = (unsigned __int128)(now - previous) * 1000000u + remainder;
    previous = now;
    remainder = uint64_t(scaled % frequency);
    return uint64_t(scaled / frequency);
}

namespace
{

// Under the state lock.
void choose_locked()
{
    state.deferred = false;
    state.chosen = nullptr;
    for (const timer_descriptor_t& candidate : timer_candidates)
    {
        if (candidate.start())
        {
            state.chosen = &candidate;
            break;
        }
    }
}

}  // namespace

void timer_choose()
{
    std::lock_guard<std::mutex> hold(state.lock);
    choose_locked();
}

void timer_defer()
{
    std::lock_guard<std::mutex> hold(state.lock);
    state.chosen = nullptr;
    state.deferred = true;
}

void timer_stop()
{
    std::lock_guard<std::mutex> hold(state.lock);
    state.deferred = false;
    if (state.chosen != nullptr)
        state.chosen->stop();
    state.chosen = nullptr;
}

const timer_descriptor_t* process_timer()
{
    std::lock_guard<std::mutex> hold(state.lock);
    if (state.deferred)
        choose_locked();
    return state.chosen;
}

uint64_t process_time_us()
{
    std::lock_guard<std::mutex> hold(state.lock);
    if (state.deferred)
        choose_locked();
    if (state.chosen != nullptr)
        state.process_time_us += state.chosen->read();
    return state.process_time_us;
}
