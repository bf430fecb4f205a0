// String growth, formatting into fixed and dynamic strings, tokenizing and hashes.
#include "ovcore/collections/string.h"

#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

TEST(string_dyn_t, reserves_in_steps_of_16_or_by_doubling)
{
    const struct { uint32_t from, request, capacity; } cases[] = {
        { 0, 5, 16 }, { 16, 17, 32 }, { 48, 50, 96 }, { 32, 20, 32 },
    };
    for (const auto& c : cases)
    {
        string_dyn_t text;
        if (c.from != 0)
        {
            ASSERT_EQ(text.reserve(c.from), c.from);
        }
        EXPECT_EQ(text.reserve(c.request), c.capacity) << c.from << " " << c.request;
        EXPECT_STREQ(text.c_str(), "");
    }
}

TEST(string_dyn_t, shares_the_empty_text_until_it_needs_storage)
{
    string_dyn_t a, b;
    EXPECT_EQ(a.c_str(), b.c_str());
    EXPECT_EQ(a.capacity(), 0u);
    string_dyn_t moved("text");
    a.move_from(moved);
    EXPECT_STREQ(a.c_str(), "text");
    EXPECT_EQ(moved.c_str(), b.c_str());
}

TEST(string_t, formats_and_truncates_fixed_strings)
{
    string_fixed_t<13> fixed;
    EXPECT_TRUE(fixed.format("%s", "twelve chars"));
    EXPECT_EQ(fixed.length(), 12u);
    EXPECT_FALSE(fixed.append_formatted("%u", 12345u));
    EXPECT_STREQ(fixed.c_str(), "twelve chars");
    EXPECT_EQ(fixed.length(), 12u);
    EXPECT_FALSE(fixed.format("%s-%s", "abcdefghij", "klmnop"));
    EXPECT_STREQ(fixed.c_str(), "abcdefghij-k");

    string_dyn_t dynamic("prefix ");
    EXPECT_TRUE(dynamic.append_formatted("%Iu-%s", std::size_t(99), std::string(100, 'x').c_str()));
    EXPECT_EQ(dynamic.length(), 7u + 3u + 100u);
}

TEST(string_t, formats_texts_shorter_and_longer_than_one_pass_makes)
{
    for (const std::size_t length : { 510u, 511u, 512u, 513u, 5000u })
    {
        const std::string middle(length - 2, 'm');
        string_dyn_t text;
        EXPECT_TRUE(text.format("<%s>", middle.c_str())) << length;
        EXPECT_EQ(text.length(), length);
        EXPECT_EQ(std::string(text.c_str()), "<" + middle + ">");
        string_fixed_t<600> fixed;
        EXPECT_EQ(fixed.format("<%s>", middle.c_str()), length < 600) << length;
        EXPECT_EQ(std::string(fixed.c_str()), ("<" + middle + ">").substr(0, 599));
    }
}

TEST(string_t, assigns_parts_and_appends_code_points)
{
    string_dyn_t source("hello world");
    string_dyn_t part;
    EXPECT_TRUE(part.assign(source, 6));
    EXPECT_STREQ(part.c_str(), "world");
    EXPECT_TRUE(part.assign(source, 0, 5));
    EXPECT_STREQ(part.c_str(), "hello");
    const struct { uint32_t code_point; const char* bytes; bool ok; } cases[] = {
        { 0x41, "A", true },          { 0xE9, "\xC3\xA9", true },
        { 0x20AC, "\xE2\x82\xAC", true }, { 0x1F600, "\xF0\x9F\x98\x80", true },
        { 0, "", true },              { 0x200000, "", false },
    };
    for (const auto& c : cases)
    {
        string_dyn_t text;
        EXPECT_EQ(text.append_code_point(c.code_point), c.ok) << c.code_point;
        EXPECT_STREQ(text.c_str(), c.bytes);
    }
    string_fixed_t<3> small;
    EXPECT_FALSE(small.append_code_point(0x20AC));  // needs 4 bytes with the terminator
    EXPECT_STREQ(small.c_str(), "");
}

TEST(string_tokenizer_t, splits_with_and_without_empty_tokens)
{
    const struct { bool skip_empty; std::vector<std::string> tokens; } cases[] = {
        { true, { "a", "b", "c" } },
        { false, { "", "a", "", "b", "c" } },
    };
    for (const auto& c : cases)
    {
        string_tokenizer_t tokenizer(" a  b c", " ", c.skip_empty);
        std::vector<std::string> tokens;
        string_dyn_t token;
        while (tokenizer.next(&token))
            tokens.emplace_back(token.c_str());
        EXPECT_EQ(tokens, c.tokens);
        EXPECT_TRUE(tokenizer.is_exhausted());
    }
    string_tokenizer_t tokenizer("U+0041\tA B", " \t", true);
    string_dyn_t token, rest;
    ASSERT_TRUE(tokenizer.next(&token));
    EXPECT_TRUE(tokenizer.rest(&rest));
    EXPECT_STREQ(rest.c_str(), "A B");
}

