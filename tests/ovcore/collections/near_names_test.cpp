// The restricted edit distance and the near-name rule.
#include "ovcore/collections/near_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

uint32_t distance(const std::string& a, const std::string& b)
{
    return edit_distance(a.c_str(), uint32_t(a.size()), b.c_str(), uint32_t(b.size()));
}

struct named_t
{
    const char* name;
};

const named_t names[] = { { "font" }, { "size" }, { "width" }, { "height" }, { "chars" },
                          { "text" }, { "output" }, { "export" }, { "colour" },
                          { "outline" }, { "outlines" } };

uint32_t nearest(const char* typed)
{
    return find_near_name(typed, uint32_t(std::strlen(typed)), names,
                          uint32_t(std::size(names)), &named_t::name);
}

}  // namespace

TEST(edit_distance, counts_inserts_deletes_replacements_and_neighbour_swaps)
{
    const struct
    {
        const char* a;
        const char* b;
        uint32_t distance;
    } cases[] = {
        { "", "", 0 },        { "size", "size", 0 },   { "", "abc", 3 },
        { "size", "sizes", 1 }, { "size", "ize", 1 },  { "size", "sice", 1 },
        { "size", "szie", 1 },  { "ca", "abc", 3 },    // no byte edited twice: not 2
        { "output", "otuptu", 2 }, { "height", "hieght", 1 }, { "kitten", "sitting", 3 },
        { "Size", "size", 1 },  // byte for byte
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(distance(c.a, c.b), c.distance);
        EXPECT_EQ(distance(c.b, c.a), c.distance);
    }
    EXPECT_EQ(distance(std::string(65, 'a'), "a"), no_distance);
    EXPECT_EQ(distance(std::string(64, 'a'), std::string(63, 'a')), 1u);
}

TEST(find_near_name, takes_the_nearest_within_two_and_half_the_name)
{
    const struct
    {
        const char* typed;
        const char* expected;  // null: none is near
    } cases[] = {
        { "szie", "size" },     { "hieght", "height" }, { "widht", "width" },
        { "color", "colour" },  { "outptu", "output" },  { "exprot", "export" },
        { "fnt", "font" },      // 1 < 4 / 2
        { "fo", nullptr },      // 2 is not less than half of "font"
        { "sz", nullptr },      { "bold", nullptr },     { "", nullptr },
        { "tex", "text" },      // "text" 1, "export" farther: the nearest, not the first
        { "outliner", "outline" },  // "outline" and "outlines" both 1 away: the first
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.typed);
        const uint32_t index = nearest(c.typed);
        const char* found = index < std::size(names) ? names[index].name : nullptr;
        EXPECT_STREQ(found, c.expected);
    }
}

TEST(near_name_search, keeps_the_nearest_over_several_lists_and_of_equally_near_ones_the_first)
{
    const struct
    {
        const char* typed;
        std::vector<const char*> names;
        const char* nearest;  // null: none
    } cases[] = {
        { "fixed2x", { "fixed1", "fixed2", "fixed3" }, "fixed2" },  // 2, 1, 2 edits
        { "float5", { "float1", "float2" }, "float1" },
        { "ouput", { "base", "output", "outputs" }, "output" },
        { "font_fle", { "font_file", "fallback_font_files" }, "font_file" },
        { "charcter_ranges", { "character_set_file", "character_ranges" }, "character_ranges" },
        { "colour", { "base", "output", "font_style" }, nullptr },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.typed);
        near_name_search_t search(c.typed);
        for (const char* name : c.names)
            search.offer(name);
        if (c.nearest == nullptr)
            EXPECT_EQ(search.nearest(), nullptr);
        else
            EXPECT_STREQ(search.nearest(), c.nearest);
    }
}
