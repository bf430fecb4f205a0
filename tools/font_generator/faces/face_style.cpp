// A face's family name and style flags.
#include "tools/font_generator/faces/face_style.h"

#include "tools/font_generator/faces/font_variations.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>

face_style_t read_face_style(FT_FaceRec_* face)
{
    face_style_t style;
    if (face->family_name != nullptr)
        style.family = face->family_name;
    style.bold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    style.italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    return style;
}

face_style_t read_varied_face_style(FT_FaceRec_* face, const face_variation_t& variation)
{
    face_style_t style = read_face_style(face);
    style.family = variation.face_name.c_str();
    bool has_slant = false;
    bool italic = std::strstr(variation.instance.c_str(), "Italic") != nullptr ||
                  std::strstr(variation.instance.c_str(), "Oblique") != nullptr;
    for (uint32_t a = 0; a < variation.tags.size(); ++a)
    {
        const int32_t value = variation.coordinates[a];  // 16.16
        switch (variation.tags[a])
        {
        case FT_MAKE_TAG('w', 'g', 'h', 't'):
            style.bold = value >= 600 * 65536;
            break;
        case FT_MAKE_TAG('i', 't', 'a', 'l'):
            has_slant = true;
            italic = italic || value >= 65536 / 2;
            break;
        case FT_MAKE_TAG('s', 'l', 'n', 't'):
            has_slant = true;
            italic = italic || value != 0;
            break;
        default:
            break;
        }
    }
    style.italic = italic || (!has_slant && style.italic);
    return style;
}
