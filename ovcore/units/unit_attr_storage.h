// Where attribute values live: the C++ type stored for every attribute type (the table's
// `stored` column, unit_attr_types.h), and a visitor that runs typed code for a type code known
// only at run time.
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

#define OV_UNIT_ELEMENT(name, text_code, binary_code, element, stored, ...)                    \
    template <> struct unit_attr_element_of_t<unit_attr_type_t::name>                          \
    {                                                                                          \
        using type = stored;                                                                   \
    };
OV_UNIT_ATTR_TYPES(OV_UNIT_ELEMENT)
#undef OV_UNIT_ELEMENT

// The stored element of a scalar code.
template <unit_attr_type_t Scalar>
using unit_attr_element_t = typename unit_attr_element_of_t<Scalar>::type;

// A type that shares another row's element stores what that row stores.
#define OV_UNIT_ELEMENT_SHARED(name, text_code, binary_code, element, ...)                     \
    static_assert(std::is_same_v<unit_attr_element_t<unit_attr_type_t::name>,                 \
                                 unit_attr_element_t<unit_attr_type_t::element>>,              \
                  "a type stores the element of its element row");
OV_UNIT_ATTR_TYPES(OV_UNIT_ELEMENT_SHARED)
#undef OV_UNIT_ELEMENT_SHARED

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
#define OV_UNIT_VISIT(name, ...)                                                               \
    case unit_attr_type_t::name:                                                               \
    case unit_attr_type_t::name##_array:                                                       \
        return visitor(unit_type_tag_t<unit_attr_element_t<unit_attr_type_t::name>>{});

    switch (type)
    {
        OV_UNIT_ATTR_TYPES(OV_UNIT_VISIT)
    case unit_attr_type_t::none:
        break;
    }
#undef OV_UNIT_VISIT
    return on_unknown();
}
