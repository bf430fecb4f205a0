// The kerning stage: the kerning pairs of a character set, from the faces' 'kern' tables
// through FreeType or, when the set asks for it, from OpenType layout (opentype_kerning.h).
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/model/kerning_pair.h"

#include <cstdint>

struct character_set_t;
class set_glyphs_t;

// Sets whose first code lies above this have no kerning lines: such sets (CJK and the like)
// are large, and their fonts kern little.
constexpr uint32_t last_kerned_first_code = 0x3000;

// True when the face says it has kerning.
bool face_has_kerning(FT_FaceRec_* face);

// Every ordered pair (a, b) of the set's glyphs drawn from face `face_index`, b = a included,
// in file order of a then b, whose kerning in that face through FreeType, in whole pixels, is
// not 0; appended to `out`. With `known` the glyph indices come from measuring and a face whose
// kerning lives in a 'kern' table is asked only for the pairs that table lists; without it every
// pair is asked with its indices looked up again. The pairs are the same. False when memory is
// short.
[[nodiscard]] bool append_face_kerning_pairs(FT_FaceRec_* face, uint32_t face_index,
                                             const character_set_t& set,
                                             const set_glyphs_t* known,
                                             array_dyn_t<kerning_pair_t>* out);

// The stage: the set's kerning pairs in file order of a then b, each pair within one face (pairs
// across faces have none); none for an empty set or one whose first code lies above
// last_kerned_first_code. With `opentype`, by shaping each pair with the font's layout tables,
// else through FreeType. False when memory is short.
[[nodiscard]] bool collect_kerning(face_list_t faces, const character_set_t& set,
                                   const set_glyphs_t* known, bool opentype,
                                   array_dyn_t<kerning_pair_t>* out);
