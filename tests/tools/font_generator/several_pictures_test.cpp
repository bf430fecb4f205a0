// Several pictures per set and the picture-size limit: cells inside their pictures and apart,
// glyphs drawn where their lines say, numbering over the run, today's bytes for a set that fits,
// bad limits refused.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const std::string fixtures = OV_TEST_DATA_DIR "/fonts/";

// Glyph i of the generated font: its size and whether pixel (r, c) is set.
int glyph_width(int i) { return 5 + i * 7 % 8; }
int glyph_height(int i) { return 6 + i * 5 % 9; }
bool glyph_pixel(int i, int r, int c) { return (r * 3 + c * 5 + i) % 4 != 0; }

constexpr int first_code = 0x100;

// A BDF font of `count` glyphs from U+0100 with those bitmaps, each standing on the base line.
std::string generated_font(int count)
{
    std::ostringstream out;
    out << "STARTFONT 2.1\nFONT -fixture-generated-medium-r-normal--14-140-75-75-c-80-iso10646-1\n"
           "SIZE 14 75 75\nFONTBOUNDINGBOX 12 14 0 0\nSTARTPROPERTIES 2\nFONT_ASCENT 14\n"
           "FONT_DESCENT 0\nENDPROPERTIES\nCHARS "
        << count << "\n";
    for (int i = 0; i < count; ++i)
    {
        const int width = glyph_width(i);
        const int height = glyph_height(i);
        out << "STARTCHAR g" << i << "\nENCODING " << first_code + i << "\nSWIDTH 500 0\nDWIDTH "
            << width + 1 << " 0\nBBX " << width << " " << height << " 0 0\nBITMAP\n";
        for (int r = 0; r < height; ++r)
        {
            unsigned bits = 0;
            for (int c = 0; c < width; ++c)
                bits |= unsigned(glyph_pixel(i, r, c)) << (15 - c);
            char row[8];
            std::snprintf(row, sizeof row, "%04X\n", bits);
            out << row;
        }
        out << "ENDCHAR\n";
    }
    out << "ENDFONT\n";
    return out.str();
}

std::string characters(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
    {
        char line[16];
        std::snprintf(line, sizeof line, "U+%04X\n", first_code + i);
        text += line;
    }
    return text;
}

// The generated set, then with `second` the shapes fixture as a second set.
std::string configuration(const std::string& set_extra, bool second = false)
{
    std::string text = "QsdNunit\n{\n"
                       "configuration : .config {\n"
                       "    base: \"out/\"\n"
                       "    output: \"font\"\n"
                       "    char_config[0]: .chars.generated\n";
    if (second)
        text += "    char_config[1]: .chars.shapes\n";
    text += "}\n"
            "char_set_config : .chars.generated {\n"
            "    font_file: \"generated.bdf\"\n"
            "    character_set_file: \"generated.chars\"\n"
            "    width: 14\n"
            "    height: 14\n" +
            set_extra + "}\n";
    if (second)
        text += "char_set_config : .chars.shapes {\n"
                "    font_file: \"" + fixtures + "shapes.bdf\"\n"
                "    character_set_file: \"" OV_TEST_DATA_DIR "/configurations/shapes.chars\"\n"
                "    width: 14\n"
                "    height: 14\n"
                "}\n";
    return text + "}\n";
}

struct run_t
{
    process_result_t result;
    std::vector<std::string> files;  // what out/ holds, by name, sorted
};

run_t run(const scratch_directory_t& scratch, const std::string& text, int count)
{
    write_file_bytes(scratch.path("generated.bdf"), generated_font(count));
    write_file_bytes(scratch.path("generated.chars"), characters(count));
    write_file_bytes(scratch.path("font.qsd"), text);
    run_t outcome;
    outcome.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    outcome.files = sorted_file_names(scratch.path("out"));
    return outcome;
}

struct image_line_t
{
    std::string material;
    int width;
    int height;
};

