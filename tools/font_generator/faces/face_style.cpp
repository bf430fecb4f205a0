// A face's family name and style flags.
#include "tools/font_generator/faces/face_style.h"

#include <ft2build.h>
#include FT_FREETYPE_H

face_style_t read_face_style(FT_FaceRec_* face)
{
    face_style_t style;
    if (face->family_name != nullptr)
        style.family = face->family_name;
    style.bold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    style.italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    return style;
}
