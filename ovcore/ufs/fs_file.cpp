// File system devices, paths and files.
//
// Sections: names and paths, the SYSFS device, file_t, sysfs_file_t, opening and helpers,
// the devices.
#include "ovcore/ufs/fs_file.h"

#include "ovcore/message.h"
#include "ovcore/text_conversion.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace
{

sysfs_device_t* g_sysfs_device = nullptr;
ufs_device_t* g_ufs_device = nullptr;
fs_atomic_opener_t g_atomic_opener = nullptr;

constexpr uint32_t max_system_path_units = 512;

}  // namespace

// ---- names and paths ---------------------------------------------------------------------------

fs_io_request_t fs_finished_request = { nullptr, fs_io_finished, 0,       nullptr, 0, 0,
                                        0,       nullptr,        nullptr, true };

const char* get_mode_name(fs_open_mode_t mode)
{
    switch (mode)
    {
    case fs_open_mode_t::read_only:
        return "read_only";
    case fs_open_mode_t::create_new:
        return "create_new";
    case fs_open_mode_t::create_truncate:
        return "create_truncate";
    case fs_open_mode_t::create_or_read_write:
        return "create_or_read_write";
    default:
        return "unknown";
    }
}

const char* get_device_type_name(uint32_t type)
{
    switch (type)
    {
    case UNKNOWNFS:
        return "UNKNOWNFS";
    case UFS:
        return "UFS";
    case SYSFS:
        return "SYSFS";
    default:
        return "BADFS";
    }
}

bool join_path(fs_path_t* result, const char* path, const char* root)
{
    const bool root_empty = root[0] == 0;
    const bool root_is_slash = std::strcmp(root, "/") == 0;
    if (std::strcmp(path, "/") == 0)
        return result->assign(root_empty ? "/" : root);
    if (path[0] == '/')
        return root_is_slash ? result->assign(path) : result->format("%s%s", root, path);
    if (root_empty)
        return result->assign(path);
    if (root_is_slash)
        return result->format("%s%s", root, path);
    if (path[0] != 0)
        return result->format("%s/%s", root, path);
    return result->assign(root);
}

// ---- the SYSFS device --------------------------------------------------------------------------

sysfs_device_t::sysfs_device_t(const char* root) : m_root(root)
{
    fs_stat_t status;
    // A root cut short would join every path to another directory.
    m_valid = !m_root.copy_failed() &&
              (m_root.empty() || (g_sysfs_device != nullptr &&
                                  g_sysfs_device->stat(root, &status) && status.type == 2));
}

bool sysfs_device_t::get_system_path(const char* path, fs_path_t* out) const
{
    if (!join_path(out, path, m_root.c_str()))
        return false;
    // The system takes UTF-16 paths of at most 512 units; the text must convert.
    array_fixed_t<uint16_t, max_system_path_units> units;
    return utf8_to_utf16(out->c_str(), &units);
}

namespace
{

// Whether the folder a system path lies in is there.
bool has_parent_folder(const char* system_path)
{
    const char* slash = std::strrchr(system_path, '/');
    if (slash == nullptr || slash == system_path)
        return true;
    fs_path_t parent;
    fs_stat_t status;
    return !parent.assign(system_path, uint32_t(slash - system_path)) ||
           (sys_file->stat_path(parent.c_str(), &status) && status.type == 2);
}

}  // namespace

