// Signed distance fields of glyph outlines: the cell a field takes and its values, measured from
// the outline's lines and Bézier curves to the boundary of what the nonzero rule fills over all
// contours together, so overlapping contours leave neither holes nor seams.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/model/picture_kind.h"

#include <algorithm>
#include <cstdint>

struct FT_Outline_;

// Pixels of padding on every side of a field's cell: ceil(range / 2).
uint32_t distance_field_padding(float range);

// Floor and ceiling of values well inside the int32_t range, without a library call: the
// pixel loops round twice a row.
template <typename real_t> inline int32_t floor_to_int(real_t x)
{
    const int32_t i = int32_t(x);
    return real_t(i) > x ? i - 1 : i;
}

template <typename real_t> inline int32_t ceil_to_int(real_t x)
{
    const int32_t i = int32_t(x);
    return real_t(i) < x ? i + 1 : i;
}

// The texels whose centres may lie within `far` of the segment from (ax, ay) by (dx, dy), in
// cell coordinates (the centre of texel (c, r) at (c + 0.5, r + 0.5)): rows first_row to
// last_row, and in each the columns from a whole group of four on.
struct segment_reach_t
{
    float ax;
    float ay;
    float dx;
    float dy;
    float far;
    bool sloped;
    float inverse_dy;
    int32_t width;
    int32_t first_row;
    int32_t last_row;

    segment_reach_t(float ax_, float ay_, float dx_, float dy_, float far_, int32_t width_,
                    int32_t rows)
        : ax(ax_), ay(ay_), dx(dx_), dy(dy_), far(far_), sloped(dy_ > 1e-6f || dy_ < -1e-6f),
          inverse_dy(sloped ? 1.0f / dy_ : 0.0f), width(width_),
          first_row(std::max(ceil_to_int(std::min(ay_, ay_ + dy_) - far_ - 0.5f), 0)),
          last_row(std::min(floor_to_int(std::max(ay_, ay_ + dy_) + far_ - 0.5f), rows - 1))
    {
    }

    // Row r's columns: the part of the segment within `far` rows of the row, widened by `far`,
    // in whole groups of four (a few more distances cost less than a remainder).
    void columns(int32_t r, int32_t* first, int32_t* last) const
    {
        const float py = float(r) + 0.5f - ay;
        float t0 = 0.0f;
        float t1 = 1.0f;
        if (sloped)
        {
            t0 = std::clamp((py - far) * inverse_dy, 0.0f, 1.0f);
            t1 = std::clamp((py + far) * inverse_dy, 0.0f, 1.0f);
        }
        const float x0 = ax + t0 * dx;
        const float x1 = ax + t1 * dx;
        *first = std::max(ceil_to_int(std::min(x0, x1) - far - 0.5f), 0) & ~3;
        *last = std::min(floor_to_int(std::max(x0, x1) + far - 0.5f), width - 1);
    }
};

// A field's cell in whole pixels, placed as a rendered bitmap is: `left` columns from the pen
// to its left edge, `top` rows from the base line up to its top edge.
struct distance_cell_t
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t rows = 0;
};

// Where the outline's direction turns by more than this, between two of its segments, it has a
// corner; smooth joins of a font's curves turn by a few degrees at most.
constexpr double corner_turn_degrees = 10.0;

// Cells wider or taller than this fit no picture; their values are not made.
constexpr int32_t max_distance_cell_side = 8192;

// Builds the field of one outline at a time and keeps it until the next. Its memory is kept for
// the next outline, so one builder per thread measures a whole set without allocating anew.
class distance_field_t
{
public:
    // The field of `outline` (26.6 pixel coordinates, y up, as a glyph slot holds it) at
    // `range`: the cell is the outline's control box in whole pixels grown by the padding on
    // every side and by `extra_padding` more, empty for an empty outline. Contours of fewer than three distinct points or of
    // no area are left out. False when memory is short; an outline FreeType cannot walk (a
    // broken font's) gives no values and is_invalid.
    [[nodiscard]] bool build(const FT_Outline_& outline, float range, uint32_t extra_padding = 0);

