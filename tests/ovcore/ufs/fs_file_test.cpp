// Files on SYSFS: open modes, paths, cached reads, writes, lines, descriptions and fs_copy.
#include "ovcore/ufs/fs_file.h"

#include "ovcore/collections/auto_ptr.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace
{

class fs_file_test : public testing::Test
{
protected:
    std::string path(const std::string& name) const { return scratch.path(name); }

    auto_ptr_t<file_t> open(const std::string& path, fs_open_mode_t mode)
    {
        return fs_device_open(path.c_str(), mode, SYSFS);
    }

    scratch_directory_t scratch;
};

std::vector<std::string> lines_of(const array_dyn_t<string_dyn_t>& lines)
{
    std::vector<std::string> out;
    for (const string_dyn_t& line : lines)
        out.emplace_back(line.c_str());
    return out;
}

}  // namespace

// ---- open modes --------------------------------------------------------------------------------

struct open_mode_case_t
{
    const char* name;
    fs_open_mode_t mode;
    bool file_exists;
    bool opens;
    const char* contents_after;  // null: file absent
    bool reports;
    const char* reason;          // the words of the line after the report; null: none
};

const open_mode_case_t open_mode_cases[] = {
    { "read_only_missing", fs_open_mode_t::read_only, false, false, nullptr, true,
      "no such file or folder" },
    { "read_only_existing", fs_open_mode_t::read_only, true, true, "old", false, nullptr },
    { "create_new_missing", fs_open_mode_t::create_new, false, true, "", false, nullptr },
    { "create_new_existing_is_silent", fs_open_mode_t::create_new, true, false, "old", false,
      nullptr },
    { "create_truncate_existing", fs_open_mode_t::create_truncate, true, true, "", false,
      nullptr },
    { "create_truncate_missing", fs_open_mode_t::create_truncate, false, true, "", false,
      nullptr },
    { "create_or_read_write_keeps", fs_open_mode_t::create_or_read_write, true, true, "old",
      false, nullptr },
    { "create_or_read_write_creates", fs_open_mode_t::create_or_read_write, false, true, "",
      false, nullptr },
    { "unknown_mode", fs_open_mode_t(7), true, false, "old", true, nullptr },
};

TEST_F(fs_file_test, open_modes_create_truncate_and_keep_as_named)
{
    for (const open_mode_case_t& c : open_mode_cases)
    {
        SCOPED_TRACE(c.name);
        const std::string file_path = path(c.name);
        if (c.file_exists)
            write_file_bytes(file_path, "old");
        message_capture_t capture;
        auto_ptr_t<file_t> file(open(file_path, c.mode));
        EXPECT_EQ(bool(file), c.opens);
        if (file)
        {
            EXPECT_EQ(file->get_position(), 0u);
            EXPECT_EQ(file->get_device_type(), SYSFS);
        }
        file.reset();
        if (c.contents_after == nullptr)
            EXPECT_FALSE(std::filesystem::exists(file_path));
        else
            EXPECT_EQ(read_file_bytes(file_path), c.contents_after);
        std::vector<std::string> expected;
        if (c.reports)
            expected.push_back("[fs] Failed to open file '" + file_path + "' in the " +
                               get_mode_name(c.mode) + " mode.");
        if (c.reason != nullptr)
            expected.push_back(std::string("[fs] Reason: ") + c.reason + ".");
        EXPECT_EQ(capture.lines, expected);
    }
}

TEST_F(fs_file_test, writing_two_directories_deep_creates_each_directory_then_the_file)
{
    sys_file_recorder_t recorder;
    auto_ptr_t<file_t> file(open(path("one/two/file.txt"), fs_open_mode_t::create_new));
    ASSERT_TRUE(file);
    // Every directory above the scratch root exists already; the last two are new.
    ASSERT_GE(recorder.calls.size(), 3u);
    const std::vector<std::string> tail(recorder.calls.end() - 3, recorder.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{ "mkdir " + path("one"), "mkdir " + path("one/two"),
                                               "open " + path("one/two/file.txt") }));
    EXPECT_TRUE(std::filesystem::is_directory(path("one/two")));
}

