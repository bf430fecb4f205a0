// Loading unit files: reading and recognising the file, unit blocks, names and references,
// arrays, unknown attributes, includes, the post-load passes and taking the tree.
#include "ovcore/units/unit_loader.h"

#include "ovcore/ufs/fs_file.h"
#include "ovcore/units/unit_name.h"
#include "tests/ovcore/units/unit_test_types.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace unit_test_types;

namespace
{

const char example_file[] = "QsdNunit\n"
                            "{\n"
                            "configuration : .config {\n"
                            "    base: \"base_name\"\n"
                            "    char_config: 1\n"
                            "    char_config[0]: .chars.latin\n"
                            "}\n"
                            "char_set_config : .chars.latin {\n"
                            "    width: 16\n"
                            "    antialias: true\n"
                            "}\n"
                            "}\n";

class unit_loader_test : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(register_all(&m_bank));
        system.reset(new unit_system_t(&m_bank));
    }

    void TearDown() override
    {
        root.reset();
        load.reset();
        unit_flush_pending_releases();
        EXPECT_EQ(system->live_unit_count(), 0u);
        EXPECT_EQ(unit_name_count(), 0u);
        system.reset();
    }

    // Loads `text` as a file of that name, from memory.
    bool load_text(const std::string& text, fs_device_type_t realm = UNKNOWNFS,
                   const char* path = "mem/test.qsd")
    {
        load.reset(new unit_load_t(system.get(), nullptr, nullptr));
        return load->load_units_from_memory(text.data(), uint32_t(text.size()), path, realm,
                                            "test.qsd");
    }

    // Loads a unit file and takes its tree; the lines issued on the way.
    std::vector<std::string> load_tree(const std::string& text)
    {
        message_capture_t capture;
        if (load_text(text))
            root = load->take_single_tree();
        return capture.lines;
    }

    template <typename T> T* root_as() { return unit_cast<T>(root.get()); }

    unit_bank_t m_bank;
    auto_ptr_t<unit_system_t> system;
    auto_ptr_t<unit_load_t> load;
    owner_ptr_t<unit_t> root;
};

std::string unit_file(const std::string& body)
{
    return "QsdNunit {\n" + body + "\n}\n";
}

using lines_t = std::vector<std::string>;

}  // namespace

TEST_F(unit_loader_test, loads_the_example_file)
{
    message_capture_t capture;
    ASSERT_TRUE(load_text(example_file));
    root = load->load_typed_tree(&configuration_u::descriptor);
    EXPECT_TRUE(capture.lines.empty());
    configuration_u* config = root_as<configuration_u>();
    ASSERT_NE(config, nullptr);
    EXPECT_STREQ(config->base.c_str(), "base_name");
    ASSERT_EQ(config->char_config.size(), 1u);
    char_set_config_u* chars = unit_cast<char_set_config_u>(config->char_config[0].get());
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(chars->width, 16u);
    EXPECT_TRUE(chars->antialias);
    // File-local names stay with the load; loading flags are gone.
    EXPECT_EQ(config->name_id(), 0u);
    EXPECT_EQ(config->state_flags(), 0u);
    EXPECT_EQ(chars->reference_count(), 1u);
    EXPECT_EQ(load->mode(), unit_load_mode_t::idle);
}

TEST_F(unit_loader_test, names_units_with_global_names_and_links_them)
{
    EXPECT_TRUE(load_tree(unit_file("configuration : font.Cfg { char_config[]: font.latin }\n"
                                    "char_set_config : Font.Latin { sibling: font.cfg }"))
                    .empty());
    ASSERT_NE(root_as<configuration_u>(), nullptr);
    string_dyn_t name;
    ASSERT_TRUE(unit_name_to_text(root->name_id(), &name));
    EXPECT_STREQ(name.c_str(), "font.cfg");
    auto* chars = unit_cast<char_set_config_u>(root_as<configuration_u>()->char_config[0].get());
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(chars->sibling.get(), root.get());
    EXPECT_EQ(unit_name_find_unit("font.latin"), chars);

    // A later file links to the loaded unit directly; defining it again is refused.
    owner_ptr_t<unit_t> first = std::move(root);
    EXPECT_TRUE(load_tree(unit_file("char_set_config : .other { sibling: font.latin }")).empty());
    EXPECT_EQ(root_as<char_set_config_u>()->sibling.get(), chars);
    EXPECT_EQ(load_tree(unit_file("char_set_config : font.latin { }")),
              (lines_t{ "[unit] File 'test.qsd', line 2:",
                        "[unit] The unit name 'font.latin' is already taken by an existing unit "
                        "(of type 'char_set_config')." }));
    EXPECT_EQ(load_tree(unit_file("configuration : .c { char_config[]: font.latin }")),
              (lines_t{ "[unit] File 'test.qsd', line 2:",
                        "[unit] The unit name 'font.latin', referenced in the attribute "
                        "'char_config' of unit '_nameless.c' (of type 'configuration') is "
                        "already taken." }));
    root.reset();
    first.reset();
}

