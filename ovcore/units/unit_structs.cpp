// Attribute type codes and lookups in attribute tables and type chains.
#include "ovcore/units/unit_structs.h"

#include "ovcore/message.h"

#include <cstring>

bool unit_attr_type_is_array(unit_attr_type_t type)
{
    const uint32_t code = uint32_t(type);
    if (code > unit_attr_type_last)
        OV_FATAL("unit_attr_type_is_array(): Unknown type.");
    return code != 0 && code % 2 == 0;
}

unit_attr_type_t unit_attr_type_element_type(unit_attr_type_t type)
{
    const unit_attr_type_row_t* row = unit_attr_type_row(type);
    if (row == nullptr)
        OV_FATAL("unit_attr_type_element_type(): Unknown type.");
    return row->element;
}

const unit_attribute_t* unit_find_attribute(const unit_descriptor_t* descriptor, const char* name)
{
    for (; descriptor != nullptr; descriptor = descriptor->parent)
        for (const unit_attribute_t* attribute = descriptor->attributes;
             attribute->type != unit_attr_type_t::none; ++attribute)
            if (std::strcmp(attribute->name, name) == 0)
                return attribute;
    return nullptr;
}

bool unit_descriptor_is_a(const unit_descriptor_t* descriptor, const unit_descriptor_t* base)
{
    for (; descriptor != nullptr; descriptor = descriptor->parent)
        if (descriptor == base)
            return true;
    return false;
}
