// Unit types, banks, systems, references and pending releases, and array attribute access.
#include "ovcore/units/unit_system.h"

#include "ovcore/units/unit_attr_storage.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace
{
using lines_t = std::vector<std::string>;

int g_destroyed_units = 0;  // counts destructors of test_base_u

// test_abstract (no create) <- test_base <- test_derived; test_failing's create returns null,
// as a create does without memory.
class test_base_u : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit test_base_u(unit_system_t* system) : unit_t(system) {}
    ~test_base_u() override { ++g_destroyed_units; }
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) test_base_u(system); }

    uint32_t size = 1;
    array_dyn_t<uint32_t> widths;
    owner_ptr_t<unit_t> child;
    array_dyn_t<owner_ptr_t<unit_t>> children;
};

class test_derived_u final : public test_base_u
{
public:
    static const unit_descriptor_t descriptor;
    explicit test_derived_u(unit_system_t* system) : test_base_u(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    static unit_t* create(unit_system_t* system)
    {
        return new (std::nothrow) test_derived_u(system);
    }

    float size = 2.0f;  // hides the base's size
    string_dyn_t label;
};

const unit_attribute_t abstract_attributes[] = {
    { nullptr, 0, unit_attr_type_t::none, nullptr, nullptr },
};
const unit_descriptor_t abstract_descriptor = {
    "test_abstract", nullptr, unit_destroy, &unit_t::descriptor, abstract_attributes,
    compute_type_name_hash("test_abstract_u"), 0xFFFFFFFFu,
};
const unit_descriptor_t failing_descriptor = {
    "test_failing", [](unit_system_t*) -> unit_t* { return nullptr; }, unit_destroy,
    &unit_t::descriptor, abstract_attributes, compute_type_name_hash("test_failing_u"),
    0xFFFFFFFFu,
};
// Another descriptor under a name that test_base_u takes.
const unit_descriptor_t impostor_descriptor = {
    "test_base", test_base_u::create, unit_destroy, &unit_t::descriptor, abstract_attributes,
    compute_type_name_hash("impostor_u"), 0xFFFFFFFFu,
};
}  // namespace

const unit_attribute_t base_attributes[] = {
    OV_UNIT_ATTRIBUTE(test_base_u, size, u32, nullptr, "size"),
    OV_UNIT_ATTRIBUTE(test_base_u, widths, u32_array, nullptr, "widths"),
    OV_UNIT_ATTRIBUTE(test_base_u, child, owner_ptr, nullptr, "child"),
    OV_UNIT_ATTRIBUTE(test_base_u, children, owner_ptr_array, nullptr, "children"),
    { &test_base_u::descriptor, unit_attribute_obsolete_offset, unit_attr_type_t::string, nullptr,
      "old_name" },
    OV_UNIT_ATTRIBUTES_END,
};
const unit_descriptor_t test_base_u::descriptor = {
    "test_base", test_base_u::create, unit_destroy, &abstract_descriptor, base_attributes,
    compute_type_name_hash("test_base_u"), 0xFFFFFFFFu,
};

const unit_attribute_t derived_attributes[] = {
    OV_UNIT_ATTRIBUTE(test_derived_u, size, float1, nullptr, "size"),
    OV_UNIT_ATTRIBUTE(test_derived_u, label, string, nullptr, "label"),
    OV_UNIT_ATTRIBUTES_END,
};
const unit_descriptor_t test_derived_u::descriptor = {
    "test_derived", test_derived_u::create, unit_destroy, &test_base_u::descriptor,
    derived_attributes, compute_type_name_hash("test_derived_u"), 0xFFFFFFFFu,
};

namespace
{
class unit_system_fixture : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const unit_descriptor_t* type : { &abstract_descriptor, &test_base_u::descriptor,
                                               &test_derived_u::descriptor, &failing_descriptor })
            ASSERT_TRUE(bank.register_type(type));
        system = new unit_system_t(&bank);
        g_destroyed_units = 0;
    }
    void TearDown() override { delete system; }

    template <typename T> owner_ptr_t<T> create()
    {
        return owner_ptr_cast<T>(system->create_unit(&T::descriptor));
    }

    unit_bank_t bank;
    unit_system_t* system = nullptr;
};
}  // namespace

