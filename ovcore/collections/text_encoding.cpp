// UTF-8 decoding and encoding.
#include "ovcore/collections/text_encoding.h"

namespace
{

constexpr utf8_sequence_t invalid_sequence = { 0xFFFFFFFFu, -1 };

bool is_in(unsigned char byte, unsigned char low, unsigned char high)
{
    return byte >= low && byte <= high;
}

}  // namespace

utf8_sequence_t decode_utf8(const char* bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned char first = b[0];
    if (first < 0x80)
        return { first, 1 };
    // Allowed range of the second byte and the sequence length, by first byte.
    unsigned char low = 0x80, high = 0xBF;
    int32_t length;
    if (is_in(first, 0xC2, 0xDF))
        length = 2;
    else if (first == 0xE0)
        low = 0xA0, length = 3;
    else if (first == 0xED)
        high = 0x9F, length = 3;
    else if (is_in(first, 0xE1, 0xEF))
        length = 3;
    else if (first == 0xF0)
        low = 0x90, length = 4;
    else if (is_in(first, 0xF1, 0xF3))
        length = 4;
    else if (first == 0xF4)
        high = 0x8F, length = 4;
    else
        return invalid_sequence;
    if (!is_in(b[1], low, high))
        return invalid_sequence;
    for (int32_t i = 2; i < length; ++i)
        if (!is_in(b[i], 0x80, 0xBF))
            return invalid_sequence;
    uint32_t code_point = first & (0x7Fu >> length);
    for (int32_t i = 1; i < length; ++i)
        code_point = (code_point << 6) | (b[i] & 0x3Fu);
    return { code_point, length };
}

uint32_t encode_utf8(uint32_t code_point, char bytes[4])
{
    if (code_point == 0)
        return 0;
    if (code_point < 0x80)
    {
        bytes[0] = char(code_point);
        return 1;
    }
    if (code_point < 0x800)
    {
        bytes[0] = char(0xC0 | (code_point >> 6));
        bytes[1] = char(0x80 | (code_point & 0x3F));
        return 2;
    }
    if (code_point < 0x10000)
    {
        bytes[0] = char(0xE0 | (code_point >> 12));
        bytes[1] = char(0x80 | ((code_point >> 6) & 0x3F));
        bytes[2] = char(0x80 | (code_point & 0x3F));
        return 3;
    }
    if (code_point <= 0x1FFFFF)
    {
        bytes[0] = char(0xF0 | (code_point >> 18));
        bytes[1] = char(0x80 | ((code_point >> 12) & 0x3F));
        bytes[2] = char(0x80 | ((code_point >> 6) & 0x3F));
        bytes[3] = char(0x80 | (code_point & 0x3F));
        return 4;
    }
    return 0;
}