TEST_F(unit_loader_test, loads_every_attribute_type_from_text)
{
    const std::string body =
        "every_type : .all {\n"
        "string: \"text\" string_array[]: a string_array[1]: \"b\"\n"
        "token: Tok_1 token_array: 1 token_array[]: abc\n"
        "float1: 1.5 float1_array[]: &3f800000\n"
        "float2: (1, 2) float3: (1, 2, 3) float4: (1, 2, 3, 4) float4_array[]: (5, 6, 7, 8)\n"
        "fixed1: 0400 fixed2: (256, -256) fixed3: (1, 2, 3) fixed4: (1, 2, 3, 4)\n"
        "float4x4: (1, 0, 0, 0) (0, 1, 0, 0) (0, 0, 1, 0) (5, 6, 7, 1)\n"
        "quaternion: (0.5; 0.5, 0.5, 0.5)\n"
        "placement: (1, 2, 3) (1; 0, 0, 0)\n"
        "placement_scale: (1, 2, 3) 2.5 (0; 1, 0, 0)\n"
        "placement_scale3: (1, 2, 3) (4, 5, 6) (0; 0, 1, 0)\n"
        "plane: (0, 1, 0) -2 sphere: (1, 1, 1) 3 aabox: (0, 0, 0) (1, 2, 3)\n"
        "s32: -2147483648 u32: 4294967295 s16: -32768 u16: 0xFFFF\n"
        "s32_second: 7 u32_second: 8 s64: -9223372036854775808 u64: 18446744073709551615\n"
        "int2: (-1, 2) int2_array[]: (3, 4) boolean: TRUE boolean_array[]: 0\n"
        "enumeration: blue enumeration_array[]: 2 enumeration_array[]: \"red\"\n"
        "owner_ptr: .child owner_ptr_array[]: null link_ptr: .child\n"
        "tolerant_link_ptr: .all link_ptr_array[]: .all\n"
        "}\n"
        "every_type : .child { }";
    EXPECT_TRUE(load_tree(unit_file(body)).empty());
    every_type_u* u = root_as<every_type_u>();
    ASSERT_NE(u, nullptr);
    EXPECT_STREQ(u->string.c_str(), "text");
    ASSERT_EQ(u->string_array.size(), 2u);
    EXPECT_STREQ(u->string_array[1].c_str(), "b");
    token_t expected_token = 0;
    ASSERT_TRUE(token_from_text("tok_1", 5, &expected_token));
    EXPECT_EQ(u->token, expected_token);
    EXPECT_EQ(u->token_array.size(), 1u);
    EXPECT_EQ(u->float1, 1.5f);
    EXPECT_EQ(u->float1_array[0], 1.0f);
    EXPECT_EQ(u->float2, (float2_t{ 1, 2 }));
    EXPECT_EQ(u->float3, (float3_t{ 1, 2, 3 }));
    EXPECT_EQ(u->float4, (float4_t{ 1, 2, 3, 4 }));
    EXPECT_EQ(u->float4_array[0], (float4_t{ 5, 6, 7, 8 }));
    EXPECT_EQ(u->fixed1, 256);
    EXPECT_EQ(u->fixed2, (fixed2_t{ 256, -256 }));
    EXPECT_EQ(u->fixed4, (fixed4_t{ 1, 2, 3, 4 }));
    EXPECT_EQ(u->float4x4.rows[3], (float4_t{ 5, 6, 7, 1 }));
    EXPECT_EQ(u->quaternion, (quaternion_t{ 0.5f, 0.5f, 0.5f, 0.5f }));
    EXPECT_EQ(u->placement.position.z, 3.0f);
    EXPECT_EQ(u->placement_scale.scale, 2.5f);
    EXPECT_EQ(u->placement_scale.rotation, (quaternion_t{ 0, 1, 0, 0 }));
    EXPECT_EQ(u->placement_scale3.scale, (float3_t{ 4, 5, 6 }));
    EXPECT_EQ(u->plane.distance, -2.0f);
    EXPECT_EQ(u->sphere.radius, 3.0f);
    EXPECT_EQ(u->aabox.maximum, (float3_t{ 1, 2, 3 }));
    EXPECT_EQ(u->s32, INT32_MIN);
    EXPECT_EQ(u->u32, UINT32_MAX);
    EXPECT_EQ(u->s16, INT16_MIN);
    EXPECT_EQ(u->u16, 0xFFFF);
    EXPECT_EQ(u->s32_second, 7);
    EXPECT_EQ(u->u32_second, 8u);
    EXPECT_EQ(u->s64, INT64_MIN);
    EXPECT_EQ(u->u64, UINT64_MAX);
    EXPECT_EQ(u->int2, (int2_t{ -1, 2 }));
    EXPECT_EQ(u->int2_array[0], (int2_t{ 3, 4 }));
    EXPECT_TRUE(u->boolean);
    EXPECT_FALSE(u->boolean_array[0]);
    EXPECT_EQ(u->enumeration, 7);
    EXPECT_EQ(u->enumeration_array.size(), 2u);
    EXPECT_EQ(u->enumeration_array[1], 1);
    every_type_u* child = unit_cast<every_type_u>(u->owner_ptr.get());
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(u->owner_ptr_array.size(), 1u);
    EXPECT_EQ(u->owner_ptr_array[0].get(), nullptr);
    EXPECT_EQ(u->link_ptr.get(), child);
    EXPECT_EQ(u->tolerant_link_ptr.get(), u);
    EXPECT_EQ(u->link_ptr_array[0].get(), u);
    // Links back to the root would keep it alive: clear them before the tree goes.
    u->tolerant_link_ptr.reset();
    u->link_ptr_array.clear();
}

