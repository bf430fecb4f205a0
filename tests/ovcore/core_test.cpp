// Core start-up: what a run needs starts when it first needs it. Right after start-up the
// process has no thread beside the main one; asking for the worker pool or a read starts them.
#include "ovcore/core.h"

#include "ovcore/cpu_info.h"
#include "ovcore/thread/thread_pool.h"
#include "ovcore/timer.h"
#include "ovcore/ufs/sys_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace
{

uint32_t thread_count()
{
    uint32_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

}  // namespace

TEST(core_startup, starts_threads_only_when_first_needed)
{
    // The test's main has started the core already: stop it to start it afresh here.
    core_shutdown();
    core_startup();
    EXPECT_EQ(thread_count(), 1u);
    EXPECT_NE(task_system, nullptr);  // the pool is there to use

    EXPECT_GT(thread_pool_worker_count(), 0u);  // asking starts the workers
    const uint32_t with_workers = thread_count();
    EXPECT_EQ(with_workers, 1u + thread_pool_worker_count());

    EXPECT_TRUE(sys_file_pump_stats().running);  // so does asking for the io_pump
    EXPECT_EQ(thread_count(), with_workers + 1);

    // The processor list and the timer answer when asked.
    EXPECT_GT(cpu_count(), 0u);
    EXPECT_NE(process_timer(), nullptr);
}

TEST(core_startup, speaks_utf_8_and_formats_as_c)
{
    core_shutdown();
    core_startup();
    EXPECT_EQ(MB_CUR_MAX, 6u);  // multibyte text is UTF-8
    wchar_t wide = 0;
    EXPECT_EQ(std::mbtowc(&wide, "\xc3\xa9", 2), 2);
    EXPECT_EQ(wide, L'\u00e9');
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %'d", 1234.5, 1234567);
    EXPECT_STREQ(text, "1234.50 1234567");
}
