// Unit names: token coding, the name format, naming and lookup, shards and nameless names.
#include "ovcore/units/unit_name.h"

#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_system.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace
{
using lines_t = std::vector<std::string>;

class named_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit named_u(unit_system_t* system) : unit_t(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) named_u(system); }
};

const unit_attribute_t named_attributes[] = { OV_UNIT_ATTRIBUTES_END };
}  // namespace

const unit_descriptor_t named_u::descriptor = {
    "named", named_u::create, unit_destroy, &unit_t::descriptor, named_attributes,
    compute_type_name_hash("named_u"), 0xFFFFFFFFu,
};

namespace
{
class unit_name_fixture : public testing::Test
{
protected:
    void SetUp() override { system = new unit_system_t(&bank); }
    void TearDown() override { delete system; }

    owner_ptr_t<unit_t> create() { return system->create_unit(&named_u::descriptor); }

    // Names the unit; 0 when the text is in wrong format or the name is taken.
    static unit_name_id_t name(unit_t* unit, const char* text)
    {
        array_dyn_t<token_t> tokens;
        if (!unit_name_parse(text, &tokens))
            return 0;
        return unit_name_create_name(tokens, unit);
    }

    static std::string text_of(unit_name_id_t id)
    {
        string_dyn_t text;
        return unit_name_to_text(id, &text) ? text.c_str() : "<none>";
    }

    unit_bank_t bank;
    unit_system_t* system = nullptr;
};

constexpr const char* twelve = "abcdefghijkl";
}  // namespace

// ---------------------------------------------------------------------------------------------
// Tokens

TEST(token, encodes_characters_as_base_38_digits_first_character_lowest)
{
    constexpr token_t unchecked = ~token_t(0);
    struct row_t
    {
        const char* text;
        bool valid;
        token_t token;
        const char* decoded;
    };
    const row_t rows[] = {
        { "0", true, 1, "0" },
        { "9", true, 10, "9" },
        { "a", true, 11, "a" },
        { "Z", true, 36, "z" },
        { "_", true, 37, "_" },
        { "a0", true, 11 + 1 * 38, "a0" },
        { "Font", true, 16 + 25 * 38 + 24 * 38 * 38 + 30 * 38 * 38 * 38, "font" },
        { "abcdefghijkl", true, unchecked, "abcdefghijkl" },
        { "", true, 0, "" },
        { "abcdefghijklm", false, 0, nullptr },
        { "a-b", false, 0, nullptr },
        { "a.b", false, 0, nullptr },
        { "\xc3\xa9", false, 0, nullptr },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.text);
        token_t token = 0;
        ASSERT_EQ(token_from_text(row.text, std::strlen(row.text), &token), row.valid);
        if (!row.valid)
            continue;
        if (row.token != unchecked)
        {
            EXPECT_EQ(token, row.token);
        }
        string_dyn_t text;
        EXPECT_TRUE(token_to_text(token, &text));
        EXPECT_EQ(text, row.decoded);
    }
}

TEST(token, numbers_that_are_no_token_do_not_decode)
{
    const token_t invalid[] = {
        11 + 0 * 38 + 11 * 38 * 38,      // an end digit before a character
        9065737908494995456u,            // 38^12
        0xFFFFFFFFFFFFFFFFu,
    };
    for (token_t token : invalid)
    {
        SCOPED_TRACE(token);
        message_capture_t capture;
        string_dyn_t text("stale");
        EXPECT_FALSE(token_to_text(token, &text));
        EXPECT_EQ(capture.lines, lines_t{ "[unit] Unable to convert token to string" });
        EXPECT_TRUE(text.empty());
    }
}

// ---------------------------------------------------------------------------------------------
// Name format

TEST(unit_name_format, accepts_one_to_ten_components_of_valid_tokens)
{
    const std::string ten_long = std::string(twelve) + "." + twelve + "." + twelve + "." + twelve +
                                 "." + twelve + "." + twelve + "." + twelve + "." + twelve + "." +
                                 twelve + "." + twelve;
    struct row_t
    {
        std::string text;
        bool valid;
    };
    const row_t rows[] = {
        { "font", true },
        { "font.latin", true },
        { "Font.Latin_2.x", true },
        { ten_long, true },
        { "a.b.c.d.e.f.g.h.i.j", true },
        { "", false },
        { "a..b", false },
        { "a.", false },
        { ".a", false },
        { ".", false },
        { "abcdefghijklm", false },
        { "a.abcdefghijklm", false },
        { "a-b", false },
        { "a b", false },
        { "a.b.c.d.e.f.g.h.i.j.k", false },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(unit_name_is_valid(row.text.c_str()), row.valid);
    }
}

