// The configuration unit types and load_configuration.
#include "tools/font_generator/configuration.h"

#include "ovcore/units/unit_system.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <utility>

namespace
{

class configuration_fixture : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bank.register_type(&configuration_u::descriptor));
        ASSERT_TRUE(bank.register_type(&char_set_config_u::descriptor));
        system = new unit_system_t(&bank);
    }
    void TearDown() override { delete system; }

    template <typename T> owner_ptr_t<T> create(const char* type_name)
    {
        return owner_ptr_cast<T>(system->create_unit_by_type_name(type_name));
    }

    unit_bank_t bank;
    unit_system_t* system = nullptr;
};

}  // namespace

TEST(configuration_descriptor, names_types_by_their_short_names_and_hashes_class_names)
{
    EXPECT_STREQ(configuration_u::descriptor.type_name, "configuration");
    EXPECT_STREQ(char_set_config_u::descriptor.type_name, "char_set_config");
    EXPECT_EQ(configuration_u::descriptor.class_name_hash,
              compute_type_name_hash("configuration_u"));
    EXPECT_EQ(char_set_config_u::descriptor.class_name_hash,
              compute_type_name_hash("char_set_config_u"));
    EXPECT_EQ(configuration_u::descriptor.parent, &unit_t::descriptor);
    EXPECT_EQ(char_set_config_u::descriptor.parent, &unit_t::descriptor);
}

TEST_F(configuration_fixture, a_new_configuration_has_the_defaults)
{
    owner_ptr_t<configuration_u> unit = create<configuration_u>("configuration");
    ASSERT_TRUE(unit);
    EXPECT_STREQ(unit->base.c_str(), "base");
    EXPECT_STREQ(unit->output.c_str(), "");
    EXPECT_EQ(unit->line_spacing, 2);
    EXPECT_EQ(unit->vertical_span_bias, 0);
    EXPECT_EQ(unit->font_style, 0u);
    EXPECT_EQ(unit->gradient_color_start, 0);
    EXPECT_EQ(unit->gradient_color_step, 0);
    EXPECT_EQ(unit->gradient_start_offset, 0);
    EXPECT_EQ(unit->default_scale, 1.0f);
    EXPECT_EQ(unit->char_config.size(), 0u);
}

TEST_F(configuration_fixture, a_new_char_set_config_has_the_defaults)
{
    owner_ptr_t<char_set_config_u> unit = create<char_set_config_u>("char_set_config");
    ASSERT_TRUE(unit);
    EXPECT_STREQ(unit->font_file.c_str(), "");
    EXPECT_STREQ(unit->character_set_file.c_str(), "");
    EXPECT_EQ(unit->width, 12u);
    EXPECT_EQ(unit->height, 12u);
    EXPECT_EQ(unit->scale_width, 1.0f);
    EXPECT_EQ(unit->scale_height, 1.0f);
    EXPECT_TRUE(unit->antialias);
    EXPECT_EQ(unit->outline_width, 0u);
}

TEST_F(configuration_fixture, clone_copies_every_attribute_and_the_owned_sets)
{
    owner_ptr_t<configuration_u> unit = create<configuration_u>("configuration");
    owner_ptr_t<char_set_config_u> set = create<char_set_config_u>("char_set_config");
    ASSERT_TRUE(unit && set);
    unit->output.assign("font");
    unit->gradient_color_step = -3;
    unit->default_scale = 0.75f;
    set->character_set_file.assign("latin.chars");
    set->outline_width = 2;
    set->antialias = false;
    ASSERT_TRUE(unit->char_config.append(owner_ptr_t<unit_t>(std::move(set))));

    owner_ptr_t<configuration_u> copy = owner_ptr_cast<configuration_u>(unit->clone());
    ASSERT_TRUE(copy);
    EXPECT_STREQ(copy->output.c_str(), "font");
    EXPECT_STREQ(copy->base.c_str(), "base");
    EXPECT_EQ(copy->gradient_color_step, -3);
    EXPECT_EQ(copy->default_scale, 0.75f);
    ASSERT_EQ(copy->char_config.size(), 1u);
    const char_set_config_u* copied_set = copy->char_set(0);
    ASSERT_NE(copied_set, nullptr);
    EXPECT_NE(copied_set, unit->char_set(0));
    EXPECT_STREQ(copied_set->character_set_file.c_str(), "latin.chars");
    EXPECT_EQ(copied_set->outline_width, 2u);
    EXPECT_FALSE(copied_set->antialias);
}

TEST_F(configuration_fixture, char_set_is_null_for_a_null_element_or_another_type)
{
    owner_ptr_t<configuration_u> unit = create<configuration_u>("configuration");
    ASSERT_TRUE(unit);
    ASSERT_TRUE(unit->char_config.append(owner_ptr_t<unit_t>()));
    ASSERT_TRUE(unit->char_config.append(system->create_unit(&configuration_u::descriptor)));
    ASSERT_TRUE(unit->char_config.append(system->create_unit(&char_set_config_u::descriptor)));
    EXPECT_EQ(unit->char_set(0), nullptr);
    EXPECT_EQ(unit->char_set(1), nullptr);
    EXPECT_NE(unit->char_set(2), nullptr);
}