    const distance_cell_t& cell() const { return m_cell; }
    // Pixels around the control box on every side: the range's padding and the extra.
    int32_t padding() const { return m_padding; }
    // False when the cell is too large for values (see max_distance_cell_side). An empty cell
    // has them all.
    bool has_values() const { return m_has_values; }
    bool is_invalid() const { return m_invalid; }
    // The values as a grey bitmap, row 0 the top row; valid until the next build.
    glyph_bitmap_t values() const;
    // The cell without its padding (the extra padding too) as the glyph covers its pixels when
    // drawn at its size: 255 where the centre lies half a pixel or more inside, 0 half a pixel
    // or more outside, and partly covered between (255 × (0.5 + distance)). What the
    // missing-glyph checks look at: a pixel the outline crosses is no evidence of a box, as in
    // an antialiased bitmap.
    glyph_bitmap_t interior() const;
    // The signed distance in pixels from the centre of pixel (column, row) of the cell to the
    // boundary, positive inside, clamped to ± range / 2.
    float distance_at(int32_t column, int32_t row) const;

private:
    struct point_t
    {
        double x;
        double y;
    };
    struct edge_t
    {
        point_t a;
        point_t b;
        double length;
        uint32_t first_edge;  // of its contour
        uint32_t last_edge;
        bool corner;  // the outline turns at `a` by more than corner_turn_degrees
    };
    // The box of an edge, or of a contour and its first edge.
    struct bounds_t
    {
        double top;
        double bottom;
        double left;
        double right;
        uint32_t edge;
    };
    struct cut_t
    {
        uint32_t edge;
        double t;  // 0: a break at the edge's start, 1: at its end, else a split
    };
    struct piece_t
    {
        point_t a;
        point_t b;
        uint32_t chain;
        uint32_t edge;
    };
    struct longest_t
    {
        uint32_t piece;
        double squared_length;
    };

    friend struct outline_walk_t;
    friend class multi_channel_field_t;

    // FreeType's error of the walk: FT_Err_Out_Of_Memory when memory is short.
    int flatten(const FT_Outline_& outline);
    bool close_contour();
    bool find_cuts();
    bool cut_pair(uint32_t e, uint32_t f);
    bool add_cut(uint32_t edge, double t, double tolerance);
    bool make_pieces();
    bool classify_chains();
    // filled_on_p when the filled region holds p but not q, filled_on_q for the reverse, else
    // not_boundary.
    uint8_t boundary_between(point_t p, point_t q) const;
    void measure_distances();
    bool decide_inside();
    void sign_distances();
    void make_values();

    float m_range = default_distance_range;
    int32_t m_padding = 0;  // pixels around the control box on every side
    distance_cell_t m_cell;
    bool m_has_values = false;
    bool m_invalid = false;
    point_t m_origin = { 0, 0 };  // outline coordinates (pixels) of the cell's top-left corner
    uint32_t m_stride = 0;        // elements of one row of m_distance and m_inside

    array_dyn_t<point_t> m_contour;  // the contour being flattened, in cell coordinates
    array_dyn_t<uint8_t> m_contour_corners;  // per point of m_contour: the outline turns there
    array_dyn_t<edge_t> m_edges;     // every edge of every contour kept
    array_dyn_t<bounds_t> m_contours;  // every contour kept
    array_dyn_t<bounds_t> m_bounds;    // per edge; each contour's sorted by their tops
    array_dyn_t<bounds_t> m_near;      // edges of two contours inside the other's box
    array_dyn_t<cut_t> m_cuts;
    array_dyn_t<piece_t> m_pieces;
    // Per chain: not_boundary, or the side of its pieces the filled region lies on: filled_left
    // on the side of (-dy, dx) for a piece from a to b (cell coordinates), filled_right opposite.
    enum : uint8_t { not_boundary = 0, filled_left = 1, filled_right = 2 };
    array_dyn_t<uint8_t> m_boundary;
    array_dyn_t<longest_t> m_longest;  // per chain: its longest piece
    uint32_t m_chains = 0;
    array_dyn_t<int32_t> m_winding;  // per pixel: the winding added by crossings left of it
    // Per pixel: the squared distance to the boundary, at most (range / 2)², while measuring;
    // then the signed distance.
    array_dyn_t<float> m_distance;
    array_dyn_t<uint8_t> m_inside;
    array_dyn_t<uint8_t> m_values;
    array_dyn_t<uint8_t> m_interior;
};
