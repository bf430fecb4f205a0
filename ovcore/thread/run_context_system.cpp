// Run context records: the thread-local slot, the main thread's record and the alien pool.
#include "ovcore/thread/run_context_system.h"

#include "ovcore/thread/sys_thread.h"

#include <atomic>
#include <mutex>

void (*run_context_publish_tracer)(run_context_t* context) = nullptr;

namespace
{
constexpr uint32_t gate_accepting = 0x80000000u;  // top bit; the low 31 bits count primings

struct run_context_state_t
{
    run_context_t main_record;
    run_context_t fallback_record;  // shared by alien threads when the pool is empty
    run_context_t pool[run_context_alien_pool_size];
    run_context_t* free_list[run_context_alien_pool_size];
    uint32_t free_count;
    std::mutex pool_lock;
    std::atomic<bool> active;
    std::atomic<uint32_t> gate;
};

// Static storage: records stay readable (marked invalid) after the system stops, so threads that
// still point at one see an invalid record rather than freed memory.
run_context_state_t state;

thread_local run_context_t* current_record = nullptr;

bool is_pool_record(const run_context_t* record)
{
    return record >= state.pool && record < state.pool + run_context_alien_pool_size;
}

void on_alien_thread_exit(void* value)
{
    run_context_t* record = static_cast<run_context_t*>(value);
    std::lock_guard<std::mutex> hold(state.pool_lock);
    if (!state.active.load() || !is_pool_record(record) || !run_context_is_valid(record) ||
        record->type != run_context_type_t::alien)
        return;
    record->magic = 0;
    state.free_list[state.free_count++] = record;
}
} // namespace

run_context_t* run_context_current()
{
    return current_record;
}

void run_context_install(run_context_t* record)
{
    current_record = record;
}

bool run_context_is_valid(const run_context_t* record)
{
    return record != nullptr && record->magic == run_context_magic;
}

run_context_t* run_context_prime_current_thread()
{
    uint32_t gate = state.gate.load();
    do
    {
        if ((gate & gate_accepting) == 0)
            return nullptr;
    } while (!state.gate.compare_exchange_weak(gate, gate + 1));

    run_context_t* record = &state.fallback_record;
    {
        std::lock_guard<std::mutex> hold(state.pool_lock);
        if (state.free_count > 0)
        {
            record = state.free_list[--state.free_count];
            *record = { run_context_magic, run_context_type_t::alien, nullptr, nullptr, nullptr };
        }
    }
    if (record != &state.fallback_record)
        sys_thread->notify_at_thread_exit(on_alien_thread_exit, record);
    current_record = record;
    state.gate.fetch_sub(1);
    return record;
}

bool run_context_is_shared(const run_context_t* record)
{
    return record == &state.fallback_record;
}

void run_context_system_start()
{
    state.main_record = { run_context_magic, run_context_type_t::main_thread, nullptr, nullptr, nullptr };
    current_record = &state.main_record;
    state.fallback_record = { run_context_magic, run_context_type_t::alien, nullptr, nullptr, nullptr };
    {
        std::lock_guard<std::mutex> hold(state.pool_lock);
        for (uint32_t i = 0; i < run_context_alien_pool_size; ++i)
        {
            state.pool[i] = {};
            // Taken from the end: the first record is lent first.
            state.free_list[i] = &state.pool[run_context_alien_pool_size - 1 - i];
        }
        state.free_count = run_context_alien_pool_size;
    }
    state.active.store(true);
    state.gate.fetch_or(gate_accepting);
}

void run_context_system_stop()
{
    state.gate.fetch_and(~gate_accepting);
    while ((state.gate.load() & ~gate_accepting) != 0)
    {
        {
            std::lock_guard<std::mutex> hold(state.pool_lock);
        }
        sys_thread->sleep_ms(1);
    }
    std::lock_guard<std::mutex> hold(state.pool_lock);
    state.active.store(false);
    state.main_record.magic = 0;
    state.fallback_record.magic = 0;
    for (run_context_t& record : state.pool)
        record.magic = 0;
    if (current_record == &state.main_record)
        current_record = nullptr;
}
