// Multi-channel distance fields: three channels whose median keeps an outline's corners sharp
// when a shader magnifies them, built on the boundary of today's single-channel field.
#pragma once

#include "tools/font_generator/faces/distance_field.h"
#include "tools/font_generator/model/distance_field_type.h"

#include <cstdint>

// The boundary of the filled region split into edges at its corners, each edge coloured with two
// of the three channels (all three on a loop without corners) so that the edges meeting at a
// corner share exactly one channel. A channel holds the signed pseudo-distance to the nearest
// edge of its colour, valued as the single-channel field; then texels whose median disagrees
// with the fill are mirrored, and texels between which interpolation would cross one half where
// the exact distance does not take the exact field's value, unless they lie beside a corner.
class multi_channel_field_t
{
public:
    // A corner of the boundary the channels keep, in cell coordinates (x right, y down from the
    // cell's top-left corner).
    struct corner_t
    {
        float x;
        float y;
    };

    // The field of `outline` at `range`, as distance_field_t::build for the cell (with its extra
    // padding), memory and broken outlines. For "sdf" only the exact field is built.
    [[nodiscard]] bool build(const FT_Outline_& outline, float range, distance_field_type_t type,
                             uint32_t extra_padding = 0);

    const distance_cell_t& cell() const { return m_exact.cell(); }
    bool has_values() const { return m_exact.has_values(); }
    bool is_invalid() const { return m_exact.is_invalid(); }
    distance_field_type_t type() const { return m_type; }
    // For "sdf" the exact field's grey values; else four bytes a pixel, R, G, B and A (255 for
    // "msdf", the exact field's value for "mtsdf"). Valid until the next build.
    glyph_bitmap_t values() const;
    // As distance_field_t::interior, from the median for three channels.
    glyph_bitmap_t interior() const;
    // The exact single-channel field the channels were built beside.
    const distance_field_t& exact() const { return m_exact; }
    const array_dyn_t<corner_t>& corners() const { return m_corners; }

private:
    // A boundary piece turned so that the filled region lies on its left, (-dy, dx).
    struct piece_t
    {
        float ax;
        float ay;
        float bx;
        float by;
        uint32_t next;    // the piece the boundary goes on with; UINT32_MAX at an open end
        uint32_t source;  // in the exact field's pieces
        uint8_t corner;   // the boundary turns at its start
        uint8_t colour;   // channel bits: 1 red, 2 green, 4 blue
        uint8_t ends;     // start_of_edge | end_of_edge
        uint8_t seen;
    };
    enum : uint8_t
    {
        start_of_edge = 1,
        end_of_edge = 2
    };

    bool orient_pieces();
    bool link_pieces();
    bool colour_loops();
    bool colour_loop(bool closed);
    void colour_edges(bool closed, bool thirds);
    void measure_channels();
    // measure_channels' work, on any processor and on one with wider lanes.
    static void measure_pieces(const piece_t* pieces, uint32_t count, float range, int32_t width,
                               int32_t rows, int64_t stride, float* nearest_planes,
                               float* pseudo_planes);
    static void measure_pieces_wide(const piece_t* pieces, uint32_t count, float range,
                                    int32_t width, int32_t rows, int64_t stride,
                                    float* nearest_planes, float* pseudo_planes);
    void make_values();
    void correct_errors();
    bool is_beside_corner(int32_t column, int32_t row) const;
    // Texels a row of a channel plane: the cell's width in whole groups of eight.
    uint32_t plane_stride() const { return (uint32_t(m_exact.cell().width) + 7) & ~7u; }

    distance_field_t m_exact;
    distance_field_type_t m_type = distance_field_type_t::sdf;
    array_dyn_t<piece_t> m_pieces;
    array_dyn_t<uint32_t> m_oriented;   // per exact piece: its index in m_pieces, or UINT32_MAX
    array_dyn_t<uint32_t> m_loop;       // pieces of the loop being coloured, in order
    array_dyn_t<uint32_t> m_open;       // pieces nobody goes on to
    array_dyn_t<float> m_edge_lengths;  // of the loop being coloured, from its first corner
    array_dyn_t<uint8_t> m_edge_colours;
    array_dyn_t<corner_t> m_corners;
    // Per channel and texel, in planes of plane_stride(): the squared distance to the
    // nearest piece of the channel, less a little for a more nearly perpendicular one (which
    // breaks ties at shared ends), and the squared pseudo-distance signed by the side.
    array_dyn_t<float> m_nearest;
    array_dyn_t<float> m_pseudo;
    array_dyn_t<uint8_t> m_values;
    array_dyn_t<uint8_t> m_interior;
    array_dyn_t<uint8_t> m_replace;
    array_dyn_t<uint8_t> m_above;    // per texel: its channels at or above one half
    array_dyn_t<uint8_t> m_changed;  // per texel: error correction's last pass changed it
};
