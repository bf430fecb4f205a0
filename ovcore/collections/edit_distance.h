// How far apart two names are, for "did you mean" lines.
#pragma once

#include <cstdint>

// The number of single edits that turn `a` into `b`: inserting, deleting or replacing one byte,
// or swapping two neighbouring bytes, each counting 1 (no byte is edited twice). Counting stops
// past `limit`: any larger distance, and any name longer than 64 bytes, gives limit + 1.
// Allocates nothing.
uint32_t edit_distance(const char* a, const char* b, uint32_t limit);

// Whether `candidate` is near enough to the `written` name to be offered in its place: at most
// two edits, and fewer than half of the written name's length.
bool is_near_name(const char* written, const char* candidate);

// The name to offer for a written one: offered names in their list's order, the nearest of the
// near ones kept, the first of equally near ones. Allocates nothing; names are not copied.
class near_name_search_t
{
public:
    explicit near_name_search_t(const char* written) : m_written(written) {}
    void offer(const char* candidate);
    // Null when no offered name was near.
    const char* nearest() const { return m_nearest; }

private:
    const char* m_written;
    const char* m_nearest = nullptr;
    uint32_t m_distance = 0;
};