file_t* sysfs_device_t::open(const char* path, fs_open_mode_t mode)
{
    if (mode == fs_open_mode_t::atomic)
        return g_atomic_opener != nullptr ? g_atomic_opener(this, path) : nullptr;
    const bool known_parent = mode != fs_open_mode_t::read_only && has_made_parent(path);
    if (mode != fs_open_mode_t::read_only && !known_parent && !make_parent_directories(path))
        return nullptr;
    fs_path_t system_path;
    if (!get_system_path(path, &system_path))
        return nullptr;
    sys_file_handle_t* handle = sys_file->open(system_path.c_str(), mode);
    // The folder may have gone since (and only that: a failure for want of memory has been
    // said): make it again and try once more.
    if (handle == nullptr && known_parent && !has_parent_folder(system_path.c_str()))
    {
        forget_made_parent(nullptr);
        if (make_parent_directories(path))
            handle = sys_file->open(system_path.c_str(), mode);
    }
    if (handle == nullptr)
        return nullptr;
    sysfs_file_t* file = new (std::nothrow) sysfs_file_t(path, this, handle);
    if (file == nullptr || file->get_path().copy_failed())
    {
        msg_error("[fs] Not enough memory to open the file '%s'.", path);
        if (file == nullptr)
            sys_file->close(handle);
        delete file;  // its texts would name another file
        // A file this open created is no file of the run's.
        if (mode != fs_open_mode_t::read_only && mode != fs_open_mode_t::create_or_read_write)
            (void)sys_file->delete_file(system_path.c_str());
        return nullptr;
    }
    return file;
}

bool sysfs_device_t::delete_file(const char* path)
{
    fs_path_t system_path;
    return get_system_path(path, &system_path) && sys_file->delete_file(system_path.c_str());
}

bool sysfs_device_t::stat(const char* path, fs_stat_t* out)
{
    fs_path_t system_path;
    if (!get_system_path(path, &system_path) || !sys_file->stat_path(system_path.c_str(), out))
        return false;
    if (out != nullptr)
        out->device = this;
    return true;
}

bool sysfs_device_t::make_directories(const char* path)
{
    const uint32_t length = uint32_t(std::strlen(path));
    if (length == 0)
        return true;
    fs_path_t part;
    fs_path_t system_path;
    for (uint32_t i = 1; i < length; ++i)
    {
        if (path[i] != '/')
            continue;
        // Only the last creation decides; a failure further up shows there anyway.
        if (part.assign(path, i) && get_system_path(part.c_str(), &system_path))
            (void)sys_file->make_directory(system_path.c_str());
    }
    return get_system_path(path, &system_path) &&
           sys_file->make_directory(system_path.c_str());
}

bool sysfs_device_t::remove_directory(const char* path)
{
    forget_made_parent(path);
    fs_path_t system_path;
    return get_system_path(path, &system_path) &&
           sys_file->remove_directory(system_path.c_str());
}

bool sysfs_device_t::copy_file(const char* source, const char* destination, bool overwrite)
{
    if (!make_parent_directories(destination))
        return false;
    fs_path_t system_source;
    fs_path_t system_destination;
    return get_system_path(source, &system_source) &&
           get_system_path(destination, &system_destination) &&
           sys_file->copy_file(system_source.c_str(), system_destination.c_str(), overwrite);
}

bool sysfs_device_t::move_file(const char* source, const char* destination, bool replace)
{
    forget_made_parent(source);  // the source may be a folder
    fs_path_t system_source;
    fs_path_t system_destination;
    return get_system_path(source, &system_source) &&
           get_system_path(destination, &system_destination) &&
           sys_file->move_file(system_source.c_str(), system_destination.c_str(), replace);
}

namespace
{

struct listing_t
{
    array_dyn_t<string_dyn_t>* names;
    bool complete;
};

void add_listed_name(void* context, const char* name)
{
    listing_t* listing = static_cast<listing_t*>(context);
    if (!listing->complete)
        return;
    string_dyn_t entry(name);
    if (entry.copy_failed() || !listing->names->append(std::move(entry)))
        listing->complete = false;
}

}  // namespace

auto_ptr_t<array_dyn_t<string_dyn_t>> sysfs_device_t::list_directory(const char* path)
{
    fs_path_t system_path;
    if (!get_system_path(path, &system_path))
        return nullptr;
    auto_ptr_t<array_dyn_t<string_dyn_t>> names(new (std::nothrow) array_dyn_t<string_dyn_t>);
    if (!names)
        return nullptr;
    listing_t listing = { names.get(), true };
    if (!sys_file->list_directory(system_path.c_str(), add_listed_name, &listing) ||
        !listing.complete)
        return nullptr;
    return names;
}

