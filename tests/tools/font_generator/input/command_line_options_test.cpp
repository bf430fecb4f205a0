// The configuration text that options make loads without a message and gives back every value
// as given: bytes that the unit text format escapes, and every range's ends.
#include "tools/font_generator/input/command_line_options.h"

#include "ovcore/ufs/sequential_mem_file.h"
#include "ovcore/units/unit_system.h"
#include "tests/support/message_capture.h"
#include "tools/font_generator/input/configuration.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace
{

using check_t = std::function<void(const configuration_u&, const char_set_config_u&)>;

// Reads the options after the program's name, loads the text they make in a unit system of its
// own, as main does, and checks what loaded.
void load_and_check(std::vector<std::string> options, const check_t& check)
{
    options.insert(options.begin(), "font_generator");
    std::vector<const char*> argv;
    for (const std::string& option : options)
        argv.push_back(option.c_str());
    unit_bank_t bank;
    (void)bank.register_type(&configuration_u::descriptor);
    (void)bank.register_type(&char_set_config_u::descriptor);
    unit_system_t system(&bank);
    system.make_default();

    message_capture_t capture;
    string_dyn_t text;
    ASSERT_EQ(read_options(int(argv.size()), argv.data(), &text), options_request_t::run);
    sequential_mem_file_t file(text.c_str(), text.length(), options_configuration_name, SYSFS);
    const owner_ptr_t<configuration_u> configuration =
        load_configuration(options_configuration_name, &file);
    EXPECT_EQ(capture.lines, std::vector<std::string>{});
    ASSERT_TRUE(configuration);
    ASSERT_EQ(configuration->char_config.size(), 1u);
    check(*configuration, *configuration->char_set(0));
}

}  // namespace

TEST(command_line_options, make_a_configuration_that_loads_with_every_value_as_given)
{
    const std::string awkward = "a \"b\" \\c\\\n\r\t\x01\x7F \xC3\xA9 \xEF\xBB\xBF.ttf";
    struct case_t
    {
        std::vector<std::string> options;
        check_t check;
    };
    const case_t cases[] = {
        { { "--font", awkward, "--font", awkward + "2", "--text", awkward, "--charset-file",
            awkward, "--preview", awkward, "--output", awkward + "/" + awkward },
          [&](const configuration_u& configuration, const char_set_config_u& set) {
              EXPECT_STREQ(set.font_file.c_str(), awkward.c_str());
              ASSERT_EQ(set.fallback_font_files.size(), 1u);
              EXPECT_EQ(set.fallback_font_files[0].c_str(), awkward + "2");
              ASSERT_EQ(set.text_files.size(), 1u);
              EXPECT_STREQ(set.text_files[0].c_str(), awkward.c_str());
              EXPECT_STREQ(set.character_set_file.c_str(), awkward.c_str());
              EXPECT_STREQ(configuration.preview_text.c_str(), awkward.c_str());
              EXPECT_EQ(configuration.base.c_str(), awkward + "/");
              EXPECT_STREQ(configuration.output.c_str(), awkward.c_str());
              EXPECT_TRUE(set.character_ranges.empty());
          } },
        { { "--font", "f", "--size", "8192", "--distance-range", "64", "--max-picture-size", "32",
            "--colour", "0", "--line-spacing", "-8192", "--outline-width", "8192", "--chars",
            "0-1114111", "--chars", " u+10fffD , 1 - 2 " },
          [](const configuration_u& configuration, const char_set_config_u& set) {
              EXPECT_EQ(set.width, 8192u);
              EXPECT_EQ(set.height, 8192u);
              EXPECT_EQ(set.distance_range, 64.0f);
              EXPECT_EQ(set.max_picture_size, 32u);
              EXPECT_EQ(configuration.font_style, 1u);
              EXPECT_EQ(configuration.gradient_color_start, 0);
              EXPECT_EQ(configuration.line_spacing, -8192);
              EXPECT_EQ(set.outline_width, 8192u);
              ASSERT_EQ(set.character_ranges.size(), 3u);
              EXPECT_STREQ(set.character_ranges[0].c_str(), "U+0000-U+10FFFF");
              EXPECT_STREQ(set.character_ranges[1].c_str(), "U+10FFFD");
              EXPECT_STREQ(set.character_ranges[2].c_str(), "U+0001-U+0002");
          } },
        { { "--font", "f", "--width", "1", "--height", "3", "--size", "2", "--distance-range",
            "1", "--max-picture-size", "8192", "--colour", "--distance-field" },
          [](const configuration_u& configuration, const char_set_config_u& set) {
              EXPECT_EQ(set.width, 1u);
              EXPECT_EQ(set.height, 3u);
              EXPECT_EQ(set.distance_range, 1.0f);
              EXPECT_TRUE(set.distance_field);
              EXPECT_EQ(configuration.gradient_color_start, 255);
              EXPECT_STREQ(configuration.base.c_str(), "out/");
              EXPECT_STREQ(configuration.output.c_str(), "font");
          } },
        { { "--font", "f", "--distance-range", "6.1", "--output", "name" },
          [](const configuration_u& configuration, const char_set_config_u& set) {
              EXPECT_EQ(set.distance_range, 6.1f);
              EXPECT_STREQ(configuration.base.c_str(), "");
              EXPECT_STREQ(configuration.output.c_str(), "name");
              ASSERT_EQ(set.character_ranges.size(), 1u);
              EXPECT_STREQ(set.character_ranges[0].c_str(), "U+0020-U+007E");
          } },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.options[1] + " " + c.options[2]);
        load_and_check(c.options, c.check);
    }
}
