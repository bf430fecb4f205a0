// The preview picture: the text set from the description's numbers, pixel for pixel, with the
// pictures under it; kerning; characters a set lacks; no preview, no change; failures.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/run_test_support.h"
#include "tools/font_generator/output/preview_picture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

const std::string fixtures = OV_TEST_DATA_DIR "/fonts/";
const char* const dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct rgb_picture_t
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // rows from the top

    uint8_t* at(int x, int y) { return &rgb[(size_t(y) * width + x) * 3]; }
    void fill(int x, int y, int w, int h, uint8_t grey)
    {
        for (int r = y; r < y + h; ++r)
            for (int c = x; c < x + w; ++c)
                at(c, r)[0] = at(c, r)[1] = at(c, r)[2] = grey;
    }
};

rgb_picture_t read_png(const std::string& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    rgb_picture_t picture;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
    {
        ADD_FAILURE() << "not a PNG: " << path;
        return picture;
    }
    image.format = PNG_FORMAT_RGB;
    picture.width = int(image.width);
    picture.height = int(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr));
    return picture;
}

// A TGA the run wrote: its size, bytes per pixel and pixels with the rows from the top.
struct tga_picture_t
{
    int width = 0;
    int height = 0;
    int bytes = 0;
    std::vector<uint8_t> pixels;

    const uint8_t* at(int x, int y) const { return &pixels[(size_t(y) * width + x) * bytes]; }
};

tga_picture_t read_tga(const std::string& path)
{
    const std::string file = read_file_bytes(path);
    tga_picture_t picture;
    picture.width = uint8_t(file[12]) | uint8_t(file[13]) << 8;
    picture.height = uint8_t(file[14]) | uint8_t(file[15]) << 8;
    picture.bytes = uint8_t(file[16]) / 8;
    const size_t row = size_t(picture.width) * picture.bytes;
    for (int y = picture.height - 1; y >= 0; --y)  // stored bottom row first
        picture.pixels.insert(picture.pixels.end(), file.begin() + 18 + y * row,
                              file.begin() + 18 + (y + 1) * row);
    if (picture.bytes == 4)  // stored B, G, R, A
        for (size_t i = 0; i < picture.pixels.size(); i += 4)
            std::swap(picture.pixels[i], picture.pixels[i + 2]);
    return picture;
}

// Draws pixel (x, y) of the picture over (to_x, to_y) of the preview.
void blend(rgb_picture_t* preview, int to_x, int to_y, const tga_picture_t& picture, int x, int y)
{
    blend_preview_pixel(picture.at(x, y), uint32_t(picture.bytes), preview->at(to_x, to_y),
                        preview->at(to_x, to_y));
}

// The picture under the lines at (x, y) of the preview, on its squares.
void draw_picture(rgb_picture_t* preview, int x, int y, const tga_picture_t& picture)
{
    for (int r = 0; r < picture.height; ++r)
        for (int c = 0; c < picture.width; ++c)
        {
            const int square = int(preview_square_side);
            preview->fill(x + c, y + r, 1, 1,
                          (c / square + r / square) % 2 ? preview_square_light
                                                        : preview_square_dark);
            blend(preview, x + c, y + r, picture, c, r);
        }
}

// One set from set.chars; `config_extra` goes into the configuration unit.
std::string configuration(const std::string& font, const std::string& config_extra,
                          const std::string& set_extra = "", int pixels = 14)
{
    return one_set_configuration(font, "set.chars", uint32_t(pixels), config_extra, set_extra);
}

struct run_t
{
    process_result_t result;
    std::vector<std::string> files;  // what out/ holds, by name
};

run_t run(const scratch_directory_t& scratch, const std::string& text,
          const std::string& characters)
{
    write_file_bytes(scratch.path("set.chars"), characters);
    write_file_bytes(scratch.path("font.qsd"), text);
    run_t outcome;
    outcome.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    outcome.files = sorted_file_names(scratch.path("out"));
    return outcome;
}

// The shapes fixture's glyphs that the text uses, as its BDF gives them: left bearing, top
// row above the base line, advance and rows.
struct bdf_glyph_t
{
    int left;
    int top;
    int advance;
    std::vector<std::string> rows;
};

const bdf_glyph_t shape_m{ 1, 10, 9, { "#.....#", "##...##", "#.#.#.#", "#..#..#", "#.....#",
                                       "#.....#", "#.....#", "#.....#", "#.....#", "#.....#" } };
const bdf_glyph_t shape_hyphen{ 1, 6, 8, { "######", "######" } };
const bdf_glyph_t shape_exclam{ 1, 10, 4, { "##", "##", "##", "##", "##", "##", "##", "##", "..",
                                            "##" } };

