// The output stage: the font description text, then every picture's material, texture-object
// and picture files, and the preview; from finished records, which it only formats.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "tools/font_generator/faces/distance_field_type.h"
#include "tools/font_generator/kerning/kerning.h"

#include <cstdint>

struct character_set_t;
struct font_canvas_t;
struct font_glyph_t;
class string_t;

// The configuration values the outputs use.
struct font_output_settings_t
{
    const char* base = "base";  // joined to every file name without a separator
    const char* output = "";    // stem of every file name
    int32_t line_spacing = 2;
    int32_t vertical_span_bias = 0;
    float default_scale = 1.0f;
    uint32_t font_style = 0;
    const char* preview_text = "";  // UTF-8; empty: no preview picture
};

// One picture of the run: its canvas, its set and its index in the set. Pictures are numbered
// over the run, set by set and within a set in order: a picture's number is its place in the
// run's list.
struct output_picture_t
{
    const font_canvas_t* canvas = nullptr;
    uint32_t set = 0;
    uint32_t index = 0;
};

// One character set with everything the outputs read of it. A glyph lies on the picture
// numbered first_picture + its `picture`.
struct font_output_set_t
{
    const character_set_t* set = nullptr;
    uint32_t first_picture = 0;
    uint32_t picture_count = 0;
    const array_t<kerning_pair_t>* kerning = nullptr;  // its kerning lines; null: none
    uint32_t outline_width = 0;
    float distance_range = 0.0f;  // above 0: the set's pictures hold distance fields
    distance_field_type_t field_type = distance_field_type_t::sdf;  // of those fields
};

// The five extents of the header, each the largest over all sets and never below 0.
struct font_maxima_t
{
    int32_t max_width = 0;
    int32_t max_advance = 0;
    int32_t m_height = 0;
    int32_t max_top = 0;
    int32_t max_below = 0;
};

font_maxima_t compute_font_maxima(const array_t<font_output_set_t>& sets);

// max_top + max_below + bias; a negative bias larger than that sum is reported and ignored.
uint32_t compute_vertical_span(int32_t max_top, int32_t max_below, int32_t bias);

// The numbers of one glyph line, as a reader of the description takes them.
struct glyph_line_t
{
    uint32_t code;
    uint32_t x;        // P_x, P_y: top-left pixel of the cell in its picture
    uint32_t y;
    int32_t width;     // W, H
    int32_t height;
    int32_t left;      // L: from the pen to the cell's left edge
    int32_t top;       // T: from the line's top to the cell's top row
    int32_t advance;   // A
    uint32_t picture;  // I
};

glyph_line_t make_glyph_line(const font_glyph_t& glyph, int32_t font_max_top, uint32_t picture);

// The description's numbers that setting a line of text needs, kept as the description is made.
struct font_layout_t
{
    int32_t max_top = 0;
    uint32_t vertical_span = 0;
    int32_t line_spacing = 0;
};

// One glyph line: code, position, size, left and top offsets (top from the font's top line),
// advance, picture number, the character and the glyph name.
[[nodiscard]] bool append_glyph_line(string_t* text, const font_glyph_t& glyph,
                                     int32_t font_max_top, uint32_t picture);

// One kerning line for the codes of two glyphs.
[[nodiscard]] bool append_kerning_line(string_t* text, uint32_t first_code, uint32_t second_code,
                                       int32_t value);

// The whole description text, and with `layout` what it says of the lines. False when memory is
// short.
[[nodiscard]] bool append_font_description(string_t* text, const font_output_settings_t& settings,
                                           const array_t<font_output_set_t>& sets,
                                           const array_t<output_picture_t>& pictures,
                                           font_layout_t* layout = nullptr);

// Writes the description "<base><output>.font", then for every picture k, in number order, its
// material, texture object and picture files "<base><output>_<k>.mat" / ".tobj" / ".tga", then
// with a preview text the preview. Stops at the first file that cannot be created or written,
// after reporting it; what was written before stays. With `layout`, what the description says
// of the lines, for outputs that follow.
[[nodiscard]] bool write_font_outputs(const font_output_settings_t& settings,
                                      const array_t<font_output_set_t>& sets,
                                      const array_t<output_picture_t>& pictures,
                                      font_layout_t* layout = nullptr);
