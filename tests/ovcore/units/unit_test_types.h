// Unit types for the loader's tests, fuzz target and benchmark: the configuration shapes of the
// unit text format's example, a type with an attribute of every type, a type with domains, and
// a type whose post-load hook can fail.
#pragma once

#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_domain.h"
#include "ovcore/units/unit_system.h"
#include "tests/ovcore/units/unit_every_scalar_type.h"

#include <new>

namespace unit_test_types
{

// ---- the example's shapes ----------------------------------------------------------------

class configuration_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit configuration_u(unit_system_t* system) : unit_t(system) {}
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) configuration_u(system); }
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }

    string_dyn_t base{ "base" };
    array_dyn_t<owner_ptr_t<unit_t>> char_config;
};

class char_set_config_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit char_set_config_u(unit_system_t* system) : unit_t(system) {}
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) char_set_config_u(system); }
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }

    uint32_t width = 12;
    bool antialias = false;
    link_ptr_t<unit_t> sibling;
};

inline const unit_attribute_t configuration_attributes[] = {
    OV_UNIT_ATTRIBUTE(configuration_u, base, string, nullptr, "base"),
    OV_UNIT_ATTRIBUTE(configuration_u, char_config, owner_ptr_array, nullptr, "char_config"),
    OV_UNIT_ATTRIBUTES_END,
};
inline const unit_descriptor_t configuration_u::descriptor = {
    "configuration", configuration_u::create, unit_destroy, &unit_t::descriptor,
    configuration_attributes, compute_type_name_hash("configuration_u"), 0xFFFFFFFFu,
};

inline const unit_attribute_t char_set_config_attributes[] = {
    OV_UNIT_ATTRIBUTE(char_set_config_u, width, u32, nullptr, "width"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, antialias, boolean, nullptr, "antialias"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, sibling, link_ptr, nullptr, "sibling"),
    OV_UNIT_ATTRIBUTES_END,
};
inline const unit_descriptor_t char_set_config_u::descriptor = {
    "char_set_config", char_set_config_u::create, unit_destroy, &unit_t::descriptor,
    char_set_config_attributes, compute_type_name_hash("char_set_config_u"), 0xFFFFFFFFu,
};

// ---- every attribute type ----------------------------------------------------------------

// One scalar attribute named after each type code, and its array named with "_array". Refuses
// unknown attributes.
class every_type_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit every_type_u(unit_system_t* system) : unit_t(system) {}
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) every_type_u(system); }
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    bool accepts_unknown_attributes() const override { return false; }

#define OV_EVERY_TYPE_MEMBER(code, ...)                                                        \
    unit_attr_storage_t<unit_attr_type_t::code> code{};                                        \
    unit_attr_storage_t<unit_attr_type_t::code##_array> code##_array;
    OV_EVERY_SCALAR_TYPE(OV_EVERY_TYPE_MEMBER)
#undef OV_EVERY_TYPE_MEMBER
};

inline const unit_enum_value_t every_type_colours[] = {
    { 1, "red" },
    { 2, "green" },
    { 7, "blue" },
};
inline const unit_enum_domain_t every_type_colour_domain = { .count = 3,
                                                             .values = every_type_colours };

inline const unit_attribute_t every_type_attributes[] = {
#define OV_EVERY_TYPE_ROW(code, ...)                                                           \
    OV_UNIT_ATTRIBUTE(every_type_u, code, code,                                                \
                      unit_attr_type_t::code == unit_attr_type_t::enumeration                  \
                          ? &every_type_colour_domain                                          \
                          : nullptr,                                                           \
                      #code),                                                                  \
        OV_UNIT_ATTRIBUTE(every_type_u, code##_array, code##_array,                            \
                          unit_attr_type_t::code == unit_attr_type_t::enumeration              \
                              ? &every_type_colour_domain                                      \
                              : nullptr,                                                       \
                          #code "_array"),
    OV_EVERY_SCALAR_TYPE(OV_EVERY_TYPE_ROW)
#undef OV_EVERY_TYPE_ROW
    OV_UNIT_ATTRIBUTES_END,
};
inline const unit_descriptor_t every_type_u::descriptor = {
    "every_type", every_type_u::create, unit_destroy, &unit_t::descriptor, every_type_attributes,
    compute_type_name_hash("every_type_u"), 0xFFFFFFFFu,
};

// ---- domains -----------------------------------------------------------------------------

class ranged_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit ranged_u(unit_system_t* system) : unit_t(system) {}
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) ranged_u(system); }
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    bool accepts_unknown_attributes() const override { return false; }

    uint32_t count = 5;
    int16_t offset = 0;
    int32_t colour = 1;
    array_dyn_t<int32_t> colours;
    owner_ptr_t<unit_t> child;
    link_ptr_t<unit_t> peer;
    string_dyn_t label;
    float ratio = 0.0f;
    float2_t size;
    fixed_t weight = 0;
    fixed2_t weights;
    quaternion_t rotation;
    bool flag = false;
    placement_t where;
};

