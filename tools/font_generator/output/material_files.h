// Material and texture-object files: the two small text files beside every picture.
#pragma once

#include "tools/font_generator/faces/distance_field_type.h"

// Writes the material file naming the render effect ("ui.white_font" for a white font, else
// "ui") and the texture object. A picture of distance fields (`distance_range` above 0) has the
// effect "ui.distance_field" and the range for its shader instead, and a multi-channel field its
// type after the range. Reports and returns false when the file cannot be created or written.
[[nodiscard]] bool write_material_file(
    const char* path, const char* texture_object_name, bool white_font,
    float distance_range = 0.0f, distance_field_type_t field_type = distance_field_type_t::sdf);

// Writes the texture-object file naming the picture, clamped addressing and the usage ("data"
// for a white font or distance fields, which must stay linear, else "ui"). Reports and returns
// false when the file cannot be created or written.
[[nodiscard]] bool write_texture_object_file(const char* path, const char* picture_name,
                                             bool white_font, float distance_range = 0.0f);
