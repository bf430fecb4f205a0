// The value loaders of every attribute type, and the reader of values in text.
//
// Sections: text reader; messages; storing; the value loader.
#include "ovcore/units/unit_value_loader.h"

#include "ovcore/message.h"
#include "ovcore/units/unit.h"
#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_domain.h"
#include "ovcore/units/unit_loader.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_resource_tie.h"
#include "ovcore/units/unit_system.h"
#include "ovcore/units/unit_text_scanner.h"

#include <utility>

// ---- text reader -------------------------------------------------------------------------

namespace
{

bool scan_float3(unit_text_scanner_t* scanner, float3_t* value)
{
    float c[3];
    if (!scanner->scan_vector(3, c))
        return false;
    *value = { c[0], c[1], c[2] };
    return true;
}

bool scan_position(unit_text_scanner_t* scanner, position_t* value)
{
    float c[3];
    if (!scanner->scan_vector(3, c))
        return false;
    value->x = c[0];
    value->y = c[1];
    value->z = c[2];
    return true;
}

bool scan_rotation(unit_text_scanner_t* scanner, quaternion_t* value)
{
    float c[4];
    if (!scanner->scan_quaternion(c))
        return false;
    *value = { c[0], c[1], c[2], c[3] };
    return true;
}

}  // namespace

bool unit_text_value_reader_t::read_value(unit_attr_type_t element, unit_read_value_t* value)
{
    unit_text_scanner_t* s = m_scanner;
    float c[4];
    fixed_t x[4];
    switch (element)
    {
    case unit_attr_type_t::string:
    case unit_attr_type_t::token:
    case unit_attr_type_t::resource_tie:
        return s->scan_string(&value->text);
    case unit_attr_type_t::float1:
        return s->scan_real(&value->real);
    case unit_attr_type_t::float2:
        if (!s->scan_vector(2, c))
            return false;
        value->float2 = { c[0], c[1] };
        return true;
    case unit_attr_type_t::float3:
        return scan_float3(s, &value->float3);
    case unit_attr_type_t::float4:
        if (!s->scan_vector(4, c))
            return false;
        value->float4 = { c[0], c[1], c[2], c[3] };
        return true;
    case unit_attr_type_t::fixed1:
        return s->scan_fixed(&value->fixed);
    case unit_attr_type_t::fixed2:
        if (!s->scan_fixed_vector(2, x))
            return false;
        value->fixed2 = { x[0], x[1] };
        return true;
    case unit_attr_type_t::fixed3:
        if (!s->scan_fixed_vector(3, x))
            return false;
        value->fixed3 = { x[0], x[1], x[2] };
        return true;
    case unit_attr_type_t::fixed4:
        if (!s->scan_fixed_vector(4, x))
            return false;
        value->fixed4 = { x[0], x[1], x[2], x[3] };
        return true;
    case unit_attr_type_t::float4x4:
        for (float4_t& row : value->matrix.rows)
        {
            if (!s->scan_vector(4, c))
                return false;
            row = { c[0], c[1], c[2], c[3] };
        }
        return true;
    case unit_attr_type_t::quaternion:
        return scan_rotation(s, &value->quaternion);
    case unit_attr_type_t::placement:
        return scan_position(s, &value->placement.position) &&
               scan_rotation(s, &value->placement.rotation);
    case unit_attr_type_t::placement_scale:
        // Text order: position, scale, rotation.
        return scan_position(s, &value->placement_scale.position) &&
               s->scan_real(&value->placement_scale.scale) &&
               scan_rotation(s, &value->placement_scale.rotation);
    case unit_attr_type_t::placement_scale3:
        return scan_position(s, &value->placement_scale3.position) &&
               scan_float3(s, &value->placement_scale3.scale) &&
               scan_rotation(s, &value->placement_scale3.rotation);
    case unit_attr_type_t::plane:
        return scan_float3(s, &value->plane.normal) && s->scan_real(&value->plane.distance);
    case unit_attr_type_t::sphere:
        return scan_float3(s, &value->sphere.centre) && s->scan_real(&value->sphere.radius);
    case unit_attr_type_t::aabox:
        return scan_float3(s, &value->aabox.minimum) && scan_float3(s, &value->aabox.maximum);
    case unit_attr_type_t::s32:
    case unit_attr_type_t::s16:
    case unit_attr_type_t::s32_second:
    case unit_attr_type_t::s64:
        return s->scan_signed(&value->signed_value);
    case unit_attr_type_t::u32:
    case unit_attr_type_t::u16:
    case unit_attr_type_t::u32_second:
    case unit_attr_type_t::u64:
        return s->scan_unsigned(&value->unsigned_value);
    case unit_attr_type_t::int2:
    {
        int32_t v[2];
        if (!s->scan_int_vector2(v))
            return false;
        value->int2 = { v[0], v[1] };
        return true;
    }
    case unit_attr_type_t::boolean:
        return s->scan_boolean(&value->boolean);
    case unit_attr_type_t::enumeration:
    {
        unit_enum_lexeme_t lexeme;
        if (!s->scan_enum(&lexeme))
            return false;
        value->is_name = lexeme.is_name;
        value->signed_value = lexeme.number;
        value->text.move_from(lexeme.name);
        return true;
    }
    case unit_attr_type_t::owner_ptr:
    case unit_attr_type_t::link_ptr:
    case unit_attr_type_t::tolerant_link_ptr:
        if (!s->scan_unit_name(&value->text))
            return false;
        value->is_null = value->text.equals("null");
        return true;
    default:
        break;
    }
    s->report_location();
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

    line_names_t(unit_load_t* load, const unit_t* owner, const unit_attribute_t* attribute_record)
        : attribute(attribute_record->name), type(owner->get_descriptor()->type_name)
    {
        load->get_unit_display_name(owner, &unit);
    }
};

