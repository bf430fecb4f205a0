// Glyph canvas and packing: the canvas-size search, the shelf packer and drawing glyphs into the
// canvas's pixel block.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"

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
    // Every glyph up to the position has been drawn: what the source keeps for them may go.
    // Main thread only.
    virtual void drawn_through(uint32_t /*position*/) {}
    // The first position, in file order, of a measured glyph whose bitmap could not be had
    // again (memory ran short), or -1. Main thread only, after drawing.
    virtual int64_t first_lost_glyph() const { return -1; }

    // Helpers 1 to helper_count() may draw beside the main thread, each with bitmaps of its own.
    virtual uint32_t helper_count() const { return 0; }
    // Gets helper h ready on the thread that runs it; false: it draws nothing.
    [[nodiscard]] virtual bool prepare_helper(uint32_t /*helper*/) { return false; }
    // get_bitmap for helper h >= 1; its bitmap stays valid until its next call.
    [[nodiscard]] virtual bool get_helper_bitmap(uint32_t /*helper*/, uint32_t /*position*/,
                                                 glyph_bitmap_t* /*out*/)
    {
        return false;
    }
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

enum class packing_t
{
    complete,   // every rasterized glyph has its cell
    partial,    // the attempt ran out of room; `placed` says which glyphs have theirs
    no_memory,
};

// place_glyphs that keeps what it placed when it runs out of room: `placed[p]` is 1 exactly for
// the positions p of the order whose glyph got its cell in this attempt.
[[nodiscard]] packing_t pack_glyphs(character_set_t* set, const array_t<uint32_t>& order,
                                    uint32_t width, uint32_t height,
                                    array_dyn_t<uint8_t>* placed);

// How large a set's pictures may be, and whether it may have more than one.
struct picture_limits_t
{
    uint32_t max_side = 8192;  // a power of two from 32 to 8192
    bool several = false;
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

// Finds the first canvas size, from 32 × 32 up to 8192 × 8192 with the height growing first,
// on which every rasterized glyph of the set fits; sets the canvas to it, clears it and draws
// every glyph with bitmaps from `source`. Reports and returns false when none fits.
[[nodiscard]] bool fit_canvas(font_canvas_t* canvas, character_set_t* set, uint32_t outline_width,
                              glyph_source_t* source);

// lay_out_pictures, then as many canvases as it found pictures, the first one given and the
// others made with its style, each set to its size, cleared and drawn with bitmaps from
// `source`. Reports and returns false when the glyphs do not fit or memory is short.
[[nodiscard]] bool fit_set_canvases(array_dyn_t<auto_ptr_t<font_canvas_t>>* canvases,
                                    character_set_t* set, uint32_t outline_width,
                                    const picture_limits_t& limits, glyph_source_t* source);

// Phase three of the run: fit_set_canvases for every set of the generator in order, with
// bitmaps from its faces and its unit's settings. Stops at the first set that does not fit.
[[nodiscard]] bool fit_canvases(generator_t* generator);

// Copies one glyph bitmap into the canvas at the glyph's cell, `outline_width` pixels in from its
// top-left corner: the alpha byte for font style 0, colour three times and alpha for style 1.
// Writes nothing outside the glyph's cell, whatever the size of the bitmap.
void draw_glyph(font_canvas_t* canvas, const glyph_bitmap_t& bitmap, const character_set_t& set,
                const font_glyph_t& glyph, uint32_t outline_width,
                const glyph_alpha_table_t& alpha);
