// Glyph pixel values, in single precision as the pictures expect them on every machine.
#include "tools/font_generator/packing/glyph_pixels.h"

#include <cmath>

void make_glyph_alpha_table(uint32_t outline_width, glyph_alpha_table_t* out)
{
    const float one_255th = 1.0f / 255.0f;
    for (uint32_t coverage = 0; coverage < 256; ++coverage)
    {
        float a = float(coverage) * one_255th;
        if (outline_width == 0)
            a = powf(a, 1.45f);
        const float scaled = a * 255.0f + 0.5f;
        out->alpha[coverage] = scaled >= 255.0f ? uint8_t(255) : uint8_t(scaled);
    }
}

void make_distance_field_alpha_table(glyph_alpha_table_t* out)
{
    for (uint32_t value = 0; value < 256; ++value)
        out->alpha[value] = uint8_t(value);
    out->colour_by_coverage = false;
}

float gradient_factor(float start, float step, int32_t start_offset, int64_t distance)
{
    if (distance > start_offset)
        return start - step * float(distance - start_offset);
    return start;
}

uint8_t gradient_colour(float factor, uint8_t coverage)
{
    const float value = factor * float(coverage);
    if (!(value > 0.0f))  // also NaN
        return 0;
    if (value >= 255.0f)
        return 255;
    return uint8_t(value);
}
