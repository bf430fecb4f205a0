// The 'kern' table of a TrueType font, read once for both kerning routes: the pairs its format 0
// subtables list.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"

#include <cstdint>

// What a table says beside its pairs.
struct kern_table_facts_t
{
    bool other_formats = false;  // a subtable of another format, which lists no pairs here
    // A subtable's 16-bit length is shorter than its pairs: readers that trust the length walk
    // such a table differently.
    bool short_lengths = false;
    bool truncated = false;  // a subtable's pairs run past the table's end
};

// Every (left, right) glyph pair with a value other than 0 in a format 0 subtable of the
// table's bytes, as left << 32 | right, sorted, without repeats. A subtable's pairs are the ones
// its count gives, as far as they lie in the table; the next subtable starts after the larger
// of its length and its pairs, since the length field has only 16 bits and a large subtable
// outgrows it. False when the table cannot be read (too short, another version, or a
// subtable header outside it) or memory is short.
[[nodiscard]] bool read_kern_table(const uint8_t* table, uint64_t size,
                                   array_dyn_t<uint64_t>* pairs, kern_table_facts_t* facts);
