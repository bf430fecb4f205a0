// What the readers of a unit file's two forms (the text parser and the binary reader) need from
// the load they fill: units created and named, values stored through the reader's own value
// reader, and the names and location that messages give.
#pragma once

#include <cstddef>
#include <cstdint>

class string_t;
class unit_t;
class unit_value_reader_t;
struct unit_attribute_t;

// The most elements an array length reserves room for at once; longer arrays still grow as
// their elements arrive.
constexpr uint32_t unit_load_capacity_request_limit = 65536;

class unit_reader_load_t
{
public:
    // Creates a unit of the type and gives it the name, as a unit header does. The load holds
    // the unit until it ends. Null after a message.
    [[nodiscard]] virtual unit_t* begin_unit(const char* type_name, const char* name) = 0;
    // Reads the value of one attribute of `unit` through `reader`, checks it and stores it, as
    // unit_load_attribute_value does. False after a message.
    [[nodiscard]] virtual bool load_attribute_value(unit_value_reader_t* reader, unit_t* unit,
                                                    const unit_attribute_t* attribute,
                                                    size_t index) = 0;
    // Writes the location header before an error about the text being read; nothing otherwise.
    virtual void report_location() const = 0;
    // How messages name the unit: the name the file gave it, or its nameless name.
    virtual void get_unit_display_name(const unit_t* unit, string_t* name) const = 0;

protected:
    ~unit_reader_load_t() = default;
};
