// The binary unit format: type codes, class definitions, the primitive encodings and loading.
//
// Sections: binary attribute types; class metadata; the stream reader; loading (the value
// reader, unknown attributes as text, unit records, the blocks).
#include "ovcore/units/unit_binary_format.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/units/unit.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_reader_load.h"
#include "ovcore/units/unit_system.h"
#include "ovcore/units/unit_value_loader.h"
#include "ovcore/ufs/sequential_mem_file.h"

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

    attribute_names_t(const unit_reader_load_t* load, const unit_t* owner,
                      const char* attribute_name)
        : attribute(attribute_name), type(owner->get_descriptor()->type_name)
    {
        load->get_unit_display_name(owner, &unit);
    }
};

// One overload per stored element of the floats, fixeds, plain and integer kinds, as the format
// stores it.
bool read_element(unit_binary_stream_t* s, float* out)
{
    return s->read_float(out);
}
bool read_element(unit_binary_stream_t* s, float2_t* out)
{
    return s->read_float2(out);
}
bool read_element(unit_binary_stream_t* s, float3_t* out)
{
    return s->read_float3(out);
}
bool read_element(unit_binary_stream_t* s, float4_t* out)
{
    return s->read_float4(out);
}
bool read_element(unit_binary_stream_t* s, int32_t* out)  // fixed1, s32 and enumerations
{
    return s->read_s32(out);
}
bool read_element(unit_binary_stream_t* s, fixed2_t* out)
{
    return s->read_fixed2(out);
}
bool read_element(unit_binary_stream_t* s, fixed3_t* out)
{
    return s->read_fixed3(out);
}
bool read_element(unit_binary_stream_t* s, fixed4_t* out)
{
    return s->read_fixed4(out);
}
bool read_element(unit_binary_stream_t* s, float4x4_t* out)
{
    return s->read_float4x4(out);
}
bool read_element(unit_binary_stream_t* s, quaternion_t* out)
{
    return s->read_quaternion(out);
}
bool read_element(unit_binary_stream_t* s, placement_t* out)
{
    return s->read_placement(out);
}
bool read_element(unit_binary_stream_t* s, placement_scale_t* out)
{
    return s->read_placement_scale(out);
}
bool read_element(unit_binary_stream_t* s, placement_scale3_t* out)
{
    return s->read_placement_scale3(out);
}
bool read_element(unit_binary_stream_t* s, plane_t* out)
{
    return s->read_plane(out);
}
bool read_element(unit_binary_stream_t* s, sphere_t* out)
{
    return s->read_sphere(out);
}
bool read_element(unit_binary_stream_t* s, aabox_t* out)
{
    return s->read_aabox(out);
}
bool read_element(unit_binary_stream_t* s, int2_t* out)
{
    return s->read_int2(out);
}
bool read_element(unit_binary_stream_t* s, bool* out)
{
    return s->read_bool(out);
}
bool read_element(unit_binary_stream_t* s, int16_t* out)
{
    return s->read_s16(out);
}
bool read_element(unit_binary_stream_t* s, uint16_t* out)
{
    return s->read_u16(out);
}
bool read_element(unit_binary_stream_t* s, uint32_t* out)
{
    return s->read_u32(out);
}
bool read_element(unit_binary_stream_t* s, int64_t* out)
{
    return s->read_s64(out);
}
bool read_element(unit_binary_stream_t* s, uint64_t* out)
{
    return s->read_u64(out);
}

// Which stored elements an integer attribute takes, widened to 64 bits (`Wide`): integers of
// its sign, and enumeration numbers into signed, Booleans (0 and 1) into unsigned attributes.
template <unit_attr_kind_t Kind, typename Stored, typename Wide> constexpr bool widens_into()
{
    if constexpr (std::is_same_v<Wide, int64_t>)
        return Kind == unit_attr_kind_t::signed_int || Kind == unit_attr_kind_t::enumeration;
    else
        return Kind == unit_attr_kind_t::unsigned_int || std::is_same_v<Stored, bool>;
}

