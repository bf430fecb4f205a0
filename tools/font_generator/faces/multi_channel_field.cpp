// Multi-channel distance fields from the exact field's boundary pieces.
//
// Sections: building, the edges and their colours, channels, error correction.
//
// The boundary pieces are turned so that the filled region lies on their left and linked into
// loops: along their contour where it goes on being boundary, else to the piece starting where
// they end (where contours cross). Between corners a loop's pieces make one edge; a channel
// measures every piece of its edges, and only the first and last piece of an edge reach past
// its ends, as the pseudo-distance does.
#include "tools/font_generator/faces/multi_channel_field.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#ifdef __SSE__
#include <immintrin.h>
#endif

namespace
{

typedef float float4_t __attribute__((vector_size(16)));
typedef int32_t int4_t __attribute__((vector_size(16)));
typedef uint32_t uint4_t __attribute__((vector_size(16)));
typedef float float8x_t __attribute__((vector_size(32)));
typedef int32_t int8x_t __attribute__((vector_size(32)));

constexpr uint8_t red = 1;
constexpr uint8_t green = 2;
constexpr uint8_t blue = 4;
constexpr uint8_t yellow = red | green;
constexpr uint8_t magenta = red | blue;
constexpr uint8_t cyan = green | blue;
constexpr uint8_t white = red | green | blue;

// Pixels within which a piece's end and another's start are one point: the exact field cuts
// within a millionth, and pieces are kept in single precision.
constexpr float link_tolerance = 1e-3f;
// Pixels from a kept corner within which a texel keeps its channels through error correction.
constexpr float corner_keep_radius = 1.0f;
// Pixels the exact distances may be off by: the flattening's and single precision's.
constexpr float exact_margin = 1.0f / 64;
constexpr int max_correction_passes = 4;
// Pixels beyond range / 2 within which channels measure their edges: an edge's pseudo-distance
// past its end can be within range / 2 where the edge itself is not.
constexpr float channel_reach = 1.0f;
// The share of a squared distance by which a more nearly perpendicular piece wins a tie: two
// pieces meeting at a corner measure the same point with different rounding.
constexpr float tie_margin = 1e-3f;

float median_of(float a, float b, float c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

uint8_t median_of(uint8_t a, uint8_t b, uint8_t c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

int4_t median_of(int4_t a, int4_t b, int4_t c)
{
    const int4_t low = a < b ? a : b;
    const int4_t high = a < b ? b : a;
    const int4_t middle = high < c ? high : c;
    return low < middle ? middle : low;
}

float4_t load4(const float* from)
{
    float4_t v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

float4_t square_root(float4_t v)
{
#ifdef __SSE__
    return float4_t(_mm_sqrt_ps(__m128(v)));
#else
    return float4_t{ std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3]) };
#endif
}

// distance_value of four distances.
int4_t distance_values(float4_t distance, float range)
{
    float4_t level = 0.5f + distance / range;
    level = level > 0.0f ? level : 0.0f;
    level = level < 1.0f ? level : 1.0f;
    return __builtin_convertvector(level * 255.0f + 0.5f, int4_t);
}

bool turns(float ax, float ay, float bx, float by)
{
    static const float cosine = float(std::cos(corner_turn_degrees * 3.14159265358979323846 / 180));
    return ax * bx + ay * by < cosine * std::sqrt((ax * ax + ay * ay) * (bx * bx + by * by));
}

}  // namespace

// ---- building -----------------------------------------------------------------------------------

bool multi_channel_field_t::build(const FT_Outline_& outline, float range,
                                  distance_field_type_t type, uint32_t extra_padding)
{
    m_type = type;
    m_corners.clear();
    if (!m_exact.build(outline, range, extra_padding))
        return false;
    if (type == distance_field_type_t::sdf || m_exact.is_invalid() || !m_exact.has_values())
        return true;
    const distance_cell_t& cell = m_exact.cell();
    if (cell.width <= 0 || cell.rows <= 0)
    {
        m_values.clear();
        m_interior.clear();
        return true;
    }
    const uint32_t planes = 3 * plane_stride() * uint32_t(cell.rows);
    if (!m_nearest.resize(planes) || !m_pseudo.resize(planes) ||
        !m_values.resize(4 * uint32_t(cell.width) * uint32_t(cell.rows)) ||
        !m_replace.resize(uint32_t(cell.width) * uint32_t(cell.rows)) ||
        !m_above.resize(uint32_t(cell.width) * uint32_t(cell.rows)) ||
        !m_changed.resize(uint32_t(cell.width) * uint32_t(cell.rows)) ||
        !m_interior.resize(m_exact.interior().width * uint32_t(m_exact.interior().rows)))
        return false;
    if (!orient_pieces() || !link_pieces() || !colour_loops())
        return false;
    measure_channels();
    make_values();
    correct_errors();
    // What the checks look at: the median, as the exact field's interior is made.
    uint8_t coverage_of[256];
    for (int median = 0; median < 256; ++median)
    {
        const float distance = (float(median) / 255.0f - 0.5f) * range;
        const float coverage = std::clamp(0.5f + distance, 0.0f, 1.0f);
        coverage_of[median] = uint8_t(coverage * 255.0f + 0.5f);
    }
    const int32_t pad = m_exact.padding();
    const glyph_bitmap_t inner = m_exact.interior();
    uint8_t* interior = m_interior.data();
    for (int32_t r = 0; r < inner.rows; ++r)
    {
        const uint8_t* texel = m_values.data() + 4 * (int64_t(r + pad) * cell.width + pad);
        for (int32_t c = 0; c < inner.width; ++c, texel += 4)
            interior[int64_t(r) * inner.width + c] =
                coverage_of[median_of(texel[0], texel[1], texel[2])];
    }
    return true;
}

glyph_bitmap_t multi_channel_field_t::values() const
{
    if (m_type == distance_field_type_t::sdf)
        return m_exact.values();
    glyph_bitmap_t bitmap;
    bitmap.width = cell().width;
    bitmap.rows = cell().rows;
    bitmap.pitch = 4 * cell().width;
    bitmap.mode = glyph_pixel_mode_t::rgba;
    bitmap.top_row = has_values() && !m_values.empty() ? m_values.data() : nullptr;
    return bitmap;
}

glyph_bitmap_t multi_channel_field_t::interior() const
{
    glyph_bitmap_t bitmap = m_exact.interior();
    if (m_type != distance_field_type_t::sdf)
        bitmap.top_row = has_values() && !m_interior.empty() ? m_interior.data() : nullptr;
    return bitmap;
}

// ---- the edges and their colours ----------------------------------------------------------------

bool multi_channel_field_t::orient_pieces()
{
    const auto& pieces = m_exact.m_pieces;
    const uint8_t* boundary = m_exact.m_boundary.data();
    m_pieces.clear();
    if (!m_oriented.resize(pieces.size()) || !m_pieces.reserve(pieces.size()))
        return false;
    for (uint32_t i = 0; i < pieces.size(); ++i)
    {
        m_oriented[i] = UINT32_MAX;
        const uint8_t side = boundary[pieces[i].chain];
        if (side == distance_field_t::not_boundary)
            continue;
        const bool turned = side == distance_field_t::filled_right;
        const distance_field_t::point_t& a = turned ? pieces[i].b : pieces[i].a;
        const distance_field_t::point_t& b = turned ? pieces[i].a : pieces[i].b;
        m_oriented[i] = m_pieces.size();
        (void)m_pieces.append(
            piece_t{ float(a.x), float(a.y), float(b.x), float(b.y), UINT32_MAX, i, 0, 0, 0, 0 });
    }
    return true;
}

bool multi_channel_field_t::link_pieces()
{
    const auto& pieces = m_exact.m_pieces;
    const auto& edges = m_exact.m_edges;
    const uint32_t count = pieces.size();
    // Along each contour: pieces come contour by contour, in order.
    for (uint32_t begin = 0; begin < count;)
    {
        const uint32_t contour = edges[pieces[begin].edge].first_edge;
        uint32_t end = begin;
        while (end < count && edges[pieces[end].edge].first_edge == contour)
            ++end;
        for (uint32_t i = begin; i < end; ++i)
        {
            const uint32_t k = m_oriented[i];
            if (k == UINT32_MAX)
                continue;
            const bool forward =
                m_exact.m_boundary[pieces[i].chain] == distance_field_t::filled_left;
            const uint32_t j =
                forward ? (i + 1 < end ? i + 1 : begin) : (i > begin ? i - 1 : end - 1);
            const uint32_t next = m_oriented[j];
            if (next == UINT32_MAX || next == k ||
                m_exact.m_boundary[pieces[j].chain] != m_exact.m_boundary[pieces[i].chain])
                continue;
            m_pieces[k].next = next;
            // The pieces meet at an outline point where they come from different edges.
            const uint32_t later = forward ? j : i;
            const uint32_t earlier = forward ? i : j;
            m_pieces[next].corner =
                pieces[later].edge != pieces[earlier].edge && edges[pieces[later].edge].corner;
        }
        begin = end;
    }
    // Elsewhere where one piece ends and another starts: where contours cross or touch.
    for (piece_t& piece : m_pieces)
        piece.seen = 0;
    for (const piece_t& piece : m_pieces)
        if (piece.next != UINT32_MAX)
            m_pieces[piece.next].seen = 1;
    m_open.clear();
    for (uint32_t k = 0; k < m_pieces.size(); ++k)
        if (m_pieces[k].seen == 0 && !m_open.append(k))
            return false;
    for (piece_t& piece : m_pieces)
    {
        if (piece.next != UINT32_MAX)
            continue;
        uint32_t best = UINT32_MAX;
        float best_distance = link_tolerance * link_tolerance;
        for (uint32_t& open : m_open)
        {
            if (open == UINT32_MAX)
                continue;
            const piece_t& start = m_pieces[open];
            const float dx = start.ax - piece.bx;
            const float dy = start.ay - piece.by;
            if (dx * dx + dy * dy <= best_distance)
            {
                best_distance = dx * dx + dy * dy;
                best = uint32_t(&open - m_open.data());
            }
        }
        if (best == UINT32_MAX)
            continue;
        piece_t& next = m_pieces[m_open[best]];
        piece.next = m_open[best];
        m_open[best] = UINT32_MAX;
        next.corner =
            turns(piece.bx - piece.ax, piece.by - piece.ay, next.bx - next.ax, next.by - next.ay);
    }
    return true;
}

// Open paths first (a link the cuts left out), from the pieces nobody goes on to; then loops.
bool multi_channel_field_t::colour_loops()
{
    for (piece_t& piece : m_pieces)
        piece.seen = 0;
    for (const piece_t& piece : m_pieces)
        if (piece.next != UINT32_MAX)
            m_pieces[piece.next].seen = 2;  // has a piece before it
    for (int pass = 0; pass < 2; ++pass)
    {
        for (uint32_t k = 0; k < m_pieces.size(); ++k)
        {
            if (m_pieces[k].seen == 1 || (pass == 0 && m_pieces[k].seen == 2))
                continue;
            m_loop.clear();
            uint32_t at = k;
            do
            {
                if (!m_loop.append(at))
                    return false;
                m_pieces[at].seen = 1;
                at = m_pieces[at].next;
            } while (at != UINT32_MAX && m_pieces[at].seen != 1);
            const bool closed = at == k;
            if (!closed)
                m_pieces[m_loop[0]].corner = 1;
            if (!colour_loop(closed))
                return false;
        }
    }
    return true;
}

// Edges shorter than this many pixels are too short for the texels to tell their ends apart:
// the edges on either side of one get different colours too.
constexpr float short_edge = 1.0f;

// Colours the edges of a loop in order: each differs from the one before it and, after a short
// edge, from the one before that; a closed loop's last edge differs from its first likewise.
void multi_channel_field_t::colour_edges(bool closed, bool thirds)
{
    const uint32_t count = m_edge_colours.size();
    if (thirds)
    {
        const uint8_t colours[3] = { yellow, magenta, cyan };
        for (uint32_t e = 0; e < count; ++e)
            m_edge_colours[e] = colours[std::min(e, 2u)];
        return;
    }
    const float* lengths = m_edge_lengths.data();
    uint8_t* colours = m_edge_colours.data();
    for (uint32_t e = 0; e < count; ++e)
    {
        uint8_t taken = 0;  // bits of the colours ruled out: 1 yellow, 2 cyan, 4 magenta
        const auto rule_out = [&](uint32_t other) {
            taken |= colours[other] == yellow ? 1 : colours[other] == cyan ? 2 : 4;
        };
        if (e > 0)
            rule_out(e - 1);
        if (e > 1 && lengths[e - 1] < short_edge)
            rule_out(e - 2);
        if (closed && e + 1 == count && e > 0)
        {
            rule_out(0);
            if (lengths[0] < short_edge && count > 2)
                rule_out(1);
        }
        if (closed && e + 2 == count && e > 0 && lengths[count - 1] < short_edge)
            rule_out(0);
        if (taken == 7 && e > 0)
            taken = colours[e - 1] == yellow ? 1 : colours[e - 1] == cyan ? 2 : 4;
        colours[e] = (taken & 1) == 0 ? yellow : (taken & 2) == 0 ? cyan : magenta;
    }
}

// Colours the pieces of m_loop, a closed loop or an open path. False when memory is short.
bool multi_channel_field_t::colour_loop(bool closed)
{
    const uint32_t count = m_loop.size();
    uint32_t corners = 0;
    uint32_t start = UINT32_MAX;  // the first corner
    for (uint32_t q = 0; q < count; ++q)
        if (m_pieces[m_loop[q]].corner != 0)
        {
            if (start == UINT32_MAX)
                start = q;
            ++corners;
        }
    if (corners == 0)
    {
        for (uint32_t q = 0; q < count; ++q)
        {
            m_pieces[m_loop[q]].colour = white;
            m_pieces[m_loop[q]].ends = 0;
        }
        return true;
    }
    // One corner: three edges, so that every channel has an edge on either side of the corner.
    const bool thirds = closed && corners == 1;
    m_edge_lengths.clear();
    for (uint32_t q = 0; q < count; ++q)
    {
        const uint32_t at = (start + q) % count;
        piece_t& piece = m_pieces[m_loop[at]];
        const bool splits =
            piece.corner != 0 || (thirds && q != 0 && (q == count / 3 || q == 2 * count / 3));
        if ((splits || q == 0) && !m_edge_lengths.append(0.0f))
            return false;
        if (piece.corner != 0 && (closed || q != 0) &&
            !m_corners.append(corner_t{ piece.ax, piece.ay }))
            return false;
        m_edge_lengths[m_edge_lengths.size() - 1] +=
            std::hypot(piece.bx - piece.ax, piece.by - piece.ay);
        piece.ends = splits || q == 0 ? start_of_edge : 0;
    }
    if (!m_edge_colours.resize(m_edge_lengths.size()))
        return false;
    colour_edges(closed, thirds);
    uint32_t edge = 0;
    for (uint32_t q = 0; q < count; ++q)
    {
        piece_t& piece = m_pieces[m_loop[(start + q) % count]];
        if (q != 0 && (piece.ends & start_of_edge) != 0)
            ++edge;
        piece.colour = m_edge_colours[edge];
    }
    // An edge ends where the next one starts, and a loop's last one where its first starts.
    for (uint32_t q = 0; q < count; ++q)
    {
        const uint32_t at = (start + q) % count;
        if (q + 1 == count || (m_pieces[m_loop[(at + 1) % count]].ends & start_of_edge) != 0)
            m_pieces[m_loop[at]].ends |= end_of_edge;
    }
    return true;
}

// ---- channels -----------------------------------------------------------------------------------

namespace
{

// Eight texels a lane each: one instruction apiece on a processor with AVX2, two without.
template <typename piece_type>
[[gnu::always_inline]] inline void measure_pieces_in(const piece_type* pieces, uint32_t count,
                                                     float range, int32_t width, int32_t rows,
                                                     int64_t stride, float* nearest_planes,
                                                     float* pseudo_planes, uint8_t start_bit,
                                                     uint8_t end_bit)
{
    const float reach = range * 0.5f + channel_reach;
    const int64_t plane = stride * rows;
    for (uint32_t index = 0; index < count; ++index)
    {
        const piece_type& piece = pieces[index];
        const float ax = piece.ax;
        const float ay = piece.ay;
        const float dx = piece.bx - piece.ax;
        const float dy = piece.by - piece.ay;
        const float length_squared = dx * dx + dy * dy;
        if (length_squared <= 0)
            continue;
        const float inverse = 1.0f / length_squared;
        const int8x_t reaches_back = int8x_t{} - ((piece.ends & start_bit) != 0 ? 1 : 0);
        const int8x_t reaches_on = int8x_t{} - ((piece.ends & end_bit) != 0 ? 1 : 0);
        // Only an edge's ends reach past range / 2: elsewhere its distance is its
        // pseudo-distance, and values beyond range / 2 are 0 or 255.
        const float far = piece.ends != 0 ? reach : range * 0.5f;
        const segment_reach_t span(ax, ay, dx, dy, far, width, rows);
        const uint8_t colour = piece.colour;
        for (int32_t r = span.first_row; r <= span.last_row; ++r)
        {
            const float y = float(r) + 0.5f - ay;
            int32_t first_column;
            int32_t last_column;
            span.columns(r, &first_column, &last_column);
            const float8x_t py = float8x_t{} + y;
            for (int32_t group = first_column & ~7; group <= last_column; group += 8)
            {
                const float8x_t px = float8x_t{ 0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f, 7.5f } +
                                     (float(group) - ax);
                const float8x_t t = (px * dx + py * dy) * inverse;
                float8x_t clamped = t > 0.0f ? t : 0.0f;
                clamped = clamped < 1.0f ? clamped : 1.0f;
                const float8x_t ex = px - clamped * dx;
                const float8x_t ey = py - clamped * dy;
                const float8x_t nearest = ex * ex + ey * ey;
                const float8x_t side = dx * py - dy * px;
                const float8x_t perpendicular = side * side * inverse;
                const int8x_t beyond = ((t < 0.0f) & reaches_back) | ((t > 1.0f) & reaches_on);
                const int8x_t within = (t >= 0.0f) & (t <= 1.0f);
                // Nearer wins; of two as near, the more nearly perpendicular (its
                // perpendicular distance is the larger), by a margin above rounding.
                const float8x_t score =
                    nearest * (1.0f + tie_margin) - tie_margin * (within ? nearest : perpendicular);
                float8x_t pseudo = beyond ? perpendicular : nearest;
                pseudo = side >= 0.0f ? pseudo : -pseudo;
                const int64_t at = r * stride + group;
                for (int channel = 0; channel < 3; ++channel)
                {
                    if ((colour & (1 << channel)) == 0)
                        continue;
                    float* best = nearest_planes + channel * plane + at;
                    float* best_pseudo = pseudo_planes + channel * plane + at;
                    float8x_t b;
                    float8x_t p;
                    std::memcpy(&b, best, sizeof b);
                    std::memcpy(&p, best_pseudo, sizeof p);
                    const int8x_t better = score < b;
                    b = better ? score : b;
                    p = better ? pseudo : p;
                    std::memcpy(best, &b, sizeof b);
                    std::memcpy(best_pseudo, &p, sizeof p);
                }
            }
        }
    }
}

bool has_wide_lanes()
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

void multi_channel_field_t::measure_pieces(const piece_t* pieces, uint32_t count, float range,
                                           int32_t width, int32_t rows, int64_t stride,
                                           float* nearest_planes, float* pseudo_planes)
{
    measure_pieces_in(pieces, count, range, width, rows, stride, nearest_planes, pseudo_planes,
                      start_of_edge, end_of_edge);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2")))
#endif
void multi_channel_field_t::measure_pieces_wide(const piece_t* pieces, uint32_t count, float range,
                                                int32_t width, int32_t rows, int64_t stride,
                                                float* nearest_planes, float* pseudo_planes)
{
    measure_pieces_in(pieces, count, range, width, rows, stride, nearest_planes, pseudo_planes,
                      start_of_edge, end_of_edge);
}

// For every texel within range / 2 of a piece (range / 2 + channel_reach of an edge's first or
// last piece), each of the piece's channels keeps the piece when it is nearer than the channel's
// nearest so far, or as near and more nearly perpendicular (two pieces meeting at a corner are
// equally near beyond it).
void multi_channel_field_t::measure_channels()
{
    const float reach = m_exact.m_range * 0.5f + channel_reach;
    std::fill(m_nearest.begin(), m_nearest.end(), reach * reach);
    std::fill(m_pseudo.begin(), m_pseudo.end(), 0.0f);
    static const bool wide = has_wide_lanes();
    (wide ? measure_pieces_wide : measure_pieces)(m_pieces.data(), m_pieces.size(),
                                                  m_exact.m_range, m_exact.m_cell.width,
                                                  m_exact.m_cell.rows, plane_stride(),
                                                  m_nearest.data(), m_pseudo.data());
}

// A channel nothing of its colour reaches is the exact field there. Four texels at a time: a
// channel's signed distance from its squared pseudo-distance, its value, and the mirroring of a
// texel whose median lies on the other side of the fill than its centre (on the boundary either
// side is right).
void multi_channel_field_t::make_values()
{
    const float range = m_exact.m_range;
    const float far = range * 0.5f;
    const int32_t width = m_exact.m_cell.width;
    const int32_t rows = m_exact.m_cell.rows;
    const int64_t stride = m_exact.m_stride;
    const int64_t plane_row = plane_stride();
    const int64_t plane = plane_row * rows;
    const float reach = far + channel_reach;
    const bool true_alpha = m_type == distance_field_type_t::mtsdf;
    const float* exact_distance = m_exact.m_distance.data();
    const uint8_t* exact = m_exact.m_values.data();
    const uint8_t* inside = m_exact.m_inside.data();
    const float* pseudo = m_pseudo.data();
    const float* nearest = m_nearest.data();
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t group = 0; group < width; group += 4)
        {
            const int64_t at = r * stride + group;
            const int64_t in_plane = r * plane_row + group;
            const float4_t exact_here = load4(exact_distance + at);
            int4_t value[3];
            for (int channel = 0; channel < 3; ++channel)
            {
                const float4_t squared = load4(pseudo + channel * plane + in_plane);
                const float4_t reached = load4(nearest + channel * plane + in_plane);
                float4_t magnitude = square_root(squared >= 0.0f ? squared : -squared);
                magnitude = magnitude < far ? magnitude : far;
                float4_t distance = squared >= 0.0f ? magnitude : -magnitude;
                distance = reached < reach * reach ? distance : exact_here;
                value[channel] = distance_values(distance, range);
            }
            const int4_t median = median_of(value[0], value[1], value[2]);
            const int4_t filled = int4_t{ inside[at], inside[at + 1], inside[at + 2],
                                          inside[at + 3] } != 0;
            const float4_t beside = exact_here >= 0.0f ? exact_here : -exact_here;
            const int4_t mirror = ((median >= 128) != filled) & (beside > exact_margin);
            for (int channel = 0; channel < 3; ++channel)
                value[channel] = mirror ? 255 - value[channel] : value[channel];
            const int32_t count = std::min(width - group, 4);
            uint4_t alpha = uint4_t{} + 255;
            if (true_alpha)
                for (int32_t k = 0; k < count; ++k)
                    alpha[k] = exact[int64_t(r) * width + group + k];
            const uint4_t texels = uint4_t(value[0]) | uint4_t(value[1]) << 8 |
                                   uint4_t(value[2]) << 16 | alpha << 24;
            std::memcpy(m_values.data() + 4 * (int64_t(r) * width + group), &texels,
                        4 * std::size_t(count));
        }
}

// ---- error correction ---------------------------------------------------------------------------

bool multi_channel_field_t::is_beside_corner(int32_t column, int32_t row) const
{
    const float x = float(column) + 0.5f;
    const float y = float(row) + 0.5f;
    for (const corner_t& corner : m_corners)
    {
        const float dx = corner.x - x;
        const float dy = corner.y - y;
        if (dx * dx + dy * dy <= corner_keep_radius * corner_keep_radius)
            return true;
    }
    return false;
}

namespace
{

// True when two channels lie on the side `inside` at every texel, given which of each texel's
// channels lie at or above one half: interpolated, they stay there, and so does the median.
bool keep_side(const uint8_t* above, int count, bool inside)
{
    uint8_t channels = 7;
    for (int k = 0; k < count; ++k)
        channels &= inside ? above[k] : uint8_t(~above[k]);
    channels &= 7;
    return channels == 3 || channels == 5 || channels == 6 || channels == 7;
}

// Channels of a texel on both sides of one half.
bool is_mixed(uint8_t above)
{
    return above != 0 && above != 7;
}

// The exact side at a point where the distances at the texel centres settle it, `reach` away:
// 1 inside, 0 outside, -1 unknown.
int settled_side(const float* exact, const float* reach, int count)
{
    for (int k = 0; k < count; ++k)
        if (std::fabs(exact[k]) > reach[k] + exact_margin)
            return exact[k] > 0 ? 1 : 0;
    return -1;
}

}  // namespace

// Gives the exact value to texels between which interpolation crosses one half on the wrong
// side, until none is left.
void multi_channel_field_t::correct_errors()
{
    const int32_t width = m_exact.m_cell.width;
    const int32_t rows = m_exact.m_cell.rows;
    const int64_t stride = m_exact.m_stride;
    uint8_t* values = m_values.data();
    const float* exact = m_exact.m_distance.data();

    const auto texel_at = [&](int32_t c, int32_t r) {
        return values + 4 * (int64_t(r) * width + c);
    };
    static const auto levels = [] {
        std::array<float, 256> table{};
        for (int value = 0; value < 256; ++value)
            table[value] = float(value) / 255.0f - 0.5f;
        return table;
    }();
    const auto level = [](const uint8_t* texel, int channel) { return levels[texel[channel]]; };
    const auto median_level = [&](const uint8_t* const* texels, const float* weights, int count) {
        float mixed[3];
        for (int channel = 0; channel < 3; ++channel)
        {
            mixed[channel] = 0;
            for (int k = 0; k < count; ++k)
                mixed[channel] += weights[k] * level(texels[k], channel);
        }
        return median_of(mixed[0], mixed[1], mixed[2]);
    };
    // Between two texels the median is piecewise linear: its extremes lie where two channels
    // cross or at the ends; the middle is asked too.
    const auto pair_clashes = [&](const uint8_t* a, const uint8_t* b, uint8_t above_a,
                                  uint8_t above_b, float exact_a, float exact_b) {
        const uint8_t* texels[2] = { a, b };
        const uint8_t above[2] = { above_a, above_b };
        if (keep_side(above, 2, exact_a > 0) && (exact_a > 0) == (exact_b > 0))
            return false;
        float ts[4] = { 0.5f, -1.0f, -1.0f, -1.0f };
        for (int i = 0; i < 3; ++i)
        {
            const int j = (i + 1) % 3;
            const float from = level(a, i) - level(a, j);
            const float to = level(b, i) - level(b, j);
            if (from != to)
                ts[1 + i] = from / (from - to);
        }
        const float distances[2] = { exact_a, exact_b };
        for (const float t : ts)
        {
            if (!(t > 0.0f && t < 1.0f))
                continue;
            const float weights[2] = { 1.0f - t, t };
            const float reach[2] = { t, 1.0f - t };
            const int side = settled_side(distances, reach, 2);
            if (side >= 0 && (median_level(texels, weights, 2) >= 0) != (side == 1))
                return true;
        }
        return false;
    };
    const auto quad_clashes = [&](const uint8_t* const* texels, const uint8_t* above,
                                  const float* distances) {
        const bool inside = distances[0] > 0;
        if (keep_side(above, 4, inside) && (distances[1] > 0) == inside &&
            (distances[2] > 0) == inside && (distances[3] > 0) == inside)
            return false;
        static const float points[5][2] = {
            { 0.5f, 0.5f }, { 0.25f, 0.25f }, { 0.75f, 0.25f }, { 0.25f, 0.75f }, { 0.75f, 0.75f }
        };
        // From each point to the quad's texel centres.
        static const auto reaches = [] {
            std::array<std::array<float, 4>, 5> table{};
            for (int k = 0; k < 5; ++k)
                for (int corner = 0; corner < 4; ++corner)
                    table[k][corner] = std::hypot(points[k][0] - float(corner & 1),
                                                  points[k][1] - float(corner >> 1));
            return table;
        }();
        // Each point's bilinear weights of the quad's texels.
        static const auto weights = [] {
            std::array<std::array<float, 4>, 5> table{};
            for (int k = 0; k < 5; ++k)
            {
                const float u = points[k][0];
                const float v = points[k][1];
                table[k] = { (1 - u) * (1 - v), u * (1 - v), (1 - u) * v, u * v };
            }
            return table;
        }();
        for (int k = 0; k < 5; ++k)
        {
            const int side = settled_side(distances, reaches[k].data(), 4);
            if (side >= 0 && (median_level(texels, weights[k].data(), 4) >= 0) != (side == 1))
                return true;
        }
        return false;
    };

    // Between two texels whose channels each agree the median crosses one half once at most,
    // as the exact distance does: only a texel with channels on both sides makes a pair clash.
    // Per texel, which channels lie at or above one half (1 red, 2 green, 4 blue).
    uint8_t* above = m_above.data();
    uint8_t* replace = m_replace.data();
    // After the first pass only pairs and quads with a texel changed by the last are asked again.
    uint8_t* changed_last = m_changed.data();
    for (int32_t i = 0; i < width * rows; ++i)
    {
        const uint8_t* texel = values + 4 * int64_t(i);
        above[i] = uint8_t((texel[0] >= 128) | (texel[1] >= 128) << 1 | (texel[2] >= 128) << 2);
    }
    for (int pass = 0; pass < max_correction_passes; ++pass)
    {
        std::fill(m_replace.begin(), m_replace.end(), 0);
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < width; ++c)
            {
                const int32_t at = r * width + c;
                const bool right = c + 1 < width;
                const bool below = r + 1 < rows;
                if (pass > 0 && changed_last[at] == 0 && !(right && changed_last[at + 1]) &&
                    !(below && changed_last[at + width]) &&
                    !(right && below && changed_last[at + width + 1]))
                    continue;
                const uint8_t here_above = above[at];
                const uint8_t right_above = right ? above[at + 1] : 0;
                const uint8_t below_above = below ? above[at + width] : 0;
                const uint8_t across_above = right && below ? above[at + width + 1] : 0;
                // Of quads whose texels' channels each agree, only a saddle can clash.
                const bool quad = right && below &&
                                  (is_mixed(here_above) || is_mixed(right_above) ||
                                   is_mixed(below_above) || is_mixed(across_above) ||
                                   (across_above == here_above && right_above != here_above &&
                                    below_above != here_above));
                const bool pair_right = right && (is_mixed(here_above) || is_mixed(right_above));
                const bool pair_below = below && (is_mixed(here_above) || is_mixed(below_above));
                if (!quad && !pair_right && !pair_below)
                    continue;
                const uint8_t* here = texel_at(c, r);
                const float exact_here = exact[r * stride + c];
                if (pair_right && pair_clashes(here, texel_at(c + 1, r), here_above, right_above,
                                               exact_here, exact[r * stride + c + 1]))
                    replace[at] = replace[at + 1] = 1;
                if (pair_below && pair_clashes(here, texel_at(c, r + 1), here_above, below_above,
                                               exact_here, exact[(r + 1) * stride + c]))
                    replace[at] = replace[at + width] = 1;
                if (quad)
                {
                    const uint8_t* texels[4] = { here, texel_at(c + 1, r), texel_at(c, r + 1),
                                                 texel_at(c + 1, r + 1) };
                    const uint8_t aboves[4] = { here_above, right_above, below_above,
                                                across_above };
                    const float distances[4] = { exact_here, exact[r * stride + c + 1],
                                                 exact[(r + 1) * stride + c],
                                                 exact[(r + 1) * stride + c + 1] };
                    if (quad_clashes(texels, aboves, distances))
                        replace[r * width + c] = replace[r * width + c + 1] =
                            replace[(r + 1) * width + c] = replace[(r + 1) * width + c + 1] = 1;
                }
            }
        bool changed = false;
        const uint8_t* exact_values = m_exact.m_values.data();
        std::fill(m_changed.begin(), m_changed.end(), 0);
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < width; ++c)
            {
                const int32_t at = r * width + c;
                if (replace[at] == 0 || is_beside_corner(c, r))
                    continue;
                uint8_t* texel = values + 4 * int64_t(at);
                const uint8_t value = exact_values[at];
                if (texel[0] == value && texel[1] == value && texel[2] == value)
                    continue;
                texel[0] = texel[1] = texel[2] = value;
                above[at] = value >= 128 ? 7 : 0;
                changed_last[at] = 1;
                changed = true;
            }
        if (!changed)
            break;
    }
}
