// The configuration unit types and loading the configuration file.
#include "tools/font_generator/input/configuration.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/text_encoding.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_loader.h"
#include "ovcore/units/unit_system.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/model/axis_setting.h"
#include "tools/font_generator/model/export_formats.h"
#include "tools/font_generator/model/font_glyph.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/model/picture_kind.h"

#include <cmath>
#include <new>
#include <utility>

// ---------------------------------------------------------------------------------------------
// char_set_config

namespace
{

// No attribute has a domain: the loader checks only what the value types themselves allow.
const unit_attribute_t char_set_config_attributes[] = {
    OV_UNIT_ATTRIBUTE(char_set_config_u, font_file, string, nullptr, "font_file"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, character_set_file, string, nullptr,
                      "character_set_file"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, width, u32, nullptr, "width"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, height, u32, nullptr, "height"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, scale_width, float1, nullptr, "scale_width"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, scale_height, float1, nullptr, "scale_height"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, antialias, boolean, nullptr, "antialias"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, outline_width, u32, nullptr, "outline_width"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, opentype_kerning, boolean, nullptr, "opentype_kerning"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, fallback_font_files, string_array, nullptr,
                      "fallback_font_files"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, max_picture_size, u32, nullptr, "max_picture_size"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, several_pictures, boolean, nullptr, "several_pictures"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, character_ranges, string_array, nullptr,
                      "character_ranges"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, text_files, string_array, nullptr, "text_files"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, distance_field, boolean, nullptr, "distance_field"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, distance_range, float1, nullptr, "distance_range"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, glyph_padding, u32, nullptr, "glyph_padding"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, glyph_spacing, u32, nullptr, "glyph_spacing"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, font_instance, string, nullptr, "font_instance"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, font_variations, string_array, nullptr,
                      "font_variations"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, distance_field_type, string, nullptr,
                      "distance_field_type"),
    OV_UNIT_ATTRIBUTES_END,
};

const unit_attribute_t configuration_attributes[] = {
    OV_UNIT_ATTRIBUTE(configuration_u, base, string, nullptr, "base"),
    OV_UNIT_ATTRIBUTE(configuration_u, output, string, nullptr, "output"),
    OV_UNIT_ATTRIBUTE(configuration_u, line_spacing, s32, nullptr, "line_spacing"),
    OV_UNIT_ATTRIBUTE(configuration_u, vertical_span_bias, s32, nullptr, "vertical_span_bias"),
    OV_UNIT_ATTRIBUTE(configuration_u, font_style, u32, nullptr, "font_style"),
    OV_UNIT_ATTRIBUTE(configuration_u, gradient_color_start, s32, nullptr,
                      "gradient_color_start"),
    OV_UNIT_ATTRIBUTE(configuration_u, gradient_color_step, s32, nullptr, "gradient_color_step"),
    OV_UNIT_ATTRIBUTE(configuration_u, gradient_start_offset, s32, nullptr,
                      "gradient_start_offset"),
    OV_UNIT_ATTRIBUTE(configuration_u, default_scale, float1, nullptr, "default_scale"),
    OV_UNIT_ATTRIBUTE(configuration_u, char_config, owner_ptr_array, nullptr, "char_config"),
    OV_UNIT_ATTRIBUTE(configuration_u, preview_text, string, nullptr, "preview_text"),
    OV_UNIT_ATTRIBUTE(configuration_u, export_formats, string_array, nullptr, "export_formats"),
    OV_UNIT_ATTRIBUTES_END,
};

}  // namespace

const unit_descriptor_t char_set_config_u::descriptor = {
    "char_set_config", char_set_config_u::create, unit_destroy, &unit_t::descriptor,
    char_set_config_attributes, compute_type_name_hash("char_set_config_u"), 0xFFFFFFFFu,
};

char_set_config_u::char_set_config_u(unit_system_t* system) : unit_t(system) {}

unit_t* char_set_config_u::create(unit_system_t* system)
{
    return new (std::nothrow) char_set_config_u(system);
}

char_set_config_u::~char_set_config_u() = default;

const unit_descriptor_t* char_set_config_u::get_descriptor() const
{
    return &descriptor;
}

