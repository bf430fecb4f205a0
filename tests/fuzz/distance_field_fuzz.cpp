// Fuzz target: distance fields of arbitrary outlines. The input gives the range, then points
// (x, y as 16-bit values in 1/64 pixel within a small box, so that cells stay small), each with
// a tag byte whose low bits pick on, conic or cubic and whose high bit ends a contour. Every
// field must build; its values and distances must agree, and a point's distance can never pass
// range / 2.
#include "tools/font_generator/faces/distance_field.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const float range = 1.0f + float(data[0] % 64);
    std::vector<FT_Vector> points;
    std::vector<char> tags;
    std::vector<short> ends;
    for (size_t at = 1; at + 5 <= size && points.size() < 2000; at += 5)
    {
        // Coordinates within ±32 pixels: fields of at most 128 × 128 pixels.
        const int16_t x = int16_t(data[at] | data[at + 1] << 8);
        const int16_t y = int16_t(data[at + 2] | data[at + 3] << 8);
        points.push_back(FT_Vector{ FT_Pos(x / 16), FT_Pos(y / 16) });
        const uint8_t tag = data[at + 4];
        tags.push_back(char(tag % 3 == 0 ? FT_CURVE_TAG_ON
                            : tag % 3 == 1 ? FT_CURVE_TAG_CONIC
                                           : FT_CURVE_TAG_CUBIC));
        if ((tag & 0x80) != 0)
            ends.push_back(short(points.size() - 1));
    }
    if (points.empty())
        return 0;
    if (ends.empty() || ends.back() != short(points.size() - 1))
        ends.push_back(short(points.size() - 1));
    // FreeType's walk refuses a contour that starts on a cubic control or holds a lone one; it
    // says so, and the field is then not made.
    FT_Outline outline{};
    outline.n_points = short(points.size());
    outline.n_contours = short(ends.size());
    outline.points = points.data();
    outline.tags = tags.data();
    outline.contours = ends.data();

    distance_field_t field;
    if (!field.build(outline, range))
        return 0;
    const distance_cell_t& cell = field.cell();
    if (!field.has_values() || cell.width == 0)
        return 0;
    const glyph_bitmap_t values = field.values();
    for (int32_t r = 0; r < cell.rows; ++r)
        for (int32_t c = 0; c < cell.width; ++c)
        {
            const float distance = field.distance_at(c, r);
            if (!(std::fabs(distance) <= range * 0.5f + 1e-3f))
                __builtin_trap();
            if (values.coverage_at(r, c) != distance_value(distance, range))
                __builtin_trap();
        }
    return 0;
}
