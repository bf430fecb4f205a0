// One kerning line of a character set, as the kerning stage finds it and the writers state it.
#pragma once

#include <cstdint>

// Positions of the two glyphs in the set, and the kerning in whole pixels.
struct kerning_pair_t
{
    uint32_t first;
    uint32_t second;
    int32_t value;
};
