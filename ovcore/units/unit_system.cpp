// The unit base class, unit banks and systems, the link tracker's pending releases, and typed
// access to attribute values.
//
// Sections: process-wide state; unit_t; bank; system; pending releases; attribute values.
#include "ovcore/units/unit_system.h"

#include "ovcore/message.h"
#include "ovcore/out_of_memory.h"
#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_resource_tie.h"

#include <bit>
#include <cstring>
#include <new>
#include <utility>

// ---------------------------------------------------------------------------------------------
// Process-wide state: the table of systems, their free indices, the default system and the
// link tracker. Created with the first system, gone with the last.

namespace
{
// Units whose last reference went, waiting to be destroyed.
struct unit_link_tracker_t
{
    array_dyn_t<unit_t*> pending;
};

constexpr uint32_t all_systems_free = (1u << unit_system_count) - 1;
// Set on a unit while it waits on the pending-release list.
constexpr uint32_t unit_state_pending = 0x10000000u;

unit_system_t* g_unit_systems[unit_system_count] = {};
uint32_t g_unit_free_systems = all_systems_free;
uint32_t g_unit_default_system = unit_system_none;
unit_link_tracker_t* g_unit_link_tracker = nullptr;

const unit_attribute_t unit_attributes[] = {
    { &unit_t::descriptor, 0, unit_attr_type_t::none, nullptr, nullptr },
};

// The releases of units whose last reference went while an outer release runs on this thread.
thread_local array_dyn_t<unit_t*>* t_unit_releases = nullptr;

void destroy_unit_now(unit_t* unit)
{
    unit->get_descriptor()->destroy(unit);
}
}  // namespace

// Runs the release hook of a unit whose last reference goes, then hands it to the link tracker.
void unit_t::finish_release(unit_t* unit)
{
    unit->on_release();
    --unit->m_state;
    // Destroyed when the tracker flushes, so that units released together can still see
    // each other meanwhile. Without a tracker (the unit outlived every system) or without
    // room on the list it goes at once.
    if (g_unit_link_tracker == nullptr || !g_unit_link_tracker->pending.append(unit))
    {
        destroy_unit_now(unit);
        return;
    }
    unit->m_state |= unit_state_pending;
}

// ---------------------------------------------------------------------------------------------
// unit_t

const unit_descriptor_t unit_t::descriptor = {
    "unit", nullptr, unit_destroy, nullptr, unit_attributes, compute_type_name_hash("unit_t"),
    0xFFFFFFFFu,
};

void unit_destroy(unit_t* unit)
{
    delete unit;
}

unit_t::unit_t(unit_system_t* system)
{
    if (system == nullptr)
        OV_FATAL("[unit] Attempt to create a unit outside of any unit system.");
    m_state = system->index() << unit_state_system_shift;
    ++system->m_live_units;
}

unit_t::~unit_t()
{
    if (m_name_id != 0)
        (void)unit_name_release(m_name_id);
    unit_system_t* owner = system();
    if (owner != nullptr && owner->m_live_units > 0)
        --owner->m_live_units;
}

void unit_t::on_release()
{
    unit_system_t* owner = system();
    if (owner != nullptr)
        owner->destroy_attributes(this);
    if (m_name_id != 0)
    {
        (void)unit_name_release(m_name_id);
        m_name_id = 0;
    }
    clear_state_flags(unit_state_loading_flags);
}

owner_ptr_t<unit_t> unit_t::clone() const
{
    const unit_descriptor_t* type = get_descriptor();
    unit_system_t* owner = system();
    owner_ptr_t<unit_t> copy = owner->create_unit(type);
    if (!copy)
    {
        msg_error("[unit] Creation of unit instance of type '%s' failed.", type->type_name);
        return copy;
    }
    if (!owner->clone_attributes_to(*this, copy.get()))
        copy.reset();
    return copy;
}

const unit_descriptor_t* unit_t::get_descriptor() const
{
    return &descriptor;
}

bool unit_t::accepts_unknown_attributes() const
{
    return true;
}