double to_real(fixed_t value)
{
    return double(value) / 256.0;
}

// The family message of a rejected value.
void report_out_of_domain(unit_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
                          unit_attr_type_t element, const unit_read_value_t& v)
{
    const line_names_t n(load, unit, attribute);
    const char* a = n.attribute;
    const char* u = n.unit.c_str();
    const char* t = n.type;
    load->report_location();
    switch (element)
    {
    case unit_attr_type_t::string:
    case unit_attr_type_t::token:
    case unit_attr_type_t::owner_ptr:
    case unit_attr_type_t::link_ptr:
    case unit_attr_type_t::tolerant_link_ptr:
    case unit_attr_type_t::resource_tie:
        msg_error("[unit] The requested value '%s' of the attribute '%s' of unit '%s' (of type "
                  "'%s') is out of the attribute domain.",
                  v.text.c_str(), a, u, t);
        break;
    case unit_attr_type_t::float1:
        msg_error("[unit] The requested value '%g' of the attribute '%s' of unit '%s' (of type "
                  "'%s') is out of the attribute domain.",
                  double(v.real), a, u, t);
        break;
    case unit_attr_type_t::float2:
        msg_error("[unit] The requested value '(%g, %g)' of the attribute '%s' of unit '%s' (of "
                  "type '%s') is out of the attribute domain.",
                  double(v.float2.x), double(v.float2.y), a, u, t);
        break;
    case unit_attr_type_t::float3:
        msg_error("[unit] The requested value '(%g, %g, %g)' of the attribute '%s' of unit '%s' "
                  "(of type '%s') is out of the attribute domain.",
                  double(v.float3.x), double(v.float3.y), double(v.float3.z), a, u, t);
        break;
    case unit_attr_type_t::float4:
        msg_error("[unit] The requested value '(%g, %g, %g, %g)' of the attribute '%s' of unit "
                  "'%s' (of type '%s') is out of the attribute domain.",
                  double(v.float4.x), double(v.float4.y), double(v.float4.z), double(v.float4.w),
                  a, u, t);
        break;
    case unit_attr_type_t::fixed1:
        msg_error("[unit] The requested value '%f' of the attribute '%s' of unit '%s' (of type "
                  "'%s') is out of the attribute domain.",
                  to_real(v.fixed), a, u, t);
        break;
    case unit_attr_type_t::fixed2:
        msg_error("[unit] The requested value '(%f, %f)' of the attribute '%s' of unit '%s' (of "
                  "type '%s') is out of the attribute domain.",
                  to_real(v.fixed2.x), to_real(v.fixed2.y), a, u, t);
        break;
    case unit_attr_type_t::fixed3:
        msg_error("[unit] The requested value '(%f, %f, %f)' of the attribute '%s' of unit '%s' "
                  "(of type '%s') is out of the attribute domain.",
                  to_real(v.fixed3.x), to_real(v.fixed3.y), to_real(v.fixed3.z), a, u, t);
        break;
    case unit_attr_type_t::fixed4:
        msg_error("[unit] The requested value '(%f, %f, %f, %f)' of the attribute '%s' of unit "
                  "'%s' (of type '%s') is out of the attribute domain.",
                  to_real(v.fixed4.x), to_real(v.fixed4.y), to_real(v.fixed4.z),
                  to_real(v.fixed4.w), a, u, t);
        break;
    case unit_attr_type_t::quaternion:
        msg_error("[unit] The requested value '(%g; %g, %g, %g)' of the attribute '%s' of unit "
                  "'%s' (of type '%s') is out of the attribute domain.",
                  double(v.quaternion.w), double(v.quaternion.x), double(v.quaternion.y),
                  double(v.quaternion.z), a, u, t);
        break;
    case unit_attr_type_t::s32:
    case unit_attr_type_t::s16:
    case unit_attr_type_t::s32_second:
    case unit_attr_type_t::s64:
        msg_error("[unit] The requested value %I64d of the attribute '%s' of unit '%s' (of type "
                  "'%s') is out of the attribute domain.",
                  v.signed_value, a, u, t);
        break;
    case unit_attr_type_t::u32:
    case unit_attr_type_t::u16:
    case unit_attr_type_t::u32_second:
    case unit_attr_type_t::u64:
        msg_error("[unit] The requested value %I64u of the attribute '%s' of unit '%s' (of type "
                  "'%s') is out of the attribute domain.",
                  v.unsigned_value, a, u, t);
        break;
    case unit_attr_type_t::int2:
        msg_error("[unit] The requested value '(%d, %d)' of the attribute '%s' of unit '%s' (of "
                  "type '%s') is out of the attribute domain.",
                  v.int2.x, v.int2.y, a, u, t);
        break;
    case unit_attr_type_t::boolean:
        msg_error("[unit] The requested value '%s' of the attribute '%s' of unit '%s' (of type "
                  "'%s') is out of the attribute domain.",
                  v.boolean ? "true" : "false", a, u, t);
        break;
    case unit_attr_type_t::enumeration:
        if (v.is_name)
            msg_error("[unit] The requested value '%s' is outside the domain of the attribute "
                      "'%s' of unit '%s' (of type '%s').",
                      v.text.c_str(), a, u, t);
        else
            msg_error("[unit] The requested value '%d' is outside the domain of the attribute "
                      "'%s' of unit '%s' (of type '%s').",
                      int32_t(v.signed_value), a, u, t);
        break;
    default:
        // Matrices, placements, planes, spheres and boxes: no value in the text.
        msg_error("[unit] The requested value of the attribute '%s' of unit '%s' (of type '%s') "
                  "is out of the attribute domain.",
                  a, u, t);
        break;
    }
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
bool store_value(unit_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
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
    msg_error("[unit] The unit '%s' (of type '%s') could not set the value of attribute '%s[%Iu].",
              n.unit.c_str(), n.type, n.attribute, element_index(unit, attribute, index));
    return false;
}

void warn_obsolete(unit_load_t* load, unit_t* unit, const unit_attribute_t* attribute)
{
    const line_names_t n(load, unit, attribute);
    msg_warning("Ignoring obsolete attribute '%s' of unit '%s' (of type '%s').", n.attribute,
                n.unit.c_str(), n.type);
}

// Owner and link pointers: "null", an existing unit, or a proxy of this load.
bool load_reference(unit_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
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
        if (found != nullptr)
        {
            unit_proxy_u* proxy = static_cast<unit_proxy_u*>(found);
            if (proxy->is_claimed())
            {
                const line_names_t n(load, unit, attribute);
                load->report_location();
                msg_error("[unit] The unit '%s', referenced in the attribute '%s' of unit '%s' (of "
                          "type '%s') is already owned by something else.",
                          v->text.c_str(), n.attribute, n.unit.c_str(), n.type);
                return false;
            }
            proxy->set_claimed();
        }
        owner_ptr_t<unit_t> stored(found);
        return store_value(load, unit, attribute, index, &stored);
    }
    link_ptr_t<unit_t> stored(found);
    return store_value(load, unit, attribute, index, &stored);
}

