// Distance fields from outlines: flattening, the boundary of the filled region, distances and
// inside.
//
// Sections: values, flattening, the boundary, distances and inside.
//
// Curves become chords at most `flatness` from them. Where contours cross or touch, edges are
// cut; the runs of pieces between cuts ("chains") each lie wholly on the boundary of the filled
// region or wholly off it, which the winding on either side of one of their pieces tells. Only
// boundary pieces give distances, and only to pixels within range / 2 of them: beyond that
// every value is 0 or 255 anyway. Inside is the nonzero winding of each pixel centre, from the
// crossings of its row.
#include "tools/font_generator/faces/distance_field.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{

// Pixels between a curve and its chords: half the 1/64 pixel the distances may be off by.
constexpr double flatness = 1.0 / 128;
constexpr uint32_t max_chords_per_curve = 4096;
// Pixels within which points count as one where edges are cut.
constexpr double cut_tolerance = 1e-6;
// Pixels from a piece at which the winding on its sides is asked.
constexpr double side_offset = 1e-3;

constexpr double one_64th = 1.0 / 64;

// Four columns at once, in the compiler's vector extension: exactly the single-precision
// operations one column at a time would do.
typedef float float4_t __attribute__((vector_size(16)));

double cross(double ax, double ay, double bx, double by)
{
    return ax * by - ay * bx;
}

double length_of(double x, double y)
{
    return std::sqrt(x * x + y * y);
}

}  // namespace

// ---- values -------------------------------------------------------------------------------------

uint32_t distance_field_padding(float range)
{
    return uint32_t(std::ceil(double(range) * 0.5));
}

glyph_bitmap_t distance_field_t::values() const
{
    glyph_bitmap_t bitmap;
    bitmap.width = m_cell.width;
    bitmap.rows = m_cell.rows;
    bitmap.pitch = m_cell.width;
    bitmap.mode = glyph_pixel_mode_t::gray;
    bitmap.top_row = m_has_values && !m_values.empty() ? m_values.data() : nullptr;
    return bitmap;
}

glyph_bitmap_t distance_field_t::interior() const
{
    const int32_t pad = m_padding;
    glyph_bitmap_t bitmap;
    bitmap.width = std::max(m_cell.width - 2 * pad, 0);
    bitmap.rows = std::max(m_cell.rows - 2 * pad, 0);
    bitmap.pitch = bitmap.width;
    bitmap.mode = glyph_pixel_mode_t::gray;
    bitmap.top_row = m_has_values && !m_interior.empty() ? m_interior.data() : nullptr;
    return bitmap;
}

float distance_field_t::distance_at(int32_t column, int32_t row) const
{
    return m_distance[uint32_t(row) * m_stride + uint32_t(column)];
}

// Every pixel's signed distance, so that values and coverage come from one square root each.
void distance_field_t::sign_distances()
{
    const uint32_t count = m_distance.size();
    float* distances = m_distance.data();
    const uint8_t* inside = m_inside.data();
    for (uint32_t i = 0; i < count; ++i)
    {
        const float distance = std::sqrt(distances[i]);
        distances[i] = inside[i] != 0 ? distance : -distance;
    }
}

void distance_field_t::make_values()
{
    // Locals: the byte stores could otherwise change the cell's size as far as the compiler knows.
    const float* distances = m_distance.data();
    const float range = m_range;
    const int32_t cell_width = m_cell.width;
    const int32_t cell_rows = m_cell.rows;
    for (int32_t r = 0; r < cell_rows; ++r)
    {
        const float* row = distances + int64_t(r) * m_stride;
        uint8_t* values = m_values.data() + int64_t(r) * cell_width;
        for (int32_t c = 0; c < cell_width; ++c)
            values[c] = distance_value(row[c], range);
    }
    const int32_t pad = m_padding;
    const int32_t width = std::max(m_cell.width - 2 * pad, 0);
    const int32_t rows = std::max(m_cell.rows - 2 * pad, 0);
    uint8_t* interior = m_interior.data();
    for (int32_t r = 0; r < rows; ++r)
    {
        const float* row = distances + int64_t(r + pad) * m_stride + pad;
        for (int32_t c = 0; c < width; ++c)
        {
            const float coverage = std::clamp(0.5f + row[c], 0.0f, 1.0f);
            interior[r * width + c] = uint8_t(coverage * 255.0f + 0.5f);
        }
    }
}

