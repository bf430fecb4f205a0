// Whole runs with memory running out at every allocation in turn, singly and from it on, and at
// every mmap: each ends in exit 0 with the outputs of a run with memory enough, or in exit 1
// with a message that memory ran short and no unfinished file. Plain build only: the sanitizers
// bring allocators of their own that the preloaded one would replace.
//
// OV_ALLOCATION_TABLE=1 prints the table of endings for the bundled configuration and the two
// larger ones under tests/data/configurations instead (several minutes).
#include "tests/support/allocation_failure/allocation_sweep.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace
{

bool can_inject()
{
#ifdef OV_ALLOCATION_FAILURE_PRELOAD
    return !built_with_sanitizer;
#else
    return false;
#endif
}

}  // namespace

TEST(allocation_failure, every_allocation_of_a_small_run_ends_well)
{
    if (!can_inject())
        GTEST_SKIP() << "the sanitizers replace the allocator";
    sweep_settings_t settings;
    settings.configuration = "tests/data/configurations/allocation_failure_small.qsd";
    const sweep_result_t result = sweep_allocation_failures(settings);
    ASSERT_EQ(result.reference.status, 0) << result.reference.err;
    ASSERT_GT(result.reference.allocations, 100);
    std::printf("%s", format_sweep_table({ settings.configuration }, { result }).c_str());
    EXPECT_EQ(result.bad_runs(), 0u) << describe_bad_runs(result, 60);
}

TEST(allocation_failure, table_of_the_three_configurations)
{
    if (!can_inject() || std::getenv("OV_ALLOCATION_TABLE") == nullptr)
        GTEST_SKIP() << "OV_ALLOCATION_TABLE=1 prints the table";
    const std::vector<std::string> configurations = {
        "etc/font/font.qsd",
        "tests/data/configurations/distance_field_exports.qsd",
        "tests/data/configurations/fallback_kerning.qsd",
    };
    std::vector<sweep_result_t> results;
    for (const std::string& configuration : configurations)
    {
        sweep_settings_t settings;
        settings.configuration = configuration;
        results.push_back(sweep_allocation_failures(settings));
    }
    std::printf("%s\n", format_sweep_table(configurations, results).c_str());
    for (size_t k = 0; k < results.size(); ++k)
        std::printf("%s:\n%s\n", configurations[k].c_str(),
                    describe_bad_runs(results[k], 100000).c_str());
}
