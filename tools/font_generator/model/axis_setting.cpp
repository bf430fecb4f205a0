// Reading axis settings.
#include "tools/font_generator/model/axis_setting.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace
{

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

bool parse_axis_setting(const char* text, axis_setting_t* setting)
{
    const char* p = text;
    while (is_blank(*p))
        ++p;
    uint32_t tag = 0;
    for (int i = 0; i < 4; ++i, ++p)
    {
        if (*p <= ' ' || *p > '~' || *p == '=')
            return false;
        tag = tag << 8 | uint8_t(*p);
    }
    if (*p++ != '=')
        return false;
    const char* number = p;
    if (*p == '+' || *p == '-')
        ++p;
    bool digits = false;
    for (; is_digit(*p); ++p)
        digits = true;
    if (*p == '.')
        for (++p; is_digit(*p); ++p)
            digits = true;
    const char* end = p;
    while (is_blank(*p))
        ++p;
    if (!digits || *p != 0)
        return false;
    // Only the checked characters reach strtod: no exponent, hexadecimal or "inf".
    char checked[64];
    if (end - number >= std::ptrdiff_t(sizeof checked))
        return false;
    for (const char* q = number; q < end; ++q)
        checked[q - number] = *q;
    checked[end - number] = 0;
    const double fixed = std::round(std::strtod(checked, nullptr) * 65536.0);
    setting->tag = tag;
    setting->value = fixed >= 2147483647.0    ? INT32_MAX
                     : fixed <= -2147483648.0 ? INT32_MIN
                                              : int32_t(fixed);
    return true;
}

axis_tag_text_t axis_tag_text(uint32_t tag)
{
    axis_tag_text_t text;
    for (int i = 0; i < 4; ++i)
    {
        const char c = char(tag >> (24 - 8 * i));
        text.text[i] = c < ' ' || c > '~' ? '?' : c;
    }
    text.text[4] = 0;
    return text;
}
