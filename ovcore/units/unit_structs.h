// The records that describe unit types: attribute value types, the values they store,
// attribute tables and type descriptors.
//
// Sections: attribute types; stored values; attribute and descriptor records; lookups.
#pragma once

#include "ovcore/units/unit_attr_types.h"

#include <cstddef>
#include <cstdint>

class unit_t;
class unit_system_t;

// ---------------------------------------------------------------------------------------------
// Attribute types: the codes of unit_attr_type_t come from the table in unit_attr_types.h.

// True for the even codes 2 to 66, false for 0 and the odd codes; any other code is fatal.
[[nodiscard]] bool unit_attr_type_is_array(unit_attr_type_t type);
// The element of the code's row (itself for a scalar, 61 for 61 to 64). 0 and codes above 66
// are fatal.
[[nodiscard]] unit_attr_type_t unit_attr_type_element_type(unit_attr_type_t type);

// ---------------------------------------------------------------------------------------------
// Stored values of the attribute types (strings, arrays and unit pointers live elsewhere).

// 1 to 12 characters of [0-9a-z_], character i contributing its digit times 38^i.
using token_t = uint64_t;
// A unit's interned name: slot (bits 0-15), component count (16-19), shard (20-30),
// bit 31 set in the value that a release returns. 0 means no name.
using unit_name_id_t = uint32_t;
// Signed fixed point with 8 fraction bits: 256 stands for 1.0.
using fixed_t = int32_t;

struct float2_t
{
    float x = 0.0f, y = 0.0f;
    bool operator==(const float2_t&) const = default;
};

struct float3_t
{
    float x = 0.0f, y = 0.0f, z = 0.0f;
    bool operator==(const float3_t&) const = default;
};

struct float4_t
{
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
    bool operator==(const float4_t&) const = default;
};

struct fixed2_t
{
    fixed_t x = 0, y = 0;
    bool operator==(const fixed2_t&) const = default;
};

struct fixed3_t
{
    fixed_t x = 0, y = 0, z = 0;
    bool operator==(const fixed3_t&) const = default;
};

struct fixed4_t
{
    fixed_t x = 0, y = 0, z = 0, w = 0;
    bool operator==(const fixed4_t&) const = default;
};

// Row by row.
struct float4x4_t
{
    float4_t rows[4];
    bool operator==(const float4x4_t&) const = default;
};

// Identity until set.
struct quaternion_t
{
    float w = 1.0f, x = 0.0f, y = 0.0f, z = 0.0f;
    bool operator==(const quaternion_t&) const = default;
};

// A point in the world: x, y, z inside a sector and the sector's two 16-bit coordinates.
struct position_t
{
    float x = 0.0f, y = 0.0f, z = 0.0f;
    int16_t sector_x = 0, sector_y = 0;
    bool operator==(const position_t&) const = default;
};

struct placement_t
{
    position_t position;
    quaternion_t rotation;
    bool operator==(const placement_t&) const = default;
};

// Placement with a uniform scale.
struct placement_scale_t
{
    position_t position;
    quaternion_t rotation;
    float scale = 1.0f;
    bool operator==(const placement_scale_t&) const = default;
};

// Placement with a scale per axis.
struct placement_scale3_t
{
    position_t position;
    quaternion_t rotation;
    float3_t scale = { 1.0f, 1.0f, 1.0f };
    bool operator==(const placement_scale3_t&) const = default;
};

struct plane_t
{
    float3_t normal;
    float distance = 0.0f;
    bool operator==(const plane_t&) const = default;
};

// A negative radius means no sphere yet.
struct sphere_t
{
    float3_t centre;
    float radius = -1.0f;
    bool operator==(const sphere_t&) const = default;
};

// Axis-aligned box.
struct aabox_t
{
    float3_t minimum;
    float3_t maximum;
    bool operator==(const aabox_t&) const = default;
};

struct int2_t
{
    int32_t x = 0, y = 0;
    bool operator==(const int2_t&) const = default;
};

// ---------------------------------------------------------------------------------------------
// Attribute tables and type descriptors: static records, one per attribute and per type.

struct unit_descriptor_t;

// The offset of an attribute that is still recognised in files but whose value is dropped.
constexpr size_t unit_attribute_obsolete_offset = ~size_t(0);

struct unit_attribute_t
{
    const unit_descriptor_t* owner;  // the type that declares the attribute
    size_t offset;                   // of the value inside the unit object, or obsolete
    unit_attr_type_t type;           // none ends the table
    const void* domain;              // type-specific restriction, null for none
    const char* name;                // as written in files

    bool is_obsolete() const { return offset == unit_attribute_obsolete_offset; }
};

struct unit_descriptor_t
{
    const char* type_name;                         // class name without its _u or _t suffix
    unit_t* (*create)(unit_system_t* system);      // null for an abstract type
    void (*destroy)(unit_t* unit);                 // unit_destroy for every type of the program
    const unit_descriptor_t* parent;               // null only for unit_t
    const unit_attribute_t* attributes;            // ended by a record of type none
    uint32_t class_name_hash;                      // compute_type_name_hash of the class name
    uint32_t type_flags;                           // all ones in every descriptor
};

// The offset of `member` inside the unit class `type`, for attribute tables. Unit classes are
// polymorphic, which the compiler only warns about; they never have virtual bases.
#define OV_UNIT_OFFSET(type, member)                                                           \
    ([]() constexpr -> size_t {                                                                \
        _Pragma("GCC diagnostic push")                                                         \
        _Pragma("GCC diagnostic ignored \"-Winvalid-offsetof\"")                               \
        return offsetof(type, member);                                                         \
        _Pragma("GCC diagnostic pop")                                                          \
    }())

// ---------------------------------------------------------------------------------------------
// Lookups.

// Searches the type's own table in order (exact, case-sensitive names), then each base type's:
// a derived type's attribute hides a same-named base attribute. Null when no type declares it.
[[nodiscard]] const unit_attribute_t* unit_find_attribute(const unit_descriptor_t* descriptor,
                                                         const char* name);

// True when `descriptor` is `base` or derives from it.
[[nodiscard]] bool unit_descriptor_is_a(const unit_descriptor_t* descriptor,
                                        const unit_descriptor_t* base);
