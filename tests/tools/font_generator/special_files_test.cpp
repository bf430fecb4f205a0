// Whole runs whose configuration, character-set or font path names something other than a
// regular file: each is refused with the ordinary open failure, never a hang.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{

std::string configuration(const std::string& font, const std::string& characters)
{
    return "QsdNunit\n{\nconfiguration : .config {\n    base: \"out/\"\n    output: \"font\"\n"
           "    char_config: 1\n"
           "    char_config[0]: .chars.set\n}\nchar_set_config : .chars.set {\n"
           "    font_file: \"" + font + "\"\n    character_set_file: \"" + characters +
           "\"\n}\n}\n";
}

struct special_path_case_t
{
    const char* what;
    std::string configuration_path;  // as given on the command line
    std::string font;
    std::string characters;
    std::string err;
};

}  // namespace

TEST(font_generator_special_files, are_refused_as_files_that_do_not_open)
{
    scratch_directory_t scratch;
    ASSERT_EQ(mkfifo(scratch.path("pipe").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(scratch.path("folder").c_str(), 0700), 0);
    write_file_bytes(scratch.path("set.chars"), "U+0041 A\n");
    const std::string font = OV_TEST_DATA_DIR "/fonts/shapes.bdf";
    const special_path_case_t cases[] = {
        { "configuration FIFO", "pipe", font, "set.chars",
          "*** ERROR *** : [fs] Failed to open file 'pipe' in the read_only mode.\r\n"
          "*** ERROR *** : [fs] Reason: it is a special file (a FIFO, a device or a socket), not a "
          "regular file; the relative path 'pipe' is taken from the current folder '{folder}'.\r\n"
          "*** ERROR *** : Failed to open the configuration file 'pipe'.\r\n" },
        { "configuration directory", "folder", font, "set.chars",
          "*** ERROR *** : [fs] Failed to open file 'folder' in the read_only mode.\r\n"
          "*** ERROR *** : [fs] Reason: it is a folder, not a file; the relative path 'folder' is "
          "taken from the current folder '{folder}'.\r\n"
          "*** ERROR *** : Failed to open the configuration file 'folder'.\r\n" },
        { "character-set FIFO", "font.qsd", font, "pipe",
          "*** ERROR *** : [fs] Failed to open file 'pipe' in the read_only mode.\r\n"
          "*** ERROR *** : [fs] Reason: it is a special file (a FIFO, a device or a socket), not a "
          "regular file; the relative path 'pipe' is taken from the current folder '{folder}'.\r\n"
          "*** ERROR *** : Unable to open the character set file 'pipe'.\r\n" },
        { "font FIFO", "font.qsd", "pipe", "set.chars",
          "*** ERROR *** : Failed to open the font file 'pipe'.\r\n"
          "*** ERROR *** : Reason: it is a special file (a FIFO, a device or a socket), not a "
          "regular file; the relative path 'pipe' is taken from the current folder "
          "'{folder}'.\r\n" },
        { "font device", "font.qsd", "/dev/zero", "set.chars",
          "*** ERROR *** : Failed to open the font file '/dev/zero'.\r\n"
          "*** ERROR *** : Reason: it is a special file (a FIFO, a device or a socket), not a "
          "regular file.\r\n" },
        { "font directory", "font.qsd", "folder", "set.chars",
          "*** ERROR *** : Failed to open the font file 'folder'.\r\n"
          "*** ERROR *** : Reason: it is a folder, not a file; the relative path 'folder' is "
          "taken from the current folder '{folder}'.\r\n" },
    };
    for (const special_path_case_t& c : cases)
    {
        SCOPED_TRACE(c.what);
        write_file_bytes(scratch.path("font.qsd"), configuration(c.font, c.characters));
        const process_result_t result =
            run_process(OV_FONT_GENERATOR_EXE, { c.configuration_path }, scratch.root());
        EXPECT_EQ(result.status, 1);
        std::string err = c.err;
        for (size_t at = err.find("{folder}"); at != std::string::npos; at = err.find("{folder}"))
            err.replace(at, 8, scratch.root());
        EXPECT_EQ(result.err, err);
    }
}
