// Array growth, removal, bounds checks and the copy trait.
#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

std::vector<int> contents(const array_t<int>& array)
{
    return std::vector<int>(array.begin(), array.end());
}

}  // namespace

TEST(array_dyn_t, grows_to_the_request_then_by_doubling)
{
    array_dyn_t<int> array;
    const struct { uint32_t request, capacity; } steps[] = { { 5, 5 }, { 6, 10 }, { 21, 40 },
                                                            { 40, 40 } };
    for (const auto& step : steps)
    {
        ASSERT_TRUE(array.reserve(step.request));
        EXPECT_EQ(array.capacity(), step.capacity) << step.request;
    }
    EXPECT_TRUE(array.reserve_more(0));
}

TEST(array_dyn_t, removes_in_order_or_fast)
{
    const struct { bool fast; std::vector<int> left; } cases[] = {
        { true, { 10, 40, 30 } },
        { false, { 10, 30, 40 } },
    };
    for (const auto& c : cases)
    {
        array_dyn_t<int> array;
        for (int value : { 10, 20, 30, 40 })
            ASSERT_TRUE(array.append(value));
        const uint32_t before = c.fast ? array.remove_fast(1) : array.remove(1);
        EXPECT_EQ(before, 0u);
        EXPECT_EQ(contents(array), c.left);
    }
}

TEST(array_dyn_t, a_removing_loop_visits_the_element_moved_into_place)
{
    array_dyn_t<int> array;
    for (int value : { 1, 2, 2, 3, 2 })
        ASSERT_TRUE(array.append(value));
    for (uint32_t i = 0; i < array.size(); ++i)
        if (array[i] == 2)
            i = array.remove_fast(i);
    EXPECT_EQ(contents(array), (std::vector<int>{ 1, 3 }));
}

TEST(array_dyn_t, moves_owners_into_new_storage)
{
    array_dyn_t<auto_ptr_t<int>> array;
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(array.append(auto_ptr_t<int>(new int(i))));
    int sum = 0;
    for (const auto_ptr_t<int>& value : array)
        sum += *value;
    EXPECT_EQ(sum, 190);
    array.compact();
    EXPECT_EQ(array.capacity(), 20u);
}

TEST(array_fixed_t, refuses_to_grow_past_its_capacity)
{
    array_fixed_t<int, 2> array;
    EXPECT_TRUE(array.append(1));
    EXPECT_TRUE(array.append(2));
    EXPECT_FALSE(array.append(3));
    EXPECT_EQ(array.size(), 2u);
}

TEST(array_t, element_at_or_end_gives_the_end_position)
{
    array_dyn_t<int> array;
    ASSERT_TRUE(array.append(1));
    EXPECT_EQ(array.element_at_or_end(1), array.end());
}

TEST(array_death, stops_on_bad_indices_and_uncopyable_copies)
{
    array_dyn_t<int> array;
    ASSERT_TRUE(array.append(1));
    const int outside = 5;
    EXPECT_DEATH((void)array[1], "arrays_base_impl\\.h\\([0-9]+\\): .*operator\\[\\].*: "
                                 "Index outside array boundaries\\.");
    EXPECT_DEATH((void)array.element_at_or_end(2), "Index outside array boundaries\\.");
    EXPECT_DEATH(array.remove(1), "Index outside array boundaries\\.");
    EXPECT_DEATH((void)array.index_of(&outside), "Iterator outside array boundaries\\.");
    array_dyn_t<auto_ptr_t<int>> owners;
    ASSERT_TRUE(owners.append(auto_ptr_t<int>(new int(1))));
    array_dyn_t<auto_ptr_t<int>> copies;
    EXPECT_DEATH((void)copies.copy(owners),
                 "trait_copy\\.cpp\\([0-9]+\\): .*: Attempt to copy an uncopyable object\\.");
}
