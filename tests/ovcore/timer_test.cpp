// Counter kinds, the tick conversion, the timer candidates in order and process time.
#include "ovcore/timer.h"

#include "ovcore/cpu_info.h"
#include "ovcore/sys_clock.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct kind_case_t
{
    uint64_t frequency;
    uint32_t speed_khz;
    counter_kind_t kind;
    const char* name;
};

const kind_case_t kind_cases[] = {
    { 0, 3000000, counter_kind_t::unknown, "unknown" },
    { 1193182, 3000000, counter_kind_t::pit_8254, "PIT 8254" },
    { 1193183, 3000000, counter_kind_t::unknown, "unknown" },
    { 3579545, 3000000, counter_kind_t::acpi_pm_clock, "ACPI (PM Clock)" },
    { 3000000000u, 3000000, counter_kind_t::tsc, "TSC" },
    { 2970000000u, 3000000, counter_kind_t::tsc, "TSC" },          // 1 % below
    { 3030000000u, 3000000, counter_kind_t::tsc, "TSC" },          // 1 % above
    { 2960000000u, 3000000, counter_kind_t::hpet, "HPET" },        // beyond 1 %
    { 2929687, 3000000, counter_kind_t::tsc_invariant, "TSC invariant" },  // 3 GHz / 1024
    { 10000000, 3000000, counter_kind_t::hpet, "HPET" },
    { 9999999, 3000000, counter_kind_t::unknown, "unknown" },
    { 14318180, 0, counter_kind_t::hpet, "HPET" },
    { 0x100000000ull, 0, counter_kind_t::hpet, "HPET" },
    { 1000000000u, 2600000, counter_kind_t::hpet, "HPET" },         // CLOCK_MONOTONIC here
};

TEST(performance_counter_kind, follows_the_frequency_rules)
{
    for (const kind_case_t& c : kind_cases)
    {
        SCOPED_TRACE(c.frequency);
        EXPECT_EQ(performance_counter_kind(c.frequency, c.speed_khz), c.kind);
        EXPECT_STREQ(performance_counter_kind_name(performance_counter_kind(c.frequency, c.speed_khz)),
                     c.name);
    }
    EXPECT_STREQ(performance_counter_kind_name(counter_kind_t::rtc), "RTC");
}

TEST(tick_converter, carries_remainders_and_never_goes_backwards)
{
    tick_converter_t converter;
    converter.reset(3, 100);  // 3 ticks per second: one tick is 333333.33 microseconds
    struct step_t { uint64_t now; uint64_t elapsed; };
    const step_t steps[] = {
        { 101, 333333 }, { 102, 333333 }, { 103, 333334 },  // the thirds add up to a second
        { 103, 0 },      // no time passed
        { 90, 0 },       // the source went backwards: nothing added
        { 104, 333333 }, // measured from 103, not from 90
    };
    for (const step_t& step : steps)
    {
        SCOPED_TRACE(step.now);
        EXPECT_EQ(converter.elapsed_us(step.now), step.elapsed);
    }
}

TEST(tick_converter, survives_long_pauses_at_high_frequencies)
{
    tick_converter_t converter;
    converter.reset(1000000000u, 0);
    const uint64_t ten_years_ns = 10ull * 365 * 24 * 3600 * 1000000000ull;
    EXPECT_EQ(converter.elapsed_us(ten_years_ns), ten_years_ns / 1000);
}

// A clock seam with settable values and a multimedia timer that may exist.
uint64_t fake_frequency_value = 0;
uint64_t fake_counter_value = 0;
bool fake_has_multimedia = false;
uint64_t fake_ms = 0;

bool fake_frequency(uint64_t* ticks_per_second)
{
    *ticks_per_second = fake_frequency_value;
    return fake_frequency_value != 0;
}
bool fake_counter(uint64_t* ticks)
{
    *ticks = fake_counter_value;
    return true;
}
bool fake_open_multimedia() { return fake_has_multimedia; }
void fake_close_multimedia() {}
uint64_t fake_milliseconds() { return fake_ms; }
uint64_t fake_system_time() { return fake_ms * 10000; }

const sys_clock_api_t fake_clock = { fake_frequency,    fake_counter,      fake_open_multimedia,
                                     fake_close_multimedia, fake_milliseconds, fake_milliseconds,
                                     fake_system_time };

class timer_fixture_t : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (uint32_t i = 0; i < cpu_count(); ++i)
            saved.push_back(*cpu_at(i));
        fake_frequency_value = 0;
        fake_counter_value = 1000;
        fake_has_multimedia = false;
        fake_ms = 50;
        sys_clock = &fake_clock;
    }
    void TearDown() override
    {
        timer_stop();
        cpu_list_assign(saved.data(), uint32_t(saved.size()));
        sys_clock = &sys_clock_posix;
        timer_choose();
    }

    void use_processors(uint32_t count, uint32_t speed_khz)
    {
        std::vector<cpu_t> records(count);
        for (uint32_t i = 0; i < count; ++i)
        {
            records[i] = {};
            records[i].processor_number = i;
            records[i].core_index = i;
            records[i].speed_khz = speed_khz;
        }
        cpu_list_assign(records.data(), count);
    }

    std::vector<std::string> announcement()
    {
        message_capture_t capture;
        process_timer()->announce();
        return capture.lines;
    }

    std::vector<cpu_t> saved;
};

struct choice_case_t
{
    uint64_t frequency;
    uint32_t processors;
    bool has_multimedia;
    const char* announcement;
};
} // namespace

TEST_F(timer_fixture_t, takes_the_first_candidate_that_starts)
{
    const choice_case_t cases[] = {
        { 3579545, 1, false, "[sys] using QPC / ACPI (PM Clock) timer, frequency 3579545Hz" },
        { 1000000000u, 2, false, "[sys] using QPC / HPET timer, frequency 1000000000Hz" },
        { 3000000000u, 1, false, "[sys] using QPC / TSC timer, frequency 3000000000Hz" },
        // A counter at the processor clock on two processors may differ between them.
        { 3000000000u, 2, true, "[sys] using TGT timer" },
        { 3000000000u, 2, false, "[sys] using GTC timer" },
        { 0, 1, false, "[sys] using GTC timer" },
        { 5000, 1, true, "[sys] using TGT timer" },
    };
    for (const choice_case_t& c : cases)
    {
        SCOPED_TRACE(c.announcement);
        fake_frequency_value = c.frequency;
        fake_has_multimedia = c.has_multimedia;
        use_processors(c.processors, 3000000);
        timer_choose();
        ASSERT_NE(process_timer(), nullptr);
        EXPECT_EQ(announcement(), std::vector<std::string>{ c.announcement });
        timer_stop();
    }
}

TEST_F(timer_fixture_t, process_time_advances_by_reads_and_not_without_elapsed_time)
{
    fake_frequency_value = 10000000;  // 10 ticks per microsecond: HPET by its rate
    use_processors(1, 3000000);
    timer_choose();
    uint64_t start = process_time_us();
    EXPECT_EQ(process_time_us(), start);  // nothing elapsed
    fake_counter_value += 2500;
    EXPECT_EQ(process_time_us(), start + 250);
    fake_counter_value -= 1000;           // the source stepped back
    EXPECT_EQ(process_time_us(), start + 250);
    fake_counter_value += 2000;
    EXPECT_EQ(process_time_us(), start + 350);
}

TEST(process_timer, is_chosen_at_start_up_and_runs_forward)
{
    ASSERT_NE(process_timer(), nullptr);
    uint64_t first = process_time_us();
    EXPECT_GE(process_time_us(), first);
}
