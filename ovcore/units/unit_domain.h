// Attribute domains: the records that restrict an attribute's values, and their checks.
//
// An attribute's domain pointer (unit_attribute_t::domain) is null for no restriction or points
// to one of the records below; every record starts with its kind, so a record that does not
// suit the attribute's type is caught (wrong_check) instead of being misread.
#pragma once

#include "ovcore/collections/string.h"
#include "ovcore/units/unit_structs.h"

#include <cstdint>

// The result of a domain check; anything but `accepted` rejects the value.
enum class unit_domain_check_t : uint32_t
{
    accepted = 0,
    wrong_check = 4,       // the record does not suit the attribute's type
    does_not_fit = 5,      // outside the stored width
    below_minimum = 6,
    above_maximum = 7,
    too_long = 8,          // string longer than allowed
    invalid_token = 9,
    not_enum_value = 10,
    wrong_unit_type = 11,
    null_not_allowed = 12,
};

enum class unit_domain_kind_t : uint32_t
{
    string = 1,
    float1,
    float2,
    float3,
    float4,
    fixed1,
    fixed2,
    fixed3,
    fixed4,
    s32,
    u32,
    s16,
    u16,
    s64,
    u64,
    enumeration,
    owner,
    link,
};

// Strings (1, 2): longer texts are rejected.
struct unit_string_domain_t
{
    unit_domain_kind_t kind = unit_domain_kind_t::string;
    uint32_t max_length = 0;  // bytes
};

// Floats and float vectors (5 to 12) with N components, each checked in order.
template <uint32_t N> struct unit_float_domain_t
{
    static_assert(N >= 1 && N <= 4);
    unit_domain_kind_t kind = unit_domain_kind_t(uint32_t(unit_domain_kind_t::float1) + N - 1);
    float minimum[N] = {};
    float maximum[N] = {};
};

// Fixed numbers and fixed vectors (13 to 20), in raw fixed-point units.
template <uint32_t N> struct unit_fixed_domain_t
{
    static_assert(N >= 1 && N <= 4);
    unit_domain_kind_t kind = unit_domain_kind_t(uint32_t(unit_domain_kind_t::fixed1) + N - 1);
    fixed_t minimum[N] = {};
    fixed_t maximum[N] = {};
};

template <typename T, unit_domain_kind_t Kind> struct unit_integer_domain_t
{
    unit_domain_kind_t kind = Kind;
    T minimum = 0;
    T maximum = 0;
};

using unit_s32_domain_t = unit_integer_domain_t<int32_t, unit_domain_kind_t::s32>;    // 37, 38, 45, 46
using unit_u32_domain_t = unit_integer_domain_t<uint32_t, unit_domain_kind_t::u32>;   // 39, 40, 47, 48
using unit_s16_domain_t = unit_integer_domain_t<int16_t, unit_domain_kind_t::s16>;    // 41, 42
using unit_u16_domain_t = unit_integer_domain_t<uint16_t, unit_domain_kind_t::u16>;   // 43, 44
using unit_s64_domain_t = unit_integer_domain_t<int64_t, unit_domain_kind_t::s64>;    // 49, 50
using unit_u64_domain_t = unit_integer_domain_t<uint64_t, unit_domain_kind_t::u64>;   // 51, 52

struct unit_enum_value_t
{
    int32_t value;
    const char* name;  // a null name makes the value unusable
};

// Enums (57, 58): the value must be one of the table's, with a name.
struct unit_enum_domain_t
{
    unit_domain_kind_t kind = unit_domain_kind_t::enumeration;
    uint32_t count = 0;
    const unit_enum_value_t* values = nullptr;
};

// Owner pointers (59, 60): the unit must be of the required type or derived from it.
struct unit_owner_domain_t
{
    unit_domain_kind_t kind = unit_domain_kind_t::owner;
    const unit_descriptor_t* required = nullptr;  // null: any type
    bool forbid_null = false;
};

// Link pointers (61 to 64).
struct unit_link_domain_t
{
    unit_domain_kind_t kind = unit_domain_kind_t::link;
    const unit_descriptor_t* required = nullptr;  // null: any type
};

// The checks. `domain` is the attribute's domain pointer (null accepts everything the type can
// hold); `element` is the attribute's scalar type code.

[[nodiscard]] unit_domain_check_t unit_check_string(const void* domain, const string_t& text);
// The token rules of unit names; `token` receives the encoded text when it is valid.
[[nodiscard]] unit_domain_check_t unit_check_token(const void* domain, const string_t& text,
                                                   token_t* token);
// `count` components of a float or float vector.
[[nodiscard]] unit_domain_check_t unit_check_floats(const void* domain, uint32_t count,
                                                    const float* values);
[[nodiscard]] unit_domain_check_t unit_check_fixeds(const void* domain, uint32_t count,
                                                    const fixed_t* values);
// Codes of the signed_int kind (37, 41, 45, 49): the value must fit the row's stored width, then
// the range of that width's domain. Other codes get wrong_check.
[[nodiscard]] unit_domain_check_t unit_check_signed(const void* domain, unit_attr_type_t element,
                                                    int64_t value);
// Codes of the unsigned_int kind (39, 43, 47, 51), likewise.
[[nodiscard]] unit_domain_check_t unit_check_unsigned(const void* domain,
                                                      unit_attr_type_t element, uint64_t value);
// An enum number, already known to fit in 32 bits.
[[nodiscard]] unit_domain_check_t unit_check_enum_value(const void* domain, int32_t value);
// The value of an enum name; false when the table has no such name (exact comparison).
[[nodiscard]] bool unit_find_enum_name(const void* domain, const char* name, int32_t* value);
// Owner (59) and link (61, 63) pointers; `unit` null for "null".
[[nodiscard]] unit_domain_check_t unit_check_unit(const void* domain, unit_attr_type_t element,
                                                  const unit_t* unit);
// Types that have no domain record (matrices, quaternions, compounds, int2, Booleans, ties).
[[nodiscard]] unit_domain_check_t unit_check_unrestricted(const void* domain);
