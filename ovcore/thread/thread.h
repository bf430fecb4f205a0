// Engine threads: a record with the thread's settings, started on an entry function and joined.
#pragma once

#include "ovcore/thread/run_context_system.h"

#include <cstdint>

struct cpu_t;
struct sys_thread_api_t;
class thread_t;

// Called on the new thread with the thread's record and the argument given to start.
using thread_entry_t = void (*)(thread_t* thread, void* argument);

class thread_t
{
public:
    static constexpr uint32_t default_stack_size = 0x100000;  // 1 MiB
    static constexpr uint32_t name_capacity = 16;              // 15 characters and the terminator

    thread_t() = default;
    virtual ~thread_t();
    thread_t(const thread_t&) = delete;
    thread_t& operator=(const thread_t&) = delete;

    // Starts entry(this, argument) on a new thread with the record's settings; a thread that
    // cannot be created is fatal. The record must stay in place until join returns.
    void start(thread_entry_t entry, void* argument);
    // Waits for the thread's entry to return and releases the thread. Call once per start.
    void join();
    // Copies at most 15 characters of text into the record's own name buffer and uses it.
    void set_name(const char* text);

    void* argument = nullptr;
    thread_entry_t entry = nullptr;
    uint64_t handle = 0;
    run_context_t run_context = {};
    const cpu_t* processor = nullptr;   // its processor number becomes the ideal processor
    const char* name = "OrvelThread";
    uint32_t stack_size = default_stack_size;
    int32_t priority = -1;              // 0 normal, positive highest, negative below normal
    char name_buffer[name_capacity] = {};

private:
    static void run(void* record);
    bool started_ = false;
    const sys_thread_api_t* api_ = nullptr;  // the seam in use when the thread started
    // Read at start: the processor list may be rebuilt before the new thread runs.
    bool has_ideal_processor_ = false;
    uint32_t ideal_processor_ = 0;
};
