// POSIX implementation of the file seam: files through the C library's system calls, and the
// io_pump thread serving reads and writes through io_uring or, where that is refused, itself.
//
// Sections: handles and events, request pool and event cache, the io_pump, file operations,
// the tables.
#include "ovcore/ufs/sys_file.h"

#include "ovcore/message.h"
#include "ovcore/thread/thread.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <liburing.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <valgrind/valgrind.h>

// ---- handles and events ------------------------------------------------------------------------

struct sys_file_handle_t
{
    int fd;
    std::atomic<bool> went_on_ring;  // the ring may hold the file a little past its close
    std::atomic<uint32_t> on_pump;   // requests handed to the io_pump and not finished yet
};

// Manual-reset completion event: not_signalled, signalled, or a waiter sleeps on the futex.
struct sys_io_event_t
{
    std::atomic<uint32_t> signalled;
    sys_io_event_t* next;
};

const sys_file_api_t* sys_file = nullptr;

namespace
{

constexpr uint32_t max_in_flight = 8;

// States of an event's word. The waiter sleeps on the futex itself: the C++ library's wait yields
// the processor a dozen times first, which on a busy machine takes cores from other work.
constexpr uint32_t event_not_signalled = 0;
constexpr uint32_t event_signalled = 1;
constexpr uint32_t event_awaited = 2;

uint32_t* futex_word(std::atomic<uint32_t>* word)
{
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
    return reinterpret_cast<uint32_t*>(word);
}

void signal_event(sys_io_event_t* event)
{
    if (event->signalled.exchange(event_signalled, std::memory_order_acq_rel) == event_awaited)
        syscall(SYS_futex, futex_word(&event->signalled), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr,
                nullptr, 0);
}

void wait_for_event(sys_io_event_t* event)
{
    uint32_t seen = event->signalled.load(std::memory_order_acquire);
    while (seen != event_signalled)
    {
        if (seen == event_not_signalled &&
            !event->signalled.compare_exchange_weak(seen, event_awaited,
                                                    std::memory_order_acquire))
            continue;
        syscall(SYS_futex, futex_word(&event->signalled), FUTEX_WAIT_PRIVATE, event_awaited,
                nullptr, nullptr, 0);
        seen = event->signalled.load(std::memory_order_acquire);
    }
}
constexpr uint32_t ring_entries = 16;  // 8 operations and the wake-up read fit with room to spare

// ---- request pool and event cache --------------------------------------------------------------

struct request_pool_t
{
    std::mutex lock;
    fs_io_request_t* free = nullptr;
};

struct event_cache_t
{
    std::mutex lock;
    sys_io_event_t* spare = nullptr;
};

request_pool_t g_request_pool;
event_cache_t g_event_cache;

fs_io_request_t* take_request()
{
    {
        std::lock_guard<std::mutex> guard(g_request_pool.lock);
        if (fs_io_request_t* request = g_request_pool.free)
        {
            g_request_pool.free = request->next;
            return request;
        }
    }
    return new (std::nothrow) fs_io_request_t{};
}

void give_back_request(fs_io_request_t* request)
{
    std::lock_guard<std::mutex> guard(g_request_pool.lock);
    request->next = g_request_pool.free;
    g_request_pool.free = request;
}

sys_io_event_t* take_event()
{
    sys_io_event_t* event = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_event_cache.lock);
        event = g_event_cache.spare;
        if (event != nullptr)
            g_event_cache.spare = event->next;
    }
    if (event == nullptr)
        return new (std::nothrow) sys_io_event_t{ { 0 }, nullptr };
    event->signalled.store(event_not_signalled, std::memory_order_relaxed);
    return event;
}

void give_back_event(sys_io_event_t* event)
{
    std::lock_guard<std::mutex> guard(g_event_cache.lock);
    event->next = g_event_cache.spare;
    g_event_cache.spare = event;
}

void empty_pools()
{
    {
        std::lock_guard<std::mutex> guard(g_request_pool.lock);
        while (fs_io_request_t* request = g_request_pool.free)
        {
            g_request_pool.free = request->next;
            delete request;
        }
    }
    std::lock_guard<std::mutex> guard(g_event_cache.lock);
    while (sys_io_event_t* event = g_event_cache.spare)
    {
        g_event_cache.spare = event->next;
        delete event;
    }
}

// ---- the io_pump -------------------------------------------------------------------------------

// The stop signal travels through the port like a request, so everything posted before it is
// queued first.
fs_io_request_t g_stop_signal = {};

constexpr uint64_t wake_tag = 0;  // user data of the armed eventfd read; requests are never null

struct io_pump_t
{
    bool uses_io_uring = false;
    io_uring ring = {};
    int wake_fd = -1;       // eventfd written by every post
    uint64_t wake_value = 0;  // target of the armed eventfd read

