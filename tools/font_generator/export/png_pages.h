// The PNG pages of the export: a picture as other engines read it, top row first, padded to its
// set's page size.
#pragma once

#include "tools/font_generator/model/picture_kind.h"

#include <cstdint>

struct font_canvas_t;

// How a page's four channels come from its picture's pixels. PNG colour is straight: readers
// multiply it by alpha themselves.
enum class page_channels_t
{
    white_alpha,      // alpha pictures and distance fields: R = G = B = 255, the pixel's alpha in A
    straight_colour,  // colour pictures: their colour, multiplied by coverage, made straight
    as_is,            // multi-channel fields: R, G, B and A as the picture holds them
};

// The channels of a set's pages: straight colour for colour pictures; white and alpha for alpha
// pictures and for a distance field in either style (readers take the field from alpha); a
// multi-channel field's as they are.
page_channels_t page_channels_of(picture_kind_t kind);

// One colour picture's pixel (c, c, c, a), colour multiplied by coverage, as straight colour:
// alpha a' = max(a, c) over the three colour bytes, each colour byte round(255 × c / a') (0
// where a' is 0). Over any ground a straight reader then shows what the picture shows through
// premultiplied blending, but for an edge whose c exceeds a, off by ground × (a' − a) / 255.
void make_straight_colour(const uint8_t premultiplied[4], uint8_t straight[4]);

// Writes the picture at `path` (SYSFS) as an 8-bit PNG of page_width × page_height, at least the
// picture's size: row 0 is the picture's top row, and pixels beyond the picture are empty (A = 0,
// R = G = B as an empty pixel of the picture has them). Grey and alpha where the channels allow
// (every pixel with R = G = B), else RGBA; zlib level 1 without row filters, for speed.
// Reports with the path and returns false when it cannot be created, encoded or written.
[[nodiscard]] bool write_png_page(const char* path, const font_canvas_t& canvas,
                                  page_channels_t channels, uint32_t page_width,
                                  uint32_t page_height);
