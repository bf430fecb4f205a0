// The 'kern' table reader: the pairs of format 0 subtables by one rule for subtable lengths, and
// what a table says beside them.
#include "tools/font_generator/kerning/kern_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace
{

struct entry_t
{
    uint16_t left;
    uint16_t right;
    int16_t value;
};

void put16(std::vector<uint8_t>* bytes, uint32_t value)
{
    bytes->push_back(uint8_t(value >> 8));
    bytes->push_back(uint8_t(value));
}

// A subtable of the format with the entries; `length` 0 writes its true length (mod 2^16).
void add_subtable(std::vector<uint8_t>* table, uint32_t format, const std::vector<entry_t>& pairs,
                  uint32_t length = 0)
{
    put16(table, 0);  // version
    put16(table, length != 0 ? length : uint32_t(14 + 6 * pairs.size()) & 0xFFFF);
    put16(table, format << 8 | 1);  // horizontal
    put16(table, uint32_t(pairs.size()));
    put16(table, 0);
    put16(table, 0);
    put16(table, 0);
    for (const entry_t& pair : pairs)
    {
        put16(table, pair.left);
        put16(table, pair.right);
        put16(table, uint16_t(pair.value));
    }
}

std::vector<uint8_t> table_of(uint32_t subtables)
{
    std::vector<uint8_t> table;
    put16(&table, 0);
    put16(&table, subtables);
    return table;
}

std::vector<uint64_t> read(const std::vector<uint8_t>& table, kern_table_facts_t* facts,
                           bool* ok)
{
    array_dyn_t<uint64_t> pairs;
    *ok = read_kern_table(table.data(), table.size(), &pairs, facts);
    return std::vector<uint64_t>(pairs.begin(), pairs.end());
}

uint64_t pair(uint32_t left, uint32_t right)
{
    return uint64_t(left) << 32 | right;
}

}  // namespace

TEST(kern_table, lists_the_pairs_of_every_format_0_subtable_sorted_once_without_zeros)
{
    std::vector<uint8_t> table = table_of(3);
    add_subtable(&table, 0, { { 5, 7, -40 }, { 1, 2, 0 }, { 3, 4, 10 } });
    add_subtable(&table, 2, {});
    add_subtable(&table, 0, { { 5, 7, -20 }, { 1, 9, 3 } });
    kern_table_facts_t facts;
    bool ok = false;
    EXPECT_EQ(read(table, &facts, &ok),
              (std::vector<uint64_t>{ pair(1, 9), pair(3, 4), pair(5, 7) }));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(facts.other_formats);
    EXPECT_FALSE(facts.short_lengths);
    EXPECT_FALSE(facts.truncated);
}

TEST(kern_table, a_subtable_larger_than_its_16_bit_length_ends_after_its_pairs)
{
    // 11,000 pairs: 66,014 bytes, written as 66,014 mod 65,536 = 478.
    std::vector<entry_t> many;
    for (uint16_t i = 0; i < 11000; ++i)
        many.push_back({ uint16_t(i / 100 + 1), uint16_t(i % 100 + 1), -1 });
    std::vector<uint8_t> table = table_of(2);
    add_subtable(&table, 0, many);
    add_subtable(&table, 0, { { 900, 901, 5 } });
    kern_table_facts_t facts;
    bool ok = false;
    const std::vector<uint64_t> pairs = read(table, &facts, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(pairs.size(), 11001u);
    EXPECT_EQ(pairs.back(), pair(900, 901));  // the second subtable is found after the pairs
    EXPECT_TRUE(facts.short_lengths);
    EXPECT_FALSE(facts.truncated);
}

TEST(kern_table, tells_a_table_it_cannot_read_and_pairs_past_the_end)
{
    kern_table_facts_t facts;
    bool ok = true;
    std::vector<uint8_t> version_1 = table_of(0);
    version_1[1] = 1;
    (void)read(version_1, &facts, &ok);
    EXPECT_FALSE(ok);
    std::vector<uint8_t> missing_subtable = table_of(2);
    add_subtable(&missing_subtable, 0, { { 1, 2, 3 } });
    (void)read(missing_subtable, &facts, &ok);
    EXPECT_FALSE(ok);

    std::vector<uint8_t> cut = table_of(1);
    add_subtable(&cut, 0, { { 1, 2, 3 }, { 4, 5, 6 } });
    cut.resize(cut.size() - 3);
    EXPECT_EQ(read(cut, &facts, &ok), std::vector<uint64_t>{ pair(1, 2) });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(facts.truncated);
}
