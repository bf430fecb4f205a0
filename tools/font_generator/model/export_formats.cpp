// The descriptor flavours and their configuration names.
#include "tools/font_generator/model/export_formats.h"

#include <cstring>

namespace
{

constexpr const char* format_names[] = { "bmfont_text", "bmfont_xml", "bmfont_binary",
                                         "bmfont_json" };
static_assert(sizeof(format_names) / sizeof(format_names[0]) == export_format_count);

}  // namespace

const char* export_format_name(export_format_t format)
{
    return format_names[uint32_t(format)];
}

bool find_export_format(const char* name, export_format_t* format)
{
    for (uint32_t n = 0; n < export_format_count; ++n)
    {
        if (std::strcmp(name, format_names[n]) == 0)
        {
            *format = export_format_t(n);
            return true;
        }
    }
    return false;
}