    // The port: requests posted by callers, guarded by its lock.
    std::mutex port_lock;
    std::condition_variable hold_changed;  // also told when the thread runs
    fs_io_request_t* posted_head = nullptr;
    fs_io_request_t* posted_tail = nullptr;
    bool accepting = true;
    bool held = false;
    bool sleeping = false;  // the pump sleeps and must be woken through the eventfd
    std::atomic<bool> has_posts{ false };  // set with the posts, read without the lock

    // Owned by the io_pump thread.
    fs_io_request_t* fifo_head = nullptr;
    fs_io_request_t* fifo_tail = nullptr;
    uint32_t in_flight = 0;
    fs_io_request_t* issued_requests[max_in_flight] = {};  // on the ring, not completed yet
    bool stopping = false;
    bool ring_closed = false;  // the ring was given up after a failed wait
    std::atomic<bool> fail_next_wait{ false };  // test hook

    std::atomic<uint32_t> peak_in_flight{ 0 };
    std::atomic<uint64_t> issued{ 0 };
    std::atomic<uint64_t> failed_on_stop{ 0 };
    std::atomic<bool> running{ false };

    thread_t thread;
};

std::atomic<io_pump_t*> g_pump{ nullptr };
bool g_io_uring_allowed = true;  // chosen by the table's start-up

void finish_request(fs_io_request_t* request, bool success)
{
    sys_io_event_t* event = request->event;
    request->success = success;
    request->state = fs_io_finished;
    // The caller may take the request back as soon as it sees the event.
    signal_event(event);
}

// Finishes a request the io_pump was handed.
void finish(fs_io_request_t* request, bool success)
{
    request->handle->on_pump.fetch_sub(1, std::memory_order_release);
    finish_request(request, success);
}

void note_issued(io_pump_t* pump, fs_io_request_t* request)
{
    if (pump->uses_io_uring)
        pump->issued_requests[pump->in_flight] = request;
    ++pump->in_flight;
    pump->issued.fetch_add(1, std::memory_order_relaxed);
    if (pump->in_flight > pump->peak_in_flight.load(std::memory_order_relaxed))
        pump->peak_in_flight.store(pump->in_flight, std::memory_order_relaxed);
}

io_uring_sqe* get_sqe(io_pump_t* pump)
{
    io_uring_sqe* sqe = io_uring_get_sqe(&pump->ring);
    if (sqe == nullptr)
    {
        io_uring_submit(&pump->ring);
        sqe = io_uring_get_sqe(&pump->ring);
    }
    return sqe;
}

// Prepares the rest of the request (what is not transferred yet); false when the ring is full.
bool prepare_uring(io_pump_t* pump, fs_io_request_t* request)
{
    io_uring_sqe* sqe = get_sqe(pump);
    if (sqe == nullptr)
        return false;
    char* buffer = static_cast<char*>(request->buffer) + request->transferred;
    const uint32_t rest = request->size - request->transferred;
    const uint64_t offset = request->offset + request->transferred;
    request->handle->went_on_ring.store(true, std::memory_order_relaxed);
    if (request->operation == fs_io_read)
        io_uring_prep_read(sqe, request->handle->fd, buffer, rest, offset);
    else
        io_uring_prep_write(sqe, request->handle->fd, buffer, rest, offset);
    io_uring_sqe_set_data64(sqe, reinterpret_cast<uint64_t>(request));
    return true;
}

// Reads or writes the whole request on this thread; a short transfer (end of file) fails.
bool transfer_here(fs_io_request_t* request)
{
    const int fd = request->handle->fd;
    char* buffer = static_cast<char*>(request->buffer);
    while (request->transferred < request->size)
    {
        const std::size_t rest = request->size - request->transferred;
        const off_t offset = off_t(request->offset + request->transferred);
        const ssize_t done = request->operation == fs_io_read
                                 ? pread(fd, buffer + request->transferred, rest, offset)
                                 : pwrite(fd, buffer + request->transferred, rest, offset);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        request->transferred += uint32_t(done);
    }
    return true;
}

void issue(io_pump_t* pump, fs_io_request_t* request)
{
    request->state = fs_io_issued;
    if (pump->uses_io_uring)
    {
        if (!prepare_uring(pump, request))
        {
            finish(request, false);
            return;
        }
        note_issued(pump, request);
        return;
    }
    note_issued(pump, request);
    const bool success = transfer_here(request);
    --pump->in_flight;
    finish(request, success);
}

// Issues from the FIFO while fewer than 8 operations are in flight.
void issue_queued(io_pump_t* pump)
{
    while (pump->fifo_head != nullptr && pump->in_flight < max_in_flight)
    {
        fs_io_request_t* request = pump->fifo_head;
        pump->fifo_head = request->next;
        if (pump->fifo_head == nullptr)
            pump->fifo_tail = nullptr;
        issue(pump, request);
    }
}

void fail_queued(io_pump_t* pump)
{
    while (fs_io_request_t* request = pump->fifo_head)
    {
        pump->fifo_head = request->next;
        pump->failed_on_stop.fetch_add(1, std::memory_order_relaxed);
        finish(request, false);
    }
    pump->fifo_tail = nullptr;
}

