// Material and texture-object files.
#include "tools/font_generator/output/material_files.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/output/output_file.h"

bool write_material_file(const char* path, const char* texture_object_name, bool white_font,
                         float distance_range, distance_field_type_t field_type)
{
    auto_ptr_t<file_t> file(create_output_file(path));
    if (!file)
    {
        msg_error("Unable to create the material file '%s'.", path);
        return false;
    }
    // A multi-channel field names its type after the range; today's field says nothing more.
    const bool typed = field_type != distance_field_type_t::sdf;
    const bool written =
        distance_range > 0.0f
            ? file->write_formatted("material : \"ui.distance_field\" {\r\n\ttexture : \"%s\"\r\n"
                                    "\ttexture_name : \"texture\"\r\n"
                                    "\tdistance_range : \"%g\"\r\n%s%s%s}\r\n",
                                    texture_object_name, double(distance_range),
                                    typed ? "\tdistance_field_type : \"" : "",
                                    typed ? distance_field_type_name(field_type) : "",
                                    typed ? "\"\r\n" : "")
            : file->write_formatted("material : \"%s\" {\r\n\ttexture : \"%s\"\r\n"
                                    "\ttexture_name : \"texture\"\r\n}\r\n",
                                    white_font ? "ui.white_font" : "ui", texture_object_name);
    if (!written)
    {
        msg_error("Unable to write the material file '%s'.", path);
        return false;
    }
    return true;
}

bool write_texture_object_file(const char* path, const char* picture_name, bool white_font,
                               float distance_range)
{
    auto_ptr_t<file_t> file(create_output_file(path));
    if (!file)
    {
        msg_error("Unable to create the file '%s'.", path);
        return false;
    }
    if (!file->write_formatted("map 2d %s\r\naddr clamp_to_edge clamp_to_edge\r\nusage %s\r\n",
                               picture_name,
                               white_font || distance_range > 0.0f ? "data" : "ui"))
    {
        msg_error("Unable to write the file '%s'.", path);
        return false;
    }
    return true;
}
