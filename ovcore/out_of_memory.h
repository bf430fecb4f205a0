// The end of a run that memory cannot carry on: one line saying so, exit status 1, never an abort.
#pragma once

#include "ovcore/format_check.h"

#include <type_traits>

// Says the formatted text (a whole sentence naming what memory was wanted for) at error level
// and ends the process with status 1 without running exit handlers: they would want memory too.
// The line is formatted into the message room reserved at start-up. Before the console handler
// exists it writes the fixed line "<program>: not enough memory to start." to standard error.
[[noreturn]] void out_of_memory_exit_print(const char* format, ...);

template <typename... Args>
[[noreturn]] void out_of_memory_exit(checked_format_t<std::type_identity_t<Args>...> format,
                                     Args... args)
{
    out_of_memory_exit_print(format.text, args...);
}

// Makes an uncaught std::bad_alloc, from any thread, end the process through
// out_of_memory_exit; any other uncaught exception terminates as before. Called first thing by
// core start-up.
void install_out_of_memory_handler();
