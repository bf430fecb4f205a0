// Copying the attribute values of a unit into another unit of the same type.
#include "ovcore/units/unit_system.h"

#include "ovcore/message.h"
#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_resource_tie.h"

#include <type_traits>
#include <utility>

namespace
{
// A unit has one owner, so an owned unit is cloned rather than shared.
template <typename T> bool clone_value(const T& source, T* target)
{
    if constexpr (std::is_same_v<T, string_dyn_t>)
        return target->assign(source);
    else if constexpr (std::is_same_v<T, owner_ptr_t<unit_t>>)
    {
        if (!source)
        {
            target->reset();
            return true;
        }
        owner_ptr_t<unit_t> copy = source->clone();
        if (!copy)
            return false;
        *target = std::move(copy);
        return true;
    }
    else
    {
        *target = source;
        return true;
    }
}

template <typename T> bool clone_array(const array_dyn_t<T>& source, array_dyn_t<T>* target)
{
    target->release_storage();
    if (!target->reserve(source.size()))
        return false;
    for (const T& element : source)
    {
        T* copy = target->append_new();
        if (copy == nullptr || !clone_value(element, copy))
            return false;
    }
    return true;
}

[[noreturn]] bool unknown_attribute_type()
{
    OV_FATAL("[unit] Unknown attribute type in _clone_attributes_to().");
}

bool clone_attribute(const unit_t& source, unit_t* target, const unit_attribute_t* attribute)
{
    const void* from = reinterpret_cast<const char*>(&source) + attribute->offset;
    void* to = reinterpret_cast<char*>(target) + attribute->offset;
    // Ties are asked only when the source holds something; an empty value stays empty.
    if (attribute->type == unit_attr_type_t::resource_tie)
        return *static_cast<unit_t* const*>(from) == nullptr ||
               (g_unit_resource_tie != nullptr &&
                g_unit_resource_tie->clone_scalar(&source, target, attribute));
    if (attribute->type == unit_attr_type_t::resource_tie_array)
        return static_cast<const array_dyn_t<unit_t*>*>(from)->empty() ||
               (g_unit_resource_tie != nullptr &&
                g_unit_resource_tie->clone_array(&source, target, attribute));
    const bool is_array = uint32_t(attribute->type) <= unit_attr_type_last &&
                          unit_attr_type_is_array(attribute->type);
    return unit_visit_element_type(
        attribute->type,
        [&]<typename T>(unit_type_tag_t<T>) {
            if (is_array)
                return clone_array(*static_cast<const array_dyn_t<T>*>(from),
                                   static_cast<array_dyn_t<T>*>(to));
            return clone_value(*static_cast<const T*>(from), static_cast<T*>(to));
        },
        unknown_attribute_type);
}
}  // namespace

bool unit_system_t::clone_attributes_to(const unit_t& source, unit_t* target)
{
    if (source.get_descriptor() != target->get_descriptor())
        OV_FATAL("[unit] Attempt to clone attributes between units of different types.");
    for (const unit_descriptor_t* type = source.get_descriptor(); type != nullptr;
         type = type->parent)
        for (const unit_attribute_t* attribute = type->attributes;
             attribute->type != unit_attr_type_t::none; ++attribute)
        {
            if (attribute->is_obsolete() || clone_attribute(source, target, attribute))
                continue;
            string_dyn_t name;
            unit_display_name(&source, &name);
            msg_error("[unit] Failed to clone the the attribute '%s' of unit '%s' (type '%s').",
                      attribute->name, name.c_str(), source.get_descriptor()->type_name);
            return false;
        }
    return true;
}