// ---------------------------------------------------------------------------------------------
// Naming and lookup

TEST_F(unit_name_fixture, names_are_case_insensitive_and_shown_in_lower_case)
{
    owner_ptr_t<unit_t> unit = create();
    const unit_name_id_t id = name(unit.get(), "Font.Latin");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(unit->name_id(), id);
    EXPECT_EQ(text_of(id), "font.latin");
    EXPECT_EQ(unit_name_find_unit("font.latin"), unit.get());
    EXPECT_EQ(unit_name_find_unit("FONT.LATIN"), unit.get());
    EXPECT_EQ(unit_name_find_unit("font"), nullptr);
    EXPECT_EQ(unit_name_find_unit("font.latin.small"), nullptr);
    EXPECT_EQ(unit_name_find_unit("font..latin"), nullptr);

    string_dyn_t shown;
    unit_display_name(unit.get(), &shown);
    EXPECT_EQ(shown, "font.latin");
}

TEST_F(unit_name_fixture, identifier_holds_slot_component_count_and_shard)
{
    owner_ptr_t<unit_t> first = create();
    owner_ptr_t<unit_t> second = create();
    owner_ptr_t<unit_t> single = create();
    const unit_name_id_t a = name(first.get(), "a.b.c");
    const unit_name_id_t b = name(second.get(), "a.b.d");
    const unit_name_id_t c = name(single.get(), "a");
    EXPECT_EQ(a, (0u << 0) | (3u << 16) | ((2u * 204u) << 20));
    EXPECT_EQ(b, (1u << 0) | (3u << 16) | ((2u * 204u) << 20));
    EXPECT_EQ(c, (0u << 0) | (1u << 16) | (0u << 20));
    EXPECT_EQ(unit_name_shard_created_count(), 2u);
}

TEST_F(unit_name_fixture, a_second_unit_under_a_taken_name_gets_no_name)
{
    owner_ptr_t<unit_t> first = create();
    owner_ptr_t<unit_t> second = create();
    ASSERT_NE(name(first.get(), "font.latin"), 0u);
    EXPECT_EQ(name(second.get(), "Font.LATIN"), 0u);
    EXPECT_EQ(second->name_id(), 0u);
    EXPECT_EQ(unit_name_find_unit("font.latin"), first.get());
    EXPECT_EQ(unit_name_count(), 1u);
}

TEST_F(unit_name_fixture, renaming_releases_the_old_name)
{
    owner_ptr_t<unit_t> unit = create();
    ASSERT_NE(name(unit.get(), "old"), 0u);
    ASSERT_NE(name(unit.get(), "new"), 0u);
    EXPECT_EQ(unit_name_find_unit("old"), nullptr);
    EXPECT_EQ(unit_name_find_unit("new"), unit.get());
    EXPECT_EQ(unit_name_count(), 1u);
}

TEST_F(unit_name_fixture, released_units_give_their_names_back)
{
    owner_ptr_t<unit_t> unit = create();
    const unit_name_id_t id = name(unit.get(), "chars.latin");
    ASSERT_NE(id, 0u);
    unit.reset();
    EXPECT_EQ(unit_name_find_unit("chars.latin"), nullptr);
    EXPECT_EQ(unit_name_count(), 0u);
    EXPECT_EQ(text_of(id), "<none>");

    owner_ptr_t<unit_t> again = create();
    EXPECT_EQ(name(again.get(), "chars.latin"), id);  // the freed slot is taken again
    EXPECT_EQ(unit_name_release(again->name_id()), id | unit_name_released_bit);
    again->set_name_id(0);
    EXPECT_EQ(unit_name_release(0), 0u);
}

TEST_F(unit_name_fixture, releasing_a_name_that_does_not_exist_is_fatal)
{
    EXPECT_DEATH((void)unit_name_release((1u << 16) | 5u),
                 "Attempt to release a unit name that does not exist\\.");
}