// The values of a unit record, handed to the value loaders: the stored type of the current
// definition decides what is read, the attribute's element type what it must be.
class binary_value_reader_t final : public unit_value_reader_t
{
public:
    binary_value_reader_t(const unit_reader_load_t* load, unit_binary_stream_t* stream)
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

    [[nodiscard]] bool read_value(unit_attr_type_t element, unit_read_value_t* value) override;

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
    template <typename Wide> bool read_integer(Wide* out);
    template <unit_attr_kind_t Kind, typename Stored, typename Wide> bool read_widened(Wide* out);

    // One function per kind of the table of attribute types: reads `field` of `value` when the
    // file stores `expected`, the binary element of the attribute's type.
    bool read_string(binary_unit_attr_type_t expected, unit_read_value_t* value,
                     string_dyn_t* field);
    bool read_token(binary_unit_attr_type_t expected, unit_read_value_t* value,
                    string_dyn_t* field);
    template <typename T>
    bool read_floats(binary_unit_attr_type_t expected, unit_read_value_t* value, T* field);
    template <typename T>
    bool read_fixeds(binary_unit_attr_type_t expected, unit_read_value_t* value, T* field);
    template <typename T>
    bool read_plain(binary_unit_attr_type_t expected, unit_read_value_t* value, T* field);
    bool read_signed_int(binary_unit_attr_type_t expected, unit_read_value_t* value,
                         int64_t* field);
    bool read_unsigned_int(binary_unit_attr_type_t expected, unit_read_value_t* value,
                           uint64_t* field);
    bool read_enumeration(binary_unit_attr_type_t expected, unit_read_value_t* value,
                          int64_t* field);
    bool read_owner(binary_unit_attr_type_t expected, unit_read_value_t* value,
                    string_dyn_t* field);
    bool read_link(binary_unit_attr_type_t expected, unit_read_value_t* value,
                   string_dyn_t* field);
    bool read_tie(binary_unit_attr_type_t expected, unit_read_value_t* value,
                  string_dyn_t* field);