// ---------------------------------------------------------------------------------------------
// configuration

const unit_descriptor_t configuration_u::descriptor = {
    "configuration", configuration_u::create, unit_destroy, &unit_t::descriptor,
    configuration_attributes, compute_type_name_hash("configuration_u"), 0xFFFFFFFFu,
};

configuration_u::configuration_u(unit_system_t* system) : unit_t(system) {}

unit_t* configuration_u::create(unit_system_t* system)
{
    return new (std::nothrow) configuration_u(system);
}

configuration_u::~configuration_u() = default;

const unit_descriptor_t* configuration_u::get_descriptor() const
{
    return &descriptor;
}

char_set_config_u* configuration_u::char_set(uint32_t k) const
{
    return unit_cast<char_set_config_u>(char_config[k].get());
}

// ---------------------------------------------------------------------------------------------
// load_configuration

namespace
{

// The loader accepts any unit, or none, in an owner array; every later phase needs a
// char_set_config in each element.
bool has_only_char_set_configs(const configuration_u& configuration, const char* path)
{
    for (uint32_t k = 0; k < configuration.char_config.size(); ++k)
    {
        if (configuration.char_set(k) == nullptr)
        {
            msg_error("The element %Iu of 'char_config' in the configuration file '%s' is not a "
                      "char_set_config unit.",
                      size_t(k), path);
            return false;
        }
    }
    return true;
}

// Every fallback font is a path, and no font of a set is named twice.
bool has_usable_fallback_fonts(const configuration_u& configuration, const char* path)
{
    bool usable = true;
    for (uint32_t k = 0; k < configuration.char_config.size(); ++k)
    {
        const char_set_config_u& set = *configuration.char_set(k);
        const array_t<string_dyn_t>& fallbacks = set.fallback_font_files;
        for (uint32_t i = 0; i < fallbacks.size(); ++i)
        {
            if (fallbacks[i].empty())
            {
                msg_error("The fallback font %Iu of the element %Iu of 'char_config' in the "
                          "configuration file '%s' is an empty path.",
                          size_t(i), size_t(k), path);
                usable = false;
                continue;
            }
            bool named_before = fallbacks[i] == set.font_file;
            for (uint32_t j = 0; j < i && !named_before; ++j)
                named_before = fallbacks[i] == fallbacks[j];
            if (named_before)
            {
                msg_error("The fallback font %Iu of the element %Iu of 'char_config' in the "
                          "configuration file '%s' names the font '%s' a second time.",
                          size_t(i), size_t(k), path, fallbacks[i].c_str());
                usable = false;
            }
        }
    }
    return usable;
}

// Picture sides double from 32, so a limit is one of those sides.
bool has_usable_picture_sizes(const configuration_u& configuration, const char* path)
{
    bool usable = true;
    for (uint32_t k = 0; k < configuration.char_config.size(); ++k)
    {
        const uint32_t size = configuration.char_set(k)->max_picture_size;
        if (size < 32 || size > MAX_CANVAS_SIDE || (size & (size - 1)) != 0)
        {
            msg_error("The max_picture_size %u of the element %Iu of 'char_config' in the "
                      "configuration file '%s' is not a power of two from 32 to %u.",
                      size, size_t(k), path, MAX_CANVAS_SIDE);
            usable = false;
        }
    }
    return usable;
}

// Room around cells: a few pixels for effects and mip levels, not a way to make pictures huge.
bool has_usable_room_around_glyphs(const configuration_u& configuration, const char* path)
{
    bool usable = true;
    for (uint32_t k = 0; k < configuration.char_config.size(); ++k)
    {
        const char_set_config_u& set = *configuration.char_set(k);
        const struct
        {
            const char* name;
            uint32_t value;
        } rooms[] = { { "glyph_padding", set.glyph_padding },
                      { "glyph_spacing", set.glyph_spacing } };
        for (const auto& room : rooms)
        {
            if (room.value <= max_glyph_room)
                continue;
            msg_error("The %s %u of the element %Iu of 'char_config' in the configuration file "
                      "'%s' is more than %u pixels.",
                      room.name, room.value, size_t(k), path, max_glyph_room);
            usable = false;
        }
    }
    return usable;
}

// Every character range is one that the character sets take, and every set has a glyph size.
bool has_usable_characters_and_sizes(const configuration_u& configuration, const char* path)
{
    bool usable = true;
    for (uint32_t k = 0; k < configuration.char_config.size(); ++k)
    {
        const char_set_config_u& set = *configuration.char_set(k);
        for (const string_dyn_t& range : set.character_ranges)
        {
            uint32_t first = 0;
            uint32_t last = 0;
            if (!parse_character_range(range.c_str(), &first, &last))
            {
                msg_error("The character range '%s' of the element %Iu of 'char_config' in the "
                          "configuration file '%s' is not U+XXXX or U+XXXX-U+YYYY with the first "
                          "code at most the last and the last at most U+10FFFF.",
                          range.c_str(), size_t(k), path);
                usable = false;
            }
            else if (!range_has_characters(first, last))
            {
                msg_error("The character range '%s' of the element %Iu of 'char_config' in the "
                          "configuration file '%s' holds only surrogate codes (U+D800 to U+DFFF) "
                          "and noncharacters (U+FDD0 to U+FDEF, the last two codes of a plane), "
                          "which no font has as characters.",
                          range.c_str(), size_t(k), path);
                usable = false;
            }
        }
        // One 0 means "as the other side"; both give one-pixel glyphs no one asks for.
        if (set.width == 0 && set.height == 0)
        {
            msg_error("The width and height of the element %Iu of 'char_config' in the "
                      "configuration file '%s' are both 0: a glyph needs a size.",
                      size_t(k), path);
            usable = false;
        }
    }
    return usable;
}

// A distance range is one an engine's shader can use, and a distance-field set has no outline
// margin: the range is its margin, and engines draw outlines from the distances.
bool has_usable_distance_fields(const configuration_u& configuration, const char* path)
{
    bool usable = true;
    for (uint32_t k = 0; k < configuration.char_config.size(); ++k)
    {
        const char_set_config_u& set = *configuration.char_set(k);
        const float range = set.distance_range;
        if (!(range >= min_distance_range && range <= max_distance_range))  // NaN too
        {
            msg_error("The distance_range %g of the element %Iu of 'char_config' in the "
                      "configuration file '%s' is not from %g to %g pixels.",
                      double(range), size_t(k), path, double(min_distance_range),
                      double(max_distance_range));
            usable = false;
        }
        distance_field_type_t type;
        // The default "sdf" is a copy made with the unit: without memory for it the text is
        // empty, which is no mistake of the file's.
        if (set.distance_field_type.copy_failed())
        {
            msg_error("Not enough memory for the distance_field_type of the element %Iu of "
                      "'char_config' in the configuration file '%s'.",
                      size_t(k), path);
            usable = false;
        }
        else if (!find_distance_field_type(set.distance_field_type.c_str(), &type))
        {
            msg_error("The distance_field_type '%s' of the element %Iu of 'char_config' in the "
                      "configuration file '%s' is not \"sdf\", \"msdf\" or \"mtsdf\".",
                      set.distance_field_type.c_str(), size_t(k), path);
            usable = false;
        }
        else if (type != distance_field_type_t::sdf && !set.distance_field)
        {
            msg_error("The element %Iu of 'char_config' in the configuration file '%s' has the "
                      "distance_field_type \"%s\" without distance_field: true.",
                      size_t(k), path, set.distance_field_type.c_str());
            usable = false;
        }
        if (set.distance_field && set.outline_width != 0)
        {
            msg_error("The element %Iu of 'char_config' in the configuration file '%s' is a "
                      "distance field with an outline_width of %u: a distance field takes its "
                      "margin from distance_range, so outline_width must be 0.",
                      size_t(k), path, set.outline_width);
            usable = false;
        }
    }
    return usable;
}

// Every axis setting reads as one, and names its axis once: which of two values would win is
// nobody's guess.
bool has_usable_font_variations(const configuration_u& configuration, const char* path)
{
    bool usable = true;
    for (uint32_t k = 0; k < configuration.char_config.size(); ++k)
    {
        const array_t<string_dyn_t>& texts = configuration.char_set(k)->font_variations;
        for (uint32_t i = 0; i < texts.size(); ++i)
        {
            axis_setting_t setting;
            if (!parse_axis_setting(texts[i].c_str(), &setting))
            {
                msg_error("The font variation '%s' of the element %Iu of 'char_config' in the "
                          "configuration file '%s' is not TAG=VALUE: a four-character axis tag, "
                          "'=' and a number.",
                          texts[i].c_str(), size_t(k), path);
                usable = false;
                continue;
            }
            bool named_before = false;
            for (uint32_t j = 0; j < i && !named_before; ++j)
            {
                axis_setting_t before;
                named_before = parse_axis_setting(texts[j].c_str(), &before) &&
                               before.tag == setting.tag;
            }
            if (named_before)
            {
                msg_error("The font variation '%s' of the element %Iu of 'char_config' in the "
                          "configuration file '%s' names the axis '%s' a second time.",
                          texts[i].c_str(), size_t(k), path, axis_tag_text(setting.tag).text);
                usable = false;
            }
        }
    }
    return usable;
}

// Each export format names a flavour the export writes, and names it once: a second descriptor
// of one flavour would overwrite the first.
bool has_known_export_formats(const configuration_u& configuration, const char* path)
{
    bool known = true;
    uint32_t named = 0;
    for (const string_dyn_t& name : configuration.export_formats)
    {
        export_format_t format;
        if (!find_export_format(name.c_str(), &format))
        {
            msg_error("The export format '%s' in the configuration file '%s' is not one of "
                      "bmfont_text, bmfont_xml, bmfont_binary and bmfont_json.",
                      name.c_str(), path);
            known = false;
        }
        else if ((named & export_format_bit(format)) != 0)
        {
            msg_error("The export format '%s' is named more than once in the configuration file "
                      "'%s'.",
                      name.c_str(), path);
            known = false;
        }
        else
        {
            named |= export_format_bit(format);
        }
    }
    return known;
}

// The preview text is set character by character: a byte that starts no character is refused
// here rather than dropped from the picture unseen.
bool is_utf8_text(const string_t& text, const char* path)
{
    for (uint32_t at = 0; at < text.length();)
    {
        const utf8_sequence_t sequence = decode_utf8(text.c_str() + at);
        if (sequence.length <= 0)
        {
            msg_error("The preview_text in the configuration file '%s' is not UTF-8: byte %u "
                      "starts no character.",
                      path, at);
            return false;
        }
        at += uint32_t(sequence.length);
    }
    return true;
}

// The single configuration tree of the open file, and the names its file gives the elements of
// char_config; null when the file holds anything else or memory runs short.
owner_ptr_t<configuration_u> load_configuration_tree(file_t* file, const char* path,
                                                     array_dyn_t<string_dyn_t>* set_names)
{
    unit_load_t loader(unit_system_t::get_default(), file, path);
    if (!loader.load_units())
        return owner_ptr_t<configuration_u>();
    owner_ptr_t<configuration_u> configuration =
        owner_ptr_cast<configuration_u>(loader.load_typed_tree(&configuration_u::descriptor));
    if (!configuration)
        return configuration;
    const uint32_t count = configuration->char_config.size();
    if (!set_names->resize(count))
    {
        msg_error("Not enough memory for the character sets of the configuration file '%s'.",
                  path);
        return owner_ptr_t<configuration_u>();
    }
    for (const unit_load_t::written_unit_t& written : loader.written_units())
        for (uint32_t k = 0; k < count; ++k)
            if (configuration->char_config[k].get() == written.unit &&
                !(*set_names)[k].assign(written.name))
            {
                msg_error("Not enough memory for the character sets of the configuration file "
                          "'%s'.",
                          path);
                return owner_ptr_t<configuration_u>();
            }
    return configuration;
}

// Settings the run takes as they are, though they are most likely mistakes.
void warn_of_likely_mistakes(const configuration_u& configuration,
                             const array_t<string_dyn_t>& set_names, const char* path)
{
    const char* base = configuration.base.c_str();
    const size_t length = configuration.base.length();
    // Only after a folder's '/' (or from nothing) does an empty stem leave names of '.' first.
    if (configuration.output.empty() && (length == 0 || base[length - 1] == '/'))
        msg_warning("The output of the configuration file '%s' is empty: every output name starts "
                    "with '.' ('%s.font'); give the names a stem, as in output: \"font\".",
                    path, base);
    fs_stat_t status;
    fs_device_t* device = fs_get_device(SYSFS);
    if (length > 0 && base[length - 1] != '/' && device != nullptr &&
        device->stat(base, &status) && status.type == 2)
        msg_warning("The base '%s' of the configuration file '%s' names a folder but does not end "
                    "in '/': the outputs go beside it ('%s%s.font'); write base: \"%s/\" to put "
                    "them in it.",
                    base, path, base, configuration.output.c_str(), base);
    for (uint32_t k = 0; k < configuration.char_config.size(); ++k)
    {
        const char_set_config_u& set = *configuration.char_set(k);
        const set_label_t label{ k, set.character_set_file.c_str(), set_names[k].c_str() };
        const struct
        {
            const char* name;
            float value;
        } scales[] = { { "scale_width", set.scale_width },
                       { "scale_height", set.scale_height } };
        for (const auto& scale : scales)
            if (!(scale.value > 0.0f && std::isfinite(scale.value)))
                msg_warning("The %s %g of %s in the configuration file '%s' is not a finite "
                            "number above 0: its glyphs are drawn flipped or vanish; 1.0 keeps "
                            "their size.",
                            scale.name, double(scale.value), describe_set(label).text, path);
    }
}

}  // namespace

