// Worker pool: strategy table, worker names and cores, submitting, waiting, stealing, classes.
#include "ovcore/thread/thread_pool.h"

#include "ovcore/cpu_info.h"
#include "ovcore/thread/locks.h"
#include "ovcore/thread/sys_thread.h"
#include "ovcore/thread/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace
{
struct strategy_case_t
{
    int32_t strategy;
    uint32_t physical_cores;
    uint32_t workers;
};

const strategy_case_t strategy_cases[] = {
    { 0, 1, 1 }, { 0, 8, 1 },
    { 1, 1, 1 }, { 1, 2, 1 }, { 1, 3, 2 }, { 1, 16, 2 },
    { 2, 1, 1 }, { 2, 2, 1 }, { 2, 4, 3 }, { 2, 6, 4 }, { 2, 8, 6 },
    { 3, 1, 1 }, { 3, 4, 4 }, { 3, 200, 128 },
};

TEST(normal_worker_count, follows_the_strategy_table)
{
    for (const strategy_case_t& c : strategy_cases)
    {
        SCOPED_TRACE(testing::Message() << c.strategy << " with " << c.physical_cores << " cores");
        EXPECT_EQ(normal_worker_count(c.strategy, c.physical_cores), c.workers);
    }
}

TEST(normal_worker_count_death, unknown_strategy_is_fatal)
{
    EXPECT_DEATH((void)normal_worker_count(4, 4), "Unknown worker strategy selected\\.");
}

bool accept_ideal_processor(uint32_t)
{
    return true;
}

// Restarts the pool on a machine made up by the test, with processor binding left out.
class pool_fixture_t : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (uint32_t i = 0; i < cpu_count(); ++i)
            saved.push_back(*cpu_at(i));
        thread_pool_stop();
        thread_api = sys_thread_posix;
        thread_api.set_current_ideal_processor = accept_ideal_processor;
        sys_thread = &thread_api;
    }
    void TearDown() override
    {
        thread_pool_stop();
        sys_thread = &sys_thread_posix;
        cpu_list_assign(saved.data(), uint32_t(saved.size()));
        thread_pool_start(false, false);
    }

    // physical_cores cores, each with two hardware threads listed after all first threads.
    void start_pool(uint32_t physical_cores, bool with_io = false, bool with_real_time = false)
    {
        std::vector<cpu_t> records;
        for (uint32_t thread = 0; thread < 2; ++thread)
            for (uint32_t core = 0; core < physical_cores; ++core)
            {
                cpu_t record = {};
                record.processor_number = thread * physical_cores + core;
                record.core_index = core;
                record.second_thread = thread;
                records.push_back(record);
            }
        cpu_list_assign(records.data(), uint32_t(records.size()));
        thread_pool_start(with_io, with_real_time);
    }

    std::vector<cpu_t> saved;
    sys_thread_api_t thread_api;
};

struct worker_view_t
{
    std::string name;
    int32_t core_index;  // -1 without a processor
    int32_t priority;
};

std::vector<worker_view_t> workers()
{
    std::vector<worker_view_t> views;
    for (uint32_t i = 0; i < thread_pool_worker_count(); ++i)
    {
        const thread_t& worker = thread_pool_worker(i);
        if (worker.processor == nullptr)
        {
            views.push_back({ worker.name, -1, worker.priority });
            continue;
        }
        views.push_back({ worker.name, int32_t(worker.processor->core_index), worker.priority });
        EXPECT_EQ(worker.processor->second_thread, 0u);
    }
    return views;
}

void expect_workers(const std::vector<worker_view_t>& expected)
{
    std::vector<worker_view_t> actual = workers();
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
    {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(actual[i].name, expected[i].name);
        EXPECT_EQ(actual[i].core_index, expected[i].core_index);
        EXPECT_EQ(actual[i].priority, expected[i].priority);
    }
}

// Counts its runs and remembers the run context it ran under; may hold its worker until released.
class probe_task_t final : public task_t
{
public:
    explicit probe_task_t(bool hold = false) : hold_(hold), release_(true) {}
    void run() override
    {
        context = run_context_current();
        context_type = context != nullptr ? context->type : run_context_type_t(0);
        seen_current_task = context != nullptr ? context->current_task : nullptr;
        started.signal();
        if (hold_)
            release_.wait();
        ++runs;
    }
    void release() { release_.signal(); }

    std::atomic<int> runs{ 0 };
    run_context_t* context = nullptr;
    run_context_type_t context_type = run_context_type_t(0);
    task_t* seen_current_task = nullptr;
    event_t started{ true };

private:
    bool hold_;
    event_t release_;
};
} // namespace

TEST_F(pool_fixture_t, four_physical_cores_give_three_workers_from_the_last_core_down)
{
    start_pool(4);
    expect_workers({ { "Worker_0", 3, 0 }, { "Worker_1", 2, 0 }, { "Worker_2", 1, 0 } });
}

TEST_F(pool_fixture_t, one_physical_core_gives_one_worker)
{
    start_pool(1);
    expect_workers({ { "Worker_0", 0, 0 } });
}

