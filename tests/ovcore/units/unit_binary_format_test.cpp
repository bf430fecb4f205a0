// The binary format's primitive encodings, type codes and class definitions, read from a memory
// stream built by the test encoder.
#include "ovcore/units/unit_binary_format.h"

#include "ovcore/units/unit_name.h"
#include "ovcore/ufs/sequential_mem_file.h"
#include "tests/support/message_capture.h"
#include "tests/support/unit_binary_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace
{

binary_bytes_t with_header(uint32_t version, const binary_bytes_t& body)
{
    binary_bytes_t data = { 'B', 'Q', 'S', 'D' };
    put_u32(&data, version);
    data.insert(data.end(), body.begin(), body.end());
    return data;
}

// A reader over header + body, the header already read.
struct stream_t
{
    explicit stream_t(const binary_bytes_t& body, uint32_t version = 2)
        : data(with_header(version, body)),
          file(data.data(), data.size(), "<test>", UNKNOWNFS),
          reader(&file)
    {
        EXPECT_TRUE(reader.read_header());
    }

    binary_bytes_t data;
    sequential_mem_file_t file;
    unit_binary_stream_t reader;
};

binary_bytes_t bytes_of(const binary_value_t& value)
{
    return value.bytes;
}

const std::vector<std::string> read_error = { "[unit] Error while reading stream" };

}  // namespace

TEST(binary_attribute_type, maps_codes_to_unit_types_and_element_types)
{
    struct row_t
    {
        uint32_t code;
        bool is_array;
        uint32_t element;
        uint32_t unit_type;
    };
    const row_t rows[] = {
        { 1, false, 1, 1 },     { 2, true, 1, 2 },      { 51, false, 51, 51 },
        { 52, true, 51, 52 },   { 53, false, 53, 55 },  { 54, true, 53, 56 },
        { 55, false, 55, 57 },  { 56, true, 55, 58 },   { 57, false, 57, 59 },
        { 58, true, 57, 60 },   { 59, false, 59, 61 },  { 60, true, 59, 62 },
        { 61, false, 59, 63 },  { 62, true, 59, 64 },   { 63, false, 63, 65 },
        { 64, true, 63, 66 },   { 65, false, 65, 53 },  { 66, true, 65, 54 },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.code);
        const binary_unit_attr_type_t type = binary_unit_attr_type_t(row.code);
        EXPECT_EQ(binary_attribute_type_is_array(type), row.is_array);
        EXPECT_EQ(uint32_t(binary_attribute_type_element_type(type)), row.element);
        EXPECT_EQ(uint32_t(binary_attribute_type_to_unit_type(type)), row.unit_type);
    }
    EXPECT_FALSE(binary_attribute_type_is_valid(0));
    EXPECT_FALSE(binary_attribute_type_is_valid(67));
}

TEST(binary_attribute_type_death, element_type_of_an_unknown_code_is_fatal)
{
    EXPECT_DEATH((void)binary_attribute_type_element_type(binary_unit_attr_type_t(67)),
                 "binary_attribute_type_element_type\\(\\): Unknown type\\.");
    EXPECT_DEATH((void)binary_attribute_type_element_type(binary_unit_attr_type_t::none),
                 "Unknown type\\.");
}

TEST(binary_stream, reads_the_header_versions)
{
    struct row_t
    {
        binary_bytes_t data;
        bool ok;
        const char* message;
    };
    const row_t rows[] = {
        { with_header(1, {}), true, nullptr },
        { with_header(2, {}), true, nullptr },
        { with_header(0, {}), false, "[unit] Unsupported version 0 of binary format" },
        { with_header(3, {}), false, "[unit] Unsupported version 3 of binary format" },
        { { 'B', 'Q', 'S', 'D', 2, 0, 0 }, false, "[unit] Error while reading stream" },
    };
    for (const row_t& row : rows)
    {
        message_capture_t capture;
        sequential_mem_file_t file(row.data.data(), row.data.size(), "<test>", UNKNOWNFS);
        unit_binary_stream_t reader(&file);
        EXPECT_EQ(reader.read_header(), row.ok);
        if (row.message != nullptr)
            EXPECT_EQ(capture.lines, std::vector<std::string>{ row.message });
        else
            EXPECT_TRUE(capture.lines.empty());
    }
}

