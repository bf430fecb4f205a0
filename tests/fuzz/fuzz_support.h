// What the fuzz targets of the tool share: the core started, the console silent, and one unit
// system with the tool's types made the default, for the whole run.
#pragma once

#include "ovcore/core.h"
#include "ovcore/message.h"
#include "ovcore/units/unit_system.h"
#include "tools/font_generator/input/configuration.h"

inline unit_system_t* start_core_and_tool_units()
{
    core_startup();
    unregister_message_handler(g_console_message_handler);
    unit_bank_t* bank = new unit_bank_t;
    if (!bank->register_type(&configuration_u::descriptor) ||
        !bank->register_type(&char_set_config_u::descriptor))
        __builtin_trap();
    unit_system_t* system = new unit_system_t(bank);
    system->make_default();
    return system;
}
