// The packing order, the shelf packer against the plain rule, the canvas-size search and glyph
// drawing.
#include "tools/font_generator/packing/glyph_packing.h"

#include "ovcore/collections/auto_ptr.h"
#include "tests/support/message_capture.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/packing/glyph_pixels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace
{

struct cell_t
{
    uint32_t code;
    int32_t width;
    int32_t height;
};

void fill_set(character_set_t* set, const std::vector<cell_t>& cells)
{
    set->glyphs.clear();
    for (const cell_t& cell : cells)
    {
        font_glyph_t* glyph = set->glyphs.append_new();
        glyph->code = cell.code;
        glyph->width = cell.width;
        glyph->height = cell.height;
        glyph->rasterized = cell.width > 0 || cell.height > 0;
    }
}

std::vector<std::pair<uint32_t, uint32_t>> positions(const character_set_t& set)
{
    std::vector<std::pair<uint32_t, uint32_t>> result;
    for (const font_glyph_t& glyph : set.glyphs)
        result.emplace_back(glyph.canvas_x, glyph.canvas_y);
    return result;
}

// The shelf rule exactly as stated: a linear search for the widest later glyph that fits, and
// a real move of it in front of the glyph that did not fit.
bool place_plainly(character_set_t* set, uint32_t width, uint32_t height)
{
    std::vector<font_glyph_t*> order;
    for (font_glyph_t& glyph : set->glyphs)
        order.push_back(&glyph);
    std::stable_sort(order.begin(), order.end(), [](font_glyph_t* a, font_glyph_t* b) {
        return a->height != b->height ? a->height > b->height : a->code < b->code;
    });
    const uint32_t u = width - 1;
    const uint32_t v = height - 1;
    uint32_t x = 1;
    uint32_t y = 1;
    int32_t shelf = 0;
    for (std::size_t p = 0; p < order.size(); ++p)
    {
        font_glyph_t* glyph = order[p];
        if (!glyph->rasterized)
            continue;
        if (x + uint32_t(glyph->width) > u)
        {
            const int32_t room = int32_t(u - x);
            std::size_t best = order.size();
            int32_t best_width = 0;
            for (std::size_t q = p + 1; q < order.size(); ++q)
                if (order[q]->width > 0 && order[q]->width <= room && order[q]->width > best_width)
                {
                    best_width = order[q]->width;
                    best = q;
                }
            if (best != order.size())
            {
                font_glyph_t* moved = order[best];
                order.erase(order.begin() + std::ptrdiff_t(best));
                order.insert(order.begin() + std::ptrdiff_t(p), moved);
                --p;
                continue;
            }
            y = y + uint32_t(shelf) + 1;
            x = 1;
            shelf = 0;
            if (1 + uint32_t(glyph->width) > u)
                return false;
        }
        if (y + uint32_t(glyph->height) > v)
            return false;
        glyph->canvas_x = x;
        glyph->canvas_y = y;
        x += uint32_t(glyph->width) + 1;
        shelf = std::max(shelf, glyph->height);
    }
    return true;
}

bool place(character_set_t* set, uint32_t width, uint32_t height)
{
    array_dyn_t<uint32_t> order;
    EXPECT_TRUE(sort_glyphs_for_packing(*set, &order));
    array_dyn_t<uint8_t> placed;
    return pack_glyphs(set, order, width, height, &placed) == packing_t::complete;
}

// fit_set_canvases with one picture of up to 8192 pixels a side, `canvas` its first canvas.
bool fit_canvas(auto_ptr_t<font_canvas_t>* canvas, character_set_t* set, glyph_source_t* source)
{
    array_dyn_t<auto_ptr_t<font_canvas_t>> canvases;
    EXPECT_TRUE(canvases.append(std::move(*canvas)));
    const bool fitted =
        fit_set_canvases(&canvases, set, 0, picture_limits_t{}, canvas_style_t{}, source);
    *canvas = std::move(canvases[0]);
    return fitted;
}

// Serves one bitmap for every glyph and counts the requests.
class fixed_source_t final : public glyph_source_t
{
public:
    explicit fixed_source_t(const glyph_bitmap_t& bitmap) : m_bitmap(bitmap) {}
    bool get_bitmap(uint32_t, glyph_bitmap_t* out) override
    {
        ++requests;
        *out = m_bitmap;
        return true;
    }
    int requests = 0;

private:
    glyph_bitmap_t m_bitmap;
};

glyph_bitmap_t grey_bitmap(const std::vector<uint8_t>& pixels, int32_t width, int32_t rows)
{
    glyph_bitmap_t bitmap;
    bitmap.width = width;
    bitmap.rows = rows;
    bitmap.pitch = width;
    bitmap.mode = glyph_pixel_mode_t::gray;
    bitmap.top_row = pixels.data();
    return bitmap;
}

auto_ptr_t<font_canvas_t> make_canvas(uint32_t style, uint32_t width, uint32_t height)
{
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ style, 0, 0, 0 });
    EXPECT_TRUE(canvas);
    EXPECT_TRUE(canvas->resize_and_clear(width, height));
    return canvas;
}

