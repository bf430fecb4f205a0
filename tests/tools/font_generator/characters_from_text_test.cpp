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
        { "not UTF-8", "    text_files[0]: \"text.txt\"\n", "ok\xC3(",
          { "The text file 'text.txt' is not UTF-8: byte 2 starts no character." } },
        { "cut short", "    text_files[0]: \"text.txt\"\n", "ok\xE2\x82",
          { "The text file 'text.txt' is not UTF-8: byte 2 starts no character." } },
        { "missing", "    text_files[0]: \"missing.txt\"\n", "",
          { "[fs] Failed to open file 'missing.txt' in the read_only mode.",
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
        for (const std::string& error : c.errors)
            expected += "*** ERROR *** : " + error + "\r\n";
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
