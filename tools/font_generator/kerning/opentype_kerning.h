// OpenType kerning: the kerning pairs of a set as HarfBuzz shapes each pair of its characters
// with the font's layout tables (GPOS, and the 'kern' table where GPOS has no kerning). The only
// file that sees HarfBuzz's headers is this module's source.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "tools/font_generator/model/kerning_pair.h"

#include <cstdint>

class string_t;
struct FT_FaceRec_;
struct character_set_t;

// How the pairs are found. Both give the same pairs; `every_pair` shapes all of them and is
// there to prove that.
enum class kerning_search_t
{
    candidates,  // only the pairs the font's tables can move
    every_pair,
};

// Loads HarfBuzz on first use. Reports and returns false when it cannot be loaded.
[[nodiscard]] bool load_harfbuzz();
// The version of the HarfBuzz library a run would load, as "x.y.z"; false, without a message,
// when it cannot be loaded.
[[nodiscard]] bool describe_harfbuzz_version(string_t* out);

// Every ordered pair (a, b) of the set's characters that the face defines and that are drawn
// from face `face_index` of the set, b = a included, in file order of a then b, whose shaped
// kerning in whole pixels is not 0. Other characters take no part. False when memory is short.
[[nodiscard]] bool collect_opentype_kerning_pairs(FT_FaceRec_* face, const character_set_t& set,
                                                  kerning_search_t search,
                                                  array_dyn_t<kerning_pair_t>* out,
                                                  uint32_t face_index = 0);
