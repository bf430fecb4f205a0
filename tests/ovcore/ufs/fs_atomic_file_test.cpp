// Atomic files: commit by rename, cancel, closing without a decision, refused reads.
#include "ovcore/ufs/fs_atomic_file.h"

#include "ovcore/collections/auto_ptr.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

namespace
{

class atomic_file_test : public testing::Test
{
protected:
    auto_ptr_t<file_t> open_atomic()
    {
        return fs_device_open(target.c_str(), fs_open_mode_t::atomic, SYSFS);
    }
    bool buffer_file_exists() const { return std::filesystem::exists(target + ".atomic"); }

    scratch_directory_t scratch;
    const std::string target = scratch.path("dir/target.txt");
};

}  // namespace

TEST_F(atomic_file_test, commit_replaces_the_target_with_exactly_the_written_bytes)
{
    std::filesystem::create_directory(scratch.path("dir"));
    write_file_bytes(target, "old contents, longer than the new");
    auto_ptr_t<file_t> file(open_atomic());
    ASSERT_TRUE(file);
    EXPECT_TRUE(buffer_file_exists());
    EXPECT_TRUE(file->write_formatted("%s %Iu\r\n", "new", size_t(1)));
    EXPECT_EQ(read_file_bytes(target), "old contents, longer than the new");
    EXPECT_EQ(file->get_size(), 7u);
    EXPECT_TRUE(file->commit());
    EXPECT_EQ(read_file_bytes(target), "new 1\r\n");
    EXPECT_FALSE(buffer_file_exists());

    message_capture_t capture;
    EXPECT_FALSE(file->commit());
    EXPECT_FALSE(file->cancel());
    EXPECT_FALSE(file->write("x", 1));
    fs_stat_t status;
    EXPECT_FALSE(file->stat(&status));
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[sysfs_atomic_file_t] Cannot commit, buffer file is already closed.",
                  "[sysfs_atomic_file_t] Cannot cancel, buffer file is already closed.",
                  "[sysfs_atomic_file_t] Cannot write, buffer file is already closed." }));
    file.reset();
    EXPECT_TRUE(capture.lines.size() == 3u);  // closing after a decision says nothing
}

TEST_F(atomic_file_test, the_parent_directories_are_created_and_a_new_target_appears_on_commit)
{
    const std::string deep = scratch.path("a/b/new.txt");
    auto_ptr_t<file_t> file(fs_device_open(deep.c_str(), fs_open_mode_t::atomic, SYSFS));
    ASSERT_TRUE(file);
    EXPECT_FALSE(std::filesystem::exists(deep));
    ASSERT_TRUE(file->write("abc", 3));
    EXPECT_TRUE(file->commit());
    EXPECT_EQ(read_file_bytes(deep), "abc");
}

TEST_F(atomic_file_test, cancel_and_closing_without_a_decision_leave_the_target_alone)
{
    std::filesystem::create_directory(scratch.path("dir"));
    write_file_bytes(target, "old");
    {
        auto_ptr_t<file_t> file(open_atomic());
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->write("new", 3));
        EXPECT_TRUE(file->cancel());
        EXPECT_FALSE(buffer_file_exists());
    }
    EXPECT_EQ(read_file_bytes(target), "old");

    message_capture_t capture;
    {
        auto_ptr_t<file_t> file(open_atomic());
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->write("new", 3));
    }
    EXPECT_EQ(capture.lines, std::vector<std::string>{
                                 "[sysfs_atomic_file_t] Atomic file close without explicit "
                                 "commit or cancel. <atomic><SYSFS>" + target });
    EXPECT_EQ(read_file_bytes(target), "old");
    EXPECT_FALSE(buffer_file_exists());
}

