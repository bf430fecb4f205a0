// The PNG pages: rows of a picture in the page's channels, through the PNG encoder.
#include "tools/font_generator/export/png_pages.h"

#include "ovcore/fatal.h"
#include "ovcore/message.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/output/png_encoder.h"

#include <algorithm>
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

// One page's rows: the picture's rows in the page's channels, then empty pixels.
class page_rows_t final : public png_rows_t
{
public:
    page_rows_t(const font_canvas_t& canvas, page_channels_t channels, uint32_t width,
                uint32_t bytes_per_pixel)
        : m_canvas(canvas), m_channels(channels), m_width(width), m_bytes(bytes_per_pixel)
    {
    }

    void form_row(uint32_t y, uint8_t* row) override
    {
        const font_canvas_t& canvas = m_canvas;
        const uint8_t empty_grey = m_channels == page_channels_t::white_alpha ? 255 : 0;
        uint32_t x = 0;
        if (y < canvas.height && canvas.pixels != nullptr)
        {
            const uint32_t in_bytes = canvas.bytes_per_pixel();
            const uint8_t* in = canvas.row(y);
            if (m_channels == page_channels_t::as_is)
            {
                std::memcpy(row, in, std::size_t(canvas.width) * 4);
                x = canvas.width;
                row += std::size_t(canvas.width) * 4;
            }
            else if (m_bytes == 4)
                for (; x < canvas.width; ++x, in += 4, row += 4)
                    make_straight_colour(in, row);
            else if (m_channels == page_channels_t::white_alpha)
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
        const std::size_t rest = std::size_t(m_width - x) * m_bytes;
        for (std::size_t i = 0; i < rest; i += m_bytes)
        {
            std::memset(row + i, empty_grey, m_bytes - 1);
            row[i + m_bytes - 1] = 0;
        }
    }

private:
    const font_canvas_t& m_canvas;
    page_channels_t m_channels;
    uint32_t m_width;
    uint32_t m_bytes;  // 2: grey and alpha; 4: RGBA
};

}  // namespace

page_channels_t page_channels_of(picture_kind_t kind)
{
    switch (kind)
    {
    case picture_kind_t::coverage_colour:
        return page_channels_t::straight_colour;
    case picture_kind_t::multi_channel_field:
    case picture_kind_t::multi_channel_and_true_field:
        return page_channels_t::as_is;
    case picture_kind_t::coverage_alpha:
    case picture_kind_t::distance_field:
        break;
    }
    return page_channels_t::white_alpha;
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
    png_format_t format;
    format.width = page_width;
    format.height = page_height;
    format.colour = rgba ? png_colour_t::rgba : png_colour_t::grey_alpha;
    // Readers do not care how a page was compressed; a large page must be cheap to write. Large
    // pieces of compressed data make few writes.
    format.compression_level = 1;
    format.without_filters = true;
    format.compression_buffer = png_piece_size;
    page_rows_t rows(canvas, channels, page_width, png_bytes_per_pixel(format.colour));
    switch (write_png_file(path, format, &rows))
    {
    case png_written_t::written:
        return true;
    case png_written_t::not_created:
        msg_error("Failed to create the font page '%s'.", path);
        return false;
    case png_written_t::no_memory:
        msg_error("Not enough memory to encode the font page '%s'.", path);
        break;
    case png_written_t::write_failed:
        break;
    }
    msg_error("Failed to write the font page '%s'.", path);
    return false;
}
