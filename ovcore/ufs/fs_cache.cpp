// The file cache and its read-only cache files.
#include "ovcore/ufs/fs_cache.h"

#include "ovcore/message.h"
#include "ovcore/ufs/fs_device_registry.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

struct fs_cache_entry_t
{
    string_dyn_t path;
    fs_device_type_t type = UNKNOWNFS;
    uint16_t device_id = fs_no_device_id;
    char* data = nullptr;
    uint64_t length = 0;
    std::atomic<uint32_t> uses{ 0 };        // cache_file_t objects reading it
    std::atomic<uint32_t> references{ 1 };  // the uses, and one while it is in the cache
    std::mutex lock;                        // guards the pending load
    file_t* loader = nullptr;               // the file being read, until the load is waited for
    fs_io_request_t* pending_load = nullptr;
    bool load_failed = false;
};

namespace
{

void release_entry(fs_cache_entry_t* entry);

// Images of a device that leaves go with it.
class device_listener_t final : public fs_device_listener_t
{
public:
    void on_device_removed(uint16_t id) override;
};

struct file_cache_t
{
    std::mutex lock;
    array_dyn_t<fs_cache_entry_t*> entries;
    device_listener_t listener;
};

file_cache_t* g_file_cache = nullptr;

// Waits for the load once; the caller holds the entry lock.
void finish_load(fs_cache_entry_t* entry)
{
    if (entry->pending_load == nullptr)
        return;
    entry->load_failed = !entry->loader->io_wait(entry->pending_load);
    entry->pending_load = nullptr;
    delete entry->loader;
    entry->loader = nullptr;
}

void release_entry(fs_cache_entry_t* entry)
{
    if (entry->references.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    {
        std::lock_guard<std::mutex> guard(entry->lock);
        finish_load(entry);
    }
    std::free(entry->data);
    delete entry;
}

// The index of the entry, or npos; the caller holds the cache lock.
uint32_t find_entry(const char* path, fs_device_type_t type)
{
    for (uint32_t i = 0; i < g_file_cache->entries.size(); ++i)
    {
        const fs_cache_entry_t* entry = g_file_cache->entries[i];
        if (entry->type == type && entry->path.equals(path))
            return i;
    }
    return string_t::npos;
}

}  // namespace

// ---- cache_file_t ------------------------------------------------------------------------------

cache_file_t::cache_file_t(fs_cache_entry_t* entry)
    : in_memory_file_t(entry->path.c_str()), m_entry(entry)
{
    m_device_type = entry->type;
    m_entry->references.fetch_add(1, std::memory_order_relaxed);
    m_entry->uses.fetch_add(1, std::memory_order_relaxed);
}

cache_file_t::~cache_file_t()
{
    m_entry->uses.fetch_sub(1, std::memory_order_relaxed);
    release_entry(m_entry);
}

fs_io_request_t* cache_file_t::io_read(void* buffer, uint32_t size, uint64_t offset)
{
    {
        std::lock_guard<std::mutex> guard(m_entry->lock);
        finish_load(m_entry);
        if (m_entry->load_failed)
            return nullptr;
    }
    if (offset > m_entry->length || size > m_entry->length - offset)
        return nullptr;
    if (size > 0)
        std::memcpy(buffer, m_entry->data + offset, size);
    return &fs_finished_request;
}

fs_io_request_t* cache_file_t::io_write(const void*, uint32_t, uint64_t)
{
    OV_FATAL("cached files do not support write operation.");
}

bool cache_file_t::get_description(string_t* out) const
{
    return out->assign(describe_path(m_entry->path.c_str(), m_entry->type));
}

uint16_t cache_file_t::get_device_id() const
{
    return m_entry->device_id;
}

bool cache_file_t::stat(fs_stat_t* out)
{
    out->type = 1;
    out->modification_time = 0;
    out->size = m_entry->length;
    return true;
}

// ---- the cache ---------------------------------------------------------------------------------

auto_ptr_t<file_t> fs_cache_lookup(const char* path, fs_device_type_t type)
{
    if (g_file_cache == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(g_file_cache->lock);
    const uint32_t index = find_entry(path, type);
    if (index == string_t::npos)
        return nullptr;
    auto_ptr_t<file_t> file(new cache_file_t(g_file_cache->entries[index]));
    if (file->get_path().copy_failed())
        return nullptr;  // the caller opens the file itself, under its whole path
    return file;
}

bool fs_cache_preload(const char* path, fs_device_type_t type)
{
    if (g_file_cache == nullptr)
        return false;
    {
        std::lock_guard<std::mutex> guard(g_file_cache->lock);
        if (find_entry(path, type) != string_t::npos)
            return false;
    }
    auto_ptr_t<file_t> file = fs_device_open(path, fs_open_mode_t::read_only, type);
    return file && fs_cache_preload_file(path, type, file.release());
}

bool fs_cache_preload_file(const char* path, fs_device_type_t type, file_t* file)
{
    if (g_file_cache == nullptr)
    {
        delete file;
        return false;
    }
    const uint64_t length = file->get_size();
    char* data = length < 0xFFFFFFFFu ? static_cast<char*>(std::malloc(size_t(length) + 1))
                                      : nullptr;
    fs_io_request_t* load = data != nullptr ? file->io_read(data, uint32_t(length), 0) : nullptr;
    if (load == nullptr)
    {
        std::free(data);
        delete file;
        return false;
    }
    fs_cache_entry_t* entry = new fs_cache_entry_t;
    (void)entry->path.assign(path);
    entry->type = type;
    entry->device_id = file->get_device_id();
    entry->data = data;
    entry->length = length;
    entry->loader = file;
    entry->pending_load = load;
    std::lock_guard<std::mutex> guard(g_file_cache->lock);
    if (find_entry(path, type) != string_t::npos || !g_file_cache->entries.append(entry))
    {
        release_entry(entry);
        return false;
    }
    return true;
}

bool fs_cache_remove(const char* path, fs_device_type_t type)
{
    if (g_file_cache == nullptr)
        return false;
    fs_cache_entry_t* entry = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_file_cache->lock);
        const uint32_t index = find_entry(path, type);
        if (index == string_t::npos)
            return false;
        entry = g_file_cache->entries[index];
        (void)g_file_cache->entries.remove_fast(index);
    }
    release_entry(entry);
    return true;
}