TEST_F(unit_name_fixture, shards_are_created_when_the_earlier_ones_are_full)
{
    EXPECT_EQ(unit_name_shard_created_count(), 0u);
    std::vector<owner_ptr_t<unit_t>> units;
    char text[16];
    for (uint32_t i = 0; i <= 1080; ++i)
    {
        units.push_back(create());
        std::snprintf(text, sizeof(text), "n%u", i);
        ASSERT_NE(name(units.back().get(), text), 0u);
    }
    EXPECT_EQ(unit_name_shard_created_count(), 2u);
    const unit_name_id_t last = units.back()->name_id();
    EXPECT_EQ(last, (0u << 0) | (1u << 16) | (1u << 20));  // slot 0 of the second shard
    EXPECT_EQ(text_of(last), "n1080");

    // A slot freed in the first shard is used before the second shard's free ones.
    const unit_name_id_t freed = units[7]->name_id();
    units[7].reset();
    units[7] = create();
    EXPECT_EQ(name(units[7].get(), "again"), freed);
    EXPECT_EQ(unit_name_shard_created_count(), 2u);
}

TEST_F(unit_name_fixture, destroying_the_last_system_frees_the_table)
{
    owner_ptr_t<unit_t> unit = create();
    ASSERT_NE(name(unit.get(), "kept"), 0u);
    unit.reset();
    delete system;
    system = nullptr;
    EXPECT_EQ(unit_name_shard_created_count(), 0u);
    EXPECT_EQ(unit_name_find_unit("kept"), nullptr);
    system = new unit_system_t(&bank);
}

namespace
{
void* failing_allocate(size_t)
{
    return nullptr;
}
}  // namespace

// Memory, not a full table: the run ends with status 1 and says so.
TEST_F(unit_name_fixture, a_shard_that_cannot_be_allocated_ends_the_run)
{
    owner_ptr_t<unit_t> unit = create();
    EXPECT_EXIT(
        {
            g_unit_name_allocate = failing_allocate;
            (void)name(unit.get(), "font");
        },
        testing::ExitedWithCode(1),
        "Failed to allocate array to store unit names in \\(1080 names of 1components\\)\\."
        ".*Not enough memory to name the unit\\.");
}

TEST_F(unit_name_fixture, lookups_run_while_names_change_on_another_thread)
{
    owner_ptr_t<unit_t> fixed = create();
    ASSERT_NE(name(fixed.get(), "fixed.name"), 0u);
    std::atomic<bool> stop{ false };
    std::atomic<int> wrong{ 0 };
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&] {
            while (!stop.load())
                if (unit_name_find_unit("fixed.name") != fixed.get())
                    ++wrong;
        });
    char text[16];
    for (int i = 0; i < 2000; ++i)
    {
        owner_ptr_t<unit_t> unit = create();
        std::snprintf(text, sizeof(text), "moving.n%d", i % 50);
        (void)name(unit.get(), text);
    }
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

// ---------------------------------------------------------------------------------------------
// Nameless names

TEST(unit_nameless_name, address_in_dotted_groups_of_four_hexadecimal_digits)
{
    struct row_t
    {
        uintptr_t address;
        const char* text;
    };
    const row_t rows[] = {
        { 0x12345678u, "_nameless.1234.5678" },
        { 0x12345u, "_nameless.1.2345" },
        { 0xABCDu, "_nameless.abcd" },
        { 0x7F0012340000u, "_nameless.7f00.1234.0000" },
        { 0x5u, "_nameless.5" },
    };
    for (const row_t& row : rows)
    {
        string_dyn_t text;
        unit_nameless_name(reinterpret_cast<const unit_t*>(row.address), &text);
        EXPECT_EQ(text, row.text);
    }
}

TEST_F(unit_name_fixture, unnamed_units_are_shown_by_their_nameless_name)
{
    owner_ptr_t<unit_t> unit = create();
    string_dyn_t shown;
    string_dyn_t nameless;
    unit_display_name(unit.get(), &shown);
    unit_nameless_name(unit.get(), &nameless);
    EXPECT_EQ(shown, nameless);
    EXPECT_EQ(std::string(shown.c_str()).rfind("_nameless.", 0), 0u);
}
