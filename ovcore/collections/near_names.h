// Near names: the edit distance between two short names, and the rule that picks the known name
// a mistyped one was meant to be (options of the command line, attributes of a unit).
#pragma once

#include <cstdint>

// The restricted edit distance of two names: the fewest insertions, deletions, replacements and
// swaps of two neighbouring bytes that turn one into the other, no byte edited twice. Compared
// byte for byte. Names longer than 64 bytes are never near anything: they get `no_distance`.
constexpr uint32_t no_distance = 0xFFFFFFFFu;
[[nodiscard]] uint32_t edit_distance(const char* a, uint32_t a_length, const char* b,
                                     uint32_t b_length);

// The distance of `known` to `typed` when `known` is near it: at most 2, and less than half the
// length of `known` (a short name is near only what differs from it a little); otherwise
// `no_distance`.
[[nodiscard]] uint32_t near_name_distance(const char* typed, uint32_t typed_length,
                                          const char* known);

// The known name to offer for a typed one: known names offered in their list's order, the
// nearest of the near ones kept, the first of equally near ones. For names spread over several
// lists (a unit type and its parents). Allocates nothing; names are not copied.
class near_name_search_t
{
public:
    explicit near_name_search_t(const char* typed);
    void offer(const char* known);
    // Null when no offered name was near.
    const char* nearest() const { return m_nearest; }

private:
    const char* m_typed;
    uint32_t m_typed_length;
    const char* m_nearest = nullptr;
    uint32_t m_distance = no_distance;
};

// The index of the known name nearest to `typed` among `count` entries whose name is the member
// `name`; ties go to the first. `count` when none is near.
template <typename Entry>
[[nodiscard]] uint32_t find_near_name(const char* typed, uint32_t typed_length,
                                      const Entry* entries, uint32_t count,
                                      const char* Entry::*name)
{
    uint32_t nearest = count;
    uint32_t nearest_distance = no_distance;
    for (uint32_t i = 0; i < count; ++i)
    {
        const uint32_t distance = near_name_distance(typed, typed_length, entries[i].*name);
        if (distance < nearest_distance)
        {
            nearest = i;
            nearest_distance = distance;
        }
    }
    return nearest;
}
