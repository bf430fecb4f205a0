// The binary unit format: type codes, class definitions and the primitive encodings.
#include "ovcore/units/unit_binary_format.h"

#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/units/unit_name.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Binary attribute types.

bool binary_attribute_type_is_valid(uint32_t code)
{
    return code >= 1 && code <= binary_unit_attr_type_last;
}

bool binary_attribute_type_is_array(binary_unit_attr_type_t type)
{
    const uint32_t code = uint32_t(type);
    if (!binary_attribute_type_is_valid(code))
        OV_FATAL("binary_attribute_type_is_array(): Unknown type.");
    return code % 2 == 0;
}

binary_unit_attr_type_t binary_attribute_type_element_type(binary_unit_attr_type_t type)
{
    const uint32_t code = uint32_t(type);
    if (!binary_attribute_type_is_valid(code))
        OV_FATAL("binary_attribute_type_element_type(): Unknown type.");
    if (code >= 59 && code <= 62)
        return binary_unit_attr_type_t::link_ptr;
    return binary_unit_attr_type_t(code % 2 == 0 ? code - 1 : code);
}

unit_attr_type_t binary_attribute_type_to_unit_type(binary_unit_attr_type_t type)
{
    const uint32_t code = uint32_t(type);
    if (!binary_attribute_type_is_valid(code))
        OV_FATAL("binary_attribute_type_to_unit_type(): Unknown type.");
    if (code <= 52)
        return unit_attr_type_t(code);
    if (code >= 65)
        return unit_attr_type_t(code - 12);  // int2 moves down to 53 and 54
    return unit_attr_type_t(code + 2);       // bool to resource tie move up by two
}

// ---------------------------------------------------------------------------------------------
// Class metadata.

const binary_enum_entry_t* binary_attribute_definition_t::find_enum_value(int32_t value) const
{
    // The table is sorted by value once it has been read.
    const binary_enum_entry_t* found =
        std::lower_bound(enum_table.begin(), enum_table.end(), value,
                         [](const binary_enum_entry_t& entry, int32_t wanted)
                         { return entry.value < wanted; });
    return found != enum_table.end() && found->value == value ? found : nullptr;
}

// ---------------------------------------------------------------------------------------------
// The stream reader.

unit_binary_stream_t::unit_binary_stream_t(file_t* stream)
    : m_stream(stream), m_size(stream->get_size())
{
}

uint64_t unit_binary_stream_t::remaining() const
{
    const uint64_t position = m_stream->get_position();
    return position < m_size ? m_size - position : 0;
}

bool unit_binary_stream_t::read_bytes(void* out, uint32_t size)
{
    if (size == 0)
        return true;
    if (!m_stream->read(out, size))
    {
        msg_error("[unit] Error while reading stream");
        return false;
    }
    return true;
}

bool unit_binary_stream_t::read_header()
{
    uint8_t header[8];
    if (!read_bytes(header, sizeof(header)))
        return false;
    m_version = uint32_t(header[4]) | uint32_t(header[5]) << 8 | uint32_t(header[6]) << 16 |
                uint32_t(header[7]) << 24;
    if (m_version == 0 || m_version > 2)
    {
        msg_error("[unit] Unsupported version %u of binary format", m_version);
        return false;
    }
    return true;
}

bool unit_binary_stream_t::read_u8(uint8_t* out)
{
    return read_bytes(out, 1);
}

bool unit_binary_stream_t::read_u16(uint16_t* out)
{
    uint8_t bytes[2];
    if (!read_bytes(bytes, sizeof(bytes)))
        return false;
    *out = uint16_t(bytes[0] | bytes[1] << 8);
    return true;
}

bool unit_binary_stream_t::read_u32(uint32_t* out)
{
    uint8_t bytes[4];
    if (!read_bytes(bytes, sizeof(bytes)))
        return false;
    *out = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
    return true;
}

bool unit_binary_stream_t::read_u64(uint64_t* out)
{
    uint32_t low = 0;
    uint32_t high = 0;
    if (!read_u32(&low) || !read_u32(&high))
        return false;
    *out = uint64_t(high) << 32 | low;
    return true;
}

bool unit_binary_stream_t::read_s16(int16_t* out)
{
    uint16_t value = 0;
    if (!read_u16(&value))
        return false;
    *out = int16_t(value);
    return true;
}

bool unit_binary_stream_t::read_s32(int32_t* out)
{
    uint32_t value = 0;
    if (!read_u32(&value))
        return false;
    *out = int32_t(value);
    return true;
}

bool unit_binary_stream_t::read_s64(int64_t* out)
{
    uint64_t value = 0;
    if (!read_u64(&value))
        return false;
    *out = int64_t(value);
    return true;
}

