// Shared libraries through the dynamic loader.
#include "ovcore/sys_library.h"

#include <dlfcn.h>

static void* posix_open(const char* name)
{
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

static void* posix_symbol(void* library, const char* name)
{
    return dlsym(library, name);
}

static const char* posix_last_error()
{
    return dlerror();
}

extern const sys_library_api_t sys_library_posix = { posix_open, posix_symbol, posix_last_error };
const sys_library_api_t* sys_library = &sys_library_posix;