// ---------------------------------------------------------------------------------------------
// Attribute types

TEST(unit_attr_type, odd_codes_are_scalars_and_even_codes_their_arrays)
{
    EXPECT_FALSE(unit_attr_type_is_array(unit_attr_type_t::none));
    for (uint32_t code = 1; code <= unit_attr_type_last; ++code)
    {
        SCOPED_TRACE(code);
        EXPECT_EQ(unit_attr_type_is_array(unit_attr_type_t(code)), code % 2 == 0);
    }
}

TEST(unit_attr_type, element_type_of_every_code)
{
    struct row_t
    {
        uint32_t type;
        uint32_t element;
    };
    const row_t rows[] = { { 1, 1 },   { 2, 1 },   { 37, 37 }, { 38, 37 }, { 59, 59 },
                           { 60, 59 }, { 61, 61 }, { 62, 61 }, { 63, 61 }, { 64, 61 },
                           { 65, 65 }, { 66, 65 } };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.type);
        EXPECT_EQ(uint32_t(unit_attr_type_element_type(unit_attr_type_t(row.type))), row.element);
    }
}

TEST(unit_attr_type_death, unknown_codes_are_fatal)
{
    EXPECT_DEATH((void)unit_attr_type_is_array(unit_attr_type_t(67)),
                 "unit_attr_type_is_array\\(\\): Unknown type\\.");
    EXPECT_DEATH((void)unit_attr_type_element_type(unit_attr_type_t(0)),
                 "unit_attr_type_element_type\\(\\): Unknown type\\.");
    EXPECT_DEATH((void)unit_attr_type_element_type(unit_attr_type_t(67)),
                 "unit_attr_type_element_type\\(\\): Unknown type\\.");
}

TEST(unit_descriptor, class_name_hash_is_computed_at_compile_time)
{
    static_assert(compute_type_name_hash("abc") == 96354u);
    EXPECT_EQ(unit_t::descriptor.class_name_hash, compute_type_name_hash("unit_t"));
    EXPECT_STREQ(unit_t::descriptor.type_name, "unit");
}

// ---------------------------------------------------------------------------------------------
// Bank

TEST(unit_bank, registration_outcomes)
{
    struct row_t
    {
        const unit_descriptor_t* descriptor;
        bool result;
        lines_t messages;
    };
    const row_t rows[] = {
        { &test_base_u::descriptor, true, {} },
        { &test_base_u::descriptor, true, { "[unit] Unit type 'test_base' registered twice." } },
        { &impostor_descriptor, false,
          { "[unit] Attempt to register unit type 'test_base', but the type name is already "
            "taken." } },
        { &test_derived_u::descriptor, true, {} },
    };
    unit_bank_t bank;
    for (const row_t& row : rows)
    {
        message_capture_t capture;
        EXPECT_EQ(bank.register_type(row.descriptor), row.result);
        EXPECT_EQ(capture.lines, row.messages);
    }
    EXPECT_EQ(bank.find_type("test_base"), &test_base_u::descriptor);
    EXPECT_EQ(bank.find_type("test_derived"), &test_derived_u::descriptor);
    EXPECT_EQ(bank.find_type("Test_base"), nullptr);
    ASSERT_EQ(bank.types().size(), 2u);
    EXPECT_EQ(bank.types()[0], &test_base_u::descriptor);
    EXPECT_EQ(bank.types()[1], &test_derived_u::descriptor);
}

