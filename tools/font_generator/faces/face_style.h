// What a face says of itself beyond its glyphs: its family name and style, for descriptors that
// name the font.
#pragma once

struct FT_FaceRec_;

struct face_style_t
{
    const char* family = "";  // as the font gives it, owned by the face; never null
    bool bold = false;
    bool italic = false;
};

// The face's family name and its bold and italic style flags.
face_style_t read_face_style(FT_FaceRec_* face);