std::vector<image_line_t> image_lines(const std::string& description)
{
    std::vector<image_line_t> images;
    std::istringstream in(description);
    std::string line;
    while (std::getline(in, line))
    {
        char name[64];
        image_line_t image{};
        if (std::sscanf(line.c_str(), "image:%63[^,], %d, %d", name, &image.width,
                        &image.height) == 3)
        {
            image.material = name;
            images.push_back(image);
        }
    }
    return images;
}

struct glyph_line_t
{
    unsigned code;
    int x, y, width, height, left, top, advance, picture;
};

std::vector<glyph_line_t> glyph_lines(const std::string& description)
{
    std::vector<glyph_line_t> lines;
    std::istringstream in(description);
    std::string line;
    while (std::getline(in, line))
    {
        glyph_line_t glyph{};
        if (std::sscanf(line.c_str(), "x%x, %d, %d, %d, %d, %d, %d, %d, %d", &glyph.code, &glyph.x,
                        &glyph.y, &glyph.width, &glyph.height, &glyph.left, &glyph.top,
                        &glyph.advance, &glyph.picture) == 9)
            lines.push_back(glyph);
    }
    return lines;
}

// Pixel (x, y) of an alpha TGA, row 0 the top row.
uint8_t tga_pixel(const std::string& tga, int x, int y)
{
    const int width = uint8_t(tga[12]) | uint8_t(tga[13]) << 8;
    const int height = uint8_t(tga[14]) | uint8_t(tga[15]) << 8;
    return uint8_t(tga[18 + size_t(height - 1 - y) * width + x]);
}

TEST(several_pictures, a_set_too_large_for_one_picture_fills_several_each_glyph_where_its_line_says)
{
    constexpr int count = 70;
    scratch_directory_t scratch;
    const run_t outcome =
        run(scratch, configuration("    max_picture_size: 64\n    several_pictures: true\n", true),
            count);
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    EXPECT_EQ(outcome.files,
              (std::vector<std::string>{ "font.font", "font_0.mat", "font_0.tga", "font_0.tobj",
                                         "font_1.mat", "font_1.tga", "font_1.tobj", "font_2.mat",
                                         "font_2.tga", "font_2.tobj", "font_3.mat", "font_3.tga",
                                         "font_3.tobj" }));
    const std::string description = read_file_bytes(scratch.path("out/font.font"));

    // Two full pictures, then the smallest size that takes the rest; the shapes set after them.
    const std::vector<image_line_t> images = image_lines(description);
    ASSERT_EQ(images.size(), 4u);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(images[k].material, "font_" + std::to_string(k) + ".mat");
    EXPECT_EQ(images[0].width, 64);
    EXPECT_EQ(images[0].height, 64);
    EXPECT_EQ(images[1].width, 64);
    EXPECT_EQ(images[1].height, 64);
    EXPECT_EQ(images[2].width, 32);
    EXPECT_EQ(images[2].height, 32);

    std::vector<std::string> pictures;
    for (int k = 0; k < 3; ++k)
        pictures.push_back(read_file_bytes(scratch.path("out/font_" + std::to_string(k) + ".tga")));
    const std::vector<glyph_line_t> lines = glyph_lines(description);
    std::vector<std::vector<int>> owner(3);  // per picture, which glyph covers each pixel
    for (int k = 0; k < 3; ++k)
        owner[k].assign(size_t(images[k].width) * images[k].height, -1);
    int generated = 0;
    for (const glyph_line_t& line : lines)
    {
        if (line.code < unsigned(first_code))
        {
            EXPECT_EQ(line.picture, 3) << std::hex << line.code;  // the shapes set
            continue;
        }
        const int i = int(line.code) - first_code;
        ++generated;
        ASSERT_GE(line.picture, 0);
        ASSERT_LT(line.picture, 3);
        const image_line_t& image = images[line.picture];
        ASSERT_EQ(line.width, glyph_width(i));
        ASSERT_EQ(line.height, glyph_height(i));
        ASSERT_TRUE(line.x >= 1 && line.y >= 1 && line.x + line.width < image.width &&
                    line.y + line.height < image.height)
            << "glyph " << i << " leaves picture " << line.picture;
        for (int r = 0; r < line.height; ++r)
            for (int c = 0; c < line.width; ++c)
            {
                int& covered = owner[line.picture][size_t(line.y + r) * image.width + line.x + c];
                ASSERT_EQ(covered, -1) << "glyphs " << covered << " and " << i << " overlap";
                covered = i;
                EXPECT_EQ(tga_pixel(pictures[line.picture], line.x + c, line.y + r),
                          glyph_pixel(i, r, c) ? 255 : 0)
                    << "glyph " << i << " pixel (" << c << ", " << r << ")";
            }
    }
    EXPECT_EQ(generated, count);
}

