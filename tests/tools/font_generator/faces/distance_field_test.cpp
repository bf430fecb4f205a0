// Distance fields of outlines built here, whose distances are known: squares, overlapping and
// nested contours, a conic and a cubic, degenerate contours.
#include "tools/font_generator/faces/distance_field.h"
#include "tests/tools/font_generator/faces/test_outline.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace
{

constexpr double within = 1.0 / 64;  // pixels

// The centre of pixel (c, r) of the field's cell in outline pixels, y up.
struct centre_t
{
    double x;
    double y;
};

centre_t centre_of(const distance_cell_t& cell, int32_t c, int32_t r)
{
    return { cell.left + c + 0.5, cell.top - r - 0.5 };
}

double distance_to_segment(centre_t p, centre_t a, centre_t b)
{
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length_squared = dx * dx + dy * dy;
    const double t =
        length_squared > 0
            ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length_squared, 0.0, 1.0)
            : 0.0;
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// Signed distance from p to an axis-aligned rectangle's boundary, positive inside.
double rectangle_distance(centre_t p, double x0, double y0, double x1, double y1)
{
    const double outside_x = std::max({ x0 - p.x, 0.0, p.x - x1 });
    const double outside_y = std::max({ y0 - p.y, 0.0, p.y - y1 });
    if (outside_x > 0 || outside_y > 0)
        return -std::hypot(outside_x, outside_y);
    return std::min({ p.x - x0, x1 - p.x, p.y - y0, y1 - p.y });
}

// Every pixel of the field against `exact` (clamped to ± range / 2), within 1/64 pixel.
void expect_distances(const distance_field_t& field, float range,
                      const std::function<double(centre_t)>& exact)
{
    const distance_cell_t& cell = field.cell();
    const double far = range * 0.5;
    int failures = 0;
    for (int32_t r = 0; r < cell.rows; ++r)
        for (int32_t c = 0; c < cell.width; ++c)
        {
            const centre_t p = centre_of(cell, c, r);
            const double want = std::clamp(exact(p), -far, far);
            const double got = field.distance_at(c, r);
            if (std::fabs(got - want) > within && ++failures <= 5)
                ADD_FAILURE() << "pixel (" << c << ", " << r << ") at (" << p.x << ", " << p.y
                              << "): " << got << ", want " << want;
        }
    EXPECT_EQ(failures, 0);
}

TEST(distance_field, square_cell_distances_and_values)
{
    test_outline_t square;
    square.rectangle(0.5, 0.5, 10.5, 10.5);
    distance_field_t field;
    ASSERT_TRUE(field.build(square.outline(), 8.0f));
    ASSERT_TRUE(field.has_values());
    // Control box 0..11 grown by ceil(8 / 2) = 4.
    const distance_cell_t& cell = field.cell();
    EXPECT_EQ(cell.left, -4);
    EXPECT_EQ(cell.top, 15);
    EXPECT_EQ(cell.width, 19);
    EXPECT_EQ(cell.rows, 19);
    expect_distances(field, 8.0f,
                     [](centre_t p) { return rectangle_distance(p, 0.5, 0.5, 10.5, 10.5); });

    // Column 4 has its centres on the left edge; 4 pixels in, 4 pixels out are the extremes.
    const glyph_bitmap_t values = field.values();
    EXPECT_EQ(values.coverage_at(9, 4), 128);
    EXPECT_EQ(values.coverage_at(9, 8), 255);
    EXPECT_EQ(values.coverage_at(9, 0), 0);
    EXPECT_EQ(values.coverage_at(9, 6), distance_value(2.0f, 8.0f));
    EXPECT_EQ(distance_value(2.0f, 8.0f), 191);  // round(255 × 0.75)
    EXPECT_EQ(distance_value(-1.0f, 8.0f), 96);  // round(255 × 0.375)

    // The interior is the control box, 11 × 11, covered as drawn: the outline runs through the
    // centres of its outer pixels.
    const glyph_bitmap_t interior = field.interior();
    EXPECT_EQ(interior.width, 11);
    EXPECT_EQ(interior.rows, 11);
    EXPECT_EQ(interior.coverage_at(0, 0), 128);
    EXPECT_EQ(interior.coverage_at(0, 5), 128);
    EXPECT_EQ(interior.coverage_at(5, 5), 255);
    EXPECT_EQ(interior.coverage_at(1, 1), 255);
}

TEST(distance_field, overlapping_contours_leave_no_hole_and_no_seam)
{
    // Two squares wound alike overlapping in [5, 10] × [0, 10]: together the rectangle
    // [0, 15] × [0, 10]; a third one sharing the edge x = 15 wound alike makes it [0, 20].
    test_outline_t overlapping;
    overlapping.rectangle(0, 0, 10, 10).rectangle(5, 0, 15, 10).rectangle(15, 0, 20, 10);
    distance_field_t field;
    ASSERT_TRUE(field.build(overlapping.outline(), 16.0f));
    expect_distances(field, 16.0f,
                     [](centre_t p) { return rectangle_distance(p, 0, 0, 20, 10); });
}

TEST(distance_field, contour_wound_the_other_way_is_a_counter)
{
    for (bool outer_clockwise : { false, true })
    {
        SCOPED_TRACE(outer_clockwise);
        test_outline_t ring;
        ring.rectangle(0, 0, 12, 12, outer_clockwise).rectangle(4, 4, 8, 8, !outer_clockwise);
        distance_field_t field;
        ASSERT_TRUE(field.build(ring.outline(), 8.0f));
        expect_distances(field, 8.0f, [](centre_t p) {
            const double outer = rectangle_distance(p, 0, 0, 12, 12);
            const double counter = rectangle_distance(p, 4, 4, 8, 8);
            return counter > 0 ? -counter : std::min(outer, -counter);
        });
        EXPECT_LT(field.values().coverage_at(field.cell().rows / 2, field.cell().width / 2), 128);
    }
}

// A closed curve, sampled finely for the exact distance, and its signed distance: positive
// where the sampled polygon winds around p.
double polygon_distance(const std::vector<centre_t>& polygon, centre_t p)
{
    double nearest = 1e30;
    int winding = 0;
    for (std::size_t i = 0; i < polygon.size(); ++i)
    {
        const centre_t a = polygon[i];
        const centre_t b = polygon[(i + 1) % polygon.size()];
        nearest = std::min(nearest, distance_to_segment(p, a, b));
        const double side = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
        if (a.y <= p.y && b.y > p.y && side > 0)
            ++winding;
        else if (a.y > p.y && b.y <= p.y && side < 0)
            --winding;
    }
    return winding != 0 ? nearest : -nearest;
}

TEST(distance_field, conic_and_cubic_curves)
{
    constexpr int samples = 4096;
    // A conic arch over the chord (0, 0)-(10, 0) with its control point at (5, 10).
    test_outline_t conic;
    conic.point(0, 0).point(5, 10, FT_CURVE_TAG_CONIC).point(10, 0).end_contour();
    std::vector<centre_t> conic_polygon;
    for (int i = 0; i < samples; ++i)
    {
        const double t = double(i) / samples;
        conic_polygon.push_back({ 10 * t, 20 * t * (1 - t) });
    }
    // A cubic arch from (0, 0) to (10, 0) through controls (-2, 12) and (14, 9): bulging past
    // its end points on both sides.
    test_outline_t cubic;
    cubic.point(0, 0)
        .point(-2, 12, FT_CURVE_TAG_CUBIC)
        .point(14, 9, FT_CURVE_TAG_CUBIC)
        .point(10, 0)
        .end_contour();
    std::vector<centre_t> cubic_polygon;
    for (int i = 0; i < samples; ++i)
    {
        const double t = double(i) / samples;
        const double u = 1 - t;
        cubic_polygon.push_back({ 3 * u * u * t * -2 + 3 * u * t * t * 14 + t * t * t * 10,
                                  3 * u * u * t * 12 + 3 * u * t * t * 9 });
    }
    struct case_t
    {
        const char* name;
        test_outline_t* outline;
        const std::vector<centre_t>* polygon;
    };
    for (const case_t& c : { case_t{ "conic", &conic, &conic_polygon },
                             case_t{ "cubic", &cubic, &cubic_polygon } })
    {
        SCOPED_TRACE(c.name);
        distance_field_t field;
        ASSERT_TRUE(field.build(c.outline->outline(), 12.0f));
        expect_distances(field, 12.0f,
                         [&](centre_t p) { return polygon_distance(*c.polygon, p); });
    }
}

TEST(distance_field, degenerate_contours_and_empty_outlines)
{
    // A line there and back and a lone pair of points beside a square: only the square counts.
    test_outline_t with_degenerate;
    with_degenerate.rectangle(0, 0, 6, 6)
        .point(1, 1)
        .point(5, 5)
        .point(3, 3)
        .end_contour()
        .point(2, 2)
        .point(4, 4)
        .end_contour();
    distance_field_t field;
    ASSERT_TRUE(field.build(with_degenerate.outline(), 4.0f));
    expect_distances(field, 4.0f, [](centre_t p) { return rectangle_distance(p, 0, 0, 6, 6); });

    // Only degenerate contours: a cell of its control box, every value outside.
    test_outline_t only_degenerate;
    only_degenerate.point(0, 0).point(3, 3).end_contour();
    ASSERT_TRUE(field.build(only_degenerate.outline(), 4.0f));
    EXPECT_EQ(field.cell().width, 3 + 4);
    const glyph_bitmap_t values = field.values();
    for (int32_t r = 0; r < values.rows; ++r)
        for (int32_t c = 0; c < values.width; ++c)
            EXPECT_EQ(values.coverage_at(r, c), 0);

    // An outline FreeType cannot walk (a contour of a lone cubic control point): no values.
    test_outline_t broken;
    broken.point(1, 1, FT_CURVE_TAG_CUBIC).point(4, 4).point(1, 4).end_contour();
    ASSERT_TRUE(field.build(broken.outline(), 4.0f));
    EXPECT_TRUE(field.is_invalid());
    EXPECT_FALSE(field.has_values());

    // No points: an empty cell, as the space has.
    test_outline_t empty;
    ASSERT_TRUE(field.build(empty.outline(), 4.0f));
    EXPECT_EQ(field.cell().width, 0);
    EXPECT_EQ(field.cell().rows, 0);
    EXPECT_EQ(field.values().top_row, nullptr);
}

TEST(distance_field, padding_and_values_over_the_range)
{
    EXPECT_EQ(distance_field_padding(1.0f), 1u);
    EXPECT_EQ(distance_field_padding(4.0f), 2u);
    EXPECT_EQ(distance_field_padding(4.5f), 3u);
    EXPECT_EQ(distance_field_padding(64.0f), 32u);
    for (float range : { 1.0f, 4.0f, 8.0f, 64.0f })
    {
        EXPECT_EQ(distance_value(0.0f, range), 128);
        EXPECT_EQ(distance_value(range / 2, range), 255);
        EXPECT_EQ(distance_value(range, range), 255);
        EXPECT_EQ(distance_value(-range / 2, range), 0);
        EXPECT_EQ(distance_value(-range, range), 0);
    }
}

}  // namespace
