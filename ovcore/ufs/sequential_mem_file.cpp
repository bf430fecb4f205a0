// Read-only memory streams over a chain of blocks.
#include "ovcore/ufs/sequential_mem_file.h"

#include "ovcore/message.h"
#include "ovcore/out_of_memory.h"

#include <cstdlib>
#include <cstring>
#include <new>

sequential_mem_file_t::sequential_mem_file_t(const void* buffer, uint64_t size, const char* path,
                                             fs_device_type_t type)
    : in_memory_file_t(path), m_size(size)
{
    m_device_type = type;
    m_head = new (std::nothrow) block_t{ nullptr, static_cast<const unsigned char*>(buffer), size,
                                         false };
    if (m_head == nullptr)
        out_of_memory_exit("[fs] Not enough memory for the memory file '%s'.", path);
    m_current = m_head;
}

sequential_mem_file_t::~sequential_mem_file_t()
{
    while (block_t* block = m_head)
    {
        m_head = block->next;
        if (block->owned)
            std::free(const_cast<unsigned char*>(block->data));
        delete block;
    }
}

fs_io_request_t* sequential_mem_file_t::io_read(void* buffer, uint32_t size, uint64_t offset)
{
    if (size == 0)
        return &fs_finished_request;
    if (buffer == nullptr || offset > m_size || size > m_size - offset)
        return nullptr;
    if (offset < m_current_start)
    {
        m_current = m_head;
        m_current_start = 0;
    }
    while (offset >= m_current_start + m_current->size)
    {
        m_current_start += m_current->size;
        m_current = m_current->next;
    }
    unsigned char* out = static_cast<unsigned char*>(buffer);
    m_cursor = offset;
    while (size > 0)
    {
        const uint64_t in_block = m_cursor - m_current_start;
        const uint64_t available = m_current->size - in_block;
        const uint32_t piece = available < size ? uint32_t(available) : size;
        std::memcpy(out, m_current->data + in_block, piece);
        out += piece;
        size -= piece;
        m_cursor += piece;
        if (size > 0)
        {
            m_current_start += m_current->size;
            m_current = m_current->next;
        }
    }
    return &fs_finished_request;
}

fs_io_request_t* sequential_mem_file_t::io_write(const void*, uint32_t, uint64_t)
{
    msg_error("attempt to write to read-only sequential_mem_file_t");
    return nullptr;
}

bool sequential_mem_file_t::write_owned(void*, uint32_t)
{
    msg_error("attempt to write to read-only sequential_mem_file_t");
    return false;
}

bool sequential_mem_file_t::get_description(string_t* out) const
{
    return describe_as("SEQMEMFILE", out);
}

bool sequential_mem_file_t::stat(fs_stat_t* out)
{
    out->type = 1;
    out->modification_time = 0;
    out->size = m_size;
    return true;
}
