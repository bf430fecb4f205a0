// Creating the tool's output files, and removing the unfinished ones.
#include "tools/font_generator/output/output_file.h"

#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/fs_file.h"

#include <utility>

output_file_t::output_file_t(const char* path) : m_path(path)
{
    (void)fs_cache_remove(path, SYSFS);
    m_file = fs_device_open(path, fs_open_mode_t::create_truncate, SYSFS);
}

output_file_t::~output_file_t()
{
    if (!m_file || m_kept)
        return;
    m_file.reset();
    if (fs_device_t* device = fs_get_device(SYSFS))
        (void)device->delete_file(m_path);
}

bool output_file_t::keep()
{
    m_kept = true;
    return true;
}

auto_ptr_t<file_t> output_file_t::release_kept()
{
    m_kept = true;
    return std::move(m_file);
}

bool join_output_path(const char* base, const char* name, string_t* path)
{
    if (path->format("%s%s", base, name))
        return true;
    msg_error("Not enough memory for the name of the file '%s%s'.", base, name);
    return false;
}
