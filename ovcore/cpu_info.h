// The list of logical processors built at core start-up: core relations, vendor, brand and clock.
#pragma once

#include <cstdint>

enum class cpu_vendor_t : uint32_t
{
    intel = 0,
    amd = 1,
    other = 2,
};

// One logical processor.
struct cpu_t
{
    cpu_vendor_t vendor;
    uint32_t speed_khz;            // clock speed, the same in every record
    uint32_t core_index;           // physical core, numbered from 0
    uint32_t second_thread;        // non-zero for the second and further hardware threads of a core
    uint32_t processor_number;     // the operating system's number; used as the ideal processor
    uint64_t affinity_mask;        // bit processor_number, 0 when the number is 64 or above
    char vendor_text[13];          // CPUID vendor string
    char brand[49];                // CPUID brand string, or "Unknown"
};
