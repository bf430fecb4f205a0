// Test-side encoder of binary unit files.
#include "tests/support/unit_binary_encoder.h"

#include <cstring>

void put_u8(binary_bytes_t* out, uint8_t value)
{
    out->push_back(value);
}

void put_u16(binary_bytes_t* out, uint16_t value)
{
    put_u8(out, uint8_t(value));
    put_u8(out, uint8_t(value >> 8));
}

void put_u32(binary_bytes_t* out, uint32_t value)
{
    put_u16(out, uint16_t(value));
    put_u16(out, uint16_t(value >> 16));
}

void put_u64(binary_bytes_t* out, uint64_t value)
{
    put_u32(out, uint32_t(value));
    put_u32(out, uint32_t(value >> 32));
}

void put_f32(binary_bytes_t* out, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    put_u32(out, bits);
}

void put_string(binary_bytes_t* out, const std::string& text)
{
    put_u32(out, uint32_t(text.size()));
    out->insert(out->end(), text.begin(), text.end());
}

uint64_t encode_token(const std::string& text)
{
    uint64_t token = 0;
    uint64_t weight = 1;
    for (char c : text)
    {
        uint64_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = uint64_t(c - '0') + 1;
        else if (c >= 'a' && c <= 'z')
            digit = uint64_t(c - 'a') + 11;
        else if (c >= 'A' && c <= 'Z')
            digit = uint64_t(c - 'A') + 11;
        else if (c == '_')
            digit = 37;
        token += digit * weight;
        weight *= 38;
    }
    return token;
}