bool unit_t::handle_unknown_attribute(const char* name, size_t index, const char* value)
{
    const char* text = value != nullptr ? value : "<N/A>";
    if (index == unit_index_absent)
        msg_warning("[unit] Ignored unknown attribute %s = %s", name, text);
    else if (index == unit_index_append)
        msg_warning("[unit] Ignored unknown attribute %s[] = %s", name, text);
    else
        msg_warning("[unit] Ignored unknown attribute %s[%Iu] = %s", name, index, text);
    return true;
}

bool unit_t::pre_save_hook()
{
    return true;
}

void unit_t::post_save_hook() {}

size_t unit_t::memory_size() const
{
    return sizeof(unit_t);
}

bool unit_t::post_load_hook()
{
    return true;
}

void unit_t::add_reference()
{
    if ((m_state & unit_state_pending) != 0)
        OV_FATAL("[unit] Attempt to reference a released unit.");
    if (reference_count() == unit_state_reference_mask)
        OV_FATAL("[unit] Unit reference count overflow.");
    ++m_state;
}

void unit_t::release()
{
    if (reference_count() == 0)
        OV_FATAL("[unit] Attempt to release an unreferenced unit.");
    if (reference_count() > 1)
    {
        --m_state;
        return;
    }
    // Releasing a unit releases what it owns, and a chain of owners may be as long as memory
    // allows: a last reference dropped while another release runs on this thread waits on that
    // release's list instead of recursing. Without room on the list it goes at once.
    if (t_unit_releases != nullptr && t_unit_releases->append(this))
        return;
    if (t_unit_releases != nullptr)
    {
        finish_release(this);
        return;
    }
    array_dyn_t<unit_t*> releases;
    t_unit_releases = &releases;
    finish_release(this);
    while (!releases.empty())
    {
        unit_t* unit = releases.last();
        releases.remove_last();
        finish_release(unit);
    }
    t_unit_releases = nullptr;
}

unit_system_t* unit_t::system() const
{
    return unit_system_t::from_index(system_index());
}

// ---------------------------------------------------------------------------------------------
// Bank

bool unit_bank_t::register_type(const unit_descriptor_t* descriptor)
{
    const char* name = descriptor->type_name;
    const string_alias_t key = { name };
    if (const unit_descriptor_t* const* found = m_by_name.find(key))
    {
        if (*found == descriptor)
        {
            msg_warning("[unit] Unit type '%s' registered twice.", name);
            return true;
        }
        msg_error("[unit] Attempt to register unit type '%s', but the type name is already taken.",
                  name);
        return false;
    }
    if (m_by_name.insert(key, descriptor) == nullptr)
    {
        msg_error("[unit] Not enough memory to register the unit type '%s'.", name);
        msg_error("[unit] Failed to register unit type '%s' - hash map insertion failed.", name);
        return false;
    }
    if (!m_types.append(descriptor))
    {
        (void)m_by_name.remove(key);
        msg_error("[unit] Not enough memory to register the unit type '%s'.", name);
        msg_error("[unit] Failed to register unit type '%s' - descriptor insertion failed.", name);
        return false;
    }
    return true;
}

const unit_descriptor_t* unit_bank_t::find_type(const char* type_name) const
{
    const unit_descriptor_t* const* found = m_by_name.find(string_alias_t{ type_name });
    return found != nullptr ? *found : nullptr;
}

// ---------------------------------------------------------------------------------------------
// System

unit_system_t::unit_system_t(unit_bank_t* bank) : m_bank(bank)
{
    if ((g_unit_free_systems & all_systems_free) == 0)
        OV_FATAL("[unit] Can not create more unit systems - already UF_UNIT_SYSTEM_COUNT systems "
                 "exist.");
    const bool first = g_unit_free_systems == all_systems_free;
    m_index = uint32_t(std::countr_zero(g_unit_free_systems));
    g_unit_free_systems &= ~(1u << m_index);
    g_unit_systems[m_index] = this;
    if (first)
    {
        g_unit_link_tracker = new (std::nothrow) unit_link_tracker_t();
        if (g_unit_link_tracker == nullptr)
            out_of_memory_exit("[unit] Not enough memory to start the unit system.");
        unit_name_table_create();
    }
}

