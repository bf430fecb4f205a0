// Readers-writer lock: writer preference, exclusion under contention, and the event and semaphore.
#include "ovcore/thread/locks.h"

#include "ovcore/thread/thread.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
// Polls until predicate holds; a broken lock fails the test instead of hanging it.
template <typename Predicate> bool eventually(Predicate predicate)
{
    for (int i = 0; i < 200000; ++i)
    {
        if (predicate())
            return true;
        std::this_thread::yield();
        if (i > 1000)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return false;
}

struct ordered_log_t
{
    std::mutex lock;
    std::vector<std::string> entries;
    void add(const char* entry)
    {
        std::lock_guard<std::mutex> hold(lock);
        entries.push_back(entry);
    }
};
} // namespace

TEST(rw_lock, reader_arriving_while_writer_waits_blocks_until_writer_finishes)
{
    rw_lock_t lock;
    ordered_log_t log;
    lock.read_lock();

    std::thread writer([&] {
        lock.write_lock();
        log.add("writer");
        lock.unlock();
    });
    ASSERT_TRUE(eventually([&] { return lock.waiting_writer_count() == 1; }));

    std::thread reader([&] {
        lock.read_lock();
        log.add("reader");
        lock.unlock();
    });
    ASSERT_TRUE(eventually([&] { return lock.waiting_reader_count() == 1; }));

    log.add("first reader leaves");
    lock.unlock();
    writer.join();
    reader.join();
    EXPECT_EQ(log.entries, (std::vector<std::string>{ "first reader leaves", "writer", "reader" }));
}

TEST(rw_lock, readers_share_the_lock)
{
    rw_lock_t lock;
    lock.read_lock();
    std::atomic<bool> second_reader_in{ false };
    std::thread reader([&] {
        lock.read_lock();
        second_reader_in = true;
        lock.unlock();
    });
    reader.join();  // would never return if readers excluded each other
    EXPECT_TRUE(second_reader_in);
    lock.unlock();
}

TEST(rw_lock, writer_waits_for_every_reader)
{
    rw_lock_t lock;
    ordered_log_t log;
    lock.read_lock();
    lock.read_lock();  // two readers, held by this thread for brevity
    std::thread writer([&] {
        lock.write_lock();
        log.add("writer");
        lock.unlock();
    });
    ASSERT_TRUE(eventually([&] { return lock.waiting_writer_count() == 1; }));
    log.add("reader 1 leaves");
    lock.unlock();
    log.add("reader 2 leaves");
    lock.unlock();
    writer.join();
    EXPECT_EQ(log.entries,
              (std::vector<std::string>{ "reader 1 leaves", "reader 2 leaves", "writer" }));
}

TEST(rw_lock, keeps_readers_and_writers_apart_under_contention)
{
    rw_lock_t lock;
    int64_t value = 0;        // written only under the write lock
    std::atomic<int> writers_inside{ 0 };
    std::atomic<bool> reader_saw_writer{ false };
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
    {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i)
            {
                if ((t + i) % 3 == 0)
                {
                    write_lock_scope_t hold(&lock);
                    ++writers_inside;
                    ++value;
                    --writers_inside;
                }
                else
                {
                    read_lock_scope_t hold(&lock);
                    if (writers_inside.load() != 0)
                        reader_saw_writer = true;
                    (void)value;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(value, 600);
    EXPECT_FALSE(reader_saw_writer);
}

TEST(rw_lock_death, unlock_without_hold_is_fatal)
{
    EXPECT_DEATH(
        {
            rw_lock_t lock;
            lock.unlock();
        },
        "Unlock of a readers-writer lock that is not held\\.");
}

TEST(event, auto_reset_lets_one_waiter_through_per_signal)
{
    event_t event;
    event.signal();
    EXPECT_TRUE(event.wait_for(0));
    EXPECT_FALSE(event.wait_for(0));
}

TEST(event, manual_reset_stays_signalled_until_reset)
{
    event_t event(true);
    event.signal();
    EXPECT_TRUE(event.wait_for(0));
    EXPECT_TRUE(event.wait_for(0));
    event.reset();
    EXPECT_FALSE(event.wait_for(0));
}

TEST(semaphore, counts_releases)
{
    semaphore_t semaphore(1);
    semaphore.release(2);
    EXPECT_TRUE(semaphore.try_wait());
    EXPECT_TRUE(semaphore.try_wait());
    EXPECT_TRUE(semaphore.try_wait());
    EXPECT_FALSE(semaphore.try_wait());
}