TEST(several_pictures, a_set_that_fits_one_picture_keeps_todays_bytes)
{
    constexpr int count = 70;
    const std::vector<std::string> settings = {
        "    several_pictures: true\n",
        "    max_picture_size: 8192\n    several_pictures: true\n",
        "    max_picture_size: 128\n    several_pictures: true\n",
        "    max_picture_size: 128\n",
    };
    scratch_directory_t today;
    const run_t plain = run(today, configuration("", true), count);
    ASSERT_EQ(plain.result.status, 0) << plain.result.err;
    ASSERT_EQ(plain.files.size(), 7u);
    for (const std::string& setting : settings)
    {
        scratch_directory_t scratch;
        const run_t outcome = run(scratch, configuration(setting, true), count);
        EXPECT_EQ(outcome.result.status, 0) << setting << outcome.result.err;
        EXPECT_EQ(outcome.result.err, plain.result.err) << setting;
        ASSERT_EQ(outcome.files, plain.files) << setting;
        for (const std::string& name : plain.files)
            EXPECT_EQ(read_file_bytes(scratch.path("out/" + name)),
                      read_file_bytes(today.path("out/" + name)))
                << setting << name;
    }
}

TEST(several_pictures, a_limit_that_is_not_a_power_of_two_from_32_to_8192_is_refused_at_load)
{
    for (const char* size : { "0", "16", "100", "16384", "4294967295" })
    {
        scratch_directory_t scratch;
        const run_t outcome =
            run(scratch, configuration(std::string("    max_picture_size: ") + size + "\n"), 4);
        EXPECT_EQ(outcome.result.status, 1) << size;
        EXPECT_NE(outcome.result.err.find(std::string("The max_picture_size ") + size +
                                          " of the element 0 of 'char_config' in the "
                                          "configuration file 'font.qsd' is not a power of two "
                                          "from 32 to 8192."),
                  std::string::npos)
            << outcome.result.err;
        EXPECT_TRUE(outcome.files.empty()) << size;
    }
}

TEST(several_pictures, without_them_a_set_over_the_limit_fails_naming_the_limit)
{
    scratch_directory_t scratch;
    const run_t outcome = run(scratch, configuration("    max_picture_size: 64\n"), 70);
    EXPECT_EQ(outcome.result.status, 1);
    EXPECT_NE(outcome.result.err.find("The requested glyphs could not be rasterized onto canvas "
                                      "up to size 64 x 64 pixels."),
              std::string::npos)
        << outcome.result.err;
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out/font.font")));
}

TEST(several_pictures, a_glyph_larger_than_a_picture_fails_even_with_them)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("m.chars"), "U+0041\nU+004D\n");
    write_file_bytes(scratch.path("font.qsd"),
                     "QsdNunit\n{\nconfiguration : .config {\n    base: \"out/\"\n"
                     "    char_config[0]: .chars.m\n}\n"
                     "char_set_config : .chars.m {\n"
                     "    font_file: \"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf\"\n"
                     "    character_set_file: \"m.chars\"\n"
                     "    width: 64\n    height: 64\n"
                     "    max_picture_size: 32\n    several_pictures: true\n}\n}\n");
    const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("The requested glyphs could not be rasterized onto canvas up to size "
                              "32 x 32 pixels."),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out")));
}

}  // namespace