TEST_F(fs_file_test, a_folder_made_once_is_not_asked_for_again_until_it_is_gone)
{
    sys_file_recorder_t recorder;
    EXPECT_TRUE(open(path("out/a"), fs_open_mode_t::create_truncate));
    const std::size_t first_mkdirs = std::count_if(
        recorder.calls.begin(), recorder.calls.end(),
        [](const std::string& call) { return call.rfind("mkdir ", 0) == 0; });
    EXPECT_GE(first_mkdirs, 1u);
    recorder.calls.clear();
    EXPECT_TRUE(open(path("out/b"), fs_open_mode_t::create_truncate));
    EXPECT_EQ(recorder.calls, std::vector<std::string>{ "open " + path("out/b") });

    // Gone behind the device's back: the failed open makes it again and opens.
    std::filesystem::remove_all(path("out"));
    recorder.calls.clear();
    EXPECT_TRUE(open(path("out/c"), fs_open_mode_t::create_truncate));
    EXPECT_EQ(recorder.calls.front(), "open " + path("out/c"));
    EXPECT_EQ(recorder.calls.back(), "open " + path("out/c"));
    EXPECT_TRUE(std::filesystem::exists(path("out/c")));

    // Removed through the device: made again before the open.
    std::filesystem::remove(path("out/c"));
    ASSERT_TRUE(fs_get_device(SYSFS)->remove_directory(path("out").c_str()));
    recorder.calls.clear();
    EXPECT_TRUE(open(path("out/d"), fs_open_mode_t::create_truncate));
    EXPECT_EQ(recorder.calls.back(), "open " + path("out/d"));
    EXPECT_EQ(recorder.calls.size(), first_mkdirs + 1);
}

TEST_F(fs_file_test, a_new_file_another_open_holds_is_not_replaced)
{
    auto_ptr_t<file_t> first(open(path("held"), fs_open_mode_t::create_truncate));
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->write("kept", 4));
    message_capture_t capture;
    EXPECT_FALSE(open(path("held"), fs_open_mode_t::create_truncate));
    EXPECT_EQ(read_file_bytes(path("held")), "kept");
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[fs] Failed to open file '" + path("held") + "' in the create_truncate mode.",
                  "[fs] Reason: none that the system tells." }));
    first.reset();
    EXPECT_TRUE(open(path("held"), fs_open_mode_t::create_truncate));
    EXPECT_EQ(read_file_bytes(path("held")), "");
}

TEST_F(fs_file_test, only_regular_files_open_and_a_failed_open_says_why)
{
    std::filesystem::create_directory(path("directory"));
    write_file_bytes(path("file"), "x");
    const struct
    {
        std::string name;
        fs_open_mode_t mode;
        const char* reason;
    } cases[] = {
        { path("directory"), fs_open_mode_t::read_only, "it is a folder, not a file" },
        { "/dev/null", fs_open_mode_t::read_only,
          "it is a special file (a FIFO, a device or a socket), not a regular file" },
        { path("file/inside"), fs_open_mode_t::read_only, "a part of the path is not a folder" },
        { path("file/inside"), fs_open_mode_t::create_truncate,
          "a part of the path is not a folder" },
        { path("directory"), fs_open_mode_t::create_truncate, "it is a folder, not a file" },
        { path(std::string(300, 'n')), fs_open_mode_t::read_only,
          "the path is longer than the system takes" },
        { "", fs_open_mode_t::read_only, "the path is empty" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        message_capture_t capture;
        EXPECT_EQ(open(c.name, c.mode), nullptr);
        EXPECT_EQ(capture.lines,
                  (std::vector<std::string>{ "[fs] Failed to open file '" + c.name + "' in the " +
                                                 get_mode_name(c.mode) + " mode.",
                                             std::string("[fs] Reason: ") + c.reason + "." }));
    }
}

TEST_F(fs_file_test, a_relative_path_that_fails_names_the_current_folder)
{
    message_capture_t capture;
    EXPECT_EQ(open("no_such_file_here.txt", fs_open_mode_t::read_only), nullptr);
    const std::string folder = std::filesystem::current_path().string();
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[fs] Failed to open file 'no_such_file_here.txt' in the read_only mode.",
                  "[fs] Reason: no such file or folder; the relative path "
                  "'no_such_file_here.txt' is taken from the current folder '" + folder +
                      "'." }));
}

