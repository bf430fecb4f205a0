// TGA pictures: headers of every pixel format, the R/B swap, the untouched buffer and the
// failures of write_picture.
#include "tools/font_generator/output/tga_writer.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/ufs/fs_file.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tests/tools/font_generator/output_test_support.h"
#include "tools/font_generator/model/font_canvas.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace
{

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int value : values)
        out.push_back(char(value));
    return out;
}

class tga_writer_test : public testing::Test
{
protected:
    // Writes the buffer through write_tga into a fresh file; returns the file's bytes.
    std::string encode(const std::string& pixels, uint32_t width, uint32_t height,
                       uint32_t format, bool* result)
    {
        const std::string path = scratch.path("picture.tga");
        auto_ptr_t<file_t> file(fs_device_open(path.c_str(), fs_open_mode_t::create_truncate,
                                               SYSFS));
        EXPECT_TRUE(file);
        *result = write_tga(file.get(),
                            reinterpret_cast<const uint8_t*>(pixels.empty() ? nullptr
                                                                            : pixels.data()),
                            width, height, format);
        file.reset();
        return read_file_bytes(path);
    }

    scratch_directory_t scratch;
};

}  // namespace

TEST(make_tga_header, gives_type_depth_and_descriptor_per_format)
{
    struct case_t
    {
        uint32_t format;
        int type, depth, descriptor;
    };
    const case_t cases[] = {
        { 28, 2, 32, 8 },  { 29, 2, 32, 8 },  { 65, 3, 8, 0 },    { 87, 2, 32, 8 },
        { 91, 2, 32, 8 },  { 200, 2, 24, 0 }, { 201, 2, 24, 0 }, { 202, 2, 24, 0 },
        { 203, 2, 24, 0 },
    };
    for (const case_t& c : cases)
    {
        uint8_t header[tga_header_size];
        ASSERT_TRUE(make_tga_header(c.format, 0x12345, 0x20, header)) << c.format;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 18),
                  bytes({ 0, 0, c.type, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x45, 0x23, 0x20, 0, c.depth,
                          c.descriptor }))
            << c.format;
    }
    for (uint32_t refused : { 0u, 27u, 30u, 66u, 199u, 204u })
    {
        uint8_t header[tga_header_size];
        EXPECT_FALSE(make_tga_header(refused, 1, 1, header)) << refused;
    }
}

TEST_F(tga_writer_test, swaps_red_and_blue_in_the_file_only)
{
    struct case_t
    {
        uint32_t format;
        std::string pixel;
        std::string written;
    };
    const case_t cases[] = {
        { 28, bytes({ 10, 20, 30, 40 }), bytes({ 30, 20, 10, 40 }) },
        { 29, bytes({ 10, 20, 30, 40 }), bytes({ 30, 20, 10, 40 }) },
        { 87, bytes({ 10, 20, 30, 40 }), bytes({ 10, 20, 30, 40 }) },
        { 91, bytes({ 10, 20, 30, 40 }), bytes({ 10, 20, 30, 40 }) },
        { 200, bytes({ 10, 20, 30 }), bytes({ 30, 20, 10 }) },
        { 202, bytes({ 10, 20, 30 }), bytes({ 30, 20, 10 }) },
        { 201, bytes({ 10, 20, 30 }), bytes({ 10, 20, 30 }) },
        { 203, bytes({ 10, 20, 30 }), bytes({ 10, 20, 30 }) },
        { 65, bytes({ 10 }), bytes({ 10 }) },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.format);
        const std::string pixels = c.pixel + c.pixel;
        const std::string before = pixels;
        bool result = false;
        const std::string file = encode(pixels, 2, 1, c.format, &result);
        EXPECT_TRUE(result);
        EXPECT_EQ(file.substr(18), c.written + c.written);
        EXPECT_EQ(pixels, before);
    }
}