TEST_F(atomic_file_test, reading_is_refused)
{
    auto_ptr_t<file_t> file(open_atomic());
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->write("abc", 3));
    file->set_position(0);
    message_capture_t capture;
    char buffer[3];
    EXPECT_EQ(file->io_read(buffer, 3, 0), nullptr);
    EXPECT_FALSE(file->read(buffer, 3));
    ASSERT_GE(capture.lines.size(), 2u);
    EXPECT_EQ(capture.lines[0], "[sysfs_atomic_file_t] Atomic file does not support read operation.");
    EXPECT_EQ(capture.lines[1], capture.lines[0]);
    EXPECT_TRUE(file->cancel());
}

TEST_F(atomic_file_test, a_small_read_after_commit_or_cancel_fails_with_a_message)
{
    for (const bool commit : { true, false })
    {
        SCOPED_TRACE(commit ? "commit" : "cancel");
        auto_ptr_t<file_t> file(open_atomic());
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->write("abc", 3));
        ASSERT_TRUE(commit ? file->commit() : file->cancel());
        file->set_position(0);
        message_capture_t capture;
        char buffer[8192];
        EXPECT_FALSE(file->read(buffer, sizeof buffer));  // the largest read the cache serves
        ASSERT_EQ(capture.lines.size(), 1u);
        EXPECT_EQ(capture.lines[0].rfind("[fs] failed to stat opened file (", 0), 0u);
    }
}

TEST_F(atomic_file_test, a_stale_buffer_file_is_replaced)
{
    std::filesystem::create_directory(scratch.path("dir"));
    write_file_bytes(target + ".atomic", "stale leftovers");
    auto_ptr_t<file_t> file(open_atomic());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->get_size(), 0u);
    ASSERT_TRUE(file->write("x", 1));
    EXPECT_TRUE(file->commit());
    EXPECT_EQ(read_file_bytes(target), "x");
}

TEST_F(atomic_file_test, a_failed_rename_keeps_the_target_and_removes_the_buffer_file)
{
    // A non-empty directory cannot be replaced by a file.
    std::filesystem::create_directories(target + "/inside");
    auto_ptr_t<file_t> file(open_atomic());
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->write("x", 1));
    message_capture_t capture;
    EXPECT_FALSE(file->commit());
    EXPECT_EQ(capture.lines,
              std::vector<std::string>{ "[sysfs_atomic_file_t] Cannot rename buffer file." });
    EXPECT_TRUE(std::filesystem::is_directory(target + "/inside"));
    EXPECT_FALSE(buffer_file_exists());
}

TEST_F(atomic_file_test, descriptions_and_paths_name_the_target)
{
    auto_ptr_t<file_t> file(open_atomic());
    ASSERT_TRUE(file);
    EXPECT_STREQ(describe_file(file.get()).c_str(), ("<atomic><SYSFS>" + target).c_str());
    string_dyn_t out;
    EXPECT_TRUE(file->get_system_path(&out));
    EXPECT_STREQ(out.c_str(), target.c_str());
    EXPECT_FALSE(file->get_mount_path(&out));
    EXPECT_FALSE(file->set_size(0));
    EXPECT_EQ(file->get_device_id(), fs_no_device_id);
    file->set_device_type(fs_device_type_t(5));
    EXPECT_FALSE(file->get_description(&out));
    EXPECT_STREQ(out.c_str(), ("<BADFS>" + target).c_str());
    file->set_device_type(UFS);
    EXPECT_TRUE(file->get_description(&out));
    EXPECT_STREQ(out.c_str(), ("<atomic>< | >" + target).c_str());
    EXPECT_TRUE(file->cancel());
}

TEST_F(atomic_file_test, an_open_that_fails_prints_the_unknown_mode)
{
    const std::string overlong = scratch.path(std::string(250, 'n'));  // ".atomic" does not fit
    message_capture_t capture;
    EXPECT_EQ(fs_device_open(overlong.c_str(), fs_open_mode_t::atomic, SYSFS), nullptr);
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[fs] Failed to open file '" + overlong + "' in the unknown mode.",
                  "[fs] Reason: none that the system tells." }));
}