TEST(unit_find_attribute, searches_the_type_then_its_bases)
{
    const unit_descriptor_t* derived = &test_derived_u::descriptor;
    EXPECT_EQ(unit_find_attribute(derived, "size"), &derived_attributes[0]);  // hides the base's
    EXPECT_EQ(unit_find_attribute(derived, "widths"), &base_attributes[1]);   // from the base
    EXPECT_EQ(unit_find_attribute(&test_base_u::descriptor, "size"), &base_attributes[0]);
    EXPECT_EQ(unit_find_attribute(&test_base_u::descriptor, "label"), nullptr);
    EXPECT_EQ(unit_find_attribute(derived, "Size"), nullptr);  // names are case-sensitive
    EXPECT_TRUE(unit_find_attribute(derived, "old_name")->is_obsolete());
}

// ---------------------------------------------------------------------------------------------
// Creating units

TEST_F(unit_system_fixture, create_unit_by_type_name)
{
    struct row_t
    {
        const char* type_name;
        bool created;
        lines_t messages;
    };
    const row_t rows[] = {
        { "test_derived", true, {} },
        { "no_such_type", false, { "[unit] The 'no_such_type' is not a unit type name." } },
        { "test_abstract", false,
          { "[unit] The 'test_abstract' is not an abstract unit type name." } },
        { "test_failing", false,
          { "[unit] Not enough memory for a unit of type 'test_failing'.",
            "[unit] Creation of unit instance of type 'test_failing' failed." } },
    };
    for (const row_t& row : rows)
    {
        SCOPED_TRACE(row.type_name);
        message_capture_t capture;
        owner_ptr_t<unit_t> unit = system->create_unit_by_type_name(row.type_name);
        EXPECT_EQ(bool(unit), row.created);
        EXPECT_EQ(capture.lines, row.messages);
        if (unit)
        {
            EXPECT_EQ(unit->get_descriptor(), bank.find_type(row.type_name));
            EXPECT_EQ(unit->system(), system);
            EXPECT_EQ(unit->reference_count(), 1u);
        }
    }
}

TEST_F(unit_system_fixture, instantiating_an_abstract_type_is_fatal)
{
    EXPECT_DEATH((void)system->create_unit(&abstract_descriptor),
                 "\\[unit\\] Attempt to instantiate abstract unit type\\.");
}

