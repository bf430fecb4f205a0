// Attribute domain checks.
#include "ovcore/units/unit_domain.h"

#include "ovcore/units/unit.h"
#include "ovcore/units/unit_name.h"

#include <cstring>
#include <utility>

namespace
{

unit_domain_kind_t kind_of(const void* domain)
{
    return *static_cast<const unit_domain_kind_t*>(domain);
}

template <typename T> unit_domain_check_t check_range(const T* minimum, const T* maximum,
                                                      uint32_t count, const T* values)
{
    for (uint32_t i = 0; i < count; ++i)
    {
        // Written so that a NaN, which compares false with everything, is below every range.
        if (!(values[i] >= minimum[i]))
            return unit_domain_check_t::below_minimum;
        if (values[i] > maximum[i])
            return unit_domain_check_t::above_maximum;
    }
    return unit_domain_check_t::accepted;
}

template <typename T, unit_domain_kind_t Kind, typename V>
unit_domain_check_t check_integer(const void* domain, V value)
{
    if (!std::in_range<T>(value))
        return unit_domain_check_t::does_not_fit;
    if (domain == nullptr)
        return unit_domain_check_t::accepted;
    if (kind_of(domain) != Kind)
        return unit_domain_check_t::wrong_check;
    const auto* range = static_cast<const unit_integer_domain_t<T, Kind>*>(domain);
    const T stored = T(value);
    return check_range(&range->minimum, &range->maximum, 1, &stored);
}

// The integer domain record of each stored width; a width without one does not compile.
template <typename T> struct integer_domain_of_t;
template <> struct integer_domain_of_t<int16_t>
{
    static constexpr unit_domain_kind_t kind = unit_domain_kind_t::s16;
};
template <> struct integer_domain_of_t<uint16_t>
{
    static constexpr unit_domain_kind_t kind = unit_domain_kind_t::u16;
};
template <> struct integer_domain_of_t<int32_t>
{
    static constexpr unit_domain_kind_t kind = unit_domain_kind_t::s32;
};
template <> struct integer_domain_of_t<uint32_t>
{
    static constexpr unit_domain_kind_t kind = unit_domain_kind_t::u32;
};
template <> struct integer_domain_of_t<int64_t>
{
    static constexpr unit_domain_kind_t kind = unit_domain_kind_t::s64;
};
template <> struct integer_domain_of_t<uint64_t>
{
    static constexpr unit_domain_kind_t kind = unit_domain_kind_t::u64;
};

// A row of kind `Wanted` checks the value against its stored width and that width's domain;
// any other row's code gets wrong_check.
template <unit_attr_kind_t Kind, unit_attr_kind_t Wanted, typename Stored, typename V>
unit_domain_check_t check_row_integer(const void* domain, V value)
{
    if constexpr (Kind == Wanted)
        return check_integer<Stored, integer_domain_of_t<Stored>::kind>(domain, value);
    else
        return unit_domain_check_t::wrong_check;
}

}  // namespace

unit_domain_check_t unit_check_string(const void* domain, const string_t& text)
{
    if (domain == nullptr)
        return unit_domain_check_t::accepted;
    if (kind_of(domain) != unit_domain_kind_t::string)
        return unit_domain_check_t::wrong_check;
    return text.length() > static_cast<const unit_string_domain_t*>(domain)->max_length
               ? unit_domain_check_t::too_long
               : unit_domain_check_t::accepted;
}

unit_domain_check_t unit_check_token(const void* domain, const string_t& text, token_t* token)
{
    if (domain != nullptr)
        return unit_domain_check_t::wrong_check;
    if (text.empty() || !token_from_text(text.c_str(), text.length(), token))
        return unit_domain_check_t::invalid_token;
    return unit_domain_check_t::accepted;
}

unit_domain_check_t unit_check_floats(const void* domain, uint32_t count, const float* values)
{
    if (domain == nullptr)
        return unit_domain_check_t::accepted;
    const uint32_t expected = uint32_t(unit_domain_kind_t::float1) + count - 1;
    if (uint32_t(kind_of(domain)) != expected)
        return unit_domain_check_t::wrong_check;
    switch (count)
    {
    case 1:
    {
        const auto* range = static_cast<const unit_float_domain_t<1>*>(domain);
        return check_range(range->minimum, range->maximum, 1, values);
    }
    case 2:
    {
        const auto* range = static_cast<const unit_float_domain_t<2>*>(domain);
        return check_range(range->minimum, range->maximum, 2, values);
    }
    case 3:
    {
        const auto* range = static_cast<const unit_float_domain_t<3>*>(domain);
        return check_range(range->minimum, range->maximum, 3, values);
    }
    default:
    {
        const auto* range = static_cast<const unit_float_domain_t<4>*>(domain);
        return check_range(range->minimum, range->maximum, 4, values);
    }
    }
}

