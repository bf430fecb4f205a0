// Large blocks of zero pages from the system: memory is committed only where it is touched.
#pragma once

#include <cstddef>

struct sys_pages_api_t
{
    // A block of `bytes` zero bytes whose pages cost nothing until written; null on failure.
    void* (*reserve_zeroed)(std::size_t bytes);
    // Returns a block from reserve_zeroed with the same size.
    void (*release)(void* block, std::size_t bytes);
    // Asks for large pages over the whole large pages inside the range of a block, where the
    // system has them: touching a large canvas then costs a few page faults, not thousands.
    // Only a hint; changes no byte.
    void (*advise_large_pages)(void* start, std::size_t bytes);
    // Commits the pages of a range of a block at once, for a block about to be written whole:
    // one call instead of a page fault per page. Only a hint; changes no byte.
    void (*commit)(void* start, std::size_t bytes);
};

extern const sys_pages_api_t sys_pages_posix;
extern const sys_pages_api_t* sys_pages;  // the system's table; tests may swap it
