// Reading character-set files: the line rules, line numbers and the failures.
#include "tools/font_generator/input/character_set.h"

#include "ovcore/ufs/sys_file.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{

struct glyph_row_t
{
    uint32_t code;
    std::string name;
    bool operator==(const glyph_row_t&) const = default;
};

void PrintTo(const glyph_row_t& row, std::ostream* out)
{
    *out << std::hex << "U+" << row.code << " '" << row.name << "'";
}

struct line_case_t
{
    const char* contents;
    std::vector<glyph_row_t> glyphs;
    std::vector<std::string> errors;  // with %s standing for the path
};

const char* const parse_error =
    "Ignoring malformed line %d in file '%s' - could not parse Unicode codepoint value.";

std::string parse_error_at(int line)
{
    return std::string(parse_error).replace(std::string(parse_error).find("%d"), 2,
                                            std::to_string(line));
}

const line_case_t line_cases[] = {
    { "U+0041 A", { { 0x41, "A" } }, {} },
    { "U+0041", { { 0x41, "" } }, {} },
    { "U+0041 A  # capital a", { { 0x41, "A  " } }, {} },
    { "U+0041 Latin capital A", { { 0x41, "Latin capital A" } }, {} },
    { "U+0041\t \tA b \t", { { 0x41, "A b \t" } }, {} },
    { "  \tU+00e9 e acute", { { 0xE9, "e acute" } }, {} },
    { "   # comment\n#U+0041\n \t \f ", {}, {} },
    { "U+0041#x", { { 0x41, "" } }, {} },
    { "U+41xyz", { { 0x41, "" } }, {} },
    { "U+0x41", { { 0x41, "" } }, {} },
    { "U+1F600 grinning face", { { 0x1F600, "grinning face" } }, {} },
    { "u+0041", {}, { parse_error_at(1) } },
    { "0041", {}, { parse_error_at(1) } },
    { "A", {}, { parse_error_at(1) } },
    { "U+", {}, { parse_error_at(1) } },
    { "U+xyz name", {}, { parse_error_at(1) } },
    // A byte order mark before the first line is skipped; anywhere else it is content.
    { "\xEF\xBB\xBFU+0041 A\nU+0042", { { 0x41, "A" }, { 0x42, "" } }, {} },
    { "U+0041\n\xEF\xBB\xBFU+0042", { { 0x41, "" } }, { parse_error_at(2) } },
    // Codes that are no character are left out, naming the line.
    { "U+D800 high\nU+0041\nU+DFFF\nU+110000\nU+10FFFF",
      { { 0x41, "" }, { 0x10FFFF, "" } },
      { "Ignoring line 1 in file '%s' - U+D800 is a surrogate code (U+D800 to U+DFFF), not a "
        "character.",
        "Ignoring line 3 in file '%s' - U+DFFF is a surrogate code (U+D800 to U+DFFF), not a "
        "character.",
        "Ignoring line 4 in file '%s' - U+110000 is beyond U+10FFFF, the last Unicode code "
        "point." } },
    // Empty lines do not count: "bad" is line 2.
    { "U+0041\n\nbad", { { 0x41, "" } }, { parse_error_at(2) } },
    { "U+0041 A\r\n\r\nU+0042 B\rU+0043 C\n\n\nx", { { 0x41, "A" }, { 0x42, "B" }, { 0x43, "C" } },
      { parse_error_at(4) } },
    { "U+0041\nU+0041", { { 0x41, "" }, { 0x41, "" } }, {} },
    { "", {}, {} },
};

