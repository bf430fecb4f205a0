// Files whose data is held in memory: the memory files and the file cache's images. Every
// request completes at once, and the path is a name of the file's own rather than a place on a
// device.
#pragma once

#include "ovcore/ufs/fs_file.h"

class in_memory_file_t : public file_t
{
public:
    bool uses_read_cache() const override { return false; }
    // Every request is fs_finished_request.
    bool io_is_done(fs_io_request_t*) override { return true; }
    bool io_wait(fs_io_request_t*) override { return true; }
    void io_release(fs_io_request_t*) override {}
    // The path as it is.
    bool get_system_path(string_t* out) const override;
    // The path; false unless the device type is UFS.
    bool get_mount_path(string_t* out) const override;

protected:
    explicit in_memory_file_t(const char* path) : file_t(path) {}

    // "<kind><device type name>path": how the memory files describe themselves.
    [[nodiscard]] bool describe_as(const char* kind, string_t* out) const;
};