TEST_F(fs_file_test, a_writer_shares_with_nobody_and_readers_share_with_readers)
{
    write_file_bytes(path("shared"), "x");
    message_capture_t capture;
    auto_ptr_t<file_t> reader(open(path("shared"), fs_open_mode_t::read_only));
    auto_ptr_t<file_t> second_reader(open(path("shared"), fs_open_mode_t::read_only));
    EXPECT_TRUE(reader && second_reader);
    EXPECT_FALSE(open(path("shared"), fs_open_mode_t::create_or_read_write));
    EXPECT_FALSE(open(path("shared"), fs_open_mode_t::create_truncate));
    EXPECT_EQ(read_file_bytes(path("shared")), "x");
    reader.reset();
    second_reader.reset();
    auto_ptr_t<file_t> writer(open(path("shared"), fs_open_mode_t::create_or_read_write));
    EXPECT_TRUE(writer);
    EXPECT_FALSE(open(path("shared"), fs_open_mode_t::read_only));
}

// ---- devices and paths -------------------------------------------------------------------------

TEST_F(fs_file_test, fs_device_open_reports_bad_devices_and_relative_ufs_paths)
{
    struct case_t
    {
        const char* path;
        fs_device_type_t type;
        const char* message;
    };
    const case_t cases[] = {
        { "x.txt", fs_device_type_t(7),
          "[fs] Unable to retrieve device pointer of specified type (7) for 'x.txt'." },
        { "x.txt", UNKNOWNFS,
          "[fs] Unable to retrieve device pointer of specified type (0) for 'x.txt'." },
        { "x.txt", UFS,
          "[fs] fs_device_open() called with invalid path 'x.txt' (expected absolute path, "
          "starting with slash)." },
        { "/x.txt", UFS, "[fs] Failed to open file '/x.txt' in the read_only mode." },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.message);
        message_capture_t capture;
        EXPECT_EQ(fs_device_open(c.path, fs_open_mode_t::read_only, c.type), nullptr);
        EXPECT_EQ(capture.lines, std::vector<std::string>{ c.message });
    }
}

TEST_F(fs_file_test, a_relative_sysfs_path_is_taken_from_the_current_directory)
{
    const std::string name =
        std::filesystem::path(scratch.root()).filename().string() + "_relative.txt";
    auto_ptr_t<file_t> file(fs_device_open(name.c_str(), fs_open_mode_t::create_new, SYSFS));
    ASSERT_TRUE(file);
    file.reset();
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::current_path() / name));
    EXPECT_TRUE(fs_get_device(SYSFS)->delete_file(name.c_str()));
}

struct join_case_t
{
    const char* path;
    const char* root;
    const char* joined;
};

const join_case_t join_cases[] = {
    { "/", "", "/" },           { "/", "/data", "/data" },    { "/a/b", "", "/a/b" },
    { "/a/b", "/", "/a/b" },    { "/a/b", "/data", "/data/a/b" },
    { "a/b", "", "a/b" },       { "a/b", "/", "/a/b" },       { "a/b", "/data", "/data/a/b" },
    { "", "/data", "/data" },   { "", "", "" },
};

TEST(join_path, joins_root_and_path_by_their_leading_slashes)
{
    for (const join_case_t& c : join_cases)
    {
        SCOPED_TRACE(std::string(c.root) + " + " + c.path);
        fs_path_t joined;
        EXPECT_TRUE(join_path(&joined, c.path, c.root));
        EXPECT_STREQ(joined.c_str(), c.joined);
    }
}

TEST(join_path, fails_beyond_255_bytes)
{
    fs_path_t joined;
    const std::string fits(249, 'a');
    EXPECT_TRUE(join_path(&joined, fits.c_str(), "/root"));  // 5 + 1 + 249 = 255
    EXPECT_FALSE(join_path(&joined, (fits + "b").c_str(), "/root"));
    EXPECT_TRUE(join_path(&joined, std::string(255, 'a').c_str(), ""));
    EXPECT_FALSE(join_path(&joined, std::string(256, 'a').c_str(), ""));
}

