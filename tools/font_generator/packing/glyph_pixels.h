// Glyph pixel values: a coverage value becomes an alpha byte and, for pictures of font style 1,
// a colour byte that follows the gradient down from the set's top line.
#pragma once

#include <cstdint>

// The alpha byte of every coverage value 0..255 for one character set.
struct glyph_alpha_table_t
{
    uint8_t alpha[256];
    // Colour pixels take the gradient times coverage; a distance field's values are no
    // coverage, so its colour is the gradient's alone.
    bool colour_by_coverage = true;
};

// a = coverage × (1/255) in single precision; a^1.45 when `outline_width` is 0, linear
// otherwise; the byte is a × 255 + 0.5 truncated toward zero, never above 255.
void make_glyph_alpha_table(uint32_t outline_width, glyph_alpha_table_t* out);
// A distance field's values pass unchanged: every shader reads 128 as the outline.
void make_distance_field_alpha_table(glyph_alpha_table_t* out);

// The grey level of a pixel row `distance` rows below the set's top line: `start` down to
// `start_offset` rows, then `start` − `step` × (distance − `start_offset`), in single precision.
float gradient_factor(float start, float step, int32_t start_offset, int64_t distance);

// factor × coverage in single precision, truncated toward zero; values outside 0..255 are
// clamped (a gradient that runs past black or white stays there instead of wrapping).
uint8_t gradient_colour(float factor, uint8_t coverage);