binary_name_t binary_name_t::global_name(const std::string& dotted)
{
    binary_name_t name;
    name.kind = kind_t::global;
    size_t start = 0;
    for (;;)
    {
        const size_t dot = dotted.find('.', start);
        name.tokens.push_back(encode_token(dotted.substr(start, dot - start)));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return name;
}

binary_name_t binary_name_t::local_name(uint64_t value)
{
    binary_name_t name;
    name.kind = kind_t::local;
    name.local = value;
    return name;
}

void put_name(binary_bytes_t* out, const binary_name_t& name)
{
    switch (name.kind)
    {
    case binary_name_t::kind_t::none:
        put_u8(out, 0);
        break;
    case binary_name_t::kind_t::global:
        put_u8(out, uint8_t(name.tokens.size()));
        for (uint64_t token : name.tokens)
            put_u64(out, token);
        break;
    case binary_name_t::kind_t::local:
        put_u8(out, 255);
        put_u64(out, name.local);
        break;
    }
}

void put_class_definition(binary_bytes_t* out, const binary_class_layout_t& layout)
{
    put_u32(out, 0);
    put_u8(out, 1);
    put_u32(out, layout.id);
    put_string(out, layout.type_name);
    for (const binary_attribute_layout_t& attribute : layout.attributes)
    {
        put_u32(out, attribute.type);
        put_string(out, attribute.name);
        if (attribute.type == 55 || attribute.type == 56)
        {
            put_u32(out, uint32_t(attribute.enum_table.size()));
            for (const binary_enum_item_t& item : attribute.enum_table)
            {
                put_u32(out, uint32_t(item.value));
                put_string(out, item.name);
            }
        }
    }
    put_u32(out, 0);
}

void put_unit_record(binary_bytes_t* out, const binary_unit_layout_t& layout)
{
    put_u32(out, layout.class_id);
    put_name(out, layout.name);
    for (const binary_value_t& value : layout.values)
        out->insert(out->end(), value.bytes.begin(), value.bytes.end());
}

binary_file_layout_t& binary_file_layout_t::add(const binary_class_layout_t& layout)
{
    items.push_back({ true, layout, {} });
    return *this;
}

binary_file_layout_t& binary_file_layout_t::add(const binary_unit_layout_t& layout)
{
    items.push_back({ false, {}, layout });
    return *this;
}

binary_bytes_t binary_file_layout_t::encode() const
{
    binary_bytes_t out = { 'B', 'Q', 'S', 'D' };
    put_u32(&out, version);
    for (const item_t& item : items)
    {
        if (item.is_class)
            put_class_definition(&out, item.class_layout);
        else
            put_unit_record(&out, item.unit_layout);
    }
    if (end_record)
    {
        put_u32(&out, 0);
        put_u8(&out, 0);
    }
    return out;
}

binary_bytes_t scramble_unit_file(const binary_bytes_t& plain, uint8_t seed)
{
    binary_bytes_t out = { 0x33, 0x6E, 0x4B, 0x01, 0x00, seed };
    for (size_t i = 0; i < plain.size(); ++i)
    {
        // The mask depends only on the position, so scrambling and unscrambling are the same.
        const uint8_t k = uint8_t((i + seed) & 0xFF);
        uint8_t t = uint8_t((k << 2) ^ uint8_t(~k));
        t = uint8_t(t << 3);
        out.push_back(uint8_t(t ^ plain[i] ^ k));
    }
    return out;
}

namespace binary_value
{
binary_value_t array(const std::vector<binary_value_t>& elements)
{
    binary_value_t value;
    put_u32(&value.bytes, uint32_t(elements.size()));
    for (const binary_value_t& element : elements)
        value.bytes.insert(value.bytes.end(), element.bytes.begin(), element.bytes.end());
    return value;
}

binary_value_t raw(const binary_bytes_t& bytes)
{
    return { bytes };
}

binary_value_t string(const std::string& text)
{
    binary_value_t value;
    put_string(&value.bytes, text);
    return value;
}

binary_value_t token(const std::string& text)
{
    binary_value_t value;
    put_u64(&value.bytes, encode_token(text));
    return value;
}

binary_value_t f32(float component)
{
    binary_value_t value;
    put_f32(&value.bytes, component);
    return value;
}

binary_value_t floats(const std::vector<float>& components)
{
    binary_value_t value;
    for (float component : components)
        put_f32(&value.bytes, component);
    return value;
}

binary_value_t fixed(int32_t raw_value)
{
    return s32(raw_value);
}

binary_value_t fixeds(const std::vector<int32_t>& raws)
{
    binary_value_t value;
    for (int32_t component : raws)
        put_u32(&value.bytes, uint32_t(component));
    return value;
}

binary_value_t s16(int16_t number)
{
    binary_value_t value;
    put_u16(&value.bytes, uint16_t(number));
    return value;
}

binary_value_t u16(uint16_t number)
{
    binary_value_t value;
    put_u16(&value.bytes, number);
    return value;
}

binary_value_t s32(int32_t number)
{
    binary_value_t value;
    put_u32(&value.bytes, uint32_t(number));
    return value;
}

binary_value_t u32(uint32_t number)
{
    binary_value_t value;
    put_u32(&value.bytes, number);
    return value;
}

binary_value_t s64(int64_t number)
{
    binary_value_t value;
    put_u64(&value.bytes, uint64_t(number));
    return value;
}

binary_value_t u64(uint64_t number)
{
    binary_value_t value;
    put_u64(&value.bytes, number);
    return value;
}

binary_value_t boolean(bool flag)
{
    binary_value_t value;
    put_u8(&value.bytes, flag ? 1 : 0);
    return value;
}

binary_value_t enumeration(int32_t number)
{
    return s32(number);
}

binary_value_t int2(int32_t x, int32_t y)
{
    return fixeds({ x, y });
}

binary_value_t name(const binary_name_t& unit_name)
{
    binary_value_t value;
    put_name(&value.bytes, unit_name);
    return value;
}

binary_value_t tie(const std::string& text)
{
    return string(text);
}

binary_value_t position(uint32_t version, float x, float y, float z, int32_t sector_x,
                        int32_t sector_y)
{
    if (version < 2)
        return floats({ x, y, z });
    const int64_t offset = int64_t(sector_x + 2048) + int64_t(sector_y + 2048) * 4096;
    return floats({ x, y, z, float(offset) });
}

binary_value_t join(const std::vector<binary_value_t>& parts)
{
    binary_value_t value;
    for (const binary_value_t& part : parts)
        value.bytes.insert(value.bytes.end(), part.bytes.begin(), part.bytes.end());
    return value;
}
}  // namespace binary_value
