// The list of logical processors, built when first asked for: core relations, vendor, brand and
// clock.
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

// Builds the process-wide list: topology method, else the process's processors, else one record;
// then vendor, brand and the clock speed. Main thread, at core start-up before other threads
// exist; the list is read-only afterwards.
void cpu_list_build();
// Leaves the list to be built on its first use (by whatever thread asks first), so that a run
// that never asks does not pay for moving a thread over every processor. Core start-up.
void cpu_list_defer();
void cpu_list_free();
// Replaces the list with copies of the records (tests inject machines this way). Same rules as
// cpu_list_build: no other thread may be reading the list.
void cpu_list_assign(const cpu_t* records, uint32_t count);

[[nodiscard]] uint32_t cpu_count();
// Fatal outside the list.
[[nodiscard]] const cpu_t* cpu_at(uint32_t index);
// Records that are not second hardware threads of a core.
[[nodiscard]] uint32_t cpu_physical_core_count();

// The clock of a processor in kHz: the value the system reports when it lies between 1 and 30 GHz,
// else an estimate (with a "[cpu] " warning).
[[nodiscard]] uint32_t cpu_determine_speed_khz(uint32_t processor_number);
// Time-stamp ticks per millisecond over a short wait of the performance counter; 0 when the
// counter or the time-stamp counter is missing.
[[nodiscard]] uint32_t cpu_estimate_speed_khz();
