// Hashed map lookup, removal and growth across the table's size classes.
#include "ovcore/collections/map/map_hashed.h"

#include <gtest/gtest.h>

TEST(map_hashed_t, grows_through_the_size_classes_and_finds_every_key)
{
    map_hashed_t<uint32_t, uint32_t> map;
    const struct { uint32_t count, size_class; } steps[] = {
        { 1, 1 }, { 16, 1 }, { 17, 2 }, { 1080, 7 }, { 1081, 8 }, { 45864, 13 },
    };
    uint32_t inserted = 0;
    for (const auto& step : steps)
    {
        for (; inserted < step.count; ++inserted)
            ASSERT_NE(map.insert(inserted * 7919u, inserted), nullptr);
        EXPECT_EQ(map.size_class(), step.size_class) << step.count;
    }
    for (uint32_t i = 0; i < inserted; i += 97)
    {
        const uint32_t* value = map.find(i * 7919u);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(*value, i);
    }
    EXPECT_EQ(map.find(1), nullptr);
    EXPECT_DEATH(map.insert(1, 1), "Failed to insert more elements into hashed_table_t than its "
                                   "limits permit\\.");
}

TEST(map_hashed_t, grows_early_when_keys_collide)
{
    // Every key lands in the same chain, so lookups grow long before the table is full.
    struct colliding_traits_t
    {
        static uint32_t hash(const uint32_t&) { return 5; }
        static bool equal(const uint32_t& a, const uint32_t& b) { return a == b; }
    };
    map_hashed_t<uint32_t, uint32_t, colliding_traits_t> map;
    for (uint32_t i = 0; i < 10; ++i)
        ASSERT_NE(map.insert(i, i), nullptr);
    EXPECT_EQ(map.size_class(), 2u);  // 9 compared keys exceed the first limit of 8
}

TEST(map_hashed_t, removes_and_keeps_the_rest_reachable)
{
    map_hashed_t<string_alias_t, int> map;
    const char* names[] = { "font", "latin", "cyrillic", "greek", "symbols" };
    for (int i = 0; i < 5; ++i)
        map.insert(string_alias_t{ names[i] }, i);
    EXPECT_TRUE(map.remove(string_alias_t{ "latin" }));
    EXPECT_FALSE(map.remove(string_alias_t{ "latin" }));
    EXPECT_EQ(map.size(), 4u);
    for (int i = 0; i < 5; ++i)
    {
        const int* value = map.find(string_alias_t{ names[i] });
        if (i == 1)
            EXPECT_EQ(value, nullptr);
        else
            ASSERT_TRUE(value != nullptr && *value == i) << names[i];
    }
}
