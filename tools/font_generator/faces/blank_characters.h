// Characters that draw nothing by nature: spaces, joiners, variation selectors and the like.
#pragma once

#include <cstdint>

// True for a Unicode White_Space or Default_Ignorable_Code_Point code point: a glyph of it
// without pixels is what the font means, not a sign of a missing glyph.
bool is_blank_by_nature(uint32_t code);
