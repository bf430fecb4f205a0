// Render settings of coverage glyphs, as the faces, kerning and output tests ask for them.
#pragma once

#include "tools/font_generator/faces/glyph_measuring.h"

#include <cstdint>

inline glyph_render_settings_t coverage(bool antialias, uint32_t outline_width = 0)
{
    glyph_render_settings_t settings;
    settings.antialias = antialias;
    settings.outline_width = outline_width;
    return settings;
}
