// The 'kern' table reader.
#include "tools/font_generator/kerning/kern_table.h"

#include <algorithm>

namespace
{

uint32_t read_u16(const uint8_t* p)
{
    return uint32_t(p[0]) << 8 | p[1];
}

}  // namespace

bool read_kern_table(const uint8_t* table, uint64_t size, array_dyn_t<uint64_t>* pairs,
                     kern_table_facts_t* facts)
{
    pairs->clear();
    *facts = kern_table_facts_t{};
    if (size < 4 || read_u16(table) != 0)
        return false;
    const uint32_t subtables = read_u16(table + 2);
    uint64_t at = 4;
    for (uint32_t n = 0; n < subtables; ++n)
    {
        if (at + 14 > size)
            return false;
        const uint8_t* header = table + at;
        const uint64_t length = read_u16(header + 2);
        const uint32_t format = read_u16(header + 4) >> 8;
        const uint64_t count = read_u16(header + 6);
        if (format != 0)
        {
            facts->other_formats = true;
            at += std::max<uint64_t>(length, 6);
            continue;
        }
        const uint64_t listed = 14 + 6 * count;
        facts->short_lengths = facts->short_lengths || length < listed;
        const uint64_t inside = std::min<uint64_t>(count, (size - at - 14) / 6);
        facts->truncated = facts->truncated || inside < count;
        if (!pairs->reserve_more(uint32_t(inside)))
            return false;
        for (const uint8_t* entry = header + 14; entry < header + 14 + 6 * inside; entry += 6)
            if (read_u16(entry + 4) != 0)
                (void)pairs->append(uint64_t(read_u16(entry)) << 32 | read_u16(entry + 2));
        at += std::max(length, listed);
    }
    std::sort(pairs->begin(), pairs->end());
    const uint64_t* end = std::unique(pairs->begin(), pairs->end());
    (void)pairs->resize(uint32_t(end - pairs->begin()));  // shrinking always succeeds
    return true;
}