bool distance_field_t::build(const FT_Outline_& outline, float range, uint32_t extra_padding)
{
    m_range = range;
    // Both are at most 64: the sum stays far from overflow.
    m_padding = int32_t(distance_field_padding(range) + extra_padding);
    m_cell = distance_cell_t{};
    m_has_values = false;
    m_invalid = false;
    if (outline.n_points <= 0 || outline.n_contours <= 0)
    {
        // An empty cell has all its values: none.
        m_values.clear();
        m_interior.clear();
        m_has_values = true;
        return true;
    }

    FT_BBox box;
    FT_Outline_Get_CBox(&outline, &box);
    const int64_t pad = m_padding;
    const int64_t left = int64_t(box.xMin >> 6) - pad;
    const int64_t right = int64_t((box.xMax + 63) >> 6) + pad;
    const int64_t bottom = int64_t(box.yMin >> 6) - pad;
    const int64_t top = int64_t((box.yMax + 63) >> 6) + pad;
    const auto saturate = [](int64_t value) {
        return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
    };
    m_cell.left = saturate(left);
    m_cell.top = saturate(top);
    m_cell.width = saturate(right - left);
    m_cell.rows = saturate(top - bottom);
    if (m_cell.width > max_distance_cell_side || m_cell.rows > max_distance_cell_side)
        return true;
    m_origin = point_t{ double(left), double(top) };

    // Rows of whole groups of four, so that the pixel loops run in groups without a remainder.
    m_stride = (uint32_t(m_cell.width) + 3) & ~3u;
    const uint32_t count = m_stride * uint32_t(m_cell.rows);
    const uint32_t interior_count =
        uint32_t(m_cell.width - 2 * pad) * uint32_t(m_cell.rows - 2 * pad);
    const float far = range * 0.5f;
    if (!m_distance.resize(count) || !m_inside.resize(count) ||
        !m_values.resize(uint32_t(m_cell.width) * uint32_t(m_cell.rows)) ||
        !m_interior.resize(interior_count))
        return false;
    const int walked = flatten(outline);
    if (walked != 0)
    {
        m_invalid = walked != FT_Err_Out_Of_Memory;
        return m_invalid;
    }
    if (!find_cuts() || !make_pieces() || !classify_chains() || !decide_inside())
        return false;
    std::fill(m_distance.begin(), m_distance.end(), far * far);
    measure_distances();
    sign_distances();
    make_values();
    m_has_values = true;
    return true;
}

// ---- flattening ---------------------------------------------------------------------------------

// FreeType's outline walk, adding the chords of every segment to the contour being flattened
// and marking the points where one segment turns into the next by more than
// corner_turn_degrees.
struct outline_walk_t
{
    distance_field_t* field;
    distance_field_t::point_t last;
    distance_field_t::point_t last_direction;   // the last segment's at its end; 0 before one
    distance_field_t::point_t first_direction;  // the contour's first segment's at its start

    distance_field_t::point_t to_cell(const FT_Vector* v) const
    {
        return { double(v->x) * one_64th - field->m_origin.x,
                 field->m_origin.y - double(v->y) * one_64th };
    }

    int add(distance_field_t::point_t p)
    {
        last = p;
        return field->m_contour.append(p) && field->m_contour_corners.append(0)
                   ? 0
                   : FT_Err_Out_Of_Memory;
    }

    static bool is_zero(distance_field_t::point_t d) { return d.x == 0 && d.y == 0; }

    static bool turns(distance_field_t::point_t from, distance_field_t::point_t to)
    {
        static const double cosine = std::cos(corner_turn_degrees * 3.14159265358979323846 / 180);
        if (is_zero(from) || is_zero(to))
            return false;
        return from.x * to.x + from.y * to.y <
               cosine * length_of(from.x, from.y) * length_of(to.x, to.y);
    }

    // A segment leaves the last point in `start` and arrives in `end` (zero for no length).
    void segment(distance_field_t::point_t start, distance_field_t::point_t end)
    {
        if (is_zero(start))
            return;
        if (is_zero(first_direction))
            first_direction = start;
        else if (turns(last_direction, start) && !field->m_contour_corners.empty())
            field->m_contour_corners[field->m_contour_corners.size() - 1] = 1;
        last_direction = end;
    }

