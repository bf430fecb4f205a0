// The whole run: the bundled default, output names from base and output, an empty
// configuration, and a failed phase stopping the run.
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{

const char* const dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A fresh directory for one run of the tool, removed afterwards.
class run_directory_fixture : public testing::Test
{
protected:
    void SetUp() override
    {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        directory = std::filesystem::current_path() / "generator_test_files" / test->name();
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
    }
    void TearDown() override { std::filesystem::remove_all(directory.parent_path()); }

    void write(const char* name, const std::string& contents)
    {
        std::ofstream(directory / name, std::ios::binary) << contents;
    }

    // A configuration of one set of three Latin letters, or of none.
    void write_configuration(const std::string& base, const std::string& output, bool with_set,
                             const char* font = dejavu_sans)
    {
        write("abc.chars", "U+0041 A\nU+0042 B\nU+0043 C\n");
        std::string text = "QsdNunit\n{\nconfiguration : .config {\n  base: \"" + base +
                           "\"\n  output: \"" + output + "\"\n";
        if (with_set)
            text += "  char_config[]: .set\n}\nchar_set_config : .set {\n  font_file: \"" +
                    std::string(font) + "\"\n  character_set_file: \"abc.chars\"\n";
        write("font.qsd", text + "}\n}\n");
    }

    process_result_t run(const std::vector<std::string>& arguments = { "font.qsd" })
    {
        return run_process(OV_FONT_GENERATOR_EXE, arguments, directory.string());
    }

    bool exists(const char* name) const { return std::filesystem::exists(directory / name); }

    std::filesystem::path directory;
};

}  // namespace

TEST_F(run_directory_fixture, the_bundled_default_does_the_whole_job_without_a_word)
{
    std::filesystem::create_directories(directory / "etc");
    std::filesystem::copy(OV_SOURCE_DIR "/etc/font", directory / "etc" / "font");
    const process_result_t result = run({});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    for (const char* name : { "out/font.font", "out/font_0.mat", "out/font_0.tobj",
                              "out/font_0.tga" })
        EXPECT_TRUE(exists(name)) << name;
}

TEST_F(run_directory_fixture, joins_base_and_output_without_a_separator)
{
    struct join_case_t { const char* base; const char* output; std::vector<const char*> files; };
    const join_case_t cases[] = {
        { "out/", "font", { "out/font.font", "out/font_0.mat", "out/font_0.tobj",
                            "out/font_0.tga" } },
        { "out", "font", { "outfont.font", "outfont_0.mat", "outfont_0.tobj",
                           "outfont_0.tga" } },
    };
    for (const join_case_t& c : cases)
    {
        SCOPED_TRACE(c.base);
        write_configuration(c.base, c.output, true);
        const process_result_t result = run();
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        for (const char* name : c.files)
            EXPECT_TRUE(exists(name)) << name;
    }
    std::ifstream material(directory / "out/font_0.mat");
    const std::string text((std::istreambuf_iterator<char>(material)),
                           std::istreambuf_iterator<char>());
    // Files name each other without base.
    EXPECT_NE(text.find("\"font_0.tobj\""), std::string::npos) << text;
}

TEST_F(run_directory_fixture, an_empty_configuration_writes_only_the_description)
{
    write_configuration("out/", "font", false);
    const process_result_t result = run();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(exists("out/font.font"));
    EXPECT_FALSE(exists("out/font_0.tga"));
}

TEST_F(run_directory_fixture, a_failed_phase_stops_the_run_before_any_output)
{
    write_configuration("out/", "font", true, "missing.ttf");
    const process_result_t result = run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "*** ERROR *** : Failed to open the font file 'missing.ttf'.\r\n");
    EXPECT_FALSE(exists("out"));
}