bool sysfs_device_t::make_parent_directories(const char* path)
{
    const char* last_slash = std::strrchr(path, '/');
    if (last_slash == nullptr || last_slash == path)
        return true;
    fs_path_t parent;
    if (!parent.assign(path, uint32_t(last_slash - path)) || !make_directories(parent.c_str()))
        return false;
    std::lock_guard<std::mutex> guard(m_made_lock);
    (void)m_made_parent.assign(parent);  // a parent too long to keep is only made again
    return true;
}

bool sysfs_device_t::has_made_parent(const char* path)
{
    const char* last_slash = std::strrchr(path, '/');
    if (last_slash == nullptr || last_slash == path)
        return false;
    const std::size_t length = std::size_t(last_slash - path);
    std::lock_guard<std::mutex> guard(m_made_lock);
    return !m_made_parent.empty() && m_made_parent.length() == length &&
           std::memcmp(m_made_parent.c_str(), path, length) == 0;
}

void sysfs_device_t::forget_made_parent(const char* gone)
{
    std::lock_guard<std::mutex> guard(m_made_lock);
    const std::size_t length = gone != nullptr ? std::strlen(gone) : 0;
    const char* made = m_made_parent.c_str();
    if (gone == nullptr || (std::strncmp(made, gone, length) == 0 &&
                            (made[length] == 0 || made[length] == '/')))
        m_made_parent.clear();
}

// ---- file_t ------------------------------------------------------------------------------------

file_t::file_t(const char* path) : m_path(path)
{
}

file_t::~file_t()
{
    std::free(m_cache);
}

fs_io_request_t* file_t::io_read(void*, uint32_t, uint64_t)
{
    return nullptr;
}

fs_io_request_t* file_t::io_write(const void*, uint32_t, uint64_t)
{
    return nullptr;
}

bool file_t::io_is_done(fs_io_request_t*)
{
    return false;
}

bool file_t::io_wait(fs_io_request_t*)
{
    return false;
}

void file_t::io_release(fs_io_request_t*)
{
}

bool file_t::set_size(uint64_t)
{
    return false;
}

bool file_t::commit()
{
    msg_error("[file_t] Cannot use commit atomic operation on file %s",
              describe_file(this).c_str());
    return false;
}

bool file_t::cancel()
{
    msg_error("[file_t] Cannot use cancel atomic operation on file %s",
              describe_file(this).c_str());
    return false;
}

bool file_t::stat(fs_stat_t*)
{
    return false;
}

bool file_t::write_owned(void* heap_buffer, uint32_t size)
{
    if (size == 0)
    {
        std::free(heap_buffer);
        return true;
    }
    if (heap_buffer == nullptr || !write(heap_buffer, size))
        return false;
    std::free(heap_buffer);
    return true;
}

void file_t::drop_read_cache()
{
    std::free(m_cache);
    m_cache = nullptr;
    m_cache_valid = 0;
    m_cache_offset = 0;
}