TEST_F(fs_file_test, overlong_and_malformed_paths_fail_like_missing_files)
{
    const std::string overlong = path(std::string(260, 'n'));
    {
        message_capture_t capture;
        EXPECT_EQ(open(overlong, fs_open_mode_t::create_new), nullptr);
        EXPECT_FALSE(fs_get_device(SYSFS)->stat(overlong.c_str(), nullptr));
    }
    const std::string malformed = path("bad\xFFname");
    message_capture_t capture;
    EXPECT_EQ(open(malformed, fs_open_mode_t::read_only), nullptr);
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "Encountered invalid code point.",
                                 "[fs] Failed to open file '" + malformed +
                                     "' in the read_only mode.",
                                 "[fs] Reason: no such file or folder." }));
}

// ---- device operations -------------------------------------------------------------------------

TEST_F(fs_file_test, stat_tells_files_from_directories_in_file_time_units)
{
    write_file_bytes(path("file"), "12345");
    std::filesystem::create_directory(path("dir"));
    fs_device_t* device = fs_get_device(SYSFS);
    fs_stat_t status;
    ASSERT_TRUE(device->stat(path("file").c_str(), &status));
    EXPECT_EQ(status.type, 1u);
    EXPECT_EQ(status.size, 5u);
    EXPECT_EQ(status.device, device);
    // 100-nanosecond units since 1601-01-01: now lies within a day of it.
    const uint64_t now = uint64_t(std::time(nullptr)) * 10000000u + 116444736000000000u;
    EXPECT_LT(status.modification_time > now ? status.modification_time - now
                                             : now - status.modification_time,
              864000000000u);
    ASSERT_TRUE(device->stat(path("dir").c_str(), &status));
    EXPECT_EQ(status.type, 2u);
    EXPECT_FALSE(device->stat(path("missing").c_str(), &status));
    EXPECT_TRUE(device->stat(path("file").c_str(), nullptr));
}

TEST_F(fs_file_test, delete_move_copy_and_list)
{
    fs_device_t* device = fs_get_device(SYSFS);
    write_file_bytes(path("a"), pattern_bytes(40000));
    write_file_bytes(path("b"), "b");

    EXPECT_TRUE(device->copy_file(path("a").c_str(), path("copies/deep/a").c_str(), false));
    EXPECT_EQ(read_file_bytes(path("copies/deep/a")), pattern_bytes(40000));
    EXPECT_FALSE(device->copy_file(path("b").c_str(), path("copies/deep/a").c_str(), false));
    EXPECT_TRUE(device->copy_file(path("b").c_str(), path("copies/deep/a").c_str(), true));
    EXPECT_EQ(read_file_bytes(path("copies/deep/a")), "b");
    EXPECT_FALSE(device->copy_file(path("missing").c_str(), path("c").c_str(), true));

    EXPECT_FALSE(device->move_file(path("a").c_str(), path("b").c_str(), false));
    EXPECT_TRUE(device->move_file(path("a").c_str(), path("b").c_str(), true));
    EXPECT_EQ(read_file_bytes(path("b")), pattern_bytes(40000));
    EXPECT_TRUE(device->move_file(path("b").c_str(), path("a").c_str(), false));

    auto_ptr_t<array_dyn_t<string_dyn_t>> names(device->list_directory(scratch.root().c_str()));
    ASSERT_TRUE(names);
    std::vector<std::string> listed;
    for (const string_dyn_t& name : *names)
        listed.emplace_back(name.c_str());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{ "a", "copies" }));
    EXPECT_EQ(device->list_directory(path("missing").c_str()), nullptr);

    EXPECT_TRUE(device->delete_file(path("a").c_str()));
    EXPECT_FALSE(device->delete_file(path("a").c_str()));
    EXPECT_FALSE(device->remove_directory(path("copies").c_str()));  // not empty
    EXPECT_TRUE(device->delete_file(path("copies/deep/a").c_str()));
    EXPECT_TRUE(device->remove_directory(path("copies/deep").c_str()));
    EXPECT_TRUE(device->make_directories(path("x/y/z").c_str()));
    EXPECT_TRUE(device->make_directories(path("x/y/z").c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(path("x/y/z")));
    EXPECT_TRUE(device->make_directories(""));
}

