// Start-up and shut-down order of the core's services.
#include "ovcore/core.h"

#include "ovcore/cpu_info.h"
#include "ovcore/message.h"
#include "ovcore/out_of_memory.h"
#include "ovcore/profiling/profiler_system.h"
#include "ovcore/profiling/trace_settings.h"
#include "ovcore/thread/run_context_system.h"
#include "ovcore/thread/thread_pool.h"
#include "ovcore/timer.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/ufs/fs_system.h"
#include "ovcore/units/unit_resource_tie.h"

#include <clocale>
#include <new>

void core_startup()
{
    install_out_of_memory_handler();
    // Only the character classes differ from the "C" start-up locale (C.UTF-8 formats numbers,
    // times and messages as "C" does): loading the other categories would only cost files.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    create_message_system();
    // The processor list and the timer come when first asked for: a short run never asks.
    cpu_list_defer();
    timer_defer();
    create_console_message_handler();
    try
    {
        install_default_resource_tie();
        run_context_system_start();
        profiler_startup();
        thread_pool_start(false, false);
        fs_startup();
        create_trace_settings();
    }
    catch (const std::bad_alloc&)
    {
        out_of_memory_exit("Not enough memory to start the core services.");
    }
}

void core_shutdown()
{
    // All trace writing finishes while the file system still runs.
    destroy_trace_settings();
    fs_shutdown();
    thread_pool_stop();
    profiler_shutdown();
    run_context_system_stop();
    destroy_resource_tie();
    destroy_console_message_handler();
    timer_stop();
    cpu_list_free();
    destroy_message_system();
}