// Takes everything posted so far and handles it packet by packet, issuing after each one.
void drain_port(io_pump_t* pump)
{
    fs_io_request_t* packet = nullptr;
    {
        std::unique_lock<std::mutex> guard(pump->port_lock);
        pump->hold_changed.wait(guard, [pump] { return !pump->held; });
        packet = pump->posted_head;
        pump->posted_head = pump->posted_tail = nullptr;
        pump->has_posts.store(false, std::memory_order_relaxed);
    }
    while (packet != nullptr && !pump->stopping)
    {
        fs_io_request_t* next = packet->next;
        if (packet == &g_stop_signal)
        {
            pump->stopping = true;
            fail_queued(pump);
            break;  // nothing is posted after the stop signal
        }
        packet->state = fs_io_queued;
        packet->next = nullptr;
        if (pump->fifo_tail != nullptr)
            pump->fifo_tail->next = packet;
        else
            pump->fifo_head = packet;
        pump->fifo_tail = packet;
        issue_queued(pump);
        packet = next;
    }
}

void arm_wake_read(io_pump_t* pump)
{
    io_uring_sqe* sqe = get_sqe(pump);
    io_uring_prep_read(sqe, pump->wake_fd, &pump->wake_value, sizeof pump->wake_value, 0);
    io_uring_sqe_set_data64(sqe, wake_tag);
}

void forget_issued(io_pump_t* pump, fs_io_request_t* request)
{
    for (uint32_t i = 0; i < pump->in_flight; ++i)
        if (pump->issued_requests[i] == request)
        {
            pump->issued_requests[i] = pump->issued_requests[--pump->in_flight];
            return;
        }
}

void complete_uring(io_pump_t* pump, fs_io_request_t* request, int result)
{
    if (result > 0)
        request->transferred += uint32_t(result);
    if (result >= 0 && request->transferred == request->size)
    {
        forget_issued(pump, request);
        finish(request, true);
    }
    else if (result > 0 && prepare_uring(pump, request))
    {
        // A short transfer before the end: the rest goes out again and stays in flight.
    }
    else
    {
        forget_issued(pump, request);
        finish(request, false);
    }
}

// The pump can no longer learn that anything completed or be woken: it stops taking requests
// and fails everything it holds, so that no caller waits forever. Posts fail from now on.
void give_up(io_pump_t* pump, int error)
{
    msg_error("[fs] The io_pump thread cannot wait for the operating system (error %d): every "
              "read and write fails from now on.",
              error);
    fs_io_request_t* posted = nullptr;
    {
        std::lock_guard<std::mutex> guard(pump->port_lock);
        pump->accepting = false;
        posted = pump->posted_head;
        pump->posted_head = pump->posted_tail = nullptr;
        pump->has_posts.store(false, std::memory_order_relaxed);
    }
    if (pump->uses_io_uring && !pump->ring_closed)
    {
        // Closing the ring ends the kernel's use of the buffers in flight.
        io_uring_queue_exit(&pump->ring);
        pump->ring_closed = true;
    }
    for (uint32_t i = 0; i < pump->in_flight; ++i)
        finish(pump->issued_requests[i], false);
    pump->in_flight = 0;
    fail_queued(pump);
    while (posted != nullptr)
    {
        fs_io_request_t* next = posted->next;
        if (posted != &g_stop_signal)
            finish(posted, false);
        posted = next;
    }
    pump->stopping = true;
}

// The test hook turns the wait that just ended into one the operating system failed.
bool wait_fails_by_request(io_pump_t* pump)
{
    return pump->fail_next_wait.exchange(false, std::memory_order_acq_rel);
}

// Announces the pump's sleep unless something was posted; a poster that finds the pump asleep
// wakes it through the eventfd.
bool prepare_sleep(io_pump_t* pump)
{
    std::lock_guard<std::mutex> guard(pump->port_lock);
    if (pump->posted_head != nullptr)
        return false;
    pump->sleeping = true;
    return true;
}

void end_sleep(io_pump_t* pump)
{
    std::lock_guard<std::mutex> guard(pump->port_lock);
    pump->sleeping = false;
}

bool has_posts(io_pump_t* pump)
{
    return pump->has_posts.load(std::memory_order_acquire);
}

// Handles every completion that is ready; false when there was none.
bool reap_completions(io_pump_t* pump)
{
    bool reaped = false;
    io_uring_cqe* cqe = nullptr;
    while (io_uring_peek_cqe(&pump->ring, &cqe) == 0)
    {
        const uint64_t data = io_uring_cqe_get_data64(cqe);
        const int result = cqe->res;
        io_uring_cqe_seen(&pump->ring, cqe);
        reaped = true;
        if (data != wake_tag)
            complete_uring(pump, reinterpret_cast<fs_io_request_t*>(data), result);
        else if (!pump->stopping)
            arm_wake_read(pump);
    }
    return reaped;
}

