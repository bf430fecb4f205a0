// Options mode, whole runs: every option set run as options and as the configuration it prints
// gives the same files and messages; the printed configuration's form; each mistake refused
// with its message, exit status 1 and nothing written.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace
{

const std::string dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string inter = "/usr/share/fonts/truetype/inter-vf/Inter.var.ttf";
const std::string shapes_bdf = OV_TEST_DATA_DIR "/fonts/shapes.bdf";

// The inputs the option sets name, relative to the folder the tool runs in.
void write_inputs(const scratch_directory_t& scratch)
{
    write_file_bytes(scratch.path("set.chars"), "U+0041 A\nU+0056 V\nU+00E9\n");
    write_file_bytes(scratch.path("strings.txt"), "Wave \xC3\xA9t\xC3\xA9\n");
}

// Every file under the folder but the inputs, by its path relative to it, with its bytes.
std::map<std::string, std::string> files_under(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), root).string()] =
                read_file_bytes(entry.path().string());
    for (const char* input : { "set.chars", "strings.txt", "options.qsd" })
        files.erase(input);
    return files;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::vector<std::string> with(std::vector<std::string> arguments, const std::string& more)
{
    arguments.push_back(more);
    return arguments;
}

}  // namespace

TEST(options, run_as_the_configuration_they_print)
{
    struct option_set_t
    {
        std::vector<std::string> arguments;
        int status;
    };
    const option_set_t option_sets[] = {
        { { "--font", dejavu_sans }, 0 },
        { { "--font=" + dejavu_sans, "--chars", "65-90, U+00E9", "--chars=u+41-U+5a,169",
            "--output", "fonts/ui", "--export", "bmfont_text", "--colour", "200",
            "--line-spacing", "-3", "--preview", "AVE \"quoted\" \\ \xC3\xA9" },
          0 },
        // A distance field with a fallback font, on several pictures, in every export flavour.
        { { "--font", inter, "--font", dejavu_sans, "--chars", "32-126,U+2190-U+21FF",
            "--distance-field", "--distance-range", "6.5", "--size", "24", "--opentype-kerning",
            "--max-picture-size", "128", "--several-pictures", "--export",
            "bmfont_text,bmfont_xml", "--export", "bmfont_binary", "--export=bmfont_json",
            "--colour" },
          0 },
        { { "--font", shapes_bdf, "--charset-file", "set.chars", "--text", "strings.txt",
            "--no-antialias", "--outline-width", "1", "--width", "12", "--height", "14",
            "--output", "plain" },
          0 },
        // Three channels and the true field, with kerning, on several pictures, exported.
        { { "--font", dejavu_sans, "--distance-field-type", "mtsdf", "--opentype-kerning",
            "--max-picture-size", "128", "--several-pictures", "--export", "bmfont_xml" },
          0 },
        // A variable font at an instance and axis settings, with room around its glyphs.
        { { "--font", inter, "--instance", "Light Italic", "--variation", "wght=350",
            "--variation=slnt=-5", "--padding", "2", "--spacing=3", "--export", "bmfont_text" },
          0 },
        // Failures after loading: the same messages both ways.
        { { "--font", "missing.ttf" }, 1 },
        { { "--font", dejavu_sans, "--text", "missing.txt", "--charset-file", "missing.chars" },
          1 },
    };
    for (const option_set_t& set : option_sets)
    {
        const std::vector<std::string>& options = set.arguments;
        SCOPED_TRACE(options[0] + " " + options[1] + " ... (" + std::to_string(options.size()) +
                     " arguments)");
        scratch_directory_t by_options;
        scratch_directory_t by_file;
        write_inputs(by_options);
        write_inputs(by_file);

        const process_result_t printed =
            run_process(OV_FONT_GENERATOR_EXE, with(options, "--print-configuration"),
                        by_file.root());
        ASSERT_EQ(printed.status, 0) << printed.err;
        EXPECT_EQ(printed.err, "");
        write_file_bytes(by_file.path("options.qsd"), printed.out);
        const process_result_t from_file =
            run_process(OV_FONT_GENERATOR_EXE, { "options.qsd" }, by_file.root());
        const process_result_t from_options =
            run_process(OV_FONT_GENERATOR_EXE, options, by_options.root());

        EXPECT_EQ(from_options.status, set.status) << from_options.err;
        EXPECT_EQ(from_file.status, set.status);
        EXPECT_EQ(from_options.out, from_file.out);
        // Messages may name the folder a relative path is taken from: each run has its own.
        EXPECT_EQ(replace_all(replace_all(from_options.err, "<command line>", "options.qsd"),
                              by_options.root(), by_file.root()),
                  from_file.err);
        const std::map<std::string, std::string> written = files_under(by_file.root());
        const std::map<std::string, std::string> expected = files_under(by_options.root());
        EXPECT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected);
        EXPECT_EQ(expected.empty(), set.status != 0);
    }
}

