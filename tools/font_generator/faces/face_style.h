// What a face says of itself beyond its glyphs: its family name and style, for descriptors that
// name the font.
#pragma once

#include "tools/font_generator/model/finished_font.h"

struct FT_FaceRec_;

// The face's family name and its bold and italic style flags.
face_style_t read_face_style(FT_FaceRec_* face);
