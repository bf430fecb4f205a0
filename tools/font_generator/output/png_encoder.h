// The PNG encoder of every picture the tool writes as PNG (the preview, the export's pages):
// libpng fed row by row, its stream going into the file in pieces of a megabyte.
#pragma once

#include <cstdint>

enum class png_colour_t : uint8_t
{
    grey_alpha,  // two bytes a pixel
    rgb,         // three
    rgba,        // four
};

// How one PNG is encoded. Left at their defaults, compression level, filters and compression
// buffer are libpng's own.
struct png_format_t
{
    uint32_t width = 0;
    uint32_t height = 0;
    png_colour_t colour = png_colour_t::rgb;
    int compression_level = -1;       // zlib's 0 to 9; -1: libpng's default
    bool without_filters = false;     // rows as they are, for speed
    uint32_t compression_buffer = 0;  // bytes of compressed data per IDAT chunk; 0: libpng's
};

uint32_t png_bytes_per_pixel(png_colour_t colour);

// The version of the libpng library the process runs with, as "x.y.z".
const char* libpng_version();

// Forms row y of the picture, row 0 the top row, in the format's channels.
class png_rows_t
{
public:
    virtual ~png_rows_t() = default;
    virtual void form_row(uint32_t y, uint8_t* row) = 0;
};

enum class png_written_t
{
    written,
    no_memory,     // said nothing; the file was not created
    not_created,   // the file system has said why
    write_failed,  // said nothing
};

// Encodes `rows` into a file created anew at `path` (SYSFS). libpng's structures and the row
// buffer are made before the file is created; a file that is not finished is removed.
[[nodiscard]] png_written_t write_png_file(const char* path, const png_format_t& format,
                                           png_rows_t* rows);