bool file_t::read(void* buffer, uint32_t size)
{
    if (buffer == nullptr)
        return false;
    char* out = static_cast<char*>(buffer);
    if (!uses_read_cache())
    {
        fs_io_request_t* request = io_read(out, size, m_position);
        if (request == nullptr || !io_wait(request))
            return false;
        m_position += size;
        return true;
    }
    if (m_cache == nullptr)
    {
        m_cache = static_cast<char*>(std::malloc(fs_read_cache_size));
        if (m_cache == nullptr)
        {
            msg_error("[fs] Not enough memory to read the file '%s'.", m_path.c_str());
            return false;
        }
        m_cache_valid = 0;
    }
    const uint64_t window_end = m_cache_offset + m_cache_valid;
    if (m_position >= m_cache_offset && m_position < window_end)
    {
        const uint64_t available = window_end - m_position;
        const uint32_t taken = available < size ? uint32_t(available) : size;
        std::memcpy(out, m_cache + (m_position - m_cache_offset), taken);
        m_position += taken;
        out += taken;
        size -= taken;
    }
    if (size == 0)
        return true;
    if (size > fs_read_cache_size)
    {
        fs_io_request_t* request = io_read(out, size, m_position);
        if (request == nullptr || !io_wait(request))
            return false;
        m_position += size;
        return true;
    }
    if (m_position < m_cache_offset || m_position + size > m_cache_offset + m_cache_valid)
    {
        // A file may lose what it stands on while open (an atomic file after its commit):
        // that fails this read, not the process.
        fs_stat_t status;
        if (!stat(&status))
        {
            msg_error("[fs] failed to stat opened file (%s)!", describe_file(this).c_str());
            return false;
        }
        const uint64_t left = status.size > m_position ? status.size - m_position : 0;
        m_cache_offset = m_position;
        m_cache_valid = left < fs_read_cache_size ? uint32_t(left) : fs_read_cache_size;
        fs_io_request_t* request = io_read(m_cache, m_cache_valid, m_cache_offset);
        if (request == nullptr || !io_wait(request))
        {
            // The window holds nothing trustworthy after a failed refill.
            m_cache_valid = 0;
            msg_error("[fs] cached read - buffer update failed (%s)", describe_file(this).c_str());
            return false;
        }
        if (m_cache_valid < size)
        {
            msg_error("[fs] cached read - read request too big (%s)", describe_file(this).c_str());
            return false;
        }
    }
    std::memcpy(out, m_cache + (m_position - m_cache_offset), size);
    m_position += size;
    return true;
}

bool file_t::write(const void* buffer, uint32_t size)
{
    drop_read_cache();
    fs_io_request_t* request = io_write(buffer, size, m_position);
    if (request == nullptr || !io_wait(request))
        return false;
    m_position += size;
    return true;
}

bool file_t::write_formatted_va(const char* format, va_list args)
{
    string_dyn_t text;
    if (!text.format_va(format, args))
    {
        msg_error("[fs] Not enough memory to write to the file '%s'.", m_path.c_str());
        return false;
    }
    if (text.empty())
        return true;
    return write(text.c_str(), text.length());
}

bool file_t::write_formatted_unchecked(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool written = write_formatted_va(format, args);
    va_end(args);
    return written;
}

uint64_t file_t::get_size()
{
    fs_stat_t status;
    if (!stat(&status))
    {
        msg_error("[fs] failed to stat opened file (%s)!", describe_file(this).c_str());
        OV_FATAL("Failed to stat opened file!");
    }
    return status.size;
}

auto_ptr_t<array_dyn_t<string_dyn_t>> file_t::read_lines()
{
    const uint64_t size = get_size();
    if (size >= 0xFFFFFFFFu)
        return nullptr;
    char* text = static_cast<char*>(std::malloc(size_t(size) + 1));
    if (text == nullptr)
    {
        msg_error("[fs] Not enough memory to read the lines of the file '%s'.", m_path.c_str());
        return nullptr;
    }
    m_position = 0;
    if (!read(text, uint32_t(size)))
    {
        std::free(text);
        return nullptr;
    }
    text[size] = 0;
    auto_ptr_t<array_dyn_t<string_dyn_t>> lines(new (std::nothrow) array_dyn_t<string_dyn_t>);
    string_tokenizer_t tokenizer(text, "\r\n", true);
    string_dyn_t line;
    while (lines && tokenizer.next(&line))
    {
        if (!lines->append(std::move(line)))
            lines.reset();
    }
    if (lines && !tokenizer.is_exhausted())
        lines.reset();  // a line found no memory: the list would lack it
    std::free(text);
    if (!lines)
        msg_error("[fs] Not enough memory to read the lines of the file '%s'.", m_path.c_str());
    return lines;
}

