// Material and texture-object files.
#include "tools/font_generator/output/material_files.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/output/output_file.h"

namespace
{

// The effect a picture is drawn with.
enum class material_effect_t
{
    white_font,      // alpha without an outline margin: the engine tints it
    plain,           // colour, or an outline margin the engine draws into
    distance_field,  // a field and its range
};

material_effect_t effect_of(const finished_set_t& set)
{
    switch (set.pictures.kind)
    {
    case picture_kind_t::coverage_alpha:
        return set.outline_width == 0 ? material_effect_t::white_font : material_effect_t::plain;
    case picture_kind_t::coverage_colour:
        return material_effect_t::plain;
    case picture_kind_t::distance_field:
    case picture_kind_t::multi_channel_field:
    case picture_kind_t::multi_channel_and_true_field:
        break;
    }
    return material_effect_t::distance_field;
}

}  // namespace

bool write_material_file(const finished_font_t& font, uint32_t picture)
{
    const finished_picture_t& entry = font.pictures[picture];
    const finished_set_t& set = font.sets[entry.set];
    string_dyn_t path;
    if (!join_output_path(font.base, entry.material_name.c_str(), &path))
        return false;
    output_file_t file(path.c_str());
    if (!file)
    {
        msg_error("Unable to create the material file '%s'.", path.c_str());
        return false;
    }
    const char* texture_object_name = entry.texture_object_name.c_str();
    const material_effect_t effect = effect_of(set);
    const bool typed = set.pictures.has_channels();
    const bool written =
        effect == material_effect_t::distance_field
            // A multi-channel field names its type after the range; today's field says no more.
            ? file->write_formatted("material : \"ui.distance_field\" {\r\n\ttexture : \"%s\"\r\n"
                                    "\ttexture_name : \"texture\"\r\n"
                                    "\tdistance_range : \"%g\"\r\n%s%s%s}\r\n",
                                    texture_object_name, double(set.pictures.distance_range),
                                    typed ? "\tdistance_field_type : \"" : "",
                                    typed ? distance_field_type_name(set.pictures.field_type())
                                          : "",
                                    typed ? "\"\r\n" : "")
            : file->write_formatted("material : \"%s\" {\r\n\ttexture : \"%s\"\r\n"
                                    "\ttexture_name : \"texture\"\r\n}\r\n",
                                    effect == material_effect_t::white_font ? "ui.white_font"
                                                                            : "ui",
                                    texture_object_name);
    if (!written)
    {
        msg_error("Unable to write the material file '%s'.", path.c_str());
        return false;
    }
    return file.keep();
}

bool write_texture_object_file(const finished_font_t& font, uint32_t picture)
{
    const finished_picture_t& entry = font.pictures[picture];
    string_dyn_t path;
    if (!join_output_path(font.base, entry.texture_object_name.c_str(), &path))
        return false;
    output_file_t file(path.c_str());
    if (!file)
    {
        msg_error("Unable to create the file '%s'.", path.c_str());
        return false;
    }
    const bool linear = effect_of(font.sets[entry.set]) != material_effect_t::plain;
    if (!file->write_formatted("map 2d %s\r\naddr clamp_to_edge clamp_to_edge\r\nusage %s\r\n",
                               entry.picture_name.c_str(), linear ? "data" : "ui"))
    {
        msg_error("Unable to write the file '%s'.", path.c_str());
        return false;
    }
    return file.keep();
}
