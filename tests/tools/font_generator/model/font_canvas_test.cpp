// The font canvas: pixel layout, style conversion, clearing, and a block of its picture's size.
#include "tools/font_generator/model/font_canvas.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/sys_pages.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

struct pixel_case_t
{
    uint32_t font_style, width, height, x, y;
    std::size_t offset;
};

const pixel_case_t pixel_cases[] = {
    { 0, 32, 32, 0, 0, 992 },    // top-left pixel: row 31 from the start
    { 0, 32, 32, 0, 31, 0 },     // bottom-left pixel comes first
    { 0, 32, 32, 31, 0, 1023 },
    { 1, 32, 32, 0, 0, 3968 },   // four bytes per pixel: bytes 3968 to 3971
    { 1, 64, 128, 63, 0, 32764 },
    { 2, 32, 32, 0, 0, 3968 },   // any style but 0 is four bytes per pixel
};

// Counts what the canvas asks of the system and can refuse it.
struct counting_pages_t
{
    static inline int reserved = 0;
    static inline int released = 0;
    static inline std::size_t last_size = 0;
    static inline bool refuse = false;

    static void* reserve(std::size_t bytes)
    {
        last_size = bytes;
        if (refuse)
            return nullptr;
        ++reserved;
        return sys_pages_posix.reserve_zeroed(bytes);
    }
    static void release(void* block, std::size_t bytes)
    {
        ++released;
        EXPECT_EQ(bytes, last_size);
        sys_pages_posix.release(block, bytes);
    }
};

const sys_pages_api_t counting_pages = { counting_pages_t::reserve, counting_pages_t::release,
                                          sys_pages_posix.advise_large_pages,
                                          sys_pages_posix.commit };

class swapped_pages_t
{
public:
    swapped_pages_t()
    {
        counting_pages_t::reserved = counting_pages_t::released = 0;
        counting_pages_t::refuse = false;
        sys_pages = &counting_pages;
    }
    ~swapped_pages_t() { sys_pages = &sys_pages_posix; }
};

}  // namespace

TEST(font_canvas, addresses_pixels_bottom_row_first)
{
    for (const pixel_case_t& c : pixel_cases)
    {
        SCOPED_TRACE(testing::Message() << c.font_style << ": " << c.width << "x" << c.height
                                        << " (" << c.x << ", " << c.y << ")");
        auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ c.font_style, 0, 0, 0 });
        ASSERT_TRUE(canvas);
        ASSERT_TRUE(canvas->resize_and_clear(c.width, c.height));
        EXPECT_EQ(canvas->pixel_offset(c.x, c.y), c.offset);
    }
}

TEST(font_canvas, starts_at_32_by_32_with_gradients_in_255ths)
{
    struct gradient_case_t { int32_t start, step; float canvas_start, canvas_step; };
    const gradient_case_t cases[] = {
        { 255, -255, 255.0f * 0.003921569f, -255.0f * 0.003921569f },
        { 0, 51, 0.0f, 51.0f * 0.003921569f },
    };
    for (const gradient_case_t& c : cases)
    {
        auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 1, c.start, c.step, -7 });
        ASSERT_TRUE(canvas);
        EXPECT_EQ(canvas->width, 32u);
        EXPECT_EQ(canvas->height, 32u);
        EXPECT_EQ(canvas->font_style, 1u);
        EXPECT_EQ(canvas->gradient_start, c.canvas_start);
        EXPECT_EQ(canvas->gradient_step, c.canvas_step);
        EXPECT_EQ(canvas->gradient_start_offset, -7);
    }
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 0, 255, -255, 0 });
    EXPECT_FLOAT_EQ(canvas->gradient_start, 1.0f);
    EXPECT_FLOAT_EQ(canvas->gradient_step, -1.0f);
}

TEST(font_canvas, clears_exactly_the_bytes_the_size_uses)
{
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 1, 0, 0, 0 });
    ASSERT_TRUE(canvas);
    ASSERT_TRUE(canvas->resize_and_clear(64, 64));
    std::memset(canvas->pixels, 0xAB, canvas->used_bytes());
    ASSERT_TRUE(canvas->resize_and_clear(32, 64));  // smaller: the same block
    EXPECT_EQ(canvas->used_bytes(), 32u * 64u * 4u);
    for (std::size_t i = 0; i < canvas->used_bytes(); ++i)
        ASSERT_EQ(canvas->pixels[i], 0) << i;
    EXPECT_EQ(canvas->pixels[canvas->used_bytes()], 0xAB);
    // Back to the larger size: what it wrote before is cleared too.
    ASSERT_TRUE(canvas->resize_and_clear(64, 64));
    for (std::size_t i = 0; i < canvas->used_bytes(); ++i)
        ASSERT_EQ(canvas->pixels[i], 0) << i;
}

TEST(font_canvas, reserves_only_the_bytes_of_its_picture)
{
    swapped_pages_t swap;
    struct size_case_t
    {
        uint32_t font_style, width, height;
        std::size_t block;
        int from_pages;  // large blocks come from zero pages, small ones from the heap
    };
    const size_case_t cases[] = {
        { 0, 32, 32, 1024, 0 },
        { 0, 64, 64, 4096, 0 },
        { 1, 128, 128, 65536, 1 },
        { 0, 4096, 8192, std::size_t(32) << 20, 1 },
    };
    for (const size_case_t& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        counting_pages_t::reserved = counting_pages_t::released = 0;
        {
            auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ c.font_style, 0, 0, 0 });
            ASSERT_TRUE(canvas);
            ASSERT_TRUE(canvas->resize_and_clear(c.width, c.height));
            EXPECT_EQ(canvas->block_bytes, c.block);
            EXPECT_EQ(counting_pages_t::reserved, c.from_pages);
            if (c.from_pages != 0)
            {
                EXPECT_EQ(counting_pages_t::last_size, c.block);
            }
            // Untouched zero pages read as zero.
            EXPECT_EQ(canvas->pixels[0], 0);
            EXPECT_EQ(canvas->pixels[c.block - 1], 0);
        }
        EXPECT_EQ(counting_pages_t::released, c.from_pages);
    }
}

TEST(font_canvas, keeps_its_size_and_pixels_when_a_larger_block_is_refused)
{
    swapped_pages_t swap;
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 0, 0, 0, 0 });
    ASSERT_TRUE(canvas);
    canvas->pixels[5] = 7;
    counting_pages_t::refuse = true;
    EXPECT_FALSE(canvas->resize_and_clear(1024, 1024));
    EXPECT_EQ(canvas->width, 32u);
    EXPECT_EQ(canvas->height, 32u);
    EXPECT_EQ(canvas->pixels[5], 7);
    EXPECT_TRUE(canvas->resize_and_clear(16, 16));  // fits the block it has
}

TEST(font_canvas_death, a_pixel_outside_the_canvas_is_fatal)
{
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 0, 0, 0, 0 });
    ASSERT_TRUE(canvas);
    EXPECT_DEATH((void)canvas->pixel_offset(32, 0), "Pixel outside the canvas\\.");
    EXPECT_DEATH((void)canvas->pixel_offset(0, 32), "Pixel outside the canvas\\.");
    EXPECT_DEATH((void)canvas->resize_and_clear(MAX_CANVAS_SIDE * 2, 32),
                 "Canvas size above MAX_CANVAS_SIDE\\.");
}