TEST(binary_stream, reads_little_endian_numbers)
{
    binary_bytes_t body = { 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFE, 0xFF };
    put_f32(&body, -2.5f);
    stream_t s(body);
    uint64_t u64 = 0;
    int16_t s16 = 0;
    float f = 0.0f;
    ASSERT_TRUE(s.reader.read_u64(&u64));
    ASSERT_TRUE(s.reader.read_s16(&s16));
    ASSERT_TRUE(s.reader.read_float(&f));
    EXPECT_EQ(u64, 0x0807060504030201u);
    EXPECT_EQ(s16, -2);
    EXPECT_EQ(f, -2.5f);
    EXPECT_EQ(s.reader.remaining(), 0u);
}

TEST(binary_stream, reads_strings_dropping_zero_bytes)
{
    struct row_t
    {
        std::string stored;
        std::string read;
    };
    const row_t rows[] = {
        { "", "" },
        { "base_name", "base_name" },
        { std::string("a\0b\0\0c", 6), "abc" },
        { std::string("\0", 1), "" },
        { std::string(600, 'x') + std::string(1, '\0') + "y", std::string(600, 'x') + "y" },
    };
    for (const row_t& row : rows)
    {
        stream_t s(bytes_of(binary_value::string(row.stored)));
        string_dyn_t text;
        ASSERT_TRUE(s.reader.read_string(&text));
        EXPECT_EQ(std::string(text.c_str(), text.length()), row.read);
    }
}

TEST(binary_stream, refuses_a_string_longer_than_the_data)
{
    binary_bytes_t body;
    put_u32(&body, 0xFFFFFFFFu);
    body.push_back('a');
    stream_t s(body);
    message_capture_t capture;
    string_dyn_t text;
    EXPECT_FALSE(s.reader.read_string(&text));
    EXPECT_EQ(capture.lines, read_error);
}

TEST(binary_stream, reads_the_three_unit_name_forms)
{
    struct row_t
    {
        binary_bytes_t stored;
        const char* name;
    };
    binary_bytes_t too_long_global;
    put_name(&too_long_global, binary_name_t::global_name("a.b.c.d.e.f.g.h.i.j.k"));
    binary_bytes_t max_count = { 254 };
    for (int i = 0; i < 254; ++i)
        put_u64(&max_count, encode_token("z"));
    std::string z254 = "z";
    for (int i = 1; i < 254; ++i)
        z254 += ".z";
    const row_t rows[] = {
        { bytes_of(binary_value::name(binary_name_t::no_name())), "" },
        { bytes_of(binary_value::name(binary_name_t::global_name("Font.Latin"))), "font.latin" },
        { bytes_of(binary_value::name(binary_name_t::global_name("abcdefghijkl"))),
          "abcdefghijkl" },
        { bytes_of(binary_value::name(binary_name_t::local_name(0x1122334455667788u))),
          ".88.77.5566.11223344" },
        { bytes_of(binary_value::name(binary_name_t::local_name(0))), ".00.00.0000.00000000" },
        // The count alone does not check the name's format; naming the unit does.
        { too_long_global, "a.b.c.d.e.f.g.h.i.j.k" },
        { max_count, z254.c_str() },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.name);
        message_capture_t capture;
        stream_t s(row.stored);
        string_dyn_t name("previous");
        ASSERT_TRUE(s.reader.read_unit_name(&name));
        EXPECT_STREQ(name.c_str(), row.name);
        EXPECT_TRUE(capture.lines.empty());
    }
}

