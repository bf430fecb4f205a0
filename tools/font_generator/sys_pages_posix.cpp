// Zero pages through anonymous private mappings.
#include "tools/font_generator/sys_pages.h"

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

extern const sys_pages_api_t sys_pages_posix = { posix_reserve_zeroed, posix_release };
const sys_pages_api_t* sys_pages = &sys_pages_posix;
