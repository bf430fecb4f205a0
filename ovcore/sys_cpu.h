// Operating-system seam for processor queries: topology, the process's processors, pinning,
// CPUID and the time-stamp counter.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"

#include <cstdint>

struct sys_cpu_topology_t
{
    uint32_t processor_number;
    uint32_t package_id;
    uint32_t core_id;  // unique within its package
};

struct sys_cpu_api_t
{
    // The processors this process may run on, in increasing number, with the physical core of
    // each. False when the system does not describe its topology.
    bool (*query_topology)(array_t<sys_cpu_topology_t>* processors);
    // The numbers of the processors this process may run on, in increasing order.
    bool (*query_process_processors)(array_t<uint32_t>* numbers);
    // Runs work(context) on the calling thread bound to one processor (unbound when the system
    // refuses), then gives the thread back all the processors it had.
    void (*run_on_processor)(uint32_t processor_number, void (*work)(void* context), void* context);
    // CPUID of the processor the thread runs on; leaves it does not support give zeros.
    void (*cpuid)(uint32_t leaf, uint32_t registers[4]);
    // The processor's time-stamp counter; false where there is none.
    bool (*read_time_stamp)(uint64_t* ticks);
};

// Defaults to the system's table; tests may swap it.
extern const sys_cpu_api_t* sys_cpu;
extern const sys_cpu_api_t sys_cpu_posix;
