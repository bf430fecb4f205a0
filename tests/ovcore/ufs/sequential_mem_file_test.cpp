// Read-only memory streams over a caller's buffer.
#include "ovcore/ufs/sequential_mem_file.h"

#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(sequential_mem_file, reads_back_in_any_order_of_offsets)
{
    const char bytes[10] = { '0', '1', '2', '3', '4', '5', '6', '7', '8', '9' };
    sequential_mem_file_t file(bytes, sizeof bytes, "/stream", UFS);
    const struct
    {
        uint32_t offset;
        uint32_t size;
    } reads[] = { { 7, 3 }, { 0, 2 }, { 4, 4 }, { 2, 1 }, { 0, 10 }, { 9, 1 } };
    for (const auto& r : reads)
    {
        SCOPED_TRACE(r.offset);
        char got[10];
        ASSERT_EQ(file.io_read(got, r.size, r.offset), &fs_finished_request);
        EXPECT_EQ(std::string(got, r.size), std::string(bytes + r.offset, r.size));
    }
    char got[2];
    EXPECT_EQ(file.io_read(got, 2, 9), nullptr);
    EXPECT_EQ(file.io_read(nullptr, 1, 0), nullptr);
    EXPECT_NE(file.io_read(nullptr, 0, 0), nullptr);
    EXPECT_EQ(file.get_size(), 10u);
}

TEST(sequential_mem_file, refuses_every_write)
{
    const char bytes[4] = { 'a', 'b', 'c', 'd' };
    sequential_mem_file_t file(bytes, sizeof bytes, "stream", SYSFS);
    message_capture_t capture;
    EXPECT_EQ(file.io_write("x", 1, 4), nullptr);
    EXPECT_FALSE(file.write("x", 1));
    void* owned = std::malloc(4);
    EXPECT_FALSE(file.write_owned(owned, 4));
    std::free(owned);  // not taken
    EXPECT_EQ(capture.lines, std::vector<std::string>(
                                 3, "attempt to write to read-only sequential_mem_file_t"));
}

TEST(sequential_mem_file, description_and_paths)
{
    const char bytes[1] = { 'a' };
    sequential_mem_file_t file(bytes, sizeof bytes, "/stream", UFS);
    EXPECT_STREQ(describe_file(&file).c_str(), "<SEQMEMFILE><UFS>/stream");
    string_dyn_t out;
    EXPECT_TRUE(file.get_mount_path(&out));
    EXPECT_STREQ(out.c_str(), "/stream");
    EXPECT_FALSE(file.uses_read_cache());
    char got;
    ASSERT_TRUE(file.read(&got, 1));
    EXPECT_EQ(got, 'a');
}
