// The font canvas record: allocation from zero pages, pixel addressing and clearing.
#include "tools/font_generator/font_canvas.h"

#include "ovcore/message.h"
#include "tools/font_generator/sys_pages.h"

#include <algorithm>
#include <cstring>

namespace
{

// From this size on a canvas asks for large pages.
constexpr std::size_t large_canvas_bytes = std::size_t(4) << 20;

// The single-precision value nearest to 1/255.
constexpr float one_255th = 0.003921569f;
static_assert(one_255th == 1.0f / 255.0f);

}  // namespace

font_canvas_t::font_canvas_t(uint32_t style, float start, float step, int32_t start_offset)
    : width(32), height(32), font_style(style), gradient_start(start), gradient_step(step),
      gradient_start_offset(start_offset), dirty_bytes(used_bytes())
{
    // The block comes from zero pages: only the first size's bytes may be drawn on unsized.
}

void* font_canvas_t::operator new(std::size_t size) noexcept
{
    return sys_pages->reserve_zeroed(size);
}

void font_canvas_t::operator delete(void* block, std::size_t size) noexcept
{
    if (block != nullptr)
        sys_pages->release(block, size);
}

std::size_t font_canvas_t::pixel_offset(uint32_t x, uint32_t y) const
{
    if (x >= width || y >= height)
        OV_FATAL("Pixel outside the canvas.");
    return (std::size_t(height - 1 - y) * width + x) * bytes_per_pixel();
}

void font_canvas_t::resize_and_clear(uint32_t new_width, uint32_t new_height)
{
    if (new_width > MAX_CANVAS_SIDE || new_height > MAX_CANVAS_SIDE)
        OV_FATAL("Canvas size above MAX_CANVAS_SIDE.");
    width = new_width;
    height = new_height;
    // Beyond the used bytes the block is ignored, so untouched pages stay uncommitted. A large
    // canvas is drawn on all over: large pages spare it most of its page faults.
    if (used_bytes() >= large_canvas_bytes)
        sys_pages->advise_large_pages(pixels, used_bytes());
    std::memset(pixels, 0, std::min(used_bytes(), dirty_bytes));
    dirty_bytes = std::max(dirty_bytes, used_bytes());
}

font_canvas_t* create_font_canvas(uint32_t font_style, int32_t gradient_color_start,
                                  int32_t gradient_color_step, int32_t gradient_start_offset)
{
    return new font_canvas_t(font_style, float(gradient_color_start) * one_255th,
                             float(gradient_color_step) * one_255th, gradient_start_offset);
}
