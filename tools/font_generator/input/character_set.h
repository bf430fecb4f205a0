// Reading character sets: character-set files, ranges and text files.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "tools/font_generator/model/font_glyph.h"

#include <cstdint>

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