bool unit_binary_stream_t::read_bool(bool* out)
{
    uint8_t value = 0;
    if (!read_u8(&value))
        return false;
    *out = value != 0;
    return true;
}

bool unit_binary_stream_t::read_float(float* out)
{
    uint32_t bits = 0;
    if (!read_u32(&bits))
        return false;
    std::memcpy(out, &bits, sizeof(bits));
    return true;
}

bool unit_binary_stream_t::read_string(string_dyn_t* out)
{
    out->clear();
    uint32_t length = 0;
    if (!read_u32(&length))
        return false;
    // A length beyond the data cannot be read anyway; refuse it before allocating for it.
    if (length > remaining())
    {
        msg_error("[unit] Error while reading stream");
        return false;
    }
    if (uint64_t(out->reserve(length + 1)) < uint64_t(length) + 1)
    {
        msg_error("[unit] Error while extending string");
        return false;
    }
    char chunk[256];
    while (length > 0)
    {
        const uint32_t size = length < sizeof(chunk) ? length : uint32_t(sizeof(chunk));
        if (!read_bytes(chunk, size))
            return false;
        length -= size;
        // Zero bytes would end the text early; they are dropped.
        uint32_t start = 0;
        for (uint32_t i = 0; i <= size; ++i)
        {
            if (i < size && chunk[i] != 0)
                continue;
            if (i > start && !out->append(chunk + start, i - start))
            {
                msg_error("[unit] Error while extending string");
                return false;
            }
            start = i + 1;
        }
    }
    return true;
}

bool unit_binary_stream_t::read_token(token_t* out)
{
    return read_u64(out);
}

bool unit_binary_stream_t::read_unit_name(string_dyn_t* out)
{
    out->clear();
    uint8_t count = 0;
    if (!read_u8(&count))
        return false;
    if (count == 255)
    {
        uint64_t value = 0;
        if (!read_u64(&value))
            return false;
        // The leading dot makes it a file-local name.
        if (!out->format(".%02X.%02X.%04X.%08X", unsigned(value & 0xFF),
                         unsigned((value >> 8) & 0xFF), unsigned((value >> 16) & 0xFFFF),
                         unsigned(value >> 32)))
        {
            msg_error("[unit] Error while formating string");
            return false;
        }
        return true;
    }
    for (uint32_t i = 0; i < count; ++i)
    {
        token_t token = 0;
        if (!read_token(&token))
            return false;
        string_fixed_t<token_max_characters + 1> text;
        if (!token_to_text(token, &text))  // reports an undecodable token
            return false;
        if ((i > 0 && !out->append_char('.')) || !out->append(text))
        {
            msg_error("[unit] Error while formating string");
            return false;
        }
    }
    return true;
}

bool unit_binary_stream_t::read_float2(float2_t* out)
{
    return read_float(&out->x) && read_float(&out->y);
}

bool unit_binary_stream_t::read_float3(float3_t* out)
{
    return read_float(&out->x) && read_float(&out->y) && read_float(&out->z);
}

bool unit_binary_stream_t::read_float4(float4_t* out)
{
    return read_float(&out->x) && read_float(&out->y) && read_float(&out->z) &&
           read_float(&out->w);
}

bool unit_binary_stream_t::read_fixed(fixed_t* out)
{
    return read_s32(out);
}

bool unit_binary_stream_t::read_fixed2(fixed2_t* out)
{
    return read_s32(&out->x) && read_s32(&out->y);
}

bool unit_binary_stream_t::read_fixed3(fixed3_t* out)
{
    return read_s32(&out->x) && read_s32(&out->y) && read_s32(&out->z);
}

bool unit_binary_stream_t::read_fixed4(fixed4_t* out)
{
    return read_s32(&out->x) && read_s32(&out->y) && read_s32(&out->z) && read_s32(&out->w);
}

bool unit_binary_stream_t::read_float4x4(float4x4_t* out)
{
    for (float4_t& row : out->rows)
        if (!read_float4(&row))
            return false;
    return true;
}

bool unit_binary_stream_t::read_quaternion(quaternion_t* out)
{
    return read_float(&out->w) && read_float(&out->x) && read_float(&out->y) &&
           read_float(&out->z);
}

