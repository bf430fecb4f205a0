// The fields a character set's pictures can hold, by the names configurations give them.
#pragma once

#include <cstdint>

enum class distance_field_type_t : uint8_t
{
    sdf,    // one channel: the signed distance
    msdf,   // three channels whose median is the shape
    mtsdf,  // msdf with the signed distance in a fourth channel
};

// "sdf", "msdf" or "mtsdf".
const char* distance_field_type_name(distance_field_type_t type);
// False for any other name.
bool find_distance_field_type(const char* name, distance_field_type_t* type);
