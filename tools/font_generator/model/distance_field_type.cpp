// The names of the field types.
#include "tools/font_generator/model/distance_field_type.h"

#include <cstring>
#include <initializer_list>

const char* distance_field_type_name(distance_field_type_t type)
{
    switch (type)
    {
    case distance_field_type_t::msdf:
        return "msdf";
    case distance_field_type_t::mtsdf:
        return "mtsdf";
    default:
        return "sdf";
    }
}

bool find_distance_field_type(const char* name, distance_field_type_t* type)
{
    for (const distance_field_type_t known :
         { distance_field_type_t::sdf, distance_field_type_t::msdf, distance_field_type_t::mtsdf })
        if (std::strcmp(name, distance_field_type_name(known)) == 0)
        {
            *type = known;
            return true;
        }
    return false;
}
