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

// One value as read, before its domain check. The reader fills the member that the table of
// attribute types names for the element type (its `field` column).
struct unit_read_value_t
{
    string_dyn_t text;              // strings, tokens, ties; enum names; unit names
    bool is_null = false;           // owner and link pointers: "null", no unit
    bool is_name = false;           // enums: a name in `text` rather than a number
    int64_t signed_value = 0;       // signed integers of every width, enum numbers
    uint64_t unsigned_value = 0;    // unsigned integers of every width
    bool boolean = false;
    float real = 0.0f;
    float2_t float2;
    float3_t float3;
    float4_t float4;
    fixed_t fixed = 0;
    fixed2_t fixed2;
    fixed3_t fixed3;
    fixed4_t fixed4;
    float4x4_t matrix;
    quaternion_t quaternion;
    placement_t placement;
    placement_scale_t placement_scale;
    placement_scale3_t placement_scale3;
    plane_t plane;
    sphere_t sphere;
    aabox_t aabox;
    int2_t int2;
};

// Where values come from: the text scanner, or the binary stream.
class unit_value_reader_t
{
public:
    virtual ~unit_value_reader_t() = default;
    // Reads one value of the scalar type `element` into its field of `value`. False after a
    // message.
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