TEST_F(unit_loader_test, fails_resource_ties_with_the_default_tie)
{
    EXPECT_EQ(load_tree(unit_file("every_type : .a { resource_tie: texture }")),
              (lines_t{ "[unit] Can not load the resource tie." }));
}

struct domain_case_t
{
    const char* line;
    std::vector<std::string> messages;  // after the location header
};

TEST_F(unit_loader_test, checks_every_value_against_its_domain)
{
    const char* const out = "of unit '_nameless.r' (of type 'ranged')";
    auto domain = [out](const std::string& value, const char* attribute) {
        return "[unit] The requested value " + value + " of the attribute '" + attribute + "' " +
               out + " is out of the attribute domain.";
    };
    const domain_case_t cases[] = {
        { "count: -1",
          { "Expecting unsigned value, found '-'",
            "[unit] File 'test.qsd', line 2: the attribute 'count' of the unit '.r' (of type "
            "'ranged') takes a whole number from 0 up, without quotes or a sign, as in "
            "count: 16." } },
        { "count: 4294967296", { domain("4294967296", "count") } },
        { "count: 101", { domain("101", "count") } },
        { "offset: 40000", { domain("40000", "offset") } },
        { "offset: -11", { domain("-11", "offset") } },
        { "colour: purple",
          { std::string("[unit] The requested value 'purple' is outside the domain of the "
                        "attribute 'colour' ") + out + "." } },
        { "colour: 3",
          { std::string("[unit] The requested value '3' is outside the domain of the attribute "
                        "'colour' ") + out + "." } },
        { "colour: 5000000000",
          { std::string("[unit] The requested value 5000000000 of the attribute 'colour' ") + out +
            " is too large." } },
        { "colours[]: 1 colours[]: -5000000000",
          { std::string("[unit] The requested value -5000000000 of the element 1 of the "
                        "attribute 'colours' ") + out + " is too large." } },
        { "child: null", { domain("'null'", "child") } },
        { "label: \"abcde\"", { domain("'abcde'", "label") } },
        { "ratio: 1.5", { domain("'1.5'", "ratio") } },
        { "size: (1, 11)", { domain("'(1, 11)'", "size") } },
        { "weight: 384", { domain("'1.500000'", "weight") } },
        { "weights: (0, -1)", { domain("'(0.000000, -0.003906)'", "weights") } },
        { "rotation: (1; 0, 0, 0)", { domain("'(1; 0, 0, 0)'", "rotation") } },
        { "flag: true", { domain("'true'", "flag") } },
        { "where: (0, 0, 0) (1; 0, 0, 0)",
          { std::string("[unit] The requested value of the attribute 'where' ") + out +
            " is out of the attribute domain." } },
        { "old: 11", { domain("11", "old") } },
    };
    for (const domain_case_t& c : cases)
    {
        SCOPED_TRACE(c.line);
        lines_t expected = { "[unit] File 'test.qsd', line 2:" };
        expected.insert(expected.end(), c.messages.begin(), c.messages.end());
        EXPECT_EQ(load_tree(unit_file(std::string("ranged : .r { ") + c.line + " }")), expected);
        EXPECT_EQ(root.get(), nullptr);
    }
}

