// OpenType kerning: the kerning pairs of a set as HarfBuzz shapes each pair of its characters
// with the font's layout tables (GPOS, and the 'kern' table where GPOS has no kerning). The only
// file that sees HarfBuzz's headers is this module's source.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "tools/font_generator/font_faces.h"

#include <cstdint>

struct FT_FaceRec_;
struct character_set_t;

// How the pairs are found. Both give the same pairs; `every_pair` shapes all of them and is
// there to prove that.
enum class kerning_search_t
{
    candidates,  // only the pairs the font's tables can move
    every_pair,
};

// The kerning of two characters in 26.6 units, by shaping them with HarfBuzz's font over the
// face: the first glyph's shaped advance minus its unshaped advance, plus the second glyph's
// shaped x offset; `kern` on, the substitutions that join or reorder glyphs and the mark
// positioning features off. 0 when shaping gives other than two glyphs.
class pair_shaper_t
{
public:
    explicit pair_shaper_t(FT_FaceRec_* face);
    pair_shaper_t(const pair_shaper_t&) = delete;
    pair_shaper_t& operator=(const pair_shaper_t&) = delete;
    ~pair_shaper_t();

    // False when HarfBuzz could not get its memory; nothing else may be called then.
    bool ready() const;
    // False when memory ran short while shaping.
    [[nodiscard]] bool shape(uint32_t first_code, uint32_t second_code, int32_t* value);

    // For the candidate search: HarfBuzz's font and its face.
    struct hb_font_t* font() const { return m_font; }

private:
    struct hb_font_t* m_font = nullptr;
    struct hb_buffer_t* m_buffer = nullptr;
};

// 26.6 units to whole pixels, rounded half up.
inline int32_t kerning_pixels(int32_t value)
{
    return int32_t((int64_t(value) + 32) >> 6);
}

// Every ordered pair (a, b) of the set's characters that the face defines, b = a included, in
// file order of a then b, whose shaped kerning in whole pixels is not 0. Characters the face
// lacks take no part. False when memory is short.
[[nodiscard]] bool collect_opentype_kerning_pairs(FT_FaceRec_* face, const character_set_t& set,
                                                  kerning_search_t search,
                                                  array_dyn_t<kerning_pair_t>* out);