void run_uring_pump(io_pump_t* pump)
{
    arm_wake_read(pump);
    while (!pump->stopping || pump->in_flight > 0)
    {
        bool worked = reap_completions(pump);
        if (!pump->stopping && has_posts(pump))
        {
            drain_port(pump);
            worked = true;
        }
        issue_queued(pump);
        const int submitted = io_uring_submit(&pump->ring);
        if (submitted < 0 && submitted != -EINTR && submitted != -EAGAIN && submitted != -EBUSY)
        {
            give_up(pump, -submitted);
            return;
        }
        // Nothing to do: sleep in the kernel at once. Spinning for the next post took the
        // processor from the kernel workers and from other processes on a busy machine.
        if (worked || !prepare_sleep(pump))
            continue;
        io_uring_cqe* cqe = nullptr;
        int waited = io_uring_wait_cqe(&pump->ring, &cqe);
        if (wait_fails_by_request(pump))
            waited = -EIO;
        end_sleep(pump);
        if (waited < 0 && waited != -EINTR)
        {
            give_up(pump, -waited);
            return;
        }
    }
}

void run_pread_pump(io_pump_t* pump)
{
    while (!pump->stopping)
    {
        if (has_posts(pump))
        {
            drain_port(pump);
            continue;
        }
        if (!prepare_sleep(pump))
            continue;
        uint64_t value = 0;
        ssize_t got = read(pump->wake_fd, &value, sizeof value);
        if (wait_fails_by_request(pump))
        {
            got = -1;
            errno = EIO;
        }
        const int error = errno;
        end_sleep(pump);
        if (got < 0 && error != EINTR)
        {
            give_up(pump, error);
            return;
        }
    }
}

void run_pump(thread_t*, void* argument)
{
    io_pump_t* pump = static_cast<io_pump_t*>(argument);
    {
        std::lock_guard<std::mutex> guard(pump->port_lock);
        pump->running.store(true, std::memory_order_release);
    }
    pump->hold_changed.notify_all();
    if (pump->uses_io_uring)
        run_uring_pump(pump);
    else
        run_pread_pump(pump);
}

io_pump_t* started_pump();

bool post(fs_io_request_t* request)
{
    io_pump_t* pump = started_pump();
    if (pump == nullptr)
        return false;
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(pump->port_lock);
        if (!pump->accepting)
            return false;
        request->next = nullptr;
        if (pump->posted_tail != nullptr)
            pump->posted_tail->next = request;
        else
            pump->posted_head = request;
        pump->posted_tail = request;
        pump->has_posts.store(true, std::memory_order_release);
        wake = pump->sleeping;
        pump->sleeping = false;
    }
    const uint64_t one = 1;
    if (!wake || write(pump->wake_fd, &one, sizeof one) == ssize_t(sizeof one))
        return true;
    // The pump was not woken: unless it has taken the request by now, the request leaves the
    // port again and the caller gets it back as not posted.
    std::lock_guard<std::mutex> guard(pump->port_lock);
    fs_io_request_t* before = nullptr;
    for (fs_io_request_t* posted = pump->posted_head; posted != nullptr; posted = posted->next)
    {
        if (posted != request)
        {
            before = posted;
            continue;
        }
        (before != nullptr ? before->next : pump->posted_head) = request->next;
        if (pump->posted_tail == request)
            pump->posted_tail = before;
        if (pump->posted_head == nullptr)
            pump->has_posts.store(false, std::memory_order_relaxed);
        return false;
    }
    return true;
}

// A working ring completes a NOP at once; the bound is for a machine under heavy load. A ring
// taken for broken only costs speed: the pump then reads and writes itself.
constexpr long nop_probe_seconds = 2;

bool completes_a_nop(io_uring* ring)
{
    io_uring_sqe* sqe = io_uring_get_sqe(ring);
    if (sqe == nullptr)
        return false;
    io_uring_prep_nop(sqe);
    io_uring_sqe_set_data64(sqe, 1);
    if (io_uring_submit(ring) != 1)
        return false;
    __kernel_timespec timeout = { nop_probe_seconds, 0 };
    io_uring_cqe* cqe = nullptr;
    int waited;
    do
        waited = io_uring_wait_cqe_timeout(ring, &cqe, &timeout);
    while (waited == -EINTR);
    if (waited != 0 || cqe == nullptr)
        return false;
    const bool completed = io_uring_cqe_get_data64(cqe) == 1 && cqe->res == 0;
    io_uring_cqe_seen(ring, cqe);
    return completed;
}

// io_uring where the kernel offers it and keeps its promises. Under valgrind the ring's
// completions never arrive, and a seccomp profile may refuse the ring outright.
bool try_io_uring(io_pump_t* pump)
{
    if (RUNNING_ON_VALGRIND)
        return false;
    if (io_uring_queue_init(ring_entries, &pump->ring, 0) != 0)
        return false;
    io_uring_probe* probe = io_uring_get_probe_ring(&pump->ring);
    const bool usable = probe != nullptr && io_uring_opcode_supported(probe, IORING_OP_READ) &&
                        io_uring_opcode_supported(probe, IORING_OP_WRITE) &&
                        completes_a_nop(&pump->ring);
    if (probe != nullptr)
        io_uring_free_probe(probe);
    if (!usable)
        io_uring_queue_exit(&pump->ring);
    return usable;
}

