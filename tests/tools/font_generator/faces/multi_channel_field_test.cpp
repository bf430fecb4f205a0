// Multi-channel fields of polygons built here, read back as a shader reads them: each channel
// interpolated bilinearly, the median against one half.
#include "tools/font_generator/faces/multi_channel_field.h"
#include "tests/tools/font_generator/faces/test_outline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{

struct point_t
{
    double x;
    double y;
};

using polygon_t = std::vector<point_t>;

struct field_case_t
{
    const char* name;
    std::vector<polygon_t> contours;  // in outline pixels, y up
    // Corners of the filled region as (contour, vertex): the median must be right on either
    // side of them along their bisector, 0.3 px away.
    std::vector<std::pair<int, int>> corners;
};

polygon_t rectangle(double x0, double y0, double x1, double y1, bool clockwise = false)
{
    if (clockwise)
        return { { x0, y0 }, { x0, y1 }, { x1, y1 }, { x1, y0 } };
    return { { x0, y0 }, { x1, y0 }, { x1, y1 }, { x0, y1 } };
}

polygon_t star(double cx, double cy, double outer, double inner, int points)
{
    polygon_t polygon;
    const double pi = 3.14159265358979323846;
    for (int k = 0; k < 2 * points; ++k)
    {
        const double angle = pi / 2 + k * pi / points;
        const double radius = k % 2 == 0 ? outer : inner;
        polygon.push_back({ cx + radius * std::cos(angle), cy + radius * std::sin(angle) });
    }
    return polygon;
}

// Calls `visit(a, b)` for every edge of every contour.
template <typename visit_t>
void for_each_edge(const std::vector<polygon_t>& contours, visit_t visit)
{
    for (const polygon_t& polygon : contours)
        for (std::size_t k = 0; k < polygon.size(); ++k)
            visit(polygon[k], polygon[(k + 1) % polygon.size()]);
}

// The nonzero winding of all contours at the point.
bool filled(const std::vector<polygon_t>& contours, point_t p)
{
    int winding = 0;
    for_each_edge(contours, [&](const point_t& a, const point_t& b) {
        const bool up = a.y <= p.y && b.y > p.y;
        const bool down = b.y <= p.y && a.y > p.y;
        if ((up || down) && a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y) > p.x)
            winding += up ? 1 : -1;
    });
    return winding != 0;
}

double distance_to_edges(const std::vector<polygon_t>& contours, point_t p)
{
    double nearest = 1e30;
    for_each_edge(contours, [&](const point_t& a, const point_t& b) {
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double t =
            std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        nearest = std::min(nearest, std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y));
    });
    return nearest;
}

// The median read at a point in outline pixels, as a shader samples the cell.
bool reads_inside(const multi_channel_field_t& field, point_t p)
{
    const distance_cell_t& cell = field.cell();
    const glyph_bitmap_t values = field.values();
    const double u = std::clamp(p.x - cell.left - 0.5, 0.0, double(cell.width - 1));
    const double v = std::clamp(cell.top - p.y - 0.5, 0.0, double(cell.rows - 1));
    const int32_t c = std::min(int32_t(u), cell.width - 2);
    const int32_t r = std::min(int32_t(v), cell.rows - 2);
    const double fu = u - c;
    const double fv = v - r;
    double channels[3];
    for (int channel = 0; channel < 3; ++channel)
    {
        const auto at = [&](int32_t cc, int32_t rr) {
            return double(values.top_row[int64_t(rr) * values.pitch + 4 * cc + channel]) / 255;
        };
        channels[channel] = (at(c, r) * (1 - fu) + at(c + 1, r) * fu) * (1 - fv) +
                            (at(c, r + 1) * (1 - fu) + at(c + 1, r + 1) * fu) * fv;
    }
    const double median = std::max(std::min(channels[0], channels[1]),
                                   std::min(std::max(channels[0], channels[1]), channels[2]));
    return median >= 0.5;
}

const std::vector<field_case_t>& cases()
{
    static const std::vector<field_case_t> all = {
        { "square",
          { rectangle(1.3, 0.6, 11.3, 10.6) },
          { { 0, 0 }, { 0, 1 }, { 0, 2 }, { 0, 3 } } },
        { "sharp star",
          { star(12.2, 12.1, 11.0, 4.2, 5) },
          { { 0, 0 }, { 0, 1 }, { 0, 2 }, { 0, 4 }, { 0, 6 }, { 0, 8 } } },
        { "two overlapping squares",
          { rectangle(0.4, 0.3, 10.4, 10.3), rectangle(5.7, 4.8, 15.7, 14.8) },
          { { 0, 0 }, { 0, 1 }, { 0, 3 }, { 1, 1 }, { 1, 2 }, { 1, 3 } } },
        { "counter wound against the outline",
          { rectangle(0.2, 0.2, 16.2, 16.2), rectangle(5.2, 5.2, 11.2, 11.2, true) },
          { { 0, 0 }, { 0, 2 }, { 1, 0 }, { 1, 2 } } },
        { "clockwise outline, counter-clockwise counter",
          { rectangle(0.2, 0.2, 16.2, 16.2, true), rectangle(5.2, 5.2, 11.2, 11.2) },
          { { 0, 1 }, { 0, 3 }, { 1, 1 }, { 1, 3 } } },
        { "shared edge",
          { rectangle(0.5, 0.5, 6.5, 8.5), rectangle(6.5, 0.5, 12.5, 8.5) },
          { { 0, 0 }, { 0, 3 }, { 1, 1 }, { 1, 2 } } },
    };
    return all;
}