uint8_t alpha_at(const font_canvas_t& canvas, uint32_t x, uint32_t y)
{
    return canvas.pixels[(canvas.height - 1 - y) * canvas.width + x];
}

}  // namespace

TEST(sort_glyphs_for_packing, orders_by_height_then_code_and_keeps_file_order_of_equals)
{
    character_set_t set;
    fill_set(&set, { { 0x42, 5, 8 }, { 0x41, 5, 8 }, { 0x43, 5, 10 }, { 0x41, 7, 8 },
                     { 0x20, 0, 0 } });
    array_dyn_t<uint32_t> order;
    ASSERT_TRUE(sort_glyphs_for_packing(set, &order));
    EXPECT_EQ(std::vector<uint32_t>(order.begin(), order.end()),
              (std::vector<uint32_t>{ 2, 1, 3, 0, 4 }));
}

TEST(place_glyphs, opens_a_new_shelf_when_no_later_glyph_fits)
{
    character_set_t set;
    fill_set(&set, { { 1, 20, 8 }, { 2, 12, 8 }, { 3, 10, 8 } });
    ASSERT_TRUE(place(&set, 32, 32));
    EXPECT_EQ(positions(set),
              (std::vector<std::pair<uint32_t, uint32_t>>{ { 1, 1 }, { 1, 10 }, { 14, 10 } }));
}

TEST(place_glyphs, moves_the_widest_later_glyph_that_fits_forward)
{
    character_set_t set;
    fill_set(&set, { { 1, 14, 8 }, { 2, 16, 8 }, { 3, 8, 8 }, { 4, 6, 8 } });
    ASSERT_TRUE(place(&set, 32, 32));
    EXPECT_EQ(positions(set), (std::vector<std::pair<uint32_t, uint32_t>>{
                                  { 1, 1 }, { 1, 10 }, { 16, 1 }, { 25, 1 } }));
}

TEST(place_glyphs, needs_a_free_column_and_row_at_the_far_edges)
{
    struct case_t
    {
        int32_t width, height;
        bool fits;
    };
    const case_t cases[] = { { 30, 30, true }, { 31, 30, false }, { 30, 31, false } };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        character_set_t set;
        fill_set(&set, { { 1, c.width, c.height } });
        EXPECT_EQ(place(&set, 32, 32), c.fits);
    }
}

TEST(place_glyphs, agrees_with_the_plain_rule_on_random_sets)
{
    std::mt19937 random(7);
    const uint32_t sides[][2] = { { 32, 32 }, { 32, 64 }, { 64, 64 }, { 64, 128 }, { 128, 128 },
                                  { 128, 256 }, { 256, 256 } };
    for (int round = 0; round < 300; ++round)
    {
        std::vector<cell_t> cells(random() % 120);
        const int32_t widest = 1 + int32_t(random() % 40);
        for (cell_t& cell : cells)
        {
            cell.code = random() % 64;  // repeats on purpose
            const bool measured = random() % 10 != 0;
            cell.width = measured ? int32_t(random() % uint32_t(widest + 1)) : 0;
            cell.height = measured ? int32_t(random() % 30) : 0;
        }
        for (const auto& side : sides)
        {
            SCOPED_TRACE(testing::Message() << "round " << round << ", " << side[0] << " x "
                                            << side[1]);
            character_set_t fast;
            character_set_t plain;
            fill_set(&fast, cells);
            fill_set(&plain, cells);
            const bool placed = place(&fast, side[0], side[1]);
            ASSERT_EQ(placed, place_plainly(&plain, side[0], side[1]));
            if (placed)
            {
                ASSERT_EQ(positions(fast), positions(plain));
            }
        }
    }
}

