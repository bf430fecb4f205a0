// Fallback fonts: one set drawn from several fonts, each character from the first that has it;
// kerning only within one font; today's bytes without them; bad fallback lists and fonts.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/run_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const std::string fixtures = OV_TEST_DATA_DIR "/fonts/";
const char* const dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// One set; `extra` goes into the set's unit.
std::string configuration(const std::string& font, const std::string& characters,
                          uint32_t pixels, const std::string& extra)
{
    return one_set_configuration(font, characters, pixels, "", extra);
}

// "fallback_font_files" with the given paths.
std::string fallbacks(const std::vector<std::string>& paths)
{
    std::string text = "    fallback_font_files: " + std::to_string(paths.size()) + "\n";
    for (size_t i = 0; i < paths.size(); ++i)
        text += "    fallback_font_files[" + std::to_string(i) + "]: \"" + paths[i] + "\"\n";
    return text;
}

struct run_t
{
    process_result_t result;
    std::string description;
    std::string picture;
    std::string folder;  // where it ran; gone afterwards
};

run_t run(const std::string& text, const std::string& characters,
          const std::vector<std::string>& fonts = {})
{
    scratch_directory_t scratch;
    for (const std::string& font : fonts)
        std::filesystem::copy_file(fixtures + font, scratch.path(font));
    write_file_bytes(scratch.path("set.chars"), characters);
    write_file_bytes(scratch.path("font.qsd"), text);
    run_t outcome;
    outcome.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    outcome.folder = scratch.root();
    if (std::filesystem::exists(scratch.path("out/font.font")))
        outcome.description = read_file_bytes(scratch.path("out/font.font"));
    if (std::filesystem::exists(scratch.path("out/font_0.tga")))
        outcome.picture = read_file_bytes(scratch.path("out/font_0.tga"));
    return outcome;
}

