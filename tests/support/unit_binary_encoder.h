// Test-side encoder of binary unit files: builds them from a description of classes and units.
//
// The system only reads the binary form; tests describe the classes (ids, type names, attribute
// definitions with their binary type codes and enum tables) and the units (class, name, one
// encoded value per attribute definition) and get the file's bytes. Values are built by the
// binary_value helpers below, which encode elements exactly as the file stores them; nothing is
// checked, so malformed files are as easy to make as good ones.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using binary_bytes_t = std::vector<uint8_t>;

// Little-endian primitive writers, appending to `out`.
void put_u8(binary_bytes_t* out, uint8_t value);
void put_u16(binary_bytes_t* out, uint16_t value);
void put_u32(binary_bytes_t* out, uint32_t value);
void put_u64(binary_bytes_t* out, uint64_t value);
void put_f32(binary_bytes_t* out, float value);
// 32-bit length, then the bytes.
void put_string(binary_bytes_t* out, const std::string& text);

// The 64-bit token of 1 to 12 characters of [0-9a-zA-Z_], character i weighing 38^i.
uint64_t encode_token(const std::string& text);

// The name of a unit record or reference.
struct binary_name_t
{
    enum class kind_t
    {
        none,    // count 0
        global,  // count n, n tokens
        local,   // count 255, one 64-bit value
    };
    kind_t kind = kind_t::none;
    std::vector<uint64_t> tokens;  // global
    uint64_t local = 0;            // local

    // "a.b.c" split at dots, each component a token.
    static binary_name_t global_name(const std::string& dotted);
    static binary_name_t local_name(uint64_t value);
    static binary_name_t no_name() { return {}; }
};
void put_name(binary_bytes_t* out, const binary_name_t& name);

struct binary_enum_item_t
{
    int32_t value;
    std::string name;
};

struct binary_attribute_layout_t
{
    uint32_t type;  // binary type code; 55 and 56 carry the enum table
    std::string name;
    std::vector<binary_enum_item_t> enum_table;
};

struct binary_class_layout_t
{
    uint32_t id;
    std::string type_name;
    std::vector<binary_attribute_layout_t> attributes;
};

// One attribute value as stored: a scalar's element, or an array's count and elements.
struct binary_value_t
{
    binary_bytes_t bytes;
};

struct binary_unit_layout_t
{
    uint32_t class_id;
    binary_name_t name;
    std::vector<binary_value_t> values;  // one per attribute definition, in definition order
};

// A whole file: header, then for every item a class definition or a unit record, in order,
// then the end record unless `end_record` is false.
struct binary_file_layout_t
{
    struct item_t
    {
        bool is_class;
        binary_class_layout_t class_layout;
        binary_unit_layout_t unit_layout;
    };

    uint32_t version = 2;
    std::vector<item_t> items;
    bool end_record = true;

    binary_file_layout_t& add(const binary_class_layout_t& layout);
    binary_file_layout_t& add(const binary_unit_layout_t& layout);
    binary_bytes_t encode() const;
};

void put_class_definition(binary_bytes_t* out, const binary_class_layout_t& layout);
void put_unit_record(binary_bytes_t* out, const binary_unit_layout_t& layout);

// Wraps a file in the scrambled container with the seed (the inverse of the loader's
// unscrambling).
binary_bytes_t scramble_unit_file(const binary_bytes_t& plain, uint8_t seed);

// Element and value builders. Scalars give one element; array() prefixes the count.
namespace binary_value
{
binary_value_t array(const std::vector<binary_value_t>& elements);
binary_value_t raw(const binary_bytes_t& bytes);

binary_value_t string(const std::string& text);
binary_value_t token(const std::string& text);
binary_value_t f32(float value);
binary_value_t floats(const std::vector<float>& components);  // vectors, matrices, compounds
binary_value_t fixed(int32_t raw);
binary_value_t fixeds(const std::vector<int32_t>& raws);
binary_value_t s16(int16_t value);
binary_value_t u16(uint16_t value);
binary_value_t s32(int32_t value);
binary_value_t u32(uint32_t value);
binary_value_t s64(int64_t value);
binary_value_t u64(uint64_t value);
binary_value_t boolean(bool value);
binary_value_t enumeration(int32_t value);
binary_value_t int2(int32_t x, int32_t y);
binary_value_t name(const binary_name_t& name);  // owner and link pointers
binary_value_t tie(const std::string& text);    // resource ties

// A position: three floats in version 1; in version 2 a fourth carrying the sector offset,
// sector coordinates (sx, sy) stored as (sx + 2048) + (sy + 2048) * 4096.
binary_value_t position(uint32_t version, float x, float y, float z, int32_t sector_x = 0,
                        int32_t sector_y = 0);
// Concatenates elements into one (a placement is a position followed by a quaternion).
binary_value_t join(const std::vector<binary_value_t>& parts);
}  // namespace binary_value
