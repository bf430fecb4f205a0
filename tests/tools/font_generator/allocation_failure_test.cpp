// Whole runs with memory running out at every allocation in turn, singly and from it on, and at
// every mmap: each ends in exit 0 with the outputs of a run with memory enough, or in exit 1
// with a message that memory ran short and no unfinished file. Plain build only: the sanitizers
// bring allocators of their own that the preloaded one would replace.
//
// OV_ALLOCATION_TABLE=1 prints the table of endings for the bundled configuration and the two
// larger ones under tests/data/configurations (under a minute); OV_ALLOCATION_TOOL=<path> runs
// another build of the tool for it.
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

const std::string small_run = "tests/data/configurations/allocation_failure_small.qsd";
const std::string small_set = "tests/data/configurations/allocation_failure_small.chars";

}  // namespace

// One root cause each: some single failed allocation of the main thread of the small run (the
// N-th from main on, N as the allocation order stood when the cause was found; the sweep finds
// today's) makes the run say so in its first new line (a heading "[unit] File ..., line N:"
// aside), then end with status 1 and no unfinished file.
struct reproducer_t
{
    long n;
    const char* cause;
    std::string line;
};

const reproducer_t reproducers[] = {
    { 27, "a core service at start-up", "Not enough memory to start the core services." },
    { 34, "the unit system's link tracker (was an uncaught exception)",
      "[unit] Not enough memory to start the unit system." },
    { 36, "registering the tool's unit types",
      "[unit] Not enough memory to register the unit type 'configuration'." },
    { 46, "opening a file", "[fs] Not enough memory to open the file '" + small_run + "'." },
    { 55, "the loader's scanner (was an uncaught exception)",
      "[unit] Not enough memory to load the file '" + small_run + "'." },
    { 56, "the scanner's first frame (was an uncaught exception)",
      "[unit] Not enough memory to scan the file '" + small_run + "'." },
    { 60, "the scanner's include stack (was an abort)",
      "[unit] Not enough memory for the include stack of the file '" + small_run + "'." },
    { 61, "a quoted string (was 'Expecting string literal')",
      "[unit] Not enough memory for a lexeme of 13 bytes." },
    { 65, "the loader's list of units (was an abort)",
      "[unit] Not enough memory for the units of the file '" + small_run + "'." },
    { 68, "a name proxy (was an uncaught exception)",
      "[unit] Not enough memory for a unit of type 'unit_proxy'." },
    { 70, "a unit name shard (was an abort, 'Unit naming system is full')",
      "[unit] Failed to allocate array to store unit names in (1080 names of 2components)." },
    { 85, "an array element (was 'could not set the value')",
      "[unit] Not enough memory for the value of attribute 'export_formats[0]'." },
    { 145, "the loader's ownership table (was an abort)",
      "[unit] Not enough memory for the owners of the units of the file '" + small_run + "'." },
    { 165, "a character-set line (was 'Ignoring malformed line', exit 0)",
      "Not enough memory to read line 1 of the character set file '" + small_set + "'." },
    { 193, "a FreeType renderer that FT_Init_FreeType left out (was exit 0)",
      "Not enough memory for the module 'smooth' of the FreeType2 library." },
    { 425, "HarfBuzz's face over no bytes (was exit 0 without kerning)",
      "Out of memory while collecting the kerning pairs of the element 0 of 'char_config' (the "
      "character set file '" + small_set + "')." },
    { 426, "HarfBuzz's empty face (was exit 0 without kerning)",
      "Out of memory while collecting the kerning pairs of the element 0 of 'char_config' (the "
      "character set file '" + small_set + "')." },
    { 559, "the description's path (was exit 1 without a message)",
      "Not enough memory for the name of the font file 'out/small.font'." },
    { 611, "libpng's structures of the preview, before its file (was a half-written file)",
      "Not enough memory to encode the preview picture 'out/small_preview.png'." },
    { 643, "libpng's structures of a page, before its file (was a half-written file)",
      "Not enough memory to encode the font page 'out/small-0_0.png'." },
};

TEST(allocation_failure, every_allocation_of_a_small_run_ends_well_and_each_cause_is_said)
{
    if (!can_inject())
        GTEST_SKIP() << "the sanitizers replace the allocator";
    sweep_settings_t settings;
    settings.configuration = small_run;
    const sweep_result_t result = sweep_allocation_failures(settings);
    ASSERT_EQ(result.reference.status, 0) << result.reference.err;
    ASSERT_GT(result.reference.allocations, 100);
    std::printf("%s", format_sweep_table({ settings.configuration }, { result }).c_str());
    EXPECT_EQ(result.bad_runs(), 0u) << describe_bad_runs(result, 60);
    for (const reproducer_t& c : reproducers)
    {
        SCOPED_TRACE(c.cause);
        const injected_run_t* found = nullptr;
        for (const injected_run_t& run : result.runs)
            if (run.injection == injection_t::single &&
                first_new_line(run.err, result.reference) == "*** ERROR *** : " + c.line)
            {
                found = &run;
                break;
            }
        ASSERT_NE(found, nullptr) << "no single failed allocation says: " << c.line;
        EXPECT_EQ(found->ending, run_ending_t::said_no_memory)
            << "main thread, allocation " << found->n << ": " << run_ending_name(found->ending);
        std::printf("main thread, allocation %ld (%ld when found): %s\n", found->n, c.n, c.cause);
    }
}

TEST(allocation_failure, before_the_console_one_fixed_line)
{
    if (!can_inject())
        GTEST_SKIP() << "the sanitizers replace the allocator";
    const reference_run_t reference = run_with_memory_enough(small_run);
    // Main thread, allocation 23: the message system, made before the console handler.
    const injected_run_t run = run_with_failure(small_run, injection_t::single, 23, reference);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "font_generator: not enough memory to start.\n");
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
