// The whole run: the bundled default, output names from base and output, an empty
// configuration, and a failed phase stopping the run; in this process, every phase on the sets
// it holds and their release.
#include "tools/font_generator/generator.h"

#include "ovcore/units/unit_system.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tests/support/process_runner.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/packing/glyph_packing.h"

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
    struct join_case_t
    {
        const char* base;
        const char* output;
        std::vector<const char*> files;
        const char* err;
    };
    const join_case_t cases[] = {
        { "out/", "font", { "out/font.font", "out/font_0.mat", "out/font_0.tobj",
                            "out/font_0.tga" }, "" },
        // The folder "out" exists now: the join is taken, with a warning.
        { "out", "font", { "outfont.font", "outfont_0.mat", "outfont_0.tobj",
                           "outfont_0.tga" },
          "*** WARNING *** : The base 'out' of the configuration file 'font.qsd' names a folder "
          "but does not end in '/': the outputs go beside it ('outfont.font'); write base: "
          "\"out/\" to put them in it.\r\n" },
    };
    for (const join_case_t& c : cases)
    {
        SCOPED_TRACE(c.base);
        write_configuration(c.base, c.output, true);
        const process_result_t result = run();
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, c.err);
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
    EXPECT_EQ(result.err, "*** ERROR *** : Failed to open the font file 'missing.ttf'.\r\n"
                          "*** ERROR *** : Reason: no such file or folder; the relative path "
                          "'missing.ttf' is taken from the current folder '" +
                              directory.string() + "'.\r\n");
    EXPECT_FALSE(exists("out"));
}

namespace
{

// The tool's unit types in a default unit system, and a scratch directory for the inputs.
class generator_phases_fixture : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bank.register_type(&configuration_u::descriptor));
        ASSERT_TRUE(bank.register_type(&char_set_config_u::descriptor));
        system = new unit_system_t(&bank);
        system->make_default();
    }
    void TearDown() override
    {
        unit_flush_pending_releases();
        delete system;
    }

    // Two sets of DejaVu Sans: "ABC" at 16 pixels, then "A" at 32 with an outline margin.
    std::string write_two_sets()
    {
        write_file_bytes(scratch.path("abc.chars"), "U+0041 A\nU+0042 B\nU+0043 C\n");
        write_file_bytes(scratch.path("a.chars"), "U+0041 A\n");
        const std::string path = scratch.path("font.qsd");
        write_file_bytes(path, "QsdNunit\n{\nconfiguration : .config {\n  output: \"two\"\n"
                               "  char_config[]: .abc\n  char_config[]: .a\n}\n"
                               "char_set_config : .abc {\n  font_file: \"" +
                                   std::string(dejavu_sans) + "\"\n  character_set_file: \"" +
                                   scratch.path("abc.chars") +
                                   "\"\n  width: 16\n  height: 16\n}\n"
                                   "char_set_config : .a {\n  font_file: \"" +
                                   dejavu_sans + "\"\n  character_set_file: \"" +
                                   scratch.path("a.chars") +
                                   "\"\n  width: 32\n  height: 32\n  outline_width: 1\n}\n}\n");
        return path;
    }

    unit_bank_t bank;
    unit_system_t* system = nullptr;
    scratch_directory_t scratch;
};

}  // namespace

TEST_F(generator_phases_fixture, each_set_keeps_its_own_faces_canvas_and_glyphs)
{
    const std::string path = write_two_sets();
    for (const bool keeps_glyphs : { true, false })
    {
        SCOPED_TRACE(keeps_glyphs);
        message_capture_t capture;
        generator_t generator;
        generator.glyph_store.keeps_glyphs = keeps_glyphs;
        ASSERT_TRUE(load_inputs(&generator, path.c_str()));
        ASSERT_TRUE(open_and_measure(&generator));
        ASSERT_EQ(generator.sets.size(), 2u);
        for (uint32_t k = 0; k < 2; ++k)
        {
            const generator_set_t& set = generator.sets[k];
            EXPECT_EQ(set.config, generator.configuration->char_set(k));
            ASSERT_EQ(set.faces->faces().count, 1u);
            EXPECT_NE(set.faces->faces()[0], nullptr);
            EXPECT_TRUE(set.character_set->glyphs[0].rasterized);
            ASSERT_EQ(bool(set.kept_glyphs), keeps_glyphs);
            if (keeps_glyphs)
            {
                EXPECT_EQ(set.kept_glyphs->size(), set.character_set->glyphs.size());
            }
        }
        // Sized apart, the sets cannot share a face.
        EXPECT_NE(generator.sets[0].faces->faces()[0], generator.sets[1].faces->faces()[0]);

        ASSERT_TRUE(collect_set_kerning(&generator));
        ASSERT_TRUE(lay_out_and_draw(&generator));
        for (const generator_set_t& set : generator.sets)
        {
            ASSERT_EQ(set.canvases.size(), 1u);
            const font_canvas_t& canvas = *set.canvases[0];
            // Packing starts at (1, 1): every glyph has a cell on its own set's canvas.
            for (const font_glyph_t& glyph : set.character_set->glyphs)
            {
                EXPECT_GE(glyph.canvas_x, 1u);
                EXPECT_GE(glyph.canvas_y, 1u);
                EXPECT_LE(glyph.canvas_x + uint32_t(glyph.width), canvas.width);
                EXPECT_LE(glyph.canvas_y + uint32_t(glyph.height), canvas.height);
            }
            if (keeps_glyphs)
            {
                // Drawn: the bitmaps are gone, the glyph indices stay for the kerning table.
                glyph_bitmap_t bitmap;
                EXPECT_FALSE(set.kept_glyphs->find_bitmap(0, &bitmap));
                EXPECT_NE(set.kept_glyphs->get_index(0), 0u);
            }
        }

        EXPECT_EQ(capture.lines, std::vector<std::string>{});
    }
}
