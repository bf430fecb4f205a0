// A read-only file over a chain of memory blocks, read best in order. The system makes it over a
// caller's buffer, which must outlive the file. Every request completes at once. One thread at
// a time.
#pragma once

#include "ovcore/ufs/in_memory_file.h"

class sequential_mem_file_t final : public in_memory_file_t
{
public:
    // One block over the caller's buffer (not owned); read-only.
    sequential_mem_file_t(const void* buffer, uint64_t size, const char* path,
                          fs_device_type_t type);
    ~sequential_mem_file_t() override;

    // Null for a null buffer or a range past the end.
    fs_io_request_t* io_read(void* buffer, uint32_t size, uint64_t offset) override;
    // Refused with a message: the file is read-only.
    fs_io_request_t* io_write(const void* buffer, uint32_t size, uint64_t offset) override;
    bool get_description(string_t* out) const override;
    bool stat(fs_stat_t* out) override;
    // Refused like io_write; the buffer stays with the caller.
    bool write_owned(void* heap_buffer, uint32_t size) override;

private:
    struct block_t
    {
        block_t* next;
        const unsigned char* data;
        uint64_t size;
        bool owned;  // whether the file frees the data
    };

    block_t* m_head = nullptr;
    uint64_t m_cursor = 0;
    uint64_t m_size = 0;
    block_t* m_current = nullptr;
    uint64_t m_current_start = 0;
};