TEST_F(unit_system_fixture, cast_keeps_the_reference_only_on_a_matching_type)
{
    owner_ptr_t<unit_t> unit = system->create_unit(&test_base_u::descriptor);
    owner_ptr_t<test_derived_u> wrong = owner_ptr_cast<test_derived_u>(std::move(unit));
    EXPECT_FALSE(wrong);
    ASSERT_TRUE(unit);
    owner_ptr_t<test_base_u> right = owner_ptr_cast<test_base_u>(std::move(unit));
    EXPECT_FALSE(unit);
    ASSERT_TRUE(right);
    EXPECT_EQ(right->reference_count(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Systems and the default system

TEST(unit_system, four_systems_at_once_and_a_freed_index_is_reused)
{
    unit_bank_t bank;
    unit_system_t* systems[4];
    for (uint32_t i = 0; i < 4; ++i)
    {
        systems[i] = new unit_system_t(&bank);
        EXPECT_EQ(systems[i]->index(), i);
        EXPECT_EQ(unit_system_t::from_index(i), systems[i]);
    }
    delete systems[1];
    EXPECT_EQ(unit_system_t::from_index(1), nullptr);
    systems[1] = new unit_system_t(&bank);
    EXPECT_EQ(systems[1]->index(), 1u);
    for (unit_system_t* system : systems)
        delete system;
}

TEST(unit_system_death, a_fifth_system_is_fatal)
{
    unit_bank_t bank;
    EXPECT_DEATH(
        {
            for (int i = 0; i < 5; ++i)
                new unit_system_t(&bank);
        },
        "\\[unit\\] Can not create more unit systems - already UF_UNIT_SYSTEM_COUNT systems "
        "exist\\.");
}

TEST(unit_system, default_system_is_stolen_with_a_warning_and_cleared_on_destruction)
{
    unit_bank_t bank;
    EXPECT_EQ(unit_default_system_index(), unit_system_none);
    EXPECT_EQ(unit_system_t::get_default(), nullptr);
    unit_system_t first(&bank);
    {
        unit_system_t second(&bank);
        message_capture_t capture;
        first.make_default();
        first.make_default();  // already the default: no warning
        EXPECT_TRUE(capture.lines.empty());
        second.make_default();
        EXPECT_EQ(capture.lines, lines_t{ "[unit] Stealing the default unit system." });
        EXPECT_EQ(unit_system_t::get_default(), &second);
    }
    EXPECT_EQ(unit_default_system_index(), unit_system_none);
}

// ---------------------------------------------------------------------------------------------
// References and pending releases

TEST_F(unit_system_fixture, last_release_waits_for_the_flush)
{
    owner_ptr_t<test_base_u> unit = create<test_base_u>();
    {
        owner_ptr_t<test_base_u> second(unit.get());
        EXPECT_EQ(unit->reference_count(), 2u);
    }
    EXPECT_EQ(unit_pending_release_count(), 0u);
    unit.reset();
    EXPECT_EQ(unit_pending_release_count(), 1u);
    EXPECT_EQ(g_destroyed_units, 0);
    EXPECT_EQ(system->live_unit_count(), 1u);
    unit_flush_pending_releases();
    EXPECT_EQ(g_destroyed_units, 1);
    EXPECT_EQ(system->live_unit_count(), 0u);
}

TEST_F(unit_system_fixture, releasing_an_owner_releases_what_it_owns)
{
    owner_ptr_t<test_base_u> root = create<test_base_u>();
    root->child = create<test_base_u>();
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(root->children.append(create<test_base_u>()));
    unit_cast<test_base_u>(root->children[1].get())->child = create<test_base_u>();
    root.reset();
    EXPECT_EQ(unit_pending_release_count(), 5u);
    unit_flush_pending_releases();
    EXPECT_EQ(g_destroyed_units, 5);
}

TEST(unit_system, destroying_the_last_system_destroys_pending_units)
{
    unit_bank_t bank;
    g_destroyed_units = 0;
    {
        unit_system_t system(&bank);
        owner_ptr_t<unit_t> unit = system.create_unit(&test_base_u::descriptor);
    }
    EXPECT_EQ(g_destroyed_units, 1);
}

TEST(unit_system, a_unit_still_referenced_at_destruction_is_reported)
{
    unit_bank_t bank;
    g_destroyed_units = 0;
    unit_system_t* system = new unit_system_t(&bank);
    owner_ptr_t<unit_t> leaked = system->create_unit(&test_base_u::descriptor);
    message_capture_t capture;
    delete system;
    EXPECT_EQ(capture.lines, lines_t{ "[unit] The unit system 0 is destroyed while 1 of its "
                                      "units are still referenced." });
    leaked.reset();  // no system is left: the unit goes at once
    EXPECT_EQ(g_destroyed_units, 1);
}

TEST_F(unit_system_fixture, releasing_an_unreferenced_unit_is_fatal)
{
    EXPECT_DEATH(test_base_u::create(system)->release(),
                 "\\[unit\\] Attempt to release an unreferenced unit\\.");
}

// ---------------------------------------------------------------------------------------------
// Unknown attributes

TEST_F(unit_system_fixture, base_unit_ignores_unknown_attributes_with_a_warning)
{
    struct row_t
    {
        size_t index;
        const char* value;
        const char* message;
    };
    const row_t rows[] = {
        { unit_index_absent, "1", "[unit] Ignored unknown attribute colour = 1" },
        { unit_index_append, "(1, 2)", "[unit] Ignored unknown attribute colour[] = (1, 2)" },
        { 3, "\"red\"", "[unit] Ignored unknown attribute colour[3] = \"red\"" },
        { unit_index_absent, nullptr, "[unit] Ignored unknown attribute colour = <N/A>" },
    };
    owner_ptr_t<test_base_u> unit = create<test_base_u>();
    EXPECT_TRUE(unit->accepts_unknown_attributes());
    for (const row_t& row : rows)
    {
        message_capture_t capture;
        EXPECT_TRUE(unit->handle_unknown_attribute("colour", row.index, row.value));
        EXPECT_EQ(capture.lines, lines_t{ row.message });
        EXPECT_EQ(capture.levels, std::vector<message_level_t>{ message_level_t::warning });
    }
}

// ---------------------------------------------------------------------------------------------
// Attribute values

TEST_F(unit_system_fixture, array_access_keeps_elements_in_order)
{
    owner_ptr_t<test_derived_u> unit = create<test_derived_u>();
    const unit_attribute_t* widths = unit_find_attribute(unit->get_descriptor(), "widths");
    size_t size = 99;

    ASSERT_TRUE(unit_array_request_capacity(unit.get(), widths, 10));
    ASSERT_TRUE(unit_array_get_size(unit.get(), widths, &size));
    EXPECT_EQ(size, 0u);
    EXPECT_GE(unit->widths.capacity(), 10u);

    uint32_t values[] = { 5, 6, 7, 8 };
    EXPECT_TRUE(unit_array_set_element(unit.get(), widths, 0, &values[0]));  // appends
    EXPECT_TRUE(unit_array_set_element(unit.get(), widths, 0, &values[1]));  // replaces
    EXPECT_FALSE(unit_array_set_element(unit.get(), widths, 2, &values[2])); // beyond the end
    EXPECT_TRUE(unit_array_append(unit.get(), widths, &values[3]));
    ASSERT_TRUE(unit_array_get_size(unit.get(), widths, &size));
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(unit->widths[0], 6u);
    EXPECT_EQ(unit->widths[1], 8u);
    EXPECT_FALSE(unit_array_request_capacity(unit.get(), widths, size_t(UINT32_MAX) + 1));
}

TEST_F(unit_system_fixture, owner_values_move_into_attributes)
{
    owner_ptr_t<test_derived_u> unit = create<test_derived_u>();
    const unit_descriptor_t* type = unit->get_descriptor();
    owner_ptr_t<unit_t> first = system->create_unit(&test_base_u::descriptor);
    owner_ptr_t<unit_t> second = system->create_unit(&test_base_u::descriptor);
    unit_t* second_unit = second.get();

    ASSERT_TRUE(unit_set_scalar(unit.get(), unit_find_attribute(type, "child"), &first));
    ASSERT_TRUE(unit_array_append(unit.get(), unit_find_attribute(type, "children"), &second));
    EXPECT_FALSE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(unit->children[0].get(), second_unit);
    EXPECT_EQ(second_unit->reference_count(), 1u);

    string_dyn_t label("wide");
    float size = 3.5f;
    ASSERT_TRUE(unit_set_scalar(unit.get(), unit_find_attribute(type, "label"), &label));
    ASSERT_TRUE(unit_set_scalar(unit.get(), unit_find_attribute(type, "size"), &size));
    EXPECT_EQ(unit->label, "wide");
    EXPECT_EQ(unit->size, 3.5f);
    EXPECT_EQ(unit->test_base_u::size, 1u);
}

TEST_F(unit_system_fixture, misused_attribute_access_is_fatal)
{
    owner_ptr_t<test_base_u> unit = create<test_base_u>();
    const unit_attribute_t* label = &derived_attributes[1];
    const unit_attribute_t* old_name = unit_find_attribute(unit->get_descriptor(), "old_name");
    const unit_attribute_t* size = unit_find_attribute(unit->get_descriptor(), "size");
    size_t count = 0;
    EXPECT_DEATH((void)unit_attribute_value(unit.get(), label),
                 "The attribute does not belong to the type of the unit\\.");
    EXPECT_DEATH((void)unit_attribute_value(unit.get(), old_name),
                 "Attempt to access the value of an obsolete attribute\\.");
    EXPECT_DEATH((void)unit_array_get_size(unit.get(), size, &count),
                 "Array access to a scalar attribute\\.");
}
