// The binary unit format: type codes, class definitions, the primitive encodings and loading.
//
// Sections: binary attribute types; class metadata; the stream reader; loading (the value
// reader, unknown attributes as text, unit records, the blocks).
#include "ovcore/units/unit_binary_format.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/units/unit.h"
#include "ovcore/units/unit_loader.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_system.h"
#include "ovcore/units/unit_value_loader.h"
#include "ovutils/ufs/sequential_mem_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

// ---------------------------------------------------------------------------------------------
// Binary attribute types.

bool binary_attribute_type_is_valid(uint32_t code)
{
    return code != 0 && binary_unit_attr_type_row(binary_unit_attr_type_t(code)) != nullptr;
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
    const unit_attr_type_row_t* row = binary_unit_attr_type_row(type);
    if (row == nullptr)
        OV_FATAL("binary_attribute_type_element_type(): Unknown type.");
    return unit_attr_type_row(row->element)->binary;
}

unit_attr_type_t binary_attribute_type_to_unit_type(binary_unit_attr_type_t type)
{
    const unit_attr_type_row_t* row = binary_unit_attr_type_row(type);
    if (row == nullptr)
        OV_FATAL("binary_attribute_type_to_unit_type(): Unknown type.");
    // The array of a row is the next code in both enums.
    return unit_attr_type_t(uint32_t(row->type) + uint32_t(type) - uint32_t(row->binary));
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
        // ".%02X.%02X.%04X.%08X" from bits 0-7, 8-15, 16-31 and 32-63; the leading dot makes
        // it a file-local name.
        static const char digits[] = "0123456789ABCDEF";
        static const uint32_t group_digits[] = { 2, 2, 4, 8 };
        char text[20];
        uint32_t length = 0;
        uint32_t shift = 0;
        for (uint32_t digit_count : group_digits)
        {
            text[length++] = '.';
            for (uint32_t d = digit_count; d > 0; --d)
                text[length++] = digits[(value >> (shift + 4 * (d - 1))) & 0xF];
            shift += 4 * digit_count;
        }
        if (!out->append(text, length))
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

// ---------------------------------------------------------------------------------------------
// Loading.

namespace
{

// How messages about one attribute of a unit name it: attribute, unit and type.
struct attribute_names_t
{
    const char* attribute;
    string_dyn_t unit;
    const char* type;

    attribute_names_t(unit_load_t* load, const unit_t* owner, const char* attribute_name)
        : attribute(attribute_name), type(owner->get_descriptor()->type_name)
    {
        load->get_unit_display_name(owner, &unit);
    }
};

// The values of a unit record, handed to the value loaders: the stored type of the current
// definition decides what is read, the attribute's element type what it must be.
class binary_value_reader_t final : public unit_value_reader_t
{
public:
    binary_value_reader_t(unit_load_t* load, unit_binary_stream_t* stream)
        : m_load(load), m_stream(stream)
    {
    }

    void set_source(const binary_attribute_definition_t* definition, unit_t* unit,
                    const unit_attribute_t* attribute)
    {
        m_definition = definition;
        m_unit = unit;
        m_attribute = attribute;
    }

    bool read_value(unit_attr_type_t element, unit_read_value_t* value) override;

private:
    enum class family_t
    {
        plain,
        unsigned_integer,
        signed_integer,
        tie,
    };

    bool report_incompatible(family_t family) const;
    bool read_reference(unit_read_value_t* value);

    unit_load_t* m_load;
    unit_binary_stream_t* m_stream;
    const binary_attribute_definition_t* m_definition = nullptr;
    unit_t* m_unit = nullptr;
    const unit_attribute_t* m_attribute = nullptr;
};

bool binary_value_reader_t::report_incompatible(family_t family) const
{
    const attribute_names_t n(m_load, m_unit, m_attribute->name);
    const uint32_t code = uint32_t(m_definition->type);
    switch (family)
    {
    case family_t::plain:
        msg_error("[unit] Incompatible attribute type %u while loading attribute '%s' of unit '%s' "
                  "(of type '%s').",
                  code, n.attribute, n.unit.c_str(), n.type);
        break;
    case family_t::unsigned_integer:
        msg_error("[unit] Incompatible attribute type %u while loading unsigned integer attribute "
                  "'%s' of unit '%s' (of type '%s').",
                  code, n.attribute, n.unit.c_str(), n.type);
        break;
    case family_t::signed_integer:
        msg_error("[unit] Incompatible attribute type %u while loading signed integer attribute "
                  "'%s' of unit '%s' (of type '%s').",
                  code, n.attribute, n.unit.c_str(), n.type);
        break;
    case family_t::tie:
        msg_error("[unit] Incompatible attribute type %u while loading tie attribute '%s' of unit "
                  "'%s' (of type '%s').",
                  code, n.attribute, n.unit.c_str(), n.type);
        break;
    }
    return false;
}

bool binary_value_reader_t::read_reference(unit_read_value_t* value)
{
    if (!m_stream->read_unit_name(&value->text))
        return false;
    value->is_null = value->text.empty();
    return true;
}

bool binary_value_reader_t::read_value(unit_attr_type_t element, unit_read_value_t* value)
{
    using b = binary_unit_attr_type_t;
    const b stored = binary_attribute_type_element_type(m_definition->type);
    // Codes 1 to 35 mean the same in both tables.
    if (uint32_t(element) <= uint32_t(b::aabox) && uint32_t(stored) != uint32_t(element))
        return report_incompatible(family_t::plain);
    unit_binary_stream_t* s = m_stream;
    switch (element)
    {
    case unit_attr_type_t::string:
        return s->read_string(&value->text);
    case unit_attr_type_t::token:
    {
        token_t token = 0;
        return s->read_token(&token) && token_to_text(token, &value->text);
    }
    case unit_attr_type_t::float1:
        return s->read_float(&value->real);
    case unit_attr_type_t::float2:
        return s->read_float2(&value->float2);
    case unit_attr_type_t::float3:
        return s->read_float3(&value->float3);
    case unit_attr_type_t::float4:
        return s->read_float4(&value->float4);
    case unit_attr_type_t::fixed1:
        return s->read_fixed(&value->fixed);
    case unit_attr_type_t::fixed2:
        return s->read_fixed2(&value->fixed2);
    case unit_attr_type_t::fixed3:
        return s->read_fixed3(&value->fixed3);
    case unit_attr_type_t::fixed4:
        return s->read_fixed4(&value->fixed4);
    case unit_attr_type_t::float4x4:
        return s->read_float4x4(&value->matrix);
    case unit_attr_type_t::quaternion:
        return s->read_quaternion(&value->quaternion);
    case unit_attr_type_t::placement:
        return s->read_placement(&value->placement);
    case unit_attr_type_t::placement_scale:
        return s->read_placement_scale(&value->placement_scale);
    case unit_attr_type_t::placement_scale3:
        return s->read_placement_scale3(&value->placement_scale3);
    case unit_attr_type_t::plane:
        return s->read_plane(&value->plane);
    case unit_attr_type_t::sphere:
        return s->read_sphere(&value->sphere);
    case unit_attr_type_t::aabox:
        return s->read_aabox(&value->aabox);
    case unit_attr_type_t::s32:
    case unit_attr_type_t::s16:
    case unit_attr_type_t::s32_second:
    case unit_attr_type_t::s64:
        // Any stored signed width, widened to 64 bits; the domain check sees the whole value.
        switch (stored)
        {
        case b::s32:
        case b::s32_second:
        case b::enumeration:
        {
            int32_t number = 0;
            if (!s->read_s32(&number))
                return false;
            value->signed_value = number;
            return true;
        }
        case b::s16:
        {
            int16_t number = 0;
            if (!s->read_s16(&number))
                return false;
            value->signed_value = number;
            return true;
        }
        case b::s64:
            return s->read_s64(&value->signed_value);
        default:
            return report_incompatible(family_t::signed_integer);
        }
    case unit_attr_type_t::u32:
    case unit_attr_type_t::u16:
    case unit_attr_type_t::u32_second:
    case unit_attr_type_t::u64:
        switch (stored)
        {
        case b::u32:
        case b::u32_second:
        {
            uint32_t number = 0;
            if (!s->read_u32(&number))
                return false;
            value->unsigned_value = number;
            return true;
        }
        case b::u16:
        {
            uint16_t number = 0;
            if (!s->read_u16(&number))
                return false;
            value->unsigned_value = number;
            return true;
        }
        case b::u64:
            return s->read_u64(&value->unsigned_value);
        case b::boolean:
        {
            bool flag = false;
            if (!s->read_bool(&flag))
                return false;
            value->unsigned_value = flag ? 1 : 0;
            return true;
        }
        default:
            return report_incompatible(family_t::unsigned_integer);
        }
    case unit_attr_type_t::int2:
        if (stored != b::int2)
            return report_incompatible(family_t::plain);
        return s->read_int2(&value->int2);
    case unit_attr_type_t::boolean:
        if (stored != b::boolean)
            return report_incompatible(family_t::plain);
        return s->read_bool(&value->boolean);
    case unit_attr_type_t::enumeration:
    {
        if (stored != b::enumeration)
            return report_incompatible(family_t::plain);
        int32_t number = 0;
        if (!s->read_s32(&number))
            return false;
        // A number the file's table names goes by that name into the attribute's own table.
        const binary_enum_entry_t* entry = m_definition->find_enum_value(number);
        if (entry == nullptr)
        {
            value->signed_value = number;
            return true;
        }
        if (!value->text.assign(entry->name))
        {
            msg_error("[unit] Error while extending string");
            return false;
        }
        value->is_name = true;
        return true;
    }
    case unit_attr_type_t::owner_ptr:
        if (stored != b::owner_ptr)
            return report_incompatible(family_t::plain);
        return read_reference(value);
    case unit_attr_type_t::link_ptr:
    case unit_attr_type_t::tolerant_link_ptr:
        if (stored == b::owner_ptr)
        {
            const attribute_names_t n(m_load, m_unit, m_attribute->name);
            msg_warning("[unit] Loading owner ptr value into non-owner attribute '%s' of unit '%s' "
                        "(of type '%s').",
                        n.attribute, n.unit.c_str(), n.type);
        }
        else if (stored != b::link_ptr)
            return report_incompatible(family_t::plain);
        return read_reference(value);
    case unit_attr_type_t::resource_tie:
        if (stored != b::resource_tie)
            return report_incompatible(family_t::tie);
        return s->read_string(&value->text);
    default:
        break;
    }
    msg_error("[unit] Unknown unit attribute type.");
    return false;
}

// ---- unknown attributes: values in their text form -------------------------------------------

class text_builder_t
{
public:
    explicit text_builder_t(string_dyn_t* text) : m_text(text) { m_text->clear(); }

    void real(float value) { m_ok = m_ok && m_text->append_formatted("%.9g", double(value)); }
    void reals(const float* values, uint32_t count, char first_separator = ',')
    {
        append("(");
        for (uint32_t i = 0; i < count; ++i)
        {
            if (i == 1 && first_separator == ';')
                append("; ");
            else if (i > 0)
                append(", ");
            real(values[i]);
        }
        append(")");
    }
    void float3(const float3_t& v)
    {
        const float c[] = { v.x, v.y, v.z };
        reals(c, 3);
    }
    void position(const position_t& v)
    {
        const float c[] = { v.x, v.y, v.z };
        reals(c, 3);
    }
    void rotation(const quaternion_t& v)
    {
        const float c[] = { v.w, v.x, v.y, v.z };
        reals(c, 4, ';');
    }
    void integers(const int32_t* values, uint32_t count)
    {
        append("(");
        for (uint32_t i = 0; i < count; ++i)
        {
            if (i > 0)
                append(", ");
            m_ok = m_ok && m_text->append_formatted("%d", values[i]);
        }
        append(")");
    }
    // A quoted string with the escapes of the text format.
    void quoted(const string_t& value)
    {
        append("\"");
        for (uint32_t i = 0; i < value.length(); ++i)
        {
            const unsigned char c = static_cast<unsigned char>(value[i]);
            if (c == '"')
                append("\\\"");
            else if (c == '\\')
                append("\\\\");
            else if (c == '\n')
                append("\\n");
            else if (c == '\r')
                append("\\r");
            else if (c < 0x20 || c == 0x7F)
                m_ok = m_ok && m_text->append_formatted("\\x%02x", unsigned(c));
            else
                m_ok = m_ok && m_text->append_char(char(c));
        }
        append("\"");
    }
    void append(const char* text) { m_ok = m_ok && m_text->append(text); }
    template <typename... Args>
    void format(checked_format_t<std::type_identity_t<Args>...> format, Args... args)
    {
        m_ok = m_ok && m_text->append_formatted(format, args...);
    }

    bool finish() const
    {
        if (!m_ok)
            msg_error("[unit] Error while extending string");
        return m_ok;
    }

private:
    string_dyn_t* m_text;
    bool m_ok = true;
};

// Reads one element of the definition's type and writes it as a text file would hold it.
bool read_element_text(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                       string_dyn_t* text)
{
    using b = binary_unit_attr_type_t;
    const b element = binary_attribute_type_element_type(definition.type);
    string_dyn_t part;
    text_builder_t out(text);
    switch (element)
    {
    case b::string:
    case b::resource_tie:
        if (!s->read_string(&part))
            return false;
        out.quoted(part);
        break;
    case b::token:
    {
        token_t token = 0;
        if (!s->read_token(&token) || !token_to_text(token, &part))
            return false;
        out.append(part.c_str());
        break;
    }
    case b::float1:
    {
        float v = 0.0f;
        if (!s->read_float(&v))
            return false;
        out.real(v);
        break;
    }
    case b::float2:
    case b::float3:
    case b::float4:
    {
        const uint32_t count = (uint32_t(element) - uint32_t(b::float2)) / 2 + 2;
        float c[4];
        for (uint32_t i = 0; i < count; ++i)
            if (!s->read_float(&c[i]))
                return false;
        out.reals(c, count);
        break;
    }
    case b::fixed1:
    {
        fixed_t v = 0;
        if (!s->read_fixed(&v))
            return false;
        out.format("%d", v);
        break;
    }
    case b::fixed2:
    case b::fixed3:
    case b::fixed4:
    {
        const uint32_t count = (uint32_t(element) - uint32_t(b::fixed2)) / 2 + 2;
        fixed_t c[4];
        for (uint32_t i = 0; i < count; ++i)
            if (!s->read_fixed(&c[i]))
                return false;
        out.integers(c, count);
        break;
    }
    case b::float4x4:
    {
        float4x4_t v;
        if (!s->read_float4x4(&v))
            return false;
        for (uint32_t r = 0; r < 4; ++r)
        {
            if (r > 0)
                out.append(" ");
            const float c[] = { v.rows[r].x, v.rows[r].y, v.rows[r].z, v.rows[r].w };
            out.reals(c, 4);
        }
        break;
    }
    case b::quaternion:
    {
        quaternion_t v;
        if (!s->read_quaternion(&v))
            return false;
        out.rotation(v);
        break;
    }
    case b::placement:
    {
        placement_t v;
        if (!s->read_placement(&v))
            return false;
        out.position(v.position);
        out.append(" ");
        out.rotation(v.rotation);
        break;
    }
    case b::placement_scale:
    {
        // Text order: position, scale, rotation.
        placement_scale_t v;
        if (!s->read_placement_scale(&v))
            return false;
        out.position(v.position);
        out.append(" ");
        out.real(v.scale);
        out.append(" ");
        out.rotation(v.rotation);
        break;
    }
    case b::placement_scale3:
    {
        placement_scale3_t v;
        if (!s->read_placement_scale3(&v))
            return false;
        out.position(v.position);
        out.append(" ");
        out.float3(v.scale);
        out.append(" ");
        out.rotation(v.rotation);
        break;
    }
    case b::plane:
    {
        plane_t v;
        if (!s->read_plane(&v))
            return false;
        out.float3(v.normal);
        out.append(" ");
        out.real(v.distance);
        break;
    }
    case b::sphere:
    {
        sphere_t v;
        if (!s->read_sphere(&v))
            return false;
        out.float3(v.centre);
        out.append(" ");
        out.real(v.radius);
        break;
    }
    case b::aabox:
    {
        aabox_t v;
        if (!s->read_aabox(&v))
            return false;
        out.float3(v.minimum);
        out.append(" ");
        out.float3(v.maximum);
        break;
    }
    case b::s32:
    case b::s32_second:
    {
        int32_t v = 0;
        if (!s->read_s32(&v))
            return false;
        out.format("%d", v);
        break;
    }
    case b::u32:
    case b::u32_second:
    {
        uint32_t v = 0;
        if (!s->read_u32(&v))
            return false;
        out.format("%u", v);
        break;
    }
    case b::s16:
    {
        int16_t v = 0;
        if (!s->read_s16(&v))
            return false;
        out.format("%d", int(v));
        break;
    }
    case b::u16:
    {
        uint16_t v = 0;
        if (!s->read_u16(&v))
            return false;
        out.format("%u", unsigned(v));
        break;
    }
    case b::s64:
    {
        int64_t v = 0;
        if (!s->read_s64(&v))
            return false;
        out.format("%I64d", v);
        break;
    }
    case b::u64:
    {
        uint64_t v = 0;
        if (!s->read_u64(&v))
            return false;
        out.format("%I64u", v);
        break;
    }
    case b::boolean:
    {
        bool v = false;
        if (!s->read_bool(&v))
            return false;
        out.append(v ? "true" : "false");
        break;
    }
    case b::enumeration:
    {
        // By name when the file's table has one.
        int32_t v = 0;
        if (!s->read_s32(&v))
            return false;
        const binary_enum_entry_t* entry = definition.find_enum_value(v);
        if (entry != nullptr)
            out.append(entry->name.c_str());
        else
            out.format("%d", v);
        break;
    }
    case b::owner_ptr:
    case b::link_ptr:
        if (!s->read_unit_name(&part))
            return false;
        out.append(part.empty() ? "null" : part.c_str());
        break;
    case b::int2:
    {
        int2_t v;
        if (!s->read_int2(&v))
            return false;
        const int32_t c[] = { v.x, v.y };
        out.integers(c, 2);
        break;
    }
    default:
        msg_error("Unsupported element type %u", uint32_t(element));
        return false;
    }
    return out.finish();
}

// ---- unit records ----------------------------------------------------------------------------

// The blocks of a file after its header: class definitions into the class table, unit records
// into units of the load.
class binary_unit_reader_t
{
public:
    binary_unit_reader_t(unit_load_t* load, unit_binary_stream_t* stream)
        : m_load(load), m_stream(stream), m_values(load, stream)
    {
    }

    // Up to and including the end record.
    bool read_blocks();
    // What the value loaders read through while the blocks are read.
    unit_value_reader_t* values() { return &m_values; }

private:
    bool read_unit_record(uint32_t class_id);
    // `attribute` is the unit type's attribute of the definition's name, or null.
    bool read_attribute(unit_t* unit, const binary_attribute_definition_t& definition,
                        const unit_attribute_t* attribute);
    bool read_unknown_attribute(unit_t* unit, const binary_attribute_definition_t& definition);
    bool read_element_count(uint32_t* count);

    unit_load_t* m_load;
    unit_binary_stream_t* m_stream;
    class_metadata_map_t m_classes;
    binary_value_reader_t m_values;
    string_dyn_t m_text;
};

bool binary_unit_reader_t::read_element_count(uint32_t* count)
{
    if (!m_stream->read_u32(count))
        return false;
    // Every element takes at least one byte: a larger count runs past the data anyway, and is
    // refused before room is made for it.
    if (*count > m_stream->remaining())
    {
        msg_error("[unit] Error while reading stream");
        return false;
    }
    return true;
}

bool binary_unit_reader_t::read_unit_record(uint32_t class_id)
{
    class_metadata_t* metadata = m_classes.find(class_id);
    if (metadata == nullptr)
    {
        msg_error("[unit] Unknown unit class id %u", class_id);
        return false;
    }
    string_dyn_t name;
    if (!m_stream->read_unit_name(&name))
        return false;
    if (name.empty())
    {
        msg_error("[unit] NULL is not valid name of unit");
        return false;
    }
    unit_t* unit = m_load->begin_unit(metadata->class_name.c_str(), name.c_str());
    if (unit == nullptr)
        return false;
    const unit_descriptor_t* type = unit->get_descriptor();
    const array_t<binary_attribute_definition_t>& definitions = metadata->attributes;
    if (metadata->resolved_type != type)
    {
        // Without room for the lookups each unit looks its attributes up itself.
        metadata->resolved_type = nullptr;
        if (metadata->resolved.resize(definitions.size()))
        {
            for (uint32_t i = 0; i < definitions.size(); ++i)
                metadata->resolved[i] = unit_find_attribute(type, definitions[i].name.c_str());
            metadata->resolved_type = type;
        }
    }
    for (uint32_t i = 0; i < definitions.size(); ++i)
    {
        const unit_attribute_t* attribute =
            metadata->resolved_type != nullptr
                ? metadata->resolved[i]
                : unit_find_attribute(type, definitions[i].name.c_str());
        if (!read_attribute(unit, definitions[i], attribute))
            return false;
    }
    return true;
}

bool binary_unit_reader_t::read_unknown_attribute(unit_t* unit,
                                                  const binary_attribute_definition_t& definition)
{
    if (!unit->accepts_unknown_attributes())
    {
        const attribute_names_t n(m_load, unit, definition.name.c_str());
        msg_error("[unit] The unit '%s' of type '%s' has no attribute named '%s'.", n.unit.c_str(),
                  n.type, n.attribute);
        return false;
    }
    if (!binary_attribute_type_is_array(definition.type))
        return read_element_text(m_stream, definition, &m_text) &&
               unit->handle_unknown_attribute(definition.name.c_str(), unit_index_absent,
                                              m_text.c_str());
    uint32_t count = 0;
    if (!read_element_count(&count))
        return false;
    for (uint32_t i = 0; i < count; ++i)
        if (!read_element_text(m_stream, definition, &m_text) ||
            !unit->handle_unknown_attribute(definition.name.c_str(), i, m_text.c_str()))
            return false;
    return true;
}

bool binary_unit_reader_t::read_attribute(unit_t* unit,
                                          const binary_attribute_definition_t& definition,
                                          const unit_attribute_t* attribute)
{
    if (attribute == nullptr)
        return read_unknown_attribute(unit, definition);
    if (uint32_t(attribute->type) == 0 || uint32_t(attribute->type) > unit_attr_type_last)
    {
        msg_error("[unit] Unknown unit attribute type.");
        return false;
    }
    m_values.set_source(&definition, unit, attribute);
    const bool stored_array = binary_attribute_type_is_array(definition.type);
    const bool attribute_array = unit_attr_type_is_array(attribute->type);
    uint32_t count = 1;
    if (stored_array && !read_element_count(&count))
        return false;

    if (!attribute_array)
    {
        if (stored_array && count != 1)
        {
            const attribute_names_t n(m_load, unit, attribute->name);
            if (count == 0)
            {
                msg_warning("[unit] Empty array interpreted as missing attribute '%s' of unit '%s' "
                            "of type '%s'",
                            n.attribute, n.unit.c_str(), n.type);
                return true;
            }
            msg_error("[unit] Attempting to load array which contains more than one entry into "
                      "non-array attribute '%s' of unit '%s' of type '%s'",
                      n.attribute, n.unit.c_str(), n.type);
            return false;
        }
        if (stored_array)
        {
            const attribute_names_t n(m_load, unit, attribute->name);
            msg_warning("[unit] Array value loaded into scalar attribute '%s' of unit '%s' of type "
                        "'%s'",
                        n.attribute, n.unit.c_str(), n.type);
        }
        return unit_load_attribute_value(m_load, unit, attribute, unit_index_absent);
    }

    if (!stored_array)
    {
        const attribute_names_t n(m_load, unit, attribute->name);
        msg_warning("[unit] Scalar value loaded into array attribute '%s' of unit '%s' of type '%s'",
                    n.attribute, n.unit.c_str(), n.type);
        return unit_load_attribute_value(m_load, unit, attribute, 0);
    }
    if (attribute->is_obsolete())
    {
        const attribute_names_t n(m_load, unit, attribute->name);
        msg_warning("Ignoring obsolete attribute '%s' of unit '%s' (of type '%s').", n.attribute,
                    n.unit.c_str(), n.type);
    }
    else
    {
        // As for a text length line, a huge count does not take the memory up front.
        const size_t capacity = count < unit_load_capacity_request_limit
                                    ? size_t(count)
                                    : size_t(unit_load_capacity_request_limit);
        if (!unit_array_request_capacity(unit, attribute, capacity))
        {
            const attribute_names_t n(m_load, unit, attribute->name);
            msg_error("[unit] Failed to set the requested length of the array attribute '%s' of "
                      "unit '%s' (of type '%s').",
                      n.attribute, n.unit.c_str(), n.type);
            return false;
        }
    }
    for (uint32_t i = 0; i < count; ++i)
        if (!unit_load_attribute_value(m_load, unit, attribute, i))
            return false;
    return true;
}


bool binary_unit_reader_t::read_blocks()
{
    for (;;)
    {
        uint32_t block = 0;
        if (!m_stream->read_u32(&block))
            return false;
        if (block != 0)
        {
            if (!read_unit_record(block))
                return false;
            continue;
        }
        uint8_t service = 0;
        if (!m_stream->read_u8(&service))
            return false;
        if (service == 0)
            return true;  // the end record; anything after it is ignored
        if (service != 1)
        {
            msg_error("[unit] Unknown service record type %u", unsigned(service));
            return false;
        }
        if (!m_stream->read_class_definition(&m_classes))
            return false;
    }
}

}  // namespace

bool unit_binary_load_units(unit_load_t* load, const char* data, uint32_t size)
{
    auto_ptr_t<sequential_mem_file_t> stream(
        new (std::nothrow) sequential_mem_file_t(data, size, load->location(), load->realm()));
    if (!stream)
    {
        msg_error("[unit] Unable to map source file");
        return false;
    }
    unit_binary_stream_t reader(stream.get());
    if (!reader.read_header())
        return false;
    binary_unit_reader_t units(load, &reader);
    // The value loaders read through this reader until the records end.
    unit_value_reader_t* previous = load->value_reader();
    load->set_value_reader(units.values());
    const bool ok = units.read_blocks();
    load->set_value_reader(previous);
    return ok;
}
