// Room around glyphs, whole runs: padding inside every cell with ink and spacing between cells,
// each run compared with the same run without them (cells, figures, pixels, the export's line).
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/export/bmfont_readers.h"
#include "tests/tools/font_generator/run_test_support.h"
#include "tests/tools/font_generator/stored_outputs_support.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A TGA picture's pixels, row 0 the top row.
struct picture_t
{
    unsigned width = 0;
    unsigned height = 0;
    unsigned bytes = 1;
    std::string stored;  // bottom row first, as the file has them

    std::string pixel(long long x, long long y) const
    {
        return stored.substr((size_t(height - 1 - y) * width + size_t(x)) * bytes, bytes);
    }
};

picture_t read_picture(const std::string& path)
{
    const std::string tga = read_file_bytes(path);
    picture_t picture;
    if (tga.size() < 18)
    {
        ADD_FAILURE() << path;
        return picture;
    }
    const auto byte = [&](size_t at) { return unsigned(static_cast<unsigned char>(tga[at])); };
    picture.width = byte(12) | byte(13) << 8;
    picture.height = byte(14) | byte(15) << 8;
    picture.bytes = byte(16) / 8;
    picture.stored = tga.substr(18);
    return picture;
}

struct run_t
{
    process_result_t result;
    description_t description;
    std::vector<picture_t> pictures;
};

run_t run_in(const scratch_directory_t& scratch)
{
    run_t run;
    run.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    run.description = read_description(read_file_bytes(scratch.path("out/font.font")));
    for (size_t i = 0; i < run.description.images.size(); ++i)
        run.pictures.push_back(
            read_picture(scratch.path("out/font_" + std::to_string(i) + ".tga")));
    return run;
}

bool is_empty_pixel(const std::string& pixel)
{
    return pixel.back() == '\0';  // alpha 0
}

// Every cell of a padded run against the same glyph's cell without padding: with ink it is p
// pixels larger on every side, the same pixels inside and empty around them, T and A as they
// were; without ink it is as it was. Cells keep `spacing` free pixels between each other and to
// the pictures' borders, the first shelf starting at (spacing, spacing).
void expect_room(const run_t& plain, const run_t& padded, long long padding, long long spacing)
{
    ASSERT_EQ(plain.description.glyphs.size(), padded.description.glyphs.size());
    EXPECT_EQ(padded.description.max_top, plain.description.max_top + padding);
    EXPECT_EQ(padded.description.vertical_span, plain.description.vertical_span + 2 * padding);
    long long first_x = LLONG_MAX;
    long long first_y = LLONG_MAX;
    const std::vector<std::vector<long long>>& cells = padded.description.glyphs;
    for (size_t i = 0; i < cells.size(); ++i)
    {
        const std::vector<long long>& g = plain.description.glyphs[i];
        const std::vector<long long>& q = cells[i];
        SCOPED_TRACE("glyph " + std::to_string(i) + " U+" + std::to_string(g[0]));
        ASSERT_EQ(q[0], g[0]);
        EXPECT_EQ(q[7], g[7]);  // the advance
        const picture_t& before = plain.pictures[size_t(g[8])];
        const picture_t& after = padded.pictures[size_t(q[8])];
        bool ink = false;
        for (long long y = 0; y < g[4] && !ink; ++y)
            for (long long x = 0; x < g[3] && !ink; ++x)
                ink = !is_empty_pixel(before.pixel(g[1] + x, g[2] + y));
        const long long p = ink ? padding : 0;
        EXPECT_EQ(q[3], g[3] + 2 * p);
        EXPECT_EQ(q[4], g[4] + 2 * p);
        EXPECT_EQ(q[5], g[5] - p);
        // The top line moved up with the padding: a padded cell's top with it.
        EXPECT_EQ(q[6], g[6] + padding - p);
        if (q[3] != g[3] + 2 * p || q[4] != g[4] + 2 * p)
            continue;
        for (long long y = 0; y < q[4]; ++y)
            for (long long x = 0; x < q[3]; ++x)
            {
                const bool inside = x >= p && y >= p && x < p + g[3] && y < p + g[4];
                const std::string pixel = after.pixel(q[1] + x, q[2] + y);
                if (inside)
                    ASSERT_EQ(pixel, before.pixel(g[1] + x - p, g[2] + y - p)) << x << ", " << y;
                else
                    ASSERT_EQ(pixel, std::string(pixel.size(), '\0')) << x << ", " << y;
            }
        if (q[3] == 0 || q[4] == 0)
            continue;
        first_x = std::min(first_x, q[1]);
        first_y = std::min(first_y, q[2]);
        EXPECT_GE(q[1], spacing);
        EXPECT_GE(q[2], spacing);
        EXPECT_LE(q[1] + q[3] + spacing, after.width);
        EXPECT_LE(q[2] + q[4] + spacing, after.height);
        for (size_t j = 0; j < i; ++j)
        {
            const std::vector<long long>& o = cells[j];
            if (o[8] != q[8] || o[3] == 0 || o[4] == 0)
                continue;
            EXPECT_FALSE(q[1] < o[1] + o[3] + spacing && o[1] < q[1] + q[3] + spacing &&
                         q[2] < o[2] + o[4] + spacing && o[2] < q[2] + q[4] + spacing)
                << "too close to glyph " << j;
        }
    }
    EXPECT_EQ(first_x, spacing);
    EXPECT_EQ(first_y, spacing);
}

