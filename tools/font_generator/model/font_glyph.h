// The glyph records every stage fills: one glyph, and the glyphs of one character set.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"

#include <cstdint>

// One glyph of a set: a line of a character-set file, a range's code or a text's character.
// Reading sets code and name; measuring fills the size, bearings and advance; packing fills the
// canvas position. Copies are deep.
struct font_glyph_t
{
    uint32_t code = 0;        // Unicode code point
    string_dyn_t name;        // glyph name, possibly empty
    bool rasterized = false;  // loaded and measured; only such glyphs are placed
    int32_t width = 0;        // cell size, outline margin included
    int32_t height = 0;
    int32_t top = 0;          // rows from the base line up to the top row of the bitmap
    int32_t left = 0;         // left bearing
    int32_t advance = 0;      // whole pixels, outline included
    int32_t below = 0;        // rows of the cell below the base line
    uint32_t canvas_x = 0;    // top-left pixel of the cell on the canvas
    uint32_t canvas_y = 0;
    uint32_t face = 0;        // the set's face it is drawn from (0: font_file's)
    uint32_t picture = 0;     // the set's canvas that holds the cell (0: its first)
};

// Which set a message is about: its element of 'char_config' and its character-set file.
struct set_label_t
{
    uint32_t element = 0;
    const char* file = "";  // not owned: the configuration's text, which outlives the set
    const char* name = "";  // as the configuration writes it ('.chars.ui'); "" without a name
};

// How an added line names a set: "the set '.chars.ui' (the element 0 of char_config)", or "the
// element 0 of char_config" for a set without a name. Allocates nothing; a name too long for
// the text is cut short.
struct set_words_t
{
    char text[192];
};
set_words_t describe_set(const set_label_t& label);

// The character of a code as a message shows it after the code: " 'X'", or "" for a control
// character or a code that is no character, which a terminal would not show as itself.
struct character_words_t
{
    char text[8];
};
character_words_t quote_character(uint32_t code);

// The glyphs of one character set in file order, and its extents (0 until measured).
struct character_set_t
{
    set_label_t label;
    int32_t min_width = 0;
    int32_t max_width = 0;
    int32_t min_height = 0;
    int32_t max_height = 0;
    int32_t max_top = 0;
    int32_t max_advance = 0;
    int32_t max_below = 0;
    int32_t m_height = 0;  // height of the letter M
    array_dyn_t<font_glyph_t> glyphs;
};
