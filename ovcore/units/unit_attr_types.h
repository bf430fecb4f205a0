// The one table of attribute types, and the type codes of text and binary files generated from
// it.
//
// A row per scalar type; its array is the next (even) code in both forms. Everything that
// depends on the type of an attribute comes from this table: both code enums, the mapping
// between them, the C++ type a unit stores (unit_attr_storage.h), and every dispatch over types
// (reading text and binary values, checking and storing them, writing them in messages). A row
// added here reaches all of them; a row whose kind or stored type one of them cannot handle does
// not compile.
//
// Sections: the table; the code enums; rows by code.
#pragma once

#include <cstdint>
#include <iterator>

// ---------------------------------------------------------------------------------------------
// The table. X(name, text_code, binary_code, element, stored, field, kind):
//   name         the enumerator in both enums (name##_array for the array)
//   text_code    the code in unit_attr_type_t: 1, 3, 5, ... in row order
//   binary_code  the code in binary files; 1 to 51 are the text codes, the rest differ
//   element      the row whose stored element the type shares (tolerant links are links)
//   stored       the C++ type of a scalar attribute; an array stores array_dyn_t of it
//   field        the member of unit_read_value_t that readers fill
//   kind         how a value reads, appears in messages and is checked:
//                  string        text within a string domain's length
//                  token         text, stored as the token it encodes
//                  floats        1 to 4 floats, each within a float domain's range
//                  fixeds        1 to 4 fixed numbers, each within a fixed domain's range
//                  plain         compounds, int2 and Booleans: no domain
//                  signed_int    an integer of that sign in any width a file stores, widened
//                  unsigned_int  to 64 bits, then checked to fit `stored` and the domain
//                  enumeration   a number or a name of the enum domain
//                  owner, link   a unit name or "null"; a tolerant link whose target is never
//                                defined is reported but does not fail the load
//                  tie           a resource name for the installed resource tie
// Codes are what files hold: never renumber a row.
#define OV_UNIT_ATTR_TYPES(X)                                                                     \
    X(string,            1,  1,  string,       string_dyn_t,        text,           string)       \
    X(token,             3,  3,  token,        token_t,             text,           token)        \
    X(float1,            5,  5,  float1,       float,               real,           floats)       \
    X(float2,            7,  7,  float2,       float2_t,            float2,         floats)       \
    X(float3,            9,  9,  float3,       float3_t,            float3,         floats)       \
    X(float4,            11, 11, float4,       float4_t,            float4,         floats)       \
    X(fixed1,            13, 13, fixed1,       fixed_t,             fixed,          fixeds)       \
    X(fixed2,            15, 15, fixed2,       fixed2_t,            fixed2,         fixeds)       \
    X(fixed3,            17, 17, fixed3,       fixed3_t,            fixed3,         fixeds)       \
    X(fixed4,            19, 19, fixed4,       fixed4_t,            fixed4,         fixeds)       \
    X(float4x4,          21, 21, float4x4,     float4x4_t,          matrix,         plain)        \
    X(quaternion,        23, 23, quaternion,   quaternion_t,        quaternion,     plain)        \
    X(placement,         25, 25, placement,    placement_t,         placement,      plain)        \
    X(placement_scale,   27, 27, placement_scale, placement_scale_t,   placement_scale, plain)    \
    X(placement_scale3,  29, 29, placement_scale3, placement_scale3_t,  placement_scale3, plain)  \
    X(plane,             31, 31, plane,        plane_t,             plane,          plain)        \
    X(sphere,            33, 33, sphere,       sphere_t,            sphere,         plain)        \
    X(aabox,             35, 35, aabox,        aabox_t,             aabox,          plain)        \
    X(s32,               37, 37, s32,          int32_t,             signed_value,   signed_int)   \
    X(u32,               39, 39, u32,          uint32_t,            unsigned_value, unsigned_int) \
    X(s16,               41, 41, s16,          int16_t,             signed_value,   signed_int)   \
    X(u16,               43, 43, u16,          uint16_t,            unsigned_value, unsigned_int) \
    X(s32_second,        45, 45, s32_second,   int32_t,             signed_value,   signed_int)   \
    X(u32_second,        47, 47, u32_second,   uint32_t,            unsigned_value, unsigned_int) \
    X(s64,               49, 49, s64,          int64_t,             signed_value,   signed_int)   \
    X(u64,               51, 51, u64,          uint64_t,            unsigned_value, unsigned_int) \
    X(int2,              53, 65, int2,         int2_t,              int2,           plain)        \
    X(boolean,           55, 53, boolean,      bool,                boolean,        plain)        \
    X(enumeration,       57, 55, enumeration,  int32_t,             signed_value,   enumeration)  \
    X(owner_ptr,         59, 57, owner_ptr,    owner_ptr_t<unit_t>, text,           owner)        \
    X(link_ptr,          61, 59, link_ptr,     link_ptr_t<unit_t>,  text,           link)         \
    X(tolerant_link_ptr, 63, 61, link_ptr,     link_ptr_t<unit_t>,  text,           link)         \
    X(resource_tie,      65, 63, resource_tie, unit_t*,             text,           tie)

// ---------------------------------------------------------------------------------------------
// The code enums: odd codes are scalars, the next even code the array of that scalar.

#define OV_UNIT_ATTR_TEXT_CODES(name, text_code, ...)                                          \
    name = text_code, name##_array = text_code + 1,
