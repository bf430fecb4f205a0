// Starting and stopping the file system.
#include "ovcore/ufs/fs_system.h"

#include "ovcore/fatal.h"
#include "ovcore/ufs/fs_atomic_file.h"
#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/fs_device_registry.h"
#include "ovcore/ufs/fs_file.h"

void fs_startup(const sys_file_api_t* api)
{
    if (sys_file != nullptr)
        OV_FATAL("The file system is already started.");
    sys_file = api;
    if (!sys_file->startup())
        OV_FATAL("[fs] Failed to start the io_pump thread.");
    fs_create_devices(open_atomic_file);
    fs_device_registry_startup();
    fs_cache_startup();
}

void fs_shutdown()
{
    if (sys_file == nullptr)
        return;
    fs_cache_shutdown();
    fs_device_registry_shutdown();
    fs_destroy_devices();
    sys_file->shutdown();
    sys_file = nullptr;
}
