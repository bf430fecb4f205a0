// Where attribute values live: the C++ type stored for every attribute type, and a visitor
// that runs typed code for a type code known only at run time.
//
// A scalar attribute of code c is a member of type unit_attr_element_t<c>; an array attribute
// of code c + 1 is an array_dyn_t of it. Owner and link pointers are stored untyped
// (owner_ptr_t<unit_t>, link_ptr_t<unit_t>): a file may put any unit type there unless the
// attribute's domain says otherwise, so readers use unit_cast. A resource tie (65) is a
// unit_t* managed by the installed tie. OV_UNIT_ATTRIBUTE checks a member against its code.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "ovcore/units/unit.h"
#include "ovcore/units/unit_structs.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

template <typename T> struct unit_type_tag_t
{
    using type = T;
};

template <unit_attr_type_t Scalar> struct unit_attr_element_of_t;

#define OV_UNIT_ELEMENT(code, stored)                                                          \
    template <> struct unit_attr_element_of_t<unit_attr_type_t::code>                          \
    {                                                                                          \
        using type = stored;                                                                   \
    }

OV_UNIT_ELEMENT(string, string_dyn_t);
OV_UNIT_ELEMENT(token, token_t);
OV_UNIT_ELEMENT(float1, float);
OV_UNIT_ELEMENT(float2, float2_t);
OV_UNIT_ELEMENT(float3, float3_t);
OV_UNIT_ELEMENT(float4, float4_t);
OV_UNIT_ELEMENT(fixed1, fixed_t);
OV_UNIT_ELEMENT(fixed2, fixed2_t);
OV_UNIT_ELEMENT(fixed3, fixed3_t);
OV_UNIT_ELEMENT(fixed4, fixed4_t);
OV_UNIT_ELEMENT(float4x4, float4x4_t);
OV_UNIT_ELEMENT(quaternion, quaternion_t);
OV_UNIT_ELEMENT(placement, placement_t);
OV_UNIT_ELEMENT(placement_scale, placement_scale_t);
OV_UNIT_ELEMENT(placement_scale3, placement_scale3_t);
OV_UNIT_ELEMENT(plane, plane_t);
OV_UNIT_ELEMENT(sphere, sphere_t);
OV_UNIT_ELEMENT(aabox, aabox_t);
OV_UNIT_ELEMENT(s32, int32_t);
OV_UNIT_ELEMENT(u32, uint32_t);
OV_UNIT_ELEMENT(s16, int16_t);
OV_UNIT_ELEMENT(u16, uint16_t);
OV_UNIT_ELEMENT(s32_second, int32_t);
OV_UNIT_ELEMENT(u32_second, uint32_t);
OV_UNIT_ELEMENT(s64, int64_t);
OV_UNIT_ELEMENT(u64, uint64_t);
OV_UNIT_ELEMENT(int2, int2_t);
OV_UNIT_ELEMENT(boolean, bool);
OV_UNIT_ELEMENT(enumeration, int32_t);
OV_UNIT_ELEMENT(owner_ptr, owner_ptr_t<unit_t>);
OV_UNIT_ELEMENT(link_ptr, link_ptr_t<unit_t>);
OV_UNIT_ELEMENT(tolerant_link_ptr, link_ptr_t<unit_t>);
OV_UNIT_ELEMENT(resource_tie, unit_t*);

#undef OV_UNIT_ELEMENT

// The stored element of a scalar code.
template <unit_attr_type_t Scalar>
using unit_attr_element_t = typename unit_attr_element_of_t<Scalar>::type;

// The member type of an attribute of any code: the element, or an array_dyn_t of it.
template <unit_attr_type_t Type, bool IsArray = (uint32_t(Type) % 2 == 0)>
struct unit_attr_storage_of_t
{
    using type = unit_attr_element_t<Type>;
};
template <unit_attr_type_t Type> struct unit_attr_storage_of_t<Type, true>
{
    using type =
        array_dyn_t<unit_attr_element_t<static_cast<unit_attr_type_t>(uint32_t(Type) - 1)>>;
};
template <unit_attr_type_t Type>
using unit_attr_storage_t = typename unit_attr_storage_of_t<Type>::type;

// One row of an attribute table: `member` of `unit_class` holds the value of type `code`
// (a unit_attr_type_t name); a member of the wrong type does not compile.
#define OV_UNIT_ATTRIBUTE(unit_class, member, code, domain, name)                              \
    unit_attribute_t                                                                           \
    {                                                                                          \
        &unit_class::descriptor, ([]() constexpr -> size_t {                                   \
            static_assert(std::is_same_v<decltype(unit_class::member),                         \
                                         unit_attr_storage_t<unit_attr_type_t::code>>,         \
                          "the member does not store the attribute type");                     \
            return OV_UNIT_OFFSET(unit_class, member);                                         \
        }()),                                                                                  \
            unit_attr_type_t::code, domain, name                                               \
    }
// The record that ends an attribute table.
#define OV_UNIT_ATTRIBUTES_END                                                                 \
    unit_attribute_t                                                                           \
    {                                                                                          \
        nullptr, 0, unit_attr_type_t::none, nullptr, nullptr                                   \
    }

// Calls visitor(unit_type_tag_t<element>{}) with the stored element type of `type` (scalar or
// array code) and returns its result; `on_unknown` is called for 0 and codes above 66.
template <typename Visitor, typename Unknown>
decltype(auto) unit_visit_element_type(unit_attr_type_t type, Visitor&& visitor,
                                       Unknown&& on_unknown)
{
#define OV_UNIT_VISIT(code)                                                                    \
    case unit_attr_type_t::code:                                                               \
    case unit_attr_type_t::code##_array:                                                       \
        return visitor(unit_type_tag_t<unit_attr_element_t<unit_attr_type_t::code>>{})

    switch (type)
    {
        OV_UNIT_VISIT(string);
        OV_UNIT_VISIT(token);
        OV_UNIT_VISIT(float1);
        OV_UNIT_VISIT(float2);
        OV_UNIT_VISIT(float3);
        OV_UNIT_VISIT(float4);
        OV_UNIT_VISIT(fixed1);
        OV_UNIT_VISIT(fixed2);
        OV_UNIT_VISIT(fixed3);
        OV_UNIT_VISIT(fixed4);
        OV_UNIT_VISIT(float4x4);
        OV_UNIT_VISIT(quaternion);
        OV_UNIT_VISIT(placement);
        OV_UNIT_VISIT(placement_scale);
        OV_UNIT_VISIT(placement_scale3);
        OV_UNIT_VISIT(plane);
        OV_UNIT_VISIT(sphere);
        OV_UNIT_VISIT(aabox);
        OV_UNIT_VISIT(s32);
        OV_UNIT_VISIT(u32);
        OV_UNIT_VISIT(s16);
        OV_UNIT_VISIT(u16);
        OV_UNIT_VISIT(s32_second);
        OV_UNIT_VISIT(u32_second);
        OV_UNIT_VISIT(s64);
        OV_UNIT_VISIT(u64);
        OV_UNIT_VISIT(int2);
        OV_UNIT_VISIT(boolean);
        OV_UNIT_VISIT(enumeration);
        OV_UNIT_VISIT(owner_ptr);
        OV_UNIT_VISIT(link_ptr);
        OV_UNIT_VISIT(tolerant_link_ptr);
        OV_UNIT_VISIT(resource_tie);
    case unit_attr_type_t::none:
        break;
    }
#undef OV_UNIT_VISIT
    return on_unknown();
}
