// Creating the tool's output files: a fresh file at a path, replacing any earlier one, that
// goes away again unless its writer finishes it.
#pragma once

#include "ovcore/collections/auto_ptr.h"

class file_t;
class string_t;

// `base` joined to the `name` of one of a picture's files (material, texture object, TGA): the
// path its writer creates. Says so and returns false when memory is short for it.
[[nodiscard]] bool join_output_path(const char* base, const char* name, string_t* path);

// An output file being written. Created by dropping the file cache's entry for the path and
// opening it in mode create_truncate on SYSFS; the file system reports a failure itself and the
// object is then empty. Unless kept, the file is closed and removed when the object goes, so a
// writer that fails, for whatever reason, leaves no unfinished file. `path` must outlive it.
class output_file_t
{
public:
    explicit output_file_t(const char* path);
    ~output_file_t();
    output_file_t(const output_file_t&) = delete;
    output_file_t& operator=(const output_file_t&) = delete;

    explicit operator bool() const { return bool(m_file); }
    file_t* get() const { return m_file.get(); }
    file_t* operator->() const { return m_file.get(); }
    // The file is finished: it stays. True, for a writer's last line.
    bool keep();
    // The file is finished and stays; the caller takes it, still open.
    [[nodiscard]] auto_ptr_t<file_t> release_kept();

private:
    const char* m_path;
    auto_ptr_t<file_t> m_file;
    bool m_kept = false;
};