bool unit_binary_stream_t::read_position(position_t* out)
{
    if (!read_float(&out->x) || !read_float(&out->y) || !read_float(&out->z))
        return false;
    if (m_version < 2)
        return true;
    float w = 0.0f;
    if (!read_float(&w))
        return false;
    // w holds (sector x + 2048) + (sector y + 2048) * 4096. A value that is no number, or moves
    // a sector coordinate out of its 16 bits, cannot be stored.
    const double offset = std::trunc(double(w));
    int64_t moved_x = 0;
    int64_t moved_y = 0;
    if (std::isfinite(offset) && offset >= -9.2e18 && offset <= 9.2e18)
    {
        const int64_t s = int64_t(offset);
        moved_x = int64_t(out->sector_x) + (s & 0xFFF) - 2048;
        moved_y = int64_t(out->sector_y) + (s >> 12) - 2048;
    }
    else
        moved_y = INT64_MAX;
    if (moved_x < INT16_MIN || moved_x > INT16_MAX || moved_y < INT16_MIN || moved_y > INT16_MAX)
    {
        msg_error("[unit] The sector offset %g of a position is out of range", double(w));
        return false;
    }
    out->sector_x = int16_t(moved_x);
    out->sector_y = int16_t(moved_y);
    return true;
}

bool unit_binary_stream_t::read_placement(placement_t* out)
{
    return read_position(&out->position) && read_quaternion(&out->rotation);
}

bool unit_binary_stream_t::read_placement_scale(placement_scale_t* out)
{
    return read_position(&out->position) && read_quaternion(&out->rotation) &&
           read_float(&out->scale);
}

bool unit_binary_stream_t::read_placement_scale3(placement_scale3_t* out)
{
    return read_position(&out->position) && read_quaternion(&out->rotation) &&
           read_float3(&out->scale);
}

bool unit_binary_stream_t::read_plane(plane_t* out)
{
    return read_float3(&out->normal) && read_float(&out->distance);
}

bool unit_binary_stream_t::read_sphere(sphere_t* out)
{
    return read_float3(&out->centre) && read_float(&out->radius);
}

bool unit_binary_stream_t::read_aabox(aabox_t* out)
{
    return read_float3(&out->minimum) && read_float3(&out->maximum);
}

bool unit_binary_stream_t::read_int2(int2_t* out)
{
    return read_s32(&out->x) && read_s32(&out->y);
}

bool unit_binary_stream_t::read_enum_table(binary_attribute_definition_t* definition)
{
    uint32_t count = 0;
    if (!read_u32(&count))
        return false;
    array_dyn_t<binary_enum_entry_t>& table = definition->enum_table;
    for (uint32_t i = 0; i < count; ++i)
    {
        binary_enum_entry_t entry;
        if (!read_s32(&entry.value) || !read_string(&entry.name))
            return false;
        if (!table.append(std::move(entry)))
        {
            msg_error("[unit] Unable to register attribute");
            return false;
        }
    }

    // Sorted by value for the lookups; a value given twice is reported where reading the table
    // in order first meets it again.
    array_dyn_t<uint32_t> order;
    if (!order.resize(count))
    {
        msg_error("[unit] Unable to register attribute");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&table](uint32_t a, uint32_t b)
              { return table[a].value != table[b].value ? table[a].value < table[b].value : a < b; });
    uint32_t repeated = count;
    for (uint32_t k = 1; k < count; ++k)
        if (table[order[k]].value == table[order[k - 1]].value && order[k] < repeated)
            repeated = order[k];
    if (repeated != count)
    {
        msg_error("[unit] Duplicate enum value %d -> '%s'", table[repeated].value,
                  table[repeated].name.c_str());
        return false;
    }
    std::sort(table.begin(), table.end(), [](const binary_enum_entry_t& a, const binary_enum_entry_t& b)
              { return a.value < b.value; });
    return true;
}

bool unit_binary_stream_t::read_class_definition(class_metadata_map_t* classes)
{
    uint32_t id = 0;
    if (!read_u32(&id))
        return false;
    if (id == 0)
    {
        msg_error("[unit] Invalid class id %u", id);
        return false;
    }
    class_metadata_t metadata;
    if (!read_string(&metadata.class_name))
        return false;
    for (;;)
    {
        uint32_t code = 0;
        if (!read_u32(&code))
            return false;
        if (code == 0)
            break;
        if (!binary_attribute_type_is_valid(code))
        {
            msg_error("[unit] Invalid attribute type %u", code);
            return false;
        }
        binary_attribute_definition_t definition;
        definition.type = binary_unit_attr_type_t(code);
        if (!read_string(&definition.name))
            return false;
        if (binary_attribute_type_element_type(definition.type) ==
                binary_unit_attr_type_t::enumeration &&
            !read_enum_table(&definition))
            return false;
        if (!metadata.attributes.append(std::move(definition)))
        {
            msg_error("[unit] Unable to register attribute");
            return false;
        }
    }
    if (classes->find(id) != nullptr)
    {
        msg_error("[unit] Duplicate class id %u", id);
        return false;
    }
    // The map's links are 16 bits wide; a file cannot define more classes than it holds.
    if (classes->size() >= hashed_table_t::max_elements ||
        classes->insert(id, std::move(metadata)) == nullptr)
    {
        msg_error("[unit] Unable to register class id %u", id);
        return false;
    }
    return true;
}
