// Plain types shared by the file layer and its operating-system seam.
#pragma once

#include <cstdint>

// Device type numbers; any other value names no device ("BADFS").
enum fs_device_type_t : uint32_t
{
    UNKNOWNFS = 0,
    UFS = 1,
    SYSFS = 2,
};

// Why a path could not be opened, as far as looking at it again after the failure tells.
enum class fs_open_failure_t : uint32_t
{
    unknown = 0,
    no_such_file,       // the file, or a folder on its way, does not exist
    permission_denied,
    is_folder,
    not_folder,         // a part of the path before the last one is a file
    special_file,       // a FIFO, a device or a socket
    name_too_long,      // the path or one of its names is longer than the system takes
};

enum class fs_open_mode_t : uint32_t
{
    read_only = 0,             // an existing file, reading only
    create_new = 1,            // a file that must not exist yet, read and write
    create_truncate = 2,       // delete any existing file, then create it anew
    create_or_read_write = 3,  // open or create, contents kept
    atomic = 4,                // write through a buffer file, committed by rename
};

class fs_device_t;

struct fs_stat_t
{
    uint32_t type = 0;               // 2 directory, 1 file, 0 neither
    uint64_t modification_time = 0;  // 100-nanosecond units since 1601-01-01
    uint64_t size = 0;               // bytes
    fs_device_t* device = nullptr;   // set by the device-level stat only
};