// Several pictures as the rule states them: each picture packs, with a fresh packer, the glyphs
// no picture has taken yet, at the first size that takes them all, else at the largest.
bool lay_out_plainly(character_set_t* set, uint32_t side, bool several,
                     std::vector<picture_size_t>* sizes)
{
    array_dyn_t<uint32_t> order;
    EXPECT_TRUE(sort_glyphs_for_packing(*set, &order));
    std::vector<uint32_t> left(order.begin(), order.end());
    for (;;)
    {
        array_dyn_t<uint32_t> glyphs;
        for (uint32_t position : left)
            EXPECT_TRUE(glyphs.append(position));
        array_dyn_t<uint8_t> placed;
        packing_t packing = packing_t::partial;
        uint32_t width = 32;
        uint32_t height = 32;
        for (;;)
        {
            packing = pack_glyphs(set, glyphs, width, height, &placed);
            if (packing == packing_t::complete || (width == side && height == side))
                break;
            (width < height ? width : height) *= 2;
        }
        const bool took_some = std::count(placed.begin(), placed.end(), 1) > 0;
        if (packing == packing_t::partial && (!several || !took_some))
            return false;
        std::vector<uint32_t> rest;
        for (uint32_t p = 0; p < left.size(); ++p)
        {
            if (placed[p])
                set->glyphs[left[p]].picture = uint32_t(sizes->size());
            else if (set->glyphs[left[p]].rasterized)
                rest.push_back(left[p]);
        }
        sizes->push_back({ width, height });
        if (packing == packing_t::complete)
            return true;
        left = rest;
    }
}

TEST(lay_out_pictures, places_every_picture_as_fresh_packing_of_what_is_left_would)
{
    std::mt19937 random(11);
    message_capture_t messages;
    for (int round = 0; round < 200; ++round)
    {
        std::vector<cell_t> cells(random() % 400);
        const int32_t widest = 1 + int32_t(random() % 60);
        for (cell_t& cell : cells)
        {
            cell.code = random() % 256;
            const bool measured = random() % 10 != 0;
            cell.width = measured ? int32_t(random() % uint32_t(widest + 1)) : 0;
            cell.height = measured ? int32_t(random() % 40) : 0;
        }
        for (uint32_t side : { 32u, 64u, 128u, 256u })
        {
            SCOPED_TRACE(testing::Message() << "round " << round << ", side " << side);
            character_set_t fast;
            character_set_t plain;
            fill_set(&fast, cells);
            fill_set(&plain, cells);
            array_dyn_t<uint32_t> order;
            ASSERT_TRUE(sort_glyphs_for_packing(fast, &order));
            array_dyn_t<picture_size_t> sizes;
            std::vector<picture_size_t> plain_sizes;
            const bool laid_out =
                lay_out_pictures(&fast, order, picture_limits_t{ side, true }, &sizes);
            ASSERT_EQ(laid_out, lay_out_plainly(&plain, side, true, &plain_sizes));
            if (!laid_out)
                continue;
            ASSERT_EQ(sizes.size(), plain_sizes.size());
            for (uint32_t k = 0; k < sizes.size(); ++k)
            {
                EXPECT_EQ(sizes[k].width, plain_sizes[k].width) << k;
                EXPECT_EQ(sizes[k].height, plain_sizes[k].height) << k;
            }
            ASSERT_EQ(positions(fast), positions(plain));
            for (uint32_t i = 0; i < fast.glyphs.size(); ++i)
                ASSERT_EQ(fast.glyphs[i].picture, plain.glyphs[i].picture) << i;
        }
    }
}

TEST(fit_set_canvases, tries_sizes_with_the_height_growing_first)
{
    struct case_t
    {
        std::vector<cell_t> cells;
        uint32_t width, height;
    };
    const case_t cases[] = {
        { {}, 32, 32 },
        { { { 1, 30, 30 } }, 32, 32 },
        { { { 1, 31, 30 } }, 64, 64 },
        { { { 1, 20, 20 }, { 2, 20, 20 } }, 32, 64 },
        { { { 1, 20, 70 } }, 64, 128 },
        { { { 1, 100, 8 } }, 128, 128 },
    };
    std::vector<uint8_t> pixel = { 255 };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        character_set_t set;
        fill_set(&set, c.cells);
        auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 0, 0, 0, 0 });
        fixed_source_t source(grey_bitmap(pixel, 1, 1));
        ASSERT_TRUE(fit_canvas(&canvas, &set, &source));
        EXPECT_EQ(canvas->width, c.width);
        EXPECT_EQ(canvas->height, c.height);
        EXPECT_EQ(source.requests, int(c.cells.size()));
    }
}