inline const unit_u32_domain_t ranged_count_domain = { .minimum = 0, .maximum = 100 };
inline const unit_s16_domain_t ranged_offset_domain = { .minimum = -10, .maximum = 10 };
inline const unit_enum_value_t ranged_colours[] = {
    { 1, "red" },
    { 2, "green" },
    { 3, nullptr },
};
inline const unit_enum_domain_t ranged_colour_domain = { .count = 3, .values = ranged_colours };
inline const unit_owner_domain_t ranged_child_domain = {
    .required = &char_set_config_u::descriptor, .forbid_null = true
};
inline const unit_link_domain_t ranged_peer_domain = { .required = &char_set_config_u::descriptor };
inline const unit_string_domain_t ranged_label_domain = { .max_length = 4 };
inline const unit_float_domain_t<1> ranged_ratio_domain = { .minimum = { 0.0f },
                                                            .maximum = { 1.0f } };
inline const unit_float_domain_t<2> ranged_size_domain = { .minimum = { 0.0f, 0.0f },
                                                           .maximum = { 10.0f, 10.0f } };
inline const unit_fixed_domain_t<1> ranged_weight_domain = { .minimum = { 0 },
                                                             .maximum = { 256 } };
inline const unit_fixed_domain_t<2> ranged_weights_domain = { .minimum = { 0, 0 },
                                                              .maximum = { 256, 256 } };
inline const unit_u32_domain_t ranged_old_domain = { .minimum = 0, .maximum = 10 };

inline const unit_attribute_t ranged_attributes[] = {
    OV_UNIT_ATTRIBUTE(ranged_u, count, u32, &ranged_count_domain, "count"),
    OV_UNIT_ATTRIBUTE(ranged_u, offset, s16, &ranged_offset_domain, "offset"),
    OV_UNIT_ATTRIBUTE(ranged_u, colour, enumeration, &ranged_colour_domain, "colour"),
    OV_UNIT_ATTRIBUTE(ranged_u, colours, enumeration_array, &ranged_colour_domain, "colours"),
    OV_UNIT_ATTRIBUTE(ranged_u, child, owner_ptr, &ranged_child_domain, "child"),
    OV_UNIT_ATTRIBUTE(ranged_u, peer, link_ptr, &ranged_peer_domain, "peer"),
    OV_UNIT_ATTRIBUTE(ranged_u, label, string, &ranged_label_domain, "label"),
    OV_UNIT_ATTRIBUTE(ranged_u, ratio, float1, &ranged_ratio_domain, "ratio"),
    OV_UNIT_ATTRIBUTE(ranged_u, size, float2, &ranged_size_domain, "size"),
    OV_UNIT_ATTRIBUTE(ranged_u, weight, fixed1, &ranged_weight_domain, "weight"),
    OV_UNIT_ATTRIBUTE(ranged_u, weights, fixed2, &ranged_weights_domain, "weights"),
    // A record that does not suit the type is refused, not misread.
    OV_UNIT_ATTRIBUTE(ranged_u, rotation, quaternion, &ranged_ratio_domain, "rotation"),
    OV_UNIT_ATTRIBUTE(ranged_u, flag, boolean, &ranged_count_domain, "flag"),
    OV_UNIT_ATTRIBUTE(ranged_u, where, placement, &ranged_count_domain, "where"),
    { &ranged_u::descriptor, unit_attribute_obsolete_offset, unit_attr_type_t::u32,
      &ranged_old_domain, "old" },
    { &ranged_u::descriptor, unit_attribute_obsolete_offset, unit_attr_type_t::s32_array, nullptr,
      "old_list" },
    OV_UNIT_ATTRIBUTES_END,
};
inline const unit_descriptor_t ranged_u::descriptor = {
    "ranged", ranged_u::create, unit_destroy, &unit_t::descriptor, ranged_attributes,
    compute_type_name_hash("ranged_u"), 0xFFFFFFFFu,
};

// ---- post-load hooks ---------------------------------------------------------------------

// Its post-load hook fails when `fail` is set.
class hooked_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit hooked_u(unit_system_t* system) : unit_t(system) {}
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) hooked_u(system); }
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    bool post_load_hook() override { return !fail; }

    bool fail = false;
};

inline const unit_attribute_t hooked_attributes[] = {
    OV_UNIT_ATTRIBUTE(hooked_u, fail, boolean, nullptr, "fail"),
    OV_UNIT_ATTRIBUTES_END,
};
inline const unit_descriptor_t hooked_u::descriptor = {
    "hooked", hooked_u::create, unit_destroy, &unit_t::descriptor, hooked_attributes,
    compute_type_name_hash("hooked_u"), 0xFFFFFFFFu,
};

// An abstract type: no create function.
inline const unit_descriptor_t abstract_descriptor = {
    "abstract", nullptr, unit_destroy, &unit_t::descriptor, hooked_attributes + 1,
    compute_type_name_hash("abstract_u"), 0xFFFFFFFFu,
};

// Registers every test type in the bank.
inline bool register_all(unit_bank_t* bank)
{
    return bank->register_type(&configuration_u::descriptor) &&
           bank->register_type(&char_set_config_u::descriptor) &&
           bank->register_type(&every_type_u::descriptor) &&
           bank->register_type(&ranged_u::descriptor) &&
           bank->register_type(&hooked_u::descriptor) &&
           bank->register_type(&abstract_descriptor);
}

}  // namespace unit_test_types