TEST_F(unit_loader_test, accepts_values_inside_their_domains)
{
    EXPECT_TRUE(load_tree(unit_file("ranged : .r { count: 100 offset: -10 colour: green "
                                    "colours[]: 1 child: .c label: abcd ratio: 1 size: (10, 0) "
                                    "weight: 256 }\nchar_set_config : .c { }"))
                    .empty());
    ranged_u* r = root_as<ranged_u>();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->count, 100u);
    EXPECT_EQ(r->offset, -10);
    EXPECT_EQ(r->colour, 2);
    EXPECT_STREQ(r->label.c_str(), "abcd");
    EXPECT_NE(unit_cast<char_set_config_u>(r->child.get()), nullptr);
}

TEST_F(unit_loader_test, rejects_text_that_is_no_token)
{
    EXPECT_EQ(load_tree(unit_file("every_type : .a { token: abcdefghijklm }")),
              (lines_t{ "[unit] File 'test.qsd', line 2:",
                        "[unit] The requested value 'abcdefghijklm' of the attribute 'token' of "
                        "unit '_nameless.a' (of type 'every_type') is out of the attribute "
                        "domain." }));
}

TEST_F(unit_loader_test, checks_unit_types_of_loaded_units_at_once)
{
    EXPECT_TRUE(load_tree(unit_file("hooked : loaded.unit { }")).empty());
    owner_ptr_t<unit_t> loaded = std::move(root);
    EXPECT_EQ(load_tree(unit_file("ranged : .r { peer: loaded.unit }")),
              (lines_t{ "[unit] File 'test.qsd', line 2:",
                        "[unit] The requested value 'loaded.unit' of the attribute 'peer' of "
                        "unit '_nameless.r' (of type 'ranged') is out of the attribute "
                        "domain." }));
}

TEST_F(unit_loader_test, checks_unit_types_of_references_once_resolved)
{
    EXPECT_EQ(load_tree(unit_file("ranged : .r { child: .h }\nhooked : .h { }")),
              (lines_t{ "[unit] The requested value '_nameless.h' of the attribute 'child' of "
                        "unit '_nameless.r' (of type 'ranged') is out of the attribute "
                        "domain." }));
    EXPECT_EQ(load_tree(unit_file("ranged : .r { peer: .h child: .c }\nhooked : .h { }\n"
                                  "char_set_config : .c { }")),
              (lines_t{ "[unit] The requested value '_nameless.h' of the attribute 'peer' of "
                        "unit '_nameless.r' (of type 'ranged') is out of the attribute "
                        "domain." }));
}

TEST_F(unit_loader_test, only_warns_about_obsolete_attributes)
{
    const std::string old = "Ignoring obsolete attribute 'old' of unit '_nameless.r' (of type "
                            "'ranged').";
    const std::string old_list = "Ignoring obsolete attribute 'old_list' of unit '_nameless.r' "
                                 "(of type 'ranged').";
    // A value, a length line, an appended and an indexed element (no order check).
    EXPECT_EQ(load_tree(unit_file("ranged : .r { old: 3 old_list: 4 old_list[]: 1 "
                                  "old_list[5]: 2 }")),
              (lines_t{ old, old_list, old_list, old_list }));
    ASSERT_NE(root_as<ranged_u>(), nullptr);
    EXPECT_EQ(root_as<ranged_u>()->count, 5u);
}

TEST_F(unit_loader_test, reads_compound_values_in_text_order)
{
    EXPECT_EQ(load_tree(unit_file("every_type : .a {\nplacement_scale: (1, 2, 3) (1; 0, 0, 0) 2 }")),
              (lines_t{ "[unit] File 'test.qsd', line 3:", "Expecting real number, found '('",
                        "[unit] File 'test.qsd', line 3: the attribute 'placement_scale' of the "
                        "unit '.a' (of type 'every_type') takes numbers without quotes, blanks "
                        "between them." }));
}

