// Checked formats build for matching arguments and print the engine's size prefixes right.
#include "ovcore/collections/string.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(checked_format, prints_the_size_prefixes_as_the_engine_means_them)
{
    string_dyn_t text;
    EXPECT_TRUE(text.format("%Iu|%I64u|%I64d|%5Iu|%08I64x|%%I|%u|%d|%s|%c|%02X|%.2f|%p",
                            std::size_t(123456789012u), UINT64_MAX, INT64_MIN, std::size_t(7),
                            uint64_t(0xABCDEF), 4294967295u, -5, "s", 'c', uint8_t(0xA), 0.5f,
                            static_cast<void*>(nullptr)));
    EXPECT_STREQ(text.c_str(), "123456789012|18446744073709551615|-9223372036854775808|    7|"
                               "00abcdef|%I|4294967295|-5|s|c|0A|0.50|(nil)");
}

TEST(checked_format, rewrites_long_formats_too)
{
    const std::string filler(300, 'x');
    string_dyn_t text;
    // A long format goes through the heap buffer of the rewrite.
    EXPECT_TRUE(text.format("%s%Iu%s%I64u", filler.c_str(), std::size_t(1), filler.c_str(),
                            uint64_t(2)));
    EXPECT_EQ(std::string(text.c_str()), filler + "1" + filler + "2");
}