TEST_F(pool_fixture_t, io_and_real_time_classes_when_requested)
{
    start_pool(4, true, true);
    // With real-time workers the normal ones run below normal.
    expect_workers({ { "Worker_0", 3, -1 }, { "Worker_1", 2, -1 }, { "Worker_2", 1, -1 },
                     { "IO_Worker_0", -1, -1 }, { "IO_Worker_1", -1, -1 }, { "IO_Worker_2", -1, -1 },
                     { "RT_Worker_0", 1, 0 }, { "RT_Worker_1", 2, 0 }, { "RT_Worker_2", 3, 0 } });
}

TEST_F(pool_fixture_t, a_worker_runs_a_task_under_its_own_run_context)
{
    start_pool(2);
    probe_task_t task;
    submit_task(&task, task_class_t::normal);
    task.started.wait();  // a worker took it; the main thread did not
    wait_task(&task);
    EXPECT_EQ(task.runs, 1);
    EXPECT_EQ(task.context_type, run_context_type_t::normal_worker);
    EXPECT_EQ(task.seen_current_task, &task);
    EXPECT_EQ(task.state.load(), uint32_t(task_state_t::finished));
}

TEST_F(pool_fixture_t, waiting_for_an_untaken_task_runs_it_on_the_waiting_thread)
{
    start_pool(1);
    probe_task_t blocker(true);
    submit_task(&blocker, task_class_t::normal);
    blocker.started.wait();  // the only worker is busy

    probe_task_t task;
    submit_task(&task, task_class_t::normal);
    submit_task(&task, task_class_t::normal);  // already queued: nothing happens
    EXPECT_TRUE(task_system->is_submitted(&task));
    wait_task(&task);
    EXPECT_EQ(task.runs, 1);
    EXPECT_EQ(task.context, run_context_current());
    EXPECT_EQ(task.context_type, run_context_type_t::main_thread);
    EXPECT_EQ(run_context_current()->current_task, nullptr);

    blocker.release();
    wait_task(&blocker);
    EXPECT_EQ(blocker.runs, 1);
    // The worker consumes the wake-up of the task run here and still stops cleanly.
    thread_pool_stop();
    EXPECT_EQ(task.runs, 1);
}

TEST_F(pool_fixture_t, a_task_of_a_class_without_workers_runs_on_a_normal_worker)
{
    start_pool(2);
    probe_task_t task;
    task.priority_level = 0;
    submit_task(&task, task_class_t::io);
    task.started.wait();
    task_system->wait(&task);
    EXPECT_EQ(task.context_type, run_context_type_t::normal_worker);
}

TEST_F(pool_fixture_t, priorities_order_the_queue_and_levels_stay_within_the_class)
{
    start_pool(1);
    probe_task_t blocker(true);
    submit_task(&blocker, task_class_t::normal);
    blocker.started.wait();

    std::vector<int> order;
    std::mutex order_lock;
    struct ordered_task_t final : public task_t
    {
        int id = 0;
        std::vector<int>* order = nullptr;
        std::mutex* lock = nullptr;
        void run() override
        {
            std::lock_guard<std::mutex> hold(*lock);
            order->push_back(id);
        }
    } low, high, clamped;
    low.id = 1;
    low.priority_level = 1;
    high.id = 2;
    high.priority_level = 2;
    clamped.id = 3;
    clamped.priority_level = 3;  // above the normal class: served as its highest level, 2
    for (ordered_task_t* task : { &low, &high, &clamped })
    {
        task->order = &order;
        task->lock = &order_lock;
        submit_task(task, task_class_t::normal);
    }
    EXPECT_EQ(clamped.priority_level, 2);
    blocker.release();
    thread_pool_stop();  // the worker drains the queues before it ends
    EXPECT_EQ(order, (std::vector<int>{ 2, 3, 1 }));
}

TEST_F(pool_fixture_t, waits_end_whoever_runs_the_task)
{
    start_pool(2);
    for (int round = 0; round < 50; ++round)
    {
        probe_task_t task(true);
        submit_task(&task, task_class_t::normal);
        std::thread releaser([&] { task.release(); });
        wait_task(&task);  // taken by a worker or run here: either way it has run
        EXPECT_EQ(task.runs, 1);
        releaser.join();
    }
}

class completion_owner_t final : public task_owner_t
{
public:
    bool wants_completion(task_t*, task_completion_t* completion) override
    {
        completion->callback = [](void* context) { static_cast<completion_owner_t*>(context)->done.signal(); };
        completion->context = this;
        return true;
    }
    event_t done;
};

TEST_F(pool_fixture_t, calls_the_owners_completion_after_the_run)
{
    start_pool(2);
    completion_owner_t owner;
    probe_task_t task;
    task.owner = &owner;
    submit_task(&task, task_class_t::normal);
    owner.done.wait();
    EXPECT_EQ(task.runs, 1);
    EXPECT_GE(task.state.load(), uint32_t(task_state_t::ran));
    wait_task(&task);
}

TEST(thread_pool_death, submitting_without_a_running_pool_is_fatal)
{
    EXPECT_DEATH(
        {
            thread_pool_stop();
            probe_task_t task;
            submit_task(&task, task_class_t::normal);
        },
        "\\[thread\\] Task submitted while the worker pool is not running\\.");
}
