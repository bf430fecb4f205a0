// Worker pool: strategy table, worker classes, priority queues with stolen counts, worker loop.
#include "ovcore/thread/thread_pool.h"

#include "ovcore/cpu_info.h"
#include "ovcore/message.h"
#include "ovcore/thread/locks.h"
#include "ovcore/thread/run_context_system.h"
#include "ovcore/thread/thread.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>

const task_system_t* task_system = nullptr;
int32_t worker_strategy = 2;

namespace
{
constexpr uint32_t max_normal_workers = 128;
constexpr uint32_t io_worker_count = 3;
constexpr uint32_t max_real_time_workers = 3;

struct worker_class_t
{
    semaphore_t wake;
    uint32_t worker_count = 0;
    uint32_t highest_level = 0;
    uint32_t lowest_level = 0;  // inclusive
    run_context_type_t run_context_type = run_context_type_t::normal_worker;
};

struct task_queue_t
{
    task_t* first = nullptr;
    task_t* last = nullptr;
};

struct thread_pool_t
{
    worker_class_t classes[3];
    std::mutex queue_lock;
    task_queue_t queues[task_priority_levels];
    uint32_t stolen[task_priority_levels] = {};  // under queue_lock
    std::mutex waiters_lock;
    std::condition_variable task_finished;     // under waiters_lock
    thread_t* workers = nullptr;
    uint32_t worker_count = 0;
};

thread_pool_t* pool = nullptr;

void append(task_queue_t* queue, task_t* task)
{
    task->queue_next = nullptr;
    task->queue_previous = queue->last;
    if (queue->last != nullptr)
        queue->last->queue_next = task;
    else
        queue->first = task;
    queue->last = task;
}

void remove(task_queue_t* queue, task_t* task)
{
    if (task->queue_previous != nullptr)
        task->queue_previous->queue_next = task->queue_next;
    else
        queue->first = task->queue_next;
    if (task->queue_next != nullptr)
        task->queue_next->queue_previous = task->queue_previous;
    else
        queue->last = task->queue_previous;
    task->queue_previous = nullptr;
    task->queue_next = nullptr;
}

// Steps 3 to 5 of a worker's turn, also used when a waiter runs the task itself.
void run_taken_task(task_t* task)
{
    run_context_t* context = run_context_current();
    if (context != nullptr)
        context->current_task = task;
    task->run();
    context = run_context_current();
    if (context != nullptr)
        context->current_task = nullptr;
    else
    {
        msg_warning("[thread] Detected an alien thread with missing run context priming.");
        context = run_context_prime_current_thread();
    }
    if (context != nullptr && context->tracer != nullptr && run_context_publish_tracer != nullptr)
        run_context_publish_tracer(context);

    task_completion_t completion = {};
    bool wants_completion = task->owner != nullptr && task->owner->wants_completion(task, &completion);
    {
        std::lock_guard<std::mutex> hold(pool->waiters_lock);
        bool waited = task->someone_waits != 0;
        task->someone_waits = 0;
        task->state.store(uint32_t(task_state_t::ran));
        if (waited)
            pool->task_finished.notify_all();
    }
    if (wants_completion && completion.callback != nullptr)
        completion.callback(completion.context);
}

void worker_main(thread_t*, void* argument)
{
    worker_class_t* worker_class = static_cast<worker_class_t*>(argument);
    run_context_t* context = run_context_current();
    context->type = worker_class->run_context_type;
    context->tracer = nullptr;

    for (;;)
    {
        worker_class->wake.wait();
        task_t* task = nullptr;
        bool wake_was_stolen = false;
        {
            std::lock_guard<std::mutex> hold(pool->queue_lock);
            for (uint32_t level = worker_class->highest_level + 1; level-- > worker_class->lowest_level;)
            {
                // This wake-up belonged to a task that a waiter has already run.
                if (pool->stolen[level] > 0)
                {
                    --pool->stolen[level];
                    wake_was_stolen = true;
                    break;
                }
            }
            for (uint32_t level = worker_class->highest_level + 1;
                 !wake_was_stolen && task == nullptr && level-- > worker_class->lowest_level;)
            {
                task = pool->queues[level].first;
                if (task != nullptr)
                {
                    remove(&pool->queues[level], task);
                    task->state.store(uint32_t(task_state_t::taken));
                }
            }
        }
        if (wake_was_stolen)
            continue;
        if (task == nullptr)
            return;  // the pool is stopping
        run_taken_task(task);
    }
}

// The normal, IO and real-time classes for the pool about to start.
void prepare_worker_for_all_class(thread_pool_t* target, uint32_t physical_cores, bool with_io_workers,
                                  bool with_real_time_workers)
{
    worker_class_t& normal = target->classes[uint32_t(task_class_t::normal)];
    normal.worker_count = normal_worker_count(worker_strategy, physical_cores);
    normal.highest_level = 2;
    normal.lowest_level = 1;
    normal.run_context_type = run_context_type_t::normal_worker;

    worker_class_t& io = target->classes[uint32_t(task_class_t::io)];
    io.worker_count = with_io_workers ? io_worker_count : 0;
    io.highest_level = 0;
    io.lowest_level = 0;
    io.run_context_type = run_context_type_t::io_worker;

    worker_class_t& real_time = target->classes[uint32_t(task_class_t::real_time)];
    uint32_t real_time_count = physical_cores > 1 ? physical_cores - 1 : 1;
    if (real_time_count > max_real_time_workers)
        real_time_count = max_real_time_workers;
    real_time.worker_count = with_real_time_workers ? real_time_count : 0;
    real_time.highest_level = 3;
    real_time.lowest_level = 3;
    real_time.run_context_type = run_context_type_t::real_time_worker;
}

// The first hardware thread of the physical core with this index, else the first processor.
const cpu_t* processor_of_core(int64_t core_index)
{
    for (uint32_t i = 0; i < cpu_count(); ++i)
    {
        const cpu_t* processor = cpu_at(i);
        if (processor->second_thread == 0 && int64_t(processor->core_index) == core_index)
            return processor;
    }
    return cpu_count() > 0 ? cpu_at(0) : nullptr;
}

void start_worker(thread_t* worker, const char* format, uint32_t index, int32_t priority,
                  const cpu_t* processor, worker_class_t* worker_class)
{
    char name[32];  // set_name keeps the first 15 characters
    std::snprintf(name, sizeof(name), format, index);
    worker->set_name(name);
    worker->priority = priority;
    worker->processor = processor;
    worker->start(worker_main, worker_class);
}

void submit_normal(task_t* task) { submit_task(task, task_class_t::normal); }
void submit_io(task_t* task) { submit_task(task, task_class_t::io); }
void submit_real_time(task_t* task) { submit_task(task, task_class_t::real_time); }
void mark_detached(task_t* task) { task->detached.store(1); }
void mark_detached_and_wait(task_t* task)
{
    mark_detached(task);
    wait_task(task);
}
bool is_submitted(const task_t* task) { return task->state.load() >= uint32_t(task_state_t::queued); }
void unused_hook(task_t*) {}
bool unused_query(const task_t*) { return false; }

const task_system_t pool_task_system = {
    submit_normal, submit_io,    submit_real_time, wait_task,    mark_detached,
    mark_detached_and_wait,      is_submitted,     unused_hook,  unused_query,
};
} // namespace

