// The packing stage: the picture-size search, the shelf packer, and drawing glyphs into the
// pictures' canvases.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "tools/font_generator/faces/glyph_measuring.h"
#include "tools/font_generator/model/font_canvas.h"

#include <cstdint>

struct character_set_t;
struct font_glyph_t;
struct glyph_alpha_table_t;
struct glyph_bitmap_t;

// The packing order of a set: positions in its glyph array sorted by height, tallest first,
// then by code, smallest first; glyphs equal in both keep their file order. False when memory
// is short.
[[nodiscard]] bool sort_glyphs_for_packing(const character_set_t& set, array_dyn_t<uint32_t>* order);

enum class packing_t
{
    complete,   // every rasterized glyph has its cell
    partial,    // the attempt ran out of room; `placed` says which glyphs have theirs
    no_memory,
};

// One packing attempt of the set's rasterized glyphs on a `width` × `height` canvas, in `order`:
// shelves from (s, s), s free pixels between cells and at the right and bottom edges (s the
// spacing); a glyph that does not fit on its shelf first lets the widest later glyph that does
// fit go before it. Every glyph it places gets its canvas_x and canvas_y, and `placed[p]` is 1
// exactly for the positions p of the order whose glyph got its cell. Draws nothing.
[[nodiscard]] packing_t pack_glyphs(character_set_t* set, const array_t<uint32_t>& order,
                                    uint32_t width, uint32_t height,
                                    array_dyn_t<uint8_t>* placed, uint32_t spacing = 1);

// How large a set's pictures may be, whether it may have more than one, and the free pixels
// between its cells.
struct picture_limits_t
{
    uint32_t max_side = 8192;  // a power of two from 32 to 8192
    bool several = false;
    uint32_t spacing = 1;      // between cells and at a picture's borders
};

// The size of each of a set's pictures, in order.
struct picture_size_t
{
    uint32_t width;
    uint32_t height;
};

// Finds where every rasterized glyph of the set goes: its canvas_x, canvas_y and picture. One
// picture of the first size, from 32 × 32 up to max_side × max_side with the height growing
// first, that takes every glyph; failing that, with `several`, glyphs in packing order fill
// max_side × max_side pictures one after another with the same packer, and the last picture
// takes the first size of that sequence that holds what is left. Reports and returns false when
// the glyphs do not fit (the message names max_side) or memory is short. A max_side that is not
// a power of two from 32 to 8192 is fatal.
[[nodiscard]] bool lay_out_pictures(character_set_t* set, const array_t<uint32_t>& order,
                                    const picture_limits_t& limits,
                                    array_dyn_t<picture_size_t>* sizes);

// lay_out_pictures in the set's packing order, then as many canvases as it found pictures (the
// ones given first, then new ones of `style`), each set to its size, cleared and drawn with
// bitmaps from `source` (distance-field values with `distance_field`, filling their cells; else
// coverage, `outline_width` + `glyph_padding` pixels in from each cell's corner). Reports and
// returns false, naming the set, when the glyphs do not fit, memory is short or the source
// lost a glyph.
[[nodiscard]] bool fit_set_canvases(array_dyn_t<auto_ptr_t<font_canvas_t>>* canvases,
                                    character_set_t* set, uint32_t outline_width,
                                    const picture_limits_t& limits, const canvas_style_t& style,
                                    glyph_source_t* source, bool distance_field = false,
                                    uint32_t glyph_padding = 0);

// Copies one glyph bitmap into the canvas at the glyph's cell, `inset` pixels in from its
// top-left corner (the outline margin and the padding): the alpha byte for font style 0, colour
// three times and alpha for style 1 (colour by coverage unless the table says otherwise).
// Writes nothing outside the glyph's cell, whatever the size of the bitmap.
void draw_glyph(font_canvas_t* canvas, const glyph_bitmap_t& bitmap, const character_set_t& set,
                const font_glyph_t& glyph, uint32_t inset, const glyph_alpha_table_t& alpha);
