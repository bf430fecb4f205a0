// Material and texture-object files: the variant of every picture kind, truncation and
// failures.
#include "tools/font_generator/output/material_files.h"

#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tests/tools/font_generator/output_test_support.h"
#include "tools/font_generator/model/font_glyph.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace
{

// A font of one set of the kind whose third picture is "font_2": its files go to `base`.
struct one_set_font_t
{
    one_set_font_t(const std::string& base, picture_kind_t kind, uint32_t outline_width = 0,
                   float distance_range = 4.0f)
        : base_text(base)
    {
        finished_set_t* entry = font.sets.append_new();
        entry->set = &set;
        entry->picture_count = 3;
        entry->pictures.kind = kind;
        entry->pictures.distance_range = distance_range;
        entry->outline_width = outline_width;
        for (uint32_t i = 0; i < 3; ++i)
            font.pictures.append_new()->index = i;
        font.base = base_text.c_str();
        font.output = "font";
        EXPECT_TRUE(finish_font(&font, 2));
    }

    std::string base_text;
    character_set_t set;
    finished_font_t font;
};

}  // namespace

TEST(material_files, name_the_variant_of_the_sets_pictures)
{
    scratch_directory_t scratch;
    std::filesystem::create_directories(scratch.path("art"));
    struct case_t
    {
        picture_kind_t kind;
        uint32_t outline_width;
        const char* material;
        const char* texture_object;
    };
    const char* const data =
        "map 2d font_2.tga\r\naddr clamp_to_edge clamp_to_edge\r\nusage data\r\n";
    const char* const ui = "map 2d font_2.tga\r\naddr clamp_to_edge clamp_to_edge\r\nusage ui\r\n";
    const case_t cases[] = {
        { picture_kind_t::coverage_alpha, 0,
          "material : \"ui.white_font\" {\r\n\ttexture : \"font_2.tobj\"\r\n"
          "\ttexture_name : \"texture\"\r\n}\r\n",
          data },
        { picture_kind_t::coverage_alpha, 2,
          "material : \"ui\" {\r\n\ttexture : \"font_2.tobj\"\r\n"
          "\ttexture_name : \"texture\"\r\n}\r\n",
          ui },
        { picture_kind_t::coverage_colour, 0,
          "material : \"ui\" {\r\n\ttexture : \"font_2.tobj\"\r\n"
          "\ttexture_name : \"texture\"\r\n}\r\n",
          ui },
        { picture_kind_t::distance_field, 0,
          "material : \"ui.distance_field\" {\r\n\ttexture : \"font_2.tobj\"\r\n"
          "\ttexture_name : \"texture\"\r\n\tdistance_range : \"6.5\"\r\n}\r\n",
          data },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(int(c.kind));
        const one_set_font_t font(scratch.path("art/"), c.kind, c.outline_width, 6.5f);
        const std::string material = scratch.path("art/font_2.mat");
        const std::string texture_object = scratch.path("art/font_2.tobj");
        write_file_bytes(material, std::string(500, 'x'));  // an earlier file is truncated
        message_capture_t capture;
        ASSERT_TRUE(write_material_file(font.font, 2));
        ASSERT_TRUE(write_texture_object_file(font.font, 2));
        EXPECT_EQ(read_file_bytes(material), c.material);
        EXPECT_EQ(read_file_bytes(texture_object), c.texture_object);
        EXPECT_EQ(capture.lines, std::vector<std::string>{});
    }
}

TEST(material_files, report_files_that_cannot_be_created_or_written)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("file"), "x");
    const std::string blocked = scratch.path("file/");
    const std::string open_error = "[fs] Failed to open file '" + blocked +
                                   "font_0.%s' in the create_truncate mode.";
    const auto with = [](std::string text, const char* extension)
    { return text.replace(text.find("%s"), 2, extension); };
    {
        const one_set_font_t font(blocked, picture_kind_t::coverage_alpha);
        message_capture_t capture;
        EXPECT_FALSE(write_material_file(font.font, 0));
        EXPECT_FALSE(write_texture_object_file(font.font, 0));
        EXPECT_EQ(capture.lines,
                  (std::vector<std::string>{
                      with(open_error, "mat"), "[fs] Reason: a part of the path is not a folder.",
                      "Unable to create the material file '" + blocked + "font_0.mat'.",
                      with(open_error, "tobj"), "[fs] Reason: a part of the path is not a folder.",
                      "Unable to create the file '" + blocked + "font_0.tobj'." }));
    }
    {
        const std::string base = scratch.path("");
        const one_set_font_t font(base, picture_kind_t::coverage_alpha);
        failing_writes_t disk_full(0);
        message_capture_t capture;
        EXPECT_FALSE(write_material_file(font.font, 0));
        EXPECT_FALSE(write_texture_object_file(font.font, 0));
        EXPECT_EQ(capture.lines,
                  (std::vector<std::string>{
                      "Unable to write the material file '" + base + "font_0.mat'.",
                      "Unable to write the file '" + base + "font_0.tobj'." }));
        EXPECT_FALSE(std::filesystem::exists(base + "font_0.mat"));  // unfinished files do not stay
        EXPECT_FALSE(std::filesystem::exists(base + "font_0.tobj"));
    }
}
