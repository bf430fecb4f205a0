// The preview picture: a text set in every character set's glyphs from the description's
// numbers, line by line, with the run's pictures under the lines, written as a PNG.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"

#include <cstdint>

struct font_layout_t;
struct font_output_set_t;
struct output_picture_t;

// The look of the preview, for whoever reads one back.
constexpr uint32_t preview_margin = 8;         // around everything, and between the parts
constexpr uint8_t preview_background = 24;     // grey of the ground the lines are drawn on
constexpr uint8_t preview_square_dark = 48;    // greys of the squares behind a picture, so that
constexpr uint8_t preview_square_light = 72;   // its empty pixels show as empty
constexpr uint32_t preview_square_side = 8;    // counted from the picture's top-left pixel
// The same for a colour set whose glyphs are dark on the whole (alpha-weighted mean colour
// below 128), such as the default gradient's black: light greys.
constexpr uint8_t preview_light_ground = 232;
constexpr uint8_t preview_light_square_dark = 200;
constexpr uint8_t preview_light_square_light = 224;
constexpr uint32_t preview_row_width = 4096;   // pictures go side by side until a row passes it
constexpr uint32_t max_preview_side = 1000000; // what common PNG readers accept

// One pixel of a picture drawn over `ground` (R, G, B): white with the pixel as alpha for a
// one-byte picture, the pixel's own colour and alpha for a four-byte one. `pixel` points at the
// pixel's bytes; `out` receives R, G, B.
void blend_preview_pixel(const uint8_t* pixel, uint32_t bytes_per_pixel, const uint8_t ground[3],
                         uint8_t out[3]);

// The version of the libpng library the process runs with, as "x.y.z".
const char* libpng_version();

// Writes the preview of `text` (UTF-8) at the path as an 8-bit RGB PNG through the file system.
// For set k, in order, one line with its top k * (vertical_span + line_spacing) below the first:
// for every character the set lists, the cell of its glyph line drawn at pen + L, line top + T,
// then the pen moves by A plus the kerning the description lists for that character and the
// next; characters the set lacks are skipped. The lines are moved right and down until nothing
// lies left of or above the margin. Under them, every picture of the sets in number order, side
// by side. A colour set whose glyphs are dark on the whole has its line and its pictures on
// light greys. The preview is drawn row by row as it is written: it never holds a whole copy.
// Reports and returns false when it cannot be drawn, created or written.
[[nodiscard]] bool write_preview_picture(const char* path, const char* text,
                                         const font_layout_t& layout,
                                         const array_t<font_output_set_t>& sets,
                                         const array_t<output_picture_t>& pictures);
