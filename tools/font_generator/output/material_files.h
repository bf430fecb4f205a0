// Material and texture-object files: the two small text files beside every picture.
#pragma once

#include "tools/font_generator/model/finished_font.h"

#include <cstdint>

// Writes picture k's material file "<base><material_name>" naming its render effect and its
// texture object: "ui.white_font" for alpha pictures without an outline margin, "ui" for other
// coverage pictures, "ui.distance_field" with the range for its shader for distance fields.
// Reports and returns false when the file cannot be created or written.
[[nodiscard]] bool write_material_file(const finished_font_t& font, uint32_t picture);

// Writes picture k's texture-object file "<base><texture_object_name>" naming the picture,
// clamped addressing and the usage: "data" for a white font or distance fields, which must stay
// linear, else "ui". Reports and returns false when the file cannot be created or written.
[[nodiscard]] bool write_texture_object_file(const finished_font_t& font, uint32_t picture);