class character_set_fixture : public testing::Test
{
protected:
    void SetUp() override
    {
        directory = std::filesystem::current_path() / "character_set_test_files";
        std::filesystem::create_directories(directory);
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::string write(const char* name, const std::string& contents)
    {
        const std::string path = (directory / name).string();
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    std::filesystem::path directory;
};

std::vector<glyph_row_t> rows_of(const character_set_t& set)
{
    std::vector<glyph_row_t> rows;
    for (const font_glyph_t& glyph : set.glyphs)
        rows.push_back({ glyph.code, glyph.name.c_str() });
    return rows;
}

// The file layer with every read failing after the operating system has done it.
const sys_file_api_t* g_real_sys_file = nullptr;

bool failing_wait(fs_io_request_t* request)
{
    (void)g_real_sys_file->wait(request);
    return false;
}

std::string with_path(std::string text, const std::string& path)
{
    const size_t at = text.find("%s");
    return at == std::string::npos ? text : text.replace(at, 2, path);
}

}  // namespace

TEST_F(character_set_fixture, reads_one_glyph_per_accepted_line)
{
    int index = 0;
    for (const line_case_t& c : line_cases)
    {
        SCOPED_TRACE(testing::Message() << "case " << index << ": " << c.contents);
        const std::string path = write(("case_" + std::to_string(index++)).c_str(), c.contents);
        character_set_t set;
        message_capture_t capture;
        EXPECT_TRUE(read_character_set(&set, string_dyn_t(path.c_str())));
        EXPECT_EQ(rows_of(set), c.glyphs);
        std::vector<std::string> errors;
        for (const std::string& error : c.errors)
            errors.push_back(with_path(error, path));
        EXPECT_EQ(capture.lines, errors);
    }
}

TEST_F(character_set_fixture, new_glyphs_carry_only_code_and_name)
{
    const std::string path = write("one", "U+0041 A");
    character_set_t set;
    ASSERT_TRUE(read_character_set(&set, string_dyn_t(path.c_str())));
    ASSERT_EQ(set.glyphs.size(), 1u);
    const font_glyph_t& glyph = set.glyphs[0];
    EXPECT_FALSE(glyph.rasterized);
    EXPECT_EQ(glyph.width | glyph.height | glyph.top | glyph.left | glyph.advance | glyph.below,
              0);
    EXPECT_EQ(glyph.canvas_x | glyph.canvas_y, 0u);
    EXPECT_EQ(set.min_width | set.max_width | set.min_height | set.max_height | set.max_top |
                  set.max_advance | set.max_below | set.m_height,
              0);
}

TEST_F(character_set_fixture, a_missing_file_is_reported_by_the_file_system_then_by_name)
{
    const std::string path = (directory / "missing.chars").string();
    character_set_t set;
    message_capture_t capture;
    EXPECT_FALSE(read_character_set(&set, string_dyn_t(path.c_str())));
    EXPECT_EQ(set.glyphs.size(), 0u);
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[fs] Failed to open file '" + path + "' in the read_only mode.",
                  "[fs] Reason: no such file or folder.",
                  "Unable to open the character set file '" + path + "'." }));
}

TEST_F(character_set_fixture, a_file_that_cannot_be_read_is_reported_by_name)
{
    const std::string path = write("unreadable", "U+0041 A\n");
    g_real_sys_file = sys_file;
    sys_file_api_t failing = *sys_file;
    failing.wait = failing_wait;
    sys_file = &failing;
    character_set_t set;
    message_capture_t capture;
    const bool result = read_character_set(&set, string_dyn_t(path.c_str()));
    sys_file = g_real_sys_file;
    EXPECT_FALSE(result);
    EXPECT_EQ(set.glyphs.size(), 0u);
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[fs] cached read - buffer update failed (<SYSFS>" + path + ")",
                  "Unable to read the character set file '" + path + "'." }));
}

TEST(character_ranges, take_one_code_or_a_range_of_up_to_six_digits_either_case)
{
    struct case_t
    {
        const char* text;
        bool valid;
        uint32_t first;
        uint32_t last;
    };
    const case_t cases[] = {
        { "U+0020-U+007E", true, 0x20, 0x7E },
        { "u+20 - U+7e", true, 0x20, 0x7E },
        { " U+41 ", true, 0x41, 0x41 },
        { "U+0-U+10FFFF", true, 0, 0x10FFFF },
        { "U+1F600\t-\tU+1F64F", true, 0x1F600, 0x1F64F },
        { "", false, 0, 0 },
        { "U+", false, 0, 0 },
        { "U+1234567", false, 0, 0 },       // seven digits
        { "U+110000", false, 0, 0 },        // beyond U+10FFFF
        { "U+0042-U+0041", false, 0, 0 },   // first after last
        { "0041", false, 0, 0 },
        { "U+41-", false, 0, 0 },
        { "U+41-U+42x", false, 0, 0 },
        { "U+41 U+42", false, 0, 0 },
        { "U+-41", false, 0, 0 },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.text);
        uint32_t first = 0;
        uint32_t last = 0;
        ASSERT_EQ(parse_character_range(c.text, &first, &last), c.valid);
        if (c.valid)
        {
            EXPECT_EQ(first, c.first);
            EXPECT_EQ(last, c.last);
        }
    }
}
