// The PNG pages: rows of a picture in the page's channels, encoded by libpng straight into the
// page's file.
#include "tools/font_generator/export/png_pages.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/fatal.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/output/output_file.h"
#include "tools/font_generator/packing/font_canvas.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace
{

// Whether every pixel of a four-byte picture has equal colour bytes, so grey + alpha holds it.
bool has_grey_colour(const font_canvas_t& canvas)
{
    const uint8_t* pixel = canvas.pixels;
    const std::size_t count = std::size_t(canvas.width) * canvas.height;
    for (std::size_t i = 0; i < count; ++i, pixel += 4)
        if (pixel[0] != pixel[1] || pixel[0] != pixel[2])
            return false;
    return true;
}

constexpr uint32_t png_piece_size = 1u << 20;

// How one page is encoded.
struct page_plan_t
{
    const font_canvas_t* canvas;
    page_channels_t channels;
    uint32_t width;
    uint32_t height;
    uint32_t bytes_per_pixel;  // 2: grey and alpha; 4: RGBA
};

// Row y of the page from its top: the picture's row where it has one (rows are stored bottom
// row first), then empty pixels.
void form_row(const page_plan_t& plan, uint32_t y, uint8_t* row)
{
    const font_canvas_t& canvas = *plan.canvas;
    const uint8_t empty_grey = plan.channels == page_channels_t::white_alpha ? 255 : 0;
    uint32_t x = 0;
    if (y < canvas.height && canvas.pixels != nullptr)
    {
        const uint32_t in_bytes = canvas.bytes_per_pixel();
        const uint8_t* in =
            canvas.pixels + std::size_t(canvas.height - 1 - y) * canvas.width * in_bytes;
        if (plan.channels == page_channels_t::as_is)
        {
            std::memcpy(row, in, std::size_t(canvas.width) * 4);
            x = canvas.width;
            row += std::size_t(canvas.width) * 4;
        }
        else if (plan.bytes_per_pixel == 4)
            for (; x < canvas.width; ++x, in += 4, row += 4)
                make_straight_colour(in, row);
        else if (plan.channels == page_channels_t::white_alpha)
            for (; x < canvas.width; ++x, in += in_bytes, row += 2)
            {
                row[0] = 255;
                row[1] = in[in_bytes - 1];
            }
        else
            for (; x < canvas.width; ++x, in += 4, row += 2)
            {
                uint8_t straight[4];
                make_straight_colour(in, straight);
                row[0] = straight[0];
                row[1] = straight[3];
            }
    }
    const std::size_t rest = std::size_t(plan.width - x) * plan.bytes_per_pixel;
    for (std::size_t i = 0; i < rest; i += plan.bytes_per_pixel)
    {
        std::memset(row + i, empty_grey, plan.bytes_per_pixel - 1);
        row[i + plan.bytes_per_pixel - 1] = 0;
    }
}

// The page's file as libpng writes to it: a write that fails makes libpng stop.
struct page_sink_t
{
    file_t* file;
    bool write_failed;
};

void write_png_bytes(png_structp png, png_bytep data, png_size_t size)
{
    page_sink_t* sink = static_cast<page_sink_t*>(png_get_io_ptr(png));
    if (size > UINT32_MAX || !sink->file->write(data, uint32_t(size)))
    {
        sink->write_failed = true;
        png_error(png, "write failed");
    }
}

void flush_nothing(png_structp) {}

// libpng reports its errors by a jump back to here: nothing in this frame has a destructor.
bool encode_page(png_structp png, png_infop info, const page_plan_t& plan, uint8_t* row,
                 page_sink_t* sink)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, sink, write_png_bytes, flush_nothing);
    // Readers do not care how a page was compressed; a large page must be cheap to write. Large
    // pieces of compressed data make few writes.
    png_set_compression_level(png, 1);
    png_set_compression_buffer_size(png, png_piece_size);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, plan.width, plan.height, 8,
                 plan.bytes_per_pixel == 2 ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < plan.height; ++y)
    {
        form_row(plan, y, row);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

// libpng's warnings say nothing a user of the tool can act on.
void ignore_png_warning(png_structp, png_const_charp) {}

bool encode_png(const page_plan_t& plan, page_sink_t* sink)
{
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, ignore_png_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    uint8_t* row = static_cast<uint8_t*>(
        std::malloc(std::size_t(plan.width) * plan.bytes_per_pixel));
    const bool encoded =
        info != nullptr && row != nullptr && encode_page(png, info, plan, row, sink);
    std::free(row);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return encoded;
}

}  // namespace

page_channels_t page_channels_of(const font_canvas_t& canvas, bool distance_field,
                                 distance_field_type_t field_type)
{
    if (distance_field && field_type != distance_field_type_t::sdf)
        return page_channels_t::as_is;
    if (distance_field)
        return page_channels_t::white_alpha;
    return canvas.bytes_per_pixel() == 1 ? page_channels_t::white_alpha
                                         : page_channels_t::straight_colour;
}

void make_straight_colour(const uint8_t premultiplied[4], uint8_t straight[4])
{
    // The picture's colour is the gradient times the raw coverage while its alpha is a curve of
    // the coverage, so a colour byte may exceed alpha; alpha rises to the colour there.
    const uint32_t alpha = std::max<uint32_t>(
        premultiplied[3], std::max({ premultiplied[0], premultiplied[1], premultiplied[2] }));
    for (int i = 0; i < 3; ++i)
        straight[i] = alpha == 0 ? 0 : uint8_t((255 * premultiplied[i] + alpha / 2) / alpha);
    straight[3] = uint8_t(alpha);
}

bool write_png_page(const char* path, const font_canvas_t& canvas, page_channels_t channels,
                    uint32_t page_width, uint32_t page_height)
{
    if (page_width < canvas.width || page_height < canvas.height)
        OV_FATAL("A page is smaller than its picture.");
    const bool rgba = channels == page_channels_t::as_is ||
                      (channels == page_channels_t::straight_colour && canvas.pixels != nullptr &&
                       !has_grey_colour(canvas));
    const page_plan_t plan{ &canvas, channels, page_width, page_height, rgba ? 4u : 2u };
    auto_ptr_t<file_t> file(create_output_file(path));
    if (!file)
    {
        msg_error("Failed to create the font page '%s'.", path);
        return false;
    }
    page_sink_t sink{ file.get(), false };
    if (!encode_png(plan, &sink))
    {
        if (!sink.write_failed)
            msg_error("Not enough memory to encode the font page '%s'.", path);
        msg_error("Failed to write the font page '%s'.", path);
        return false;
    }
    return true;
}
