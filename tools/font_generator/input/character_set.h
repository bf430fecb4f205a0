// Character sets: the glyph records of one set and the reader of character-set files.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"

#include <cstdint>

// One accepted line of a character-set file. Reading sets code and name; measuring fills the
// size, bearings and advance; packing fills the canvas position. Copies are deep.
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
};

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

// Fills an empty set from the character-set file at `path` (SYSFS, the file cache first): one
// glyph per line "U+<hex> [name] [# comment]", a byte order mark before the first line skipped.
// Malformed lines, and codes that are surrogates or beyond U+10FFFF, are reported with the line
// and skipped. False, after a message, when the file cannot be opened or read or a glyph cannot
// be stored.
[[nodiscard]] bool read_character_set(character_set_t* set, const string_t& path);

// ---- characters from ranges and text

// Whether a code of a range is a character a font may have: up to U+10FFFF, no surrogate
// (U+D800 to U+DFFF) and no noncharacter (U+FDD0 to U+FDEF and the last two codes of a plane).
bool is_range_character(uint32_t code);

// The code points a set holds, so that ranges and texts add each code once. Main thread only.
class code_set_t
{
public:
    // No code yet; false when memory is short.
    [[nodiscard]] bool start();
    // The codes of the set's first `count` glyphs; false when memory is short.
    [[nodiscard]] bool start(const character_set_t& set, uint32_t count = UINT32_MAX);
    bool has(uint32_t code) const { return (m_bits[code >> 6] >> (code & 63)) & 1; }
    void add(uint32_t code) { m_bits[code >> 6] |= uint64_t(1) << (code & 63); }

private:
    array_dyn_t<uint64_t> m_bits;  // one bit per code point up to U+10FFFF
};

// One element of character_ranges: "U+XXXX-U+YYYY" or "U+XXXX", one to six hexadecimal digits
// of either case after "U+" or "u+", blanks around the '-' and the whole allowed, first <= last
// <= U+10FFFF. False for anything else.
[[nodiscard]] bool parse_character_range(const char* text, uint32_t* first, uint32_t* last);

// Whether a range holds at least one code that is_range_character.
bool range_has_characters(uint32_t first, uint32_t last);

// Marks every range character from first to last as held, so that texts read after the ranges
// leave them to the ranges.
void mark_character_range(uint32_t first, uint32_t last, code_set_t* seen);

// Range codes that no font of the set has: how many, and their first runs of consecutive codes.
struct lost_codes_t
{
    static constexpr uint32_t shown_runs = 8;
    uint64_t count = 0;
    uint64_t run_count = 0;
    uint32_t runs[shown_runs][2] = {};  // first, last of the first shown_runs runs
    uint32_t last_code = 0;             // the latest code counted
};

// Inserts at `position` of the set's glyphs one glyph named "U+XXXX" (four to six upper-case
// digits) for each code of `ranges` (elements that parse_character_range takes), in order, that
// is a range character, is not held by the set's first `position` glyphs nor by an earlier
// range code, and is in `available`; the other range characters are counted in `lost`. Reports
// and returns false when memory is short.
[[nodiscard]] bool insert_range_characters(character_set_t* set, uint32_t position,
                                           const array_t<string_dyn_t>& ranges,
                                           const code_set_t& available, lost_codes_t* lost);

// Appends a glyph named "U+XXXX" for each character of the UTF-8 text file at `path` (SYSFS)
// that the set does not hold yet, in order of first appearance; line ends, other controls below
// U+0020 and U+FEFF (a byte order mark, anywhere) are left out. Reports and returns false when
// the file cannot be read, is not UTF-8 (naming the byte offset) or memory is short.
[[nodiscard]] bool read_text_characters(character_set_t* set, const string_t& path,
                                        code_set_t* seen);