TEST(fit_set_canvases, reports_a_set_that_does_not_fit_the_largest_canvas)
{
    struct case_t
    {
        const char* what;
        std::vector<cell_t> cells;
        const char* name;  // of the set, as the configuration writes it
        std::string why;
    };
    const case_t cases[] = {
        { "one glyph alone", { { 0x41, 20, 20 }, { 1, 8191, 4 } }, "",
          "The glyph U+0001 of the element 0 of char_config is 8191 x 4 pixels, more than a "
          "picture of max_picture_size 8192 holds by itself with glyph_spacing 1 at its "
          "borders: make max_picture_size larger, or the glyphs, glyph_padding or outline_width "
          "smaller." },
        { "the larger of two too large", { { 0x41, 8191, 4 }, { 0x42, 8191, 5 } }, ".chars.ui",
          "The glyph U+0042 'B' of the set '.chars.ui' (the element 0 of char_config) is 8191 x "
          "5 pixels, more than a picture of max_picture_size 8192 holds by itself with "
          "glyph_spacing 1 at its borders: make max_picture_size larger, or the glyphs, "
          "glyph_padding or outline_width smaller." },
        { "all together", { { 0x41, 5000, 5000 }, { 0xE9, 5000, 5001 }, { 0x43, 10, 10 } },
          ".chars.ui",
          "The glyphs of the set '.chars.ui' (the element 0 of char_config) do not fit one "
          "picture of max_picture_size 8192; the largest is U+00E9 '\xC3\xA9' of 5000 x 5001 "
          "pixels: set several_pictures: true, or a larger max_picture_size (at most 8192)." },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.what);
        character_set_t set;
        fill_set(&set, c.cells);
        set.label.name = c.name;
        auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 0, 0, 0, 0 });
        std::vector<uint8_t> pixel = { 255 };
        fixed_source_t source(grey_bitmap(pixel, 1, 1));
        message_capture_t capture;
        EXPECT_FALSE(fit_canvas(&canvas, &set, &source));
        EXPECT_EQ(capture.lines, (std::vector<std::string>{ "The requested glyphs could not be "
                                                            "rasterized onto canvas up to size "
                                                            "8192 x 8192 pixels.",
                                                            c.why }));
        EXPECT_EQ(source.requests, 0);
    }
}

TEST(fit_set_canvases, clears_what_an_earlier_run_left_and_draws_only_measured_glyphs)
{
    character_set_t set;
    fill_set(&set, { { 1, 2, 2 }, { 2, 0, 0 } });
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 0, 0, 0, 0 });
    ASSERT_TRUE(canvas->resize_and_clear(64, 64));  // an earlier run's larger picture
    std::memset(canvas->pixels, 0xAB, 64 * 64);
    std::vector<uint8_t> pixels = { 255, 0, 0, 255 };
    fixed_source_t source(grey_bitmap(pixels, 2, 2));
    ASSERT_TRUE(fit_canvas(&canvas, &set, &source));
    EXPECT_EQ(source.requests, 1);
    std::vector<uint8_t> expected(32 * 32, 0);
    expected[992 - 32 * 1 + 1] = 255;  // (1, 1); the top-left pixel (0, 0) is byte 992
    expected[992 - 32 * 2 + 2] = 255;  // (2, 2)
    EXPECT_EQ(std::vector<uint8_t>(canvas->pixels, canvas->pixels + 32 * 32), expected);
}

TEST(glyph_alpha, curves_coverage_without_an_outline_and_keeps_it_linear_with_one)
{
    glyph_alpha_table_t curved;
    glyph_alpha_table_t linear;
    make_glyph_alpha_table(0, &curved);
    make_glyph_alpha_table(2, &linear);
    const uint8_t coverage[] = { 0, 64, 128, 200, 255 };
    const uint8_t expected[] = { 0, 34, 94, 179, 255 };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(curved.alpha[coverage[i]], expected[i]) << int(coverage[i]);
    for (int value = 0; value < 256; ++value)
        EXPECT_EQ(linear.alpha[value], value);
}

