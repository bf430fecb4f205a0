// The font canvas record: its pixel block, pixel addressing and clearing.
#include "tools/font_generator/model/font_canvas.h"

#include "ovcore/message.h"
#include "ovcore/sys_pages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace
{

// From this size on a block comes from zero pages: pages no glyph touches cost nothing, and the
// block does not sit in the heap after its picture is gone. Smaller blocks come from the heap,
// so that thousands of small pictures do not take thousands of mappings.
constexpr std::size_t page_block_bytes = std::size_t(64) << 10;
// From this size on a canvas asks for large pages.
constexpr std::size_t large_canvas_bytes = std::size_t(4) << 20;

// The single-precision value nearest to 1/255.
constexpr float one_255th = 0.003921569f;
static_assert(one_255th == 1.0f / 255.0f);

uint8_t* reserve_block(std::size_t bytes)
{
    if (bytes >= page_block_bytes)
        return static_cast<uint8_t*>(sys_pages->reserve_zeroed(bytes));
    return static_cast<uint8_t*>(std::calloc(bytes, 1));
}

void release_block(uint8_t* block, std::size_t bytes)
{
    if (block == nullptr)
        return;
    if (bytes >= page_block_bytes)
        sys_pages->release(block, bytes);
    else
        std::free(block);
}

}  // namespace

font_canvas_t::font_canvas_t(uint32_t style, float start, float step, int32_t start_offset)
    : width(32), height(32), font_style(style), gradient_start(start), gradient_step(step),
      gradient_start_offset(start_offset)
{
}

font_canvas_t::~font_canvas_t()
{
    release_block(pixels, block_bytes);
}

std::size_t font_canvas_t::pixel_offset(uint32_t x, uint32_t y) const
{
    if (x >= width || y >= height)
        OV_FATAL("Pixel outside the canvas.");
    return row_offset(y) + std::size_t(x) * bytes_per_pixel();
}

bool font_canvas_t::resize_and_clear(uint32_t new_width, uint32_t new_height)
{
    if (new_width > MAX_CANVAS_SIDE || new_height > MAX_CANVAS_SIDE)
        OV_FATAL("Canvas size above MAX_CANVAS_SIDE.");
    const std::size_t bytes = std::size_t(new_width) * new_height * bytes_per_pixel();
    if (bytes > block_bytes || pixels == nullptr)
    {
        uint8_t* block = reserve_block(bytes);
        if (block == nullptr)
            return false;
        release_block(pixels, block_bytes);
        pixels = block;
        block_bytes = bytes;
        dirty_bytes = 0;
    }
    width = new_width;
    height = new_height;
    // A large canvas is drawn on all over: large pages spare it most of its page faults.
    if (bytes >= large_canvas_bytes)
        sys_pages->advise_large_pages(pixels, bytes);
    std::memset(pixels, 0, std::min(bytes, dirty_bytes));
    dirty_bytes = std::max(dirty_bytes, bytes);
    return true;
}

auto_ptr_t<font_canvas_t> create_font_canvas(const canvas_style_t& style)
{
    auto_ptr_t<font_canvas_t> canvas(new (std::nothrow) font_canvas_t(
        style.font_style, float(style.gradient_color_start) * one_255th,
        float(style.gradient_color_step) * one_255th, style.gradient_start_offset));
    if (canvas && !canvas->resize_and_clear(canvas->width, canvas->height))
        canvas.reset();
    return canvas;
}