    bool close()
    {
        if (!field->m_contour_corners.empty() && turns(last_direction, first_direction))
            field->m_contour_corners[0] = 1;
        last_direction = first_direction = { 0, 0 };
        return field->close_contour();
    }

    static distance_field_t::point_t direction(distance_field_t::point_t from,
                                               distance_field_t::point_t to)
    {
        return { to.x - from.x, to.y - from.y };
    }

    // The first of the directions that is not zero.
    static distance_field_t::point_t first_of(distance_field_t::point_t a,
                                              distance_field_t::point_t b,
                                              distance_field_t::point_t c = { 0, 0 })
    {
        return !is_zero(a) ? a : !is_zero(b) ? b : c;
    }

    static int move_to(const FT_Vector* to, void* user)
    {
        outline_walk_t* walk = static_cast<outline_walk_t*>(user);
        if (!walk->close())
            return FT_Err_Out_Of_Memory;
        return walk->add(walk->to_cell(to));
    }

    static int line_to(const FT_Vector* to, void* user)
    {
        outline_walk_t* walk = static_cast<outline_walk_t*>(user);
        const distance_field_t::point_t p = walk->to_cell(to);
        const distance_field_t::point_t d = direction(walk->last, p);
        walk->segment(d, d);
        return walk->add(p);
    }

    static uint32_t chords_for(double bend)
    {
        const double chords = std::ceil(std::sqrt(bend / (4.0 * flatness)));
        return chords >= max_chords_per_curve ? max_chords_per_curve
                                              : std::max<uint32_t>(uint32_t(chords), 1);
    }

    // A quadratic's chords over n equal steps lie within |p0 - 2 p1 + p2| / (4 n²) of it.
    static int conic_to(const FT_Vector* control, const FT_Vector* to, void* user)
    {
        outline_walk_t* walk = static_cast<outline_walk_t*>(user);
        const distance_field_t::point_t p0 = walk->last;
        const distance_field_t::point_t p1 = walk->to_cell(control);
        const distance_field_t::point_t p2 = walk->to_cell(to);
        walk->segment(first_of(direction(p0, p1), direction(p0, p2)),
                      first_of(direction(p1, p2), direction(p0, p2)));
        const uint32_t n =
            chords_for(length_of(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y));
        for (uint32_t i = 1; i < n; ++i)
        {
            const double t = double(i) / n;
            const double u = 1 - t;
            if (walk->add({ u * u * p0.x + 2 * u * t * p1.x + t * t * p2.x,
                            u * u * p0.y + 2 * u * t * p1.y + t * t * p2.y }) != 0)
                return FT_Err_Out_Of_Memory;
        }
        return walk->add(p2);
    }

