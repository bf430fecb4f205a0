// The pixel surface of one picture: its size, its pixel block and its picture style.
#pragma once

#include "ovcore/collections/auto_ptr.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t MAX_CANVAS_SIDE = 8192;

// The pixels of one picture, held by the set of the generator whose glyphs it shows.
//
// Pixel (x, y), row 0 the top row, is pixel number (height - 1 - y) * width + x from the start
// of `pixels`: rows are stored bottom row first (see row()). With font_style 0 a pixel is one byte (alpha);
// with any other style four (colour, colour, colour, alpha). `pixels` holds exactly the bytes of
// the current size or of a larger one it had before: a canvas reserves what its picture needs,
// so a run's memory and address space follow its pictures. A resize that needs more takes a new
// block, so `pixels` may move then. Large blocks come from zero pages and cost memory only
// where they are written. Created by create_font_canvas, owned by its auto_ptr_t.
// Main thread only, but for drawing glyphs into separate cells.
struct font_canvas_t
{
    uint32_t width;
    uint32_t height;
    uint8_t* pixels = nullptr;
    uint32_t font_style;
    float gradient_start;
    float gradient_step;
    int32_t gradient_start_offset;
    std::size_t block_bytes = 0;  // bytes of the block at `pixels`
    std::size_t dirty_bytes = 0;  // bytes from the block's start that may not be zero

    // 32 x 32 with the given style and no pixel block yet.
    font_canvas_t(uint32_t style, float start, float step, int32_t start_offset);
    font_canvas_t(const font_canvas_t&) = delete;
    font_canvas_t& operator=(const font_canvas_t&) = delete;
    ~font_canvas_t();

    // 1 for font_style 0, else 4.
    uint32_t bytes_per_pixel() const { return font_style == 0 ? 1 : 4; }
    // Bytes of the block that the current size uses.
    std::size_t used_bytes() const { return std::size_t(width) * height * bytes_per_pixel(); }
    // Byte offset of pixel (x, y) in `pixels`. A pixel outside the canvas is fatal.
    std::size_t pixel_offset(uint32_t x, uint32_t y) const;
    // The first byte of row y, row 0 the top row: the one place that knows rows are stored
    // bottom row first (as a TGA picture has them). No check of y.
    uint8_t* row(uint32_t y) { return pixels + row_offset(y); }
    const uint8_t* row(uint32_t y) const { return pixels + row_offset(y); }
    std::size_t row_offset(uint32_t y) const
    {
        return std::size_t(height - 1 - y) * width * bytes_per_pixel();
    }

    // Sets the size and zeroes the bytes that size uses, taking a block of exactly that size when
    // the current one is smaller; bytes of a zero-page block never written stay uncommitted
    // until drawn on. False, with the canvas unchanged, when no block can be had. A side above
    // MAX_CANVAS_SIDE is fatal.
    [[nodiscard]] bool resize_and_clear(uint32_t new_width, uint32_t new_height);
};

// What every picture of a run shares: its pixel style and gradient, the gradient's values in
// 1/255 units as the configuration gives them.
struct canvas_style_t
{
    uint32_t font_style = 0;
    int32_t gradient_color_start = 0;
    int32_t gradient_color_step = 0;
    int32_t gradient_start_offset = 0;
};

// A 32 x 32 canvas with its block and the style, the gradient converted from 1/255 units here;
// empty, without a message, when no memory can be had.
[[nodiscard]] auto_ptr_t<font_canvas_t> create_font_canvas(const canvas_style_t& style);
