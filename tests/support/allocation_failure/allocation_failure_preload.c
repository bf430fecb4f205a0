// Preloaded in front of the C library's allocator: counts the allocations a program makes from
// the first instruction of its main and fails the N-th, or every one from the N-th on.
//
//   OV_FAIL_ALLOCATION=N     0 or unset: fail none
//   OV_FAIL_FROM=1           fail every allocation from the N-th on, not only the N-th
//   OV_FAIL_MMAP=N           fail the N-th mmap instead (counted apart from allocations)
//   OV_COUNT_ALL_THREADS=1   count every thread's calls, not only the main thread's
//   OV_ALLOCATION_REPORT=F   at exit, write "<allocations> <mmaps> <failed> <object>\n" to
//                            file F, <object> the file name of the code that called for the
//                            first failed allocation ("-" when none failed)
//   OV_FAIL_BACKTRACE=1      write the stack of each failed call to standard error
//
// Only the main thread is counted by default, so that one N fails the same call every run
// whatever the helper threads do. Calls made inside dlopen are neither counted nor failed: the
// libraries it starts are not ours to test. The counts use no allocation of their own.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <execinfo.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void* __libc_valloc(size_t size);

#define OV_TLS __attribute__((tls_model("initial-exec"))) __thread

static long g_fail_at;
static long g_mmap_fail_at;
static int g_fail_from;
static int g_all_threads;
static int g_backtrace;
static const char* g_report;
static int g_armed;
static long g_allocations;
static long g_mmaps;
static int g_failed;
static char g_failed_in[64] = "-";
static OV_TLS int t_counted;
static OV_TLS int t_in_dlopen;

static long number_of(const char* name)
{
    const char* text = getenv(name);
    return text != NULL ? strtol(text, NULL, 10) : 0;
}

static int counts_here(void)
{
    return g_armed && t_in_dlopen == 0 && (g_all_threads || t_counted);
}

// The file name of the shared object or program holding `address`.
static void note_caller(void* address)
{
    Dl_info info;
    if (g_failed || dladdr(address, &info) == 0 || info.dli_fname == NULL)
        return;
    const char* name = strrchr(info.dli_fname, '/');
    name = name != NULL ? name + 1 : info.dli_fname;
    size_t length = strlen(name);
    if (length >= sizeof g_failed_in)
        length = sizeof g_failed_in - 1;
    memcpy(g_failed_in, name, length);
    g_failed_in[length] = 0;
}

static int fails_allocation(void* caller)
{
    if (!counts_here())
        return 0;
    const long n = __atomic_add_fetch(&g_allocations, 1, __ATOMIC_RELAXED);
    if (g_fail_at == 0 || n < g_fail_at || (n > g_fail_at && !g_fail_from))
        return 0;
    note_caller(caller);
    g_failed = 1;
    if (g_backtrace)
    {
        // backtrace loads its unwinder through dlopen at first: not counted, not failed.
        void* frames[32];
        ++t_in_dlopen;
        const int count = backtrace(frames, 32);
        backtrace_symbols_fd(frames, count, 2);
        --t_in_dlopen;
    }
    return 1;
}

void* malloc(size_t size)
{
    if (fails_allocation(__builtin_return_address(0)))
    {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    if (fails_allocation(__builtin_return_address(0)))
    {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size)
{
    // realloc(p, 0) frees; a failure there would be no allocation failing.
    if ((block == NULL || size != 0) && fails_allocation(__builtin_return_address(0)))
    {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size)
{
    if (fails_allocation(__builtin_return_address(0)))
    {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
    if (fails_allocation(__builtin_return_address(0)))
    {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** block, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    if (fails_allocation(__builtin_return_address(0)))
        return ENOMEM;
    void* result = __libc_memalign(alignment, size);
    if (result == NULL)
        return ENOMEM;
    *block = result;
    return 0;
}

void* valloc(size_t size)
{
    if (fails_allocation(__builtin_return_address(0)))
    {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_valloc(size);
}

void* mmap(void* address, size_t length, int protection, int flags, int descriptor, off_t offset)
{
    if (counts_here())
    {
        const long n = __atomic_add_fetch(&g_mmaps, 1, __ATOMIC_RELAXED);
        if (g_mmap_fail_at != 0 && n == g_mmap_fail_at)
        {
            g_failed = 1;
            errno = ENOMEM;
            return MAP_FAILED;
        }
    }
    return (void*)syscall(SYS_mmap, address, length, protection, flags, descriptor, offset);
}

void* dlopen(const char* file, int flags)
{
    static void* (*real_dlopen)(const char*, int);
    ++t_in_dlopen;
    if (real_dlopen == NULL)
        real_dlopen = (void* (*)(const char*, int))dlsym(RTLD_NEXT, "dlopen");
    void* handle = real_dlopen(file, flags);
    --t_in_dlopen;
    return handle;
}

typedef int (*main_function_t)(int, char**, char**);
static main_function_t g_main;

static void write_number(char** cursor, long value)
{
    char digits[24];
    int count = 0;
    do
    {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        *(*cursor)++ = digits[--count];
}

// Runs after every exit handler of the program: the last allocations are counted too.
__attribute__((destructor)) static void write_report(void)
{
    if (g_report == NULL || *g_report == 0)
        return;
    g_armed = 0;
    char text[160];
    char* cursor = text;
    write_number(&cursor, g_allocations);
    *cursor++ = ' ';
    write_number(&cursor, g_mmaps);
    *cursor++ = ' ';
    write_number(&cursor, g_failed);
    *cursor++ = ' ';
    for (const char* name = g_failed_in; *name != 0; ++name)
        *cursor++ = *name;
    *cursor++ = '\n';
    const int file = open(g_report, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file >= 0)
    {
        (void)!write(file, text, (size_t)(cursor - text));
        close(file);
    }
}

static int counted_main(int argc, char** argv, char** environment)
{
    g_fail_at = number_of("OV_FAIL_ALLOCATION");
    g_mmap_fail_at = number_of("OV_FAIL_MMAP");
    g_fail_from = number_of("OV_FAIL_FROM") != 0;
    g_all_threads = number_of("OV_COUNT_ALL_THREADS") != 0;
    g_backtrace = number_of("OV_FAIL_BACKTRACE") != 0;
    g_report = getenv("OV_ALLOCATION_REPORT");
    t_counted = 1;
    g_armed = 1;
    return g_main(argc, argv, environment);
}

int __libc_start_main(main_function_t main_function, int argc, char** argv, void (*init)(void),
                      void (*fini)(void), void (*rtld_fini)(void), void* stack_end)
{
    typedef int (*start_t)(main_function_t, int, char**, void (*)(void), void (*)(void),
                           void (*)(void), void*);
    const start_t start = (start_t)dlsym(RTLD_NEXT, "__libc_start_main");
    g_main = main_function;
    return start(counted_main, argc, argv, init, fini, rtld_fini, stack_end);
}
