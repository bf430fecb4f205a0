// Unit banks (registries of unit types), unit systems (instance spaces for units), the link
// tracker that destroys released units, and attribute value access for the loaders.
//
// Sections: bank; system and default system; pending releases; attribute values.
//
// At most four unit systems exist at once. The first one created also creates the link
// tracker and the unit name table; when the last one goes, every pending unit is destroyed
// and the name table is freed. All of this runs on one thread (the name table has its own
// lock, see unit_name.h).
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/map/map_hashed.h"
#include "ovcore/collections/string.h"
#include "ovcore/units/unit.h"
#include "ovcore/units/unit_structs.h"

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Bank.

class unit_bank_t
{
public:
    unit_bank_t() = default;
    unit_bank_t(const unit_bank_t&) = delete;
    unit_bank_t& operator=(const unit_bank_t&) = delete;

    // The same descriptor twice warns and succeeds; another descriptor under a taken type name
    // fails. On failure the bank is unchanged. Each outcome reports its own message.
    [[nodiscard]] bool register_type(const unit_descriptor_t* descriptor);
    // Null when no type of that name is registered.
    [[nodiscard]] const unit_descriptor_t* find_type(const char* type_name) const;
    // In registration order.
    const array_t<const unit_descriptor_t*>& types() const { return m_types; }

private:
    map_hashed_t<string_alias_t, const unit_descriptor_t*> m_by_name;
    array_dyn_t<const unit_descriptor_t*> m_types;
};

// ---------------------------------------------------------------------------------------------
// System.

constexpr uint32_t unit_system_count = 4;  // at most this many systems at once
constexpr uint32_t unit_system_none = 4;   // the default-system index when there is none

class unit_system_t
{
public:
    // Takes the lowest free index; a fifth system is fatal. `bank` must outlive the system.
    explicit unit_system_t(unit_bank_t* bank);
    // Destroys every pending unit, frees the index and, when it was the default, leaves no
    // default. Units still referenced are reported as an error: their owners leaked them.
    ~unit_system_t();
    unit_system_t(const unit_system_t&) = delete;
    unit_system_t& operator=(const unit_system_t&) = delete;

    uint32_t index() const { return m_index; }
    unit_bank_t* bank() const { return m_bank; }
    // Units of this system that are not destroyed yet (pending ones included).
    uint32_t live_unit_count() const { return m_live_units; }

    // A new unit of the type, null when its create function fails. Fatal for an abstract type.
    [[nodiscard]] owner_ptr_t<unit_t> create_unit(const unit_descriptor_t* descriptor);
    // As create_unit, for a type name read from a file; null after a message when the name is
    // not registered, names an abstract type, or creation fails.
    [[nodiscard]] owner_ptr_t<unit_t> create_unit_by_type_name(const char* type_name);

    // Releases every attribute value of the unit's type chain: strings and arrays are emptied,
    // owner pointers released, link pointers cleared, resource ties given to the installed tie.
    // Running it twice is harmless.
    void destroy_attributes(unit_t* unit);
    // Copies every attribute value of the source's type chain into `target`, which must be of
    // the same type. Owned units are cloned; links are copied as they are. False after a
    // message when a value cannot be copied.
    [[nodiscard]] bool clone_attributes_to(const unit_t& source, unit_t* target);

    // Makes this the default system; warns first when another one is the default.
    void make_default();
    // The default system, or null.
    static unit_system_t* get_default();
    // The system with that index, or null.
    static unit_system_t* from_index(uint32_t index);

private:
    friend class unit_t;

    unit_bank_t* m_bank;
    uint32_t m_index;
    uint32_t m_live_units = 0;
};

// The index of the default system, unit_system_none when there is none.
uint32_t unit_default_system_index();

// ---------------------------------------------------------------------------------------------
// Pending releases.

// Destroys every unit whose last reference has gone, including those released while doing so.
void unit_flush_pending_releases();
// Units waiting to be destroyed.
uint32_t unit_pending_release_count();

// ---------------------------------------------------------------------------------------------
// Attribute values. The attribute must belong to the unit's type chain and not be obsolete
// (both fatal). Array operations on a scalar attribute are fatal too.

// Address of the stored value inside the unit.
void* unit_attribute_value(unit_t* unit, const unit_attribute_t* attribute);
const void* unit_attribute_value(const unit_t* unit, const unit_attribute_t* attribute);

// Stores a scalar, moving it from `value`, which points to the attribute's stored element type.
// Resource ties go through the installed tie. False after a message when that fails.
[[nodiscard]] bool unit_set_scalar(unit_t* unit, const unit_attribute_t* attribute, void* value);

// Array attributes, for every array code; resource ties through the installed tie.
[[nodiscard]] bool unit_array_get_size(const unit_t* unit, const unit_attribute_t* attribute,
                                       size_t* size);
// Makes room for `capacity` elements without changing the size.
[[nodiscard]] bool unit_array_request_capacity(unit_t* unit, const unit_attribute_t* attribute,
                                               size_t capacity);
// Replaces element `index`, or appends when `index` equals the size; moves from `value`.
// False for an index beyond the size or when the array cannot grow.
[[nodiscard]] bool unit_array_set_element(unit_t* unit, const unit_attribute_t* attribute,
                                          size_t index, void* value);
[[nodiscard]] bool unit_array_append(unit_t* unit, const unit_attribute_t* attribute,
                                     void* value);