struct file_case_t
{
    std::string contents;
    std::vector<std::string> messages;
};

TEST_F(unit_loader_test, recognises_the_file_form)
{
    const char* magic = "[unit] A unit file in text form must start with the word QsdNunit, then "
                        "one { ... } body holding its unit blocks.";
    const file_case_t cases[] = {
        { "QsdNuni", { "[unit] The file 'test.qsd' does not contain serialised units. (reported "
                       "size 7 < 8)" } },
        { "QsdNunit",
          { "[unit] File 'test.qsd', line 1:", "Unexpected end of file.",
            "[unit] The file 'test.qsd' does not contain serialised units. (scan_open)" } },
        { "qsdnunit{}", { "[unit] The file 'test.qsd' does not contain serialised units - "
                          "missing magic mark.", magic } },
        { " QsdNunit{}", { "[unit] The file 'test.qsd' does not contain serialised units - "
                           "missing magic mark.", magic } },
        { "// x\nQsdNunit{}", { "[unit] The file 'test.qsd' does not contain serialised units - "
                                "missing magic mark.", magic } },
        { std::string("BQSD\x01\0\0\0\0\0\0\0\0", 13),
          { "[unit] There were no units in the file 'test.qsd'." } },
        { "\xEF\xBB\xBFQsdNunit{}", { "[unit] There were no units in the file 'test.qsd'." } },
        { "QsdNunit{}", { "[unit] There were no units in the file 'test.qsd'." } },
        { "QsdNunit{} x",
          { "[unit] File 'test.qsd', line 1:", "Expecting end of file, found 'x'",
            "[unit] There were no units in the file 'test.qsd'." } },
        { unit_file("hooked : .a { }\nhooked : .b { }"),
          { "[unit] There are multiple unit trees in the file 'test.qsd'.",
            "[unit] The unit '.b' (of type 'hooked') at line 3 is owned by no unit of the tree "
            "of '.a': remove it, or give it an owner." } },
        { unit_file("configuration : .a { }\nchar_set_config : .b { }"),
          { "[unit] There are multiple unit trees in the file 'test.qsd'.",
            "[unit] The unit '.b' (of type 'char_set_config') at line 3 is owned by no unit of "
            "the tree of '.a': list it in 'char_config' of '.a', or remove it." } },
    };
    for (const file_case_t& c : cases)
    {
        SCOPED_TRACE(c.contents);
        EXPECT_EQ(load_tree(c.contents), c.messages);
        EXPECT_EQ(root.get(), nullptr);
    }
}

TEST_F(unit_loader_test, unscrambles_the_scrambled_container)
{
    const std::string plain = example_file;
    const uint32_t seed = 200;
    std::string file = std::string("\x33\x6E\x4B\x01\x00", 5) + char(seed);
    for (uint32_t i = 0; i < plain.size(); ++i)
    {
        const uint32_t k = (i + seed) & 0xFF;
        const uint32_t t = (((k << 2) ^ ~k) << 3) & 0xFF;
        file += char(t ^ uint8_t(plain[i]) ^ k);
    }
    EXPECT_TRUE(load_tree(file).empty());
    EXPECT_NE(root_as<configuration_u>(), nullptr);
}

TEST_F(unit_loader_test, reports_bad_unit_blocks_at_their_line)
{
    const file_case_t cases[] = {
        { unit_file("missing : .a { }"), { "[unit] The 'missing' is not a unit type name." } },
        { unit_file("abstract : .a { }"),
          { "[unit] The 'abstract' is not an abstract unit type name." } },
        { unit_file("hooked : a..b { }"), { "[unit] The unit name 'a..b' is in wrong format." } },
        { unit_file("hooked : .a { }\nhooked : .a { }"),
          { "[unit] The unit name '.a' is already taken by an existing unit (of type "
            "'hooked')." } },
        { unit_file("every_type : .a { colour: 1 }"),
          { "[unit] The unit '_nameless.a' of type 'every_type' has no attribute named "
            "'colour'." } },
        { unit_file("hooked : .a { fail[0]: true }"), { "Expecting ':', found '['" } },
        { unit_file("configuration : .a { char_config: 2 char_config[1]: null }"),
          { "[unit] The values in array attribute 'char_config' of unit '_nameless.a' (of type "
            "'configuration') must be specified in order - trying to set the element 1 of "
            "array of size 0." } },
        { unit_file("configuration : .a { char_config: 4294967296 }"),
          { "[unit] The requested length of the array attribute 'char_config' of unit "
            "'_nameless.a' (of type 'configuration') is too large." } },
        { unit_file("configuration : .a { char_config[]: .b char_config[]: .b }\n"
                    "char_set_config : .b { }"),
          { "[unit] The unit '.b', referenced in the attribute 'char_config' of unit "
            "'_nameless.a' (of type 'configuration') is already owned by something else." } },
    };
    for (const file_case_t& c : cases)
    {
        SCOPED_TRACE(c.contents);
        lines_t expected = { "[unit] File 'test.qsd', line 2:" };
        expected.insert(expected.end(), c.messages.begin(), c.messages.end());
        const lines_t lines = load_tree(c.contents);
        // The duplicate header stands on line 3.
        if (!lines.empty() && lines[0] == "[unit] File 'test.qsd', line 3:")
            expected[0] = lines[0];
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(root.get(), nullptr);
    }
}

