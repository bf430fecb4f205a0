// The file cache: lookups, cache files over preloaded images, use counting and removal.
#include "ovcore/ufs/fs_cache.h"

#include "ovcore/collections/auto_ptr.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

namespace
{

class fs_cache_test : public testing::Test
{
protected:
    void SetUp() override { write_file_bytes(path, pattern_bytes(20000)); }
    void TearDown() override { (void)fs_cache_remove(path.c_str(), SYSFS); }

    scratch_directory_t scratch;
    const std::string path = scratch.path("cached.bin");
};

}  // namespace

TEST_F(fs_cache_test, lookup_in_an_empty_cache_finds_nothing)
{
    EXPECT_EQ(fs_cache_lookup(path.c_str(), SYSFS), nullptr);
    EXPECT_EQ(fs_cache_uses(path.c_str(), SYSFS), -1);
    EXPECT_FALSE(fs_cache_remove(path.c_str(), SYSFS));
}

TEST_F(fs_cache_test, a_cache_file_reads_the_preloaded_image)
{
    ASSERT_TRUE(fs_cache_preload(path.c_str(), SYSFS));
    EXPECT_FALSE(fs_cache_preload(path.c_str(), SYSFS));  // already there
    EXPECT_EQ(fs_cache_lookup(path.c_str(), UFS), nullptr);  // type must match too
    auto_ptr_t<file_t> file(fs_cache_lookup(path.c_str(), SYSFS));
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->uses_read_cache());
    EXPECT_EQ(file->get_size(), 20000u);
    std::string bytes(20000, '\0');
    ASSERT_TRUE(file->read(bytes.data(), 20000));
    EXPECT_EQ(bytes, pattern_bytes(20000));
    char past_end[2];
    EXPECT_FALSE(file->read(past_end, 1));
    EXPECT_STREQ(describe_file(file.get()).c_str(), ("<SYSFS>" + path).c_str());
    EXPECT_EQ(file->get_device_id(), fs_no_device_id);
    auto_ptr_t<array_dyn_t<string_dyn_t>> lines(file->read_lines());
    EXPECT_TRUE(lines);
}

TEST_F(fs_cache_test, uses_are_counted_and_a_removed_entry_lives_until_its_last_file_closes)
{
    ASSERT_TRUE(fs_cache_preload(path.c_str(), SYSFS));
    auto_ptr_t<file_t> first(fs_cache_lookup(path.c_str(), SYSFS));
    auto_ptr_t<file_t> second(fs_cache_lookup(path.c_str(), SYSFS));
    EXPECT_EQ(fs_cache_uses(path.c_str(), SYSFS), 2);
    second.reset();
    EXPECT_EQ(fs_cache_uses(path.c_str(), SYSFS), 1);
    EXPECT_TRUE(fs_cache_remove(path.c_str(), SYSFS));
    EXPECT_EQ(fs_cache_lookup(path.c_str(), SYSFS), nullptr);
    char bytes[10];
    ASSERT_TRUE(first->read(bytes, 10));  // still readable: the entry is freed with `first`
    EXPECT_EQ(std::string(bytes, 10), pattern_bytes(20000).substr(0, 10));
}

TEST_F(fs_cache_test, preloading_a_missing_file_fails)
{
    message_capture_t capture;
    EXPECT_FALSE(fs_cache_preload(scratch.path("missing").c_str(), SYSFS));
    EXPECT_EQ(capture.lines.size(), 2u);
    EXPECT_EQ(capture.lines.back(), "[fs] Reason: no such file or folder.");
}

TEST_F(fs_cache_test, writing_to_a_cache_file_is_fatal)
{
    EXPECT_DEATH(
        {
            ASSERT_TRUE(fs_cache_preload(path.c_str(), SYSFS));
            auto_ptr_t<file_t> file(fs_cache_lookup(path.c_str(), SYSFS));
            (void)file->write("x", 1);
        },
        "cached files do not support write operation\\.");
}