TEST_F(fs_file_test, set_size_grows_with_zeros_and_shrinks)
{
    write_file_bytes(path("f"), "abcdef");
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::create_or_read_write));
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->set_size(3));
    EXPECT_EQ(file->get_size(), 3u);
    EXPECT_TRUE(file->set_size(5));
    file.reset();
    EXPECT_EQ(read_file_bytes(path("f")), std::string("abc\0\0", 5));
}

// ---- reading -----------------------------------------------------------------------------------

TEST_F(fs_file_test, small_reads_come_from_the_8192_byte_window)
{
    const std::string bytes = pattern_bytes(20000);
    write_file_bytes(path("f"), bytes);
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::read_only));
    ASSERT_TRUE(file);
    sys_file_recorder_t recorder;
    std::string got;
    char piece[1000];
    for (int i = 0; i < 20; ++i)
    {
        ASSERT_TRUE(file->read(piece, sizeof piece));
        got.append(piece, sizeof piece);
    }
    EXPECT_EQ(got, bytes);
    // Reads that straddle a window edge take its rest, then refill at the position.
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{ "read 8192 @0", "read 8192 @8192",
                                                         "read 3616 @16384" }));
}

TEST_F(fs_file_test, a_20000_byte_read_bypasses_the_window)
{
    const std::string bytes = pattern_bytes(30000);
    write_file_bytes(path("f"), bytes);
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::read_only));
    ASSERT_TRUE(file);
    sys_file_recorder_t recorder;
    char first[100];
    ASSERT_TRUE(file->read(first, sizeof first));
    std::string big(20000, '\0');
    ASSERT_TRUE(file->read(big.data(), 20000));
    EXPECT_EQ(std::string(first, 100) + big, bytes.substr(0, 20100));
    // The rest of the window serves the first 8092 bytes; the other 11908 go straight in.
    EXPECT_EQ(recorder.calls,
              (std::vector<std::string>{ "read 8192 @0", "read 11908 @8192" }));
    EXPECT_EQ(file->get_position(), 20100u);
}

TEST_F(fs_file_test, reading_past_the_end_fails_with_read_request_too_big)
{
    write_file_bytes(path("f"), pattern_bytes(100));
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::read_only));
    ASSERT_TRUE(file);
    file->set_position(95);
    char buffer[10];
    message_capture_t capture;
    EXPECT_FALSE(file->read(buffer, 10));
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "[fs] cached read - read request too big "
                                                       "(<SYSFS>" + path("f") + ")" });
    capture.clear();
    file->set_position(95);
    EXPECT_TRUE(file->read(buffer, 5));
    EXPECT_EQ(std::string(buffer, 5), pattern_bytes(100).substr(95));
    EXPECT_FALSE(file->read(nullptr, 1));
}

TEST_F(fs_file_test, a_failed_refill_is_reported_and_leaves_no_stale_window)
{
    write_file_bytes(path("f"), pattern_bytes(100));
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::read_only));
    ASSERT_TRUE(file);
    char buffer[10];
    {
        sys_file_recorder_t recorder;
        recorder.fail_reads = true;
        message_capture_t capture;
        EXPECT_FALSE(file->read(buffer, 10));
        EXPECT_EQ(capture.lines,
                  std::vector<std::string>{ "[fs] cached read - buffer update failed (<SYSFS>" +
                                            path("f") + ")" });
    }
    file->set_position(0);
    ASSERT_TRUE(file->read(buffer, 10));
    EXPECT_EQ(std::string(buffer, 10), pattern_bytes(100).substr(0, 10));
}