// ---- sysfs_file_t ------------------------------------------------------------------------------

bool sysfs_path_texts_t::get_system_path(string_t* out) const
{
    fs_path_t joined;
    return join_path(&joined, path, device->get_root().c_str()) && out->assign(joined);
}

bool sysfs_path_texts_t::get_mount_path(string_t* out) const
{
    if (type != UFS)
        return false;
    if (device->get_second_name().empty())
        return out->assign(path);
    return out->format("%s%s", device->get_second_name().c_str(), path);
}

bool sysfs_path_texts_t::get_description(string_t* out) const
{
    switch (type)
    {
    case UFS:
        return out->format("%s<%s | %s>%s", tag, device->get_root().c_str(),
                           device->get_second_name().c_str(), path);
    case SYSFS:
    case UNKNOWNFS:
        return out->format("%s<%s>%s", tag, get_device_type_name(type), path);
    default:
        // Described all the same, untagged; the result says that the type names no device.
        (void)out->format("<%s>%s", "BADFS", path);
        return false;
    }
}

sysfs_file_t::sysfs_file_t(const char* path, sysfs_device_t* device, sys_file_handle_t* handle)
    : file_t(path), m_device(device), m_handle(handle)
{
}

sysfs_file_t::~sysfs_file_t()
{
    sys_file->close(m_handle);
}

fs_io_request_t* sysfs_file_t::io_read(void* buffer, uint32_t size, uint64_t offset)
{
    return sys_file->start_read(m_handle, buffer, size, offset);
}

fs_io_request_t* sysfs_file_t::io_write(const void* buffer, uint32_t size, uint64_t offset)
{
    return sys_file->start_write(m_handle, buffer, size, offset);
}

bool sysfs_file_t::io_is_done(fs_io_request_t* request)
{
    return sys_file->poll(request);
}

bool sysfs_file_t::io_wait(fs_io_request_t* request)
{
    return sys_file->wait(request);
}

void sysfs_file_t::io_release(fs_io_request_t* request)
{
    sys_file->release(request);
}

bool sysfs_file_t::set_size(uint64_t size)
{
    return sys_file->set_size(m_handle, size);
}

bool sysfs_file_t::get_system_path(string_t* out) const
{
    return path_texts().get_system_path(out);
}

bool sysfs_file_t::get_mount_path(string_t* out) const
{
    return path_texts().get_mount_path(out);
}

bool sysfs_file_t::get_description(string_t* out) const
{
    return path_texts().get_description(out);
}

bool sysfs_file_t::stat(fs_stat_t* out)
{
    return sys_file->stat_handle(m_handle, out);
}

// ---- opening and helpers -----------------------------------------------------------------------

fs_device_t* fs_get_device(fs_device_type_t type)
{
    if (type == UFS)
        return g_ufs_device;
    if (type == SYSFS)
        return g_sysfs_device;
    return nullptr;
}

auto_ptr_t<file_t> fs_device_open(const char* path, fs_open_mode_t mode, fs_device_type_t type)
{
    fs_device_t* device = fs_get_device(type);
    if (device == nullptr)
    {
        msg_error("[fs] Unable to retrieve device pointer of specified type (%d) for '%s'.",
                  int(type), path);
        return nullptr;
    }
    if (type == UFS && path[0] != '/')
    {
        msg_error("[fs] fs_device_open() called with invalid path '%s' (expected absolute path, "
                  "starting with slash).",
                  path);
        return nullptr;
    }
    if (file_t* file = device->open(path, mode))
    {
        file->set_device_type(type);
        return auto_ptr_t<file_t>(file);
    }
    if (mode != fs_open_mode_t::create_new)
    {
        msg_error("[fs] Failed to open file '%s' in the %s mode.", path, get_mode_name(mode));
        // A mode of no name is the caller's mistake, not the path's.
        if (type == SYSFS && mode <= fs_open_mode_t::atomic)
            say_why_open_failed("[fs] ", path, mode);
    }
    return nullptr;
}

