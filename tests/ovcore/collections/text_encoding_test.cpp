// UTF-8 decoding.
#include "ovcore/collections/text_encoding.h"

#include "ovcore/collections/string.h"

#include <gtest/gtest.h>

#include <vector>

TEST(decode_utf8, accepts_exactly_the_well_formed_sequences)
{
    const struct { const char* bytes; uint32_t code_point; int32_t length; } cases[] = {
        { "A", 0x41, 1 },
        { "\xC2\x80", 0x80, 2 },
        { "\xDF\xBF", 0x7FF, 2 },
        { "\xE0\xA0\x80", 0x800, 3 },
        { "\xED\x9F\xBF", 0xD7FF, 3 },
        { "\xEF\xBF\xBF", 0xFFFF, 3 },
        { "\xF0\x90\x80\x80", 0x10000, 4 },
        { "\xF4\x8F\xBF\xBF", 0x10FFFF, 4 },
        { "\xC0\x80", 0xFFFFFFFF, -1 },          // overlong zero
        { "\xC1\xBF", 0xFFFFFFFF, -1 },
        { "\xE0\x9F\x80", 0xFFFFFFFF, -1 },      // overlong
        { "\xED\xA0\x80", 0xFFFFFFFF, -1 },      // surrogate
        { "\xF0\x8F\x80\x80", 0xFFFFFFFF, -1 },  // overlong
        { "\xF4\x90\x80\x80", 0xFFFFFFFF, -1 },  // beyond U+10FFFF
        { "\xF5\x80\x80\x80", 0xFFFFFFFF, -1 },
        { "\x80", 0xFFFFFFFF, -1 },
        { "\xE2\x82", 0xFFFFFFFF, -1 },          // cut short by the terminator
    };
    for (const auto& c : cases)
    {
        const utf8_sequence_t sequence = decode_utf8(c.bytes);
        EXPECT_EQ(sequence.code_point, c.code_point) << c.bytes;
        EXPECT_EQ(sequence.length, c.length) << c.bytes;
    }
}
