// Shared libraries loaded while running, for what only some runs need: a run that does not use
// them does not pay for loading them at start-up.
#pragma once

struct sys_library_api_t
{
    // The library's handle, loading it on first use; null when it cannot be loaded. A library
    // stays loaded until the process ends.
    void* (*open)(const char* name);
    // The address of a symbol of an open library; null when it has none.
    void* (*symbol)(void* library, const char* name);
    // The loader's own words for why the last open failed; null when it has none. May be null
    // itself in a table that has no words to give.
    const char* (*last_error)();
};

extern const sys_library_api_t sys_library_posix;
extern const sys_library_api_t* sys_library;  // the system's table; tests may swap it
