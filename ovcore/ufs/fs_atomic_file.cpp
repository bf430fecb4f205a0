// Atomic files on SYSFS: a buffer file committed by rename over the target.
#include "ovcore/ufs/fs_atomic_file.h"

#include "ovcore/message.h"

file_t* open_atomic_file(sysfs_device_t* device, const char* path)
{
    fs_path_t buffer_path;
    if (!buffer_path.format("%s.atomic", path) ||
        !device->make_parent_directories(buffer_path.c_str()))
        return nullptr;
    fs_path_t target_path;
    fs_path_t system_path;
    if (!target_path.assign(path) || !device->get_system_path(buffer_path.c_str(), &system_path))
        return nullptr;
    sys_file_handle_t* handle = sys_file->open(system_path.c_str(),
                                               fs_open_mode_t::create_truncate);
    if (handle == nullptr)
        return nullptr;
    sysfs_file_t* buffer_file = new sysfs_file_t(buffer_path.c_str(), device, handle);
    if (buffer_file->get_path().copy_failed())
    {
        // With its path cut short, commit would rename another file over the target.
        delete buffer_file;
        (void)device->delete_file(buffer_path.c_str());  // the open has failed either way
        return nullptr;
    }
    buffer_file->set_device_type(SYSFS);
    sysfs_atomic_file_t* file = new sysfs_atomic_file_t(path, device, buffer_file);
    if (file->get_path().copy_failed())
    {
        (void)file->cancel();  // deletes the buffer file, which nothing was written to
        delete file;
        return nullptr;
    }
    return file;
}

sysfs_atomic_file_t::sysfs_atomic_file_t(const char* target_path, sysfs_device_t* device,
                                         file_t* buffer_file)
    : file_t(target_path), m_target_path(target_path), m_buffer_file(buffer_file),
      m_device(device)
{
}

sysfs_atomic_file_t::~sysfs_atomic_file_t()
{
    if (m_buffer_file == nullptr)
        return;
    msg_error("[sysfs_atomic_file_t] Atomic file close without explicit commit or cancel. %s",
              describe_file(this).c_str());
    (void)cancel();
}

fs_io_request_t* sysfs_atomic_file_t::io_read(void*, uint32_t, uint64_t)
{
    msg_error("[sysfs_atomic_file_t] Atomic file does not support read operation.");
    return nullptr;
}

fs_io_request_t* sysfs_atomic_file_t::io_write(const void* buffer, uint32_t size, uint64_t offset)
{
    if (m_buffer_file == nullptr)
    {
        msg_error("[sysfs_atomic_file_t] Cannot write, buffer file is already closed.");
        return nullptr;
    }
    return m_buffer_file->io_write(buffer, size, offset);
}

bool sysfs_atomic_file_t::io_is_done(fs_io_request_t* request)
{
    return m_buffer_file != nullptr && m_buffer_file->io_is_done(request);
}

bool sysfs_atomic_file_t::io_wait(fs_io_request_t* request)
{
    return m_buffer_file != nullptr && m_buffer_file->io_wait(request);
}

void sysfs_atomic_file_t::io_release(fs_io_request_t* request)
{
    if (m_buffer_file != nullptr)
        m_buffer_file->io_release(request);
}

bool sysfs_atomic_file_t::get_system_path(string_t* out) const
{
    return path_texts().get_system_path(out);
}

bool sysfs_atomic_file_t::get_mount_path(string_t* out) const
{
    return path_texts().get_mount_path(out);
}

bool sysfs_atomic_file_t::get_description(string_t* out) const
{
    return path_texts().get_description(out);
}

uint16_t sysfs_atomic_file_t::get_device_id() const
{
    return m_device->get_device_id();
}

bool sysfs_atomic_file_t::close_buffer_file(fs_path_t* buffer_path)
{
    if (m_buffer_file == nullptr)
        return false;
    (void)buffer_path->assign(m_buffer_file->get_path());
    delete m_buffer_file;
    m_buffer_file = nullptr;
    return true;
}

bool sysfs_atomic_file_t::commit()
{
    fs_path_t buffer_path;
    if (!close_buffer_file(&buffer_path))
    {
        msg_error("[sysfs_atomic_file_t] Cannot commit, buffer file is already closed.");
        return false;
    }
    if (m_device->move_file(buffer_path.c_str(), m_target_path.c_str(), true))
        return true;
    msg_error("[sysfs_atomic_file_t] Cannot rename buffer file.");
    (void)m_device->delete_file(buffer_path.c_str());
    return false;
}

bool sysfs_atomic_file_t::cancel()
{
    fs_path_t buffer_path;
    if (!close_buffer_file(&buffer_path))
    {
        msg_error("[sysfs_atomic_file_t] Cannot cancel, buffer file is already closed.");
        return false;
    }
    (void)m_device->delete_file(buffer_path.c_str());
    return true;
}

bool sysfs_atomic_file_t::stat(fs_stat_t* out)
{
    return m_buffer_file != nullptr && m_buffer_file->stat(out);
}
