// The binary form loads to the same attribute values as the text form: random units with every
// attribute type, written both ways, loaded and compared.
#include "ovcore/units/unit_binary_format.h"

#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_domain.h"
#include "ovcore/units/unit_loader.h"
#include "ovcore/units/unit_resource_tie.h"
#include "ovcore/units/unit_system.h"
#include "tests/support/message_capture.h"
#include "tests/support/unit_binary_encoder.h"
#include "tests/ovcore/units/unit_every_scalar_type.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace
{
class rt_every_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit rt_every_u(unit_system_t* system) : unit_t(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) rt_every_u(system); }

#define OV_MEMBERS(code, ...)                                                                  \
    unit_attr_storage_t<unit_attr_type_t::code> scalar_##code{};                               \
    unit_attr_storage_t<unit_attr_type_t::code##_array> array_##code;
    OV_EVERY_SCALAR_TYPE(OV_MEMBERS)
#undef OV_MEMBERS
};

// What owner and link attributes point at.
class rt_leaf_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit rt_leaf_u(unit_system_t* system) : unit_t(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) rt_leaf_u(system); }

    int32_t id = 0;
};

const unit_enum_value_t enum_values[] = {
    { -3, "minus_three" }, { 0, "zero" }, { 7, "seven" }, { 100000, "large" } };
const unit_enum_domain_t enum_domain = { unit_domain_kind_t::enumeration, 4, enum_values };

constexpr const void* domain_of(unit_attr_type_t type)
{
    return type == unit_attr_type_t::enumeration || type == unit_attr_type_t::enumeration_array
               ? &enum_domain
               : nullptr;
}
}  // namespace

