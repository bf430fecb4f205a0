// The UTF-8 text of one code point, for the files that show a glyph's character beside it.
#pragma once

#include "ovcore/collections/string.h"

#include <cstdint>

// Empty for 0 and for codes beyond four bytes.
struct character_text_t
{
    explicit character_text_t(uint32_t code) { (void)text.append_code_point(code); }
    const char* c_str() const { return text.c_str(); }
    string_fixed_t<8> text;
};
