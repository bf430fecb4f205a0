// The run's configuration: the unit types configuration and char_set_config, and loading the
// configuration file.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "ovcore/units/unit.h"
#include "tools/font_generator/model/distance_field_type.h"
#include "tools/font_generator/model/picture_kind.h"

#include <cstdint>

class file_t;

// One character set: its font, its character-set file and how its glyphs are rendered.
class char_set_config_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;

    // The defaults: 12 x 12 pixels, scale 1.0, antialiased, no outline, empty paths.
    explicit char_set_config_u(unit_system_t* system);
    // Null when no memory can be had.
    [[nodiscard]] static unit_t* create(unit_system_t* system);

    ~char_set_config_u() override;
    const unit_descriptor_t* get_descriptor() const override;

    string_dyn_t font_file;           // opened by FreeType, face 0
    string_dyn_t character_set_file;  // read by read_character_set
    uint32_t width = 12;              // requested glyph size in pixels
    float scale_width = 1.0f;         // transform entry xx = scale_width * 65536 (16.16)
    uint32_t height = 12;
    float scale_height = 1.0f;        // transform entry yy
    bool antialias = true;            // 8-bit coverage glyphs, else monochrome
    uint32_t outline_width = 0;       // pixels of margin on every side of a glyph cell
    bool opentype_kerning = false;    // kerning by shaping pairs with the font's layout tables
    // Fonts for the characters font_file lacks, tried in order; opened and set up like it.
    array_dyn_t<string_dyn_t> fallback_font_files;
    uint32_t max_picture_size = 8192;  // largest picture side: a power of two from 32 to 8192
    bool several_pictures = false;     // glyphs that do not fit one picture go on more
    // More characters after the character-set file's, each code once: ranges "U+XXXX-U+YYYY"
    // or "U+XXXX", then every character of UTF-8 text files (a game's string tables).
    array_dyn_t<string_dyn_t> character_ranges;
    array_dyn_t<string_dyn_t> text_files;
    // Glyphs as signed distance fields of their outlines instead of coverage: 128 on the
    // outline, 0 and 255 at distance_range / 2 outside and inside. Needs outline fonts and no
    // outline_width; antialias has no effect.
    bool distance_field = false;
    float distance_range = default_distance_range;  // pixels, from 1 to 64
    // Empty pixels on every side of every glyph with ink inside its cell, for effects a shader
    // draws around it; and free pixels between cells and at the pictures' borders. Each at most
    // max_glyph_room.
    uint32_t glyph_padding = 0;
    uint32_t glyph_spacing = 1;
    // A variable font_file drawn at one of its named instances, by style name ("Bold"; case and
    // surrounding blanks aside), with axis settings "tag=value" ("wght=650") on top. Both
    // empty: every face as it opens.
    string_dyn_t font_instance;
    array_dyn_t<string_dyn_t> font_variations;
    // "sdf", "msdf" or "mtsdf" (see distance_field_type_t); other than "sdf" only with
    // distance_field. Checked at load.
    string_dyn_t distance_field_type{ "sdf" };
};

// The field a set's pictures hold, decided here alone: "sdf" for a set without distance_field.
distance_field_type_t field_type_of(const char_set_config_u& set);

constexpr uint32_t max_glyph_room = 64;

// The whole font: output names, line metrics, picture style and the character sets.
class configuration_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;

    // The defaults: base "base", line spacing 2, scale 1.0, zeros and empties elsewhere.
    explicit configuration_u(unit_system_t* system);
    // Null when no memory can be had.
    [[nodiscard]] static unit_t* create(unit_system_t* system);

    ~configuration_u() override;
    const unit_descriptor_t* get_descriptor() const override;

    // Element k as a char_set_config unit; null when it is null or of another type.
    // load_configuration accepts only configurations where every element is one.
    char_set_config_u* char_set(uint32_t k) const;

    string_dyn_t base{ "base" };       // output path prefix, joined without a separator
    string_dyn_t output;               // output name stem
    int32_t line_spacing = 2;
    int32_t vertical_span_bias = 0;
    uint32_t font_style = 0;           // 0: one byte per pixel (alpha), else four
    int32_t gradient_color_start = 0;  // in 1/255 units
    int32_t gradient_color_step = 0;   // in 1/255 units
    int32_t gradient_start_offset = 0;
    float default_scale = 1.0f;
    string_dyn_t preview_text;         // UTF-8; set in every character set in a preview picture
    // Descriptor flavours for other engines ("bmfont_text", ...), each at most once; checked at
    // load. Empty: no export.
    array_dyn_t<string_dyn_t> export_formats;
    // Owns the char_set_config unit of character set k (stored untyped, see char_set).
    array_dyn_t<owner_ptr_t<unit_t>> char_config;
};

// Loads the configuration file at `path` (SYSFS, the file cache first) into the default unit
// system and checks what every later stage relies on: one configuration tree whose every
// char_set_config element is one, usable fallback fonts and picture sizes, a UTF-8 preview text
// and a drawable font style. Every bad set setting is reported, not only the first. Null after
// the messages. With `opened` (the caller's, such as the text made from the command line) that
// file is loaded instead, and `path` only names it in messages. Settings a run accepts but that
// are likely mistakes (an empty output, a base naming a folder without its '/', a scale that is
// not above 0) are warned about. `set_names`, when given, receives for every element of
// char_config its unit's name as the file writes it ("" for a unit without a name).
[[nodiscard]] owner_ptr_t<configuration_u>
load_configuration(const char* path, file_t* opened = nullptr,
                   array_dyn_t<string_dyn_t>* set_names = nullptr);