unit_system_t::~unit_system_t()
{
    // No pending unit may outlive the system whose index it carries.
    unit_flush_pending_releases();
    if (m_live_units != 0)
        msg_error("[unit] The unit system %u is destroyed while %u of its units are still "
                  "referenced.",
                  m_index, m_live_units);
    g_unit_systems[m_index] = nullptr;
    g_unit_free_systems |= 1u << m_index;
    if (g_unit_default_system == m_index)
        g_unit_default_system = unit_system_none;
    if (g_unit_free_systems == all_systems_free)
    {
        delete g_unit_link_tracker;
        g_unit_link_tracker = nullptr;
        unit_name_table_destroy();
    }
}

owner_ptr_t<unit_t> unit_system_t::create_unit(const unit_descriptor_t* descriptor)
{
    if (descriptor->create == nullptr)
        OV_FATAL("[unit] Attempt to instantiate abstract unit type.");
    owner_ptr_t<unit_t> unit(descriptor->create(this));
    if (!unit)
        msg_error("[unit] Not enough memory for a unit of type '%s'.", descriptor->type_name);
    return unit;
}

owner_ptr_t<unit_t> unit_system_t::create_unit_by_type_name(const char* type_name)
{
    const unit_descriptor_t* descriptor = m_bank->find_type(type_name);
    if (descriptor == nullptr)
    {
        msg_error("[unit] The '%s' is not a unit type name.", type_name);
        return owner_ptr_t<unit_t>();
    }
    if (descriptor->create == nullptr)
    {
        msg_error("[unit] The '%s' is not an abstract unit type name.", type_name);
        return owner_ptr_t<unit_t>();
    }
    owner_ptr_t<unit_t> unit = create_unit(descriptor);
    if (!unit)
        msg_error("[unit] Creation of unit instance of type '%s' failed.", type_name);
    return unit;
}

void unit_system_t::make_default()
{
    if (g_unit_default_system != unit_system_none && g_unit_default_system != m_index)
        msg_warning("[unit] Stealing the default unit system.");
    g_unit_default_system = m_index;
}

unit_system_t* unit_system_t::get_default()
{
    return from_index(g_unit_default_system);
}

unit_system_t* unit_system_t::from_index(uint32_t index)
{
    return index < unit_system_count ? g_unit_systems[index] : nullptr;
}

uint32_t unit_default_system_index()
{
    return g_unit_default_system;
}

// ---------------------------------------------------------------------------------------------
// Pending releases

void unit_flush_pending_releases()
{
    // Destroying a unit may release more units; they join a fresh list and go next round.
    while (g_unit_link_tracker != nullptr && !g_unit_link_tracker->pending.empty())
    {
        array_dyn_t<unit_t*> batch(std::move(g_unit_link_tracker->pending));
        for (unit_t* unit : batch)
            destroy_unit_now(unit);
    }
}

uint32_t unit_pending_release_count()
{
    return g_unit_link_tracker != nullptr ? g_unit_link_tracker->pending.size() : 0;
}

// ---------------------------------------------------------------------------------------------
// Attribute values

namespace
{
void check_attribute(const unit_t* unit, const unit_attribute_t* attribute)
{
    if (!unit_descriptor_is_a(unit->get_descriptor(), attribute->owner))
        OV_FATAL("[unit] The attribute does not belong to the type of the unit.");
    if (attribute->is_obsolete())
        OV_FATAL("[unit] Attempt to access the value of an obsolete attribute.");
}

void check_array(const unit_attribute_t* attribute)
{
    if (!unit_attr_type_is_array(attribute->type))
        OV_FATAL("[unit] Array access to a scalar attribute.");
}

[[noreturn]] bool unknown_attribute_type()
{
    OV_FATAL("[unit] Unknown unit attribute type.");
}

unit_resource_tie_t* installed_tie()
{
    if (g_unit_resource_tie == nullptr)
        OV_FATAL("[unit] No resource tie is installed.");
    return g_unit_resource_tie;
}
}  // namespace

