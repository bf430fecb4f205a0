// The PNG encoder: libpng row by row into a file, through a buffer of a megabyte.
#include "tools/font_generator/output/png_encoder.h"

#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/output/output_file.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace
{

// The PNG stream into the file, in pieces of a megabyte.
struct png_sink_t
{
    file_t* file;
    uint8_t* buffer;
    uint32_t used;
    bool failed;
};

constexpr uint32_t png_sink_size = 1u << 20;

void flush_sink(png_sink_t* sink)
{
    if (!sink->failed && sink->used > 0 && !sink->file->write(sink->buffer, sink->used))
        sink->failed = true;
    sink->used = 0;
}

void write_png_bytes(png_structp png, png_bytep data, png_size_t size)
{
    png_sink_t* sink = static_cast<png_sink_t*>(png_get_io_ptr(png));
    while (size > 0 && !sink->failed)
    {
        const uint32_t piece = uint32_t(std::min<png_size_t>(size, png_sink_size - sink->used));
        std::memcpy(sink->buffer + sink->used, data, piece);
        sink->used += piece;
        data += piece;
        size -= piece;
        if (sink->used == png_sink_size)
            flush_sink(sink);
    }
    if (sink->failed)
        png_error(png, "write failed");
}

void flush_png(png_structp png)
{
    flush_sink(static_cast<png_sink_t*>(png_get_io_ptr(png)));
}

int png_colour_type(png_colour_t colour)
{
    switch (colour)
    {
    case png_colour_t::grey_alpha:
        return PNG_COLOR_TYPE_GRAY_ALPHA;
    case png_colour_t::rgb:
        return PNG_COLOR_TYPE_RGB;
    case png_colour_t::rgba:
        break;
    }
    return PNG_COLOR_TYPE_RGBA;
}

// libpng reports its errors by a jump back to here: nothing in this frame has a destructor.
bool encode_rows(png_structp png, png_infop info, const png_format_t& format, png_rows_t* rows,
                 uint8_t* row, png_sink_t* sink)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, sink, write_png_bytes, flush_png);
    if (format.compression_level >= 0)
        png_set_compression_level(png, format.compression_level);
    if (format.compression_buffer > 0)
        png_set_compression_buffer_size(png, format.compression_buffer);
    if (format.without_filters)
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, format.width, format.height, 8, png_colour_type(format.colour),
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < format.height; ++y)
    {
        rows->form_row(y, row);
        png_write_row(png, row);
    }
    png_write_end(png, info);
    flush_sink(sink);
    return !sink->failed;
}

// libpng's warnings say nothing a user of the tool can act on; its errors jump back to the
// encoder, whose caller says what failed.
void ignore_png_warning(png_structp, png_const_charp) {}

[[noreturn]] void jump_on_png_error(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

}  // namespace

uint32_t png_bytes_per_pixel(png_colour_t colour)
{
    return colour == png_colour_t::grey_alpha ? 2 : colour == png_colour_t::rgb ? 3 : 4;
}

const char* libpng_version()
{
    return png_get_libpng_ver(nullptr);
}

png_written_t write_png_file(const char* path, const png_format_t& format, png_rows_t* rows)
{
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, jump_on_png_error,
                                ignore_png_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    uint8_t* row = static_cast<uint8_t*>(
        std::malloc(std::size_t(format.width) * png_bytes_per_pixel(format.colour)));
    png_sink_t sink{ nullptr, static_cast<uint8_t*>(std::malloc(png_sink_size)), 0, false };
    png_written_t result = png_written_t::no_memory;
    if (info != nullptr && row != nullptr && sink.buffer != nullptr)
    {
        // A picture that is not finished goes with its file.
        output_file_t file(path);
        sink.file = file.get();
        result = !file                                          ? png_written_t::not_created
                 : encode_rows(png, info, format, rows, row, &sink) ? png_written_t::written
                 : sink.failed                                  ? png_written_t::write_failed
                                                                : png_written_t::no_memory;
        if (result == png_written_t::written)
            (void)file.keep();
    }
    std::free(sink.buffer);
    std::free(row);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return result;
}
