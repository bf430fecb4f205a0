// UTF-8 decoding and encoding.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"

#include <cstdint>

class string_t;

struct utf8_sequence_t
{
    uint32_t code_point;  // all-ones when invalid
    int32_t length;       // bytes taken; -1 when invalid
};

// Decodes the well-formed UTF-8 sequence at `bytes` (RFC 3629: no overlongs, no surrogates,
// nothing above U+10FFFF). Reads at most up to the first byte that breaks the sequence, so a
// zero terminator is never passed.
utf8_sequence_t decode_utf8(const char* bytes);

// Appends the code point as 1 to 4 bytes (up to 0x1FFFFF); 0 appends nothing and succeeds.
// False, with the string unchanged, when it is out of range or does not fit.
bool append_utf8(string_t* text, uint32_t code_point);
