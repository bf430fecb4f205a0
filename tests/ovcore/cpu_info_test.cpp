// Processor list methods, vendor and brand, and the clock speed from the registry or estimated.
#include "ovcore/cpu_info.h"

#include "ovcore/sys_clock.h"
#include "ovcore/sys_cpu.h"
#include "ovcore/sys_registry.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{
// A machine made up by the test: its processors, its CPUID answers, its clocks and its registry.
struct fake_machine_t
{
    bool has_topology = true;
    std::vector<sys_cpu_topology_t> topology;
    bool has_affinity = true;
    std::vector<uint32_t> process_processors;
    std::vector<uint32_t> pinned;
    bool has_registry_speed = true;
    uint32_t registry_mhz = 3000;
    std::string registry_key;
    uint64_t counter = 0;          // microseconds; each read advances 5 ms
    uint64_t time_stamp = 0;       // each read advances 25 million ticks
};
fake_machine_t machine;

bool fake_query_topology(array_t<sys_cpu_topology_t>* processors)
{
    for (const sys_cpu_topology_t& processor : machine.topology)
        EXPECT_TRUE(processors->append(processor));
    return machine.has_topology;
}

bool fake_query_process_processors(array_t<uint32_t>* numbers)
{
    for (uint32_t number : machine.process_processors)
        EXPECT_TRUE(numbers->append(number));
    return machine.has_affinity;
}

void fake_run_on_processor(uint32_t number, void (*work)(void*), void* context)
{
    machine.pinned.push_back(number);
    work(context);
}

void fake_cpuid(uint32_t leaf, uint32_t registers[4])
{
    static const char brand[49] = "Test Processor @ 3.00GHz                        ";
    std::memset(registers, 0, 16);
    if (leaf == 0)
    {
        std::memcpy(&registers[1], "Genu", 4);
        std::memcpy(&registers[3], "ineI", 4);
        std::memcpy(&registers[2], "ntel", 4);
    }
    else if (leaf == 0x80000000u)
        registers[0] = 0x80000004u;
    else if (leaf >= 0x80000002u && leaf <= 0x80000004u)
        std::memcpy(registers, brand + (leaf - 0x80000002u) * 16, 16);
}

bool fake_read_time_stamp(uint64_t* ticks)
{
    *ticks = machine.time_stamp;
    machine.time_stamp += 25000000;
    return true;
}

bool fake_frequency(uint64_t* ticks_per_second)
{
    *ticks_per_second = 1000000;
    return true;
}

bool fake_counter(uint64_t* ticks)
{
    *ticks = machine.counter;
    machine.counter += 5000;
    return true;
}

bool fake_open_key(uint64_t* key, uint32_t, const char* sub_key)
{
    machine.registry_key = sub_key;
    *key = 1;
    return machine.has_registry_speed;
}

bool fake_query_value(uint64_t, const char*, uint32_t* type, void* data, uint32_t* size)
{
    std::memcpy(data, &machine.registry_mhz, 4);
    *type = registry_type_u32;
    *size = 4;
    return true;
}

bool fake_close_key(uint64_t)
{
    return true;
}

const sys_cpu_api_t fake_cpu = { fake_query_topology, fake_query_process_processors,
                                 fake_run_on_processor, fake_cpuid, fake_read_time_stamp };
const sys_registry_api_t fake_registry = { fake_open_key, fake_query_value, fake_close_key };

class cpu_list_fixture_t : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (uint32_t i = 0; i < cpu_count(); ++i)
            saved.push_back(*cpu_at(i));
        machine = {};
        clock = sys_clock_posix;
        clock.query_frequency = fake_frequency;
        clock.query_counter = fake_counter;
        sys_clock = &clock;
        sys_cpu = &fake_cpu;
        sys_registry = &fake_registry;
    }
    void TearDown() override
    {
        sys_clock = &sys_clock_posix;
        sys_cpu = &sys_cpu_posix;
        sys_registry = &sys_registry_posix;
        cpu_list_assign(saved.data(), uint32_t(saved.size()));
    }

    struct expected_t { uint32_t number; uint32_t core_index; uint32_t second_thread; };
    void expect_list(const std::vector<expected_t>& expected)
    {
        ASSERT_EQ(cpu_count(), expected.size());
        for (uint32_t i = 0; i < cpu_count(); ++i)
        {
            SCOPED_TRACE(i);
            EXPECT_EQ(cpu_at(i)->processor_number, expected[i].number);
            EXPECT_EQ(cpu_at(i)->core_index, expected[i].core_index);
            EXPECT_EQ(cpu_at(i)->second_thread, expected[i].second_thread);
        }
    }

    std::vector<cpu_t> saved;
    sys_clock_api_t clock;
};
} // namespace