int32_t fs_cache_uses(const char* path, fs_device_type_t type)
{
    if (g_file_cache == nullptr)
        return -1;
    std::lock_guard<std::mutex> guard(g_file_cache->lock);
    const uint32_t index = find_entry(path, type);
    if (index == string_t::npos)
        return -1;
    return int32_t(g_file_cache->entries[index]->uses.load(std::memory_order_relaxed));
}

void device_listener_t::on_device_removed(uint16_t id)
{
    array_dyn_t<fs_cache_entry_t*> gone;
    {
        std::lock_guard<std::mutex> guard(g_file_cache->lock);
        array_dyn_t<fs_cache_entry_t*>& entries = g_file_cache->entries;
        for (uint32_t i = 0; i < entries.size();)
        {
            if (entries[i]->device_id != id || !gone.append(entries[i]))
            {
                ++i;
                continue;
            }
            (void)entries.remove_fast(i);
        }
    }
    // Files still reading an image keep it alive until they close.
    for (fs_cache_entry_t* entry : gone)
        release_entry(entry);
}

void fs_cache_startup()
{
    g_file_cache = new file_cache_t;
    fs_set_device_listener(&g_file_cache->listener);
}

void fs_cache_shutdown()
{
    if (g_file_cache == nullptr)
        return;
    fs_set_device_listener(nullptr);
    for (fs_cache_entry_t* entry : g_file_cache->entries)
        release_entry(entry);
    delete g_file_cache;
    g_file_cache = nullptr;
}