#define OV_UNIT_ATTR_BINARY_CODES(name, text_code, binary_code, ...)                           \
    name = binary_code, name##_array = binary_code + 1,

enum class unit_attr_type_t : uint32_t
{
    none = 0,  // ends attribute tables
    OV_UNIT_ATTR_TYPES(OV_UNIT_ATTR_TEXT_CODES)
};

enum class binary_unit_attr_type_t : uint32_t
{
    none = 0,  // ends a class's attribute definitions
    OV_UNIT_ATTR_TYPES(OV_UNIT_ATTR_BINARY_CODES)
};

#undef OV_UNIT_ATTR_TEXT_CODES
#undef OV_UNIT_ATTR_BINARY_CODES

// The kinds of the table's last column.
enum class unit_attr_kind_t : uint32_t
{
    string,
    token,
    floats,
    fixeds,
    plain,
    signed_int,
    unsigned_int,
    enumeration,
    owner,
    link,
    tie,
};

// ---------------------------------------------------------------------------------------------
// Rows by code.

// One row: its scalar codes, its element and its kind.
struct unit_attr_type_row_t
{
    unit_attr_type_t type;
    binary_unit_attr_type_t binary;
    unit_attr_type_t element;
    unit_attr_kind_t kind;
};

#define OV_UNIT_ATTR_ROW(name, text_code, binary_code, element, stored, field, kind)           \
    { unit_attr_type_t::name, binary_unit_attr_type_t::name, unit_attr_type_t::element,        \
      unit_attr_kind_t::kind },
inline constexpr unit_attr_type_row_t unit_attr_type_rows[] = {
    OV_UNIT_ATTR_TYPES(OV_UNIT_ATTR_ROW)
};
#undef OV_UNIT_ATTR_ROW

constexpr uint32_t unit_attr_type_count = uint32_t(std::size(unit_attr_type_rows));
// Highest valid code of either enum: the array of the last row.
constexpr uint32_t unit_attr_type_last = 2 * unit_attr_type_count;
constexpr uint32_t binary_unit_attr_type_last = 2 * unit_attr_type_count;

namespace unit_attr_types_detail
{
// Row index + 1 of every binary code, 0 for codes no row has.
struct binary_index_t
{
    uint8_t row_of[binary_unit_attr_type_last + 1] = {};
};

constexpr binary_index_t make_binary_index()
{
    binary_index_t index;
    for (uint32_t i = 0; i < unit_attr_type_count; ++i)
    {
        const uint32_t code = uint32_t(unit_attr_type_rows[i].binary);
        if (code <= binary_unit_attr_type_last)
        {
            index.row_of[code] = uint8_t(i + 1);
            if (code + 1 <= binary_unit_attr_type_last)
                index.row_of[code + 1] = uint8_t(i + 1);
        }
    }
    return index;
}
inline constexpr binary_index_t binary_index = make_binary_index();

// Text codes run 1, 3, 5, ... in row order, so a code finds its row by arithmetic.
constexpr bool text_codes_follow_rows()
{
    for (uint32_t i = 0; i < unit_attr_type_count; ++i)
        if (uint32_t(unit_attr_type_rows[i].type) != 2 * i + 1)
            return false;
    return true;
}

// Every binary row code is odd and in range, and no two rows share one.
constexpr bool binary_codes_are_a_permutation()
{
    for (uint32_t i = 0; i < unit_attr_type_count; ++i)
    {
        const uint32_t code = uint32_t(unit_attr_type_rows[i].binary);
        if (code % 2 == 0 || code > binary_unit_attr_type_last ||
            binary_index.row_of[code] != i + 1)
            return false;
    }
    return true;
}

// An element row is its own element, so sharing never chains, and a row reads and checks as
// its element does.
constexpr bool elements_are_their_own()
{
    for (const unit_attr_type_row_t& row : unit_attr_type_rows)
    {
        const unit_attr_type_row_t& element = unit_attr_type_rows[(uint32_t(row.element) - 1) / 2];
        if (element.element != element.type || element.kind != row.kind)
            return false;
    }
    return true;
}
}  // namespace unit_attr_types_detail

static_assert(unit_attr_type_count < 128, "row indices are kept in a byte");
static_assert(unit_attr_types_detail::text_codes_follow_rows(),
              "text codes must be 1, 3, 5, ... in row order");
static_assert(unit_attr_types_detail::binary_codes_are_a_permutation(),
              "binary codes must be odd, in range and each used once");
static_assert(unit_attr_types_detail::elements_are_their_own(),
              "an element row must be its own element, of the same kind");

// The row of a scalar or array code; null for 0 and codes above unit_attr_type_last.
constexpr const unit_attr_type_row_t* unit_attr_type_row(unit_attr_type_t type)
{
    const uint32_t code = uint32_t(type);
    return code == 0 || code > unit_attr_type_last ? nullptr
                                                   : &unit_attr_type_rows[(code - 1) / 2];
}

// The row of a binary scalar or array code; null for 0 and codes above the last.
constexpr const unit_attr_type_row_t* binary_unit_attr_type_row(binary_unit_attr_type_t type)
{
    const uint32_t code = uint32_t(type);
    if (code > binary_unit_attr_type_last || unit_attr_types_detail::binary_index.row_of[code] == 0)
        return nullptr;
    return &unit_attr_type_rows[unit_attr_types_detail::binary_index.row_of[code] - 1];
}
