// File system devices, paths and files: the device interface, the SYSFS and UFS devices, file_t
// with its cached reads and writes, fs_device_open, fs_copy and the file system's start-up.
//
// Sections: names and paths, devices, files, opening and helpers, start-up.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/string.h"
#include "ovcore/format_check.h"
#include "ovcore/ufs/fs_types.h"
#include "ovcore/ufs/sys_file.h"

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <type_traits>

class file_t;

// ---- names and paths ---------------------------------------------------------------------------

constexpr uint32_t fs_read_cache_size = 8192;
constexpr uint32_t fs_copy_chunk_size = 4096;
constexpr uint16_t fs_no_device_id = 0xFFFF;

// Joined paths live in 256-byte buffers, so they are at most 255 bytes long.
using fs_path_t = string_fixed_t<256>;

// "read_only", "create_new", "create_truncate", "create_or_read_write"; "unknown" otherwise.
const char* get_mode_name(fs_open_mode_t mode);
// "UNKNOWNFS", "UFS", "SYSFS"; "BADFS" otherwise.
const char* get_device_type_name(uint32_t type);

// The one request of files that complete every request at once (memory and cached files): it is
// always finished and never released.
extern fs_io_request_t fs_finished_request;

// Joins a device root and a path ("/" separators). False when the result does not fit.
[[nodiscard]] bool join_path(fs_path_t* result, const char* path, const char* root);

// ---- devices -----------------------------------------------------------------------------------

// A device maps paths to files. Paths are UTF-8 with "/" separators.
class fs_device_t
{
public:
    virtual ~fs_device_t() = default;
    // A new file owned by the caller; null on failure (no message at this level).
    virtual file_t* open(const char* path, fs_open_mode_t mode) = 0;
    [[nodiscard]] virtual bool delete_file(const char* path) = 0;
    // False when the path does not exist. `out` may be null.
    [[nodiscard]] virtual bool stat(const char* path, fs_stat_t* out) = 0;
    [[nodiscard]] virtual bool make_directories(const char* path) = 0;
    [[nodiscard]] virtual bool remove_directory(const char* path) = 0;
    [[nodiscard]] virtual bool copy_file(const char* source, const char* destination,
                                         bool overwrite) = 0;
    [[nodiscard]] virtual bool move_file(const char* source, const char* destination,
                                         bool replace) = 0;
    // The entry names, without "." and ".."; null on failure.
    [[nodiscard]] virtual auto_ptr_t<array_dyn_t<string_dyn_t>> list_directory(
        const char* path) = 0;
    // Creates the directories above the last "/" of the path.
    [[nodiscard]] virtual bool make_parent_directories(const char* path) = 0;
};

// The operating system's file system under a root directory (empty: paths as they are).
class sysfs_device_t final : public fs_device_t
{
public:
    explicit sysfs_device_t(const char* root);

    file_t* open(const char* path, fs_open_mode_t mode) override;
    bool delete_file(const char* path) override;
    bool stat(const char* path, fs_stat_t* out) override;
    bool make_directories(const char* path) override;
    bool remove_directory(const char* path) override;
    bool copy_file(const char* source, const char* destination, bool overwrite) override;
    bool move_file(const char* source, const char* destination, bool replace) override;
    auto_ptr_t<array_dyn_t<string_dyn_t>> list_directory(const char* path) override;
    bool make_parent_directories(const char* path) override;

    // The path joined with the root, checked to convert into the system's 512 UTF-16 units.
    // False (like a missing file) when it is too long or not valid UTF-8.
    [[nodiscard]] bool get_system_path(const char* path, fs_path_t* out) const;

    const string_dyn_t& get_root() const { return m_root; }
    const string_dyn_t& get_second_name() const { return m_second_name; }
    uint16_t get_device_id() const { return m_device_id; }
    // The id the device registry handed out for this device.
    void set_device_id(uint16_t id) { m_device_id = id; }
    bool is_valid() const { return m_valid; }

private:
    // True when the folder above the path was made before by this device.
    bool has_made_parent(const char* path);
    // Forgets the parent made when it lies in the folder `gone` (null: whatever it is).
    void forget_made_parent(const char* gone);

