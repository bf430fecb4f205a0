// The command line: usage text, parameters, the configuration path, exit statuses and streams.
#include "tools/font_generator/main.h"

#include "ovcore/units/unit_system.h"
#include "tests/support/message_capture.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace
{

std::string usage(const char* prefix)
{
    return std::string(prefix) + "Usage: " OV_FONT_GENERATOR_EXE " [configuration_file]\r\n\r\n"
           "The default configuration file is 'art/font/font.qsd'.\r\n"
           "Format of the configuration file is described in documentation of this tool.\r\n\r\n";
}

}  // namespace

TEST(font_generator_main, prints_the_usage_text_on_request)
{
    for (const char* request : { "-?", "-h", "--help" })
    {
        SCOPED_TRACE(request);
        const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { request });
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, usage(""));
        EXPECT_EQ(result.err, "");
    }
}

TEST(font_generator_main, refuses_two_parameters)
{
    const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { "a", "b" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "*** ERROR *** : Too many parameters supplied.\r\n" + usage("*** ERROR *** : "));
}

TEST(font_generator_main, refuses_an_unknown_option_before_counting_parameters)
{
    struct case_t
    {
        std::vector<std::string> arguments;
        const char* option;
    };
    const case_t cases[] = {
        { { "-v" }, "-v" },
        { { "--verbose", "font.qsd" }, "--verbose" },
        { { "font.qsd", "-x", "third" }, "-x" },
        { { "-" }, "-" },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.option);
        const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, std::string("*** ERROR *** : Unknown option '") + c.option +
                                  "'.\r\n" + usage("*** ERROR *** : "));
    }
}

TEST(font_generator_main, takes_a_single_argument_as_the_configuration_path)
{
    for (const char* argument : { "missing.qsd", "./-x" })
    {
        SCOPED_TRACE(argument);
        const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { argument });
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, std::string("*** ERROR *** : [fs] Failed to open file '") +
                                  argument + "' in the read_only mode.\r\n"
                                  "*** ERROR *** : [fs] Reason: no such file or folder; the "
                                  "relative path '" + argument + "' is taken from the current "
                                  "folder '" + std::filesystem::current_path().string() +
                                  "'.\r\n*** ERROR *** : Failed to open the configuration file '" +
                                  argument + "'.\r\n");
    }
}

TEST(font_generator_main, reads_etc_font_font_qsd_without_an_argument)
{
    const std::filesystem::path empty =
        std::filesystem::current_path() / "main_test_empty_directory";
    std::filesystem::create_directories(empty);
    const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, {}, empty.string());
    std::filesystem::remove_all(empty);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "*** ERROR *** : [fs] Failed to open file 'etc/font/font.qsd' in the read_only "
              "mode.\r\n*** ERROR *** : [fs] Reason: no such file or folder; the relative path "
              "'etc/font/font.qsd' is taken from the current folder '" + empty.string() +
                  "'.\r\n*** ERROR *** : Failed to open the configuration file "
                  "'etc/font/font.qsd'.\r\n");
}

TEST(font_generator_main, steals_the_default_unit_system)
{
    unit_bank_t bank;
    unit_system_t system(&bank);
    system.make_default();
    const char* const argv[] = { "font_generator", "missing.qsd" };
    message_capture_t capture;
    EXPECT_EQ(font_generator::main(2, argv), 1);
    ASSERT_FALSE(capture.lines.empty());
    EXPECT_EQ(capture.lines[0], "[unit] Stealing the default unit system.");
    EXPECT_EQ(capture.levels[0], message_level_t::warning);
    // The tool's system was the default and is gone.
    EXPECT_EQ(unit_default_system_index(), unit_system_none);
}