    // A cubic's second derivative is at most 6 max(|p0 - 2 p1 + p2|, |p1 - 2 p2 + p3|).
    static int cubic_to(const FT_Vector* control1, const FT_Vector* control2,
                        const FT_Vector* to, void* user)
    {
        outline_walk_t* walk = static_cast<outline_walk_t*>(user);
        const distance_field_t::point_t p0 = walk->last;
        const distance_field_t::point_t p1 = walk->to_cell(control1);
        const distance_field_t::point_t p2 = walk->to_cell(control2);
        const distance_field_t::point_t p3 = walk->to_cell(to);
        walk->segment(first_of(direction(p0, p1), direction(p0, p2), direction(p0, p3)),
                      first_of(direction(p2, p3), direction(p1, p3), direction(p0, p3)));
        const double bend = std::max(length_of(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                                     length_of(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
        const uint32_t n = chords_for(3 * bend);
        for (uint32_t i = 1; i < n; ++i)
        {
            const double t = double(i) / n;
            const double u = 1 - t;
            const double a = u * u * u;
            const double b = 3 * u * u * t;
            const double c = 3 * u * t * t;
            const double d = t * t * t;
            if (walk->add({ a * p0.x + b * p1.x + c * p2.x + d * p3.x,
                            a * p0.y + b * p1.y + c * p2.y + d * p3.y }) != 0)
                return FT_Err_Out_Of_Memory;
        }
        return walk->add(p3);
    }
};

int distance_field_t::flatten(const FT_Outline_& outline)
{
    m_contour.clear();
    m_contour_corners.clear();
    m_edges.clear();
    m_contours.clear();
    FT_Outline_Funcs funcs;
    funcs.move_to = &outline_walk_t::move_to;
    funcs.line_to = &outline_walk_t::line_to;
    funcs.conic_to = &outline_walk_t::conic_to;
    funcs.cubic_to = &outline_walk_t::cubic_to;
    funcs.shift = 0;
    funcs.delta = 0;
    outline_walk_t walk{ this, { 0, 0 }, { 0, 0 }, { 0, 0 } };
    const FT_Error walked = FT_Outline_Decompose(const_cast<FT_Outline*>(&outline), &funcs, &walk);
    if (walked != 0)
        return walked;
    return walk.close() ? 0 : FT_Err_Out_Of_Memory;
}

// Turns the flattened contour into edges, unless it has fewer than three distinct points or no
// area: such a contour fills nothing.
bool distance_field_t::close_contour()
{
    array_dyn_t<point_t>& points = m_contour;
    uint8_t* corners = m_contour_corners.data();
    uint32_t count = 0;
    for (uint32_t i = 0; i < points.size(); ++i)
    {
        if (count == 0 || points[i].x != points[count - 1].x || points[i].y != points[count - 1].y)
        {
            corners[count] = corners[i];
            points[count++] = points[i];
        }
        else
            corners[count - 1] |= corners[i];
    }
    while (count > 1 && points[count - 1].x == points[0].x && points[count - 1].y == points[0].y)
        corners[0] |= corners[--count];
    bool has_area = false;
    for (uint32_t i = 1; i + 1 < count && !has_area; ++i)
        has_area = cross(points[i].x - points[0].x, points[i].y - points[0].y,
                         points[i + 1].x - points[0].x, points[i + 1].y - points[0].y) != 0;
    if (count >= 3 && has_area)
    {
        const uint32_t first = m_edges.size();
        if (!m_edges.reserve_more(count) || !m_contours.reserve_more(1))
            return false;
        bounds_t box{ points[0].y, points[0].y, points[0].x, points[0].x, first };
        for (uint32_t i = 0; i < count; ++i)
        {
            const point_t& a = points[i];
            const point_t& b = points[(i + 1) % count];
            (void)m_edges.append(edge_t{ a, b, length_of(b.x - a.x, b.y - a.y), first,
                                         first + count - 1, corners[i] != 0 });
            box.top = std::min(box.top, a.y);
            box.bottom = std::max(box.bottom, a.y);
            box.left = std::min(box.left, a.x);
            box.right = std::max(box.right, a.x);
        }
        (void)m_contours.append(box);
    }
    points.clear();
    m_contour_corners.clear();
    return true;
}

// ---- the boundary -------------------------------------------------------------------------------

bool distance_field_t::add_cut(uint32_t edge, double t, double tolerance)
{
    if (t < -tolerance || t > 1 + tolerance)
        return true;
    return m_cuts.append(cut_t{ edge, t <= tolerance ? 0.0 : t >= 1 - tolerance ? 1.0 : t });
}

// Cuts two edges where they cross or touch, and both ends of a stretch they share.
bool distance_field_t::cut_pair(uint32_t e, uint32_t f)
{
    const edge_t& p = m_edges[e];
    const edge_t& q = m_edges[f];
    const bool same_contour = p.first_edge == q.first_edge;
    // Neighbours in a contour meet at their shared point; only a shared stretch matters there.
    const bool neighbours =
        same_contour && (f == e + 1 || e == f + 1 || (e == p.first_edge && f == p.last_edge) ||
                         (f == p.first_edge && e == p.last_edge));
    const double rx = p.b.x - p.a.x;
    const double ry = p.b.y - p.a.y;
    const double sx = q.b.x - q.a.x;
    const double sy = q.b.y - q.a.y;
    const double qx = q.a.x - p.a.x;
    const double qy = q.a.y - p.a.y;
    const double r_length = p.length;
    const double s_length = q.length;
    const double p_tolerance = cut_tolerance / r_length;
    const double q_tolerance = cut_tolerance / s_length;
    const double denominator = cross(rx, ry, sx, sy);
    if (std::fabs(denominator) > 1e-12 * r_length * s_length)
    {
        if (neighbours)
            return true;
        const double t = cross(qx, qy, sx, sy) / denominator;
        const double u = cross(qx, qy, rx, ry) / denominator;
        if (t < -p_tolerance || t > 1 + p_tolerance || u < -q_tolerance || u > 1 + q_tolerance)
            return true;
        return add_cut(e, t, p_tolerance) && add_cut(f, u, q_tolerance);
    }
    // Parallel: only edges on one line share anything.
    if (std::fabs(cross(qx, qy, rx, ry)) > cut_tolerance * r_length)
        return true;
    const auto along = [](const point_t& from, double dx, double dy, double length,
                          const point_t& point) {
        return ((point.x - from.x) * dx + (point.y - from.y) * dy) / (length * length);
    };
    return add_cut(e, along(p.a, rx, ry, r_length, q.a), p_tolerance) &&
           add_cut(e, along(p.a, rx, ry, r_length, q.b), p_tolerance) &&
           add_cut(f, along(q.a, sx, sy, s_length, p.a), q_tolerance) &&
           add_cut(f, along(q.a, sx, sy, s_length, p.b), q_tolerance);
}

namespace
{

// Bounds a little wide, so that no pair that touches is passed over; cut_pair decides.
constexpr double bounds_margin = 1.0 / 1024;

template <typename bounds_t> bool overlap(const bounds_t& a, const bounds_t& b)
{
    return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

}  // namespace

// Edges can only meet within one contour or where two contours' boxes overlap: each contour's
// edges are swept by their tops, and of two contours only the edges inside the other's box are
// paired.
bool distance_field_t::find_cuts()
{
    m_cuts.clear();
    const uint32_t count = m_edges.size();
    if (!m_bounds.resize(count))
        return false;
    bounds_t* bounds = m_bounds.data();
    for (uint32_t i = 0; i < count; ++i)
    {
        const edge_t& edge = m_edges.data()[i];
        bounds[i] = bounds_t{ std::min(edge.a.y, edge.b.y) - bounds_margin,
                              std::max(edge.a.y, edge.b.y) + bounds_margin,
                              std::min(edge.a.x, edge.b.x) - bounds_margin,
                              std::max(edge.a.x, edge.b.x) + bounds_margin, i };
    }
    const uint32_t contours = m_contours.size();
    for (uint32_t k = 0; k < contours; ++k)
    {
        bounds_t& box = m_contours[k];
        const uint32_t first = box.edge;
        const uint32_t end = m_edges[first].last_edge + 1;
        box.top -= bounds_margin;
        box.bottom += bounds_margin;
        box.left -= bounds_margin;
        box.right += bounds_margin;
        std::sort(bounds + first, bounds + end,
                  [](const bounds_t& a, const bounds_t& b) { return a.top < b.top; });
        for (uint32_t i = first; i < end; ++i)
            for (uint32_t j = i + 1; j < end && bounds[j].top <= bounds[i].bottom; ++j)
                if (overlap(bounds[i], bounds[j]) && !cut_pair(bounds[i].edge, bounds[j].edge))
                    return false;
    }
    for (uint32_t k = 0; k < contours; ++k)
    {
        for (uint32_t l = k + 1; l < contours; ++l)
        {
            const bounds_t& a = m_contours[k];
            const bounds_t& b = m_contours[l];
            if (!overlap(a, b))
                continue;
            m_near.clear();
            for (uint32_t i = a.edge; i <= m_edges[a.edge].last_edge; ++i)
                if (overlap(bounds[i], b) && !m_near.append(bounds[i]))
                    return false;
            const uint32_t near_a = m_near.size();
            for (uint32_t j = b.edge; j <= m_edges[b.edge].last_edge; ++j)
                if (overlap(bounds[j], a) && !m_near.append(bounds[j]))
                    return false;
            const bounds_t* near = m_near.data();
            for (uint32_t i = 0; i < near_a; ++i)
                for (uint32_t j = near_a; j < m_near.size(); ++j)
                    if (overlap(near[i], near[j]) && !cut_pair(near[i].edge, near[j].edge))
                        return false;
        }
    }
    std::sort(m_cuts.begin(), m_cuts.end(), [](const cut_t& a, const cut_t& b) {
        return a.edge != b.edge ? a.edge < b.edge : a.t < b.t;
    });
    return true;
}

// Splits the edges at their cuts into pieces, numbering the chains: a chain ends wherever an
// edge is cut, at a split or at one of its ends.
bool distance_field_t::make_pieces()
{
    m_pieces.clear();
    m_chains = 0;
    const uint32_t count = m_edges.size();
    if (!m_pieces.reserve(count + m_cuts.size()))
        return false;
    const cut_t* cut = m_cuts.begin();
    const cut_t* cuts_end = m_cuts.end();
    bool break_before = true;  // a chain starts with every contour
    for (uint32_t e = 0; e < count; ++e)
    {
        const edge_t& edge = m_edges[e];
        if (e == edge.first_edge)
            break_before = true;
        double from = 0;
        for (; cut != cuts_end && cut->edge == e; ++cut)
        {
            if (cut->t <= 0)
                break_before = true;
            else if (cut->t >= 1)
                break;
            else if (cut->t > from)
            {
                if (break_before)
                    ++m_chains;
                break_before = true;
                const double dx = edge.b.x - edge.a.x;
                const double dy = edge.b.y - edge.a.y;
                (void)m_pieces.append(piece_t{
                    { edge.a.x + from * dx, edge.a.y + from * dy },
                    { edge.a.x + cut->t * dx, edge.a.y + cut->t * dy }, m_chains - 1, e });
                from = cut->t;
            }
        }
        const bool break_after = cut != cuts_end && cut->edge == e;  // a cut at the end
        for (; cut != cuts_end && cut->edge == e; ++cut)
        {
        }
        if (break_before)
            ++m_chains;
        const double dx = edge.b.x - edge.a.x;
        const double dy = edge.b.y - edge.a.y;
        if (!m_pieces.append(piece_t{ { edge.a.x + from * dx, edge.a.y + from * dy }, edge.b,
                                      m_chains - 1, e }))
            return false;
        break_before = break_after;
    }
    return true;
}

uint8_t distance_field_t::boundary_between(point_t p, point_t q) const
{
    // The winding numbers at p and at q, from one pass over the edges.
    int32_t at_p = 0;
    int32_t at_q = 0;
    for (const edge_t& edge : m_edges)
    {
        const double dx = edge.b.x - edge.a.x;
        const double dy = edge.b.y - edge.a.y;
        if (edge.a.y <= p.y)
            at_p += edge.b.y > p.y && cross(dx, dy, p.x - edge.a.x, p.y - edge.a.y) > 0;
        else
            at_p -= edge.b.y <= p.y && cross(dx, dy, p.x - edge.a.x, p.y - edge.a.y) < 0;
        if (edge.a.y <= q.y)
            at_q += edge.b.y > q.y && cross(dx, dy, q.x - edge.a.x, q.y - edge.a.y) > 0;
        else
            at_q -= edge.b.y <= q.y && cross(dx, dy, q.x - edge.a.x, q.y - edge.a.y) < 0;
    }
    if ((at_p != 0) == (at_q != 0))
        return not_boundary;
    return at_p != 0 ? filled_left : filled_right;
}

// A chain is boundary when the filled region lies on exactly one of its sides, asked beside the
// middle of its longest piece.
bool distance_field_t::classify_chains()
{
    if (!m_boundary.resize(m_chains) || !m_longest.resize(m_chains))
        return false;
    // Chains are numbered in piece order: each chain's pieces follow one another.
    const piece_t* pieces = m_pieces.data();
    longest_t* longest = m_longest.data();
    for (uint32_t chain = 0; chain < m_chains; ++chain)
        longest[chain] = longest_t{ UINT32_MAX, 0.0 };
    for (uint32_t i = 0; i < m_pieces.size(); ++i)
    {
        const piece_t& piece = pieces[i];
        const double dx = piece.b.x - piece.a.x;
        const double dy = piece.b.y - piece.a.y;
        const double squared = dx * dx + dy * dy;
        longest_t& best = longest[piece.chain];
        if (best.piece == UINT32_MAX || squared > best.squared_length)
            best = longest_t{ i, squared };
    }
    for (uint32_t chain = 0; chain < m_chains; ++chain)
    {
        m_boundary[chain] = not_boundary;
        if (longest[chain].piece == UINT32_MAX || longest[chain].squared_length == 0)
            continue;
        const piece_t& piece = pieces[longest[chain].piece];
        const double length = std::sqrt(longest[chain].squared_length);
        const double nx = -(piece.b.y - piece.a.y) / length * side_offset;
        const double ny = (piece.b.x - piece.a.x) / length * side_offset;
        const point_t middle{ (piece.a.x + piece.b.x) * 0.5, (piece.a.y + piece.b.y) * 0.5 };
        m_boundary[chain] = boundary_between({ middle.x + nx, middle.y + ny },
                                                 { middle.x - nx, middle.y - ny });
    }
    return true;
}

// ---- distances and inside -----------------------------------------------------------------------

// The squared distance from every pixel centre within range / 2 of a boundary piece to the
// nearest such piece; the centre of pixel (c, r) is (c + 0.5, r + 0.5) in cell coordinates.
void distance_field_t::measure_distances()
{
    const float far = m_range * 0.5f;
    const int32_t width = m_cell.width;
    const int32_t rows = m_cell.rows;
    const int64_t stride = m_stride;
    float* squared = m_distance.data();
    const uint8_t* boundary = m_boundary.data();
    for (const piece_t& piece : m_pieces)
    {
        if (boundary[piece.chain] == 0)
            continue;
        const float ax = float(piece.a.x);
        const float ay = float(piece.a.y);
        const float dx = float(piece.b.x - piece.a.x);
        const float dy = float(piece.b.y - piece.a.y);
        const float length_squared = dx * dx + dy * dy;
        const float inverse = length_squared > 0 ? 1.0f / length_squared : 0.0f;
        const segment_reach_t reach(ax, ay, dx, dy, far, width, rows);
        for (int32_t r = reach.first_row; r <= reach.last_row; ++r)
        {
            const float py = float(r) + 0.5f - ay;
            int32_t first_column;
            int32_t last_column;
            reach.columns(r, &first_column, &last_column);
            float* out = squared + r * stride;
            const float4_t pys = float4_t{} + py;
            for (int32_t group = first_column; group <= last_column; group += 4)
            {
                const float4_t px = float4_t{ 0.5f, 1.5f, 2.5f, 3.5f } + (float(group) - ax);
                float4_t t = (px * dx + pys * dy) * inverse;
                t = t > 0.0f ? t : 0.0f;
                t = t < 1.0f ? t : 1.0f;
                const float4_t ex = px - t * dx;
                const float4_t ey = pys - t * dy;
                const float4_t d = ex * ex + ey * ey;
                float4_t kept;
                std::memcpy(&kept, out + group, sizeof kept);
                kept = d < kept ? d : kept;
                std::memcpy(out + group, &kept, sizeof kept);
            }
        }
    }
}

// Every pixel centre's winding from the edges crossing its row left of it: nonzero is inside.
// Each crossing adds its direction at the first pixel right of it; a sum along the row then
// gives every pixel's winding.
bool distance_field_t::decide_inside()
{
    const int32_t rows = m_cell.rows;
    const int32_t width = m_cell.width;
    if (!m_winding.resize(m_stride * uint32_t(rows)))
        return false;
    int32_t* winding = m_winding.data();
    std::fill(winding, winding + m_winding.size(), 0);
    for (const edge_t& edge : m_edges)
    {
        // Edge a→b crosses the centres of rows r with min(y) <= r + 0.5 < max(y).
        const double low = std::min(edge.a.y, edge.b.y);
        const double high = std::max(edge.a.y, edge.b.y);
        const int32_t first = std::max(ceil_to_int(low - 0.5), 0);
        const int32_t end = std::min(ceil_to_int(high - 0.5), rows);
        if (first >= end)
            continue;
        const double slope = (edge.b.x - edge.a.x) / (edge.b.y - edge.a.y);
        const int32_t direction = edge.b.y > edge.a.y ? 1 : -1;
        for (int32_t r = first; r < end; ++r)
        {
            const double x = edge.a.x + (r + 0.5 - edge.a.y) * slope;
            const int32_t column = std::max(floor_to_int(x + 0.5), 0);
            if (column < width)
                winding[int64_t(r) * m_stride + column] += direction;
        }
    }
    uint8_t* inside = m_inside.data();
    for (int32_t r = 0; r < rows; ++r)
    {
        const int32_t* deltas = winding + int64_t(r) * m_stride;
        uint8_t* out = inside + int64_t(r) * m_stride;
        int32_t sum = 0;
        for (int32_t c = 0; c < width; ++c)
        {
            sum += deltas[c];
            out[c] = sum != 0;
        }
    }
    return true;
}
