// Zero pages through anonymous private mappings.
#include "ovcore/sys_pages.h"

#include <cstdint>

#include <sys/mman.h>

static void* posix_reserve_zeroed(std::size_t bytes)
{
    // No swap is reserved up front: a canvas commits only the rows its pictures use.
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

static void posix_release(void* block, std::size_t bytes)
{
    munmap(block, bytes);
}

static void posix_advise_large_pages(void* start, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    // The range shrinks to whole 2 MiB pages; the bytes around them keep small pages.
    constexpr std::uintptr_t large_page = std::uintptr_t(2) << 20;
    const std::uintptr_t begin = (std::uintptr_t(start) + large_page - 1) & ~(large_page - 1);
    const std::uintptr_t end = (std::uintptr_t(start) + bytes) & ~(large_page - 1);
    if (end > begin)
        (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

static void posix_commit(void* start, std::size_t bytes)
{
#ifdef MADV_POPULATE_WRITE
    // Kernels before 5.14 refuse it: the pages then come one fault at a time, as without it.
    (void)madvise(start, bytes, MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)bytes;
#endif
}

extern const sys_pages_api_t sys_pages_posix = { posix_reserve_zeroed, posix_release,
                                                 posix_advise_large_pages, posix_commit };
const sys_pages_api_t* sys_pages = &sys_pages_posix;