TEST_F(tga_writer_test, swaps_pixels_across_its_internal_chunks)
{
    std::string pixels = pattern_bytes(1024 * 1000 * 4, 3);
    const std::string before = pixels;
    bool result = false;
    const std::string file = encode(pixels, 1024, 1000, 28, &result);
    ASSERT_TRUE(result);
    ASSERT_EQ(file.size(), 18 + pixels.size());
    std::string expected = pixels;
    for (std::size_t i = 0; i < expected.size(); i += 4)
        std::swap(expected[i], expected[i + 2]);
    EXPECT_TRUE(file.compare(18, std::string::npos, expected) == 0);
    EXPECT_EQ(pixels, before);
}

TEST_F(tga_writer_test, writes_nothing_for_an_unknown_format)
{
    bool result = true;
    EXPECT_EQ(encode(bytes({ 1, 2, 3, 4 }), 1, 1, 66, &result), "");
    EXPECT_FALSE(result);
}

TEST_F(tga_writer_test, needs_a_buffer_only_when_there_are_pixels)
{
    bool result = false;
    EXPECT_EQ(encode("", 0, 5, 28, &result).size(), 18u);
    EXPECT_TRUE(result);
    EXPECT_EQ(encode("", 2, 2, 28, &result).size(), 18u);
    EXPECT_FALSE(result);
}

TEST_F(tga_writer_test, writes_canvases_as_grey_or_colour_pictures)
{
    struct case_t
    {
        uint32_t style, width, height;
        std::string header;
    };
    const case_t cases[] = {
        { 0, 32, 32, bytes({ 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 32, 0, 8, 0 }) },
        { 1, 64, 128, bytes({ 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 128, 0, 32, 8 }) },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.style);
        auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ c.style, 0, 0, 0 });
        ASSERT_TRUE(canvas->resize_and_clear(c.width, c.height));
        canvas->pixels[0] = 7;  // the bottom row comes first in the file
        const std::string path = scratch.path("sub/dir/picture.tga");
        ASSERT_TRUE(write_picture(*canvas, path.c_str()));
        const std::string file = read_file_bytes(path);
        ASSERT_EQ(file.size(), 18 + canvas->used_bytes());
        EXPECT_EQ(file.substr(0, 18), c.header);
        EXPECT_EQ(file[18 + (c.style == 0 ? 0 : 2)], 7);
    }
}

TEST_F(tga_writer_test, reports_a_picture_that_cannot_be_created_or_written)
{
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 0, 0, 0, 0 });
    ASSERT_TRUE(canvas->resize_and_clear(32, 32));
    write_file_bytes(scratch.path("file"), "x");
    const std::string blocked = scratch.path("file/picture.tga");  // its parent is a file
    {
        message_capture_t capture;
        EXPECT_FALSE(write_picture(*canvas, blocked.c_str()));
        EXPECT_EQ(capture.lines,
                  (std::vector<std::string>{
                      "[fs] Failed to open file '" + blocked + "' in the create_truncate mode.",
                      "[fs] Reason: a part of the path is not a folder.",
                      "Failed to create the font picture '" + blocked + "'." }));
    }
    // A small picture goes out in one write; a large one as header, then pixels.
    auto_ptr_t<font_canvas_t> large = create_font_canvas(canvas_style_t{ 0, 0, 0, 0 });
    ASSERT_TRUE(large->resize_and_clear(2048, 1024));
    const std::pair<const font_canvas_t*, uint32_t> failures[] = {
        { canvas.get(), 0 }, { large.get(), 0 }, { large.get(), 1 } };
    for (const auto& [picture, failing] : failures)
    {
        const std::string path = scratch.path("full.tga");
        failing_writes_t disk_full(failing);
        message_capture_t capture;
        EXPECT_FALSE(write_picture(*picture, path.c_str()));
        EXPECT_EQ(capture.lines,
                  std::vector<std::string>{ "Failed to write the font picture '" + path + "'." });
        EXPECT_FALSE(std::filesystem::exists(path));  // an unfinished file does not stay
    }
}