struct lines_case_t
{
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

TEST_F(fs_file_test, read_lines_splits_at_runs_of_cr_and_lf)
{
    const lines_case_t cases[] = {
        { "mixed", "a\r\n\r\nb\nc", { "a", "b", "c" } },
        { "empty", "", {} },
        { "only_separators", "\r\n\n\r", {} },
        { "leading_and_trailing", "\n x \r\n", { " x " } },
        { "beyond_the_window", std::string(9000, 'q') + "\r\nz", { std::string(9000, 'q'), "z" } },
    };
    for (const lines_case_t& c : cases)
    {
        SCOPED_TRACE(c.name);
        write_file_bytes(path(c.name), c.bytes);
        auto_ptr_t<file_t> file(open(path(c.name), fs_open_mode_t::read_only));
        ASSERT_TRUE(file);
        auto_ptr_t<array_dyn_t<string_dyn_t>> lines(file->read_lines());
        ASSERT_TRUE(lines);
        EXPECT_EQ(lines_of(*lines), c.lines);
    }
}

TEST_F(fs_file_test, get_size_of_a_file_that_cannot_be_stated_is_fatal)
{
    write_file_bytes(path("f"), "x");
    const std::string expected = "failed to stat opened file \\(<SYSFS>.*\\)!.*Failed to stat "
                                 "opened file!";
    EXPECT_DEATH(
        {
            auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::read_only));
            sys_file_recorder_t recorder;
            recorder.fail_stat_handle = true;
            (void)file->get_size();
        },
        expected);
}

// ---- writing -----------------------------------------------------------------------------------

TEST_F(fs_file_test, writes_advance_the_position_and_drop_the_window)
{
    write_file_bytes(path("f"), "0123456789");
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::create_or_read_write));
    ASSERT_TRUE(file);
    char buffer[4];
    ASSERT_TRUE(file->read(buffer, 4));
    ASSERT_TRUE(file->write("ab", 2));
    EXPECT_EQ(file->get_position(), 6u);
    file->set_position(0);
    char all[10];
    ASSERT_TRUE(file->read(all, 10));  // a stale window would still hold "45"
    EXPECT_EQ(std::string(all, 10), "0123ab6789");
}

TEST_F(fs_file_test, write_formatted_writes_the_text_and_nothing_for_an_empty_one)
{
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::create_truncate));
    ASSERT_TRUE(file);
    sys_file_recorder_t recorder;
    EXPECT_TRUE(file->write_formatted("%s=%Iu %I64u\r\n", "count", size_t(3), uint64_t(1) << 40));
    EXPECT_TRUE(file->write_formatted("%s", ""));
    EXPECT_EQ(recorder.calls, std::vector<std::string>{ "write 23 @0" });
    file.reset();
    EXPECT_EQ(read_file_bytes(path("f")), "count=3 1099511627776\r\n");
}

TEST_F(fs_file_test, write_owned_frees_the_buffer_only_after_success)
{
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::create_truncate));
    ASSERT_TRUE(file);
    char* buffer = static_cast<char*>(std::malloc(3));
    std::memcpy(buffer, "abc", 3);
    EXPECT_TRUE(file->write_owned(buffer, 3));  // freed: a leak would show under the sanitizer
    EXPECT_TRUE(file->write_owned(std::malloc(8), 0));
    EXPECT_FALSE(file->write_owned(nullptr, 4));
    char* kept = static_cast<char*>(std::malloc(3));
    {
        sys_file_recorder_t recorder;
        recorder.fail_writes = true;
        EXPECT_FALSE(file->write_owned(kept, 3));
    }
    std::free(kept);  // still the caller's
    file.reset();
    EXPECT_EQ(read_file_bytes(path("f")), "abc");
}

TEST_F(fs_file_test, commit_and_cancel_are_refused_on_plain_files)
{
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::create_truncate));
    ASSERT_TRUE(file);
    message_capture_t capture;
    EXPECT_FALSE(file->commit());
    EXPECT_FALSE(file->cancel());
    const std::string description = "<SYSFS>" + path("f");
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[file_t] Cannot use commit atomic operation on file " + description,
                  "[file_t] Cannot use cancel atomic operation on file " + description }));
}

// ---- descriptions ------------------------------------------------------------------------------

TEST_F(fs_file_test, descriptions_name_the_device_type)
{
    write_file_bytes(path("f"), "x");
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::read_only));
    ASSERT_TRUE(file);
    EXPECT_STREQ(describe_file(file.get()).c_str(), ("<SYSFS>" + path("f")).c_str());
    EXPECT_STREQ(describe_file(nullptr).c_str(), "<NULL>");
    EXPECT_STREQ(describe_path(path("f").c_str(), SYSFS).c_str(), ("<SYSFS>" + path("f")).c_str());

    struct case_t
    {
        uint32_t type;
        const char* prefix;
        bool described;
    };
    const case_t cases[] = { { 0, "<UNKNOWNFS>", true }, { 1, "< | >", true },
                             { 9, "<BADFS>", false } };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.prefix);
        file->set_device_type(fs_device_type_t(c.type));
        string_dyn_t description;
        EXPECT_EQ(file->get_description(&description), c.described);
        EXPECT_STREQ(description.c_str(), (c.prefix + path("f")).c_str());
    }

    message_capture_t capture;
    EXPECT_STREQ(describe_path(path("missing").c_str(), SYSFS).c_str(),
                 ("<MISSING><SYSFS>" + path("missing")).c_str());
    EXPECT_STREQ(describe_path("/missing", UFS).c_str(), "<MISSING><UFS>/missing");
}