    string_dyn_t m_root;
    string_dyn_t m_second_name;
    uint16_t m_device_id = fs_no_device_id;
    bool m_valid = false;
    // The parent folder last made: a run writes its outputs into a few folders, and asking the
    // system again for each file costs a mkdir per level.
    std::mutex m_made_lock;
    fs_path_t m_made_parent;
};

// The mount-based device. Nothing is ever mounted into it, so every operation fails.
class ufs_device_t final : public fs_device_t
{
public:
    file_t* open(const char*, fs_open_mode_t) override { return nullptr; }
    bool delete_file(const char*) override { return false; }
    bool stat(const char*, fs_stat_t*) override { return false; }
    bool make_directories(const char*) override { return false; }
    bool remove_directory(const char*) override { return false; }
    bool copy_file(const char*, const char*, bool) override { return false; }
    bool move_file(const char*, const char*, bool) override { return false; }
    auto_ptr_t<array_dyn_t<string_dyn_t>> list_directory(const char*) override
    {
        return auto_ptr_t<array_dyn_t<string_dyn_t>>();
    }
    bool make_parent_directories(const char*) override { return false; }
};

// ---- files -------------------------------------------------------------------------------------

// An open file. Destroying it closes it; requests must be waited for or released first.
// One file_t must not be used by two threads at once.
class file_t
{
public:
    explicit file_t(const char* path);
    file_t(const file_t&) = delete;
    file_t& operator=(const file_t&) = delete;
    virtual ~file_t();

    virtual bool uses_read_cache() const { return true; }
    // Null when the request could not be issued.
    virtual fs_io_request_t* io_read(void* buffer, uint32_t size, uint64_t offset);
    virtual fs_io_request_t* io_write(const void* buffer, uint32_t size, uint64_t offset);
    // True when the request has finished; never waits.
    virtual bool io_is_done(fs_io_request_t* request);
    // Waits, releases the request and returns whether every byte was transferred.
    virtual bool io_wait(fs_io_request_t* request);
    // Waits and releases the request, ignoring its result.
    virtual void io_release(fs_io_request_t* request);
    [[nodiscard]] virtual bool set_size(uint64_t size);
    virtual bool get_system_path(string_t* out) const = 0;
    // Only files of type UFS have a mount path.
    virtual bool get_mount_path(string_t* out) const = 0;
    // False for a device type that names no device ("BADFS").
    virtual bool get_description(string_t* out) const = 0;
    virtual uint16_t get_device_id() const { return fs_no_device_id; }
    [[nodiscard]] virtual bool commit();
    [[nodiscard]] virtual bool cancel();
    [[nodiscard]] virtual bool stat(fs_stat_t* out);
    // Writes a buffer from std::malloc at the position and frees it after a successful write
    // (at once when the size is 0). On failure the buffer stays with the caller.
    virtual bool write_owned(void* heap_buffer, uint32_t size);

    // Reads exactly `size` bytes at the position and advances it; a short read fails.
    [[nodiscard]] bool read(void* buffer, uint32_t size);
    // Writes at the position and advances it; drops the read cache.
    [[nodiscard]] bool write(const void* buffer, uint32_t size);
    // Formats printf-style and writes the text; an empty text writes nothing and succeeds.
    template <typename... Args>
    [[nodiscard]] bool write_formatted(checked_format_t<std::type_identity_t<Args>...> format,
                                       Args... args)
    {
        return write_formatted_unchecked(format.text, args...);
    }
    [[nodiscard]] bool write_formatted_va(const char* format, va_list args);
    // The size of the open file; a file that cannot be stat'ed is a broken invariant (fatal).
    uint64_t get_size();
    // The whole file split at CR and LF, empty lines dropped; null when the file cannot be read,
    // is 4 GiB or larger, or finds no memory for all of its lines.
    [[nodiscard]] auto_ptr_t<array_dyn_t<string_dyn_t>> read_lines();

    const string_dyn_t& get_path() const { return m_path; }
    uint64_t get_position() const { return m_position; }
    void set_position(uint64_t position) { m_position = position; }
    fs_device_type_t get_device_type() const { return m_device_type; }
    void set_device_type(fs_device_type_t type) { m_device_type = type; }

protected:
    // Frees the read cache and forgets its window; every write does this first.
    void drop_read_cache();

