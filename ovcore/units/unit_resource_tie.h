// The interface through which resource-tie attributes (65, 66) hold units that live in a
// resource manager, and the default tie that supports none of it.
//
// A scalar tie attribute stores a unit_t*, an array one an array_dyn_t<unit_t*>; what those
// pointers mean is the tie's business. Core start-up installs the default tie, core shut-down
// destroys it.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "ovcore/units/unit_structs.h"

#include <cstddef>

class unit_resource_tie_t
{
public:
    virtual ~unit_resource_tie_t() = default;

    // Every operation returns false after its own message when it cannot do its work.
    [[nodiscard]] virtual bool get_resource_name(const unit_t* resource, string_t* name) = 0;
    [[nodiscard]] virtual bool is_resource_unit(const unit_t* unit) = 0;
    [[nodiscard]] virtual bool destroy_scalar(unit_t* unit, const unit_attribute_t* attribute) = 0;
    [[nodiscard]] virtual bool destroy_array(unit_t* unit, const unit_attribute_t* attribute) = 0;
    [[nodiscard]] virtual bool clone_scalar(const unit_t* source, unit_t* target,
                                            const unit_attribute_t* attribute) = 0;
    [[nodiscard]] virtual bool clone_array(const unit_t* source, unit_t* target,
                                           const unit_attribute_t* attribute) = 0;
    // The resource named `name`, for the attribute of `unit`.
    [[nodiscard]] virtual bool obtain_resource(const char* name, unit_t* unit,
                                               const unit_attribute_t* attribute,
                                               unit_t** resource) = 0;
    [[nodiscard]] virtual bool reclaim_resource(unit_t* resource, unit_t* unit,
                                                const unit_attribute_t* attribute) = 0;
    [[nodiscard]] virtual bool remove_value(unit_t* unit, const unit_attribute_t* attribute,
                                            size_t index) = 0;
    [[nodiscard]] virtual bool get_size(const unit_t* unit, const unit_attribute_t* attribute,
                                        size_t* size) = 0;
    [[nodiscard]] virtual bool request_capacity(unit_t* unit, const unit_attribute_t* attribute,
                                                size_t capacity) = 0;
    [[nodiscard]] virtual bool get_value_scalar(const unit_t* unit,
                                                const unit_attribute_t* attribute,
                                                unit_t** value) = 0;
    [[nodiscard]] virtual bool get_value_element(const unit_t* unit,
                                                 const unit_attribute_t* attribute, size_t index,
                                                 unit_t** value) = 0;
    [[nodiscard]] virtual bool get_value_array(const unit_t* unit,
                                               const unit_attribute_t* attribute,
                                               array_t<unit_t*>* values) = 0;
    [[nodiscard]] virtual bool set_value_scalar(unit_t* unit, const unit_attribute_t* attribute,
                                                unit_t* value) = 0;
    [[nodiscard]] virtual bool set_value_element(unit_t* unit, const unit_attribute_t* attribute,
                                                 size_t index, unit_t* value) = 0;
    [[nodiscard]] virtual bool append_value(unit_t* unit, const unit_attribute_t* attribute,
                                            unit_t* value) = 0;
    [[nodiscard]] virtual bool prepend_value(unit_t* unit, const unit_attribute_t* attribute,
                                             unit_t* value) = 0;
};

// Reports an error for every operation and fails.
class unit_default_resource_tie_t final : public unit_resource_tie_t
{
public:
    bool get_resource_name(const unit_t* resource, string_t* name) override;
    bool is_resource_unit(const unit_t* unit) override;
    bool destroy_scalar(unit_t* unit, const unit_attribute_t* attribute) override;
    bool destroy_array(unit_t* unit, const unit_attribute_t* attribute) override;
    bool clone_scalar(const unit_t* source, unit_t* target,
                      const unit_attribute_t* attribute) override;
    bool clone_array(const unit_t* source, unit_t* target,
                     const unit_attribute_t* attribute) override;
    bool obtain_resource(const char* name, unit_t* unit, const unit_attribute_t* attribute,
                         unit_t** resource) override;
    bool reclaim_resource(unit_t* resource, unit_t* unit,
                          const unit_attribute_t* attribute) override;
    bool remove_value(unit_t* unit, const unit_attribute_t* attribute, size_t index) override;
    bool get_size(const unit_t* unit, const unit_attribute_t* attribute, size_t* size) override;
    bool request_capacity(unit_t* unit, const unit_attribute_t* attribute,
                          size_t capacity) override;
    bool get_value_scalar(const unit_t* unit, const unit_attribute_t* attribute,
                          unit_t** value) override;
    bool get_value_element(const unit_t* unit, const unit_attribute_t* attribute, size_t index,
                           unit_t** value) override;
    bool get_value_array(const unit_t* unit, const unit_attribute_t* attribute,
                         array_t<unit_t*>* values) override;
    bool set_value_scalar(unit_t* unit, const unit_attribute_t* attribute,
                          unit_t* value) override;
    bool set_value_element(unit_t* unit, const unit_attribute_t* attribute, size_t index,
                           unit_t* value) override;
    bool append_value(unit_t* unit, const unit_attribute_t* attribute, unit_t* value) override;
    bool prepend_value(unit_t* unit, const unit_attribute_t* attribute, unit_t* value) override;
};

// The installed tie; null before core start-up and after core shut-down. Tests may swap it.
extern unit_resource_tie_t* g_unit_resource_tie;

// Called by core start-up and shut-down only.
void install_default_resource_tie();
void destroy_resource_tie();
