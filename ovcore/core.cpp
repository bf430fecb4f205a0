// Start-up and shut-down order of the core's services.
#include "ovcore/core.h"

#include "ovcore/message.h"
#include "ovcore/thread/run_context_system.h"
#include "ovcore/units/unit_resource_tie.h"

#include <clocale>

void core_startup()
{
    std::setlocale(LC_ALL, "C.UTF-8");
    create_message_system();
    create_console_message_handler();
    install_default_resource_tie();
    run_context_system_start();
}

void core_shutdown()
{
    run_context_system_stop();
    destroy_resource_tie();
    destroy_console_message_handler();
    destroy_message_system();
}