void* unit_attribute_value(unit_t* unit, const unit_attribute_t* attribute)
{
    check_attribute(unit, attribute);
    return reinterpret_cast<char*>(unit) + attribute->offset;
}

const void* unit_attribute_value(const unit_t* unit, const unit_attribute_t* attribute)
{
    check_attribute(unit, attribute);
    return reinterpret_cast<const char*>(unit) + attribute->offset;
}

bool unit_set_scalar(unit_t* unit, const unit_attribute_t* attribute, void* value)
{
    void* storage = unit_attribute_value(unit, attribute);
    if (unit_attr_type_is_array(attribute->type))
        OV_FATAL("[unit] Scalar access to an array attribute.");
    if (attribute->type == unit_attr_type_t::resource_tie)
        return installed_tie()->set_value_scalar(unit, attribute, *static_cast<unit_t**>(value));
    return unit_visit_element_type(
        attribute->type,
        [&]<typename T>(unit_type_tag_t<T>) {
            *static_cast<T*>(storage) = std::move(*static_cast<T*>(value));
            return true;
        },
        unknown_attribute_type);
}

bool unit_array_get_size(const unit_t* unit, const unit_attribute_t* attribute, size_t* size)
{
    const void* storage = unit_attribute_value(unit, attribute);
    check_array(attribute);
    if (attribute->type == unit_attr_type_t::resource_tie_array)
        return installed_tie()->get_size(unit, attribute, size);
    return unit_visit_element_type(
        attribute->type,
        [&]<typename T>(unit_type_tag_t<T>) {
            *size = static_cast<const array_dyn_t<T>*>(storage)->size();
            return true;
        },
        unknown_attribute_type);
}

bool unit_array_request_capacity(unit_t* unit, const unit_attribute_t* attribute,
                                 size_t capacity)
{
    void* storage = unit_attribute_value(unit, attribute);
    check_array(attribute);
    if (attribute->type == unit_attr_type_t::resource_tie_array)
        return installed_tie()->request_capacity(unit, attribute, capacity);
    if (capacity > UINT32_MAX)
        return false;
    return unit_visit_element_type(
        attribute->type,
        [&]<typename T>(unit_type_tag_t<T>) {
            return static_cast<array_dyn_t<T>*>(storage)->reserve(uint32_t(capacity));
        },
        unknown_attribute_type);
}

bool unit_array_set_element(unit_t* unit, const unit_attribute_t* attribute, size_t index,
                            void* value)
{
    void* storage = unit_attribute_value(unit, attribute);
    check_array(attribute);
    if (attribute->type == unit_attr_type_t::resource_tie_array)
        return installed_tie()->set_value_element(unit, attribute, index,
                                                  *static_cast<unit_t**>(value));
    return unit_visit_element_type(
        attribute->type,
        [&]<typename T>(unit_type_tag_t<T>) {
            array_dyn_t<T>* array = static_cast<array_dyn_t<T>*>(storage);
            T* element = static_cast<T*>(value);
            if (index < array->size())
            {
                array->move_in(uint32_t(index), std::move(*element));
                return true;
            }
            return index == array->size() && array->append(std::move(*element));
        },
        unknown_attribute_type);
}

bool unit_array_append(unit_t* unit, const unit_attribute_t* attribute, void* value)
{
    void* storage = unit_attribute_value(unit, attribute);
    check_array(attribute);
    if (attribute->type == unit_attr_type_t::resource_tie_array)
        return installed_tie()->append_value(unit, attribute, *static_cast<unit_t**>(value));
    return unit_visit_element_type(
        attribute->type,
        [&]<typename T>(unit_type_tag_t<T>) {
            return static_cast<array_dyn_t<T>*>(storage)->append(
                std::move(*static_cast<T*>(value)));
        },
        unknown_attribute_type);
}
