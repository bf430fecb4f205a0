// The configuration unit types and load_configuration.
#include "tools/font_generator/configuration.h"

#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_system.h"

#include <new>

// ---------------------------------------------------------------------------------------------
// char_set_config

namespace
{

// No attribute has a domain: the loader checks only what the value types themselves allow.
const unit_attribute_t char_set_config_attributes[] = {
    OV_UNIT_ATTRIBUTE(char_set_config_u, font_file, string, nullptr, "font_file"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, character_set_file, string, nullptr,
                      "character_set_file"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, width, u32, nullptr, "width"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, height, u32, nullptr, "height"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, scale_width, float1, nullptr, "scale_width"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, scale_height, float1, nullptr, "scale_height"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, antialias, boolean, nullptr, "antialias"),
    OV_UNIT_ATTRIBUTE(char_set_config_u, outline_width, u32, nullptr, "outline_width"),
    OV_UNIT_ATTRIBUTES_END,
};

const unit_attribute_t configuration_attributes[] = {
    OV_UNIT_ATTRIBUTE(configuration_u, base, string, nullptr, "base"),
    OV_UNIT_ATTRIBUTE(configuration_u, output, string, nullptr, "output"),
    OV_UNIT_ATTRIBUTE(configuration_u, line_spacing, s32, nullptr, "line_spacing"),
    OV_UNIT_ATTRIBUTE(configuration_u, vertical_span_bias, s32, nullptr, "vertical_span_bias"),
    OV_UNIT_ATTRIBUTE(configuration_u, font_style, u32, nullptr, "font_style"),
    OV_UNIT_ATTRIBUTE(configuration_u, gradient_color_start, s32, nullptr,
                      "gradient_color_start"),
    OV_UNIT_ATTRIBUTE(configuration_u, gradient_color_step, s32, nullptr, "gradient_color_step"),
    OV_UNIT_ATTRIBUTE(configuration_u, gradient_start_offset, s32, nullptr,
                      "gradient_start_offset"),
    OV_UNIT_ATTRIBUTE(configuration_u, default_scale, float1, nullptr, "default_scale"),
    OV_UNIT_ATTRIBUTE(configuration_u, char_config, owner_ptr_array, nullptr, "char_config"),
    OV_UNIT_ATTRIBUTES_END,
};

}  // namespace

const unit_descriptor_t char_set_config_u::descriptor = {
    "char_set_config", char_set_config_u::create, unit_destroy, &unit_t::descriptor,
    char_set_config_attributes, compute_type_name_hash("char_set_config_u"), 0xFFFFFFFFu,
};

char_set_config_u::char_set_config_u(unit_system_t* system) : unit_t(system) {}

unit_t* char_set_config_u::create(unit_system_t* system)
{
    return new (std::nothrow) char_set_config_u(system);
}

char_set_config_u::~char_set_config_u() = default;

// The base releases the values of every table of the type chain, this type's included.
void char_set_config_u::on_release()
{
    unit_t::on_release();
}

// The base creates the copy through this type's descriptor and copies every attribute.
owner_ptr_t<unit_t> char_set_config_u::clone() const
{
    return unit_t::clone();
}

const unit_descriptor_t* char_set_config_u::get_descriptor() const
{
    return &descriptor;
}

// ---------------------------------------------------------------------------------------------
// configuration

const unit_descriptor_t configuration_u::descriptor = {
    "configuration", configuration_u::create, unit_destroy, &unit_t::descriptor,
    configuration_attributes, compute_type_name_hash("configuration_u"), 0xFFFFFFFFu,
};

configuration_u::configuration_u(unit_system_t* system) : unit_t(system) {}

unit_t* configuration_u::create(unit_system_t* system)
{
    return new (std::nothrow) configuration_u(system);
}

configuration_u::~configuration_u() = default;

void configuration_u::on_release()
{
    unit_t::on_release();
}

owner_ptr_t<unit_t> configuration_u::clone() const
{
    return unit_t::clone();
}

const unit_descriptor_t* configuration_u::get_descriptor() const
{
    return &descriptor;
}

char_set_config_u* configuration_u::char_set(uint32_t k) const
{
    return unit_cast<char_set_config_u>(char_config[k].get());
}
