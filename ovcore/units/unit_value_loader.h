// Attribute values: reading one value (from text, or from the binary form through the same
// interface), checking it against the attribute's domain and storing it into the unit, through
// what the value loaders may ask of the load.
//
// Every value loader runs the same steps: read, check the domain, drop the value of an obsolete
// attribute with a warning, store it as the scalar or as one array element.
#pragma once

#include "ovcore/collections/string.h"
#include "ovcore/units/unit_structs.h"

#include <cstddef>
#include <cstdint>

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

// What the value loaders need from the load they store into: the names and location that
// messages give, unit references resolved to units or to the load's name proxies, and room for
// one value.
class unit_value_load_t
{
public:
    // Writes the location header before an error about the text being read; nothing otherwise.
    virtual void report_location() const = 0;
    // How messages name the unit: the name the file gave it, or its nameless name.
    virtual void get_unit_display_name(const unit_t* unit, string_t* name) const = 0;
    // Finds what a unit reference names: `name` receives the name to use (file-local names
    // prefixed) and `unit` an existing unit or proxy of that name, or null when there is none.
    // False after a message when the name is in wrong format.
    [[nodiscard]] virtual bool find_reference(const char* written, string_dyn_t* name,
                                              unit_t** unit) = 0;
    // Whether `unit` is a name proxy that this load made.
    [[nodiscard]] virtual bool is_own_proxy(const unit_t* unit) const = 0;
    // The proxy of this load for `name`, created when missing; null after a message.
    [[nodiscard]] virtual unit_t* obtain_proxy(const string_dyn_t& name) = 0;
    // Lets an owner attribute take `proxy`, a proxy of this load; false when one already has.
    [[nodiscard]] virtual bool claim_proxy(unit_t* proxy) = 0;
    // Room for the value being loaded, kept from one value to the next.
    [[nodiscard]] virtual unit_read_value_t* scratch_value() = 0;

protected:
    ~unit_value_load_t() = default;
};

// Reads the value of one attribute line through `reader`, checks it and stores it into `unit`.
// `index` is unit_index_absent for a scalar attribute, unit_index_append for "[]", or the element
// number (which the reader has checked to equal the array's size). False after a message: the
// line fails and the unit keeps its previous value. An obsolete attribute only warns. An
// attribute type without a value loader reports "[unit] Unknown unit attribute type.".
[[nodiscard]] bool unit_load_attribute_value(unit_value_load_t* load, unit_value_reader_t* reader,
                                             unit_t* unit, const unit_attribute_t* attribute,
                                             size_t index);
