// Test helpers for the output writers: a file seam whose writes fail from the n-th one on.
#pragma once

#include "ovcore/ufs/sys_file.h"

#include <cstdint>

// While in scope, writes number `first_failing` and later (counted from 0) cannot be issued;
// everything else goes to the seam that was in use. Single-threaded use only.
class failing_writes_t
{
public:
    explicit failing_writes_t(uint32_t first_failing)
        : m_previous(sys_file), m_first_failing(first_failing)
    {
        s_active = this;
        m_table = *sys_file;
        m_table.start_write = start_write;
        sys_file = &m_table;
    }
    ~failing_writes_t()
    {
        sys_file = m_previous;
        s_active = nullptr;
    }
    failing_writes_t(const failing_writes_t&) = delete;
    failing_writes_t& operator=(const failing_writes_t&) = delete;

    uint32_t writes = 0;

private:
    static fs_io_request_t* start_write(sys_file_handle_t* handle, const void* buffer,
                                        uint32_t size, uint64_t offset)
    {
        if (s_active->writes++ >= s_active->m_first_failing)
            return nullptr;
        return s_active->m_previous->start_write(handle, buffer, size, offset);
    }

    static inline failing_writes_t* s_active = nullptr;
    const sys_file_api_t* m_previous;
    uint32_t m_first_failing;
    sys_file_api_t m_table;
};