bool pump_startup()
{
    if (g_pump.load() != nullptr)
        return false;
    io_pump_t* pump = new (std::nothrow) io_pump_t;
    if (pump == nullptr)
        return false;
    pump->wake_fd = eventfd(0, EFD_CLOEXEC);
    if (pump->wake_fd < 0)
    {
        delete pump;
        return false;
    }
    pump->uses_io_uring = g_io_uring_allowed && try_io_uring(pump);
    pump->thread.name = "io_pump";
    pump->thread.priority = 1;  // the highest the process may set
    pump->thread.stack_size = 0x100000;
    pump->thread.start(run_pump, pump);
    // Start-up returns once the thread runs, so what it set up for itself is behind us.
    {
        std::unique_lock<std::mutex> guard(pump->port_lock);
        pump->hold_changed.wait(guard, [pump] { return pump->running.load(); });
    }
    g_pump.store(pump, std::memory_order_release);
    return true;
}

// The io_pump thread and its ring start with the first request: a run that asks for no read
// or write (the usage text, a run whose files are all mapped) never starts them.
std::mutex g_pump_start_lock;
std::atomic<bool> g_pump_pending{ false };
std::atomic<uint64_t> g_served_here{ 0 };  // requests served on the callers' threads

io_pump_t* started_pump()
{
    io_pump_t* pump = g_pump.load(std::memory_order_acquire);
    if (pump != nullptr || !g_pump_pending.load(std::memory_order_acquire))
        return pump;
    std::lock_guard<std::mutex> guard(g_pump_start_lock);
    if (g_pump_pending.load(std::memory_order_relaxed))
    {
        if (!pump_startup())
            OV_FATAL("[fs] Failed to start the io_pump thread.");
        g_pump_pending.store(false, std::memory_order_release);
    }
    return g_pump.load(std::memory_order_acquire);
}

bool posix_startup()
{
    if (g_pump.load() != nullptr || g_pump_pending.load())
        return false;
    g_io_uring_allowed = true;
    g_served_here.store(0, std::memory_order_relaxed);
    g_pump_pending.store(true, std::memory_order_release);
    return true;
}

bool pread_startup()
{
    if (g_pump.load() != nullptr || g_pump_pending.load())
        return false;
    g_io_uring_allowed = false;
    g_served_here.store(0, std::memory_order_relaxed);
    g_pump_pending.store(true, std::memory_order_release);
    return true;
}

void posix_shutdown()
{
    g_pump_pending.store(false, std::memory_order_release);
    io_pump_t* pump = g_pump.load();
    if (pump == nullptr)
    {
        empty_pools();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(pump->port_lock);
        pump->accepting = false;
        g_stop_signal.next = nullptr;
        if (pump->posted_tail != nullptr)
            pump->posted_tail->next = &g_stop_signal;
        else
            pump->posted_head = &g_stop_signal;
        pump->posted_tail = &g_stop_signal;
        pump->has_posts.store(true, std::memory_order_release);
        pump->held = false;
    }
    pump->hold_changed.notify_all();
    const uint64_t one = 1;
    if (write(pump->wake_fd, &one, sizeof one) != ssize_t(sizeof one))
        std::abort();  // the pump could never be woken to stop
    pump->thread.join();
    g_pump.store(nullptr, std::memory_order_release);
    if (pump->uses_io_uring && !pump->ring_closed)
        io_uring_queue_exit(&pump->ring);
    close(pump->wake_fd);
    delete pump;
    empty_pools();
}

// Until the io_pump is needed, a request of at most 1 MiB (about what the page cache serves in
// the time of a wake-up or two) is served on the caller's thread, one at a time: started, it is
// already finished, and a run of such requests never starts the thread and its ring. Once the
// pump runs, such a request is still served by its caller when its file has nothing on the pump
// (handing it over would only add a wake-up on each side, per request); else it goes behind
// what the file has there, so requests of one file keep their order.
constexpr uint32_t served_here_limit = 1 << 20;
std::atomic<bool> g_serving_here{ false };
std::atomic<bool> g_post_all{ false };  // test hook: every request goes to the port

bool is_accepting(io_pump_t* pump)
{
    std::lock_guard<std::mutex> guard(pump->port_lock);
    return pump->accepting;
}

bool serve_here(fs_io_request_t* request)
{
    if (request->size > served_here_limit || g_post_all.load(std::memory_order_relaxed))
        return false;
    if (io_pump_t* pump = g_pump.load(std::memory_order_acquire))
    {
        if (request->handle->on_pump.load(std::memory_order_acquire) != 0 || !is_accepting(pump))
            return false;
        request->state = fs_io_issued;
        g_served_here.fetch_add(1, std::memory_order_relaxed);
        finish_request(request, transfer_here(request));
        return true;
    }
    if (!g_pump_pending.load(std::memory_order_acquire))
        return false;
    bool idle = false;
    if (!g_serving_here.compare_exchange_strong(idle, true, std::memory_order_acq_rel))
        return false;
    request->state = fs_io_issued;
    g_served_here.fetch_add(1, std::memory_order_relaxed);
    finish_request(request, transfer_here(request));
    g_serving_here.store(false, std::memory_order_release);
    return true;
}

