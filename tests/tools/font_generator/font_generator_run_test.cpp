// Whole runs of the tool: picture styles, fonts that cannot be used and fixed-size fonts, seen
// from outside as files, console lines and exit status.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace
{

const std::string fixtures = OV_TEST_DATA_DIR "/fonts/";

// A configuration of one character set; `extra` goes into the configuration unit.
std::string configuration(const std::string& font, const std::string& characters,
                          uint32_t pixels, const std::string& extra = "")
{
    return "QsdNunit\n{\n"
           "configuration : .config {\n"
           "    base: \"out/\"\n"
           "    output: \"font\"\n" +
           extra +
           "    char_config: 1\n"
           "    char_config[0]: .chars.set\n"
           "}\n"
           "char_set_config : .chars.set {\n"
           "    font_file: \"" + font + "\"\n"
           "    character_set_file: \"" + characters + "\"\n"
           "    width: " + std::to_string(pixels) + "\n"
           "    height: " + std::to_string(pixels) + "\n"
           "}\n}\n";
}

}  // namespace

TEST(font_generator_run, refuses_a_picture_style_it_cannot_draw)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("set.chars"), "U+0041 A\n");
    write_file_bytes(scratch.path("font.qsd"),
                     configuration(fixtures + "shapes.bdf", "set.chars", 14,
                                   "    font_style: 2\n"));
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "*** ERROR *** : The font_style 2 in the configuration file 'font.qsd' "
                          "cannot be drawn: it must be 0 (alpha) or 1 (colour and alpha).\r\n");
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out")));
}

TEST(font_generator_run, uses_a_fixed_size_font_at_its_size_and_goes_on)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("set.chars"), "U+0041 A\nU+004D M\nU+0062 box\n");
    const std::string font = fixtures + "shapes.bdf";
    write_file_bytes(scratch.path("font.qsd"), configuration(font, "set.chars", 20));
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err,
              "*** WARNING *** : The font '" + font + "' is of fixed size 8 x 14 pixels -trying "
              "to use that instead of requested size.\r\n"
              "*** ERROR *** : Undefined character U+0041\r\n"
              "*** WARNING *** : The glyph 'box' rasterized to full-sized rectangle.\r\n");
    EXPECT_NE(read_file_bytes(scratch.path("out/font.font")).find("# Typical height 'above the "
                                                                  "line': 10 (height of letter "
                                                                  "'M')\r\n"),
              std::string::npos);
}

TEST(font_generator_run, stops_at_a_file_that_is_no_font)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("set.chars"), "U+0041 A\n");
    const std::string font = fixtures + "not_a_font.txt";
    write_file_bytes(scratch.path("font.qsd"), configuration(font, "set.chars", 14));
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "*** ERROR *** : The file '" + font +
                              "' has unknown format, can not open it as font.\r\n");
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out")));
}

TEST(font_generator_run, releases_a_chain_of_200000_owners_after_the_ordinary_errors)
{
    // Each configuration owns the next through char_config[0]: far deeper than any stack.
    scratch_directory_t scratch;
    constexpr int length = 200000;
    std::string text = "QsdNunit\n{\n";
    for (int i = 0; i < length; ++i)
        text += "configuration : .c" + std::to_string(i) + " {\n char_config: 1\n char_config[0]: .c" +
                std::to_string(i + 1) + "\n}\n";
    text += "configuration : .c" + std::to_string(length) + " {\n}\n}\n";
    write_file_bytes(scratch.path("chain.qsd"), text);
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "chain.qsd" }, scratch.root());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "*** ERROR *** : The element 0 of 'char_config' in the configuration "
                          "file 'chain.qsd' is not a char_set_config unit.\r\n"
                          "*** ERROR *** : Failed to read the configuration file 'chain.qsd'.\r\n");
}