TEST(string_tokenizer_t, a_token_that_does_not_fit_stops_before_it)
{
    string_tokenizer_t tokenizer("ab abcdef", " ", true);
    string_fixed_t<4> token;
    ASSERT_TRUE(tokenizer.next(&token));
    EXPECT_STREQ(token.c_str(), "ab");
    EXPECT_FALSE(tokenizer.next(&token));
    EXPECT_FALSE(tokenizer.is_exhausted());
    string_fixed_t<8> rest;
    EXPECT_TRUE(tokenizer.rest(&rest));
    EXPECT_STREQ(rest.c_str(), "abcdef");
}

namespace
{

// Under an address-space limit that no copy of 32 MiB fits: the copies that do not say so, and
// the moves and releases that do not carry or clear it.
int count_copies_unflagged_without_memory()
{
    const std::string text(32u << 20, 'x');
    const string_dyn_t source(text.c_str());
    if (source.copy_failed() || !limit_address_space(8u << 20))
        return 100;
    string_dyn_t from_text(text.c_str());
    string_dyn_t copied(source);
    string_dyn_t assigned;
    assigned = source;
    int failed = !from_text.copy_failed() + !copied.copy_failed() + !assigned.copy_failed() +
                 !copied.empty();
    string_dyn_t moved(std::move(copied));
    failed += !moved.copy_failed() + copied.copy_failed();
    moved.release();
    failed += moved.copy_failed();
    return failed;
}

}  // namespace

TEST(string_dyn_t, copies_that_find_no_memory_say_so_until_released)
{
    const string_dyn_t small("abc");
    string_dyn_t copy(small);
    string_dyn_t assigned;
    assigned = small;
    EXPECT_FALSE(copy.copy_failed() || assigned.copy_failed() || small.copy_failed());
    EXPECT_STREQ(copy.c_str(), "abc");

    if (built_with_sanitizer)
        GTEST_SKIP() << "a sanitizer reserves more address space than the limit";
    EXPECT_EXIT(std::_Exit(count_copies_unflagged_without_memory()), testing::ExitedWithCode(0),
                "");
}

TEST(string_helpers, find_last_of_and_hashes)
{
    EXPECT_EQ(find_last_of("a#b#c", "#"), 3u);
    EXPECT_EQ(find_last_of("abc", "#"), string_t::npos);
    EXPECT_EQ(compute_type_name_hash("abc"), 96354u);
    EXPECT_EQ(compute_type_name_hash(""), 0u);
    EXPECT_EQ(compute_key_hash("abc"), 683u);
    EXPECT_EQ(compute_key_hash("\xFF"), 4294967295u);
}

TEST(string_t, appends_and_formats_its_own_text_while_the_buffer_grows)
{
    string_dyn_t text("0123456789abcde");  // 15 bytes: the next append moves the buffer
    ASSERT_EQ(text.capacity(), 16u);
    EXPECT_TRUE(text.append(text));
    EXPECT_STREQ(text.c_str(), "0123456789abcde0123456789abcde");
    EXPECT_TRUE(text.append(text.c_str() + 25, 5));
    EXPECT_STREQ(text.c_str(), "0123456789abcde0123456789abcdeabcde");
    EXPECT_TRUE(text.append_formatted("<%s|%s>", text.c_str(), text.c_str() + 30));
    EXPECT_STREQ(text.c_str(), "0123456789abcde0123456789abcdeabcde"
                               "<0123456789abcde0123456789abcdeabcde|abcde>");
    EXPECT_TRUE(text.format("[%s]", text.c_str() + 36));  // overwrites what it reads
    EXPECT_STREQ(text.c_str(), "[0123456789abcde0123456789abcdeabcde|abcde>]");
    EXPECT_TRUE(text.assign(text.c_str() + 1, 5));
    EXPECT_STREQ(text.c_str(), "01234");

    string_fixed_t<8> fixed;
    EXPECT_TRUE(fixed.assign("abc"));
    EXPECT_FALSE(fixed.append_formatted("%s%s", fixed.c_str(), fixed.c_str()));
    EXPECT_STREQ(fixed.c_str(), "abcabca");
}
