// The path texts of files held in memory.
#include "ovcore/ufs/in_memory_file.h"

bool in_memory_file_t::get_system_path(string_t* out) const
{
    return out->assign(m_path);
}

bool in_memory_file_t::get_mount_path(string_t* out) const
{
    return m_device_type == UFS && out->assign(m_path);
}

bool in_memory_file_t::describe_as(const char* kind, string_t* out) const
{
    return out->format("<%s><%s>%s", kind, get_device_type_name(m_device_type), m_path.c_str());
}