owner_ptr_t<configuration_u> load_configuration(const char* path, file_t* opened,
                                                array_dyn_t<string_dyn_t>* set_names)
{
    array_dyn_t<string_dyn_t> names;
    auto_ptr_t<file_t> file;
    if (opened == nullptr)
    {
        file = fs_cache_lookup(path, SYSFS);
        if (!file)
            file = fs_device_open(path, fs_open_mode_t::read_only, SYSFS);
        if (!file)
        {
            msg_error("Failed to open the configuration file '%s'.", path);
            return owner_ptr_t<configuration_u>();
        }
        opened = file.get();
    }
    owner_ptr_t<configuration_u> configuration = load_configuration_tree(opened, path, &names);
    file.reset();
    bool usable = configuration && has_only_char_set_configs(*configuration, path);
    if (usable)
    {
        // Every bad set setting is reported, not only the first.
        const bool fonts = has_usable_fallback_fonts(*configuration, path);
        const bool sizes = has_usable_picture_sizes(*configuration, path);
        const bool characters = has_usable_characters_and_sizes(*configuration, path);
        const bool fields = has_usable_distance_fields(*configuration, path);
        const bool exports = has_known_export_formats(*configuration, path);
        const bool rooms = has_usable_room_around_glyphs(*configuration, path);
        const bool variations = has_usable_font_variations(*configuration, path);
        usable = fonts && sizes && characters && fields && exports && rooms && variations;
    }
    if (!usable)
    {
        msg_error("Failed to read the configuration file '%s'.", path);
        return owner_ptr_t<configuration_u>();
    }
    if (!is_utf8_text(configuration->preview_text, path))
        return owner_ptr_t<configuration_u>();
    // Only these two styles have pixels that the drawing pass knows how to form.
    if (configuration->font_style > 1)
    {
        msg_error("The font_style %u in the configuration file '%s' cannot be drawn: it must be "
                  "0 (alpha) or 1 (colour and alpha).",
                  configuration->font_style, path);
        return owner_ptr_t<configuration_u>();
    }
    warn_of_likely_mistakes(*configuration, names, path);
    if (set_names != nullptr)
        *set_names = std::move(names);
    return configuration;
}

distance_field_type_t field_type_of(const char_set_config_u& set)
{
    distance_field_type_t type = distance_field_type_t::sdf;
    if (set.distance_field)
        (void)find_distance_field_type(set.distance_field_type.c_str(), &type);  // checked at load
    return type;
}