// The cell of an alpha picture (origin bottom left in the file) as rows of '#' and '.'.
std::vector<std::string> cell_of(const std::string& tga, const std::vector<int>& line)
{
    const int width = uint8_t(tga[12]) | uint8_t(tga[13]) << 8;
    const int height = uint8_t(tga[14]) | uint8_t(tga[15]) << 8;
    std::vector<std::string> rows;
    for (int r = 0; r < line[3]; ++r)
    {
        std::string row;
        const int file_row = height - 1 - (line[1] + r);
        for (int c = 0; c < line[2]; ++c)
            row += tga[18 + size_t(file_row) * width + line[0] + c] != 0 ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> kerning_lines(const std::string& description)
{
    std::vector<std::string> lines;
    std::istringstream in(description);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("kern:", 0) == 0)
            lines.push_back(line.substr(0, line.find('#')));
    return lines;
}

bool has_line(const std::vector<std::string>& lines, const std::string& start)
{
    for (const std::string& line : lines)
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

}  // namespace

TEST(fallback_fonts, each_character_comes_from_the_first_font_that_has_it)
{
    // A and B from the first font (its B shadows the second's), C from the second (shadowing
    // the third's), D from the third, E from none.
    const run_t outcome =
        run(configuration("fallback_first.bdf", "set.chars", 8,
                          fallbacks({ "fallback_second.bdf", "fallback_third.bdf" })),
            "U+0041 A\nU+0042 B\nU+0043 C\nU+0044 D\nU+0045 E\n",
            { "fallback_first.bdf", "fallback_second.bdf", "fallback_third.bdf" });
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    EXPECT_EQ(outcome.result.err, "*** ERROR *** : Undefined character U+0045\r\n");

    // The top line is the highest glyph over all three fonts: D's and C's 5 rows.
    struct glyph_t
    {
        uint32_t code;
        int width, height, left, top_offset, advance;
        std::vector<std::string> cell;
    };
    const glyph_t glyphs[] = {
        { 0x41, 3, 4, 0, 1, 4, { "#.#", ".#.", "#.#", ".#." } },
        { 0x42, 3, 5, 0, 0, 5, { "#..", ".#.", "..#", ".#.", "#.." } },
        { 0x43, 4, 6, 1, 0, 6, { "#..#", ".##.", ".##.", "#..#", "#..#", ".##." } },
        { 0x44, 6, 3, 0, 0, 8, { "#.#.#.", ".#.#.#", "#.#.#." } },
    };
    for (const glyph_t& glyph : glyphs)
    {
        SCOPED_TRACE(glyph.code);
        const std::vector<int> line = glyph_line(outcome.description, glyph.code);
        ASSERT_EQ(line.size(), 8u);
        EXPECT_EQ(std::vector<int>(line.begin() + 2, line.end()),
                  (std::vector<int>{ glyph.width, glyph.height, glyph.left, glyph.top_offset,
                                     glyph.advance, 0 }));
        EXPECT_EQ(cell_of(outcome.picture, line), glyph.cell);
    }
    EXPECT_EQ(glyph_line(outcome.description, 0x45), (std::vector<int>{ 0, 0, 0, 0, 0, 5, 0, 0 }));
    EXPECT_NE(outcome.description.find("# Max pixels 'above the line': 5\r\n"), std::string::npos);
}

TEST(fallback_fonts, kerning_stays_within_one_font)
{
    // 'e' comes from the bitmap font, the rest from DejaVu Sans, which kerns T-e and T-o.
    const std::string characters = "U+0041 A\nU+0054 T\nU+0056 V\nU+0065 e\nU+006F o\n";
    for (const char* kerning : { "", "    opentype_kerning: true\n" })
    {
        SCOPED_TRACE(kerning);
        const run_t alone = run(configuration(dejavu_sans, "set.chars", 14, kerning), characters);
        const run_t mixed = run(configuration("shapes.bdf", "set.chars", 14,
                                              fallbacks({ dejavu_sans }) + kerning),
                                characters, { "shapes.bdf" });
        ASSERT_EQ(alone.result.status, 0) << alone.result.err;
        ASSERT_EQ(mixed.result.status, 0) << mixed.result.err;
        const std::vector<std::string> all = kerning_lines(alone.description);
        const std::vector<std::string> kept = kerning_lines(mixed.description);
        ASSERT_TRUE(has_line(all, "kern: x0054, x0065,"));
        ASSERT_TRUE(has_line(all, "kern: x0054, x006f,"));
        std::vector<std::string> within;  // DejaVu's lines without 'e'
        for (const std::string& line : all)
            if (line.find("x0065") == std::string::npos)
                within.push_back(line);
        EXPECT_EQ(kept, within);
    }
}

TEST(fallback_fonts, without_fallback_fonts_the_output_is_todays)
{
    // Absent and empty: the stored description of DejaVu Sans's Latin-1 at 16 px.
    const std::string stored = read_file_bytes(OV_TEST_DATA_DIR "/expected/kern_table/font.font");
    for (const char* extra : { "", "    fallback_font_files: 0\n" })
    {
        SCOPED_TRACE(extra);
        const std::string characters = read_file_bytes(OV_SOURCE_DIR "/etc/font/latin1.chars");
        const run_t outcome = run(configuration(dejavu_sans, "set.chars", 16, extra), characters);
        ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
        EXPECT_EQ(outcome.result.err, "");
        EXPECT_EQ(outcome.description, stored);
    }
}

TEST(fallback_fonts, bad_fallback_lists_and_fonts_fail_with_a_message)
{
    struct case_t
    {
        const char* name;
        std::string extra;
        std::string error;
    };
    const case_t cases[] = {
        { "missing file", fallbacks({ "missing.ttf" }),
          "*** ERROR *** : Failed to open the font file 'missing.ttf'.\r\n"
          "*** ERROR *** : Reason: no such file or folder; the relative path 'missing.ttf' is "
          "taken from the current folder '{folder}'.\r\n" },
        { "not a font", fallbacks({ fixtures + "not_a_font.txt" }),
          "*** ERROR *** : The file '" + fixtures +
              "not_a_font.txt' has unknown format, can not open it as font.\r\n" },
        { "empty path", fallbacks({ "gray2.bdf", "" }),
          "*** ERROR *** : The fallback font 1 of the element 0 of 'char_config' in the "
          "configuration file 'font.qsd' is an empty path.\r\n"
          "*** ERROR *** : Failed to read the configuration file 'font.qsd'.\r\n" },
        { "the font file again", fallbacks({ "gray2.bdf", "shapes.bdf" }),
          "*** ERROR *** : The fallback font 1 of the element 0 of 'char_config' in the "
          "configuration file 'font.qsd' names the font 'shapes.bdf' a second time.\r\n"
          "*** ERROR *** : Failed to read the configuration file 'font.qsd'.\r\n" },
        { "a fallback twice", fallbacks({ "gray2.bdf", "gray2.bdf" }),
          "*** ERROR *** : The fallback font 1 of the element 0 of 'char_config' in the "
          "configuration file 'font.qsd' names the font 'gray2.bdf' a second time.\r\n"
          "*** ERROR *** : Failed to read the configuration file 'font.qsd'.\r\n" },
        // A bare word is read as the string it spells.
        { "not a string", "    fallback_font_files: 1\n    fallback_font_files[0]: 5\n",
          "*** ERROR *** : Failed to open the font file '5'.\r\n"
          "*** ERROR *** : Reason: no such file or folder; the relative path '5' is taken from "
          "the current folder '{folder}'.\r\n" },
        { "a unit body", "    fallback_font_files: 1\n    fallback_font_files[0]: { a: 1 }\n",
          "*** ERROR *** : [unit] File 'font.qsd', line 15:\r\n"
          "*** ERROR *** : Expecting string value, found '{'\r\n"
          "*** ERROR *** : [unit] File 'font.qsd', line 15: the attribute 'fallback_font_files' "
          "of the unit '.chars.set' (of type 'char_set_config') takes text in double quotes, as "
          "in fallback_font_files: \"text\".\r\n"
          "*** ERROR *** : Failed to read the configuration file 'font.qsd'.\r\n" },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.name);
        const run_t outcome = run(configuration("shapes.bdf", "set.chars", 14, c.extra),
                                  "U+0041 A\n", { "shapes.bdf", "gray2.bdf" });
        EXPECT_EQ(outcome.result.status, 1);
        std::string error = c.error;
        const size_t folder = error.find("{folder}");
        if (folder != std::string::npos)
            error.replace(folder, 8, outcome.folder);
        EXPECT_EQ(outcome.result.err, error);
        EXPECT_TRUE(outcome.description.empty());
    }
}
