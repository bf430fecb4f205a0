// Characters from ranges and from a game's text files, whole runs: the order and the names of the
// glyph lines, each code once, what a text leaves out, and every refusal before any output.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/run_test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// The code and the comment's glyph name of every glyph line, in order.
std::vector<std::string> glyph_lines_of(const std::string& description)
{
    std::vector<std::string> lines;
    std::istringstream in(description);
    std::string line;
    while (std::getline(in, line))
    {
        if (line.rfind("x", 0) != 0)
            continue;
        std::string entry = line.substr(0, line.find(',') + 1);
        const size_t name = line.find(" / '");
        entry.push_back(' ');
        if (name != std::string::npos)
            entry.append(line, name + 4, line.find('\'', name + 4) - name - 4);
        lines.push_back(entry);
    }
    return lines;
}

struct run_t
{
    process_result_t result;
    std::vector<std::string> files;
};

run_t run(const scratch_directory_t& scratch, const std::string& set_extra,
          const std::string& characters = "")
{
    if (!characters.empty())
        write_file_bytes(scratch.path("set.chars"), characters);
    write_file_bytes(scratch.path("font.qsd"),
                     one_set_configuration(dejavu_sans, characters.empty() ? "" : "set.chars",
                                           16, "", set_extra));
    run_t outcome;
    outcome.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    outcome.files = sorted_file_names(scratch.path("out"));
    return outcome;
}

}  // namespace

TEST(characters_from_text, join_after_the_file_in_order_each_code_once)
{
    scratch_directory_t scratch;
    // A byte order mark first and inside, CRLF, a control, a character above U+FFFF, one
    // DejaVu Sans lacks (U+4E00), repeats of the file's and the ranges' codes.
    write_file_bytes(scratch.path("strings.txt"),
                     "\xEF\xBB\xBFh\xC3\xA9\r\nA\xF0\x9F\x98\x80\x01 b\xEF\xBB\xBF"
                     "C\xE4\xB8\x80\n");
    write_file_bytes(scratch.path("more.txt"), "bz");
    const run_t outcome =
        run(scratch,
            "    character_ranges[0]: \"U+0042-U+0044\"\n"
            "    character_ranges[1]: \"u+41\"\n"
            "    text_files[0]: \"strings.txt\"\n"
            "    text_files[1]: \"more.txt\"\n",
            "U+0041 A\nU+0042\nU+0041 again\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    EXPECT_EQ(outcome.result.err, "*** ERROR *** : Undefined character U+4e00\r\n");
    EXPECT_EQ(glyph_lines_of(read_file_bytes(scratch.path("out/font.font"))),
              (std::vector<std::string>{ "x0041, A", "x0042, ", "x0041, again", "x0043, U+0043",
                                         "x0044, U+0044", "x0068, U+0068", "x00e9, U+00E9",
                                         "x1f600, U+1F600", "x0020, U+0020", "x0062, U+0062",
                                         "x4e00, U+4E00", "x007a, U+007A" }));
}

TEST(characters_from_text, range_codes_no_font_has_are_left_out_with_one_warning)
{
    // Codes asked for by name (the file's line, the text's character) keep their message and
    // zero line; codes of ranges no font has go, and so do surrogates and noncharacters.
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("text.txt"), "\xE4\xB8\x85" "A");
    const run_t outcome = run(scratch,
                              "    character_ranges[0]: \"U+0040-U+0041\"\n"
                              "    character_ranges[1]: \"U+4DFF-U+4E01\"\n"
                              "    character_ranges[2]: \"U+D7FA-U+E000\"\n"
                              "    character_ranges[3]: \"U+FFFD-U+10001\"\n"
                              "    text_files[0]: \"text.txt\"\n",
                              "U+4E10 named\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    EXPECT_EQ(outcome.result.err,
              "*** WARNING *** : 11 codes of the character ranges of the element 0 of "
              "'char_config' (the character set file 'set.chars') are in no font of the set and "
              "are left out: U+4E00-U+4E01, U+D7FA-U+D7FF, U+E000, U+10000-U+10001.\r\n"
              "*** ERROR *** : Undefined character U+4e10\r\n"
              "*** ERROR *** : Undefined character U+4e05\r\n");
    EXPECT_EQ(glyph_lines_of(read_file_bytes(scratch.path("out/font.font"))),
              (std::vector<std::string>{ "x4e10, named", "x0040, U+0040", "x0041, U+0041",
                                         "x4dff, U+4DFF", "xfffd, U+FFFD", "x4e05, U+4E05" }));
}

