// The out-of-memory end: written with one system call when no console exists yet.
#include "ovcore/out_of_memory.h"

#include "ovcore/message.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <unistd.h>

namespace
{

std::terminate_handler previous_terminate_handler = nullptr;

void write_start_failure()
{
    // Built on the stack: nothing here may allocate.
    char line[160];
    const char* program = program_invocation_short_name;
    const char tail[] = ": not enough memory to start.\n";
    size_t length = std::strlen(program);
    if (length > sizeof line - sizeof tail)
        length = sizeof line - sizeof tail;
    std::memcpy(line, program, length);
    std::memcpy(line + length, tail, sizeof tail - 1);
    (void)!write(2, line, length + sizeof tail - 1);
}

[[noreturn]] void on_terminate()
{
    if (std::exception_ptr current = std::current_exception())
    {
        try
        {
            std::rethrow_exception(current);
        }
        catch (const std::bad_alloc&)
        {
            out_of_memory_exit("Not enough memory to go on: the run stops.");
        }
        catch (...)
        {
        }
    }
    if (previous_terminate_handler != nullptr)
        previous_terminate_handler();
    std::abort();
}

}  // namespace

void out_of_memory_exit_print(const char* format, ...)
{
    if (g_console_message_handler == nullptr)
        write_start_failure();
    else
    {
        va_list args;
        va_start(args, format);
        msg_va(message_level_t::error, format, args);
        va_end(args);
        std::fflush(stdout);
        std::fflush(stderr);
    }
    _exit(1);
}

void install_out_of_memory_handler()
{
    std::terminate_handler previous = std::set_terminate(on_terminate);
    if (previous != on_terminate)
        previous_terminate_handler = previous;
}
