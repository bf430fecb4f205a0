// How far apart two names are (optimal string alignment distance).
#include "ovcore/collections/edit_distance.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr uint32_t longest_name = 64;

}  // namespace

uint32_t edit_distance(const char* a, const char* b, uint32_t limit)
{
    const uint32_t m = uint32_t(std::strlen(a));
    const uint32_t n = uint32_t(std::strlen(b));
    if (m > longest_name || n > longest_name || (m > n ? m - n : n - m) > limit)
        return limit + 1;
    // Three rows of the table: two back for a swap, the one before, the one being filled.
    uint32_t rows[3][longest_name + 1];
    for (uint32_t j = 0; j <= n; ++j)
        rows[0][j] = j;
    for (uint32_t i = 1; i <= m; ++i)
    {
        const uint32_t* before_last = rows[(i + 1) % 3];
        const uint32_t* last = rows[(i - 1) % 3];
        uint32_t* row = rows[i % 3];
        row[0] = i;
        uint32_t smallest = row[0];
        for (uint32_t j = 1; j <= n; ++j)
        {
            const uint32_t replace = last[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            uint32_t best = std::min({ last[j] + 1, row[j - 1] + 1, replace });
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                best = std::min(best, before_last[j - 2] + 1);
            row[j] = best;
            smallest = std::min(smallest, best);
        }
        if (smallest > limit)
            return limit + 1;
    }
    return std::min(rows[m % 3][n], limit + 1);
}

bool is_near_name(const char* written, const char* candidate)
{
    const uint32_t distance = edit_distance(written, candidate, 2);
    return distance <= 2 && 2 * distance < uint32_t(std::strlen(written));
}

void near_name_search_t::offer(const char* candidate)
{
    if (!is_near_name(m_written, candidate))
        return;
    const uint32_t distance = edit_distance(m_written, candidate, 2);
    if (m_nearest == nullptr || distance < m_distance)
    {
        m_nearest = candidate;
        m_distance = distance;
    }
}
