// The configuration unit types, loading the configuration file and reading its character sets.
#include "tools/font_generator/input/configuration.h"

#include "ovcore/units/unit_system.h"
#include "tests/support/message_capture.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/generator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace
{

// Drops what a load left, sets first: they point into the configuration's units.
void release(generator_t* generator)
{
    generator->sets.release_storage();
    generator->configuration.reset();
}

class configuration_fixture : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bank.register_type(&configuration_u::descriptor));
        ASSERT_TRUE(bank.register_type(&char_set_config_u::descriptor));
        system = new unit_system_t(&bank);
        system->make_default();
        directory = std::filesystem::current_path() / "configuration_test_files";
        std::filesystem::create_directories(directory);
    }
    void TearDown() override
    {
        release(&generator);
        delete system;
        std::filesystem::remove_all(directory);
    }

    std::string write(const char* name, const std::string& contents)
    {
        const std::string path = (directory / name).string();
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    // A configuration file whose body is `units`.
    std::string write_configuration(const std::string& units)
    {
        return write("font.qsd", "QsdNunit\n{\n" + units + "}\n");
    }

    template <typename T> owner_ptr_t<T> create(const char* type_name)
    {
        return owner_ptr_cast<T>(system->create_unit_by_type_name(type_name));
    }

    unit_bank_t bank;
    unit_system_t* system = nullptr;
    std::filesystem::path directory;
    generator_t generator;
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
    ASSERT_TRUE(unit->output.assign("font"));
    unit->gradient_color_step = -3;
    unit->default_scale = 0.75f;
    ASSERT_TRUE(set->character_set_file.assign("latin.chars"));
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

TEST_F(configuration_fixture, loads_every_attribute_and_one_set_with_its_canvas)
{
    const std::string chars = write("latin.chars", "U+0041 A\nU+0042 B\n");
    const std::string path = write_configuration(
        "configuration : .config {\n"
        "  base: \"out/\"\n  output: font\n  line_spacing: -1\n  vertical_span_bias: 3\n"
        "  font_style: 1\n  gradient_color_start: 255\n  gradient_color_step: -255\n"
        "  gradient_start_offset: 4\n  default_scale: 0.75\n"
        "  char_config: 1\n  char_config[0]: .chars.latin\n}\n"
        "char_set_config : .chars.latin {\n"
        "  font_file: \"font.ttf\"\n  character_set_file: \"" + chars + "\"\n"
        "  width: 16\n  height: 20\n  scale_width: 0.5\n  scale_height: 1.00001\n"
        "  antialias: false\n  outline_width: 2\n}\n");
    message_capture_t capture;
    ASSERT_TRUE(load_inputs(&generator, path.c_str()));
    EXPECT_EQ(capture.lines, std::vector<std::string>{});

    const configuration_u& config = *generator.configuration;
    EXPECT_STREQ(config.base.c_str(), "out/");
    EXPECT_STREQ(config.output.c_str(), "font");
    EXPECT_EQ(config.line_spacing, -1);
    EXPECT_EQ(config.vertical_span_bias, 3);
    EXPECT_EQ(config.default_scale, 0.75f);
    ASSERT_EQ(config.char_config.size(), 1u);
    const char_set_config_u& set_config = *config.char_set(0);
    EXPECT_STREQ(set_config.font_file.c_str(), "font.ttf");
    EXPECT_EQ(set_config.width, 16u);
    EXPECT_EQ(set_config.height, 20u);
    EXPECT_FALSE(set_config.antialias);
    EXPECT_EQ(set_config.outline_width, 2u);
    // 16.16 transform entries, formed in single precision and truncated.
    EXPECT_EQ(scale_to_fixed(set_config.scale_width), 32768);
    EXPECT_EQ(scale_to_fixed(set_config.scale_height), 65536);

    ASSERT_EQ(generator.sets.size(), 1u);
    const generator_set_t& set = generator.sets[0];
    EXPECT_EQ(set.config, config.char_set(0));
    ASSERT_EQ(set.character_set->glyphs.size(), 2u);
    EXPECT_EQ(set.character_set->glyphs[1].code, 0x42u);
    EXPECT_EQ(set.character_set->label.element, 0u);
    EXPECT_EQ(set.character_set->label.file, set_config.character_set_file.c_str());
    // Faces, kept glyphs and pictures come with the later phases.
    EXPECT_FALSE(set.faces);
    EXPECT_FALSE(set.kept_glyphs);
    EXPECT_TRUE(set.canvases.empty());
}

TEST_F(configuration_fixture, units_that_set_nothing_have_the_defaults)
{
    const std::string path = write_configuration(
        "configuration : .config {\n  char_config[]: .set\n}\n"
        "char_set_config : .set {\n}\n");
    message_capture_t capture;
    // The empty character-set path opens nothing, but the units stay for inspection.
    EXPECT_FALSE(load_inputs(&generator, path.c_str()));
    ASSERT_TRUE(generator.configuration);
    const configuration_u& config = *generator.configuration;
    EXPECT_STREQ(config.base.c_str(), "base");
    EXPECT_EQ(config.line_spacing, 2);
    EXPECT_EQ(config.default_scale, 1.0f);
    const char_set_config_u& set_config = *config.char_set(0);
    EXPECT_EQ(set_config.width, 12u);
    EXPECT_EQ(set_config.height, 12u);
    EXPECT_EQ(set_config.scale_width, 1.0f);
    EXPECT_TRUE(set_config.antialias);
    EXPECT_STREQ(set_config.character_set_file.c_str(), "");
}

TEST_F(configuration_fixture, an_empty_configuration_loads_without_sets)
{
    const std::string path = write_configuration("configuration : .config {\n}\n");
    ASSERT_TRUE(load_inputs(&generator, path.c_str()));
    EXPECT_EQ(generator.sets.size(), 0u);
}

TEST_F(configuration_fixture, tries_every_set_when_the_first_file_is_missing)
{
    const std::string missing = (directory / "missing.chars").string();
    const std::string present = write("present.chars", "U+0041 A\n");
    const std::string path = write_configuration(
        "configuration : .config {\n  output: \"font\"\n  char_config[]: .first\n"
        "  char_config[]: .second\n}\n"
        "char_set_config : .first {\n  character_set_file: \"" + missing + "\"\n}\n"
        "char_set_config : .second {\n  character_set_file: \"" + present + "\"\n}\n");
    message_capture_t capture;
    EXPECT_FALSE(load_inputs(&generator, path.c_str()));
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[fs] Failed to open file '" + missing + "' in the read_only mode.",
                  "[fs] Reason: no such file or folder.",
                  "Unable to open the character set file '" + missing + "'." }));
    // The second set was read; nothing stands for the first.
    ASSERT_EQ(generator.sets.size(), 1u);
    const generator_set_t& set = generator.sets[0];
    EXPECT_EQ(set.config, generator.configuration->char_set(1));
    EXPECT_EQ(set.character_set->glyphs.size(), 1u);
    EXPECT_EQ(set.character_set->label.element, 1u);
}

