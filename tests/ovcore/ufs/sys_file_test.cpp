// The io_pump thread on io_uring and on its own pread/pwrite: ordering, the 8-in-flight limit,
// the stop signal and many threads at once; small requests served on the caller's thread until
// the pump is needed.
#include "ovcore/ufs/sys_file.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/ufs/fs_system.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace
{

// Restarts the file system on the table under test, and on the default one afterwards.
class io_pump_test : public testing::TestWithParam<const sys_file_api_t*>
{
protected:
    void SetUp() override
    {
        fs_shutdown();
        fs_startup(GetParam());
        // The pump starts with the first request; these tests time what it does from then on,
        // with every request handed to it.
        ASSERT_TRUE(sys_file_pump_stats().running);
        sys_file_pump_post_all(true);
        write_file_bytes(scratch.path("data"), pattern_bytes(file_size));
        handle = sys_file->open(scratch.path("data").c_str(), fs_open_mode_t::read_only);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override
    {
        sys_file_pump_post_all(false);
        GetParam()->close(handle);
        fs_shutdown();
        fs_startup();
    }

    bool on_io_uring() const { return sys_file_pump_stats().uses_io_uring; }

    static constexpr uint32_t file_size = 20 * 4096;
    scratch_directory_t scratch;
    sys_file_handle_t* handle = nullptr;
};

std::string param_name(const testing::TestParamInfo<const sys_file_api_t*>& info)
{
    return info.param == &sys_file_posix ? "io_uring_where_allowed" : "pread";
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(tables, io_pump_test,
                         testing::Values(&sys_file_posix, &sys_file_posix_pread), param_name);

TEST_P(io_pump_test, runs_on_the_path_it_was_started_for)
{
    const sys_file_pump_stats_t stats = sys_file_pump_stats();
    EXPECT_TRUE(stats.running);
    if (GetParam() == &sys_file_posix_pread)
    {
        EXPECT_FALSE(stats.uses_io_uring);
    }
    RecordProperty("uses_io_uring", stats.uses_io_uring ? "yes" : "no");
}

TEST_P(io_pump_test, keeps_at_most_8_in_flight_and_finishes_the_rest_in_order)
{
    sys_file_pump_hold(true);  // everything below arrives at once
    std::vector<std::string> buffers(20, std::string(4096, '\0'));
    std::vector<fs_io_request_t*> requests;
    for (uint32_t i = 0; i < 20; ++i)
        requests.push_back(sys_file->start_read(handle, buffers[i].data(), 4096, i * 4096u));
    sys_file_pump_hold(false);
    const std::string expected = pattern_bytes(file_size);
    for (uint32_t i = 0; i < 20; ++i)
    {
        ASSERT_NE(requests[i], nullptr);
        EXPECT_TRUE(sys_file->wait(requests[i]));
        EXPECT_EQ(buffers[i], expected.substr(i * 4096, 4096)) << "request " << i;
    }
    const sys_file_pump_stats_t stats = sys_file_pump_stats();
    EXPECT_EQ(stats.issued, 20u);
    EXPECT_EQ(stats.peak_in_flight, on_io_uring() ? 8u : 1u);
}

TEST_P(io_pump_test, a_short_transfer_fails_and_an_empty_one_succeeds)
{
    char buffer[64];
    fs_io_request_t* past_end = sys_file->start_read(handle, buffer, 64, file_size - 10);
    fs_io_request_t* empty = sys_file->start_read(handle, buffer, 0, 0);
    ASSERT_TRUE(past_end && empty);
    while (!sys_file->poll(empty))
        std::this_thread::yield();
    EXPECT_FALSE(sys_file->wait(past_end));
    EXPECT_TRUE(sys_file->wait(empty));
    EXPECT_EQ(sys_file->start_read(nullptr, buffer, 1, 0), nullptr);
}

TEST_P(io_pump_test, the_stop_signal_fails_every_queued_request)
{
    const sys_file_api_t* table = GetParam();
    const bool uring = on_io_uring();
    sys_file_pump_hold(true);
    std::vector<std::string> buffers(20, std::string(4096, '\0'));
    std::vector<fs_io_request_t*> requests;
    for (uint32_t i = 0; i < 20; ++i)
        requests.push_back(sys_file->start_read(handle, buffers[i].data(), 4096, i * 4096u));
    fs_shutdown();  // lets go of the hold; the stop signal comes after the 20 requests
    uint32_t succeeded = 0;
    for (fs_io_request_t* request : requests)
        succeeded += table->wait(request) ? 1 : 0;
    // On io_uring 8 are in flight when the stop arrives; the pread pump finishes each at once.
    EXPECT_EQ(succeeded, uring ? 8u : 20u);
    fs_startup(table);
}

TEST_P(io_pump_test, a_failed_wait_fails_what_the_pump_holds_and_every_later_request)
{
    const sys_file_api_t* table = GetParam();
    message_capture_t capture;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the pump goes to sleep
    sys_file_pump_fail_next_wait();
    // The first post wakes the pump, whose wait then fails: from there on nothing succeeds.
    std::vector<std::string> buffers(20, std::string(4096, '\0'));
    uint32_t succeeded = 0;
    bool failed = false;
    for (uint32_t i = 0; i < 20; ++i)
    {
        fs_io_request_t* request =
            table->start_read(handle, buffers[i].data(), 4096, i * 4096u);
        const bool success = request != nullptr && table->wait(request);
        EXPECT_FALSE(success && failed) << "request " << i << " succeeded after a failure";
        failed = failed || !success;
        succeeded += success ? 1 : 0;
    }
    EXPECT_TRUE(failed);
    EXPECT_LE(succeeded, 1u);  // only when the pump was still awake for the first
    EXPECT_EQ(table->start_write(handle, buffers[0].data(), 1, 0), nullptr);
    EXPECT_EQ(capture.lines,
              std::vector<std::string>{ "[fs] The io_pump thread cannot wait for the operating "
                                        "system (error 5): every read and write fails from now "
                                        "on." });
}

TEST_P(io_pump_test, a_file_written_by_the_pump_opens_again_at_once_after_its_close)
{
    const std::string name = scratch.path("again");
    const std::string bytes = pattern_bytes((1u << 20) + 1);  // past what the caller serves
    for (int round = 0; round < 20; ++round)
    {
        SCOPED_TRACE(round);
        sys_file_handle_t* out = sys_file->open(name.c_str(), fs_open_mode_t::create_truncate);
        ASSERT_NE(out, nullptr);
        fs_io_request_t* request =
            sys_file->start_write(out, bytes.data(), uint32_t(bytes.size()), 0);
        ASSERT_NE(request, nullptr);
        EXPECT_TRUE(sys_file->wait(request));
        sys_file->close(out);
    }
    EXPECT_EQ(read_file_bytes(name), bytes);
}

TEST_P(io_pump_test, a_small_request_is_served_at_once_unless_its_file_waits_on_the_pump)
{
    sys_file_handle_t* out =
        sys_file->open(scratch.path("written").c_str(), fs_open_mode_t::create_truncate);
    ASSERT_NE(out, nullptr);
    sys_file_pump_post_all(false);
    sys_file_pump_hold(true);
    const std::string first = pattern_bytes(4096, 1);
    fs_io_request_t* at_once = sys_file->start_write(out, first.data(), 4096, 0);
    ASSERT_NE(at_once, nullptr);
    EXPECT_TRUE(sys_file->poll(at_once));  // the held pump was not needed
    EXPECT_TRUE(sys_file->wait(at_once));

    // A read waits in the port: a write to the same file after it must not overtake it.
    std::string read_back(4096, '\0');
    sys_file_pump_post_all(true);
    fs_io_request_t* read = sys_file->start_read(out, read_back.data(), 4096, 0);
    sys_file_pump_post_all(false);
    const std::string second = pattern_bytes(4096, 2);
    fs_io_request_t* write = sys_file->start_write(out, second.data(), 4096, 0);
    ASSERT_TRUE(read && write);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(sys_file->poll(read));
    EXPECT_FALSE(sys_file->poll(write));
    sys_file_pump_hold(false);
    EXPECT_TRUE(sys_file->wait(read));
    EXPECT_TRUE(sys_file->wait(write));
    // On io_uring both may be in flight at once; the pread pump finishes them in order.
    if (!on_io_uring())
    {
        EXPECT_EQ(read_back, first);
    }
    sys_file->close(out);
}

TEST_P(io_pump_test, many_threads_reading_and_writing_at_once_all_get_their_bytes)
{
    constexpr uint32_t thread_count = 4;
    constexpr uint32_t blocks = 64;
    constexpr uint32_t block_size = 1024;
    constexpr uint32_t batch = 16;
    std::vector<std::thread> threads;
    std::vector<int> failures(thread_count, 0);
    for (uint32_t t = 0; t < thread_count; ++t)
    {
        threads.emplace_back([&, t] {
            const std::string name = scratch.path("stress_" + std::to_string(t));
            auto_ptr_t<file_t> file(fs_device_open(name.c_str(), fs_open_mode_t::create_truncate,
                                                SYSFS));
            if (!file)
            {
                ++failures[t];
                return;
            }
            const std::string bytes = pattern_bytes(blocks * block_size, t);
            std::string back(bytes.size(), '\0');
            for (int pass = 0; pass < 2; ++pass)
            {
                for (uint32_t first = 0; first < blocks; first += batch)
                {
                    fs_io_request_t* pending[batch];
                    for (uint32_t b = 0; b < batch; ++b)
                    {
                        const uint32_t offset = (first + b) * block_size;
                        pending[b] = pass == 0
                                         ? file->io_write(bytes.data() + offset, block_size, offset)
                                         : file->io_read(back.data() + offset, block_size, offset);
                    }
                    for (fs_io_request_t* request : pending)
                        failures[t] += request != nullptr && file->io_wait(request) ? 0 : 1;
                }
            }
            failures[t] += back == bytes ? 0 : 1;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(thread_count, 0));
    const sys_file_pump_stats_t stats = sys_file_pump_stats();
    EXPECT_EQ(stats.issued, uint64_t(thread_count) * blocks * 2);
    EXPECT_GE(stats.peak_in_flight, 1u);
    EXPECT_LE(stats.peak_in_flight, 8u);
    RecordProperty("peak_in_flight", int(stats.peak_in_flight));
}

namespace
{

// Threads of this process named "io_pump".
uint32_t io_pump_threads()
{
    uint32_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == "io_pump" ? 1 : 0;
    }
    return count;
}

// A file system started afresh on the table under test, whose pump has not been asked for yet.
class served_here_test : public testing::TestWithParam<const sys_file_api_t*>
{
protected:
    void SetUp() override
    {
        fs_shutdown();
        fs_startup(GetParam());
        write_file_bytes(scratch.path("data"), pattern_bytes(file_size));
        handle = sys_file->open(scratch.path("data").c_str(), fs_open_mode_t::create_or_read_write);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override
    {
        GetParam()->close(handle);
        fs_shutdown();
        fs_startup();
    }

    static constexpr uint32_t file_size = (1u << 20) + 4096;
    scratch_directory_t scratch;
    sys_file_handle_t* handle = nullptr;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(tables, served_here_test,
                         testing::Values(&sys_file_posix, &sys_file_posix_pread), param_name);

TEST_P(served_here_test, small_requests_before_the_pump_is_needed_finish_in_their_start)
{
    const std::string expected = pattern_bytes(file_size);
    std::string read_back(4096, '\0');
    fs_io_request_t* read = sys_file->start_read(handle, read_back.data(), 4096, 4096);
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(sys_file->poll(read));  // already finished: the caller's thread read it
    EXPECT_TRUE(sys_file->wait(read));
    EXPECT_EQ(read_back, expected.substr(4096, 4096));

    // A write, then a read of the same bytes, in the order started.
    const std::string bytes = pattern_bytes(100, 7);
    fs_io_request_t* write = sys_file->start_write(handle, bytes.data(), 100, 10);
    std::string again(100, '\0');
    fs_io_request_t* read_again = sys_file->start_read(handle, again.data(), 100, 10);
    ASSERT_TRUE(write && read_again);
    EXPECT_TRUE(sys_file->wait(write));
    EXPECT_TRUE(sys_file->wait(read_again));
    EXPECT_EQ(again, bytes);

    // Past the end it fails as on the pump.
    fs_io_request_t* past_end = sys_file->start_read(handle, read_back.data(), 64, file_size - 10);
    ASSERT_NE(past_end, nullptr);
    EXPECT_FALSE(sys_file->wait(past_end));
    EXPECT_EQ(io_pump_threads(), 0u);

    const sys_file_pump_stats_t stats = sys_file_pump_stats();  // asking starts the pump
    EXPECT_TRUE(stats.running);
    EXPECT_EQ(stats.issued, 4u);
    EXPECT_EQ(io_pump_threads(), 1u);
}

TEST_P(served_here_test, after_a_request_over_1_mib_small_ones_of_idle_files_stay_here)
{
    const std::string expected = pattern_bytes(file_size);
    std::string big(file_size, '\0');
    sys_file_pump_hold(true);  // held, the big read waits in the port
    fs_io_request_t* request = sys_file->start_read(handle, big.data(), file_size, 0);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(io_pump_threads(), 1u);

    // Another file has nothing on the pump: its small read finishes in its start.
    write_file_bytes(scratch.path("other"), expected);
    sys_file_handle_t* other =
        sys_file->open(scratch.path("other").c_str(), fs_open_mode_t::read_only);
    ASSERT_NE(other, nullptr);
    char small[16];
    fs_io_request_t* at_once = sys_file->start_read(other, small, sizeof small, 32);
    ASSERT_NE(at_once, nullptr);
    EXPECT_TRUE(sys_file->poll(at_once));
    EXPECT_TRUE(sys_file->wait(at_once));
    EXPECT_EQ(std::string(small, sizeof small), expected.substr(32, sizeof small));
    GetParam()->close(other);

    // The big read's file does: a small read of it waits behind the big one.
    char behind[16];
    fs_io_request_t* waiting = sys_file->start_read(handle, behind, sizeof behind, 0);
    ASSERT_NE(waiting, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(sys_file->poll(waiting));
    sys_file_pump_hold(false);
    EXPECT_TRUE(sys_file->wait(request));
    EXPECT_TRUE(sys_file->wait(waiting));
    EXPECT_EQ(big, expected);
    EXPECT_EQ(std::string(behind, sizeof behind), expected.substr(0, sizeof behind));
    EXPECT_EQ(sys_file_pump_stats().issued, 3u);
}
