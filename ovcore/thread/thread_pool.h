// The worker pool: classes of worker threads, each fed by a semaphore and priority queues of tasks.
#pragma once

#include <atomic>
#include <cstdint>

class task_t;
class thread_t;

// What an owner wants called once its task has run. The task may already be gone by then.
struct task_completion_t
{
    void (*callback)(void* context);
    void* context;
};

// An object that owns tasks and may ask for a completion callback.
class task_owner_t
{
public:
    virtual ~task_owner_t() = default;
    // True to have completion->callback called after task has run (on the thread that ran it).
    virtual bool wants_completion(task_t* task, task_completion_t* completion) = 0;
};

enum class task_state_t : uint32_t
{
    idle = 0,
    queued = 1,
    taken = 2,
    ran = 3,
    finished = 4,  // ran, and a wait has seen it
};

constexpr uint32_t task_priority_levels = 4;

// A unit of work for the pool. A task runs at most once per submission; it must stay alive until
// it has run and, when someone waits for it, until the wait returns.
class task_t
{
public:
    task_t() = default;
    virtual ~task_t() = default;
    task_t(const task_t&) = delete;
    task_t& operator=(const task_t&) = delete;

    virtual void run() = 0;

    task_t* queue_previous = nullptr;  // links of the priority queue, under the queue lock
    task_t* queue_next = nullptr;
    task_owner_t* owner = nullptr;
    std::atomic<uint32_t> state{ uint32_t(task_state_t::idle) };
    std::atomic<uint8_t> detached{ 0 };
    uint8_t someone_waits = 0;         // under the waiters' lock
    uint8_t priority_level = 1;        // 0 to 3; see task_class_t for the levels each class serves
};

// Which class of workers runs a task: normal workers serve levels 2 then 1, IO workers level 0,
// real-time workers level 3. A task is queued at the nearest level its class serves.
enum class task_class_t : uint32_t
{
    normal = 0,
    io = 1,
    real_time = 2,
};

// The operations that the rest of the core uses to run tasks; installed while the pool runs, else
// null.
struct task_system_t
{
    void (*submit_normal)(task_t* task);
    void (*submit_io)(task_t* task);
    void (*submit_real_time)(task_t* task);
    void (*wait)(task_t* task);
    void (*mark_detached)(task_t* task);
    void (*mark_detached_and_wait)(task_t* task);
    bool (*is_submitted)(const task_t* task);  // state at least queued
    void (*unused_hook)(task_t* task);          // does nothing
    bool (*unused_query)(const task_t* task);   // answers false
};

extern const task_system_t* task_system;

// How many normal workers the pool starts: 0 one, 1 the smaller of (P + 1) / 2 and 2,
// 2 three quarters of P (at least 1), 3 P, where P counts physical cores. Read at pool start.
extern int32_t worker_strategy;

// Normal worker count for a strategy and a count of physical cores; an unknown strategy is fatal.
[[nodiscard]] uint32_t normal_worker_count(int32_t strategy, uint32_t physical_cores);

// Starts the workers on the processor list of the core (main thread, once). The tool starts
// neither IO nor real-time workers.
void thread_pool_start(bool with_io_workers, bool with_real_time_workers);
// Lets every worker finish the queued tasks and end, joins them and removes the task system.
void thread_pool_stop();

// The running pool's workers: normal first, then IO, then real-time. For diagnostics and tests.
[[nodiscard]] uint32_t thread_pool_worker_count();
[[nodiscard]] const thread_t& thread_pool_worker(uint32_t index);

// Queues a task that is idle (state 0) for its class and wakes one worker; a task in any other
// state is left alone. A class without workers hands its tasks to the normal workers. Submitting
// while the pool is not running is fatal.
void submit_task(task_t* task, task_class_t task_class);
// Returns when the task has run. A task that no worker has taken yet runs on the calling thread.
void wait_task(task_t* task);
