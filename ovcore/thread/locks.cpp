// Events, semaphores and the readers-writer lock on the C++ standard primitives.
#include "ovcore/thread/locks.h"

#include "ovcore/message.h"

#include <chrono>

event_t::event_t(bool manual_reset, bool initially_signalled)
    : manual_reset_(manual_reset), signalled_(initially_signalled)
{
}

void event_t::signal()
{
    std::lock_guard<std::mutex> hold(lock_);
    signalled_ = true;
    if (manual_reset_)
        signalled_changed_.notify_all();
    else
        signalled_changed_.notify_one();
}

void event_t::reset()
{
    std::lock_guard<std::mutex> hold(lock_);
    signalled_ = false;
}

void event_t::wait()
{
    std::unique_lock<std::mutex> hold(lock_);
    signalled_changed_.wait(hold, [this] { return signalled_; });
    if (!manual_reset_)
        signalled_ = false;
}

bool event_t::wait_for(uint32_t timeout_ms)
{
    std::unique_lock<std::mutex> hold(lock_);
    if (!signalled_changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                                     [this] { return signalled_; }))
        return false;
    if (!manual_reset_)
        signalled_ = false;
    return true;
}

semaphore_t::semaphore_t(uint32_t initial_count) : count_(initial_count)
{
}

void semaphore_t::release(uint32_t count)
{
    std::lock_guard<std::mutex> hold(lock_);
    count_ += count;
    if (count == 1)
        count_changed_.notify_one();
    else
        count_changed_.notify_all();
}

void semaphore_t::wait()
{
    std::unique_lock<std::mutex> hold(lock_);
    count_changed_.wait(hold, [this] { return count_ > 0; });
    --count_;
}

bool semaphore_t::try_wait()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (count_ == 0)
        return false;
    --count_;
    return true;
}

void rw_lock_t::read_lock()
{
    section_.lock();
    // A waiting writer goes first, even while other readers are still inside.
    while (waiting_writers_ > 0)
    {
        ++waiting_readers_;
        section_.unlock();
        readers_event_.wait();
        section_.lock();
        --waiting_readers_;
    }
    // Pass the wake-up on so every waiting reader gets in, one after the other.
    if (waiting_readers_ > 0)
        readers_event_.signal();
    ++active_readers_;
    section_.unlock();
}

void rw_lock_t::write_lock()
{
    section_.lock();
    while (active_readers_ > 0)
    {
        ++waiting_writers_;
        section_.unlock();
        writers_event_.wait();
        section_.lock();
        --waiting_writers_;
    }
    write_held_ = true;
    // The section stays held until unlock: that is what excludes everyone else.
}

void rw_lock_t::unlock()
{
    section_.lock();
    if (write_held_)
    {
        write_held_ = false;
        section_.unlock();  // the hold taken by write_lock
    }
    else
    {
        if (active_readers_ == 0)
            OV_FATAL("[thread] Unlock of a readers-writer lock that is not held.");
        --active_readers_;
    }
    if (active_readers_ == 0)
    {
        if (waiting_writers_ > 0)
            writers_event_.signal();
        else if (waiting_readers_ > 0)
            readers_event_.signal();
    }
    section_.unlock();
}

uint32_t rw_lock_t::waiting_reader_count()
{
    std::lock_guard<std::recursive_mutex> hold(section_);
    return waiting_readers_;
}

uint32_t rw_lock_t::waiting_writer_count()
{
    std::lock_guard<std::recursive_mutex> hold(section_);
    return waiting_writers_;
}
