// Run contexts: the main thread's record, priming alien threads from the pool of 64 and the
// shared fallback, records returning when their thread ends, and the system stopping.
#include "ovcore/thread/run_context_system.h"

#include "ovcore/thread/locks.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

TEST(run_context_system, the_main_thread_has_its_record)
{
    run_context_t* context = run_context_current();
    ASSERT_TRUE(run_context_is_valid(context));
    EXPECT_EQ(context->type, run_context_type_t::main_thread);
    EXPECT_EQ(context->owner, nullptr);
}

TEST(run_context_system, an_alien_thread_has_none_until_primed)
{
    run_context_t* before = reinterpret_cast<run_context_t*>(1);
    run_context_t* primed = nullptr;
    run_context_t primed_copy = {};
    std::thread alien([&] {
        before = run_context_current();
        primed = run_context_prime_current_thread();
        primed_copy = *run_context_current();
    });
    alien.join();
    EXPECT_EQ(before, nullptr);
    ASSERT_NE(primed, nullptr);
    EXPECT_EQ(primed_copy.magic, run_context_magic);
    EXPECT_EQ(primed_copy.type, run_context_type_t::alien);
}

TEST(run_context_system, the_65th_alien_thread_gets_the_shared_fallback_and_records_come_back)
{
    constexpr uint32_t threads = run_context_alien_pool_size + 1;
    std::vector<run_context_t*> records(threads, nullptr);
    event_t leave(true);
    std::vector<std::thread> aliens;
    // One after the other, so the last one is the one that finds the pool empty.
    for (uint32_t i = 0; i < threads; ++i)
    {
        event_t primed;
        aliens.emplace_back([&, i] {
            records[i] = run_context_prime_current_thread();
            primed.signal();
            leave.wait();
        });
        primed.wait();
    }
    std::set<run_context_t*> pool_records(records.begin(), records.end() - 1);
    EXPECT_EQ(pool_records.size(), size_t(run_context_alien_pool_size));
    EXPECT_EQ(pool_records.count(nullptr), 0u);
    run_context_t* fallback = records.back();
    ASSERT_NE(fallback, nullptr);
    EXPECT_EQ(pool_records.count(fallback), 0u);
    EXPECT_EQ(fallback->type, run_context_type_t::alien);

    leave.signal();
    for (std::thread& alien : aliens)
        alien.join();

    // Every pool record went back when its thread ended: a new alien gets one of them.
    run_context_t* later = nullptr;
    std::thread late([&] { later = run_context_prime_current_thread(); });
    late.join();
    EXPECT_EQ(pool_records.count(later), 1u);
}

TEST(run_context_system, a_stopped_system_primes_nobody)
{
    run_context_system_stop();
    EXPECT_EQ(run_context_current(), nullptr);
    run_context_t* primed = reinterpret_cast<run_context_t*>(1);
    std::thread alien([&] { primed = run_context_prime_current_thread(); });
    alien.join();
    EXPECT_EQ(primed, nullptr);
    run_context_system_start();
    EXPECT_EQ(run_context_current()->type, run_context_type_t::main_thread);
}
