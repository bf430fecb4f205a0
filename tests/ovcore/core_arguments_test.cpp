// The core's argument table and the switch scan.
#include "ovcore/core_arguments.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{

struct switch_case_t
{
    std::vector<const char*> arguments;
    bool found;
    uint32_t first_parameter;
    uint32_t parameter_count;
};

const switch_case_t switch_cases[] = {
    { {}, false, 0, 0 },
    { { "-trace" }, false, 0, 0 },                        // the first entry is the host
    { { "host", "-trace" }, true, 2, 0 },
    { { "host", "-TRACE" }, false, 0, 0 },                // exact and case-sensitive
    { { "host", "-tracer" }, false, 0, 0 },
    { { "host", "x", "-trace", "a", "b", "-other", "c" }, true, 3, 2 },
    { { "host", "-trace", "a", "" }, true, 2, 2 },        // an empty text is no switch
    { { "host", "-trace", "-trace", "a" }, true, 2, 0 },  // the first one counts
};

}  // namespace

TEST(find_core_switch, scans_from_the_second_entry_and_collects_parameters)
{
    for (const switch_case_t& c : switch_cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::vector<std::string>(c.arguments.begin(),
                                                                     c.arguments.end())));
        ASSERT_TRUE(set_core_arguments(uint32_t(c.arguments.size()), c.arguments.data()));
        core_switch_t found = {};
        EXPECT_EQ(find_core_switch("-trace", &found), c.found);
        if (c.found)
        {
            EXPECT_EQ(found.first_parameter, c.first_parameter);
            EXPECT_EQ(found.parameter_count, c.parameter_count);
        }
    }
    clear_core_arguments();
}

TEST(set_core_arguments, refuses_more_than_128_entries_and_null_pointers)
{
    std::vector<const char*> many(core_argument_capacity + 1, "x");
    EXPECT_TRUE(set_core_arguments(core_argument_capacity, many.data()));
    EXPECT_EQ(g_core_arguments.count, core_argument_capacity);
    clear_core_arguments();
    EXPECT_FALSE(set_core_arguments(core_argument_capacity + 1, many.data()));
    const char* with_null[] = { "host", nullptr };
    EXPECT_FALSE(set_core_arguments(2, with_null));
    EXPECT_EQ(g_core_arguments.count, 0u);
}
