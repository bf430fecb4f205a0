// Whole runs of the tool: picture styles, fonts that cannot be used and fixed-size fonts, seen
// from outside as files, console lines and exit status.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/run_test_support.h"
#include "tests/tools/font_generator/stored_outputs_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace
{

const std::string fixtures = OV_TEST_DATA_DIR "/fonts/";

// A configuration of one character set; `extra` goes into the configuration unit.
std::string configuration(const std::string& font, const std::string& characters,
                          uint32_t pixels, const std::string& extra = "")
{
    return one_set_configuration(font, characters, pixels, extra);
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

namespace
{

const std::string expected_outputs = OV_TEST_DATA_DIR "/expected/";

// The pixel bytes of a picture of one byte per pixel, after its header.
std::string alpha_pixels_of(const std::string& tga)
{
    if (tga.size() < 18 || tga[16] != 8)
    {
        ADD_FAILURE() << "not a picture of one byte per pixel";
        return std::string();
    }
    return tga.substr(18);
}

// The names of the files in a directory, sorted.
std::vector<std::string> file_names_in(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(font_generator_run, draws_only_empty_and_full_pixels_without_antialiasing)
{
    struct case_t
    {
        const char* antialias;
        bool only_empty_and_full;
    };
    const case_t cases[] = { { "false", true }, { "true", false } };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.antialias);
        scratch_directory_t scratch;
        write_file_bytes(scratch.path("set.chars"), "U+0040 at\nU+0041 A\nU+0067 g\n");
        std::string text = configuration("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                          "set.chars", 16);
        // The character set is the last unit: its body ends just before the file's last brace.
        text.insert(text.rfind("}\n}"), std::string("    antialias: ") + c.antialias + "\n");
        write_file_bytes(scratch.path("font.qsd"), text);
        const process_result_t result =
            run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
        ASSERT_EQ(result.status, 0) << result.err;
        const std::string pixels = alpha_pixels_of(read_file_bytes(scratch.path("out/font_0.tga")));
        ASSERT_NE(pixels.find('\xFF'), std::string::npos);
        const bool only_empty_and_full =
            pixels.find_first_not_of(std::string("\x00\xFF", 2)) == std::string::npos;
        EXPECT_EQ(only_empty_and_full, c.only_empty_and_full);
    }
}

TEST(font_generator_run, writes_the_stored_outputs_in_both_picture_styles)
{
    // Without export formats: the stored files byte for byte, and no other file.
    for (const stored_style_t& c : stored_styles)
    {
        SCOPED_TRACE(c.name);
        scratch_directory_t scratch;
        write_stored_run(scratch, c.style);
        const process_result_t result =
            run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "*** ERROR *** : Undefined character U+00e9\r\n");

        const std::string expected = expected_outputs + c.name + "/";
        const std::vector<std::string> names = file_names_in(expected);
        ASSERT_EQ(file_names_in(scratch.path("out")), names);
        for (const std::string& name : names)
        {
            const std::string written = read_file_bytes(scratch.path("out/" + name));
            const std::string stored = read_file_bytes(expected + name);
            if (name.ends_with(".tga"))  // binary: say where they part rather than print both
            {
                const auto parted = std::mismatch(written.begin(), written.end(), stored.begin(),
                                                  stored.end());
                EXPECT_TRUE(written == stored)
                    << name << ": " << written.size() << " bytes written, " << stored.size()
                    << " stored, first difference at byte " << (parted.first - written.begin());
            }
            else
            {
                EXPECT_EQ(written, stored) << name;
            }
        }
    }
}

TEST(font_generator_run, shapes_kerning_pairs_only_when_asked)
{
    // Latin-1 of DejaVu Sans, whose kerning is both in a 'kern' table and in GPOS: without the
    // attribute and with false, today's 'kern' table lines, byte for byte; with true, the lines
    // come from shaping and nothing else changes.
    const char* const settings[] = { "", "    opentype_kerning: false\n",
                                     "    opentype_kerning: true\n" };
    std::vector<std::string> descriptions;
    std::vector<std::string> pictures;
    for (const char* setting : settings)
    {
        SCOPED_TRACE(setting);
        scratch_directory_t scratch;
        std::string text = configuration("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                          OV_SOURCE_DIR "/etc/font/latin1.chars", 16);
        text.insert(text.rfind("}\n}"), setting);
        write_file_bytes(scratch.path("font.qsd"), text);
        const process_result_t result =
            run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        descriptions.push_back(read_file_bytes(scratch.path("out/font.font")));
        pictures.push_back(read_file_bytes(scratch.path("out/font_0.tga")));
    }
    EXPECT_EQ(descriptions[0], read_file_bytes(expected_outputs + "kern_table/font.font"));
    EXPECT_EQ(descriptions[1], descriptions[0]);
    EXPECT_TRUE(pictures[1] == pictures[0] && pictures[2] == pictures[0]);

    const std::string kerning = "# kerning...";
    const size_t today = descriptions[0].find(kerning);
    const size_t shaped = descriptions[2].find(kerning);
    ASSERT_NE(today, std::string::npos);
    EXPECT_EQ(descriptions[2].substr(0, shaped), descriptions[0].substr(0, today));
    EXPECT_NE(descriptions[2].substr(shaped), descriptions[0].substr(today));
    EXPECT_NE(descriptions[2].find("\r\nkern: x0041, x0056, -1"), std::string::npos);
}