TEST(binary_stream, rejects_bad_unit_names)
{
    struct row_t
    {
        binary_bytes_t stored;
        const char* message;
    };
    binary_bytes_t undecodable = { 1 };
    put_u64(&undecodable, ~uint64_t(0));  // more than 12 base-38 digits
    binary_bytes_t short_tokens = { 3 };
    put_u64(&short_tokens, encode_token("a"));
    const row_t rows[] = {
        { undecodable, "[unit] Unable to convert token to string" },
        { short_tokens, "[unit] Error while reading stream" },
        { { 255, 1, 2, 3 }, "[unit] Error while reading stream" },
        { {}, "[unit] Error while reading stream" },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.message);
        message_capture_t capture;
        stream_t s(row.stored);
        string_dyn_t name;
        EXPECT_FALSE(s.reader.read_unit_name(&name));
        EXPECT_EQ(capture.lines, std::vector<std::string>{ row.message });
    }
}

TEST(binary_stream, reads_positions_with_sector_offsets_in_version_2)
{
    struct row_t
    {
        uint32_t version;
        binary_bytes_t stored;
        position_t expected;
    };
    const row_t rows[] = {
        { 1, bytes_of(binary_value::floats({ 1.0f, 2.0f, 3.0f })), { 1.0f, 2.0f, 3.0f, 0, 0 } },
        { 2, bytes_of(binary_value::position(2, 1.0f, 2.0f, 3.0f)), { 1.0f, 2.0f, 3.0f, 0, 0 } },
        { 2, bytes_of(binary_value::position(2, 0.5f, 0.0f, -1.0f, -3, 7)),
          { 0.5f, 0.0f, -1.0f, -3, 7 } },
        { 2, bytes_of(binary_value::position(2, 0.0f, 0.0f, 0.0f, -2048, 2047)),
          { 0.0f, 0.0f, 0.0f, -2048, 2047 } },
        // w = 0: both coordinates move by -2048.
        { 2, bytes_of(binary_value::floats({ 0.0f, 0.0f, 0.0f, 0.0f })),
          { 0.0f, 0.0f, 0.0f, -2048, -2048 } },
        // The fraction of w is dropped.
        { 2, bytes_of(binary_value::floats({ 0.0f, 0.0f, 0.0f, 2049.75f })),
          { 0.0f, 0.0f, 0.0f, 1, -2048 } },
    };
    for (const row_t& row : rows)
    {
        stream_t s(row.stored, row.version);
        position_t position;
        ASSERT_TRUE(s.reader.read_position(&position));
        EXPECT_EQ(position, row.expected);
        EXPECT_EQ(s.reader.remaining(), 0u);
    }
}

TEST(binary_stream, rejects_sector_offsets_that_do_not_fit)
{
    const float bad[] = { std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(), -1.0e30f, 1.0e30f,
                          float(int64_t(40000 + 2048) * 4096) };
    for (float w : bad)
    {
        SCOPED_TRACE(w);
        message_capture_t capture;
        stream_t s(bytes_of(binary_value::floats({ 0.0f, 0.0f, 0.0f, w })));
        position_t position;
        EXPECT_FALSE(s.reader.read_position(&position));
        ASSERT_EQ(capture.lines.size(), 1u);
        EXPECT_NE(capture.lines[0].find("sector offset"), std::string::npos);
    }
}

TEST(binary_stream, reads_compound_values_in_file_order)
{
    binary_bytes_t body = bytes_of(binary_value::join({
        binary_value::position(2, 1.0f, 2.0f, 3.0f, 1, -1),
        binary_value::floats({ 0.5f, 0.1f, 0.2f, 0.3f }),  // rotation
        binary_value::f32(4.0f),                           // scale
    }));
    stream_t s(body);
    placement_scale_t placement;
    ASSERT_TRUE(s.reader.read_placement_scale(&placement));
    EXPECT_EQ(placement.position, (position_t{ 1.0f, 2.0f, 3.0f, 1, -1 }));
    EXPECT_EQ(placement.rotation, (quaternion_t{ 0.5f, 0.1f, 0.2f, 0.3f }));
    EXPECT_EQ(placement.scale, 4.0f);
}