std::string room(long long padding, long long spacing)
{
    return "    glyph_padding: " + std::to_string(padding) + "\n    glyph_spacing: " +
           std::to_string(spacing) + "\n";
}

}  // namespace

TEST(glyph_room, named_at_their_defaults_they_give_the_stored_outputs)
{
    for (const stored_style_t& c : stored_styles)
    {
        SCOPED_TRACE(c.name);
        scratch_directory_t scratch;
        write_stored_run(scratch, c.style, "", room(0, 1));
        const run_t run = run_in(scratch);
        const std::string stored = OV_TEST_DATA_DIR "/expected/" + std::string(c.name) + "/";
        for (const std::string& name : sorted_file_names(stored))
            EXPECT_TRUE(read_file_bytes(scratch.path("out/" + name)) ==
                        read_file_bytes(stored + name))
                << name;
    }
}

TEST(glyph_room, pads_cells_with_ink_and_spaces_cells_apart)
{
    // Bitmap fonts with an outline margin in both picture styles; antialiased and monochrome
    // outlines; a distance field, whose values go on into the padding (0 there at this range).
    struct case_t
    {
        const char* name;
        const stored_style_t* stored;  // else DejaVu Sans with `set`
        std::string set;
        long long padding;
        long long spacing;
    };
    const std::string latin = "    character_ranges[0]: \"U+0020-U+007E\"\n";
    const case_t cases[] = {
        { "alpha and outline", &stored_styles[0], "", 2, 3 },
        { "colour gradient", &stored_styles[1], "", 1, 0 },
        { "antialiased", nullptr, latin, 3, 2 },
        { "monochrome", nullptr, latin + "    antialias: false\n", 1, 1 },
        { "distance field", nullptr, latin + "    distance_field: true\n", 2, 4 },
        { "several pictures", nullptr, latin + "    max_picture_size: 64\n"
                                               "    several_pictures: true\n", 4, 5 },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.name);
        run_t runs[2];
        for (int padded = 0; padded < 2; ++padded)
        {
            scratch_directory_t scratch;
            const std::string extra = padded ? room(c.padding, c.spacing) : "";
            if (c.stored != nullptr)
                write_stored_run(scratch, c.stored->style, "", extra);
            else
                write_file_bytes(scratch.path("font.qsd"),
                                 one_set_configuration(dejavu_sans, "", 16, "", c.set + extra));
            runs[padded] = run_in(scratch);
            EXPECT_EQ(runs[padded].result.err, runs[0].result.err);
        }
        expect_room(runs[0], runs[1], c.padding, c.spacing);
    }
}

