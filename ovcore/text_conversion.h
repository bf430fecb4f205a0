// Conversions between UTF-8 text and UTF-16 units, where text meets the operating system.
// Bad sequences are reported as messages, so these live beside the message system rather than
// among the collections.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"

#include <cstdint>

class string_t;

// Converts zero-terminated UTF-8 text into `units`, zero unit included. Bad sequences are
// reported and skipped; the result is false when any was met or the array could not grow.
bool utf8_to_utf16(const char* text, array_t<uint16_t>* units);

// Converts at most 512 units (up to a zero unit) into UTF-8. Bad surrogates are reported and
// skipped; the result is false when any was met or the text could not grow.
bool utf16_to_utf8(const uint16_t* units, string_t* text);