auto_ptr_t<file_t> fs_device_open(const string_t& path, fs_open_mode_t mode,
                                  fs_device_type_t type)
{
    return fs_device_open(path.c_str(), mode, type);
}

void say_why_open_failed(const char* prefix, const char* path, fs_open_mode_t mode)
{
    if (path[0] == '\0')
    {
        msg_error("%sReason: the path is empty.", prefix);
        return;
    }
    const bool explained = sys_file != nullptr && sys_file->explain_open_failure != nullptr;
    const fs_open_failure_t failure =
        explained ? sys_file->explain_open_failure(path, mode) : fs_open_failure_t::unknown;
    const char* reason = "none that the system tells";
    switch (failure)
    {
    case fs_open_failure_t::unknown:
        break;
    case fs_open_failure_t::no_such_file:
        reason = "no such file or folder";
        break;
    case fs_open_failure_t::permission_denied:
        reason = "permission denied";
        break;
    case fs_open_failure_t::is_folder:
        reason = "it is a folder, not a file";
        break;
    case fs_open_failure_t::not_folder:
        reason = "a part of the path is not a folder";
        break;
    case fs_open_failure_t::special_file:
        reason = "it is a special file (a FIFO, a device or a socket), not a regular file";
        break;
    case fs_open_failure_t::name_too_long:
        reason = "the path is longer than the system takes";
        break;
    }
    char folder[4096];
    if (path[0] != '/' && explained && sys_file->current_folder != nullptr &&
        sys_file->current_folder(folder, sizeof folder))
        msg_error("%sReason: %s; the relative path '%s' is taken from the current folder '%s'.",
                  prefix, reason, path, folder);
    else
        msg_error("%sReason: %s.", prefix, reason);
}

string_dyn_t describe_file(const file_t* file)
{
    string_dyn_t description;
    if (file == nullptr)
        (void)description.assign("<NULL>");
    else
        (void)file->get_description(&description);
    return description;
}

string_dyn_t describe_path(const char* path, fs_device_type_t type)
{
    auto_ptr_t<file_t> file = fs_device_open(path, fs_open_mode_t::read_only, type);
    string_dyn_t description;
    if (file)
        (void)file->get_description(&description);
    else
        (void)description.format("<MISSING><%s>%s", get_device_type_name(type), path);
    return description;
}

bool fs_copy(file_t* destination, file_t* source)
{
    const uint64_t end = source->get_size();
    uint64_t offset = source->get_position();
    char buffer[fs_copy_chunk_size];
    while (offset < end)
    {
        const uint64_t left = end - offset;
        const uint32_t chunk = left < fs_copy_chunk_size ? uint32_t(left) : fs_copy_chunk_size;
        fs_io_request_t* request = source->io_read(buffer, chunk, offset);
        if (request == nullptr || !source->io_wait(request))
        {
            msg_error("[fs_copy] error reading block: %s @ %I64u (chunk size %Iu)",
                      describe_file(source).c_str(), offset, size_t(chunk));
            return false;
        }
        if (!destination->write(buffer, chunk))
        {
            msg_error("[fs_copy] error writing block: %s @ %I64u (chunk size %Iu)",
                      describe_file(destination).c_str(), destination->get_position(),
                      size_t(chunk));
            return false;
        }
        offset += chunk;
    }
    return true;
}

// ---- the devices -------------------------------------------------------------------------------

void fs_create_devices(fs_atomic_opener_t opener)
{
    g_atomic_opener = opener;
    g_sysfs_device = new sysfs_device_t("");
    g_ufs_device = new ufs_device_t;
}

void fs_destroy_devices()
{
    delete g_ufs_device;
    g_ufs_device = nullptr;
    delete g_sysfs_device;
    g_sysfs_device = nullptr;
    g_atomic_opener = nullptr;
}