TEST_F(cpu_list_fixture_t, topology_numbers_physical_cores_from_zero)
{
    // Two cores with two hardware threads each, numbered the way Linux often does.
    machine.topology = { { 0, 0, 0 }, { 1, 0, 4 }, { 2, 0, 0 }, { 3, 0, 4 } };
    message_capture_t capture;
    cpu_list_build();
    expect_list({ { 0, 0, 0 }, { 1, 1, 0 }, { 2, 0, 1 }, { 3, 1, 1 } });
    EXPECT_EQ(cpu_physical_core_count(), 2u);
    EXPECT_EQ(machine.pinned, (std::vector<uint32_t>{ 0, 1, 2, 3 }));
    for (uint32_t i = 0; i < cpu_count(); ++i)
    {
        EXPECT_EQ(cpu_at(i)->vendor, cpu_vendor_t::intel);
        EXPECT_STREQ(cpu_at(i)->vendor_text, "GenuineIntel");
        EXPECT_EQ(std::string(cpu_at(i)->brand).rfind("Test Processor @ 3.00GHz", 0), 0u);
        EXPECT_EQ(cpu_at(i)->speed_khz, 3000000u);
    }
    EXPECT_EQ(machine.registry_key, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");
    EXPECT_TRUE(capture.lines.empty());
}

TEST_F(cpu_list_fixture_t, cores_of_different_packages_are_different_cores)
{
    machine.topology = { { 0, 0, 0 }, { 1, 1, 0 } };
    cpu_list_build();
    expect_list({ { 0, 0, 0 }, { 1, 1, 0 } });
}

TEST_F(cpu_list_fixture_t, affinity_method_gives_one_core_per_processor)
{
    machine.has_topology = false;
    machine.process_processors = { 2, 5, 7 };
    cpu_list_build();
    expect_list({ { 2, 0, 0 }, { 5, 1, 0 }, { 7, 2, 0 } });
    // The speed is read for the first hardware thread of core 0.
    EXPECT_EQ(machine.registry_key, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\2");
}

TEST_F(cpu_list_fixture_t, falls_back_to_one_record)
{
    machine.has_topology = false;
    machine.has_affinity = false;
    cpu_list_build();
    expect_list({ { 0, 0, 0 } });
    EXPECT_EQ(cpu_at(0)->speed_khz, 3000000u);
    EXPECT_EQ(cpu_at(0)->vendor, cpu_vendor_t::intel);
}

struct speed_case_t
{
    bool registry_has_value;
    uint32_t registry_mhz;
    uint32_t speed_khz;
    std::vector<std::string> warnings;
};

TEST_F(cpu_list_fixture_t, speed_comes_from_the_registry_when_in_range_else_from_the_estimate)
{
    // The estimate: 25 million time-stamp ticks over 10 ms of counter time is 2.5 GHz.
    const speed_case_t cases[] = {
        { true, 3000, 3000000, {} },
        { true, 1000, 1000000, {} },
        { true, 30000, 30000000, {} },
        { true, 800, 2500000,
          { "[cpu] The OS reported CPU speed 0.8GHz is off the expected range (1.0GHz - 30.0GHz)",
            "[cpu] Using estimated CPU speed (2.5GHz)" } },
        { true, 30001, 2500000,
          { "[cpu] The OS reported CPU speed 30.0GHz is off the expected range (1.0GHz - 30.0GHz)",
            "[cpu] Using estimated CPU speed (2.5GHz)" } },
        { true, 0xFFFFFFFFu, 2500000, { "[cpu] Using estimated CPU speed (2.5GHz)" } },
        { false, 0, 2500000,
          { "[reg] Failed to open registry sub key 'HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0'.",
            "[reg] Failed to open key 'HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0' under "
            "tree 'HKEY_LOCAL_MACHINE'.",
            "[cpu] Using estimated CPU speed (2.5GHz)" } },
    };
    for (const speed_case_t& c : cases)
    {
        SCOPED_TRACE(c.registry_mhz);
        machine.has_registry_speed = c.registry_has_value;
        machine.registry_mhz = c.registry_mhz;
        machine.counter = 0;
        machine.time_stamp = 0;
        message_capture_t capture;
        EXPECT_EQ(cpu_determine_speed_khz(0), c.speed_khz);
        EXPECT_EQ(capture.lines, c.warnings);
    }
}

TEST(cpu_list, this_machine_has_a_consistent_list)
{
    ASSERT_GE(cpu_count(), 1u);
    EXPECT_GE(cpu_physical_core_count(), 1u);
    for (uint32_t i = 0; i < cpu_count(); ++i)
    {
        EXPECT_LT(cpu_at(i)->core_index, cpu_physical_core_count());
        EXPECT_EQ(cpu_at(i)->speed_khz, cpu_at(0)->speed_khz);
    }
}