const char* const shapes_characters = "U+0020\nU+0021\nU+002D\nU+004D\n";

TEST(preview_picture, sets_the_text_from_the_fonts_cells_with_the_picture_under_it)
{
    scratch_directory_t scratch;
    std::filesystem::copy_file(fixtures + "shapes.bdf", scratch.path("shapes.bdf"));
    // 'é' and the euro sign are not in the set.
    const run_t outcome = run(
        scratch, configuration("shapes.bdf", "    preview_text: \"M-\xC3\xA9! \xE2\x82\xACM\"\n"),
        shapes_characters);
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.out;
    ASSERT_EQ(outcome.files, (std::vector<std::string>{ "font.font", "font_0.mat", "font_0.tga",
                                                        "font_0.tobj", "font_preview.png" }));

    // One line: the pen starts at the margin, the line's top is the margin, the tallest glyph
    // reaches the top; 35 pixels of pen and a span of 10 rows.
    const tga_picture_t picture = read_tga(scratch.path("out/font_0.tga"));
    const int margin = int(preview_margin);
    rgb_picture_t expected;
    expected.width = std::max(margin + 35 + margin, margin + picture.width + margin);
    expected.height = margin + 10 + margin + picture.height + margin;
    expected.rgb.assign(size_t(expected.width) * expected.height * 3, preview_background);
    int pen = 0;
    const bdf_glyph_t* const line[] = { &shape_m, &shape_hyphen, &shape_exclam, nullptr,
                                        &shape_m };
    for (const bdf_glyph_t* glyph : line)
    {
        if (glyph == nullptr)
        {
            pen += 5;  // the space: no cell
            continue;
        }
        for (size_t r = 0; r < glyph->rows.size(); ++r)
            for (size_t c = 0; c < glyph->rows[r].size(); ++c)
                if (glyph->rows[r][c] == '#')
                    expected.fill(margin + pen + glyph->left + int(c),
                                  margin + 10 - glyph->top + int(r), 1, 1, 255);
        pen += glyph->advance;
    }
    draw_picture(&expected, margin, margin + 10 + margin, picture);

    const rgb_picture_t preview = read_png(scratch.path("out/font_preview.png"));
    ASSERT_EQ(preview.width, expected.width);
    ASSERT_EQ(preview.height, expected.height);
    for (int y = 0; y < preview.height; ++y)
        for (int x = 0; x < preview.width; ++x)
            ASSERT_EQ(0, std::memcmp(preview.rgb.data() + (size_t(y) * preview.width + x) * 3,
                                     expected.at(x, y), 3))
                << "pixel (" << x << ", " << y << ")";
}

TEST(preview_picture, puts_each_set_on_its_own_line_and_its_pictures_side_by_side)
{
    scratch_directory_t scratch;
    std::filesystem::copy_file(fixtures + "shapes.bdf", scratch.path("shapes.bdf"));
    const std::string text = "QsdNunit\n{\n"
                             "configuration : .config {\n"
                             "    base: \"out/\"\n"
                             "    output: \"font\"\n"
                             "    line_spacing: 3\n"
                             "    preview_text: \"M!-\"\n"
                             "    char_config: 2\n"
                             "    char_config[0]: .chars.one\n"
                             "    char_config[1]: .chars.two\n"
                             "}\n"
                             "char_set_config : .chars.one {\n"
                             "    font_file: \"shapes.bdf\"\n"
                             "    character_set_file: \"set.chars\"\n"
                             "    width: 14\n"
                             "    height: 14\n"
                             "}\n"
                             "char_set_config : .chars.two {\n"
                             "    font_file: \"shapes.bdf\"\n"
                             "    character_set_file: \"set.chars\"\n"
                             "    width: 14\n"
                             "    height: 14\n"
                             "}\n}\n";
    const run_t outcome = run(scratch, text, shapes_characters);
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.out;
    const rgb_picture_t preview = read_png(scratch.path("out/font_preview.png"));
    const tga_picture_t picture = read_tga(scratch.path("out/font_0.tga"));

    // Both lines are the same glyphs, 10 + 3 rows apart; then the two pictures.
    const int margin = int(preview_margin);
    const int row_bytes = preview.width * 3;
    for (int y = 0; y < 13; ++y)
        EXPECT_EQ(0, std::memcmp(&preview.rgb[size_t(margin + y) * row_bytes],
                                 &preview.rgb[size_t(margin + 13 + y) * row_bytes], row_bytes))
            << "row " << y;
    rgb_picture_t expected = preview;
    expected.fill(0, margin + 23, expected.width, expected.height - margin - 23,
                  preview_background);
    draw_picture(&expected, margin, margin + 23 + margin, picture);
    draw_picture(&expected, margin + picture.width + margin, margin + 23 + margin, picture);
    EXPECT_EQ(preview.width, margin + 2 * (picture.width + margin));
    EXPECT_EQ(preview.height, margin + 23 + margin + picture.height + margin);
    EXPECT_EQ(preview.rgb, expected.rgb);
}

