// UTF-8 to UTF-16 and back, with the reports of bad sequences.
#include "ovcore/text_conversion.h"

#include "ovcore/collections/string.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <vector>

TEST(utf8_to_utf16, converts_and_reports_bad_sequences)
{
    const struct {
        const char* text;
        std::vector<uint16_t> units;
        bool ok;
        std::vector<std::string> messages;
    } cases[] = {
        { "a\xFF" "b", { 0x61, 0x62, 0 }, false, { "Encountered invalid code point." } },
        { "\xF0\x9F\x98\x80", { 0xD83D, 0xDE00, 0 }, true, {} },
        { "", { 0 }, true, {} },
        { "\xE2\x82\xAC", { 0x20AC, 0 }, true, {} },
    };
    for (const auto& c : cases)
    {
        message_capture_t capture;
        array_dyn_t<uint16_t> units;
        ASSERT_TRUE(units.append(0x1234));  // emptied first
        EXPECT_EQ(utf8_to_utf16(c.text, &units), c.ok);
        EXPECT_EQ(std::vector<uint16_t>(units.begin(), units.end()), c.units);
        EXPECT_EQ(capture.lines, c.messages);
    }
}

TEST(utf16_to_utf8, converts_and_reports_bad_surrogates)
{
    const struct {
        std::vector<uint16_t> units;
        const char* text;
        bool ok;
        std::vector<std::string> messages;
    } cases[] = {
        { { 0x41, 0x20AC, 0 }, "A\xE2\x82\xAC", true, {} },
        { { 0xD83D, 0xDE00, 0 }, "\xF0\x9F\x98\x80", true, {} },
        { { 0xD83D, 0x41, 0 }, "A", false, { "Leading surrogate without trailing one found." } },
        { { 0xDE00, 0x42, 0 }, "B", false, { "Standalone tailing surrogate found." } },
    };
    for (const auto& c : cases)
    {
        message_capture_t capture;
        string_dyn_t text;
        EXPECT_EQ(utf16_to_utf8(c.units.data(), &text), c.ok);
        EXPECT_STREQ(text.c_str(), c.text);
        EXPECT_EQ(capture.lines, c.messages);
    }
}

TEST(utf16_to_utf8, reads_at_most_512_units)
{
    std::vector<uint16_t> units(600, 'x');
    units.push_back(0);
    string_dyn_t text;
    EXPECT_TRUE(utf16_to_utf8(units.data(), &text));
    EXPECT_EQ(text.length(), 512u);

    units.assign(512, 'y');
    units[511] = 0xD83D;  // a leading surrogate as the 512th unit
    units.push_back(0xDE00);
    units.push_back(0);
    message_capture_t capture;
    EXPECT_FALSE(utf16_to_utf8(units.data(), &text));
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "Input ends with leading surrogate." });
}