TEST_F(unit_loader_test, hands_unknown_attributes_to_the_unit)
{
    EXPECT_EQ(load_tree(unit_file("char_set_config : .a { extra: (1; 2, 3, 4) (5, 6, 7) "
                                  "list[]: word list[3]: \"q\" n: -1.5 }")),
              (lines_t{ "[unit] Ignored unknown attribute extra = (1; 2, 3, 4) (5, 6, 7)",
                        "[unit] File 'test.qsd', line 2: the unit '.a' (of type "
                        "'char_set_config') has no attribute 'extra'.",
                        "[unit] Ignored unknown attribute list[] = word",
                        "[unit] File 'test.qsd', line 2: the unit '.a' (of type "
                        "'char_set_config') has no attribute 'list'.",
                        "[unit] Ignored unknown attribute list[3] = \"q\"",
                        "[unit] File 'test.qsd', line 2: the unit '.a' (of type "
                        "'char_set_config') has no attribute 'list'.",
                        "[unit] Ignored unknown attribute n = -1.5",
                        "[unit] File 'test.qsd', line 2: the unit '.a' (of type "
                        "'char_set_config') has no attribute 'n'." }));
    // A name near one of the type's attributes is offered in its place.
    EXPECT_EQ(load_tree(unit_file("char_set_config : .a {\nantialas: true\nwdith: 3 }")),
              (lines_t{ "[unit] Ignored unknown attribute antialas = true",
                        "[unit] File 'test.qsd', line 3: the unit '.a' (of type "
                        "'char_set_config') has no attribute 'antialas'; did you mean "
                        "'antialias'?",
                        "[unit] Ignored unknown attribute wdith = 3",
                        "[unit] File 'test.qsd', line 4: the unit '.a' (of type "
                        "'char_set_config') has no attribute 'wdith'; did you mean 'width'?" }));
    EXPECT_NE(root_as<char_set_config_u>(), nullptr);
}

TEST_F(unit_loader_test, says_an_unquoted_text_cut_short_by_a_sign_needs_quotes)
{
    const lines_t cut = { "[unit] File 'test.qsd', line 3:",
                          "Expecting attribute name or closing bracket, found '/'",
                          "[unit] File 'test.qsd', line 3: a text value with characters other "
                          "than letters, digits, '_' and '.' must be in double quotes." };
    EXPECT_EQ(load_tree(unit_file("every_type : .a {\nstring: fonts/a.ttf }")), cut);
    // Quoted, the text is whole: what follows is another mistake.
    EXPECT_EQ(load_tree(unit_file("every_type : .a {\nstring: \"fonts\" /a.ttf }")),
              (lines_t{ cut[0], cut[1] }));
    // On the next line, the sign starts a line of its own.
    EXPECT_EQ(load_tree(unit_file("every_type : .a {\nstring: fonts\n/a.ttf }")),
              (lines_t{ "[unit] File 'test.qsd', line 4:", cut[1] }));
}

