// The finished font: everything the writers state, built once by the run after packing. The
// writers take it and the pictures' pixels and only format.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "tools/font_generator/model/kerning_pair.h"
#include "tools/font_generator/model/picture_kind.h"

#include <cstdint>

struct character_set_t;
struct font_canvas_t;
struct font_glyph_t;

// What a face says of itself beyond its glyphs, for descriptors that name the font.
struct face_style_t
{
    const char* family = "";  // as the font gives it, owned by the face; never null
    bool bold = false;
    bool italic = false;
};

// What descriptors for other engines say of a set's font: the face of its font_file, its height
// in pixels, how much taller than wide it is drawn (compute_stretch_h), antialiasing, and the
// room around its cells.
struct set_facts_t
{
    face_style_t face;
    uint32_t size = 0;
    int32_t stretch_h = 100;
    bool smooth = true;
    uint32_t padding = 0;
    uint32_t spacing = 1;
};

// One character set as the writers see it. A glyph lies on the picture numbered
// first_picture + its `picture`.
struct finished_set_t
{
    const character_set_t* set = nullptr;
    uint32_t first_picture = 0;
    uint32_t picture_count = 0;
    const array_t<kerning_pair_t>* kerning = nullptr;  // its kerning lines; null: none
    set_pictures_t pictures;                           // what its pictures hold
    uint32_t outline_width = 0;
    set_facts_t facts;
};

// One picture of the run and the names of its files (without the base). Pictures are numbered
// over the run, set by set and within a set in order: a picture's number is its place in the
// run's list.
struct finished_picture_t
{
    const font_canvas_t* canvas = nullptr;
    uint32_t set = 0;    // the set it belongs to
    uint32_t index = 0;  // within the set
    string_dyn_t material_name;        // "<output>_<k>.mat"
    string_dyn_t texture_object_name;  // "<output>_<k>.tobj"
    string_dyn_t picture_name;         // "<output>_<k>.tga"
};

// The five extents of the description's header, each the largest over all sets and never
// below 0.
struct font_maxima_t
{
    int32_t max_width = 0;
    int32_t max_advance = 0;
    int32_t m_height = 0;
    int32_t max_top = 0;
    int32_t max_below = 0;
};

// What the description says of a line of text.
struct font_layout_t
{
    int32_t max_top = 0;         // the top line, in pixels above the base line
    uint32_t vertical_span = 0;  // max_top + max_below + the bias
    int32_t line_spacing = 0;
};

// The whole font: the configuration's output settings, the figures the description states, and
// every set and picture.
struct finished_font_t
{
    const char* base = "base";  // joined to every file name without a separator
    const char* output = "";    // stem of every file name
    int32_t vertical_span_bias = 0;
    float default_scale = 1.0f;
    const char* preview_text = "";  // UTF-8; empty: no preview picture
    uint32_t export_formats = 0;    // export_format_bit of every flavour to write; 0: none
    font_maxima_t maxima;
    font_layout_t layout;
    bool span_bias_ignored = false;  // the bias would have made the span negative
    array_dyn_t<finished_set_t> sets;
    array_dyn_t<finished_picture_t> pictures;
};

font_maxima_t compute_font_maxima(const array_t<finished_set_t>& sets);

// max_top + max_below + bias; a negative bias larger than that sum is ignored, and
// `bias_ignored` says so.
uint32_t compute_vertical_span(int32_t max_top, int32_t max_below, int32_t bias,
                               bool* bias_ignored);

// Fills the font's maxima, layout and picture file names from its sets and pictures, with
// `line_spacing` for the layout. False when memory is short.
[[nodiscard]] bool finish_font(finished_font_t* font, int32_t line_spacing);

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
