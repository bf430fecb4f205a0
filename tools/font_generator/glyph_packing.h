// Glyph canvas and packing: the canvas-size search, the shelf packer and drawing glyphs into the
// canvas's pixel block.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"

#include <cstdint>

struct character_set_t;
struct font_canvas_t;
struct font_glyph_t;
struct generator_t;
struct glyph_alpha_table_t;
struct glyph_bitmap_t;

// Where the drawing pass gets the bitmap of a glyph, by the glyph's position in its set.
class glyph_source_t
{
public:
    virtual ~glyph_source_t() = default;
    // The bitmap to draw, valid until the next call; false when there is nothing to draw.
    [[nodiscard]] virtual bool get_bitmap(uint32_t position, glyph_bitmap_t* out) = 0;
};

// The packing order of a set: positions in its glyph array sorted by height, tallest first,
// then by code, smallest first; glyphs equal in both keep their file order. False when memory
// is short.
[[nodiscard]] bool sort_glyphs_for_packing(const character_set_t& set, array_dyn_t<uint32_t>* order);

// One packing attempt of the set's rasterized glyphs on a `width` × `height` canvas, in `order`:
// shelves from (1, 1), one free pixel between cells and at the right and bottom edges; a glyph
// that does not fit on its shelf first lets the widest later glyph that does fit go before it.
// True when every rasterized glyph got its canvas_x and canvas_y; a failed attempt leaves the
// positions it set so far. Draws nothing. False also when memory is short.
[[nodiscard]] bool place_glyphs(character_set_t* set, const array_t<uint32_t>& order,
                                uint32_t width, uint32_t height);

// Finds the first canvas size, from 32 × 32 up to 8192 × 8192 with the height growing first,
// on which every rasterized glyph of the set fits; sets the canvas to it, clears it and draws
// every glyph with bitmaps from `source`. Reports and returns false when none fits.
[[nodiscard]] bool fit_canvas(font_canvas_t* canvas, character_set_t* set, uint32_t outline_width,
                              glyph_source_t* source);

// Phase three of the run: fit_canvas for every set of the generator in order, onto its first
// canvas with bitmaps from its first face and its unit's settings. Stops at the first set that
// does not fit.
[[nodiscard]] bool fit_canvases(generator_t* generator);

// Copies one glyph bitmap into the canvas at the glyph's cell, `outline_width` pixels in from its
// top-left corner: the alpha byte for font style 0, colour three times and alpha for style 1.
// Writes nothing outside the glyph's cell, whatever the size of the bitmap.
void draw_glyph(font_canvas_t* canvas, const glyph_bitmap_t& bitmap, const character_set_t& set,
                const font_glyph_t& glyph, uint32_t outline_width,
                const glyph_alpha_table_t& alpha);
