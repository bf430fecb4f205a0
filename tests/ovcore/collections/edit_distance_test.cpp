// Edit distances of names and which names are near enough to offer.
#include "ovcore/collections/edit_distance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

struct distance_case_t
{
    const char* a;
    const char* b;
    uint32_t distance;  // with limit 3
};

const distance_case_t distance_cases[] = {
    { "font_file", "font_file", 0 },
    { "font_fle", "font_file", 1 },           // insert
    { "font_fiile", "font_file", 1 },         // delete
    { "font_fole", "font_file", 1 },          // replace
    { "ouput", "output", 1 },
    { "charcter_ranges", "character_ranges", 1 },
    { "fnot_file", "font_file", 1 },          // neighbours swapped
    { "wdith", "width", 1 },
    { "ca", "abc", 3 },                       // no byte is edited twice
    { "", "abc", 3 },
    { "width", "height", 4 },                 // past the limit
    { "a", "antialias", 4 },                  // past the limit
    { "base", "output", 4 },
};

struct near_case_t
{
    const char* written;
    const char* candidate;
    bool near;
};

const near_case_t near_cases[] = {
    { "font_fle", "font_file", true },
    { "ouput", "output", true },
    { "bse", "base", true },              // 1 < 3 / 2
    { "wdth", "width", true },
    { "bs", "base", false },              // two edits, not fewer than half of two
    { "hight", "height", true },
    { "outptu_x", "output", false },      // three edits
    { "cahr_confg", "char_config", true },
};

}  // namespace

TEST(edit_distance, counts_inserts_deletes_replacements_and_swaps)
{
    for (const distance_case_t& c : distance_cases)
    {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(edit_distance(c.a, c.b, 3), c.distance);
        EXPECT_EQ(edit_distance(c.b, c.a, 3), c.distance);
    }
}

TEST(edit_distance, gives_past_the_limit_for_names_longer_than_it_takes)
{
    const std::string long_name(65, 'a');
    EXPECT_EQ(edit_distance(long_name.c_str(), long_name.c_str(), 2), 3u);
}

TEST(is_near_name, takes_at_most_two_edits_and_fewer_than_half_the_length)
{
    for (const near_case_t& c : near_cases)
    {
        SCOPED_TRACE(std::string(c.written) + " / " + c.candidate);
        EXPECT_EQ(is_near_name(c.written, c.candidate), c.near);
    }
}

TEST(near_name_search, keeps_the_nearest_and_of_equally_near_ones_the_first)
{
    const struct
    {
        const char* written;
        std::vector<const char*> names;
        const char* nearest;  // null: none
    } cases[] = {
        { "fixed2x", { "fixed1", "fixed2", "fixed3" }, "fixed2" },  // 2, 1, 2 edits
        { "float5", { "float1", "float2" }, "float1" },
        { "ouput", { "base", "output", "outputs" }, "output" },
        { "colour", { "base", "output", "font_style" }, nullptr },
        { "wdth", { "width", "height" }, "width" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.written);
        near_name_search_t search(c.written);
        for (const char* name : c.names)
            search.offer(name);
        if (c.nearest == nullptr)
            EXPECT_EQ(search.nearest(), nullptr);
        else
            EXPECT_STREQ(search.nearest(), c.nearest);
    }
}
