// The value loaders of every attribute type, and the reader of values in text.
//
// Sections: text reader; messages; storing; the value loader.
#include "ovcore/units/unit_value_loader.h"

#include "ovcore/message.h"
#include "ovcore/units/unit.h"
#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_domain.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_resource_tie.h"
#include "ovcore/units/unit_system.h"
#include "ovcore/units/unit_text_scanner.h"

#include <type_traits>
#include <utility>

// ---- text reader -------------------------------------------------------------------------

namespace
{

// One overload per stored value of the floats, fixeds and plain kinds, in text order.
bool scan_value(unit_text_scanner_t* scanner, float* value)
{
    return scanner->scan_real(value);
}

bool scan_value(unit_text_scanner_t* scanner, float2_t* value)
{
    float c[2];
    if (!scanner->scan_vector(2, c))
        return false;
    *value = { c[0], c[1] };
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, float3_t* value)
{
    float c[3];
    if (!scanner->scan_vector(3, c))
        return false;
    *value = { c[0], c[1], c[2] };
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, float4_t* value)
{
    float c[4];
    if (!scanner->scan_vector(4, c))
        return false;
    *value = { c[0], c[1], c[2], c[3] };
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, fixed_t* value)
{
    return scanner->scan_fixed(value);
}

bool scan_value(unit_text_scanner_t* scanner, fixed2_t* value)
{
    fixed_t x[2];
    if (!scanner->scan_fixed_vector(2, x))
        return false;
    *value = { x[0], x[1] };
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, fixed3_t* value)
{
    fixed_t x[3];
    if (!scanner->scan_fixed_vector(3, x))
        return false;
    *value = { x[0], x[1], x[2] };
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, fixed4_t* value)
{
    fixed_t x[4];
    if (!scanner->scan_fixed_vector(4, x))
        return false;
    *value = { x[0], x[1], x[2], x[3] };
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, float4x4_t* value)
{
    for (float4_t& row : value->rows)
        if (!scan_value(scanner, &row))
            return false;
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, quaternion_t* value)
{
    float c[4];
    if (!scanner->scan_quaternion(c))
        return false;
    *value = { c[0], c[1], c[2], c[3] };
    return true;
}

// The sector stays as it was: text has none.
bool scan_value(unit_text_scanner_t* scanner, position_t* value)
{
    float c[3];
    if (!scanner->scan_vector(3, c))
        return false;
    value->x = c[0];
    value->y = c[1];
    value->z = c[2];
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, placement_t* value)
{
    return scan_value(scanner, &value->position) && scan_value(scanner, &value->rotation);
}

// Text order: position, scale, rotation.
bool scan_value(unit_text_scanner_t* scanner, placement_scale_t* value)
{
    return scan_value(scanner, &value->position) && scanner->scan_real(&value->scale) &&
           scan_value(scanner, &value->rotation);
}

bool scan_value(unit_text_scanner_t* scanner, placement_scale3_t* value)
{
    return scan_value(scanner, &value->position) && scan_value(scanner, &value->scale) &&
           scan_value(scanner, &value->rotation);
}

bool scan_value(unit_text_scanner_t* scanner, plane_t* value)
{
    return scan_value(scanner, &value->normal) && scanner->scan_real(&value->distance);
}

bool scan_value(unit_text_scanner_t* scanner, sphere_t* value)
{
    return scan_value(scanner, &value->centre) && scanner->scan_real(&value->radius);
}

bool scan_value(unit_text_scanner_t* scanner, aabox_t* value)
{
    return scan_value(scanner, &value->minimum) && scan_value(scanner, &value->maximum);
}

bool scan_value(unit_text_scanner_t* scanner, int2_t* value)
{
    int32_t v[2];
    if (!scanner->scan_int_vector2(v))
        return false;
    *value = { v[0], v[1] };
    return true;
}

bool scan_value(unit_text_scanner_t* scanner, bool* value)
{
    return scanner->scan_boolean(value);
}

// One function per kind of the table of attribute types: reads `field` of `value`.

bool scan_string(unit_text_scanner_t* scanner, unit_read_value_t*, string_dyn_t* field)
{
    return scanner->scan_string(field);
}

bool scan_token(unit_text_scanner_t* scanner, unit_read_value_t*, string_dyn_t* field)
{
    return scanner->scan_string(field);
}

template <typename T> bool scan_floats(unit_text_scanner_t* scanner, unit_read_value_t*, T* field)
{
    return scan_value(scanner, field);
}

template <typename T> bool scan_fixeds(unit_text_scanner_t* scanner, unit_read_value_t*, T* field)
{
    return scan_value(scanner, field);
}

template <typename T> bool scan_plain(unit_text_scanner_t* scanner, unit_read_value_t*, T* field)
{
    return scan_value(scanner, field);
}

bool scan_signed_int(unit_text_scanner_t* scanner, unit_read_value_t*, int64_t* field)
{
    return scanner->scan_signed(field);
}

bool scan_unsigned_int(unit_text_scanner_t* scanner, unit_read_value_t*, uint64_t* field)
{
    return scanner->scan_unsigned(field);
}

bool scan_enumeration(unit_text_scanner_t* scanner, unit_read_value_t* value, int64_t* field)
{
    unit_enum_lexeme_t lexeme;
    if (!scanner->scan_enum(&lexeme))
        return false;
    value->is_name = lexeme.is_name;
    *field = lexeme.number;
    value->text.move_from(lexeme.name);
    return true;
}

bool scan_reference(unit_text_scanner_t* scanner, unit_read_value_t* value, string_dyn_t* field)
{
    if (!scanner->scan_unit_name(field))
        return false;
    value->is_null = field->equals("null");
    return true;
}

bool scan_owner(unit_text_scanner_t* scanner, unit_read_value_t* value, string_dyn_t* field)
{
    return scan_reference(scanner, value, field);
}

bool scan_link(unit_text_scanner_t* scanner, unit_read_value_t* value, string_dyn_t* field)
{
    return scan_reference(scanner, value, field);
}

bool scan_tie(unit_text_scanner_t* scanner, unit_read_value_t*, string_dyn_t* field)
{
    return scanner->scan_string(field);
}

}  // namespace