test_outline_t outline_of(const field_case_t& c)
{
    test_outline_t outline;
    for (const polygon_t& polygon : c.contours)
    {
        for (const point_t& p : polygon)
            outline.point(p.x, p.y);
        outline.end_contour();
    }
    return outline;
}

TEST(multi_channel_field, median_right_beyond_one_pixel_and_corners_kept)
{
    for (const distance_field_type_t type :
         { distance_field_type_t::msdf, distance_field_type_t::mtsdf })
        for (const float range : { 2.0f, 4.0f, 8.0f })
            for (const field_case_t& c : cases())
            {
                SCOPED_TRACE(testing::Message()
                             << c.name << ", range " << range << ", "
                             << (type == distance_field_type_t::msdf ? "msdf" : "mtsdf"));
                test_outline_t outline = outline_of(c);
                multi_channel_field_t field;
                ASSERT_TRUE(field.build(outline.outline(), range, type));
                ASSERT_TRUE(field.has_values());
                const distance_cell_t& cell = field.cell();
                int wrong = 0;
                for (int32_t r = 0; r < cell.rows * 4; ++r)
                    for (int32_t s = 0; s < cell.width * 4; ++s)
                    {
                        const point_t p{ cell.left + (s + 0.5) / 4, cell.top - (r + 0.5) / 4 };
                        if (distance_to_edges(c.contours, p) > 1.0 &&
                            reads_inside(field, p) != filled(c.contours, p))
                            ++wrong;
                    }
                EXPECT_EQ(wrong, 0);
                for (const auto& [contour, vertex] : c.corners)
                {
                    const polygon_t& polygon = c.contours[contour];
                    const point_t& v = polygon[vertex];
                    const point_t& before = polygon[(vertex + polygon.size() - 1) % polygon.size()];
                    const point_t& after = polygon[(vertex + 1) % polygon.size()];
                    const double bx =
                        (before.x - v.x) / std::hypot(before.x - v.x, before.y - v.y) +
                        (after.x - v.x) / std::hypot(after.x - v.x, after.y - v.y);
                    const double by =
                        (before.y - v.y) / std::hypot(before.x - v.x, before.y - v.y) +
                        (after.y - v.y) / std::hypot(after.x - v.x, after.y - v.y);
                    const double length = std::hypot(bx, by);
                    for (const double step : { -0.3, 0.3 })
                    {
                        const point_t p{ v.x + step * bx / length, v.y + step * by / length };
                        EXPECT_EQ(reads_inside(field, p), filled(c.contours, p))
                            << "corner " << contour << ":" << vertex << " step " << step;
                    }
                }
                // The fourth channel: 255, or the exact field byte for byte.
                const glyph_bitmap_t values = field.values();
                const glyph_bitmap_t exact = field.exact().values();
                int alpha_differs = 0;
                for (int32_t r = 0; r < cell.rows; ++r)
                    for (int32_t s = 0; s < cell.width; ++s)
                        alpha_differs += values.top_row[r * values.pitch + 4 * s + 3] !=
                                         (type == distance_field_type_t::msdf
                                              ? 255
                                              : exact.top_row[r * exact.pitch + s]);
                EXPECT_EQ(alpha_differs, 0);
            }
}

}  // namespace

TEST(multi_channel_field, glyphs_of_real_fonts_read_right_beyond_one_pixel)
{
    // Against the exact field of the same outline four times as large, at its pixel centres.
    const char* const fonts[] = { "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                  "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf",
                                  "/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf" };
    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    multi_channel_field_t field;
    distance_field_t larger;
    for (const char* font : fonts)
        for (const uint32_t pixels : { 16u, 32u })
        {
            SCOPED_TRACE(testing::Message() << font << " at " << pixels << " px");
            FT_Face face;
            ASSERT_EQ(FT_New_Face(library, font, 0, &face), 0);
            ASSERT_EQ(FT_Set_Pixel_Sizes(face, pixels, pixels), 0);
            int wrong = 0;
            for (uint32_t code = 0x21; code <= 0x7E; ++code)
            {
                ASSERT_EQ(FT_Load_Char(face, code, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0);
                const FT_Outline& outline = face->glyph->outline;
                ASSERT_TRUE(field.build(outline, float(pixels) / 8, distance_field_type_t::msdf));
                std::vector<FT_Vector> points(outline.points, outline.points + outline.n_points);
                for (FT_Vector& point : points)
                    point = FT_Vector{ point.x * 4, point.y * 4 };
                FT_Outline scaled = outline;
                scaled.points = points.data();
                ASSERT_TRUE(larger.build(scaled, 12.0f));
                const distance_cell_t& cell = larger.cell();
                for (int32_t r = 0; r < cell.rows; ++r)
                    for (int32_t c = 0; c < cell.width; ++c)
                    {
                        const float distance = larger.distance_at(c, r);
                        const point_t p{ (cell.left + c + 0.5) / 4, (cell.top - r - 0.5) / 4 };
                        if (std::fabs(distance) > 4.0f && reads_inside(field, p) != (distance > 0))
                            ++wrong;
                    }
            }
            EXPECT_EQ(wrong, 0);
            FT_Done_Face(face);
        }
    FT_Done_FreeType(library);
}
