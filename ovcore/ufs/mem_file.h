// A growable random-access file in memory, made of 1024-byte pages. Pages never written read as
// zeros through one shared zero page. Every request completes at once. One thread at a time.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/ufs/in_memory_file.h"

class mem_file_t : public in_memory_file_t
{
public:
    static constexpr uint32_t page_size = 1024;

    class page_t
    {
    public:
        virtual ~page_t() = default;
        virtual void read(void* destination, uint32_t count, uint32_t offset) const;
        virtual void write(const void* source, uint32_t count, uint32_t offset);

    protected:
        unsigned char m_data[page_size] = {};
    };

    // Empty and writable; its path is "<mem-file>" and its device type UNKNOWNFS.
    mem_file_t();

    // Null when the range runs past the size.
    fs_io_request_t* io_read(void* buffer, uint32_t size, uint64_t offset) override;
    // Writing past the end leaves a gap that reads as zeros. Null when read-only.
    fs_io_request_t* io_write(const void* buffer, uint32_t size, uint64_t offset) override;
    // Pages beyond the new size are destroyed; false above 32 bits or when read-only.
    bool set_size(uint64_t size) override;
    bool get_description(string_t* out) const override;
    bool stat(fs_stat_t* out) override;

    // The page at the index: without `create` null beyond the directory and the shared zero
    // page for a page never written; with `create` a page that may be written. Failing to grow
    // the directory is fatal.
    page_t* get_page(uint32_t index, bool create);

    uint32_t get_page_count() const { return m_pages.size(); }

private:
    bool m_read_only = false;
    uint32_t m_size = 0;
    array_dyn_t<auto_ptr_t<page_t>> m_pages;  // null entries: never written
};