unit_domain_check_t unit_check_fixeds(const void* domain, uint32_t count, const fixed_t* values)
{
    if (domain == nullptr)
        return unit_domain_check_t::accepted;
    const uint32_t expected = uint32_t(unit_domain_kind_t::fixed1) + count - 1;
    if (uint32_t(kind_of(domain)) != expected)
        return unit_domain_check_t::wrong_check;
    switch (count)
    {
    case 1:
    {
        const auto* range = static_cast<const unit_fixed_domain_t<1>*>(domain);
        return check_range(range->minimum, range->maximum, 1, values);
    }
    case 2:
    {
        const auto* range = static_cast<const unit_fixed_domain_t<2>*>(domain);
        return check_range(range->minimum, range->maximum, 2, values);
    }
    case 3:
    {
        const auto* range = static_cast<const unit_fixed_domain_t<3>*>(domain);
        return check_range(range->minimum, range->maximum, 3, values);
    }
    default:
    {
        const auto* range = static_cast<const unit_fixed_domain_t<4>*>(domain);
        return check_range(range->minimum, range->maximum, 4, values);
    }
    }
}

unit_domain_check_t unit_check_signed(const void* domain, unit_attr_type_t element, int64_t value)
{
#define OV_CHECK_SIGNED(name, text_code, binary_code, element_name, stored, field, kind)       \
    case unit_attr_type_t::name:                                                               \
        return check_row_integer<unit_attr_kind_t::kind, unit_attr_kind_t::signed_int, stored>( \
            domain, value);

    switch (element)
    {
        OV_UNIT_ATTR_TYPES(OV_CHECK_SIGNED)
    default:
        break;
    }
#undef OV_CHECK_SIGNED
    return unit_domain_check_t::wrong_check;
}

unit_domain_check_t unit_check_unsigned(const void* domain, unit_attr_type_t element,
                                        uint64_t value)
{
#define OV_CHECK_UNSIGNED(name, text_code, binary_code, element_name, stored, field, kind)     \
    case unit_attr_type_t::name:                                                               \
        return check_row_integer<unit_attr_kind_t::kind, unit_attr_kind_t::unsigned_int,       \
                                 stored>(domain, value);

    switch (element)
    {
        OV_UNIT_ATTR_TYPES(OV_CHECK_UNSIGNED)
    default:
        break;
    }
#undef OV_CHECK_UNSIGNED
    return unit_domain_check_t::wrong_check;
}

unit_domain_check_t unit_check_enum_value(const void* domain, int32_t value)
{
    if (domain == nullptr)
        return unit_domain_check_t::accepted;
    if (kind_of(domain) != unit_domain_kind_t::enumeration)
        return unit_domain_check_t::wrong_check;
    const auto* table = static_cast<const unit_enum_domain_t*>(domain);
    for (uint32_t i = 0; i < table->count; ++i)
        if (table->values[i].value == value && table->values[i].name != nullptr)
            return unit_domain_check_t::accepted;
    return unit_domain_check_t::not_enum_value;
}

bool unit_find_enum_name(const void* domain, const char* name, int32_t* value)
{
    if (domain == nullptr || kind_of(domain) != unit_domain_kind_t::enumeration)
        return false;
    const auto* table = static_cast<const unit_enum_domain_t*>(domain);
    for (uint32_t i = 0; i < table->count; ++i)
    {
        if (table->values[i].name != nullptr && std::strcmp(table->values[i].name, name) == 0)
        {
            *value = table->values[i].value;
            return true;
        }
    }
    return false;
}

unit_domain_check_t unit_check_unit(const void* domain, unit_attr_type_t element,
                                    const unit_t* unit)
{
    if (domain == nullptr)
        return unit_domain_check_t::accepted;
    const unit_descriptor_t* required = nullptr;
    if (element == unit_attr_type_t::owner_ptr)
    {
        if (kind_of(domain) != unit_domain_kind_t::owner)
            return unit_domain_check_t::wrong_check;
        const auto* owner = static_cast<const unit_owner_domain_t*>(domain);
        if (unit == nullptr && owner->forbid_null)
            return unit_domain_check_t::null_not_allowed;
        required = owner->required;
    }
    else
    {
        if (kind_of(domain) != unit_domain_kind_t::link)
            return unit_domain_check_t::wrong_check;
        required = static_cast<const unit_link_domain_t*>(domain)->required;
    }
    if (unit == nullptr || required == nullptr)
        return unit_domain_check_t::accepted;
    return unit_descriptor_is_a(unit->get_descriptor(), required)
               ? unit_domain_check_t::accepted
               : unit_domain_check_t::wrong_unit_type;
}

unit_domain_check_t unit_check_unrestricted(const void* domain)
{
    return domain == nullptr ? unit_domain_check_t::accepted : unit_domain_check_t::wrong_check;
}
