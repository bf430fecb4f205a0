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
// An owned unit still to be cloned into its slot of a copy. `parent` is the entry whose clone
// found it (none for the units the outermost clone found); failures are reported along that
// chain, innermost first.
struct deferred_clone_t
{
    const unit_t* source;
    owner_ptr_t<unit_t>* target;
    const unit_t* owner;                   // the unit whose attribute holds the source
    const unit_attribute_t* attribute;
    uint32_t parent;
};
constexpr uint32_t no_parent = ~0u;

// The owned units of the clone that runs on this thread. An owner chain may be as long as
// memory allows, so owned units are cloned from this list, depth first, not by recursion.
struct clone_work_t
{
    array_dyn_t<deferred_clone_t> pending;
    uint32_t current = no_parent;  // the entry being cloned
    const unit_t* owner = nullptr;  // the unit whose attributes are being copied
    const unit_attribute_t* attribute = nullptr;
};
thread_local clone_work_t* t_clone_work = nullptr;

void report_clone_failure(const unit_t& owner, const unit_attribute_t* attribute)
{
    string_dyn_t name;
    unit_display_name(&owner, &name);
    msg_error("[unit] Failed to clone the the attribute '%s' of unit '%s' (type '%s').",
              attribute->name, name.c_str(), owner.get_descriptor()->type_name);
}

// A unit has one owner, so an owned unit is cloned rather than shared.
template <typename T> bool clone_value(const T& source, T* target)
{
    if constexpr (std::is_same_v<T, string_dyn_t>)
        return target->assign(source);
    else if constexpr (std::is_same_v<T, owner_ptr_t<unit_t>>)
    {
        target->reset();
        if (!source)
            return true;
        clone_work_t* work = t_clone_work;
        return work->pending.append(deferred_clone_t{ source.get(), target, work->owner,
                                                      work->attribute, work->current });
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

// Copies the attributes of one unit; its owned units join the work list.
bool clone_own_attributes(clone_work_t* work, const unit_t& source, unit_t* target)
{
    for (const unit_descriptor_t* type = source.get_descriptor(); type != nullptr;
         type = type->parent)
        for (const unit_attribute_t* attribute = type->attributes;
             attribute->type != unit_attr_type_t::none; ++attribute)
        {
            work->owner = &source;
            work->attribute = attribute;
            if (attribute->is_obsolete() || clone_attribute(source, target, attribute))
                continue;
            report_clone_failure(source, attribute);
            return false;
        }
    return true;
}

// Clones the listed owned units into their slots, depth first in attribute order, as the
// units' own clone operations would one inside the other. False after the messages of the
// failed unit and of every owner above it.
bool clone_pending_units(clone_work_t* work)
{
    array_dyn_t<deferred_clone_t>& pending = work->pending;
    // The outermost unit's owned units go last in, first out: reverse them to keep their order.
    for (uint32_t i = 0, j = pending.size(); i + 1 < j; ++i, --j)
        std::swap(pending[i], pending[j - 1]);
    array_dyn_t<deferred_clone_t> done;  // entries whose clone ran, for the failure chain
    while (!pending.empty())
    {
        const deferred_clone_t entry = pending.last();
        pending.remove_last();
        if (!done.append(entry))
        {
            report_clone_failure(*entry.owner, entry.attribute);
            return false;
        }
        work->current = done.size() - 1;
        const uint32_t first_found = pending.size();
        owner_ptr_t<unit_t> copy = entry.source->clone();
        if (!copy)
        {
            for (uint32_t k = work->current; k != no_parent; k = done[k].parent)
                report_clone_failure(*done[k].owner, done[k].attribute);
            return false;
        }
        *entry.target = std::move(copy);
        for (uint32_t i = first_found, j = pending.size(); i + 1 < j; ++i, --j)
            std::swap(pending[i], pending[j - 1]);
    }
    return true;
}
}  // namespace

bool unit_system_t::clone_attributes_to(const unit_t& source, unit_t* target)
{
    if (source.get_descriptor() != target->get_descriptor())
        OV_FATAL("[unit] Attempt to clone attributes between units of different types.");
    if (t_clone_work != nullptr)
        return clone_own_attributes(t_clone_work, source, target);
    clone_work_t work;
    t_clone_work = &work;
    const bool cloned = clone_own_attributes(&work, source, target) && clone_pending_units(&work);
    t_clone_work = nullptr;
    return cloned;
}
