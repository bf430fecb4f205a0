// The export for other engines: for every character set its pictures as PNG pages and one
// descriptor per asked flavour of the BMFont format (text, XML, binary, JSON), from the numbers
// the font description has. It takes finished records and only formats.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "tools/font_generator/faces/face_style.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/output/font_description.h"

#include <cstdint>

// What a set's descriptors say beyond the description's numbers.
struct bmfont_set_t
{
    const font_output_set_t* entry = nullptr;  // glyphs, kerning, pictures, distance range
    face_style_t face;                         // of the set's font_file
    uint32_t size = 0;                         // the set's height in pixels
    int32_t stretch_h = 100;                   // compute_stretch_h
    bool smooth = true;                        // antialiased
};

struct bmfont_settings_t
{
    const char* base = "base";  // joined to every file name without a separator
    const char* output = "";    // stem of every file name
    uint32_t formats = 0;       // export_format_bit of every flavour to write
    font_layout_t layout;       // the description's: the base line and the line height
};

// 100 × (height × scale_height) / (width × scale_width), rounded: how much taller than wide the
// glyphs are drawn. A side of 0 counts as the other, as the faces take it; a ratio that is not a
// finite number (a scale of 0) gives 0, and one beyond 32 bits is held at the nearest end.
int32_t compute_stretch_h(uint32_t width, uint32_t height, float scale_width, float scale_height);

// A char entry: the glyph's line in the description, its picture counted within the set.
struct bmfont_char_t
{
    uint32_t glyph;  // position in the set, for messages
    glyph_line_t line;
};

struct bmfont_kerning_t
{
    uint32_t first;  // codes
    uint32_t second;
    int32_t amount;
};

// One set's descriptor, as every flavour says it.
struct bmfont_font_t
{
    set_label_t label;  // which set messages name
    face_style_t face;
    uint32_t size = 0;
    int32_t stretch_h = 100;
    bool smooth = true;
    int64_t line_height = 0;  // vertical span + line spacing
    int32_t base = 0;         // the font's max pixels above the line
    uint32_t page_width = 0;  // every page: the set's largest picture
    uint32_t page_height = 0;
    bool colour = false;        // colour pictures: every channel holds glyph data
    float distance_range = 0;   // a distance field of this range in pixels; 0: none
    distance_field_type_t field_type = distance_field_type_t::sdf;  // of that field
    array_dyn_t<string_dyn_t> pages;  // page names, relative to the descriptor
    array_dyn_t<bmfont_char_t> chars;
    array_dyn_t<bmfont_kerning_t> kernings;
};

// Set k's descriptor: its rasterized glyphs in the set's order, a code listed twice once (the
// first), and the kerning pairs as the description lists them where both codes have an entry.
// `page_names` are the page names in picture order. False when memory is short.
[[nodiscard]] bool collect_bmfont(const bmfont_settings_t& settings, const bmfont_set_t& set,
                                  const array_t<output_picture_t>& pictures,
                                  const array_t<string_dyn_t>& page_names, bmfont_font_t* font);

// The flavours, appended. Text: tag and key=value lines, LF, a double quote or line end of a name
// as '_'. XML and JSON: UTF-8 with their escapes, a byte that starts no character as '_'. False
// when memory is short.
[[nodiscard]] bool append_bmfont_text(string_t* text, const bmfont_font_t& font);
[[nodiscard]] bool append_bmfont_xml(string_t* text, const bmfont_font_t& font);
[[nodiscard]] bool append_bmfont_json(string_t* text, const bmfont_font_t& font);

// Binary version 3, little-endian. A value that does not fit its field is refused with a message
// naming the set and the character; false then, or when memory is short (said too).
[[nodiscard]] bool append_bmfont_binary(array_dyn_t<uint8_t>* bytes, const bmfont_font_t& font);

// For every set k in order: its pictures as "<base><output>-<k>_<i>.png", i with as many digits
// as the set's last index and every page of the largest picture's size; then its descriptors
// "<base><output>-<k>.fnt" / ".xml" / ".bin" / ".json" for the asked flavours, in that order.
// Stops at the first file that cannot be made, created or written, after reporting it with the
// path; what was written before stays.
[[nodiscard]] bool write_bmfont_exports(const bmfont_settings_t& settings,
                                        const array_t<bmfont_set_t>& sets,
                                        const array_t<output_picture_t>& pictures);