TEST(glyph_room, the_export_states_the_unpadded_line)
{
    // lineHeight, base and each yoffset as without padding; the cells are the padded ones, and
    // the pages show what the pictures show.
    const long long padding = 3;
    const long long spacing = 2;
    read_font_t fonts[2];
    description_t descriptions[2];
    for (int padded = 0; padded < 2; ++padded)
    {
        scratch_directory_t scratch;
        write_file_bytes(scratch.path("font.qsd"),
                         one_set_configuration(dejavu_sans, "", 20,
                                               "    export_formats[0]: \"bmfont_text\"\n"
                                               "    export_formats[1]: \"bmfont_binary\"\n",
                                               "    character_ranges[0]: \"U+0020-U+007E\"\n" +
                                                   (padded ? room(padding, spacing) : "")));
        const run_t run = run_in(scratch);
        descriptions[padded] = run.description;
        fonts[padded] = read_text_flavour(read_file_bytes(scratch.path("out/font-0.fnt")));
        EXPECT_EQ(read_binary_flavour(read_file_bytes(scratch.path("out/font-0.bin"))).chars,
                  fonts[padded].chars);
        png_image image;
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(
            png_image_begin_read_from_file(&image, scratch.path("out/font-0_0.png").c_str()));
        image.format = PNG_FORMAT_GA;
        std::vector<unsigned char> page(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, page.data(), 0, nullptr));
        for (unsigned y = 0; y < image.height; ++y)
            for (unsigned x = 0; x < image.width; ++x)
                ASSERT_EQ(std::string(1, char(page[(y * image.width + x) * 2 + 1])),
                          run.pictures[0].pixel(x, y))
                    << x << ", " << y;
    }
    const read_font_t& plain = fonts[0];
    const read_font_t& font = fonts[1];
    EXPECT_EQ(plain.info.at("padding"), "0,0,0,0");
    EXPECT_EQ(plain.info.at("spacing"), "1,1");
    EXPECT_EQ(font.info.at("padding"), "3,3,3,3");
    EXPECT_EQ(font.info.at("spacing"), "2,2");
    EXPECT_EQ(font.common.at("lineHeight"), plain.common.at("lineHeight"));
    EXPECT_EQ(font.common.at("base"), plain.common.at("base"));
    EXPECT_EQ(std::stoll(font.common.at("lineHeight")),
              descriptions[1].vertical_span + descriptions[1].line_spacing - 2 * padding);
    ASSERT_EQ(font.chars.size(), descriptions[1].glyphs.size());
    for (size_t i = 0; i < font.chars.size(); ++i)
    {
        const std::vector<long long>& line = descriptions[1].glyphs[i];
        const std::map<std::string, long long>& entry = font.chars[i];
        const bool padded = entry.at("width") > plain.chars[i].at("width");
        EXPECT_EQ(entry.at("x"), line[1]);
        EXPECT_EQ(entry.at("y"), line[2]);
        EXPECT_EQ(entry.at("width"), line[3]);
        EXPECT_EQ(entry.at("xoffset"), line[5]);
        EXPECT_EQ(entry.at("yoffset"), line[6] - padding);
        // The ink lands where the unpadded line puts it.
        EXPECT_EQ(entry.at("yoffset") + (padded ? padding : 0), plain.chars[i].at("yoffset"));
        EXPECT_EQ(entry.at("xadvance"), plain.chars[i].at("xadvance"));
    }
}

TEST(glyph_room, more_than_64_pixels_is_refused_at_load)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("font.qsd"),
                     one_set_configuration(dejavu_sans, "", 16, "",
                                           "    character_ranges[0]: \"U+0041\"\n" +
                                               room(65, 100)));
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "*** ERROR *** : The glyph_padding 65 of the element 0 of 'char_config' in the "
              "configuration file 'font.qsd' is more than 64 pixels.\r\n"
              "*** ERROR *** : The glyph_spacing 100 of the element 0 of 'char_config' in the "
              "configuration file 'font.qsd' is more than 64 pixels.\r\n"
              "*** ERROR *** : Failed to read the configuration file 'font.qsd'.\r\n");
    EXPECT_TRUE(sorted_file_names(scratch.path("out")).empty());
}
