// The font description file: the header's figures, the pictures' material names, a glyph line
// for every glyph of every set and the kerning lines, formatted from the finished font.
#pragma once

#include "ovcore/collections/auto_ptr.h"
#include "tools/font_generator/model/finished_font.h"

#include <cstdint>

class file_t;
class string_t;

// One glyph line: code, position, size, left and top offsets (top from the font's top line),
// advance, picture number, the character and the glyph name.
[[nodiscard]] bool append_glyph_line(string_t* text, const font_glyph_t& glyph,
                                     int32_t font_max_top, uint32_t picture);

// One kerning line for the codes of two glyphs.
[[nodiscard]] bool append_kerning_line(string_t* text, uint32_t first_code, uint32_t second_code,
                                       int32_t value);

// The whole description text. False when memory is short.
[[nodiscard]] bool append_font_description(string_t* text, const finished_font_t& font);

// Creates "<base><output>.font", reports a vertical-span bias the font ignored, and writes the
// description in one piece. The file stays open in `*file` for the caller to close: the run
// closes it after the engine's other files. Reports and returns false when it cannot be created
// or written.
[[nodiscard]] bool write_font_description(const finished_font_t& font, auto_ptr_t<file_t>* file);
