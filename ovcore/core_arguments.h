// The core's argument table: a count and up to 128 argument pointers that a host program fills
// before core start-up. It is separate from the process's argument vector; the font generator
// never fills it, so its own command line never switches core services on.
#pragma once

#include <cstdint>

constexpr uint32_t core_argument_capacity = 128;

struct core_arguments_t
{
    uint32_t count;
    const char* arguments[core_argument_capacity];  // the first entry is the host's own name
};

// Empty unless a host filled it; read by core start-up.
extern core_arguments_t g_core_arguments;

// Copies the pointers; the texts must outlive the core. False, with the table unchanged, when
// count is above 128 or one of the pointers is null. Before core start-up only.
[[nodiscard]] bool set_core_arguments(uint32_t count, const char* const* arguments);
// Empties the table.
void clear_core_arguments();

// A switch found in the table: its parameters are the arguments after it up to the next one
// that begins with "-".
struct core_switch_t
{
    uint32_t first_parameter;  // index into the table
    uint32_t parameter_count;
};

// Looks for an argument equal to `name` (exact, case-sensitive) from the second entry on.
// With fewer than two entries nothing is scanned. False when the switch is absent.
[[nodiscard]] bool find_core_switch(const char* name, core_switch_t* found);