TEST_F(unit_loader_test, reports_dangling_references)
{
    EXPECT_EQ(load_tree(unit_file("char_set_config : .a { sibling: .nowhere }")),
              (lines_t{ "[unit] The unit '_nameless.a' of type 'char_set_config' has dangling "
                        "pointer (to '_nameless.nowhere') in the attribute named 'sibling'.",
                        "[unit] The file 'test.qsd' defines no unit '.nowhere'; the units it "
                        "names are '.a'.",
                        "[unit] The pointer to '_nameless.nowhere' looks like dangling "
                        "pointer." }));
    EXPECT_EQ(root.get(), nullptr);
    // A tolerant link is reported and left empty; the load succeeds.
    EXPECT_EQ(load_tree(unit_file("every_type : .a { tolerant_link_ptr: .nowhere }")),
              (lines_t{ "[unit] The unit '_nameless.a' of type 'every_type' has dangling "
                        "pointer (to '_nameless.nowhere') in the attribute named "
                        "'tolerant_link_ptr'.",
                        "[unit] The file 'test.qsd' defines no unit '.nowhere'; the units it "
                        "names are '.a'.",
                        "[unit] The pointer to '_nameless.nowhere' looks like dangling "
                        "pointer." }));
    ASSERT_NE(root_as<every_type_u>(), nullptr);
    EXPECT_EQ(root_as<every_type_u>()->tolerant_link_ptr.get(), nullptr);
    EXPECT_EQ(load_tree(unit_file("configuration : .a { char_config[]: .nowhere }")),
              (lines_t{ "[unit] The pointer to '_nameless.nowhere' looks like dangling pointer.",
                        "[unit] The unit '_nameless.a' of type 'configuration' has dangling "
                        "pointer (to '_nameless.nowhere') in the attribute named "
                        "'char_config'.",
                        "[unit] The file 'test.qsd' defines no unit '.nowhere'; the units it "
                        "names are '.a'." }));
}

TEST_F(unit_loader_test, refuses_units_that_own_themselves)
{
    EXPECT_EQ(load_tree(unit_file("every_type : .a { owner_ptr: .a }")),
              (lines_t{ "[unit] The unit '_nameless.a' of type 'every_type' owns itself through "
                        "its owner pointers." }));
    EXPECT_EQ(load_tree(unit_file("hooked : .root { }\nevery_type : .a { owner_ptr: .b }\n"
                                  "every_type : .b { owner_ptr: .a }")),
              (lines_t{ "[unit] The unit '_nameless.a' of type 'every_type' owns itself through "
                        "its owner pointers." }));
}

TEST_F(unit_loader_test, stops_at_the_first_failing_post_load_hook)
{
    EXPECT_EQ(load_tree(unit_file("hooked : .a { fail: 1 }")),
              (lines_t{ "[unit] The unit '_nameless.a' of type 'hooked' failed in its post-load "
                        "hook." }));
    EXPECT_EQ(root.get(), nullptr);
}

TEST_F(unit_loader_test, checks_the_type_of_the_typed_tree)
{
    message_capture_t capture;
    ASSERT_TRUE(load_text(unit_file("hooked : a.b { }")));
    root = load->load_typed_tree(&configuration_u::descriptor);
    EXPECT_EQ(root.get(), nullptr);
    EXPECT_EQ(capture.lines, (lines_t{ "[unit] The unit 'a.b' in file 'mem/test.qsd' has type "
                                       "'hooked', but the code expected 'configuration' "
                                       "type." }));
}

// ---- includes and files ------------------------------------------------------------------

namespace
{

// Unit files in a directory of their own under the current one, removed afterwards.
class unit_files_t
{
public:
    unit_files_t() : m_directory("unit_loader_test_files")
    {
        std::filesystem::remove_all(m_directory);
        std::filesystem::create_directories(m_directory + "/sub");
    }
    ~unit_files_t() { std::filesystem::remove_all(m_directory); }

