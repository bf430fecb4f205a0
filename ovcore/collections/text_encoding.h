// UTF-8 decoding and encoding.
#pragma once

#include <cstdint>

struct utf8_sequence_t
{
    uint32_t code_point;  // all-ones when invalid
    int32_t length;       // bytes taken; -1 when invalid
};

// Decodes the well-formed UTF-8 sequence at `bytes` (RFC 3629: no overlongs, no surrogates,
// nothing above U+10FFFF). Reads at most up to the first byte that breaks the sequence, so a
// zero terminator is never passed.
utf8_sequence_t decode_utf8(const char* bytes);

// Encodes the code point as 1 to 4 bytes (up to 0x1FFFFF) and returns how many; 0 for code
// point 0 and for one out of range (string_t::append_code_point tells the two apart).
uint32_t encode_utf8(uint32_t code_point, char bytes[4]);
