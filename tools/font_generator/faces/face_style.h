// What a face says of itself beyond its glyphs: its family name and style, for descriptors that
// name the font.
#pragma once

#include "tools/font_generator/model/finished_font.h"

struct face_variation_t;

struct FT_FaceRec_;

// The face's family name and its bold and italic style flags.
face_style_t read_face_style(FT_FaceRec_* face);

// The same for a face drawn at a variation: the variation's face name (owned by it); bold from
// a wght coordinate of 600 or more, else the face's flag when it has no wght axis; italic from
// an ital coordinate of 0.5 or more, a slnt coordinate other than 0, or an instance name with
// "Italic" or "Oblique" in it, and from the face's flag when it has neither axis.
face_style_t read_varied_face_style(FT_FaceRec_* face, const face_variation_t& variation);