TEST(characters_from_text, every_code_point_gives_what_the_font_has_in_valid_utf8)
{
    scratch_directory_t scratch;
    const run_t outcome = run(scratch, "    character_ranges[0]: \"U+0000-U+10FFFF\"\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    std::istringstream lines(outcome.result.err);
    std::vector<std::string> messages;
    for (std::string line; std::getline(lines, line);)
        messages.push_back(line);
    ASSERT_FALSE(messages.empty());
    EXPECT_LT(messages.size(), 50u);
    EXPECT_EQ(messages[0].rfind("*** WARNING *** : 1106080 codes of the character ranges of the "
                                "element 0 of 'char_config' (the character set file '') are in "
                                "no font of the set and are left out: U+0000-U+001F, "
                                "U+007F-U+009F, ",
                                0),
              0u)
        << messages[0];
    EXPECT_NE(messages[0].find(" and 291 more.\r"), std::string::npos) << messages[0];
    EXPECT_EQ(outcome.result.err.find("Undefined character"), std::string::npos);
    const std::string description = read_file_bytes(scratch.path("out/font.font"));
    EXPECT_EQ(glyph_lines_of(description).size(), 5918u);  // DejaVu Sans's character map
    for (size_t at = 0; at < description.size();)  // every sequence a well-formed character
    {
        const unsigned char lead = static_cast<unsigned char>(description[at]);
        const size_t length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : 4;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; ++i)
        {
            ASSERT_LT(at + i, description.size());
            ASSERT_EQ(static_cast<unsigned char>(description[at + i]) >> 6, 2u) << at;
            code = code << 6 | (static_cast<unsigned char>(description[at + i]) & 0x3F);
        }
        ASSERT_TRUE(lead < 0xF8 && (lead < 0x80 || lead >= 0xC2)) << at;
        ASSERT_FALSE(code >= 0xD800 && code <= 0xDFFF) << at;
        ASSERT_LE(code, 0x10FFFFu) << at;
        at += length;
    }
}

