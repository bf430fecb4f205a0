// The process-wide file cache: whole-file images kept in memory, read through cache_file_t.
//
// Callers look a path up before opening it; null means "open the file normally". The cache is
// created by the file system's start-up and emptied at shut-down. An entry is freed only when
// it has left the cache and no cache_file_t refers to it any more.
#pragma once

#include "ovcore/ufs/in_memory_file.h"

struct fs_cache_entry_t;

// A read-only file over a cache entry's image. Writing to it is a broken invariant (fatal).
class cache_file_t final : public in_memory_file_t
{
public:
    // Takes one use of the entry.
    explicit cache_file_t(fs_cache_entry_t* entry);
    // Gives the use back.
    ~cache_file_t() override;

    // Waits for the entry's pending load first; null past the end or when the load failed.
    fs_io_request_t* io_read(void* buffer, uint32_t size, uint64_t offset) override;
    fs_io_request_t* io_write(const void* buffer, uint32_t size, uint64_t offset) override;
    // The description of the cached path on its device.
    bool get_description(string_t* out) const override;
    uint16_t get_device_id() const override;
    [[nodiscard]] bool stat(fs_stat_t* out) override;

private:
    fs_cache_entry_t* m_entry;
};

// A new cache_file_t for the entry with exactly this path and device type, owned by the caller;
// null when the cache holds none.
[[nodiscard]] auto_ptr_t<file_t> fs_cache_lookup(const char* path, fs_device_type_t type);

// Starts loading the whole file into the cache; the load finishes in the background and the
// first read waits for it. False when the file cannot be opened or is already cached.
bool fs_cache_preload(const char* path, fs_device_type_t type);

// Takes the entry out of the cache (under the cache lock); files still reading it keep it
// alive. False when there is no such entry.
bool fs_cache_remove(const char* path, fs_device_type_t type);

// The number of cache_file_t objects that use the entry, or -1 when there is no such entry.
int32_t fs_cache_uses(const char* path, fs_device_type_t type);

// Takes the already open `file` (owned from now on, also on failure) and starts loading it
// whole as the cache's image of the path, like fs_cache_preload. The image keeps the file's
// device id and leaves the cache when that device leaves the device registry.
bool fs_cache_preload_file(const char* path, fs_device_type_t type, file_t* file);

// Lifecycle, called by fs_startup and fs_shutdown only: start-up attaches the cache to the
// device registry as its listener, shut-down detaches it and empties the cache.
void fs_cache_startup();
void fs_cache_shutdown();
