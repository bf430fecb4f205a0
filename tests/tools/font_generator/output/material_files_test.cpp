// Material and texture-object files: both variants of each, truncation and failures.
#include "tools/font_generator/output/material_files.h"

#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tests/tools/font_generator/output_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(material_files, name_the_white_font_variants_or_the_plain_ones)
{
    scratch_directory_t scratch;
    std::filesystem::create_directories(scratch.path("art"));
    struct case_t
    {
        bool white;
        const char* material;
        const char* texture_object;
    };
    const case_t cases[] = {
        { true,
          "material : \"ui.white_font\" {\r\n\ttexture : \"font_2.tobj\"\r\n"
          "\ttexture_name : \"texture\"\r\n}\r\n",
          "map 2d font_2.tga\r\naddr clamp_to_edge clamp_to_edge\r\nusage data\r\n" },
        { false,
          "material : \"ui\" {\r\n\ttexture : \"font_2.tobj\"\r\n"
          "\ttexture_name : \"texture\"\r\n}\r\n",
          "map 2d font_2.tga\r\naddr clamp_to_edge clamp_to_edge\r\nusage ui\r\n" },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.white);
        const std::string material = scratch.path("art/font_2.mat");
        const std::string texture_object = scratch.path("art/font_2.tobj");
        write_file_bytes(material, std::string(500, 'x'));  // an earlier file is truncated
        message_capture_t capture;
        ASSERT_TRUE(write_material_file(material.c_str(), "font_2.tobj", c.white));
        ASSERT_TRUE(write_texture_object_file(texture_object.c_str(), "font_2.tga", c.white));
        EXPECT_EQ(read_file_bytes(material), c.material);
        EXPECT_EQ(read_file_bytes(texture_object), c.texture_object);
        EXPECT_EQ(capture.lines, std::vector<std::string>{});
    }
}

TEST(material_files, report_files_that_cannot_be_created_or_written)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("file"), "x");
    const std::string blocked = scratch.path("file/font_0.mat");
    const std::string path = scratch.path("font_0.mat");
    const std::string open_error =
        "[fs] Failed to open file '" + blocked + "' in the create_truncate mode.";
    {
        message_capture_t capture;
        EXPECT_FALSE(write_material_file(blocked.c_str(), "font_0.tobj", true));
        EXPECT_FALSE(write_texture_object_file(blocked.c_str(), "font_0.tga", true));
        EXPECT_EQ(capture.lines,
                  (std::vector<std::string>{
                      open_error, "Unable to create the material file '" + blocked + "'.",
                      open_error, "Unable to create the file '" + blocked + "'." }));
    }
    {
        failing_writes_t disk_full(0);
        message_capture_t capture;
        EXPECT_FALSE(write_material_file(path.c_str(), "font_0.tobj", true));
        EXPECT_FALSE(write_texture_object_file(path.c_str(), "font_0.tga", true));
        EXPECT_EQ(capture.lines,
                  (std::vector<std::string>{ "Unable to write the material file '" + path + "'.",
                                             "Unable to write the file '" + path + "'." }));
        EXPECT_FALSE(std::filesystem::exists(path));  // an unfinished file does not stay
    }
}
