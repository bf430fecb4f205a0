// Start-up and shut-down order of the core's services.
#include "ovcore/core.h"

#include "ovcore/message.h"

#include <clocale>

void core_startup()
{
    std::setlocale(LC_ALL, "C.UTF-8");
    create_message_system();
    create_console_message_handler();
}

void core_shutdown()
{
    destroy_console_message_handler();
    destroy_message_system();
}
