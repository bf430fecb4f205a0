// Conversions between UTF-8 text and UTF-16 units at the operating system's boundary.
#include "ovcore/text_conversion.h"

#include "ovcore/collections/string.h"
#include "ovcore/collections/text_encoding.h"
#include "ovcore/message.h"

bool utf8_to_utf16(const char* text, array_t<uint16_t>* units)
{
    units->clear();
    bool ok = true;
    for (const char* p = text; *p != 0;)
    {
        const utf8_sequence_t sequence = decode_utf8(p);
        if (sequence.length < 0)
        {
            msg_error("Encountered invalid code point.");
            ok = false;
            ++p;
            continue;
        }
        p += sequence.length;
        const uint32_t cp = sequence.code_point;
        if (cp <= 0xD7FF || (cp >= 0xE000 && cp <= 0xFFFF))
        {
            if (!units->append(uint16_t(cp)))
                return false;
        }
        else if (cp >= 0xD800 && cp <= 0xDFFF)
        {
            msg_error("A reserved code point value 0x%04x encountered.", cp);
            ok = false;
        }
        else if (cp <= 0x10FFFF)
        {
            if (!units->append(uint16_t(0xD800 + ((cp - 0x10000) >> 10))) ||
                !units->append(uint16_t(0xDC00 + (cp & 0x3FF))))
                return false;
        }
        else
        {
            msg_error("Unexpected code point 0x%08x.", cp);
            ok = false;
        }
    }
    if (!units->append(uint16_t(0)))
        return false;
    return ok;
}

bool utf16_to_utf8(const uint16_t* units, string_t* text)
{
    constexpr uint32_t max_units = 512;
    text->clear();
    bool ok = true;
    for (uint32_t i = 0; i < max_units && units[i] != 0; ++i)
    {
        const uint32_t unit = units[i];
        uint32_t code_point = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF)
        {
            if (i + 1 == max_units)
            {
                msg_error("Input ends with leading surrogate.");
                return false;
            }
            const uint32_t trail = units[i + 1];
            if (trail < 0xDC00 || trail > 0xDFFF)
            {
                msg_error("Leading surrogate without trailing one found.");
                ok = false;
                continue;  // the following unit is read on its own
            }
            code_point = 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00);
            ++i;
        }
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
        {
            msg_error("Standalone tailing surrogate found.");
            ok = false;
            continue;
        }
        if (!text->append_code_point(code_point))
            return false;
    }
    return ok;
}