TEST(options, print_the_configuration_in_the_unit_text_format)
{
    const process_result_t result = run_process(
        OV_FONT_GENERATOR_EXE, { "--print-configuration", "--output", "font", "--font",
                                 "a \"b\".ttf", "--font", "c.ttf", "--chars", "32-126,169",
                                 "--export", "bmfont_xml", "--size", "20", "--height", "24",
                                 "--distance-range=8" });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "QsdNunit\n"
                          "{\n"
                          "configuration : .config {\n"
                          "    base: \"\"\n"
                          "    output: \"font\"\n"
                          "    export_formats[0]: \"bmfont_xml\"\n"
                          "    char_config[0]: .chars.main\n"
                          "}\n"
                          "char_set_config : .chars.main {\n"
                          "    font_file: \"a \\\"b\\\".ttf\"\n"
                          "    fallback_font_files[0]: \"c.ttf\"\n"
                          "    character_ranges[0]: \"U+0020-U+007E\"\n"
                          "    character_ranges[1]: \"U+00A9\"\n"
                          "    width: 20\n"
                          "    height: 24\n"
                          "    distance_range: 8.0\n"
                          "}\n"
                          "}\n");
}

TEST(options, refuse_each_mistake_naming_the_option_as_typed)
{
    struct case_t
    {
        std::vector<std::string> arguments;
        std::string message;  // every line, without the error prefix
    };
    const std::string not_a_code = " is not a code or a range of codes (U+0041, U+0020-U+007E, "
                                   "65 or 32-126) up to U+10FFFF, the first at most the last.";
    const case_t cases[] = {
        { { "--font", "a.ttf", "--distance-range", "100" },
          "--distance-range 100: the distance range is from 1 to 64 pixels." },
        { { "--font", "a.ttf", "--distance-field-type=msdf2" },
          "--distance-field-type=msdf2: the distance field type is sdf, msdf or mtsdf." },
        { { "--font", "a.ttf", "--padding", "65" },
          "--padding 65: the room around glyphs is from 0 to 64 pixels." },
        { { "--font", "a.ttf", "--variation", "wght" },
          "--variation wght: an axis setting is a four-character tag, '=' and a number "
          "(wght=650)." },
        { { "--font", "a.ttf", "--variation", "wght=300", "--variation=wght=400" },
          "--variation=wght=400: the axis 'wght' is set more than once." },
        { { "--font", "a.ttf", "--chars", "65,U+D800-U+DFFF" },
          "--chars 65,U+D800-U+DFFF: 'U+D800-U+DFFF' holds only surrogate codes (U+D800 to "
          "U+DFFF) and noncharacters (U+FDD0 to U+FDEF, the last two codes of a plane), which no "
          "font has as characters." },
        { { "--font", "a.ttf", "--distance-range=x" },
          "--distance-range=x: the distance range is from 1 to 64 pixels." },
        { { "--font", "a.ttf", "--size" }, "--size: the option needs a value." },
        { { "--font", "a.ttf", "--size", "20", "--size=24" },
          "--size=24: the option is given more than once." },
        { { "--font", "a.ttf", "font.qsd" },
          "font.qsd: a configuration file is not read beside options; --print-configuration "
          "writes the options as one." },
        { { "--size", "20" }, "--font is missing: the options need the font to draw." },
        { { "--font", "a.ttf", "--szie", "20" },
          "Unknown option '--szie'.\nDid you mean '--size'?" },
        { { "--font", "a.ttf", "-export=txt" },
          "Unknown option '-export=txt'.\nDid you mean '--export'?" },
        { { "--font", "a.ttf", "--bold" }, "Unknown option '--bold'." },
        { { "--font", "a.ttf", "--several-pictures=yes" },
          "--several-pictures=yes: the option takes no value." },
        { { "--font", "a.ttf", "--font", "b.ttf", "--font", "a.ttf" },
          "--font a.ttf: the font is named by an earlier --font." },
        { { "--font", "" }, "--font \"\": the path is empty." },
        { { "--font", "a.ttf", "--size", "0" },
          "--size 0: the glyph size is from 1 to 8192 pixels." },
        { { "--font", "a.ttf", "--width", "9000" },
          "--width 9000: the glyph width is from 1 to 8192 pixels." },
        { { "--font", "a.ttf", "--chars", "32-126,126-32" },
          "--chars 32-126,126-32: '126-32'" + not_a_code },
        { { "--font", "a.ttf", "--chars", "U+110000" },
          "--chars U+110000: 'U+110000'" + not_a_code },
        { { "--font", "a.ttf", "--chars", "65,," }, "--chars 65,,: ''" + not_a_code },
        { { "--font", "a.ttf", "--chars=U+41-U+1234567" },
          "--chars=U+41-U+1234567: 'U+41-U+1234567'" + not_a_code },
        { { "--font", "a.ttf", "--output", "out/" },
          "--output out/: the outputs need a name after the last '/'." },
        { { "--font", "a.ttf", "--export", "txt" },
          "--export txt: the format 'txt' is called bmfont_text." },
        { { "--font", "a.ttf", "--export", "json" },
          "--export json: the format 'json' is called bmfont_json." },
        { { "--font", "a.ttf", "--export", "fnt" },
          "--export fnt: 'fnt' is not one of bmfont_text, bmfont_xml, bmfont_binary and "
          "bmfont_json." },
        { { "--font", "a.ttf", "--export", "bmfont_xml", "--export", "bmfont_xml" },
          "--export bmfont_xml: the format bmfont_xml is named more than once." },
        { { "--font", "a.ttf", "--max-picture-size", "100" },
          "--max-picture-size 100: the largest picture size is a power of two from 32 to "
          "8192." },
        { { "--font", "a.ttf", "--preview", "\xC3" }, "--preview \xC3: the text is not UTF-8." },
        { { "--font", "a.ttf", "--colour=256" }, "--colour=256: the grey level is from 0 to 255." },
        { { "--font", "a.ttf", "--outline-width", "-1" },
          "--outline-width -1: the outline width is from 0 to 8192 pixels." },
        { { "--font", "a.ttf", "--line-spacing", "2.5" },
          "--line-spacing 2.5: the line spacing is from -8192 to 8192 pixels." },
        { { "--outline-width", "2", "--font", "a.ttf", "--distance-field" },
          "--outline-width 2: a distance field takes its margin from the distance range, so "
          "the outline width must be 0." },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.message);
        scratch_directory_t scratch;
        const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, c.arguments,
                                                    scratch.root());
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "*** ERROR *** : " +
                                  replace_all(c.message, "\n", "\r\n*** ERROR *** : ") + "\r\n");
        EXPECT_TRUE(files_under(scratch.root()).empty());
    }
}
