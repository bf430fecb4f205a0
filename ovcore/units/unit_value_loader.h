// Attribute values: reading one value (from text, or from the binary form through the same
// interface), checking it against the attribute's domain and storing it into the unit.
//
// Every value loader runs the same steps: read, check the domain, drop the value of an obsolete
// attribute with a warning, store it as the scalar or as one array element.
#pragma once

#include "ovcore/collections/string.h"
#include "ovcore/units/unit_structs.h"

#include <cstddef>
#include <cstdint>

class unit_load_t;
class unit_text_scanner_t;
class unit_t;

// One value as read, before its domain check. The reader fills the field of the element type.
struct unit_read_value_t
{
    string_dyn_t text;              // 1, 3, 65: the text; 57: an enum name; 59 to 64: a unit name
    bool is_null = false;           // 59 to 64: "null", no unit
    bool is_name = false;           // 57: a name in `text` rather than a number in `signed_value`
    int64_t signed_value = 0;       // 37, 41, 45, 49, and 57 numbers
    uint64_t unsigned_value = 0;    // 39, 43, 47, 51
    bool boolean = false;           // 55
    float real = 0.0f;              // 5
    float2_t float2;                // 7
    float3_t float3;                // 9
    float4_t float4;                // 11
    fixed_t fixed = 0;              // 13
    fixed2_t fixed2;                // 15
    fixed3_t fixed3;                // 17
    fixed4_t fixed4;                // 19
    float4x4_t matrix;              // 21
    quaternion_t quaternion;        // 23
    placement_t placement;          // 25
    placement_scale_t placement_scale;    // 27
    placement_scale3_t placement_scale3;  // 29
    plane_t plane;                  // 31
    sphere_t sphere;                // 33
    aabox_t aabox;                  // 35
    int2_t int2;                    // 53
};

// Where values come from: the text scanner, or the binary stream.
class unit_value_reader_t
{
public:
    virtual ~unit_value_reader_t() = default;
    // Reads one value of the scalar type `element` (1 to 65, odd) into its field of `value`.
    // False after a message.
    [[nodiscard]] virtual bool read_value(unit_attr_type_t element, unit_read_value_t* value) = 0;
};

// Reads values from the unit text format, in the context of each type; compounds read their
// parts in text order (a placement with scale: position, scale, rotation).
class unit_text_value_reader_t final : public unit_value_reader_t
{
public:
    explicit unit_text_value_reader_t(unit_text_scanner_t* scanner) : m_scanner(scanner) {}
    [[nodiscard]] bool read_value(unit_attr_type_t element, unit_read_value_t* value) override;

private:
    unit_text_scanner_t* m_scanner;
};

// Reads the value of one attribute line through the load's reader, checks it and stores it into
// `unit`. `index` is unit_index_absent for a scalar attribute, unit_index_append for "[]", or the
// element number (which the loader has checked to equal the array's size). False after a
// message: the line fails and the unit keeps its previous value. An obsolete attribute only
// warns. An attribute type without a value loader reports "[unit] Unknown unit attribute type.".
[[nodiscard]] bool unit_load_attribute_value(unit_load_t* load, unit_t* unit,
                                             const unit_attribute_t* attribute, size_t index);
