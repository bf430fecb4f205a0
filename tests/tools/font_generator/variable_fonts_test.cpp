// Variable fonts in whole runs: a named instance and the same axis settings write the same files,
// coverage and distance fields alike; a run that names neither writes what it wrote before; bad
// settings stop the run before any output; the export names the instance.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/run_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace
{

const std::string inter_vf = "/usr/share/fonts/truetype/inter-vf/";
const std::string inter_var = inter_vf + "Inter.var.ttf";  // wght 100 to 900, slnt -10 to 0

// "font_instance" and "font_variations" lines.
std::string variation(const std::string& instance, const std::vector<std::string>& settings = {})
{
    std::string text = instance.empty() ? "" : "    font_instance: \"" + instance + "\"\n";
    for (size_t i = 0; i < settings.size(); ++i)
        text += "    font_variations[" + std::to_string(i) + "]: \"" + settings[i] + "\"\n";
    return text;
}

struct run_t
{
    process_result_t result;
    std::vector<std::pair<std::string, std::string>> files;  // name, bytes
};

// Runs the configuration text in a scratch folder with set.chars beside it.
run_t run(const std::string& text)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("set.chars"), "U+0041 A\nU+0056 V\nU+0061 a\nU+0067 g\n"
                                                "U+006F o\nU+0054 T\nU+002C comma\n");
    write_file_bytes(scratch.path("font.qsd"), text);
    run_t outcome;
    outcome.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    if (std::filesystem::exists(scratch.path("out")))
        for (const std::string& name : sorted_file_names(scratch.path("out")))
            outcome.files.emplace_back(name, read_file_bytes(scratch.path("out/" + name)));
    return outcome;
}

run_t run_set(const std::string& font, const std::string& set_extra,
              const std::string& configuration_extra = "")
{
    return run(one_set_configuration(font, "set.chars", 24, configuration_extra, set_extra));
}

}  // namespace

TEST(variable_fonts, an_instance_and_the_same_settings_write_the_same_files)
{
    struct case_t
    {
        std::string first;
        std::string second;
        bool same;
    };
    const std::string kerned = "    opentype_kerning: true\n";
    const std::string field = "    distance_field: true\n";
    const case_t cases[] = {
        { variation("Bold") + kerned, variation("", { "wght=700" }) + kerned, true },
        { variation("Light Italic") + kerned, variation("", { "wght=300", "slnt=-10" }) + kerned,
          true },
        { variation("Light Italic") + kerned, variation("Light") + kerned, false },
        { variation("Bold") + kerned, kerned, false },
        { variation("Bold") + field, variation("", { "wght=700" }) + field, true },
        { variation("Bold") + field, field, false },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.first + "against\n" + c.second);
        const run_t first = run_set(inter_var, c.first);
        const run_t second = run_set(inter_var, c.second);
        ASSERT_EQ(first.result.status, 0) << first.result.err;
        ASSERT_EQ(second.result.status, 0) << second.result.err;
        EXPECT_EQ(first.result.err, "");
        ASSERT_EQ(first.files.size(), 4u);  // description, material, texture object, picture
        EXPECT_EQ(first.files == second.files, c.same);
    }
}

TEST(variable_fonts, a_run_that_names_neither_attribute_writes_what_it_wrote_before)
{
    // Coverage with a variable fallback font and OpenType kerning, and a distance field, from
    // Inter's variable font at its default instance: the files written before variable fonts
    // could be drawn at another. Both attributes empty are as good as absent.
    for (const char* empty : { "", "    font_instance: \"\"\n    font_variations: 0\n" })
    {
        SCOPED_TRACE(empty);
        const std::string text =
            "QsdNunit\n{\nconfiguration : .config {\n    base: \"out/\"\n    output: \"font\"\n"
            "    export_formats[0]: \"bmfont_text\"\n    char_config[0]: .chars.coverage\n"
            "    char_config[1]: .chars.field\n}\n"
            "char_set_config : .chars.coverage {\n    font_file: \"" + inter_var + "\"\n"
            "    character_ranges[0]: \"U+0041-U+005A\"\n"
            "    character_ranges[1]: \"U+0061-U+007A\"\n"
            "    fallback_font_files[0]: \"" + inter_vf + "Inter-italic.var.ttf\"\n"
            "    width: 16\n    height: 16\n    opentype_kerning: true\n" + empty + "}\n"
            "char_set_config : .chars.field {\n    font_file: \"" + inter_var + "\"\n"
            "    character_ranges[0]: \"U+0041-U+005A\"\n    width: 24\n    height: 24\n"
            "    distance_field: true\n" + empty + "}\n}\n";
        const run_t outcome = run(text);
        ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
        EXPECT_EQ(outcome.result.err, "");
        const std::string stored = OV_TEST_DATA_DIR "/expected/variable_default/";
        for (const char* name : { "font.font", "font_0.tga", "font_1.tga", "font-0.fnt" })
        {
            SCOPED_TRACE(name);
            bool found = false;
            for (const auto& [file, bytes] : outcome.files)
                if (file == name)
                {
                    found = true;
                    EXPECT_TRUE(bytes == read_file_bytes(stored + name));
                }
            EXPECT_TRUE(found);
        }
    }
}