int kerning_value(const std::string& description, uint32_t first, uint32_t second)
{
    char key[32];
    std::snprintf(key, sizeof key, "\nkern: x%04x, x%04x,", first, second);
    const size_t at = description.find(key);
    return at == std::string::npos ? 0 : std::atoi(description.c_str() + at + std::strlen(key));
}

// One line of an alpha or colour set drawn by the description's numbers with no cell left of
// the pen's start on the `ground` grey, checked against the preview.
uint8_t preview_at(const rgb_picture_t& preview, int x, int y)
{
    return preview.rgb[(size_t(y) * preview.width + x) * 3];
}

void expect_line(const std::string& description, const tga_picture_t& picture,
                 const rgb_picture_t& preview, const std::vector<uint32_t>& codes,
                 uint8_t ground = preview_background)
{
    rgb_picture_t expected = preview;
    const int margin = int(preview_margin);
    const int span = std::atoi(description.c_str() + description.find("vert_span:") + 10);
    expected.fill(0, 0, expected.width, margin + span + margin, ground);
    int pen = 0;
    for (size_t i = 0; i < codes.size(); ++i)
    {
        const std::vector<int> line = glyph_line(description, codes[i]);
        ASSERT_EQ(line.size(), 8u) << "no glyph line for " << codes[i];
        ASSERT_GE(pen + line[4], 0);
        for (int r = 0; r < line[3]; ++r)
            for (int c = 0; c < line[2]; ++c)
                blend(&expected, margin + pen + line[4] + c, margin + line[5] + r, picture,
                      line[0] + c, line[1] + r);
        pen += line[6];
        if (i + 1 < codes.size())
            pen += kerning_value(description, codes[i], codes[i + 1]);
    }
    EXPECT_EQ(preview.rgb, expected.rgb);
}

