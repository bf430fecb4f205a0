// The core's argument table and its switch scan.
#include "ovcore/core_arguments.h"

#include <cstring>

core_arguments_t g_core_arguments = {};

bool set_core_arguments(uint32_t count, const char* const* arguments)
{
    if (count > core_argument_capacity)
        return false;
    for (uint32_t i = 0; i < count; ++i)
        if (arguments[i] == nullptr)
            return false;
    for (uint32_t i = 0; i < count; ++i)
        g_core_arguments.arguments[i] = arguments[i];
    g_core_arguments.count = count;
    return true;
}

void clear_core_arguments()
{
    g_core_arguments = {};
}

bool find_core_switch(const char* name, core_switch_t* found)
{
    // The first entry names the host, never a switch.
    for (uint32_t i = 1; i < g_core_arguments.count; ++i)
    {
        if (std::strcmp(g_core_arguments.arguments[i], name) != 0)
            continue;
        uint32_t end = i + 1;
        while (end < g_core_arguments.count && g_core_arguments.arguments[end][0] != '-')
            ++end;
        found->first_parameter = i + 1;
        found->parameter_count = end - (i + 1);
        return true;
    }
    return false;
}