TEST(variable_fonts, bad_settings_stop_the_run_before_any_output)
{
    struct case_t
    {
        std::string font;
        std::string extra;
        std::string error;
    };
    const std::string dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    const std::string at_load = "of the element 0 of 'char_config' in the configuration file "
                                "'font.qsd'";
    const std::string failed_load =
        "*** ERROR *** : Failed to read the configuration file 'font.qsd'.\r\n";
    const std::string set = "of the element 0 of 'char_config' (the character set file "
                            "'set.chars')";
    const case_t cases[] = {
        { inter_var, variation("", { "wght:700" }),
          "*** ERROR *** : The font variation 'wght:700' " + at_load +
              " is not TAG=VALUE: a four-character axis tag, '=' and a number.\r\n" + failed_load },
        { inter_var, variation("Bold", { "wght=700", "slnt=-1", "wght=600" }),
          "*** ERROR *** : The font variation 'wght=600' " + at_load +
              " names the axis 'wght' a second time.\r\n" + failed_load },
        { dejavu_sans, variation("Bold"),
          "*** ERROR *** : The font file '" + dejavu_sans + "' " + set +
              " is not a variable font: font_instance and font_variations need one.\r\n" },
        { inter_var, variation("Heavy"),
          "*** ERROR *** : The font file '" + inter_var + "' " + set +
              " has no named instance 'Heavy' for font_instance; its instances are 'Thin', "
              "'Thin Italic', 'Extra Light', 'Extra Light Italic', 'Light', 'Light Italic', "
              "'Regular', 'Italic', 'Medium', 'Medium Italic', 'Semi Bold', 'Semi Bold Italic', "
              "'Bold', 'Bold Italic', 'Extra Bold', 'Extra Bold Italic', 'Black', "
              "'Black Italic'.\r\n" },
        { inter_var, variation("", { "opsz=32" }),
          "*** ERROR *** : The font file '" + inter_var + "' " + set +
              " has no axis 'opsz' for the font variation 'opsz=32'; its axes are wght from 100 "
              "to 900, slnt from -10 to 0.\r\n" },
        { inter_var, variation("", { "wght=1000" }),
          "*** ERROR *** : The font variation 'wght=1000' " + set +
              " is outside the range 100 to 900 of the axis 'wght' of the font file '" +
              inter_var + "'.\r\n" },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.extra);
        const run_t outcome = run_set(c.font, c.extra, "    preview_text: \"AV\"\n");
        EXPECT_EQ(outcome.result.status, 1);
        EXPECT_EQ(outcome.result.err, c.error);
        EXPECT_TRUE(outcome.files.empty());
    }
}

TEST(variable_fonts, the_export_names_the_instance_and_its_weight_and_slant)
{
    struct case_t
    {
        std::string font;
        std::string extra;
        std::string info;  // the start of the text flavour's info line
    };
    const case_t cases[] = {
        { inter_var, "", "info face=\"Inter\" size=24 bold=0 italic=0 " },
        { inter_var, variation("Bold"), "info face=\"Inter Bold\" size=24 bold=1 italic=0 " },
        { inter_var, variation("semi bold"),
          "info face=\"Inter Semi Bold\" size=24 bold=1 italic=0 " },
        { inter_var, variation("Medium"), "info face=\"Inter Medium\" size=24 bold=0 italic=0 " },
        { inter_var, variation("Light Italic"),
          "info face=\"Inter Light Italic\" size=24 bold=0 italic=1 " },
        { inter_var, variation("Bold Italic", { "slnt=0" }),
          "info face=\"Inter Bold Italic\" size=24 bold=1 italic=1 " },
        { inter_var, variation("Bold", { "wght=599.5" }),
          "info face=\"Inter Bold\" size=24 bold=0 italic=0 " },
        { inter_var, variation("", { "wght=650" }),
          "info face=\"Inter\" size=24 bold=1 italic=0 " },
        { inter_var, variation("", { "slnt=-0.5" }),
          "info face=\"Inter\" size=24 bold=0 italic=1 " },
        // Without a slant axis the face's own italic flag stands.
        { inter_vf + "Inter-italic.var.ttf", variation("", { "wght=300" }),
          "info face=\"Inter\" size=24 bold=0 italic=1 " },
        { inter_vf + "Inter-roman.var.ttf", variation("Black"),
          "info face=\"Inter Black\" size=24 bold=1 italic=0 " },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.font + "\n" + c.extra);
        const run_t outcome =
            run_set(c.font, c.extra, "    export_formats[0]: \"bmfont_text\"\n");
        ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
        std::string descriptor;
        for (const auto& [file, bytes] : outcome.files)
            if (file == "font-0.fnt")
                descriptor = bytes;
        EXPECT_EQ(descriptor.substr(0, c.info.size()), c.info);
    }
}