    string_dyn_t m_path;
    uint64_t m_position = 0;
    fs_device_type_t m_device_type = UNKNOWNFS;

private:
    bool write_formatted_unchecked(const char* format, ...);

    uint32_t m_cache_valid = 0;
    uint64_t m_cache_offset = 0;
    char* m_cache = nullptr;  // fs_read_cache_size bytes, from the first cached read on
};

// The texts of a path on the SYSFS device, for its files: sysfs_file_t gives its path, and
// sysfs_atomic_file_t its target path with the tag "<atomic>".
struct sysfs_path_texts_t
{
    const sysfs_device_t* device;
    fs_device_type_t type;
    const char* path;
    const char* tag;  // before the description of a type that names a device

    // The device root joined with the path.
    [[nodiscard]] bool get_system_path(string_t* out) const;
    // The device's second name and the path; false unless the type is UFS.
    [[nodiscard]] bool get_mount_path(string_t* out) const;
    // False for a type that names no device ("BADFS").
    [[nodiscard]] bool get_description(string_t* out) const;
};

// A file on the operating system's file system.
class sysfs_file_t final : public file_t
{
public:
    // Takes ownership of the handle.
    sysfs_file_t(const char* path, sysfs_device_t* device, sys_file_handle_t* handle);
    ~sysfs_file_t() override;

    fs_io_request_t* io_read(void* buffer, uint32_t size, uint64_t offset) override;
    fs_io_request_t* io_write(const void* buffer, uint32_t size, uint64_t offset) override;
    bool io_is_done(fs_io_request_t* request) override;
    bool io_wait(fs_io_request_t* request) override;
    void io_release(fs_io_request_t* request) override;
    [[nodiscard]] bool set_size(uint64_t size) override;
    bool get_system_path(string_t* out) const override;
    bool get_mount_path(string_t* out) const override;
    bool get_description(string_t* out) const override;
    uint16_t get_device_id() const override { return m_device->get_device_id(); }
    [[nodiscard]] bool stat(fs_stat_t* out) override;

private:
    sysfs_path_texts_t path_texts() const
    {
        return { m_device, m_device_type, m_path.c_str(), "" };
    }

    sysfs_device_t* m_device;
    sys_file_handle_t* m_handle;
};

// ---- opening and helpers -----------------------------------------------------------------------

// Opens a file on the device of the type. Reports every failure but a failed create_new (which
// usually means that the file exists). The file is owned by the caller; null on failure.
[[nodiscard]] auto_ptr_t<file_t> fs_device_open(const char* path, fs_open_mode_t mode,
                                                fs_device_type_t type);
[[nodiscard]] auto_ptr_t<file_t> fs_device_open(const string_t& path, fs_open_mode_t mode,
                                                fs_device_type_t type);

// The device of the type, or null (unknown type, or the file system is not started).
fs_device_t* fs_get_device(fs_device_type_t type);

// The file's description, or "<NULL>".
string_dyn_t describe_file(const file_t* file);
// The description of the file at the path, or "<MISSING><type>path" when it does not open.
string_dyn_t describe_path(const char* path, fs_device_type_t type);

// After an open of the system path in the mode has failed: one error line, starting with
// `prefix`, that says why in words and, for a relative path, from which folder it was taken.
// Allocates nothing.
void say_why_open_failed(const char* prefix, const char* path, fs_open_mode_t mode);

// Copies the source from its position to its end to the destination at its position, in
// 4096-byte chunks. The source's position stays; the destination's advances.
[[nodiscard]] bool fs_copy(file_t* destination, file_t* source);

// ---- the devices (fs_system.h starts the whole file system) -------------------------------------

// How SYSFS opens a file in mode atomic: the atomic files sit above this module.
using fs_atomic_opener_t = file_t* (*)(sysfs_device_t* device, const char* path);

// Creates the SYSFS and UFS devices over the installed seam table, SYSFS opening atomic files
// through `opener`; fs_destroy_devices undoes it. For fs_startup and fs_shutdown only.
void fs_create_devices(fs_atomic_opener_t opener);
void fs_destroy_devices();
