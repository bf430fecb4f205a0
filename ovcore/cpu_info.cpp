// The processor list: topology, affinity or single-record methods, CPUID details, clock speed.
#include "ovcore/cpu_info.h"

#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "ovcore/registry.h"
#include "ovcore/sys_clock.h"
#include "ovcore/sys_cpu.h"
#include "ovcore/thread/sys_thread.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace
{
// Paid on every start when the system reports no clock: keep it short.
constexpr uint64_t estimate_interval_us = 10000;
constexpr uint32_t lowest_reported_mhz = 1000;    // 1.0 GHz
constexpr uint32_t highest_reported_mhz = 30000;  // 30.0 GHz

array_dyn_t<cpu_t>* cpu_list = nullptr;

cpu_t make_record(uint32_t processor_number, uint32_t core_index, uint32_t second_thread)
{
    cpu_t record = {};
    record.vendor = cpu_vendor_t::other;
    record.processor_number = processor_number;
    record.core_index = core_index;
    record.second_thread = second_thread;
    record.affinity_mask = processor_number < 64 ? uint64_t(1) << processor_number : 0;
    return record;
}

// Core indices number the physical cores from 0 in the order their first processor appears.
bool build_from_topology(array_t<cpu_t>* list)
{
    array_dyn_t<sys_cpu_topology_t> processors;
    if (!sys_cpu->query_topology(&processors) || processors.empty())
        return false;
    for (uint32_t i = 0; i < processors.size(); ++i)
    {
        uint32_t core_index = 0;
        uint32_t second_thread = 0;
        uint32_t cores_seen = 0;
        for (uint32_t j = 0; j < i; ++j)
        {
            bool same_core = processors[j].package_id == processors[i].package_id &&
                             processors[j].core_id == processors[i].core_id;
            if (same_core && second_thread == 0)
            {
                second_thread = 1;
                core_index = (*list)[j].core_index;
            }
            if ((*list)[j].second_thread == 0)
                ++cores_seen;
        }
        if (second_thread == 0)
            core_index = cores_seen;
        if (!list->append(make_record(processors[i].processor_number, core_index, second_thread)))
            return false;
    }
    return true;
}

bool build_from_affinity(array_t<cpu_t>* list)
{
    array_dyn_t<uint32_t> numbers;
    if (!sys_cpu->query_process_processors(&numbers) || numbers.empty())
        return false;
    for (uint32_t i = 0; i < numbers.size(); ++i)
        if (!list->append(make_record(numbers[i], i, 0)))
            return false;
    return true;
}

void read_vendor_and_brand(cpu_t* record)
{
    uint32_t registers[4];
    sys_cpu->cpuid(0, registers);
    std::memcpy(record->vendor_text + 0, &registers[1], 4);  // EBX, EDX, ECX
    std::memcpy(record->vendor_text + 4, &registers[3], 4);
    std::memcpy(record->vendor_text + 8, &registers[2], 4);
    record->vendor_text[12] = 0;
    if (std::strcmp(record->vendor_text, "GenuineIntel") == 0)
        record->vendor = cpu_vendor_t::intel;
    else if (std::strcmp(record->vendor_text, "AuthenticAMD") == 0)
        record->vendor = cpu_vendor_t::amd;
    else
        record->vendor = cpu_vendor_t::other;

    sys_cpu->cpuid(0x80000000u, registers);
    if (registers[0] < 0x80000002u)
    {
        std::strcpy(record->brand, "Unknown");
        return;
    }
    for (uint32_t leaf = 0; leaf < 3; ++leaf)
    {
        sys_cpu->cpuid(0x80000002u + leaf, registers);
        std::memcpy(record->brand + leaf * 16, registers, 16);
    }
    record->brand[48] = 0;
}

struct measure_t
{
    cpu_t* record;
    bool determine_speed;
    uint32_t speed_khz;
};

void measure_processor(void* context)
{
    measure_t* measure = static_cast<measure_t*>(context);
    read_vendor_and_brand(measure->record);
    if (measure->determine_speed)
        measure->speed_khz = cpu_determine_speed_khz(measure->record->processor_number);
}

void measure_processors(array_t<cpu_t>* list)
{
    uint32_t speed_khz = 0;
    for (uint32_t i = 0; i < list->size(); ++i)
    {
        cpu_t& record = (*list)[i];
        measure_t measure = { &record, record.core_index == 0 && record.second_thread == 0, 0 };
        sys_cpu->run_on_processor(record.processor_number, measure_processor, &measure);
        if (measure.determine_speed)
            speed_khz = measure.speed_khz;
    }
    for (uint32_t i = 0; i < list->size(); ++i)
        (*list)[i].speed_khz = speed_khz;
}

void warn_estimated(uint32_t speed_khz)
{
    msg_warning("[cpu] Using estimated CPU speed (%.1fGHz)", double(speed_khz) / 1000000.0);
}
} // namespace

