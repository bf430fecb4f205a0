// The PNG pages of the export: a picture as other engines read it, top row first, padded to its
// set's page size.
#pragma once

#include <cstdint>

struct font_canvas_t;

// How a page's four channels come from its picture's pixels.
enum class page_channels_t
{
    white_alpha,   // alpha pictures: R = G = B = 255, the pixel in A
    colour_alpha,  // colour pictures: the colour (multiplied by coverage already) and alpha
    distance,      // distance fields: the value in all four (a four-byte pixel's alpha)
};

// The channels of a set's pages: a distance field in either style, else by bytes per pixel.
page_channels_t page_channels_of(const font_canvas_t& canvas, bool distance_field);

// Writes the picture at `path` (SYSFS) as an 8-bit PNG of page_width × page_height, at least the
// picture's size: row 0 is the picture's top row, and pixels beyond the picture are empty (A = 0,
// R = G = B as an empty pixel of the picture has them). Grey and alpha where the channels allow
// (every pixel with R = G = B), else RGBA; zlib level 1 without row filters, for speed.
// Reports with the path and returns false when it cannot be created, encoded or written.
[[nodiscard]] bool write_png_page(const char* path, const font_canvas_t& canvas,
                                  page_channels_t channels, uint32_t page_width,
                                  uint32_t page_height);