fs_io_request_t* start(sys_file_handle_t* handle, void* buffer, uint32_t size, uint64_t offset,
                       fs_io_operation_t operation)
{
    if (handle == nullptr)
        return nullptr;
    fs_io_request_t* request = take_request();
    if (request == nullptr)
    {
        msg_error("[fs] Not enough memory to start reading or writing a file.");
        return nullptr;
    }
    request->event = take_event();
    if (request->event == nullptr)
    {
        give_back_request(request);
        msg_error("[fs] Not enough memory to start reading or writing a file.");
        return nullptr;
    }
    request->state = fs_io_posted;
    request->operation = operation;
    request->buffer = buffer;
    request->size = size;
    request->transferred = 0;
    request->offset = offset;
    request->handle = handle;
    request->success = false;
    if (serve_here(request))
        return request;
    handle->on_pump.fetch_add(1, std::memory_order_relaxed);
    if (!post(request))
    {
        handle->on_pump.fetch_sub(1, std::memory_order_relaxed);
        give_back_event(request->event);
        give_back_request(request);
        return nullptr;
    }
    return request;
}

fs_io_request_t* posix_start_read(sys_file_handle_t* handle, void* buffer, uint32_t size,
                                  uint64_t offset)
{
    return start(handle, buffer, size, offset, fs_io_read);
}

fs_io_request_t* posix_start_write(sys_file_handle_t* handle, const void* buffer, uint32_t size,
                                   uint64_t offset)
{
    // The buffer is only read from; the request record keeps one pointer type for both.
    return start(handle, const_cast<void*>(buffer), size, offset, fs_io_write);
}

bool posix_poll(fs_io_request_t* request)
{
    return request->event->signalled.load(std::memory_order_acquire) == event_signalled;
}

bool posix_wait(fs_io_request_t* request)
{
    sys_io_event_t* event = request->event;
    wait_for_event(event);
    const bool success = request->success;
    request->event = nullptr;
    give_back_event(event);
    give_back_request(request);
    return success;
}

void posix_release(fs_io_request_t* request)
{
    (void)posix_wait(request);
}

// ---- file operations ---------------------------------------------------------------------------

int open_retrying(const char* path, int flags, mode_t permissions)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, permissions);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Holds an open file to the sharing of the modes: readers share with readers, a writer with
// nobody. False (and the file closed) when another open conflicts.
bool take_share_lock(int fd, bool exclusive)
{
    int locked;
    do
        locked = flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    return locked == 0;
}

