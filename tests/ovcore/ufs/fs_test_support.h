// Test helpers for the file layer: a scratch directory and a seam that records calls and fails
// on demand.
#pragma once

#include "ovcore/ufs/fs_file.h"
#include "ovcore/ufs/sys_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with everything in it.
class scratch_directory_t
{
public:
    scratch_directory_t()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ov_fs_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            ADD_FAILURE() << "cannot create a scratch directory";
        m_root = pattern;
    }
    ~scratch_directory_t()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

    std::string path(const std::string& name) const { return m_root + "/" + name; }
    const std::string& root() const { return m_root; }

private:
    std::string m_root;
};

inline void write_file_bytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string read_file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Bytes that differ from their neighbours, so misplaced data shows.
// The names of the entries of a directory, sorted; none when it does not exist.
inline std::vector<std::string> sorted_file_names(const std::string& directory)
{
    std::vector<std::string> names;
    if (std::filesystem::is_directory(directory))
        for (const auto& entry : std::filesystem::directory_iterator(directory))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string pattern_bytes(std::size_t size, unsigned seed = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

// While in scope, the file seam is a copy of the one in use that records its calls as text
// ("read 8192 @0", "write 10 @5", "mkdir <path>", "open <path>") and fails those it is told to.
// Single-threaded use only.
class sys_file_recorder_t
{
public:
    sys_file_recorder_t() : m_previous(sys_file)
    {
        s_active = this;
        m_table = *sys_file;
        m_table.start_read = record_read;
        m_table.start_write = record_write;
        m_table.make_directory = record_make_directory;
        m_table.open = record_open;
        m_table.stat_handle = record_stat_handle;
        sys_file = &m_table;
    }
    ~sys_file_recorder_t()
    {
        sys_file = m_previous;
        s_active = nullptr;
    }

    std::vector<std::string> calls;
    bool fail_reads = false;
    bool fail_writes = false;
    bool fail_stat_handle = false;
    std::string fail_opens_ending_in;  // paths that end in it do not open; empty: none

private:
    static fs_io_request_t* record_read(sys_file_handle_t* handle, void* buffer, uint32_t size,
                                        uint64_t offset)
    {
        s_active->calls.push_back("read " + std::to_string(size) + " @" + std::to_string(offset));
        if (s_active->fail_reads)
            return nullptr;
        return s_active->m_previous->start_read(handle, buffer, size, offset);
    }
    static fs_io_request_t* record_write(sys_file_handle_t* handle, const void* buffer,
                                         uint32_t size, uint64_t offset)
    {
        s_active->calls.push_back("write " + std::to_string(size) + " @" +
                                  std::to_string(offset));
        if (s_active->fail_writes)
            return nullptr;
        return s_active->m_previous->start_write(handle, buffer, size, offset);
    }
    static bool record_make_directory(const char* path)
    {
        s_active->calls.push_back(std::string("mkdir ") + path);
        return s_active->m_previous->make_directory(path);
    }
    static sys_file_handle_t* record_open(const char* path, fs_open_mode_t mode)
    {
        s_active->calls.push_back(std::string("open ") + path);
        const std::string& ending = s_active->fail_opens_ending_in;
        const std::string name = path;
        if (!ending.empty() && name.size() >= ending.size() &&
            name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
            return nullptr;
        return s_active->m_previous->open(path, mode);
    }
    static bool record_stat_handle(sys_file_handle_t* handle, fs_stat_t* out)
    {
        if (s_active->fail_stat_handle)
            return false;
        return s_active->m_previous->stat_handle(handle, out);
    }

    static inline sys_file_recorder_t* s_active = nullptr;
    const sys_file_api_t* m_previous;
    sys_file_api_t m_table;
};
