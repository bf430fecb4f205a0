// Near names: the restricted edit distance and the near-name rule.
#include "ovcore/collections/near_names.h"

#include <cstring>

namespace
{

constexpr uint32_t longest_name = 64;
constexpr uint32_t farthest_near = 2;

uint32_t smallest(uint32_t a, uint32_t b)
{
    return a < b ? a : b;
}

}  // namespace

uint32_t edit_distance(const char* a, uint32_t a_length, const char* b, uint32_t b_length)
{
    if (a_length > longest_name || b_length > longest_name)
        return no_distance;
    // Three rows of the distance table: the swap looks two rows back.
    uint32_t rows[3][longest_name + 1];
    uint32_t* before_previous = rows[0];
    uint32_t* previous = rows[1];
    uint32_t* current = rows[2];
    for (uint32_t j = 0; j <= b_length; ++j)
        previous[j] = j;
    for (uint32_t i = 1; i <= a_length; ++i)
    {
        current[0] = i;
        for (uint32_t j = 1; j <= b_length; ++j)
        {
            const uint32_t replace = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            uint32_t best = smallest(replace, smallest(previous[j] + 1, current[j - 1] + 1));
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                best = smallest(best, before_previous[j - 2] + 1);
            current[j] = best;
        }
        uint32_t* oldest = before_previous;
        before_previous = previous;
        previous = current;
        current = oldest;
    }
    return previous[b_length];
}

uint32_t near_name_distance(const char* typed, uint32_t typed_length, const char* known)
{
    const uint32_t known_length = uint32_t(std::strlen(known));
    const uint32_t distance = edit_distance(typed, typed_length, known, known_length);
    return distance <= farthest_near && 2 * distance < known_length ? distance : no_distance;
}

near_name_search_t::near_name_search_t(const char* typed)
    : m_typed(typed), m_typed_length(uint32_t(std::strlen(typed)))
{
}

void near_name_search_t::offer(const char* known)
{
    const uint32_t distance = near_name_distance(m_typed, m_typed_length, known);
    if (distance < m_distance)
    {
        m_nearest = known;
        m_distance = distance;
    }
}