TEST_F(fs_file_test, system_and_mount_paths)
{
    write_file_bytes(path("f"), "x");
    auto_ptr_t<file_t> file(open(path("f"), fs_open_mode_t::read_only));
    ASSERT_TRUE(file);
    string_dyn_t out;
    EXPECT_TRUE(file->get_system_path(&out));
    EXPECT_STREQ(out.c_str(), path("f").c_str());
    EXPECT_FALSE(file->get_mount_path(&out));
    file->set_device_type(UFS);
    EXPECT_TRUE(file->get_mount_path(&out));
    EXPECT_STREQ(out.c_str(), path("f").c_str());
    EXPECT_EQ(file->get_device_id(), fs_no_device_id);
}

// ---- fs_copy -----------------------------------------------------------------------------------

TEST_F(fs_file_test, fs_copy_moves_10000_bytes_in_4096_4096_1808)
{
    const std::string bytes = pattern_bytes(10000);
    write_file_bytes(path("source"), bytes);
    auto_ptr_t<file_t> source(open(path("source"), fs_open_mode_t::read_only));
    auto_ptr_t<file_t> destination(open(path("destination"), fs_open_mode_t::create_truncate));
    ASSERT_TRUE(source && destination);
    ASSERT_TRUE(destination->write("head", 4));
    sys_file_recorder_t recorder;
    EXPECT_TRUE(fs_copy(destination.get(), source.get()));
    EXPECT_EQ(recorder.calls,
              (std::vector<std::string>{ "read 4096 @0", "write 4096 @4", "read 4096 @4096",
                                         "write 4096 @4100", "read 1808 @8192",
                                         "write 1808 @8196" }));
    EXPECT_EQ(source->get_position(), 0u);
    EXPECT_EQ(destination->get_position(), 10004u);
    destination.reset();
    EXPECT_EQ(read_file_bytes(path("destination")), "head" + bytes);
}

TEST_F(fs_file_test, fs_copy_from_the_end_copies_nothing)
{
    write_file_bytes(path("source"), "abc");
    auto_ptr_t<file_t> source(open(path("source"), fs_open_mode_t::read_only));
    auto_ptr_t<file_t> destination(open(path("destination"), fs_open_mode_t::create_truncate));
    ASSERT_TRUE(source && destination);
    source->set_position(3);
    sys_file_recorder_t recorder;
    EXPECT_TRUE(fs_copy(destination.get(), source.get()));
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(fs_file_test, fs_copy_reports_the_failing_block)
{
    write_file_bytes(path("source"), pattern_bytes(5000));
    auto_ptr_t<file_t> source(open(path("source"), fs_open_mode_t::read_only));
    auto_ptr_t<file_t> destination(open(path("destination"), fs_open_mode_t::create_truncate));
    ASSERT_TRUE(source && destination);
    source->set_position(100);
    {
        sys_file_recorder_t recorder;
        recorder.fail_reads = true;
        message_capture_t capture;
        EXPECT_FALSE(fs_copy(destination.get(), source.get()));
        EXPECT_EQ(capture.lines,
                  std::vector<std::string>{ "[fs_copy] error reading block: <SYSFS>" +
                                            path("source") + " @ 100 (chunk size 4096)" });
    }
    sys_file_recorder_t recorder;
    recorder.fail_writes = true;
    message_capture_t capture;
    EXPECT_FALSE(fs_copy(destination.get(), source.get()));
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "[fs_copy] error writing block: <SYSFS>" +
                                                       path("destination") +
                                                       " @ 0 (chunk size 4096)" });
}
