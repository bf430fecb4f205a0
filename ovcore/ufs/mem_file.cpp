// Memory files made of pages.
#include "ovcore/ufs/mem_file.h"

#include "ovcore/message.h"

#include <cstring>

namespace
{

// Stands for every page that was never written.
class zero_page_t final : public mem_file_t::page_t
{
public:
    void read(void* destination, uint32_t count, uint32_t) const override
    {
        std::memset(destination, 0, count);
    }
    void write(const void*, uint32_t, uint32_t) override
    {
        OV_FATAL("writing to ZERO page is not supported!");
    }
};

mem_file_t::page_t* zero_page()
{
    static zero_page_t page;
    return &page;
}

}  // namespace

void mem_file_t::page_t::read(void* destination, uint32_t count, uint32_t offset) const
{
    std::memcpy(destination, m_data + offset, count);
}

void mem_file_t::page_t::write(const void* source, uint32_t count, uint32_t offset)
{
    std::memcpy(m_data + offset, source, count);
}

mem_file_t::mem_file_t() : in_memory_file_t("<mem-file>")
{
}

mem_file_t::page_t* mem_file_t::get_page(uint32_t index, bool create)
{
    if (index >= m_pages.size())
    {
        if (!create)
            return nullptr;
        if (!m_pages.resize(index + 1))
            OV_FATAL("[memfs] unable to resize page directory!");
    }
    if (m_pages[index])
        return m_pages[index].get();
    if (!create)
        return zero_page();
    m_pages[index].reset(new page_t);
    return m_pages[index].get();
}

fs_io_request_t* mem_file_t::io_read(void* buffer, uint32_t size, uint64_t offset)
{
    if (size == 0 || buffer == nullptr)
        return &fs_finished_request;
    if (offset + size > m_size)
        return nullptr;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    uint32_t position = uint32_t(offset);
    while (size > 0)
    {
        const uint32_t in_page = position % page_size;
        const uint32_t piece = page_size - in_page < size ? page_size - in_page : size;
        page_t* page = get_page(position / page_size, false);
        if (page == nullptr)
            page = zero_page();
        page->read(out, piece, in_page);
        out += piece;
        position += piece;
        size -= piece;
    }
    return &fs_finished_request;
}

fs_io_request_t* mem_file_t::io_write(const void* buffer, uint32_t size, uint64_t offset)
{
    if (m_read_only)
        return nullptr;
    if (size == 0 || buffer == nullptr)
        return &fs_finished_request;
    if (offset + size > 0xFFFFFFFFu)
        return nullptr;  // the size is kept in 32 bits
    const unsigned char* in = static_cast<const unsigned char*>(buffer);
    uint32_t position = uint32_t(offset);
    const uint32_t end = position + size;
    while (size > 0)
    {
        const uint32_t in_page = position % page_size;
        const uint32_t piece = page_size - in_page < size ? page_size - in_page : size;
        get_page(position / page_size, true)->write(in, piece, in_page);
        in += piece;
        position += piece;
        size -= piece;
    }
    if (end > m_size)
        m_size = end;
    return &fs_finished_request;
}

bool mem_file_t::set_size(uint64_t size)
{
    if (size > 0xFFFFFFFFu || m_read_only)
        return false;
    const uint32_t pages = uint32_t(size / page_size) + 1;
    if (pages > m_pages.size())
    {
        if (!m_pages.resize(pages))
            OV_FATAL("[memfs] unable to resize page directory!");
    }
    else
    {
        (void)m_pages.resize(pages);
    }
    // Bytes cut off must read as zeros if the file grows again.
    const uint32_t tail = uint32_t(size % page_size);
    if (size < m_size && m_pages[pages - 1])
    {
        static const unsigned char zeros[page_size] = {};
        m_pages[pages - 1]->write(zeros, page_size - tail, tail);
    }
    m_size = uint32_t(size);
    return true;
}

bool mem_file_t::get_description(string_t* out) const
{
    return describe_as("MEMFILE", out);
}

bool mem_file_t::stat(fs_stat_t* out)
{
    out->type = 1;
    out->modification_time = 0;
    out->size = m_size;
    return true;
}