    std::string write(const std::string& name, const std::string& contents)
    {
        const std::string path = m_directory + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

private:
    std::string m_directory;
};

}  // namespace

TEST_F(unit_loader_test, loads_a_file_with_nested_includes)
{
    unit_files_t files;
    files.write("sub/chars.qsd", "char_set_config : .chars.latin {\n"
                                 "@include \"width.qsd\"\n"
                                 "}\n");
    files.write("sub/width.qsd", "width: 16 # spliced into the unit\n");
    const std::string path = files.write("top.qsd", "QsdNunit\n{\n"
                                                    "configuration : .config {\n"
                                                    "char_config[]: .chars.latin\n"
                                                    "}\n"
                                                    "@include \"sub/chars.qsd\"\n"
                                                    "}\n");
    auto_ptr_t<file_t> file(fs_device_open(path.c_str(), fs_open_mode_t::read_only, SYSFS));
    ASSERT_TRUE(file);
    message_capture_t capture;
    load.reset(new unit_load_t(system.get(), file.get(), path.c_str()));
    ASSERT_TRUE(load->load_units());
    root = load->load_typed_tree(&configuration_u::descriptor);
    EXPECT_TRUE(capture.lines.empty());
    ASSERT_NE(root_as<configuration_u>(), nullptr);
    auto* chars = unit_cast<char_set_config_u>(root_as<configuration_u>()->char_config[0].get());
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(chars->width, 16u);
}

TEST_F(unit_loader_test, reports_errors_in_included_files_with_the_include_chain)
{
    unit_files_t files;
    files.write("sub/chars.qsd", "char_set_config : .c {\n@include \"width.qsd\"\n}\n");
    files.write("sub/width.qsd", "\nwidth: wide\n");
    const std::string path = files.write("top.qsd", "QsdNunit {\n\n@include \"sub/chars.qsd\"\n}");
    auto_ptr_t<file_t> file(fs_device_open(path.c_str(), fs_open_mode_t::read_only, SYSFS));
    ASSERT_TRUE(file);
    message_capture_t capture;
    load.reset(new unit_load_t(system.get(), file.get(), "top.qsd"));
    EXPECT_FALSE(load->load_units());
    EXPECT_EQ(capture.lines,
              (lines_t{ "[unit] File '<SYSFS>unit_loader_test_files/sub/width.qsd', line 2:",
                        "Included at '<SYSFS>unit_loader_test_files/sub/chars.qsd', line 2:",
                        "Included at 'top.qsd', line 3:",
                        "Expecting unsigned value, found 'w'",
                        "[unit] File '<SYSFS>unit_loader_test_files/sub/width.qsd', line 2: the "
                        "attribute 'width' of the unit '.c' (of type 'char_set_config') takes a "
                        "whole number from 0 up, without quotes or a sign, as in width: 16." }));
}

TEST_F(unit_loader_test, applies_the_include_rules_of_each_realm)
{
    const file_case_t cases[] = {
        { "@include \"../x.qsd\"", { "[unit] File 'test.qsd', line 2:",
                                     "Can not include a file, absolute or parent-relative paths "
                                     "are forbidden ('../x.qsd' requested)." } },
        { "@include \"a/../x.qsd\"", { "[unit] File 'test.qsd', line 2:",
                                       "Can not include a file, absolute or parent-relative "
                                       "paths are forbidden ('a/../x.qsd' requested)." } },
        { "@include \"/x.qsd\"", { "[unit] File 'test.qsd', line 2:",
                                   "Can not include a file, absolute or parent-relative paths "
                                   "are forbidden ('/x.qsd' requested)." } },
        { "@include \"missing.qsd\"",
          { "[fs] Failed to open file 'unit_loader_test_nowhere/missing.qsd' in the read_only "
            "mode.",
            "[fs] Reason: no such file or folder; the relative path "
            "'unit_loader_test_nowhere/missing.qsd' is taken from the current folder '" +
                std::filesystem::current_path().string() + "'.",
            "[unit] File 'test.qsd', line 2:",
            "Failed to open the file '<MISSING><SYSFS>unit_loader_test_nowhere/missing.qsd'." } },
    };
    for (const file_case_t& c : cases)
    {
        SCOPED_TRACE(c.contents);
        message_capture_t capture;
        const std::string text = unit_file(c.contents);
        EXPECT_FALSE(load_text(text, SYSFS, "unit_loader_test_nowhere/test.qsd"));
        EXPECT_EQ(capture.lines, c.messages);
    }
    message_capture_t capture;
    EXPECT_FALSE(load_text(unit_file("@include \"x.qsd\""), UNKNOWNFS));
    EXPECT_EQ(capture.lines, (lines_t{ "[unit] File 'test.qsd', line 2:",
                                       "Can not include a file in UNKNOWNFS realm ('x.qsd' "
                                       "requested)." }));
    capture.clear();
    // The virtual file system only warns; nothing is mounted there, so the open fails.
    EXPECT_FALSE(load_text(unit_file("@include \"../x.qsd\""), UFS, "/mount/test.qsd"));
    ASSERT_GE(capture.lines.size(), 2u);
    EXPECT_EQ(capture.lines[1], "Detected include file using parent-relative path ('../x.qsd'), "
                                "expect misbehaviour.");
    EXPECT_EQ(capture.lines.back(), "Failed to open the file '<MISSING><UFS>/mount/../x.qsd'.");
}
