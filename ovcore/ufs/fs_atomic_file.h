// Atomic files: writes go to a buffer file beside the target ("<target>.atomic"); commit renames
// it over the target, cancel (or closing without a decision) deletes it, so readers see either
// the old contents or the complete new ones.
#pragma once

#include "ovcore/ufs/fs_file.h"

// Opened with mode atomic on SYSFS. Reading is refused.
class sysfs_atomic_file_t final : public file_t
{
public:
    // Takes ownership of the buffer file.
    sysfs_atomic_file_t(const char* target_path, sysfs_device_t* device, file_t* buffer_file);
    // Without commit or cancel: reports it and cancels.
    ~sysfs_atomic_file_t() override;

    fs_io_request_t* io_read(void* buffer, uint32_t size, uint64_t offset) override;
    fs_io_request_t* io_write(const void* buffer, uint32_t size, uint64_t offset) override;
    bool io_is_done(fs_io_request_t* request) override;
    bool io_wait(fs_io_request_t* request) override;
    void io_release(fs_io_request_t* request) override;
    [[nodiscard]] bool set_size(uint64_t) override { return false; }
    bool get_system_path(string_t* out) const override;
    bool get_mount_path(string_t* out) const override;
    bool get_description(string_t* out) const override;
    uint16_t get_device_id() const override;
    // Closes the buffer file and renames it over the target. Outstanding requests must be
    // finished first. On a failed rename the buffer file is deleted and the target stays.
    [[nodiscard]] bool commit() override;
    // Closes and deletes the buffer file; the target stays as it was.
    [[nodiscard]] bool cancel() override;
    [[nodiscard]] bool stat(fs_stat_t* out) override;

private:
    // Closes the buffer file and gives its path; false when it was already closed.
    bool close_buffer_file(fs_path_t* buffer_path);
    sysfs_path_texts_t path_texts() const
    {
        return { m_device, m_device_type, m_target_path.c_str(), "<atomic>" };
    }

    fs_path_t m_target_path;
    file_t* m_buffer_file;  // owned; null once committed or cancelled
    sysfs_device_t* m_device;
};

// Opens "<path>.atomic" in mode create_truncate (a stale buffer file is replaced) and wraps it.
// Null on failure, without a message (fs_device_open reports).
file_t* open_atomic_file(sysfs_device_t* device, const char* path);