// ---- class definitions ---------------------------------------------------------------------

namespace
{

binary_bytes_t class_body(const binary_class_layout_t& layout)
{
    binary_bytes_t out;
    put_class_definition(&out, layout);
    return binary_bytes_t(out.begin() + 5, out.end());  // without block id and service byte
}

}  // namespace

TEST(binary_class_definition, reads_attributes_and_enum_tables)
{
    const binary_class_layout_t layout = {
        7,
        "char_set_config",
        { { 1, "file", {} },
          { 55, "style", { { 3, "outline" }, { -1, "none" }, { 0, "plain" } } },
          { 60, "children", {} } },
    };
    stream_t s(class_body(layout));
    class_metadata_map_t classes;
    message_capture_t capture;
    ASSERT_TRUE(s.reader.read_class_definition(&classes));
    EXPECT_TRUE(capture.lines.empty());
    const class_metadata_t* metadata = classes.find(7);
    ASSERT_NE(metadata, nullptr);
    EXPECT_STREQ(metadata->class_name.c_str(), "char_set_config");
    ASSERT_EQ(metadata->attributes.size(), 3u);
    EXPECT_STREQ(metadata->attributes[1].name.c_str(), "style");
    EXPECT_EQ(metadata->attributes[2].type, binary_unit_attr_type_t::link_ptr_array);
    const binary_attribute_definition_t& style = metadata->attributes[1];
    ASSERT_NE(style.find_enum_value(-1), nullptr);
    EXPECT_STREQ(style.find_enum_value(-1)->name.c_str(), "none");
    EXPECT_STREQ(style.find_enum_value(3)->name.c_str(), "outline");
    EXPECT_EQ(style.find_enum_value(1), nullptr);
}

TEST(binary_class_definition, rejects_bad_definitions)
{
    struct row_t
    {
        const char* what;
        binary_class_layout_t layout;
        const char* message;
    };
    const row_t rows[] = {
        { "type 67", { 1, "unit", { { 67, "x", {} } } }, "[unit] Invalid attribute type 67" },
        { "duplicate enum value",
          { 1, "unit", { { 56, "e", { { 1, "a" }, { 2, "b" }, { 2, "c" }, { 1, "d" } } } } },
          "[unit] Duplicate enum value 2 -> 'c'" },
        { "class id 0", { 0, "unit", {} }, "[unit] Invalid class id 0" },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.what);
        stream_t s(class_body(row.layout));
        class_metadata_map_t classes;
        message_capture_t capture;
        EXPECT_FALSE(s.reader.read_class_definition(&classes));
        EXPECT_EQ(capture.lines, std::vector<std::string>{ row.message });
        EXPECT_EQ(classes.size(), 0u);
    }
}

TEST(binary_class_definition, rejects_a_class_id_defined_twice)
{
    binary_bytes_t body = class_body({ 4, "unit", {} });
    const binary_bytes_t second = class_body({ 4, "other", {} });
    body.insert(body.end(), second.begin(), second.end());
    stream_t s(body);
    class_metadata_map_t classes;
    message_capture_t capture;
    ASSERT_TRUE(s.reader.read_class_definition(&classes));
    EXPECT_FALSE(s.reader.read_class_definition(&classes));
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "[unit] Duplicate class id 4" });
    EXPECT_STREQ(classes.find(4)->class_name.c_str(), "unit");
}

TEST(binary_class_definition, fails_at_every_truncation)
{
    const binary_bytes_t body =
        class_body({ 9, "thing", { { 3, "t", {} }, { 55, "e", { { 1, "one" }, { 2, "two" } } } } });
    for (size_t size = 0; size < body.size(); ++size)
    {
        SCOPED_TRACE(size);
        stream_t s(binary_bytes_t(body.begin(), body.begin() + ptrdiff_t(size)));
        class_metadata_map_t classes;
        message_capture_t capture;
        EXPECT_FALSE(s.reader.read_class_definition(&classes));
        EXPECT_EQ(capture.lines, read_error);
    }
}
