// Linux processor queries behind the processor seam: sysfs topology, sched affinity, CPUID.
#include "ovcore/sys_cpu.h"

#include <cstdio>

#include <pthread.h>
#include <sched.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define OV_HAS_CPUID 1
#else
#define OV_HAS_CPUID 0
#endif

const sys_cpu_api_t* sys_cpu = &sys_cpu_posix;

namespace
{
bool read_topology_value(uint32_t processor, const char* name, uint32_t* value)
{
    char path[128];
    std::snprintf(path, sizeof(path), "/sys/devices/system/cpu/cpu%u/topology/%s", processor, name);
    FILE* file = std::fopen(path, "r");
    if (file == nullptr)
        return false;
    long number = -1;
    bool read = std::fscanf(file, "%ld", &number) == 1 && number >= 0;
    std::fclose(file);
    *value = uint32_t(number);
    return read;
}

bool posix_query_process_processors(array_t<uint32_t>* numbers)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0)
        return false;
    for (uint32_t number = 0; number < CPU_SETSIZE; ++number)
        if (CPU_ISSET(number, &set) && !numbers->append(number))
            return false;
    return !numbers->empty();
}

bool posix_query_topology(array_t<sys_cpu_topology_t>* processors)
{
    array_dyn_t<uint32_t> numbers;
    if (!posix_query_process_processors(&numbers))
        return false;
    for (uint32_t i = 0; i < numbers.size(); ++i)
    {
        sys_cpu_topology_t processor = { numbers[i], 0, 0 };
        if (!read_topology_value(processor.processor_number, "physical_package_id", &processor.package_id) ||
            !read_topology_value(processor.processor_number, "core_id", &processor.core_id) ||
            !processors->append(processor))
            return false;
    }
    return true;
}

void posix_run_on_processor(uint32_t processor_number, void (*work)(void* context), void* context)
{
    cpu_set_t previous;
    bool saved = pthread_getaffinity_np(pthread_self(), sizeof(previous), &previous) == 0;
    bool pinned = false;
    if (saved && processor_number < CPU_SETSIZE)
    {
        cpu_set_t single;
        CPU_ZERO(&single);
        CPU_SET(processor_number, &single);
        // The kernel moves the calling thread onto the processor before the call returns.
        pinned = pthread_setaffinity_np(pthread_self(), sizeof(single), &single) == 0;
    }
    work(context);
    if (pinned)
        pthread_setaffinity_np(pthread_self(), sizeof(previous), &previous);
}

void posix_cpuid(uint32_t leaf, uint32_t registers[4])
{
    registers[0] = registers[1] = registers[2] = registers[3] = 0;
#if OV_HAS_CPUID
    unsigned int a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(leaf, &a, &b, &c, &d))
    {
        registers[0] = a;
        registers[1] = b;
        registers[2] = c;
        registers[3] = d;
    }
#else
    (void)leaf;
#endif
}

bool posix_read_time_stamp(uint64_t* ticks)
{
#if OV_HAS_CPUID
    *ticks = __rdtsc();
    return true;
#else
    (void)ticks;
    return false;
#endif
}
} // namespace

extern const sys_cpu_api_t sys_cpu_posix = {
    posix_query_topology, posix_query_process_processors, posix_run_on_processor,
    posix_cpuid,          posix_read_time_stamp,
};
