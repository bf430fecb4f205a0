// Creating the tool's output files.
#include "tools/font_generator/output/output_file.h"

#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/fs_file.h"

auto_ptr_t<file_t> create_output_file(const char* path)
{
    (void)fs_cache_remove(path, SYSFS);
    return fs_device_open(path, fs_open_mode_t::create_truncate, SYSFS);
}
