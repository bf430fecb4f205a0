// Axis settings of variable fonts as the configuration writes them ("wght=650"), and their tags
// as text.
#pragma once

#include <cstdint>

// One axis setting: the tag's four characters packed big end first, as OpenType packs them, and
// the value in the axis's own units, 16.16.
struct axis_setting_t
{
    uint32_t tag = 0;
    int32_t value = 0;
};

// Reads "wght=650", "wdth=87.5", "slnt=-10": blanks, four printable characters other than blanks
// and '=', '=', a decimal number (sign, digits, a point and more digits), blanks. The value is
// rounded to 16.16 and held at the 32-bit ends. False, without a word, for anything else.
[[nodiscard]] bool parse_axis_setting(const char* text, axis_setting_t* setting);

// The tag as its four characters and a terminating zero; a character that does not print as
// itself becomes '?'.
struct axis_tag_text_t
{
    char text[5];
};
axis_tag_text_t axis_tag_text(uint32_t tag);
