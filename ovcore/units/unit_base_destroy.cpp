// Releasing the attribute values of a unit, type by type.
#include "ovcore/units/unit_system.h"

#include "ovcore/message.h"
#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_resource_tie.h"

#include <type_traits>

namespace
{
template <typename T> void release_scalar(T* value)
{
    if constexpr (std::is_same_v<T, string_dyn_t>)
        value->release();
    else if constexpr (std::is_same_v<T, owner_ptr_t<unit_t>> ||
                       std::is_same_v<T, link_ptr_t<unit_t>>)
        value->reset();
    // Plain values hold nothing to release.
}

[[noreturn]] void unknown_attribute_type()
{
    OV_FATAL("[unit] Unknown attribute type in _destroy_attributes().");
}

void destroy_attribute(unit_t* unit, const unit_attribute_t* attribute)
{
    void* storage = reinterpret_cast<char*>(unit) + attribute->offset;
    // Ties are asked only when they hold something: an empty value has nothing to release.
    if (attribute->type == unit_attr_type_t::resource_tie)
    {
        if (*static_cast<unit_t**>(storage) != nullptr && g_unit_resource_tie != nullptr)
            (void)g_unit_resource_tie->destroy_scalar(unit, attribute);
        return;
    }
    if (attribute->type == unit_attr_type_t::resource_tie_array)
    {
        if (!static_cast<array_dyn_t<unit_t*>*>(storage)->empty() &&
            g_unit_resource_tie != nullptr)
            (void)g_unit_resource_tie->destroy_array(unit, attribute);
        return;
    }
    const bool is_array = uint32_t(attribute->type) <= unit_attr_type_last &&
                          unit_attr_type_is_array(attribute->type);
    unit_visit_element_type(
        attribute->type,
        [&]<typename T>(unit_type_tag_t<T>) {
            if (is_array)
                static_cast<array_dyn_t<T>*>(storage)->release_storage();
            else
                release_scalar(static_cast<T*>(storage));
        },
        unknown_attribute_type);
}
}  // namespace

void unit_system_t::destroy_attributes(unit_t* unit)
{
    for (const unit_descriptor_t* type = unit->get_descriptor(); type != nullptr;
         type = type->parent)
        for (const unit_attribute_t* attribute = type->attributes;
             attribute->type != unit_attr_type_t::none; ++attribute)
            if (!attribute->is_obsolete())
                destroy_attribute(unit, attribute);
}
