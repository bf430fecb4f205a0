// Runs under an address-space limit: many small pictures take only what they need, and a run
// that memory does not suffice for says so, naming the set, never blaming a glyph or printing an
// empty message. Skipped under the sanitizers, which reserve more than any such limit.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/run_test_support.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char wqy_microhei[] = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

constexpr uint64_t mib = uint64_t(1) << 20;

// The first `count` code points the font maps, one "U+" line each.
std::string first_codes(const char* font, int count)
{
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::string text;
    if (FT_Init_FreeType(&library) != 0)
        return text;
    if (FT_New_Face(library, font, 0, &face) == 0)
    {
        FT_UInt index = 0;
        char line[32];
        for (FT_ULong code = FT_Get_First_Char(face, &index); index != 0 && count > 0;
             code = FT_Get_Next_Char(face, code, &index))
        {
            if (code < 0x21)
                continue;  // the space and controls have no pixels to check
            std::snprintf(line, sizeof line, "U+%04lX\n", code);
            text += line;
            --count;
        }
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
    return text;
}

int count_of(const std::string& text, const std::string& what)
{
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

}  // namespace

TEST(memory_limits, eighty_small_pictures_fit_an_address_space_of_a_gigabyte)
{
    if (built_with_sanitizer)
        GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("set.chars"), first_codes(dejavu_sans, 1900));
    write_file_bytes(scratch.path("font.qsd"),
                     one_set_configuration(dejavu_sans, "set.chars", 16, "",
                                           "    max_picture_size: 64\n"
                                           "    several_pictures: true\n"));
    // Each picture used to reserve 256 MiB, whatever its size: 70 and more of them took
    // gigabytes.
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root(), 1024 * mib);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string description = read_file_bytes(scratch.path("out/font.font"));
    EXPECT_GE(count_of(description, "\nimage:"), 70);
    EXPECT_FALSE(read_file_bytes(scratch.path("out/font_69.tga")).empty());
}

TEST(memory_limits, a_run_short_of_memory_says_so_and_names_the_set)
{
    if (built_with_sanitizer)
        GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
    scratch_directory_t scratch;
    // Two sets, large enough for the helpers, with fallback fonts and several pictures.
    std::string characters = first_codes(dejavu_sans, 1700);
    for (uint32_t code = 0x4E00; code < 0x4E00 + 600; ++code)
    {
        char line[16];
        std::snprintf(line, sizeof line, "U+%04X\n", code);
        characters += line;
    }
    write_file_bytes(scratch.path("set.chars"), characters);
    std::ostringstream text;
    text << "QsdNunit\n{\nconfiguration : .config {\n    base: \"out/\"\n    output: \"font\"\n"
            "    char_config[0]: .chars.a\n    char_config[1]: .chars.b\n}\n";
    for (const char* name : { "a", "b" })
        text << "char_set_config : .chars." << name << " {\n"
             << "    font_file: \"" << dejavu_sans << "\"\n"
             << "    fallback_font_files[0]: \"" << wqy_microhei << "\"\n"
             << "    character_set_file: \"set.chars\"\n"
             << "    width: " << (name[0] == 'a' ? 16 : 24) << "\n"
             << "    height: " << (name[0] == 'a' ? 16 : 24) << "\n"
             << "    max_picture_size: 256\n    several_pictures: true\n}\n";
    text << "}\n";
    write_file_bytes(scratch.path("font.qsd"), text.str());

    // The same run from a file, and its second set from options.
    const std::vector<std::vector<std::string>> commands = {
        { "font.qsd" },
        { "--font", dejavu_sans, "--font", wqy_microhei, "--charset-file", "set.chars", "--size",
          "24", "--max-picture-size", "256", "--several-pictures" },
    };
    // From limits no run fits (10 MiB) up to ones every run fits.
    std::vector<uint64_t> limits = { 10, 15, 20, 25, 30, 40, 50, 60, 80, 100, 120 };
    for (uint64_t limit = 150; limit <= 900; limit += 50)
        limits.push_back(limit);
    for (const std::vector<std::string>& command : commands)
    {
        int succeeded = 0;
        int failed = 0;
        for (uint64_t limit : limits)
        {
            SCOPED_TRACE(testing::Message() << command[0] << ", " << limit << " MiB");
            const process_result_t result =
                run_process(OV_FONT_GENERATOR_EXE, command, scratch.root(), limit * mib);
            ASSERT_TRUE(result.status == 0 || result.status == 1) << result.status;
            EXPECT_EQ(count_of(result.err, "*** ERROR *** : \r\n"), 0) << result.err;
            EXPECT_EQ(count_of(result.err, "Failed to retrieve glyph"), 0) << result.err;
            if (result.status == 0)
            {
                EXPECT_EQ(count_of(result.err, "*** ERROR"), 0) << result.err;
                ++succeeded;
                continue;
            }
            // The errors say memory ran short and name the set or the font.
            ++failed;
            EXPECT_NE(result.err.find("memory"), std::string::npos) << result.err;
            const bool names_a_set = result.err.find("of 'char_config' (the character set file "
                                                     "'set.chars')") != std::string::npos;
            const bool names_a_font = result.err.find("Not enough memory to open the font file") !=
                                      std::string::npos;
            EXPECT_TRUE(names_a_set || names_a_font) << result.err;
        }
        EXPECT_GT(succeeded, 0);
        EXPECT_GT(failed, 0);
    }
}