bool load_enum(unit_load_t* load, unit_t* unit, const unit_attribute_t* attribute, size_t index,
               unit_read_value_t* v)
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

bool load_resource_tie(unit_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
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
bool check_and_store(unit_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
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

}  // namespace

// ---- the value loader --------------------------------------------------------------------

bool unit_load_attribute_value(unit_load_t* load, unit_t* unit, const unit_attribute_t* attribute,
                               size_t index)
{
    const uint32_t code = uint32_t(attribute->type);
    if (code == 0 || code > unit_attr_type_last || load->value_reader() == nullptr)
    {
        load->report_location();
        msg_error("[unit] Unknown unit attribute type.");
        return false;
    }
    const unit_attr_type_t element = unit_attr_type_element_type(attribute->type);
    unit_read_value_t* v = load->scratch_value();
    // Parts not read yet hold identity values.
    switch (element)
    {
    case unit_attr_type_t::quaternion:
        v->quaternion = quaternion_t{};
        break;
    case unit_attr_type_t::placement:
        v->placement = placement_t{};
        break;
    case unit_attr_type_t::placement_scale:
        v->placement_scale = placement_scale_t{};
        break;
    case unit_attr_type_t::placement_scale3:
        v->placement_scale3 = placement_scale3_t{};
        break;
    case unit_attr_type_t::sphere:
        v->sphere = sphere_t{};
        break;
    default:
        break;
    }
    v->is_null = false;
    v->is_name = false;
    if (!load->value_reader()->read_value(element, v))
        return false;

    const void* domain = attribute->domain;
    const auto store = [&](unit_domain_check_t check, auto stored) {
        return check_and_store(load, unit, attribute, element, index, *v, check, stored);
    };
    switch (element)
    {
    case unit_attr_type_t::string:
    {
        const unit_domain_check_t check = unit_check_string(domain, v->text);
        if (check != unit_domain_check_t::accepted)
        {
            report_out_of_domain(load, unit, attribute, element, *v);
            return false;
        }
        if (attribute->is_obsolete())
        {
            warn_obsolete(load, unit, attribute);
            return true;
        }
        string_dyn_t stored;
        stored.move_from(v->text);
        return store_value(load, unit, attribute, index, &stored);
    }
    case unit_attr_type_t::token:
    {
        token_t token = 0;
        const unit_domain_check_t check = unit_check_token(domain, v->text, &token);
        return store(check, token);
    }
    case unit_attr_type_t::float1:
        return store(unit_check_floats(domain, 1, &v->real), v->real);
    case unit_attr_type_t::float2:
    {
        const float c[] = { v->float2.x, v->float2.y };
        return store(unit_check_floats(domain, 2, c), v->float2);
    }
    case unit_attr_type_t::float3:
    {
        const float c[] = { v->float3.x, v->float3.y, v->float3.z };
        return store(unit_check_floats(domain, 3, c), v->float3);
    }
    case unit_attr_type_t::float4:
    {
        const float c[] = { v->float4.x, v->float4.y, v->float4.z, v->float4.w };
        return store(unit_check_floats(domain, 4, c), v->float4);
    }
    case unit_attr_type_t::fixed1:
        return store(unit_check_fixeds(domain, 1, &v->fixed), v->fixed);
    case unit_attr_type_t::fixed2:
    {
        const fixed_t c[] = { v->fixed2.x, v->fixed2.y };
        return store(unit_check_fixeds(domain, 2, c), v->fixed2);
    }
    case unit_attr_type_t::fixed3:
    {
        const fixed_t c[] = { v->fixed3.x, v->fixed3.y, v->fixed3.z };
        return store(unit_check_fixeds(domain, 3, c), v->fixed3);
    }
    case unit_attr_type_t::fixed4:
    {
        const fixed_t c[] = { v->fixed4.x, v->fixed4.y, v->fixed4.z, v->fixed4.w };
        return store(unit_check_fixeds(domain, 4, c), v->fixed4);
    }
    case unit_attr_type_t::float4x4:
        return store(unit_check_unrestricted(domain), v->matrix);
    case unit_attr_type_t::quaternion:
        return store(unit_check_unrestricted(domain), v->quaternion);
    case unit_attr_type_t::placement:
        return store(unit_check_unrestricted(domain), v->placement);
    case unit_attr_type_t::placement_scale:
        return store(unit_check_unrestricted(domain), v->placement_scale);
    case unit_attr_type_t::placement_scale3:
        return store(unit_check_unrestricted(domain), v->placement_scale3);
    case unit_attr_type_t::plane:
        return store(unit_check_unrestricted(domain), v->plane);
    case unit_attr_type_t::sphere:
        return store(unit_check_unrestricted(domain), v->sphere);
    case unit_attr_type_t::aabox:
        return store(unit_check_unrestricted(domain), v->aabox);
    case unit_attr_type_t::s32:
    case unit_attr_type_t::s32_second:
        return store(unit_check_signed(domain, element, v->signed_value), int32_t(v->signed_value));
    case unit_attr_type_t::s16:
        return store(unit_check_signed(domain, element, v->signed_value), int16_t(v->signed_value));
    case unit_attr_type_t::s64:
        return store(unit_check_signed(domain, element, v->signed_value), v->signed_value);
    case unit_attr_type_t::u32:
    case unit_attr_type_t::u32_second:
        return store(unit_check_unsigned(domain, element, v->unsigned_value),
                     uint32_t(v->unsigned_value));
    case unit_attr_type_t::u16:
        return store(unit_check_unsigned(domain, element, v->unsigned_value),
                     uint16_t(v->unsigned_value));
    case unit_attr_type_t::u64:
        return store(unit_check_unsigned(domain, element, v->unsigned_value), v->unsigned_value);
    case unit_attr_type_t::int2:
        return store(unit_check_unrestricted(domain), v->int2);
    case unit_attr_type_t::boolean:
        return store(unit_check_unrestricted(domain), v->boolean);
    case unit_attr_type_t::enumeration:
        return load_enum(load, unit, attribute, index, v);
    case unit_attr_type_t::owner_ptr:
    case unit_attr_type_t::link_ptr:
    case unit_attr_type_t::tolerant_link_ptr:
        return load_reference(load, unit, attribute, element, index, v);
    case unit_attr_type_t::resource_tie:
        return load_resource_tie(load, unit, attribute, index, v);
    default:
        break;
    }
    load->report_location();
    msg_error("[unit] Unknown unit attribute type.");
    return false;
}