bool is_regular(int fd)
{
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// Opens a regular file without blocking on special files, then makes it blocking again. A file
// that O_EXCL has just created is a regular one of our own (O_EXCL follows no link), so it is
// opened blocking and not looked at again.
int open_regular(const char* path, int flags, bool exclusive)
{
    const bool created = (flags & O_EXCL) != 0;
    const int fd = open_retrying(path, created ? flags : flags | O_NONBLOCK, 0666);
    if (fd < 0)
        return -1;
    // None of the status flags F_SETFL changes is asked for here but O_NONBLOCK: 0 clears it.
    if ((!created && !is_regular(fd)) || !take_share_lock(fd, exclusive) ||
        (!created && fcntl(fd, F_SETFL, 0) != 0))
    {
        close(fd);
        return -1;
    }
    return fd;
}

// An existing file that another open holds cannot be deleted.
bool may_replace(const char* path)
{
    const int fd = open_retrying(path, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0)
        return true;
    const bool unheld = take_share_lock(fd, true);
    close(fd);
    return unheld;
}

sys_file_handle_t* posix_open(const char* path, fs_open_mode_t mode)
{
    // The handle comes first: a file created and then left for want of memory would stay empty.
    sys_file_handle_t* handle = new (std::nothrow) sys_file_handle_t{ -1, { false }, { 0 } };
    if (handle == nullptr)
    {
        msg_error("[fs] Not enough memory to open the file '%s'.", path);
        return nullptr;
    }
    int flags = 0;
    int fd = -1;
    bool known = true;
    switch (mode)
    {
    case fs_open_mode_t::read_only:
        flags = O_RDONLY;
        break;
    case fs_open_mode_t::create_new:
        flags = O_RDWR | O_CREAT | O_EXCL;
        break;
    case fs_open_mode_t::create_truncate:
        // Most outputs are new: creating first spares the probe and the removal.
        fd = open_regular(path, O_RDWR | O_CREAT | O_EXCL, true);
        if (fd >= 0)
            break;
        known = errno == EEXIST && may_replace(path);
        if (known)
            unlink(path);
        flags = O_RDWR | O_CREAT | O_EXCL;
        break;
    case fs_open_mode_t::create_or_read_write:
        flags = O_RDWR | O_CREAT;
        break;
    default:
        known = false;
        break;
    }
    if (known && fd < 0)
        fd = open_regular(path, flags, mode != fs_open_mode_t::read_only);
    if (fd < 0)
    {
        delete handle;
        return nullptr;
    }
    if (mode == fs_open_mode_t::read_only)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    handle->fd = fd;
    return handle;
}

void posix_close(sys_file_handle_t* handle)
{
    if (handle == nullptr)
        return;
    // A finished io_uring request may hold the file a little longer than the descriptor; the
    // share lock must not outlive the close, or reopening the file at once fails.
    if (handle->went_on_ring.load(std::memory_order_relaxed))
        flock(handle->fd, LOCK_UN);
    close(handle->fd);
    delete handle;
}

bool posix_delete_file(const char* path)
{
    return unlink(path) == 0;
}

// 100-nanosecond units between 1601-01-01 and 1970-01-01.
constexpr int64_t file_time_of_unix_epoch = 116444736000000000;

void fill_stat(const struct stat& status, fs_stat_t* out)
{
    if (out == nullptr)
        return;
    out->type = S_ISDIR(status.st_mode) ? 2 : S_ISREG(status.st_mode) ? 1 : 0;
    const int64_t time = int64_t(status.st_mtim.tv_sec) * 10000000 +
                         int64_t(status.st_mtim.tv_nsec) / 100 + file_time_of_unix_epoch;
    out->modification_time = time < 0 ? 0 : uint64_t(time);
    out->size = S_ISREG(status.st_mode) ? uint64_t(status.st_size) : 0;
}

bool posix_stat_handle(sys_file_handle_t* handle, fs_stat_t* out)
{
    struct stat status;
    if (handle == nullptr || fstat(handle->fd, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    fill_stat(status, out);
    return true;
}

bool posix_stat_path(const char* path, fs_stat_t* out)
{
    struct stat status;
    if (::stat(path, &status) != 0)
        return false;
    fill_stat(status, out);
    return true;
}

fs_open_failure_t failure_of_errno(int error)
{
    switch (error)
    {
    case ENOENT:
        return fs_open_failure_t::no_such_file;
    case EACCES:
    case EPERM:
    case EROFS:
        return fs_open_failure_t::permission_denied;
    case ENOTDIR:
        return fs_open_failure_t::not_folder;
    case EISDIR:
        return fs_open_failure_t::is_folder;
    case ENAMETOOLONG:
        return fs_open_failure_t::name_too_long;
    default:
        return fs_open_failure_t::unknown;
    }
}

// A file that is created needs a folder to write into: the nearest one that exists on its way.
fs_open_failure_t explain_create_failure(const char* path)
{
    char folder[4096];
    const size_t length = std::strlen(path);
    if (length >= sizeof folder)
        return fs_open_failure_t::unknown;
    std::memcpy(folder, path, length + 1);
    for (;;)
    {
        char* slash = std::strrchr(folder, '/');
        if (slash == nullptr)
            std::strcpy(folder, ".");
        else if (slash == folder)
            folder[1] = '\0';
        else
            *slash = '\0';
        struct stat status;
        if (::stat(folder, &status) == 0)
        {
            if (!S_ISDIR(status.st_mode))
                return fs_open_failure_t::not_folder;
            if (access(folder, W_OK | X_OK) != 0)
                return failure_of_errno(errno);
            return fs_open_failure_t::unknown;
        }
        if (errno != ENOENT || slash == nullptr || slash == folder)
            return failure_of_errno(errno);
    }
}

fs_open_failure_t posix_explain_open_failure(const char* path, fs_open_mode_t mode)
{
    struct stat status;
    if (::stat(path, &status) != 0)
    {
        const int error = errno;
        if (error == ENOENT && mode != fs_open_mode_t::read_only)
            return explain_create_failure(path);
        return failure_of_errno(error);
    }
    if (S_ISDIR(status.st_mode))
        return fs_open_failure_t::is_folder;
    if (!S_ISREG(status.st_mode))
        return fs_open_failure_t::special_file;
    if (access(path, mode == fs_open_mode_t::read_only ? R_OK : R_OK | W_OK) != 0)
        return failure_of_errno(errno);
    return mode == fs_open_mode_t::read_only ? fs_open_failure_t::unknown
                                             : explain_create_failure(path);
}

bool posix_current_folder(char* buffer, uint32_t size)
{
    return getcwd(buffer, size) != nullptr;
}

bool posix_make_directory(const char* path)
{
    return mkdir(path, 0777) == 0 || errno == EEXIST;
}

bool posix_remove_directory(const char* path)
{
    return rmdir(path) == 0;
}

bool write_all(int fd, const char* data, std::size_t size)
{
    while (size > 0)
    {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        size -= std::size_t(done);
    }
    return true;
}

bool copy_contents(int source, int destination)
{
    struct stat status;
    if (fstat(source, &status) != 0)
        return false;
    uint64_t rest = uint64_t(status.st_size);
    const std::size_t chunk_size = rest < 16384 ? std::size_t(rest) : 16384;
    char* buffer = static_cast<char*>(std::malloc(chunk_size == 0 ? 1 : chunk_size));
    if (buffer == nullptr)
        return false;
    bool success = true;
    while (success && rest > 0)
    {
        const std::size_t chunk = rest < chunk_size ? std::size_t(rest) : chunk_size;
        const ssize_t got = ::read(source, buffer, chunk);
        if (got < 0 && errno == EINTR)
            continue;
        // A source that shrank under us ends the copy as a failure rather than looping.
        success = got > 0 && write_all(destination, buffer, std::size_t(got));
        rest -= success ? uint64_t(got) : 0;
    }
    std::free(buffer);
    return success;
}

bool posix_copy_file(const char* source_path, const char* destination_path, bool overwrite)
{
    const int source = open_regular(source_path, O_RDONLY, false);
    if (source < 0)
        return false;
    posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);
    const int destination = open_regular(destination_path,
                                         O_WRONLY | O_CREAT | (overwrite ? 0 : O_EXCL), true);
    bool success = destination >= 0 && ftruncate(destination, 0) == 0 &&
                   copy_contents(source, destination);
    if (destination >= 0 && close(destination) != 0)
        success = false;
    close(source);
    return success;
}

bool posix_move_file(const char* source, const char* destination, bool replace)
{
    if (replace)
        return rename(source, destination) == 0;
    if (renameat2(AT_FDCWD, source, AT_FDCWD, destination, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL)
        return false;
    // File systems without no-replace renames: check first.
    struct stat status;
    if (lstat(destination, &status) == 0)
        return false;
    return rename(source, destination) == 0;
}

bool posix_list_directory(const char* path, sys_file_list_callback_t add, void* context)
{
    DIR* directory = opendir(path);
    if (directory == nullptr)
        return false;
    while (const dirent* entry = readdir(directory))
    {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        add(context, entry->d_name);
    }
    closedir(directory);
    return true;
}

bool posix_set_size(sys_file_handle_t* handle, uint64_t size)
{
    return handle != nullptr && ftruncate(handle->fd, off_t(size)) == 0;
}

}  // namespace

// ---- the tables --------------------------------------------------------------------------------

sys_file_pump_stats_t sys_file_pump_stats()
{
    sys_file_pump_stats_t stats = {};
    if (io_pump_t* pump = started_pump())
    {
        stats.running = true;
        stats.uses_io_uring = pump->uses_io_uring;
        stats.peak_in_flight = pump->peak_in_flight.load(std::memory_order_relaxed);
        stats.issued = pump->issued.load(std::memory_order_relaxed) +
                       g_served_here.load(std::memory_order_relaxed);
        stats.failed_on_stop = pump->failed_on_stop.load(std::memory_order_relaxed);
    }
    return stats;
}

void sys_file_pump_fail_next_wait()
{
    if (io_pump_t* pump = started_pump())
        pump->fail_next_wait.store(true, std::memory_order_release);
}

void sys_file_pump_post_all(bool post_all)
{
    g_post_all.store(post_all, std::memory_order_relaxed);
}

void sys_file_pump_hold(bool held)
{
    io_pump_t* pump = started_pump();
    if (pump == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(pump->port_lock);
        pump->held = held;
    }
    pump->hold_changed.notify_all();
}

const void* posix_map_read_only(sys_file_handle_t* handle, uint64_t size)
{
    if (handle == nullptr || size == 0 || size > uint64_t(SIZE_MAX))
        return nullptr;
    void* bytes = mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE, handle->fd, 0);
    return bytes == MAP_FAILED ? nullptr : bytes;
}

void posix_unmap(const void* bytes, uint64_t size)
{
    if (bytes != nullptr)
        munmap(const_cast<void*>(bytes), std::size_t(size));
}

extern const sys_file_api_t sys_file_posix = {
    posix_startup,        posix_shutdown,       posix_open,         posix_close,
    posix_delete_file,    posix_start_read,     posix_start_write,  posix_poll,
    posix_wait,           posix_release,        posix_stat_handle,  posix_stat_path,
    posix_make_directory, posix_remove_directory, posix_copy_file,  posix_move_file,
    posix_list_directory, posix_set_size,       posix_map_read_only, posix_unmap,
    posix_explain_open_failure, posix_current_folder,
};

extern const sys_file_api_t sys_file_posix_pread = {
    pread_startup,        posix_shutdown,       posix_open,         posix_close,
    posix_delete_file,    posix_start_read,     posix_start_write,  posix_poll,
    posix_wait,           posix_release,        posix_stat_handle,  posix_stat_path,
    posix_make_directory, posix_remove_directory, posix_copy_file,  posix_move_file,
    posix_list_directory, posix_set_size,       posix_map_read_only, posix_unmap,
    posix_explain_open_failure, posix_current_folder,
};
