// Starting and stopping the file system as a whole: the seam table and its io_pump thread, the
// devices, the device registry and the file cache.
#pragma once

#include "ovcore/ufs/sys_file.h"

// Installs the seam table, starts the io_pump thread and creates the devices, the device
// registry and the file cache. Called by core start-up after the worker pool; a second start-up
// without shut-down is fatal.
void fs_startup(const sys_file_api_t* api = &sys_file_posix);
// Undoes fs_startup in reverse. Every file must be closed first.
void fs_shutdown();