uint32_t normal_worker_count(int32_t strategy, uint32_t physical_cores)
{
    uint32_t count = 0;
    switch (strategy)
    {
    case 0: count = 1; break;
    case 1: count = (physical_cores + 1) / 2 < 2 ? (physical_cores + 1) / 2 : 2; break;
    case 2: count = 3 * physical_cores < 4 ? 1 : 3 * physical_cores / 4; break;
    case 3: count = physical_cores; break;
    default: OV_FATAL("Unknown worker strategy selected.");
    }
    if (count == 0)
        count = 1;
    return count < max_normal_workers ? count : max_normal_workers;
}

namespace
{

// The workers start when the pool is first used: a run that never hands it a task, nor asks
// for its workers, never starts a thread for it.
std::mutex start_lock;
std::atomic<bool> start_pending{ false };
bool pending_io_workers = false;
bool pending_real_time_workers = false;

void start_workers(bool with_io_workers, bool with_real_time_workers);

void start_if_pending()
{
    if (!start_pending.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> guard(start_lock);
    if (!start_pending.load(std::memory_order_relaxed))
        return;
    start_workers(pending_io_workers, pending_real_time_workers);
    start_pending.store(false, std::memory_order_release);
}

}  // namespace

void thread_pool_start(bool with_io_workers, bool with_real_time_workers)
{
    if (pool != nullptr || start_pending.load())
        OV_FATAL("[thread] Worker pool started twice.");
    pending_io_workers = with_io_workers;
    pending_real_time_workers = with_real_time_workers;
    start_pending.store(true, std::memory_order_release);
    task_system = &pool_task_system;
}

namespace
{

void start_workers(bool with_io_workers, bool with_real_time_workers)
{
    pool = new thread_pool_t;

    uint32_t physical_cores = cpu_physical_core_count();
    if (physical_cores == 0)
        physical_cores = 1;
    prepare_worker_for_all_class(pool, physical_cores, with_io_workers, with_real_time_workers);
    worker_class_t& normal = pool->classes[uint32_t(task_class_t::normal)];
    worker_class_t& io = pool->classes[uint32_t(task_class_t::io)];
    worker_class_t& real_time = pool->classes[uint32_t(task_class_t::real_time)];

    pool->worker_count = normal.worker_count + io.worker_count + real_time.worker_count;
    pool->workers = new thread_t[pool->worker_count];
    thread_t* worker = pool->workers;
    for (uint32_t i = 0; i < normal.worker_count; ++i)
        start_worker(worker++, "Worker_%u", i, real_time.worker_count == 0 ? 0 : -1,
                     processor_of_core(int64_t(physical_cores) - int64_t(i) - 1), &normal);
    for (uint32_t i = 0; i < io.worker_count; ++i)
        start_worker(worker++, "IO_Worker_%u", i, -1, nullptr, &io);
    for (uint32_t i = 0; i < real_time.worker_count; ++i)
        start_worker(worker++, "RT_Worker_%u", i, 0, processor_of_core(int64_t(i) + 1), &real_time);

    // The main thread keeps every processor of the process: binding it would also bind each
    // thread it starts later, and there is no softer preference on this system.
}

}  // namespace

void thread_pool_stop()
{
    start_pending.store(false, std::memory_order_release);
    if (pool == nullptr)
    {
        task_system = nullptr;
        return;
    }
    for (worker_class_t& worker_class : pool->classes)
        worker_class.wake.release(worker_class.worker_count);
    for (uint32_t i = 0; i < pool->worker_count; ++i)
        pool->workers[i].join();
    task_system = nullptr;
    delete[] pool->workers;
    delete pool;
    pool = nullptr;
}

uint32_t thread_pool_worker_count()
{
    start_if_pending();
    return pool != nullptr ? pool->worker_count : 0;
}

const thread_t& thread_pool_worker(uint32_t index)
{
    start_if_pending();
    if (pool == nullptr || index >= pool->worker_count)
        OV_FATAL("Index outside array boundaries.");
    return pool->workers[index];
}

void submit_task(task_t* task, task_class_t task_class)
{
    start_if_pending();
    if (pool == nullptr)
        OV_FATAL("[thread] Task submitted while the worker pool is not running.");
    worker_class_t* worker_class = &pool->classes[uint32_t(task_class)];
    // Without workers of its own class the task would wait forever; the normal workers run it.
    if (worker_class->worker_count == 0)
        worker_class = &pool->classes[uint32_t(task_class_t::normal)];
    {
        std::lock_guard<std::mutex> hold(pool->queue_lock);
        // Changed under the queue lock so that a waiter never sees a queued task outside a queue.
        uint32_t expected = uint32_t(task_state_t::idle);
        if (!task->state.compare_exchange_strong(expected, uint32_t(task_state_t::queued)))
            return;
        if (task->priority_level > worker_class->highest_level)
            task->priority_level = uint8_t(worker_class->highest_level);
        if (task->priority_level < worker_class->lowest_level)
            task->priority_level = uint8_t(worker_class->lowest_level);
        append(&pool->queues[task->priority_level], task);
    }
    worker_class->wake.release();
}

void wait_task(task_t* task)
{
    start_if_pending();
    if (task->state.load() < uint32_t(task_state_t::ran))
    {
        if (pool == nullptr)
            OV_FATAL("[thread] Task waited for while the worker pool is not running.");
        bool taken = false;
        {
            std::lock_guard<std::mutex> hold(pool->queue_lock);
            uint32_t expected = uint32_t(task_state_t::queued);
            if (task->state.compare_exchange_strong(expected, uint32_t(task_state_t::taken)))
            {
                remove(&pool->queues[task->priority_level], task);
                ++pool->stolen[task->priority_level];
                taken = true;
            }
        }
        if (taken)
            run_taken_task(task);
        else
        {
            std::unique_lock<std::mutex> hold(pool->waiters_lock);
            while (task->state.load() < uint32_t(task_state_t::ran))
            {
                task->someone_waits = 1;
                pool->task_finished.wait(hold);
            }
        }
    }
    task->state.store(uint32_t(task_state_t::finished));
}
