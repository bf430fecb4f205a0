// Run contexts: the per-thread record saying what kind of thread runs engine code, reached through
// thread-local storage; the main thread's record, records for thread_t threads, and a pool of 64
// records lent to alien threads.
#pragma once

#include <cstdint>

class thread_t;
class task_t;
struct profiler_tracer_t;

constexpr uint32_t run_context_magic = 0xBD359A2Au;

enum class run_context_type_t : uint32_t
{
    main_thread = 1,
    normal_worker = 2,
    io_worker = 3,
    real_time_worker = 4,
    engine_thread = 5,  // started through thread_t
    alien = 6,          // not created by the engine
};

struct run_context_t
{
    uint32_t magic;                // run_context_magic while valid
    run_context_type_t type;
    thread_t* owner;               // engine threads only, else null
    task_t* current_task;          // the task being run, else null
    profiler_tracer_t* tracer;     // this thread's profiler tracer, else null
};

constexpr uint32_t run_context_alien_pool_size = 64;

// The calling thread's run context, or null when it has none.
[[nodiscard]] run_context_t* run_context_current();
// Makes record the calling thread's run context (null clears it).
void run_context_install(run_context_t* record);
[[nodiscard]] bool run_context_is_valid(const run_context_t* record);

// Gives the calling thread, which has no run context, one of the alien pool's records, or the
// shared fallback record when all 64 are lent. Null when the system does not accept alien threads
// (not started or stopping). Pool records return to the pool when their thread ends.
run_context_t* run_context_prime_current_thread();
// True for the fallback record that several alien threads may share at once.
[[nodiscard]] bool run_context_is_shared(const run_context_t* record);

// Profiler hook: publishes the tracer of a thread that has just run a task (on the main thread this
// also closes the profiler frame). Set by the profiler while it is active, else null.
extern void (*run_context_publish_tracer)(run_context_t* context);

// Start on the main thread: the calling thread becomes the main thread, the alien pool fills and
// alien threads are accepted. Main thread only, before other engine threads exist.
void run_context_system_start();
// Stops accepting alien threads, waits for primings in progress and marks every record invalid.
void run_context_system_stop();
