// Memory files: pages, the zero page, sizes and descriptions.
#include "ovcore/ufs/mem_file.h"

#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

std::string bytes_of(uint32_t size, char seed)
{
    std::string bytes(size, '\0');
    for (uint32_t i = 0; i < size; ++i)
        bytes[i] = char(seed + i % 61);
    return bytes;
}

bool read_at(mem_file_t* file, std::string* out, uint32_t size, uint64_t offset)
{
    out->assign(size, '\x55');
    return file->io_read(out->data(), size, offset) != nullptr;
}

}  // namespace

TEST(mem_file, writing_3000_bytes_makes_three_pages_and_reads_stop_at_the_size)
{
    mem_file_t file;
    EXPECT_EQ(file.get_size(), 0u);
    const std::string bytes = bytes_of(3000, 'a');
    ASSERT_NE(file.io_write(bytes.data(), 3000, 0), nullptr);
    EXPECT_EQ(file.get_size(), 3000u);
    EXPECT_EQ(file.get_page_count(), 3u);
    std::string got;
    EXPECT_FALSE(read_at(&file, &got, 10, 2995));
    EXPECT_TRUE(read_at(&file, &got, 5, 2995));
    EXPECT_EQ(got, bytes.substr(2995));
    EXPECT_TRUE(read_at(&file, &got, 3000, 0));
    EXPECT_EQ(got, bytes);
}

TEST(mem_file, a_write_past_the_end_leaves_a_gap_of_zeros)
{
    mem_file_t file;
    ASSERT_NE(file.io_write("z", 1, 5000), nullptr);
    EXPECT_EQ(file.get_size(), 5001u);
    std::string got;
    ASSERT_TRUE(read_at(&file, &got, 5001, 0));
    EXPECT_EQ(got, std::string(5000, '\0') + "z");
    EXPECT_EQ(file.get_page(0, false), file.get_page(1, false));  // both the shared zero page
    EXPECT_EQ(file.get_page(9, false), nullptr);
}

TEST(mem_file, set_size_drops_pages_and_cut_bytes_come_back_as_zeros)
{
    mem_file_t file;
    const std::string bytes = bytes_of(3000, 'a');
    ASSERT_NE(file.io_write(bytes.data(), 3000, 0), nullptr);
    EXPECT_TRUE(file.set_size(100));
    EXPECT_EQ(file.get_size(), 100u);
    EXPECT_EQ(file.get_page_count(), 1u);
    EXPECT_TRUE(file.set_size(2000));
    std::string got;
    ASSERT_TRUE(read_at(&file, &got, 2000, 0));
    EXPECT_EQ(got, bytes.substr(0, 100) + std::string(1900, '\0'));
    EXPECT_FALSE(file.set_size(uint64_t(1) << 32));
}

TEST(mem_file, file_reads_and_writes_go_through_the_position)
{
    mem_file_t file;
    ASSERT_TRUE(file.write_formatted("%s-%Iu", "page", size_t(1024)));
    file.set_position(0);
    char text[9];
    ASSERT_TRUE(file.read(text, 9));
    EXPECT_EQ(std::string(text, 9), "page-1024");
    EXPECT_FALSE(file.read(text, 1));
    EXPECT_EQ(file.io_read(nullptr, 4, 0), &fs_finished_request);
    EXPECT_EQ(file.io_write(text, 1, uint64_t(1) << 32), nullptr);
}

TEST(mem_file, description_and_stat)
{
    mem_file_t file;
    EXPECT_STREQ(describe_file(&file).c_str(), "<MEMFILE><UNKNOWNFS><mem-file>");
    string_dyn_t out;
    EXPECT_FALSE(file.get_mount_path(&out));
    EXPECT_TRUE(file.get_system_path(&out));
    EXPECT_STREQ(out.c_str(), "<mem-file>");
    fs_stat_t status;
    ASSERT_NE(file.io_write("abc", 3, 0), nullptr);
    ASSERT_TRUE(file.stat(&status));
    EXPECT_EQ(status.type, 1u);
    EXPECT_EQ(status.modification_time, 0u);
    EXPECT_EQ(status.size, 3u);
    message_capture_t capture;
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(capture.lines, std::vector<std::string>{
                                 "[file_t] Cannot use commit atomic operation on file "
                                 "<MEMFILE><UNKNOWNFS><mem-file>" });
}

TEST(mem_file, writing_to_the_zero_page_is_fatal)
{
    mem_file_t file;
    ASSERT_NE(file.io_write("z", 1, 5000), nullptr);
    EXPECT_DEATH(file.get_page(0, false)->write("x", 1, 0),
                 "writing to ZERO page is not supported!");
}
