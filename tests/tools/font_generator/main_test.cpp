// The command line: usage text, too many parameters, exit statuses and streams.
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

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
    const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { "-?" });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, usage(""));
    EXPECT_EQ(result.err, "");
}

TEST(font_generator_main, refuses_two_parameters)
{
    const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { "a", "b" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "*** ERROR *** : Too many parameters supplied.\r\n" + usage("*** ERROR *** : "));
}