TEST_F(configuration_fixture, refuses_what_is_not_one_configuration_tree)
{
    struct bad_case_t { const char* units; std::vector<std::string> messages; };
    const bad_case_t cases[] = {
        { "", { "[unit] There were no units in the file '%s'." } },
        { "char_set_config : latin {\n}\n",
          { "[unit] The unit 'latin' in file '%s' has type 'char_set_config', but the "
            "code expected 'configuration' type." } },
        { "configuration : .a {\n}\nconfiguration : .b {\n}\n",
          { "[unit] There are multiple unit trees in the file '%s'.",
            "[unit] The unit '.b' (of type 'configuration') at line 5 is owned by no unit of the "
            "tree of '.a': list it in 'char_config' of '.a', or remove it." } },
        { "configuration : .config {\n  char_config: 1\n  char_config[0]: null\n}\n",
          { "The element 0 of 'char_config' in the configuration file '%s' is not a "
            "char_set_config unit." } },
        { "configuration : .config {\n  char_config[]: .set\n  char_config[]: .inner\n}\n"
          "char_set_config : .set {\n}\nconfiguration : .inner {\n}\n",
          { "The element 1 of 'char_config' in the configuration file '%s' is not a "
            "char_set_config unit." } },
    };
    for (const bad_case_t& c : cases)
    {
        SCOPED_TRACE(c.units);
        const std::string path = write_configuration(c.units);
        std::vector<std::string> expected;
        for (std::string message : c.messages)
        {
            const size_t at = message.find("%s");
            expected.push_back(at == std::string::npos ? message : message.replace(at, 2, path));
        }
        expected.push_back("Failed to read the configuration file '" + path + "'.");
        message_capture_t capture;
        EXPECT_FALSE(load_inputs(&generator, path.c_str()));
        EXPECT_EQ(capture.lines, expected);
        EXPECT_EQ(generator.sets.size(), 0u);
        release(&generator);
        unit_flush_pending_releases();
    }
}

TEST_F(configuration_fixture, a_missing_file_is_reported_by_the_file_system_then_by_name)
{
    const std::string path = (directory / "missing.qsd").string();
    message_capture_t capture;
    EXPECT_FALSE(load_inputs(&generator, path.c_str()));
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[fs] Failed to open file '" + path + "' in the read_only mode.",
                  "[fs] Reason: no such file or folder.",
                  "Failed to open the configuration file '" + path + "'." }));
}