TEST(preview_picture, moves_a_kerned_glyph_by_the_pairs_value)
{
    scratch_directory_t scratch;
    const run_t outcome =
        run(scratch, configuration(dejavu_sans, "    preview_text: \"AVA\"\n", "", 32),
            "U+0041\nU+0056\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.out;
    const std::string description = read_file_bytes(scratch.path("out/font.font"));
    ASSERT_LT(kerning_value(description, 'A', 'V'), 0);
    ASSERT_LT(kerning_value(description, 'V', 'A'), 0);
    expect_line(description, read_tga(scratch.path("out/font_0.tga")),
                read_png(scratch.path("out/font_preview.png")), { 'A', 'V', 'A' });
}

TEST(preview_picture, draws_colour_pictures_in_their_own_grey_and_alpha)
{
    scratch_directory_t scratch;
    const run_t outcome =
        run(scratch,
            configuration(dejavu_sans, "    font_style: 1\n    gradient_color_start: 200\n"
                                       "    gradient_color_step: -9\n    preview_text: \"Wave\"\n",
                          "    outline_width: 1\n"),
            "U+0057\nU+0061\nU+0076\nU+0065\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.out;
    const std::string description = read_file_bytes(scratch.path("out/font.font"));
    expect_line(description, read_tga(scratch.path("out/font_0.tga")),
                read_png(scratch.path("out/font_preview.png")), { 'W', 'a', 'v', 'e' });
}

TEST(preview_picture, sets_a_distance_field_as_text_with_a_step_one_pixel_wide)
{
    scratch_directory_t scratch;
    const run_t outcome =
        run(scratch,
            configuration(dejavu_sans, "    preview_text: \"o\"\n",
                          "    distance_field: true\n    distance_range: 8\n", 32),
            "U+006F\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.out;
    const std::string description = read_file_bytes(scratch.path("out/font.font"));
    const tga_picture_t field = read_tga(scratch.path("out/font_0.tga"));
    const rgb_picture_t preview = read_png(scratch.path("out/font_preview.png"));
    const std::vector<int> line = glyph_line(description, 'o');
    ASSERT_EQ(line.size(), 8u);
    ASSERT_LT(line[4], 0);  // the padding reaches left of the pen: the line moves right
    const int left = int(preview_margin);
    const int top = int(preview_margin) + line[5];
    // Half a pixel of distance is 255 × 0.5 / 8 ≈ 16 values either side of 127.5: inside that
    // the text is white, outside it the ground, and only the pixels between are in between.
    int edge = 0;
    for (int r = 0; r < line[3]; ++r)
        for (int c = 0; c < line[2]; ++c)
        {
            const uint8_t value = *field.at(line[0] + c, line[1] + r);
            const uint8_t shown = preview_at(preview, left + c, top + r);
            if (value >= 144)
            {
                EXPECT_EQ(shown, 255) << c << ", " << r;
            }
            else if (value <= 111)
            {
                EXPECT_EQ(shown, preview_background) << c << ", " << r;
            }
            else
            {
                edge += shown > preview_background && shown < 255;
            }
        }
    EXPECT_GT(edge, 20);
}

TEST(preview_picture, draws_dark_colour_glyphs_on_a_light_ground)
{
    // The default gradient starts at black: on the dark ground the text would not show.
    scratch_directory_t scratch;
    const run_t outcome =
        run(scratch, configuration(dejavu_sans, "    font_style: 1\n    preview_text: \"Wave\"\n"),
            "U+0057\nU+0061\nU+0076\nU+0065\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.out;
    const std::string description = read_file_bytes(scratch.path("out/font.font"));
    const rgb_picture_t preview = read_png(scratch.path("out/font_preview.png"));
    expect_line(description, read_tga(scratch.path("out/font_0.tga")), preview,
                { 'W', 'a', 'v', 'e' }, preview_light_ground);
    // The text's darkest pixel against the ground, and the picture's squares are light too.
    const int span = std::atoi(description.c_str() + description.find("vert_span:") + 10);
    uint8_t darkest = 255;
    for (int y = 0; y < int(preview_margin) * 2 + span; ++y)
        for (int x = 0; x < preview.width; ++x)
            darkest = std::min(darkest, preview.rgb[3 * (size_t(y) * preview.width + x)]);
    EXPECT_LE(darkest, preview_light_ground - 150);
    const int picture_top = int(preview_margin) * 2 + span;
    const uint8_t square = preview.rgb[3 * (size_t(picture_top) * preview.width + preview_margin)];
    EXPECT_TRUE(square == preview_light_square_dark || square == preview_light_square_light)
        << int(square);
}

TEST(preview_picture, is_written_only_when_asked_and_changes_no_other_byte)
{
    scratch_directory_t plain;
    scratch_directory_t previewed;
    const std::string characters = "U+0041\nU+0056\nU+0061\n";
    const run_t without = run(plain, configuration(dejavu_sans, ""), characters);
    const run_t with =
        run(previewed, configuration(dejavu_sans, "    preview_text: \"AVa\"\n"), characters);
    ASSERT_EQ(without.result.status, 0);
    ASSERT_EQ(with.result.status, 0);
    EXPECT_EQ(without.result.out, with.result.out);
    EXPECT_EQ(without.files,
              (std::vector<std::string>{ "font.font", "font_0.mat", "font_0.tga", "font_0.tobj" }));
    for (const std::string& name : without.files)
        EXPECT_EQ(read_file_bytes(plain.path("out/" + name)),
                  read_file_bytes(previewed.path("out/" + name)))
            << name;
    EXPECT_TRUE(std::filesystem::exists(previewed.path("out/font_preview.png")));
}

TEST(preview_picture, that_cannot_be_written_fails_the_run_after_the_other_files)
{
    scratch_directory_t scratch;
    std::filesystem::create_directories(scratch.path("out/font_preview.png"));
    const run_t outcome = run(scratch, configuration(dejavu_sans, "    preview_text: \"A\"\n"),
                              "U+0041\n");
    EXPECT_EQ(outcome.result.status, 1);
    EXPECT_NE(outcome.result.err.find("[fs] Failed to open file 'out/font_preview.png'"),
              std::string::npos)
        << outcome.result.err;
    EXPECT_NE(outcome.result.err.find("Failed to write the preview picture "
                                      "'out/font_preview.png'."),
              std::string::npos)
        << outcome.result.err;
    EXPECT_EQ(outcome.files, (std::vector<std::string>{ "font.font", "font_0.mat", "font_0.tga",
                                                        "font_0.tobj", "font_preview.png" }));
}

TEST(preview_picture, text_that_is_not_utf8_is_refused_at_load)
{
    scratch_directory_t scratch;
    const run_t outcome =
        run(scratch, configuration(dejavu_sans, "    preview_text: \"AB\xC3\"\n"), "U+0041\n");
    EXPECT_EQ(outcome.result.status, 1);
    EXPECT_NE(outcome.result.err.find("The preview_text in the configuration file 'font.qsd' is "
                                      "not UTF-8: byte 2 starts no character."),
              std::string::npos)
        << outcome.result.err;
    EXPECT_TRUE(outcome.files.empty());
}

}  // namespace
