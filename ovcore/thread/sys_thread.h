// Operating-system seam for threads: creation, joining, per-thread settings and the exit notification.
#pragma once

#include <cstddef>
#include <cstdint>

struct sys_thread_api_t
{
    // Runs routine(argument) on a new thread whose stack holds stack_size bytes. False when the
    // system refuses; *handle is valid only after true.
    bool (*create)(uint64_t* handle, std::size_t stack_size, void (*routine)(void*), void* argument);
    // Waits for the thread to end and releases its handle.
    void (*join)(uint64_t handle);
    // The calling thread's priority: positive highest, negative below normal, 0 normal.
    // False where the system does not permit the change.
    bool (*set_current_priority)(int32_t priority);
    // The calling thread's name as debuggers and the system show it (at most 15 characters).
    bool (*set_current_name)(const char* name);
    // Prefers the given processor for the calling thread. False when the processor cannot be used.
    bool (*set_current_ideal_processor)(uint32_t processor_number);
    void (*sleep_ms)(uint32_t milliseconds);
    void (*yield)();
    // Calls notify(value) when the calling thread ends (value non-null); null cancels it.
    void (*notify_at_thread_exit)(void (*notify)(void* value), void* value);
};

// Set by core_startup (and on first use); tests may swap it.
extern const sys_thread_api_t* sys_thread;
extern const sys_thread_api_t sys_thread_posix;