uint32_t cpu_estimate_speed_khz()
{
    uint64_t frequency = 0;
    uint64_t counter_start = 0;
    uint64_t stamp_start = 0;
    if (!sys_clock->query_frequency(&frequency) || frequency == 0 ||
        !sys_clock->query_counter(&counter_start) || !sys_cpu->read_time_stamp(&stamp_start))
        return 0;
    uint64_t counter = counter_start;
    uint64_t elapsed_us = 0;
    while (elapsed_us < estimate_interval_us)
    {
        sys_thread->sleep_ms(1);
        if (!sys_clock->query_counter(&counter))
            return 0;
        elapsed_us = uint64_t((unsigned __int128)(counter - counter_start) * 1000000u / frequency);
    }
    uint64_t stamp = 0;
    if (!sys_cpu->read_time_stamp(&stamp))
        return 0;
    uint64_t khz = uint64_t((unsigned __int128)(stamp - stamp_start) * 1000u / elapsed_us);
    return khz > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(khz);
}

uint32_t cpu_determine_speed_khz(uint32_t processor_number)
{
    string_dyn_t path;
    uint32_t mhz = 0;
    if (path.format("HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\%u\\~MHz",
                    processor_number) &&
        registry_read_u32(&mhz, path.c_str()) && mhz != 0xFFFFFFFFu)
    {
        if (mhz >= lowest_reported_mhz && mhz <= highest_reported_mhz)
            return mhz * 1000;
        msg_warning("[cpu] The OS reported CPU speed %.1fGHz is off the expected range (%.1fGHz - %.1fGHz)",
                    double(mhz) / 1000.0, double(lowest_reported_mhz) / 1000.0,
                    double(highest_reported_mhz) / 1000.0);
    }
    uint32_t speed_khz = cpu_estimate_speed_khz();
    warn_estimated(speed_khz);
    return speed_khz;
}

void cpu_list_build()
{
    delete cpu_list;
    cpu_list = nullptr;
    cpu_list = new array_dyn_t<cpu_t>;
    bool built = build_from_topology(cpu_list);
    if (!built)
    {
        cpu_list->clear();
        built = build_from_affinity(cpu_list);
    }
    if (built)
    {
        measure_processors(cpu_list);
        return;
    }
    // One record for the processor we run on.
    cpu_list->clear();
    cpu_t record = make_record(0, 0, 0);
    read_vendor_and_brand(&record);
    record.speed_khz = cpu_determine_speed_khz(0);
    if (!cpu_list->append(record))
        OV_FATAL("[cpu] Unable to store the processor list.");
}

namespace
{

std::mutex deferred_lock;
std::atomic<bool> deferred{ false };

// The list, built now when it was left for its first use.
const array_dyn_t<cpu_t>* built_list()
{
    if (deferred.load(std::memory_order_acquire))
    {
        std::lock_guard<std::mutex> guard(deferred_lock);
        if (deferred.load(std::memory_order_relaxed))
        {
            cpu_list_build();
            deferred.store(false, std::memory_order_release);
        }
    }
    return cpu_list;
}

}  // namespace

void cpu_list_defer()
{
    cpu_list_free();
    deferred.store(true, std::memory_order_release);
}

void cpu_list_free()
{
    deferred.store(false, std::memory_order_release);
    delete cpu_list;
    cpu_list = nullptr;
}

void cpu_list_assign(const cpu_t* records, uint32_t count)
{
    cpu_list_free();  // an assigned list is never replaced by a deferred build
    cpu_list = new array_dyn_t<cpu_t>;
    for (uint32_t i = 0; i < count; ++i)
        if (!cpu_list->append(records[i]))
            OV_FATAL("[cpu] Unable to store the processor list.");
}

uint32_t cpu_count()
{
    const array_dyn_t<cpu_t>* list = built_list();
    return list != nullptr ? list->size() : 0;
}

const cpu_t* cpu_at(uint32_t index)
{
    const array_dyn_t<cpu_t>* list = built_list();
    if (list == nullptr)
        OV_FATAL("Index outside array boundaries.");
    return &(*list)[index];
}

uint32_t cpu_physical_core_count()
{
    uint32_t cores = 0;
    for (uint32_t i = 0; i < cpu_count(); ++i)
        if ((*cpu_list)[i].second_thread == 0)
            ++cores;
    return cores;
}
