// The fatal path: a broken invariant stops the process. It includes nothing, so that every
// part of the core, the messages and the collections among them, can stop the process.
#pragma once

#include <cstdint>

// Reports a broken invariant as "file(line): function: text" at error level, then ends the
// process abnormally. Never returns.
[[noreturn]] void fatal_error(const char* text, const char* file, uint32_t line,
                              const char* function);

#define OV_FATAL(text) fatal_error((text), __FILE__, __LINE__, __PRETTY_FUNCTION__)