TEST(glyph_colour, follows_the_gradient_by_row_and_clamps_it)
{
    const float start = 255 * 0.003921569f;
    const float step = 10 * 0.003921569f;
    struct case_t
    {
        int64_t distance;
        uint8_t coverage;
        uint8_t colour;
    };
    const case_t cases[] = {
        { 0, 255, 255 }, { 3, 255, 255 },  // down to the offset: the start level
        { 4, 255, 245 }, { 5, 128, 117 },  // then falling by the step per row
        { 40, 255, 0 },                     // below black: clamped, not wrapped
    };
    for (const case_t& c : cases)
    {
        const float factor = gradient_factor(start, step, 3, c.distance);
        EXPECT_EQ(gradient_colour(factor, c.coverage), c.colour) << c.distance;
    }
    EXPECT_EQ(gradient_colour(2.0f, 200), 255);  // above white: clamped
    EXPECT_EQ(gradient_colour(-1.0f, 200), 0);
}

TEST(draw_glyph, places_the_bitmap_inside_the_outline_margin)
{
    character_set_t set;
    fill_set(&set, { { 0x41, 16, 18 } });
    font_glyph_t& glyph = set.glyphs[0];
    glyph.canvas_x = 1;
    glyph.canvas_y = 1;
    auto_ptr_t<font_canvas_t> canvas = make_canvas(0, 32, 32);
    std::vector<uint8_t> pixels(10 * 12, 255);
    glyph_alpha_table_t alpha;
    make_glyph_alpha_table(3, &alpha);
    draw_glyph(canvas.get(), grey_bitmap(pixels, 10, 12), set, glyph, 3, alpha);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x)
        {
            const bool inside = x >= 4 && x <= 13 && y >= 4 && y <= 15;
            ASSERT_EQ(alpha_at(*canvas, x, y), inside ? 255 : 0) << x << ", " << y;
        }
}

TEST(draw_glyph, never_writes_outside_the_cell)
{
    character_set_t set;
    fill_set(&set, { { 0x41, 4, 3 } });
    font_glyph_t& glyph = set.glyphs[0];
    glyph.canvas_x = 30;
    glyph.canvas_y = 1;
    auto_ptr_t<font_canvas_t> canvas = make_canvas(0, 64, 32);
    std::vector<uint8_t> pixels(20 * 20, 200);  // larger than the 4 x 3 cell it was measured as
    glyph_alpha_table_t alpha;
    make_glyph_alpha_table(1, &alpha);
    draw_glyph(canvas.get(), grey_bitmap(pixels, 20, 20), set, glyph, 1, alpha);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 64; ++x)
        {
            const bool inside = x >= 31 && x <= 32 && y == 2;  // the 2 x 1 inside the margin
            ASSERT_EQ(alpha_at(*canvas, x, y), inside ? 200 : 0) << x << ", " << y;
        }
}

TEST(draw_glyph, writes_colour_three_times_then_alpha_bottom_row_first)
{
    character_set_t set;
    set.max_top = 10;
    fill_set(&set, { { 0x41, 1, 2 } });
    font_glyph_t& glyph = set.glyphs[0];
    glyph.top = 10;
    glyph.canvas_x = 0;
    glyph.canvas_y = 0;
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ 1, 200, 50, 0 });
    ASSERT_TRUE(canvas->resize_and_clear(64, 128));
    std::vector<uint8_t> pixels = { 255, 128 };
    glyph_alpha_table_t alpha;
    make_glyph_alpha_table(0, &alpha);
    draw_glyph(canvas.get(), grey_bitmap(pixels, 1, 2), set, glyph, 0, alpha);
    // Row 0 is the last row of the 32,768-byte picture; row 1 the one before it.
    const uint8_t* top = canvas->pixels + 4 * (127 * 64);
    const uint8_t* second = canvas->pixels + 4 * (126 * 64);
    EXPECT_EQ(std::vector<uint8_t>(top, top + 4), (std::vector<uint8_t>{ 200, 200, 200, 255 }));
    EXPECT_EQ(std::vector<uint8_t>(second, second + 4),
              (std::vector<uint8_t>{ 75, 75, 75, 94 }));
}
