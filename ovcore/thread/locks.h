// Synchronisation primitives of the core: events, counting semaphores and the readers-writer lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// A signal that threads wait for. An auto-reset event lets one waiter through per signal and then
// resets itself; a manual-reset event stays signalled until reset. Safe for any number of threads.
class event_t
{
public:
    explicit event_t(bool manual_reset = false, bool initially_signalled = false);
    event_t(const event_t&) = delete;
    event_t& operator=(const event_t&) = delete;

    void signal();
    void reset();
    // Blocks until the event is signalled.
    void wait();
    // Blocks at most timeout_ms milliseconds; true when the event was signalled.
    [[nodiscard]] bool wait_for(uint32_t timeout_ms);

private:
    std::mutex lock_;
    std::condition_variable signalled_changed_;
    bool manual_reset_;
    bool signalled_;
};

// A counting semaphore. Safe for any number of threads.
class semaphore_t
{
public:
    explicit semaphore_t(uint32_t initial_count = 0);
    semaphore_t(const semaphore_t&) = delete;
    semaphore_t& operator=(const semaphore_t&) = delete;

    void release(uint32_t count = 1);
    // Blocks until the count is above 0, then takes one.
    void wait();
    // Takes one when the count is above 0; never blocks.
    [[nodiscard]] bool try_wait();

private:
    std::mutex lock_;
    std::condition_variable count_changed_;
    uint32_t count_;
};

// Readers-writer lock with writer preference: once a writer waits, readers that arrive later block
// until it has finished, so a steady stream of readers cannot starve writers. `unlock` ends either
// kind of hold. Not recursive: a thread that holds the lock in any way must not lock it again.
// Safe for any number of threads; a write hold must be released by the thread that took it.
class rw_lock_t
{
public:
    rw_lock_t() = default;
    rw_lock_t(const rw_lock_t&) = delete;
    rw_lock_t& operator=(const rw_lock_t&) = delete;

    void read_lock();
    void write_lock();
    void unlock();

    // Threads blocked in read_lock or write_lock right now; for diagnostics and tests.
    [[nodiscard]] uint32_t waiting_reader_count();
    [[nodiscard]] uint32_t waiting_writer_count();

private:
    std::recursive_mutex section_;  // held by a writer from write_lock until unlock
    uint32_t active_readers_ = 0;
    uint32_t waiting_readers_ = 0;
    uint32_t waiting_writers_ = 0;
    event_t readers_event_;         // auto-reset
    event_t writers_event_;         // auto-reset
    bool write_held_ = false;
};

// Holds a read lock for its scope.
class read_lock_scope_t
{
public:
    explicit read_lock_scope_t(rw_lock_t* lock) : lock_(lock) { lock_->read_lock(); }
    ~read_lock_scope_t() { lock_->unlock(); }
    read_lock_scope_t(const read_lock_scope_t&) = delete;
    read_lock_scope_t& operator=(const read_lock_scope_t&) = delete;

private:
    rw_lock_t* lock_;
};

// Holds a write lock for its scope.
class write_lock_scope_t
{
public:
    explicit write_lock_scope_t(rw_lock_t* lock) : lock_(lock) { lock_->write_lock(); }
    ~write_lock_scope_t() { lock_->unlock(); }
    write_lock_scope_t(const write_lock_scope_t&) = delete;
    write_lock_scope_t& operator=(const write_lock_scope_t&) = delete;

private:
    rw_lock_t* lock_;
};