TEST(characters_from_text, need_no_character_set_file)
{
    scratch_directory_t scratch;
    const run_t outcome = run(scratch, "    character_ranges[0]: \"U+0041-U+0043\"\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    EXPECT_EQ(outcome.result.err, "");
    EXPECT_EQ(glyph_lines_of(read_file_bytes(scratch.path("out/font.font"))),
              (std::vector<std::string>{ "x0041, U+0041", "x0042, U+0042", "x0043, U+0043" }));
}

TEST(characters_from_text, bad_ranges_texts_and_sizes_are_refused_before_any_output)
{
    struct case_t
    {
        const char* name;
        std::string set_extra;
        std::string text;  // written as text.txt
        std::vector<std::string> errors;  // %s: the configuration file's path
    };
    const case_t cases[] = {
        { "malformed range",
          "    character_ranges[0]: \"U+0041-U+0040\"\n    character_ranges[1]: \"U+41\"\n", "",
          { "The character range 'U+0041-U+0040' of the element 0 of 'char_config' in the "
            "configuration file 'font.qsd' is not U+XXXX or U+XXXX-U+YYYY with the first code "
            "at most the last and the last at most U+10FFFF.",
            "Failed to read the configuration file 'font.qsd'." } },
        { "surrogates and noncharacters only",
          "    character_ranges[0]: \"U+D800-U+DFFF\"\n"
          "    character_ranges[1]: \"U+FFFE-U+FFFF\"\n    character_ranges[2]: \"U+FDD5\"\n",
          "",
          { "The character range 'U+D800-U+DFFF' of the element 0 of 'char_config' in the "
            "configuration file 'font.qsd' holds only surrogate codes (U+D800 to U+DFFF) and "
            "noncharacters (U+FDD0 to U+FDEF, the last two codes of a plane), which no font has "
            "as characters.",
            "The character range 'U+FFFE-U+FFFF' of the element 0 of 'char_config' in the "
            "configuration file 'font.qsd' holds only surrogate codes (U+D800 to U+DFFF) and "
            "noncharacters (U+FDD0 to U+FDEF, the last two codes of a plane), which no font has "
            "as characters.",
            "The character range 'U+FDD5' of the element 0 of 'char_config' in the "
            "configuration file 'font.qsd' holds only surrogate codes (U+D800 to U+DFFF) and "
            "noncharacters (U+FDD0 to U+FDEF, the last two codes of a plane), which no font has "
            "as characters.",
            "Failed to read the configuration file 'font.qsd'." } },
        { "not UTF-8", "    text_files[0]: \"text.txt\"\n", "ok\xC3(",
          { "The text file 'text.txt' is not UTF-8: byte 2 starts no character.",
            "The first byte that starts no character is at line 1, column 3; it looks like "
            "Latin-1 or Windows-1252: save the file as UTF-8." } },
        { "cut short", "    text_files[0]: \"text.txt\"\n", "ok\nr\xC3\xA9\xE2\x82",
          { "The text file 'text.txt' is not UTF-8: byte 6 starts no character.",
            "The first byte that starts no character is at line 2, column 3: save the file as "
            "UTF-8." } },
        { "UTF-16", "    text_files[0]: \"text.txt\"\n", std::string("\xFF\xFEo\0k\0", 6),
          { "The text file 'text.txt' is not UTF-8: byte 0 starts no character.",
            "The first byte that starts no character is at line 1, column 1; it looks like UTF-16 "
            "(it starts with a UTF-16 byte order mark): save the file as UTF-8." } },
        { "missing", "    text_files[0]: \"missing.txt\"\n", "",
          { "[fs] Failed to open file 'missing.txt' in the read_only mode.",
            "[fs] Reason: no such file or folder; the relative path 'missing.txt' is taken from "
            "the current folder '{folder}'.",
            "Unable to open the text file 'missing.txt'." } },
        { "zero sizes", "    width: 0\n    height: 0\n", "",
          { "The width and height of the element 0 of 'char_config' in the configuration file "
            "'font.qsd' are both 0: a glyph needs a size.",
            "Failed to read the configuration file 'font.qsd'." } },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.name);
        scratch_directory_t scratch;
        write_file_bytes(scratch.path("text.txt"), c.text);
        const run_t outcome = run(scratch, c.set_extra, "U+0041\n");
        EXPECT_EQ(outcome.result.status, 1);
        std::string expected;
        for (std::string error : c.errors)
        {
            const size_t folder = error.find("{folder}");
            if (folder != std::string::npos)
                error.replace(folder, 8, scratch.root());
            expected += "*** ERROR *** : " + error + "\r\n";
        }
        EXPECT_EQ(outcome.result.err, expected);
        EXPECT_TRUE(outcome.files.empty());
    }
}

TEST(characters_from_text, one_size_of_0_is_the_other_side)
{
    scratch_directory_t square;
    scratch_directory_t zero;
    const run_t both = run(square, "    width: 16\n", "U+0041\nU+0067\n");
    const run_t one = run(zero, "    width: 0\n", "U+0041\nU+0067\n");
    ASSERT_EQ(both.result.status, 0);
    ASSERT_EQ(one.result.status, 0);
    EXPECT_EQ(read_file_bytes(zero.path("out/font.font")),
              read_file_bytes(square.path("out/font.font")));
    EXPECT_EQ(read_file_bytes(zero.path("out/font_0.tga")),
              read_file_bytes(square.path("out/font_0.tga")));
}