const unit_attribute_t rt_every_attributes[] = {
#define OV_ROWS(code, ...)                                                                     \
    OV_UNIT_ATTRIBUTE(rt_every_u, scalar_##code, code, domain_of(unit_attr_type_t::code),      \
                      "scalar_" #code),                                                        \
        OV_UNIT_ATTRIBUTE(rt_every_u, array_##code, code##_array,                              \
                          domain_of(unit_attr_type_t::code), "array_" #code),
    OV_EVERY_SCALAR_TYPE(OV_ROWS)
#undef OV_ROWS
        OV_UNIT_ATTRIBUTES_END,
};
static_assert(std::size(rt_every_attributes) == unit_attr_type_last + 1);

const unit_descriptor_t rt_every_u::descriptor = {
    "rt_every", rt_every_u::create, unit_destroy, &unit_t::descriptor, rt_every_attributes,
    compute_type_name_hash("rt_every_u"), 0xFFFFFFFFu,
};

const unit_attribute_t rt_leaf_attributes[] = {
    OV_UNIT_ATTRIBUTE(rt_leaf_u, id, s32, nullptr, "id"),
    OV_UNIT_ATTRIBUTES_END,
};
const unit_descriptor_t rt_leaf_u::descriptor = {
    "rt_leaf", rt_leaf_u::create, unit_destroy, &unit_t::descriptor, rt_leaf_attributes,
    compute_type_name_hash("rt_leaf_u"), 0xFFFFFFFFu,
};

namespace
{
// Holds tie values as the names the file gave them: each load's names are kept in order.
class naming_tie_t final : public unit_resource_tie_t
{
public:
    std::vector<std::string> names;

    bool get_resource_name(const unit_t*, string_t*) override { return false; }
    bool is_resource_unit(const unit_t*) override { return false; }
    bool destroy_scalar(unit_t* unit, const unit_attribute_t* attribute) override
    {
        *static_cast<unit_t**>(unit_attribute_value(unit, attribute)) = nullptr;
        return true;
    }
    bool destroy_array(unit_t* unit, const unit_attribute_t* attribute) override
    {
        array(unit, attribute)->release_storage();
        return true;
    }
    bool clone_scalar(const unit_t*, unit_t*, const unit_attribute_t*) override { return false; }
    bool clone_array(const unit_t*, unit_t*, const unit_attribute_t*) override { return false; }
    bool obtain_resource(const char* name, unit_t*, const unit_attribute_t*,
                         unit_t** resource) override
    {
        names.push_back(name);
        *resource = nullptr;  // the recorded name stands for it
        return true;
    }
    bool reclaim_resource(unit_t*, unit_t*, const unit_attribute_t*) override { return true; }
    bool remove_value(unit_t*, const unit_attribute_t*, size_t) override { return false; }
    bool get_size(const unit_t* unit, const unit_attribute_t* attribute, size_t* size) override
    {
        *size = array(const_cast<unit_t*>(unit), attribute)->size();
        return true;
    }
    bool request_capacity(unit_t* unit, const unit_attribute_t* attribute, size_t n) override
    {
        return array(unit, attribute)->reserve(uint32_t(n));
    }
    bool get_value_scalar(const unit_t*, const unit_attribute_t*, unit_t**) override
    {
        return false;
    }
    bool get_value_element(const unit_t*, const unit_attribute_t*, size_t, unit_t**) override
    {
        return false;
    }
    bool get_value_array(const unit_t*, const unit_attribute_t*, array_t<unit_t*>*) override
    {
        return false;
    }
    bool set_value_scalar(unit_t* unit, const unit_attribute_t* attribute, unit_t* value) override
    {
        *static_cast<unit_t**>(unit_attribute_value(unit, attribute)) = value;
        return true;
    }
    bool set_value_element(unit_t* unit, const unit_attribute_t* attribute, size_t index,
                           unit_t* value) override
    {
        array_dyn_t<unit_t*>* values = array(unit, attribute);
        if (index == values->size())
            return values->append(value);
        if (index > values->size())
            return false;
        (*values)[uint32_t(index)] = value;
        return true;
    }
    bool append_value(unit_t* unit, const unit_attribute_t* attribute, unit_t* value) override
    {
        return array(unit, attribute)->append(value);
    }
    bool prepend_value(unit_t*, const unit_attribute_t*, unit_t*) override { return false; }

private:
    static array_dyn_t<unit_t*>* array(unit_t* unit, const unit_attribute_t* attribute)
    {
        return static_cast<array_dyn_t<unit_t*>*>(unit_attribute_value(unit, attribute));
    }
};

class tie_swap_t
{
public:
    explicit tie_swap_t(unit_resource_tie_t* tie) : m_saved(g_unit_resource_tie)
    {
        g_unit_resource_tie = tie;
    }
    ~tie_swap_t() { g_unit_resource_tie = m_saved; }

private:
    unit_resource_tie_t* m_saved;
};

// ---- one random value, written both ways ------------------------------------------------------

struct written_t
{
    std::string text;
    binary_value_t binary;
};

// Random values for one file; leaves are the units that owner and link attributes name.
class value_writer_t
{
public:
    value_writer_t(uint32_t seed, uint32_t version) : m_random(seed), m_version(version) {}

    // The file-local name of leaf n as text (the binary form stores n itself).
    static std::string leaf_name(uint32_t n)
    {
        char text[32];
        std::snprintf(text, sizeof(text), ".%02X.00.0000.00000000", n);
        return text;
    }
    uint32_t leaf_count() const { return m_leaves; }

    written_t element(unit_attr_type_t scalar)
    {
        written_t w;
        switch (scalar)
        {
        case unit_attr_type_t::string:
        case unit_attr_type_t::resource_tie:
        {
            const std::string s = random_string();
            w.text = quoted(s);
            w.binary = binary_value::string(s);
            return w;
        }
        case unit_attr_type_t::token:
        {
            static const char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz_";
            std::string s(1 + below(12), ' ');
            for (char& c : s)
                c = alphabet[below(37)];
            w.text = s;
            w.binary = binary_value::token(s);
            return w;
        }
        case unit_attr_type_t::float1:
            return reals(1);
        case unit_attr_type_t::float2:
            return vector(2);
        case unit_attr_type_t::float3:
            return vector(3);
        case unit_attr_type_t::float4:
            return vector(4);
        case unit_attr_type_t::fixed1:
            return fixeds(1);
        case unit_attr_type_t::fixed2:
            return fixeds(2);
        case unit_attr_type_t::fixed3:
            return fixeds(3);
        case unit_attr_type_t::fixed4:
            return fixeds(4);
        case unit_attr_type_t::float4x4:
            return join({ vector(4), vector(4), vector(4), vector(4) });
        case unit_attr_type_t::quaternion:
            return quaternion();
        case unit_attr_type_t::placement:
            return join({ position(), quaternion() });
        case unit_attr_type_t::placement_scale:
        {
            // Text: position, scale, rotation; binary: position, rotation, scale.
            written_t p = position(), s = reals(1), r = quaternion();
            w.text = p.text + " " + s.text + " " + r.text;
            w.binary = binary_value::join({ p.binary, r.binary, s.binary });
            return w;
        }
        case unit_attr_type_t::placement_scale3:
        {
            written_t p = position(), s = vector(3), r = quaternion();
            w.text = p.text + " " + s.text + " " + r.text;
            w.binary = binary_value::join({ p.binary, r.binary, s.binary });
            return w;
        }
        case unit_attr_type_t::plane:
        case unit_attr_type_t::sphere:
            return join({ vector(3), reals(1) });
        case unit_attr_type_t::aabox:
            return join({ vector(3), vector(3) });
        case unit_attr_type_t::s32:
        case unit_attr_type_t::s32_second:
            return integer<int32_t>([](int32_t v) { return binary_value::s32(v); });
        case unit_attr_type_t::u32:
        case unit_attr_type_t::u32_second:
            return integer<uint32_t>([](uint32_t v) { return binary_value::u32(v); });
        case unit_attr_type_t::s16:
            return integer<int16_t>([](int16_t v) { return binary_value::s16(v); });
        case unit_attr_type_t::u16:
            return integer<uint16_t>([](uint16_t v) { return binary_value::u16(v); });
        case unit_attr_type_t::s64:
            return integer<int64_t>([](int64_t v) { return binary_value::s64(v); });
        case unit_attr_type_t::u64:
            return integer<uint64_t>([](uint64_t v) { return binary_value::u64(v); });
        case unit_attr_type_t::int2:
        {
            const int32_t x = int32_t(m_random()), y = int32_t(m_random());
            char text[32];
            std::snprintf(text, sizeof(text), "(%d, %d)", x, y);
            w.text = text;
            w.binary = binary_value::int2(x, y);
            return w;
        }
        case unit_attr_type_t::boolean:
        {
            static const char* const words[] = { "false", "true", "0", "1", "FALSE", "True" };
            const uint32_t pick = below(6);
            w.text = words[pick];
            w.binary = binary_value::boolean(pick % 2 == 1);
            return w;
        }
        case unit_attr_type_t::enumeration:
        {
            // By name or by number in text; by number in binary, named or not by the class.
            const unit_enum_value_t& v = enum_values[below(4)];
            w.text = below(2) == 0 ? std::string(v.name) : std::to_string(v.value);
            w.binary = binary_value::enumeration(v.value);
            return w;
        }
        case unit_attr_type_t::owner_ptr:
        case unit_attr_type_t::link_ptr:
        case unit_attr_type_t::tolerant_link_ptr:
        {
            // Owners take a new leaf each; links point at any leaf owned so far, so the file
            // holds one tree.
            const bool owner = scalar == unit_attr_type_t::owner_ptr;
            if (below(5) == 0 || (!owner && m_leaves == 0))
            {
                w.text = "null";
                w.binary = binary_value::name(binary_name_t::no_name());
                return w;
            }
            const uint32_t n = owner ? ++m_leaves : 1 + below(m_leaves);
            w.text = leaf_name(n);
            w.binary = binary_value::name(binary_name_t::local_name(n));
            return w;
        }
        default:
            break;
        }
        ADD_FAILURE() << "no writer for type " << uint32_t(scalar);
        return w;
    }

    uint32_t below(uint32_t n) { return uint32_t(m_random() % n); }

private:
    written_t join(const std::vector<written_t>& parts)
    {
        written_t w;
        std::vector<binary_value_t> binary;
        for (const written_t& part : parts)
        {
            w.text += (w.text.empty() ? "" : " ") + part.text;
            binary.push_back(part.binary);
        }
        w.binary = binary_value::join(binary);
        return w;
    }

    float random_float()
    {
        static const float special[] = { 0.0f, -0.0f, 1.0f, -1.5f, 3.4e38f, 1.2e-38f, 1e-45f };
        if (below(4) == 0)
            return special[below(7)];
        std::uniform_real_distribution<float> spread(-1.0e6f, 1.0e6f);
        return spread(m_random);
    }

    // "&" and the bit pattern: exact in both directions.
    static std::string real_text(float value)
    {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof(bits));
        char text[16];
        std::snprintf(text, sizeof(text), "&%08x", bits);
        return text;
    }

    written_t reals(uint32_t count)
    {
        written_t w;
        std::vector<float> values;
        for (uint32_t i = 0; i < count; ++i)
        {
            values.push_back(random_float());
            w.text += (i > 0 ? " " : "") + real_text(values.back());
        }
        w.binary = binary_value::floats(values);
        return w;
    }

    written_t vector(uint32_t count)
    {
        written_t w;
        std::vector<float> values;
        for (uint32_t i = 0; i < count; ++i)
        {
            values.push_back(random_float());
            w.text += (i > 0 ? ", " : "(") + real_text(values.back());
        }
        w.text += ")";
        w.binary = binary_value::floats(values);
        return w;
    }

    written_t quaternion()
    {
        written_t w = vector(4);
        w.text[w.text.find(',')] = ';';
        return w;
    }

    // Text has no sector: the binary form of version 2 stores the offset that moves by zero.
    written_t position()
    {
        const float x = random_float(), y = random_float(), z = random_float();
        written_t w;
        w.text = "(" + real_text(x) + ", " + real_text(y) + ", " + real_text(z) + ")";
        w.binary = binary_value::position(m_version, x, y, z);
        return w;
    }

    written_t fixeds(uint32_t count)
    {
        written_t w;
        std::vector<int32_t> values;
        for (uint32_t i = 0; i < count; ++i)
        {
            values.push_back(int32_t(m_random()) >> below(31));
            if (count > 1)
                w.text += i > 0 ? ", " : "(";
            w.text += std::to_string(values.back());
        }
        if (count > 1)
            w.text += ")";
        w.binary = binary_value::fixeds(values);
        return w;
    }

    template <typename T, typename Encode> written_t integer(Encode encode)
    {
        uint64_t bits = uint64_t(m_random()) << 32 | m_random();
        if (below(3) == 0)
            bits >>= below(64);  // small values too
        const T value = T(bits);
        written_t w;
        w.text = std::to_string(value);
        w.binary = encode(value);
        return w;
    }

    std::string random_string()
    {
        std::string s(below(20), ' ');
        for (char& c : s)
            c = char(1 + below(255));  // no zero bytes: the binary form drops them
        return s;
    }

    static std::string quoted(const std::string& s)
    {
        std::string out = "\"";
        for (unsigned char c : s)
        {
            if (c == '"' || c == '\\')
            {
                out += '\\';
                out += char(c);
            }
            else if (c < 0x20 || c >= 0x7F)
            {
                char escape[8];
                std::snprintf(escape, sizeof(escape), "\\x%02x", unsigned(c));
                out += escape;
            }
            else
                out += char(c);
        }
        return out + "\"";
    }

    std::mt19937 m_random;
    uint32_t m_version;
    uint32_t m_leaves = 0;
};

// One unit of every type with random values and its leaves, as a text file and a binary file.
struct files_t
{
    std::string text;
    binary_bytes_t binary;
};

files_t write_files(uint32_t seed, uint32_t version)
{
    value_writer_t writer(seed, version);
    files_t files;
    files.text = "QsdNunit\n{\nrt_every : .root {\n";
    binary_class_layout_t every = { 1, "rt_every", {} };
    binary_unit_layout_t root = { 1, binary_name_t::local_name(0xFFFFFFFFFFFFFFFFu), {} };
    for (const unit_attribute_t* attribute = rt_every_attributes;
         attribute->type != unit_attr_type_t::none; ++attribute)
    {
        const unit_attr_type_t scalar = unit_attr_type_element_type(attribute->type);
        // Link variants 61 to 64 share the binary codes 59 to 62 in the same order.
        uint32_t code = uint32_t(attribute->type);
        if (code >= 53 && code <= 66)
            code = code <= 54 ? code + 12 : code - 2;
        binary_attribute_layout_t definition = { code, attribute->name, {} };
        if (scalar == unit_attr_type_t::enumeration && writer.below(2) == 0)
            for (const unit_enum_value_t& v : enum_values)
                definition.enum_table.push_back({ v.value, v.name });
        every.attributes.push_back(definition);

        if (!unit_attr_type_is_array(attribute->type))
        {
            written_t w = writer.element(scalar);
            files.text += std::string("  ") + attribute->name + ": " + w.text + "\n";
            root.values.push_back(w.binary);
            continue;
        }
        const uint32_t count = writer.below(4);
        if (writer.below(2) == 0)
            files.text += std::string("  ") + attribute->name + ": " + std::to_string(count) + "\n";
        std::vector<binary_value_t> elements;
        for (uint32_t i = 0; i < count; ++i)
        {
            written_t w = writer.element(scalar);
            const std::string index = writer.below(2) == 0 ? "[]" : "[" + std::to_string(i) + "]";
            files.text += std::string("  ") + attribute->name + index + ": " + w.text + "\n";
            elements.push_back(w.binary);
        }
        root.values.push_back(binary_value::array(elements));
    }
    files.text += "}\n";

    binary_file_layout_t file;
    file.version = version;
    file.add(every).add({ 2, "rt_leaf", { { 37, "id", {} } } }).add(root);
    for (uint32_t n = 1; n <= writer.leaf_count(); ++n)
    {
        files.text += "rt_leaf : " + value_writer_t::leaf_name(n) + " { id: " +
                      std::to_string(n) + " }\n";
        file.add({ 2, binary_name_t::local_name(n), { binary_value::s32(int32_t(n)) } });
    }
    files.text += "}\n";
    files.binary = file.encode();
    return files;
}

// ---- comparing ----------------------------------------------------------------------------

int32_t leaf_id(const unit_t* unit)
{
    return unit == nullptr ? 0 : static_cast<const rt_leaf_u*>(unit)->id;
}

template <typename T> bool same_element(const T& a, const T& b)
{
    if constexpr (std::is_same_v<T, owner_ptr_t<unit_t>> || std::is_same_v<T, link_ptr_t<unit_t>>)
        return leaf_id(a.get()) == leaf_id(b.get());
    else if constexpr (std::is_same_v<T, float>)
        return std::memcmp(&a, &b, sizeof(float)) == 0;  // -0 and 0 differ
    else
        return a == b;
}

// Compares every attribute but the ties, whose values are the tie's names.
void expect_same_values(const rt_every_u& a, const rt_every_u& b)
{
    for (const unit_attribute_t* attribute = rt_every_attributes;
         attribute->type != unit_attr_type_t::none; ++attribute)
    {
        SCOPED_TRACE(attribute->name);
        if (unit_attr_type_element_type(attribute->type) == unit_attr_type_t::resource_tie)
            continue;
        const bool is_array = unit_attr_type_is_array(attribute->type);
        unit_visit_element_type(
            attribute->type,
            [&]<typename T>(unit_type_tag_t<T>) {
                const void* va = unit_attribute_value(&a, attribute);
                const void* vb = unit_attribute_value(&b, attribute);
                if (!is_array)
                {
                    EXPECT_TRUE(same_element(*static_cast<const T*>(va),
                                             *static_cast<const T*>(vb)));
                    return;
                }
                const array_dyn_t<T>& xa = *static_cast<const array_dyn_t<T>*>(va);
                const array_dyn_t<T>& xb = *static_cast<const array_dyn_t<T>*>(vb);
                ASSERT_EQ(xa.size(), xb.size());
                for (uint32_t i = 0; i < xa.size(); ++i)
                    EXPECT_TRUE(same_element(xa[i], xb[i])) << "element " << i;
            },
            [] { ADD_FAILURE() << "unknown type"; });
    }
}

class round_trip_fixture : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bank.register_type(&rt_every_u::descriptor));
        ASSERT_TRUE(bank.register_type(&rt_leaf_u::descriptor));
        system = new unit_system_t(&bank);
    }
    void TearDown() override
    {
        unit_flush_pending_releases();
        EXPECT_EQ(system->live_unit_count(), 0u);
        delete system;
    }

    owner_ptr_t<unit_t> load(const char* data, size_t size, const char* name)
    {
        unit_load_t loader(system, nullptr, name);
        if (!loader.load_units_from_memory(data, uint32_t(size), name, UNKNOWNFS, name))
            return owner_ptr_t<unit_t>();
        return loader.load_typed_tree(&rt_every_u::descriptor);
    }

    unit_bank_t bank;
    unit_system_t* system = nullptr;
};

}  // namespace

TEST_F(round_trip_fixture, text_and_binary_load_to_equal_values)
{
    naming_tie_t tie;
    tie_swap_t swap(&tie);
    for (uint32_t seed = 1; seed <= 40; ++seed)
    {
        const uint32_t version = 1 + seed % 2;
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", version " << version);
        const files_t files = write_files(seed, version);
        message_capture_t capture;
        tie.names.clear();
        owner_ptr_t<unit_t> from_text = load(files.text.data(), files.text.size(), "rt.qsd");
        ASSERT_TRUE(from_text) << files.text;
        const std::vector<std::string> text_ties = tie.names;
        tie.names.clear();
        owner_ptr_t<unit_t> from_binary =
            load(reinterpret_cast<const char*>(files.binary.data()), files.binary.size(), "rt.bqsd");
        ASSERT_TRUE(from_binary);
        EXPECT_TRUE(capture.lines.empty());
        expect_same_values(*static_cast<rt_every_u*>(from_text.get()),
                           *static_cast<rt_every_u*>(from_binary.get()));
        EXPECT_EQ(tie.names, text_ties);
    }
}
