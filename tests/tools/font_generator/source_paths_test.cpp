// Fatal messages name source files from the repository's root: the tool holds no path of the
// machine that built it.
#include "ovcore/fatal.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <string>

TEST(source_paths, the_tool_holds_no_absolute_source_path)
{
    if (built_with_sanitizer)
        GTEST_SKIP() << "the sanitizer builds keep debug information, which names their folders";
    const std::string tool = read_file_bytes(OV_FONT_GENERATOR_EXE);
    ASSERT_FALSE(tool.empty());
    EXPECT_EQ(tool.find(OV_SOURCE_DIR "/"), std::string::npos);
}

TEST(source_paths, a_fatal_message_names_its_file_from_the_repository_root)
{
    EXPECT_DEATH(OV_FATAL("Broken on purpose."),
                 "\\*\\*\\* ERROR \\*\\*\\* : tests/tools/font_generator/source_paths_test\\.cpp"
                 "\\([0-9]+\\): .*: Broken on purpose\\.");
}