    const unit_reader_load_t* m_load;  // names units in messages
    unit_binary_stream_t* m_stream;
    const binary_attribute_definition_t* m_definition = nullptr;
    unit_t* m_unit = nullptr;
    const unit_attribute_t* m_attribute = nullptr;
    binary_unit_attr_type_t m_stored = binary_unit_attr_type_t::none;  // of the definition
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

template <unit_attr_kind_t Kind, typename Stored, typename Wide>
bool binary_value_reader_t::read_widened(Wide* out)
{
    if constexpr (widens_into<Kind, Stored, Wide>())
    {
        Stored number{};
        if (!read_element(m_stream, &number))
            return false;
        *out = Wide(number);
        return true;
    }
    else
        return report_incompatible(std::is_same_v<Wide, int64_t> ? family_t::signed_integer
                                                                  : family_t::unsigned_integer);
}

// Any stored width the attribute takes; the domain check sees the whole value.
template <typename Wide> bool binary_value_reader_t::read_integer(Wide* out)
{
#define OV_READ_INTEGER(name, text_code, binary_code, element, stored, field, kind)            \
    case binary_unit_attr_type_t::name:                                                        \
        return read_widened<unit_attr_kind_t::kind, stored>(out);

    switch (m_stored)
    {
        OV_UNIT_ATTR_TYPES(OV_READ_INTEGER)
    default:
        break;
    }
#undef OV_READ_INTEGER
    return report_incompatible(std::is_same_v<Wide, int64_t> ? family_t::signed_integer
                                                              : family_t::unsigned_integer);
}

bool binary_value_reader_t::read_string(binary_unit_attr_type_t expected, unit_read_value_t*,
                                        string_dyn_t* field)
{
    if (m_stored != expected)
        return report_incompatible(family_t::plain);
    return m_stream->read_string(field);
}

bool binary_value_reader_t::read_token(binary_unit_attr_type_t expected, unit_read_value_t*,
                                       string_dyn_t* field)
{
    if (m_stored != expected)
        return report_incompatible(family_t::plain);
    token_t token = 0;
    return m_stream->read_token(&token) && token_to_text(token, field);
}

template <typename T>
bool binary_value_reader_t::read_floats(binary_unit_attr_type_t expected, unit_read_value_t*,
                                        T* field)
{
    if (m_stored != expected)
        return report_incompatible(family_t::plain);
    return read_element(m_stream, field);
}

template <typename T>
bool binary_value_reader_t::read_fixeds(binary_unit_attr_type_t expected, unit_read_value_t*,
                                        T* field)
{
    if (m_stored != expected)
        return report_incompatible(family_t::plain);
    return read_element(m_stream, field);
}

template <typename T>
bool binary_value_reader_t::read_plain(binary_unit_attr_type_t expected, unit_read_value_t*,
                                       T* field)
{
    if (m_stored != expected)
        return report_incompatible(family_t::plain);
    return read_element(m_stream, field);
}

bool binary_value_reader_t::read_signed_int(binary_unit_attr_type_t, unit_read_value_t*,
                                            int64_t* field)
{
    return read_integer(field);
}

bool binary_value_reader_t::read_unsigned_int(binary_unit_attr_type_t, unit_read_value_t*,
                                              uint64_t* field)
{
    return read_integer(field);
}

bool binary_value_reader_t::read_enumeration(binary_unit_attr_type_t expected,
                                             unit_read_value_t* value, int64_t* field)
{
    if (m_stored != expected)
        return report_incompatible(family_t::plain);
    int32_t number = 0;
    if (!m_stream->read_s32(&number))
        return false;
    // A number the file's table names goes by that name into the attribute's own table.
    const binary_enum_entry_t* entry = m_definition->find_enum_value(number);
    if (entry == nullptr)
    {
        *field = number;
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

bool binary_value_reader_t::read_owner(binary_unit_attr_type_t expected,
                                       unit_read_value_t* value, string_dyn_t*)
{
    if (m_stored != expected)
        return report_incompatible(family_t::plain);
    return read_reference(value);
}

bool binary_value_reader_t::read_link(binary_unit_attr_type_t expected, unit_read_value_t* value,
                                      string_dyn_t*)
{
    if (m_stored == binary_unit_attr_type_t::owner_ptr)
    {
        const attribute_names_t n(m_load, m_unit, m_attribute->name);
        msg_warning("[unit] Loading owner ptr value into non-owner attribute '%s' of unit '%s' "
                    "(of type '%s').",
                    n.attribute, n.unit.c_str(), n.type);
    }
    else if (m_stored != expected)
        return report_incompatible(family_t::plain);
    return read_reference(value);
}

bool binary_value_reader_t::read_tie(binary_unit_attr_type_t expected, unit_read_value_t*,
                                     string_dyn_t* field)
{
    if (m_stored != expected)
        return report_incompatible(family_t::tie);
    return m_stream->read_string(field);
}

bool binary_value_reader_t::read_value(unit_attr_type_t element, unit_read_value_t* value)
{
    m_stored = binary_attribute_type_element_type(m_definition->type);
#define OV_READ_VALUE(name, text_code, binary_code, element_name, stored, field, kind)         \
    case unit_attr_type_t::name:                                                               \
        return read_##kind(binary_unit_attr_type_t::element_name, value, &value->field);

    switch (element)
    {
        OV_UNIT_ATTR_TYPES(OV_READ_VALUE)
    default:
        break;
    }
#undef OV_READ_VALUE
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

// One overload per stored element of the floats, fixeds, plain and integer kinds, written as a
// text file would hold it.
void write_element(text_builder_t* out, float v)
{
    out->real(v);
}
void write_element(text_builder_t* out, const float2_t& v)
{
    const float c[] = { v.x, v.y };
    out->reals(c, 2);
}
void write_element(text_builder_t* out, const float3_t& v)
{
    out->float3(v);
}
void write_element(text_builder_t* out, const float4_t& v)
{
    const float c[] = { v.x, v.y, v.z, v.w };
    out->reals(c, 4);
}
void write_element(text_builder_t* out, int32_t v)  // fixed1 and s32
{
    out->format("%d", v);
}
void write_element(text_builder_t* out, const fixed2_t& v)
{
    const fixed_t c[] = { v.x, v.y };
    out->integers(c, 2);
}
void write_element(text_builder_t* out, const fixed3_t& v)
{
    const fixed_t c[] = { v.x, v.y, v.z };
    out->integers(c, 3);
}
void write_element(text_builder_t* out, const fixed4_t& v)
{
    const fixed_t c[] = { v.x, v.y, v.z, v.w };
    out->integers(c, 4);
}
void write_element(text_builder_t* out, const float4x4_t& v)
{
    for (uint32_t r = 0; r < 4; ++r)
    {
        if (r > 0)
            out->append(" ");
        write_element(out, v.rows[r]);
    }
}
void write_element(text_builder_t* out, const quaternion_t& v)
{
    out->rotation(v);
}
void write_element(text_builder_t* out, const placement_t& v)
{
    out->position(v.position);
    out->append(" ");
    out->rotation(v.rotation);
}
// Text order: position, scale, rotation.
void write_element(text_builder_t* out, const placement_scale_t& v)
{
    out->position(v.position);
    out->append(" ");
    out->real(v.scale);
    out->append(" ");
    out->rotation(v.rotation);
}
void write_element(text_builder_t* out, const placement_scale3_t& v)
{
    out->position(v.position);
    out->append(" ");
    out->float3(v.scale);
    out->append(" ");
    out->rotation(v.rotation);
}
void write_element(text_builder_t* out, const plane_t& v)
{
    out->float3(v.normal);
    out->append(" ");
    out->real(v.distance);
}
void write_element(text_builder_t* out, const sphere_t& v)
{
    out->float3(v.centre);
    out->append(" ");
    out->real(v.radius);
}
void write_element(text_builder_t* out, const aabox_t& v)
{
    out->float3(v.minimum);
    out->append(" ");
    out->float3(v.maximum);
}
void write_element(text_builder_t* out, const int2_t& v)
{
    const int32_t c[] = { v.x, v.y };
    out->integers(c, 2);
}
void write_element(text_builder_t* out, bool v)
{
    out->append(v ? "true" : "false");
}
void write_element(text_builder_t* out, int16_t v)
{
    out->format("%d", int(v));
}
void write_element(text_builder_t* out, uint16_t v)
{
    out->format("%u", unsigned(v));
}
void write_element(text_builder_t* out, uint32_t v)
{
    out->format("%u", v);
}
void write_element(text_builder_t* out, int64_t v)
{
    out->format("%I64d", v);
}
void write_element(text_builder_t* out, uint64_t v)
{
    out->format("%I64u", v);
}

// One function per kind of the table of attribute types: reads an element stored as `Stored`
// and writes its text.

template <typename Stored>
bool text_string(unit_binary_stream_t* s, const binary_attribute_definition_t&,
                 text_builder_t* out)
{
    string_dyn_t part;
    if (!s->read_string(&part))
        return false;
    out->quoted(part);
    return true;
}

template <typename Stored>
bool text_token(unit_binary_stream_t* s, const binary_attribute_definition_t&,
                text_builder_t* out)
{
    token_t token = 0;
    string_dyn_t part;
    if (!s->read_token(&token) || !token_to_text(token, &part))
        return false;
    out->append(part.c_str());
    return true;
}

template <typename Stored>
bool text_number(unit_binary_stream_t* s, const binary_attribute_definition_t&,
                 text_builder_t* out)
{
    Stored v{};
    if (!read_element(s, &v))
        return false;
    write_element(out, v);
    return true;
}

template <typename Stored>
bool text_floats(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                 text_builder_t* out)
{
    return text_number<Stored>(s, definition, out);
}

template <typename Stored>
bool text_fixeds(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                 text_builder_t* out)
{
    return text_number<Stored>(s, definition, out);
}

template <typename Stored>
bool text_plain(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                text_builder_t* out)
{
    return text_number<Stored>(s, definition, out);
}

template <typename Stored>
bool text_signed_int(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                     text_builder_t* out)
{
    return text_number<Stored>(s, definition, out);
}

template <typename Stored>
bool text_unsigned_int(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                       text_builder_t* out)
{
    return text_number<Stored>(s, definition, out);
}

// By name when the file's table has one.
template <typename Stored>
bool text_enumeration(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                      text_builder_t* out)
{
    int32_t v = 0;
    if (!s->read_s32(&v))
        return false;
    const binary_enum_entry_t* entry = definition.find_enum_value(v);
    if (entry != nullptr)
        out->append(entry->name.c_str());
    else
        out->format("%d", v);
    return true;
}

template <typename Stored>
bool text_reference(unit_binary_stream_t* s, const binary_attribute_definition_t&,
                    text_builder_t* out)
{
    string_dyn_t part;
    if (!s->read_unit_name(&part))
        return false;
    out->append(part.empty() ? "null" : part.c_str());
    return true;
}

template <typename Stored>
bool text_owner(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                text_builder_t* out)
{
    return text_reference<Stored>(s, definition, out);
}

template <typename Stored>
bool text_link(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
               text_builder_t* out)
{
    return text_reference<Stored>(s, definition, out);
}

template <typename Stored>
bool text_tie(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
              text_builder_t* out)
{
    return text_string<Stored>(s, definition, out);
}

// Reads one element of the definition's type and writes it as a text file would hold it.
bool read_element_text(unit_binary_stream_t* s, const binary_attribute_definition_t& definition,
                       string_dyn_t* text)
{
    const binary_unit_attr_type_t element = binary_attribute_type_element_type(definition.type);
    text_builder_t out(text);
#define OV_ELEMENT_TEXT(name, text_code, binary_code, element_name, stored, field, kind)       \
    case binary_unit_attr_type_t::name:                                                        \
        if (!text_##kind<stored>(s, definition, &out))                                         \
            return false;                                                                      \
        break;

    switch (element)
    {
        OV_UNIT_ATTR_TYPES(OV_ELEMENT_TEXT)
    default:
        msg_error("Unsupported element type %u", uint32_t(element));
        return false;
    }
#undef OV_ELEMENT_TEXT
    return out.finish();
}

// ---- unit records ----------------------------------------------------------------------------

// The blocks of a file after its header: class definitions into the class table, unit records
// into units of the load.
class binary_unit_reader_t
{
public:
    binary_unit_reader_t(unit_reader_load_t* load, unit_binary_stream_t* stream)
        : m_load(load), m_stream(stream), m_values(load, stream)
    {
    }

    // Up to and including the end record.
    [[nodiscard]] bool read_blocks();

private:
    [[nodiscard]] bool read_unit_record(uint32_t class_id);
    // `attribute` is the unit type's attribute of the definition's name, or null.
    [[nodiscard]] bool read_attribute(unit_t* unit, const binary_attribute_definition_t& definition,
                                      const unit_attribute_t* attribute);
    [[nodiscard]] bool read_unknown_attribute(unit_t* unit,
                                              const binary_attribute_definition_t& definition);
    [[nodiscard]] bool read_element_count(uint32_t* count);

    unit_reader_load_t* m_load;
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
        return m_load->load_attribute_value(&m_values, unit, attribute, unit_index_absent);
    }

    if (!stored_array)
    {
        const attribute_names_t n(m_load, unit, attribute->name);
        msg_warning("[unit] Scalar value loaded into array attribute '%s' of unit '%s' of type '%s'",
                    n.attribute, n.unit.c_str(), n.type);
        return m_load->load_attribute_value(&m_values, unit, attribute, 0);
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
        if (!m_load->load_attribute_value(&m_values, unit, attribute, i))
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

bool unit_binary_load_units(unit_reader_load_t* load, const char* data, uint32_t size,
                            const char* location, fs_device_type_t realm)
{
    auto_ptr_t<sequential_mem_file_t> stream(
        new (std::nothrow) sequential_mem_file_t(data, size, location, realm));
    if (!stream)
    {
        msg_error("[unit] Unable to map source file");
        return false;
    }
    unit_binary_stream_t reader(stream.get());
    if (!reader.read_header())
        return false;
    binary_unit_reader_t units(load, &reader);
    return units.read_blocks();
}