bool unit_text_value_reader_t::read_value(unit_attr_type_t element, unit_read_value_t* value)
{
#define OV_SCAN_VALUE(name, text_code, binary_code, element_name, stored, field, kind)         \
    case unit_attr_type_t::name:                                                               \
        return scan_##kind(m_scanner, value, &value->field);

    switch (element)
    {
        OV_UNIT_ATTR_TYPES(OV_SCAN_VALUE)
    default:
        break;
    }
#undef OV_SCAN_VALUE
    m_scanner->report_location();
    msg_error("[unit] Unknown unit attribute type.");
    return false;
}

// ---- messages ----------------------------------------------------------------------------

namespace
{

// The names every message of a line gives: attribute, unit and type.
struct line_names_t
{
    const char* attribute;
    string_dyn_t unit;
    const char* type;

    line_names_t(unit_value_load_t* load, const unit_t* owner,
                 const unit_attribute_t* attribute_record)
        : attribute(attribute_record->name), type(owner->get_descriptor()->type_name)
    {
        load->get_unit_display_name(owner, &unit);
    }
};

double to_real(fixed_t value)
{
    return double(value) / 256.0;
}

// The value a domain rejected, as the message of its kind gives it. One overload per stored
// value of the floats, fixeds and plain kinds.
void report_value(const line_names_t& n, float v)
{
    msg_error("[unit] The requested value '%g' of the attribute '%s' of unit '%s' (of type "
              "'%s') is out of the attribute domain.",
              double(v), n.attribute, n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, const float2_t& v)
{
    msg_error("[unit] The requested value '(%g, %g)' of the attribute '%s' of unit '%s' (of "
              "type '%s') is out of the attribute domain.",
              double(v.x), double(v.y), n.attribute, n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, const float3_t& v)
{
    msg_error("[unit] The requested value '(%g, %g, %g)' of the attribute '%s' of unit '%s' "
              "(of type '%s') is out of the attribute domain.",
              double(v.x), double(v.y), double(v.z), n.attribute, n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, const float4_t& v)
{
    msg_error("[unit] The requested value '(%g, %g, %g, %g)' of the attribute '%s' of unit "
              "'%s' (of type '%s') is out of the attribute domain.",
              double(v.x), double(v.y), double(v.z), double(v.w), n.attribute, n.unit.c_str(),
              n.type);
}

void report_value(const line_names_t& n, fixed_t v)
{
    msg_error("[unit] The requested value '%f' of the attribute '%s' of unit '%s' (of type "
              "'%s') is out of the attribute domain.",
              to_real(v), n.attribute, n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, const fixed2_t& v)
{
    msg_error("[unit] The requested value '(%f, %f)' of the attribute '%s' of unit '%s' (of "
              "type '%s') is out of the attribute domain.",
              to_real(v.x), to_real(v.y), n.attribute, n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, const fixed3_t& v)
{
    msg_error("[unit] The requested value '(%f, %f, %f)' of the attribute '%s' of unit '%s' "
              "(of type '%s') is out of the attribute domain.",
              to_real(v.x), to_real(v.y), to_real(v.z), n.attribute, n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, const fixed4_t& v)
{
    msg_error("[unit] The requested value '(%f, %f, %f, %f)' of the attribute '%s' of unit "
              "'%s' (of type '%s') is out of the attribute domain.",
              to_real(v.x), to_real(v.y), to_real(v.z), to_real(v.w), n.attribute,
              n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, const quaternion_t& v)
{
    msg_error("[unit] The requested value '(%g; %g, %g, %g)' of the attribute '%s' of unit "
              "'%s' (of type '%s') is out of the attribute domain.",
              double(v.w), double(v.x), double(v.y), double(v.z), n.attribute, n.unit.c_str(),
              n.type);
}

void report_value(const line_names_t& n, const int2_t& v)
{
    msg_error("[unit] The requested value '(%d, %d)' of the attribute '%s' of unit '%s' (of "
              "type '%s') is out of the attribute domain.",
              v.x, v.y, n.attribute, n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, bool v)
{
    msg_error("[unit] The requested value '%s' of the attribute '%s' of unit '%s' (of type "
              "'%s') is out of the attribute domain.",
              v ? "true" : "false", n.attribute, n.unit.c_str(), n.type);
}

// Matrices, placements, planes, spheres and boxes: no value in the text.
void report_without_value(const line_names_t& n)
{
    msg_error("[unit] The requested value of the attribute '%s' of unit '%s' (of type '%s') "
              "is out of the attribute domain.",
              n.attribute, n.unit.c_str(), n.type);
}

void report_value(const line_names_t& n, const float4x4_t&)
{
    report_without_value(n);
}

void report_value(const line_names_t& n, const placement_t&)
{
    report_without_value(n);
}

void report_value(const line_names_t& n, const placement_scale_t&)
{
    report_without_value(n);
}

void report_value(const line_names_t& n, const placement_scale3_t&)
{
    report_without_value(n);
}

void report_value(const line_names_t& n, const plane_t&)
{
    report_without_value(n);
}

void report_value(const line_names_t& n, const sphere_t&)
{
    report_without_value(n);
}

void report_value(const line_names_t& n, const aabox_t&)
{
    report_without_value(n);
}

// One function per kind of the table of attribute types: the message for `field` of `v`.

void report_text(const line_names_t& n, const string_t& text)
{
    msg_error("[unit] The requested value '%s' of the attribute '%s' of unit '%s' (of type "
              "'%s') is out of the attribute domain.",
              text.c_str(), n.attribute, n.unit.c_str(), n.type);
}

void report_string(const line_names_t& n, const unit_read_value_t&, const string_dyn_t& field)
{
    report_text(n, field);
}

void report_token(const line_names_t& n, const unit_read_value_t&, const string_dyn_t& field)
{
    report_text(n, field);
}

template <typename T>
void report_floats(const line_names_t& n, const unit_read_value_t&, const T& field)
{
    report_value(n, field);
}

template <typename T>
void report_fixeds(const line_names_t& n, const unit_read_value_t&, const T& field)
{
    report_value(n, field);
}

template <typename T>
void report_plain(const line_names_t& n, const unit_read_value_t&, const T& field)
{
    report_value(n, field);
}

void report_signed_int(const line_names_t& n, const unit_read_value_t&, int64_t field)
{
    msg_error("[unit] The requested value %I64d of the attribute '%s' of unit '%s' (of type "
              "'%s') is out of the attribute domain.",
              field, n.attribute, n.unit.c_str(), n.type);
}

void report_unsigned_int(const line_names_t& n, const unit_read_value_t&, uint64_t field)
{
    msg_error("[unit] The requested value %I64u of the attribute '%s' of unit '%s' (of type "
              "'%s') is out of the attribute domain.",
              field, n.attribute, n.unit.c_str(), n.type);
}

void report_enumeration(const line_names_t& n, const unit_read_value_t& v, int64_t field)
{
    if (v.is_name)
        msg_error("[unit] The requested value '%s' is outside the domain of the attribute '%s' "
                  "of unit '%s' (of type '%s').",
                  v.text.c_str(), n.attribute, n.unit.c_str(), n.type);
    else
        msg_error("[unit] The requested value '%d' is outside the domain of the attribute '%s' "
                  "of unit '%s' (of type '%s').",
                  int32_t(field), n.attribute, n.unit.c_str(), n.type);
}

void report_owner(const line_names_t& n, const unit_read_value_t&, const string_dyn_t& field)
{
    report_text(n, field);
}

void report_link(const line_names_t& n, const unit_read_value_t&, const string_dyn_t& field)
{
    report_text(n, field);
}

void report_tie(const line_names_t& n, const unit_read_value_t&, const string_dyn_t& field)
{
    report_text(n, field);
}

// The message of a rejected value.
void report_out_of_domain(unit_value_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
                          unit_attr_type_t element, const unit_read_value_t& v)
{
    const line_names_t n(load, unit, attribute);
    load->report_location();
#define OV_REPORT_VALUE(name, text_code, binary_code, element_name, stored, field, kind)       \
    case unit_attr_type_t::name:                                                               \
        report_##kind(n, v, v.field);                                                          \
        return;

    switch (element)
    {
        OV_UNIT_ATTR_TYPES(OV_REPORT_VALUE)
    default:
        break;
    }
#undef OV_REPORT_VALUE
    report_without_value(n);
}

// ---- storing -----------------------------------------------------------------------------

// The element a message names: `index`, or for an append the one it would have added.
size_t element_index(unit_t* unit, const unit_attribute_t* attribute, size_t index)
{
    size_t element = index;
    if (index == unit_index_append && !unit_array_get_size(unit, attribute, &element))
        element = 0;
    return element;
}

// Stores `stored` (the attribute's element type) as the scalar or as element `index`.
bool store_value(unit_value_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
                 size_t index, void* stored)
{
    bool stored_ok;
    if (index == unit_index_absent)
        stored_ok = unit_set_scalar(unit, attribute, stored);
    else if (index == unit_index_append)
        stored_ok = unit_array_append(unit, attribute, stored);
    else
        stored_ok = unit_array_set_element(unit, attribute, index, stored);
    if (stored_ok)
        return true;
    const line_names_t n(load, unit, attribute);
    load->report_location();
    if (index == unit_index_absent)
    {
        msg_error("[unit] The unit '%s' (of type '%s') could not set the value of attribute '%s'.",
                  n.unit.c_str(), n.type, n.attribute);
        return false;
    }
    // An element in order fails only for want of memory; one past the end is out of order.
    size_t size = 0;
    if (attribute->type != unit_attr_type_t::resource_tie_array &&
        unit_array_get_size(unit, attribute, &size) &&
        (index == unit_index_append || index <= size))
        msg_error("[unit] Not enough memory for the value of attribute '%s[%Iu]'.", n.attribute,
                  element_index(unit, attribute, index));
    msg_error("[unit] The unit '%s' (of type '%s') could not set the value of attribute '%s[%Iu].",
              n.unit.c_str(), n.type, n.attribute, element_index(unit, attribute, index));
    return false;
}

void warn_obsolete(unit_value_load_t* load, unit_t* unit, const unit_attribute_t* attribute)
{
    const line_names_t n(load, unit, attribute);
    msg_warning("Ignoring obsolete attribute '%s' of unit '%s' (of type '%s').", n.attribute,
                n.unit.c_str(), n.type);
}

// Owner and link pointers: "null", an existing unit, or a proxy of this load.
bool load_reference(unit_value_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
                    unit_attr_type_t element, size_t index, unit_read_value_t* v)
{
    const bool owner = element == unit_attr_type_t::owner_ptr;
    unit_t* found = nullptr;
    string_dyn_t name;
    if (!v->is_null)
    {
        if (!load->find_reference(v->text.c_str(), &name, &found))
            return false;
        const bool real = found != nullptr && !load->is_own_proxy(found);
        if (real && owner)
        {
            // An owner may only take units of this file.
            const line_names_t n(load, unit, attribute);
            load->report_location();
            msg_error("[unit] The unit name '%s', referenced in the attribute '%s' of unit '%s' "
                      "(of type '%s') is already taken.",
                      v->text.c_str(), n.attribute, n.unit.c_str(), n.type);
            return false;
        }
        // Units known by now are checked at once; proxies after the load.
        if (real && unit_check_unit(attribute->domain, element, found) !=
                        unit_domain_check_t::accepted)
        {
            report_out_of_domain(load, unit, attribute, element, *v);
            return false;
        }
    }
    else if (unit_check_unit(attribute->domain, element, nullptr) != unit_domain_check_t::accepted)
    {
        report_out_of_domain(load, unit, attribute, element, *v);
        return false;
    }
    if (attribute->is_obsolete())
    {
        warn_obsolete(load, unit, attribute);
        return true;
    }
    if (!v->is_null && found == nullptr)
    {
        found = load->obtain_proxy(name);
        if (found == nullptr)
            return false;
    }
    if (owner)
    {
        // Here `found` is a proxy of this load: an owner may only take units of this file.
        if (found != nullptr && !load->claim_proxy(found))
        {
            const line_names_t n(load, unit, attribute);
            load->report_location();
            msg_error("[unit] The unit '%s', referenced in the attribute '%s' of unit '%s' (of "
                      "type '%s') is already owned by something else.",
                      v->text.c_str(), n.attribute, n.unit.c_str(), n.type);
            return false;
        }
        owner_ptr_t<unit_t> stored(found);
        return store_value(load, unit, attribute, index, &stored);
    }
    link_ptr_t<unit_t> stored(found);
    return store_value(load, unit, attribute, index, &stored);
}

bool load_enum(unit_value_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
               size_t index, unit_read_value_t* v)
{
    int32_t value = 0;
    if (v->is_name)
    {
        if (!unit_find_enum_name(attribute->domain, v->text.c_str(), &value))
        {
            report_out_of_domain(load, unit, attribute, unit_attr_type_t::enumeration, *v);
            return false;
        }
    }
    else
    {
        if (v->signed_value < INT32_MIN || v->signed_value > INT32_MAX)
        {
            const line_names_t n(load, unit, attribute);
            load->report_location();
            if (index == unit_index_absent)
            {
                msg_error("[unit] The requested value %I64d of the attribute '%s' of unit '%s' (of "
                          "type '%s') is too large.",
                          v->signed_value, n.attribute, n.unit.c_str(), n.type);
                return false;
            }
            msg_error("[unit] The requested value %I64d of the element %Iu of the attribute '%s' "
                      "of unit '%s' (of type '%s') is too large.",
                      v->signed_value, element_index(unit, attribute, index), n.attribute,
                      n.unit.c_str(), n.type);
            return false;
        }
        value = int32_t(v->signed_value);
        if (unit_check_enum_value(attribute->domain, value) != unit_domain_check_t::accepted)
        {
            report_out_of_domain(load, unit, attribute, unit_attr_type_t::enumeration, *v);
            return false;
        }
    }
    if (attribute->is_obsolete())
    {
        warn_obsolete(load, unit, attribute);
        return true;
    }
    return store_value(load, unit, attribute, index, &value);
}

bool load_resource_tie(unit_value_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
                       size_t index, unit_read_value_t* v)
{
    // The installed tie decides what it accepts.
    if (attribute->is_obsolete())
    {
        warn_obsolete(load, unit, attribute);
        return true;
    }
    unit_t* resource = nullptr;
    if (g_unit_resource_tie == nullptr ||
        !g_unit_resource_tie->obtain_resource(v->text.c_str(), unit, attribute, &resource))
        return false;
    return store_value(load, unit, attribute, index, &resource);
}

// Check, then drop for an obsolete attribute, then store a copy of `stored`.
template <typename T>
bool check_and_store(unit_value_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
                     unit_attr_type_t element, size_t index, const unit_read_value_t& v,
                     unit_domain_check_t check, T stored)
{
    if (check != unit_domain_check_t::accepted)
    {
        report_out_of_domain(load, unit, attribute, element, v);
        return false;
    }
    if (attribute->is_obsolete())
    {
        warn_obsolete(load, unit, attribute);
        return true;
    }
    return store_value(load, unit, attribute, index, &stored);
}

// The domain check of one stored value of the floats and fixeds kinds, component by component.
unit_domain_check_t check_components(const void* domain, const float& v)
{
    return unit_check_floats(domain, 1, &v);
}

unit_domain_check_t check_components(const void* domain, const float2_t& v)
{
    const float c[] = { v.x, v.y };
    return unit_check_floats(domain, 2, c);
}

unit_domain_check_t check_components(const void* domain, const float3_t& v)
{
    const float c[] = { v.x, v.y, v.z };
    return unit_check_floats(domain, 3, c);
}

unit_domain_check_t check_components(const void* domain, const float4_t& v)
{
    const float c[] = { v.x, v.y, v.z, v.w };
    return unit_check_floats(domain, 4, c);
}

unit_domain_check_t check_components(const void* domain, const fixed_t& v)
{
    return unit_check_fixeds(domain, 1, &v);
}

unit_domain_check_t check_components(const void* domain, const fixed2_t& v)
{
    const fixed_t c[] = { v.x, v.y };
    return unit_check_fixeds(domain, 2, c);
}

unit_domain_check_t check_components(const void* domain, const fixed3_t& v)
{
    const fixed_t c[] = { v.x, v.y, v.z };
    return unit_check_fixeds(domain, 3, c);
}

unit_domain_check_t check_components(const void* domain, const fixed4_t& v)
{
    const fixed_t c[] = { v.x, v.y, v.z, v.w };
    return unit_check_fixeds(domain, 4, c);
}

// One value on its way into a unit: what was read, and where it goes.
struct value_line_t
{
    unit_value_load_t* load;
    unit_t* unit;
    const unit_attribute_t* attribute;
    unit_attr_type_t element;
    size_t index;
    unit_read_value_t* value;

    template <typename T> bool store(unit_domain_check_t check, T stored) const
    {
        return check_and_store(load, unit, attribute, element, index, *value, check, stored);
    }
};

// One function per kind of the table of attribute types: checks `field` of the line's value
// and stores it as `Stored`, the type's stored element.

template <typename Stored> bool store_string(const value_line_t& line, string_dyn_t* field)
{
    static_assert(std::is_same_v<Stored, string_dyn_t>);
    if (unit_check_string(line.attribute->domain, *field) != unit_domain_check_t::accepted)
    {
        report_out_of_domain(line.load, line.unit, line.attribute, line.element, *line.value);
        return false;
    }
    if (line.attribute->is_obsolete())
    {
        warn_obsolete(line.load, line.unit, line.attribute);
        return true;
    }
    string_dyn_t stored;
    stored.move_from(*field);
    return store_value(line.load, line.unit, line.attribute, line.index, &stored);
}

template <typename Stored> bool store_token(const value_line_t& line, string_dyn_t* field)
{
    Stored token = 0;
    const unit_domain_check_t check = unit_check_token(line.attribute->domain, *field, &token);
    return line.store(check, token);
}

template <typename Stored, typename T> bool store_floats(const value_line_t& line, T* field)
{
    static_assert(std::is_same_v<Stored, T>, "floats are stored as read");
    return line.store(check_components(line.attribute->domain, *field), *field);
}

template <typename Stored, typename T> bool store_fixeds(const value_line_t& line, T* field)
{
    static_assert(std::is_same_v<Stored, T>, "fixed numbers are stored as read");
    return line.store(check_components(line.attribute->domain, *field), *field);
}

template <typename Stored, typename T> bool store_plain(const value_line_t& line, T* field)
{
    static_assert(std::is_same_v<Stored, T>, "plain values are stored as read");
    return line.store(unit_check_unrestricted(line.attribute->domain), *field);
}

template <typename Stored> bool store_signed_int(const value_line_t& line, int64_t* field)
{
    return line.store(unit_check_signed(line.attribute->domain, line.element, *field),
                      Stored(*field));
}

template <typename Stored> bool store_unsigned_int(const value_line_t& line, uint64_t* field)
{
    return line.store(unit_check_unsigned(line.attribute->domain, line.element, *field),
                      Stored(*field));
}

template <typename Stored> bool store_enumeration(const value_line_t& line, int64_t*)
{
    static_assert(std::is_same_v<Stored, int32_t>);
    return load_enum(line.load, line.unit, line.attribute, line.index, line.value);
}

template <typename Stored> bool store_owner(const value_line_t& line, string_dyn_t*)
{
    static_assert(std::is_same_v<Stored, owner_ptr_t<unit_t>>);
    return load_reference(line.load, line.unit, line.attribute, line.element, line.index,
                          line.value);
}

template <typename Stored> bool store_link(const value_line_t& line, string_dyn_t*)
{
    static_assert(std::is_same_v<Stored, link_ptr_t<unit_t>>);
    return load_reference(line.load, line.unit, line.attribute, line.element, line.index,
                          line.value);
}

template <typename Stored> bool store_tie(const value_line_t& line, string_dyn_t*)
{
    static_assert(std::is_same_v<Stored, unit_t*>);
    return load_resource_tie(line.load, line.unit, line.attribute, line.index, line.value);
}

// Parts of a compound that a reader leaves unread keep their defaults (identity rotation,
// sector 0); text is assigned whole and keeps its buffer.
template <typename T> void clear_field(T* field)
{
    if constexpr (!std::is_same_v<T, string_dyn_t>)
        *field = T{};
}

}  // namespace

// ---- the value loader --------------------------------------------------------------------

bool unit_load_attribute_value(unit_value_load_t* load, unit_value_reader_t* reader, unit_t* unit,
                               const unit_attribute_t* attribute, size_t index)
{
    const uint32_t code = uint32_t(attribute->type);
    if (code == 0 || code > unit_attr_type_last || reader == nullptr)
    {
        load->report_location();
        msg_error("[unit] Unknown unit attribute type.");
        return false;
    }
    const unit_attr_type_t element = unit_attr_type_element_type(attribute->type);
    unit_read_value_t* v = load->scratch_value();
    v->is_null = false;
    v->is_name = false;
    const value_line_t line = { load, unit, attribute, element, index, v };
#define OV_LOAD_VALUE(name, text_code, binary_code, element_name, stored, field, kind)         \
    case unit_attr_type_t::name:                                                               \
        clear_field(&v->field);                                                                \
        return reader->read_value(element, v) && store_##kind<stored>(line, &v->field);

    switch (element)
    {
        OV_UNIT_ATTR_TYPES(OV_LOAD_VALUE)
    default:
        break;
    }
#undef OV_LOAD_VALUE
    load->report_location();
    msg_error("[unit] Unknown unit attribute type.");
    return false;
}
