// The profiler: identifier table, tracers, block recycling, publishing and the frame history.
//
// Sections: identifiers, profiler state, blocks, tracers and recording, publishing and frames,
// generation input, lifecycle.
#include "ovcore/profiling/profiler_system.h"

#include "ovcore/message.h"
#include "ovcore/out_of_memory.h"
#include "ovcore/thread/run_context_system.h"
#include "ovcore/thread/thread.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

// ---- identifiers -------------------------------------------------------------------------------

namespace
{

// Filled by static constructors, so it must work before any start-up: constant-initialised.
struct profiler_id_table_t
{
    std::atomic<uint32_t> count;
    std::atomic<const profiler_id_t*> entries[profiler_id_capacity];
};

profiler_id_table_t g_profiler_ids = {};

}  // namespace

profiler_id_t::profiler_id_t(profiler_id_type_t type, const char* name)
    : m_type(type), m_name(name)
{
    m_index = g_profiler_ids.count.fetch_add(1);
    if (m_index >= profiler_id_capacity)
        OV_FATAL("Too many profiler_id_t identifiers, perhaps with dynamic lifetime?");
    g_profiler_ids.entries[m_index].store(this, std::memory_order_release);
}

const profiler_id_t* profiler_find_id(uint32_t index)
{
    if (index >= profiler_id_capacity)
        return nullptr;
    return g_profiler_ids.entries[index].load(std::memory_order_acquire);
}

const char* profiler_id_argument_name(profiler_id_type_t type)
{
    switch (type)
    {
    case profiler_id_type_t::count:
        return "count";
    case profiler_id_type_t::bytes:
        return "bytes";
    case profiler_id_type_t::microseconds:
        return "us";
    }
    return "value";
}

// ---- profiler state ----------------------------------------------------------------------------

std::atomic<bool> g_profiler_recording{ false };
const profiler_clock_api_t* g_profiler_clock = &profiler_clock_posix;

namespace
{

profiler_frame_listener_t g_frame_listener = nullptr;  // main thread only

// A chain of blocks linked through `next`.
struct block_chain_t
{
    trace_block_t* first = nullptr;
    trace_block_t* last = nullptr;

    void append(trace_block_t* chain_first, trace_block_t* chain_last)
    {
        if (chain_first == nullptr)
            return;
        if (last != nullptr)
            last->next = chain_first;
        else
            first = chain_first;
        last = chain_last;
    }
    trace_block_t* pop()
    {
        trace_block_t* block = first;
        first = block->next;
        if (first == nullptr)
            last = nullptr;
        block->next = nullptr;
        return block;
    }
    trace_block_t* take()
    {
        trace_block_t* chain = first;
        first = last = nullptr;
        return chain;
    }
};

struct profiler_system_t
{
    profiler_limits_t limits;

    std::mutex lock;  // published blocks and the frame history
    block_chain_t published;
    uint64_t published_bytes = 0;
    block_chain_t history;
    uint64_t history_weight = 0;
    uint32_t frame = 0;

    std::mutex free_lock;
    trace_block_t* free_blocks = nullptr;

    std::mutex registry_lock;
    profiler_tracer_t* tracers = nullptr;
    uint64_t next_thread_id = 1;

    std::mutex generation_lock;
};

profiler_system_t* g_profiler = nullptr;

// ---- blocks ------------------------------------------------------------------------------------

trace_block_t* take_free_block()
{
    {
        std::lock_guard<std::mutex> guard(g_profiler->free_lock);
        if (trace_block_t* block = g_profiler->free_blocks)
        {
            g_profiler->free_blocks = block->next;
            return block;
        }
    }
    void* memory = std::malloc(sizeof(trace_block_t));
    if (memory == nullptr)
        out_of_memory_exit("Not enough memory for a trace block of the profiler.");
    return static_cast<trace_block_t*>(memory);
}

// Dropped blocks leave scopes open in the generation state of their threads.
void mark_dropped(const trace_block_t* chain)
{
    for (; chain != nullptr; chain = chain->next)
        chain->tracer->history_dropped.store(true, std::memory_order_relaxed);
}

void free_chain(trace_block_t* chain)
{
    while (chain != nullptr)
    {
        trace_block_t* next = chain->next;
        std::free(chain);
        chain = next;
    }
}

// ---- tracers and recording ---------------------------------------------------------------------

const char* get_thread_category(run_context_type_t type)
{
    switch (type)
    {
    case run_context_type_t::main_thread:
        return "main";
    case run_context_type_t::normal_worker:
        return "worker";
    case run_context_type_t::io_worker:
        return "io_worker";
    case run_context_type_t::real_time_worker:
        return "rt_worker";
    case run_context_type_t::engine_thread:
        return "thread";
    case run_context_type_t::alien:
        return "alien";
    }
    return "thread";
}

profiler_tracer_t* attach_tracer(run_context_t* context)
{
    profiler_tracer_t* tracer = new (std::nothrow) profiler_tracer_t;
    if (tracer == nullptr)
        out_of_memory_exit("Not enough memory for a tracer of the profiler.");
    const char* name = "Alien";
    if (context->type == run_context_type_t::main_thread)
        name = "Main";
    else if (context->owner != nullptr && context->owner->name != nullptr)
        name = context->owner->name;
    std::snprintf(tracer->thread_name, sizeof(tracer->thread_name), "%s", name);
    tracer->category = get_thread_category(context->type);
    {
        std::lock_guard<std::mutex> guard(g_profiler->registry_lock);
        tracer->thread_id = g_profiler->next_thread_id++;
        tracer->registry_next = g_profiler->tracers;
        g_profiler->tracers = tracer;
    }
    context->tracer = tracer;
    return tracer;
}

// Closes the current block (if any) and opens a new one whose stamps count from `now`.
void start_block(profiler_tracer_t* tracer, uint64_t now)
{
    trace_block_t* block = take_free_block();
    block->next = nullptr;
    block->tracer = tracer;
    block->base_counter = now;
    block->count = 0;
    block->frame = 0;
    if (tracer->last != nullptr)
    {
        tracer->last->count = uint32_t(tracer->cursor - tracer->last->events);
        tracer->last->next = block;
    }
    else
    {
        tracer->first = block;
        tracer->start_counter = now;
        tracer->start_process_time = g_profiler_clock->read_process_time();
    }
    tracer->last = block;
    tracer->cursor = block->events;
    tracer->end = block->events + trace_block_event_capacity;
}

}  // namespace

void profiler_record_event(trace_event_kind_t kind, uint64_t word, uint32_t id_index)
{
    run_context_t* context = run_context_current();
    if (context == nullptr)
    {
        context = run_context_prime_current_thread();
        if (context == nullptr)
            return;
    }
    profiler_tracer_t* tracer = context->tracer;
    if (tracer == nullptr)
    {
        // Threads that share the fallback record would write one tracer at once.
        if (g_profiler == nullptr || run_context_is_shared(context))
            return;
        tracer = attach_tracer(context);
    }
    const uint64_t now = g_profiler_clock->read_counter();
    uint64_t ticks = tracer->cursor != nullptr ? now - tracer->last->base_counter : 0;
    // A full block, or one whose stamps would no longer fit (or whose counter went back).
    if (tracer->cursor == tracer->end || ticks > trace_stamp_max)
    {
        start_block(tracer, now);
        ticks = 0;
    }
    trace_event_t* event = tracer->cursor++;
    event->header = make_trace_event_header(kind, ticks, id_index);
    if (kind == trace_event_kind_t::counter)
        event->value = int64_t(word);
    else
        event->name = reinterpret_cast<const char*>(uintptr_t(word));
}

// ---- publishing and frames ---------------------------------------------------------------------

namespace
{

// Rewrites the stamps of the tracer's blocks from counter ticks to process-time microseconds, by
// the ratio of the process time to the counter ticks that passed since its first block began.
void rescale_stamps(profiler_tracer_t* tracer, uint64_t end_counter, uint64_t end_process_time)
{
    const uint64_t start_counter = tracer->start_counter;
    const uint64_t start_time = tracer->start_process_time;
    const uint64_t counter_span = end_counter > start_counter ? end_counter - start_counter : 0;
    const uint64_t time_span = end_process_time > start_time ? end_process_time - start_time : 0;
    for (trace_block_t* block = tracer->first; block != nullptr; block = block->next)
    {
        const uint64_t block_offset =
            block->base_counter > start_counter ? block->base_counter - start_counter : 0;
        for (uint32_t i = 0; i < block->count; ++i)
        {
            trace_event_t& event = block->events[i];
            const uint64_t ticks = block_offset + get_trace_event_stamp(event.header);
            uint64_t elapsed = 0;
            if (counter_span != 0)
            {
                const unsigned __int128 scaled =
                    static_cast<unsigned __int128>(ticks) * time_span / counter_span;
                elapsed = scaled > time_span ? time_span : uint64_t(scaled);
            }
            uint64_t stamp = start_time + elapsed;
            if (stamp > trace_stamp_max)
                stamp = trace_stamp_max;
            event.header = (event.header & ~(trace_stamp_max << 4)) | stamp << 4;
        }
    }
}

}  // namespace

namespace
{

// Hands the tracer's blocks over, rescaled; applies the unprocessed limit.
void publish_blocks(profiler_tracer_t* tracer)
{
    if (tracer == nullptr || tracer->first == nullptr)
        return;
    tracer->last->count = uint32_t(tracer->cursor - tracer->last->events);
    const uint64_t end_counter = g_profiler_clock->read_counter();
    const uint64_t end_time = g_profiler_clock->read_process_time();
    rescale_stamps(tracer, end_counter, end_time);
    uint64_t bytes = 0;
    for (const trace_block_t* block = tracer->first; block != nullptr; block = block->next)
        bytes += get_trace_block_bytes(*block);

    trace_block_t* dropped = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_profiler->lock);
        g_profiler->published.append(tracer->first, tracer->last);
        g_profiler->published_bytes += bytes;
        if (g_profiler->published_bytes > g_profiler->limits.unprocessed_bytes)
        {
            dropped = g_profiler->published.take();
            g_profiler->published_bytes = 0;
        }
    }
    tracer->first = tracer->last = nullptr;
    tracer->cursor = tracer->end = nullptr;
    if (dropped != nullptr)
    {
        mark_dropped(dropped);
        profiler_recycle_blocks(dropped);
        msg_warning("[profiler] Dropping unprocessed traced data. Contended system, maybe main "
                    "thread in a busyloop?");
    }
}

}  // namespace

void profiler_publish_tracer(run_context_t* context)
{
    if (g_profiler == nullptr || context == nullptr)
        return;
    publish_blocks(context->tracer);
    if (context->type == run_context_type_t::main_thread)
        profiler_end_frame();
}

void profiler_publish_current_thread()
{
    run_context_t* context = run_context_current();
    if (g_profiler != nullptr && context != nullptr)
        publish_blocks(context->tracer);
}

void profiler_end_frame()
{
    if (g_profiler == nullptr)
        return;
    block_chain_t dropped;
    bool history_grew = false;
    {
        std::lock_guard<std::mutex> guard(g_profiler->lock);
        profiler_system_t& profiler = *g_profiler;
        const uint32_t frame = ++profiler.frame;
        for (trace_block_t* block = profiler.published.first; block != nullptr; block = block->next)
        {
            block->frame = frame;
            profiler.history_weight += get_trace_block_weight(*block);
        }
        history_grew = profiler.published.first != nullptr;
        profiler.history.append(profiler.published.first, profiler.published.last);
        profiler.published.take();
        profiler.published_bytes = 0;
        while (profiler.history.first != nullptr &&
               (frame - profiler.history.first->frame >= profiler.limits.history_frames ||
                profiler.history_weight > profiler.limits.history_weight))
        {
            trace_block_t* block = profiler.history.pop();
            profiler.history_weight -= get_trace_block_weight(*block);
            dropped.append(block, block);
        }
    }
    if (dropped.first != nullptr)
    {
        mark_dropped(dropped.first);
        profiler_recycle_blocks(dropped.first);
    }
    if (g_frame_listener != nullptr)
        g_frame_listener(history_grew);
}

void profiler_set_frame_listener(profiler_frame_listener_t listener)
{
    g_frame_listener = listener;
}

// ---- generation input --------------------------------------------------------------------------

trace_block_t* profiler_take_history_step()
{
    if (g_profiler == nullptr)
        return nullptr;
    block_chain_t step;
    uint64_t bytes = 0;
    uint64_t weight = 0;
    std::lock_guard<std::mutex> guard(g_profiler->lock);
    profiler_system_t& profiler = *g_profiler;
    while (profiler.history.first != nullptr && bytes < profiler.limits.step_bytes &&
           weight < profiler.limits.step_weight)
    {
        trace_block_t* block = profiler.history.pop();
        const uint64_t block_weight = get_trace_block_weight(*block);
        profiler.history_weight -= block_weight;
        bytes += get_trace_block_bytes(*block);
        weight += block_weight;
        step.append(block, block);
    }
    return step.first;
}

bool profiler_has_history()
{
    if (g_profiler == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(g_profiler->lock);
    return g_profiler->history.first != nullptr;
}

void profiler_recycle_blocks(trace_block_t* chain)
{
    if (chain == nullptr)
        return;
    trace_block_t* last = chain;
    while (last->next != nullptr)
        last = last->next;
    std::lock_guard<std::mutex> guard(g_profiler->free_lock);
    last->next = g_profiler->free_blocks;
    g_profiler->free_blocks = chain;
}

void profiler_lock_generation()
{
    g_profiler->generation_lock.lock();
}

void profiler_unlock_generation()
{
    g_profiler->generation_lock.unlock();
}

// ---- lifecycle ---------------------------------------------------------------------------------

void profiler_startup(const profiler_limits_t& limits)
{
    if (g_profiler != nullptr)
        OV_FATAL("The profiler is already started.");
    g_profiler = new profiler_system_t;
    g_profiler->limits = limits;
    run_context_publish_tracer = &profiler_publish_tracer;
}

void profiler_shutdown()
{
    if (g_profiler == nullptr)
        return;
    g_profiler_recording.store(false, std::memory_order_relaxed);
    run_context_publish_tracer = nullptr;
    if (run_context_t* context = run_context_current())
        context->tracer = nullptr;

    // Every block goes back to the free list, then the list is freed.
    profiler_recycle_blocks(g_profiler->published.take());
    profiler_recycle_blocks(g_profiler->history.take());
    for (profiler_tracer_t* tracer = g_profiler->tracers; tracer != nullptr;)
    {
        profiler_tracer_t* next = tracer->registry_next;
        profiler_recycle_blocks(tracer->first);
        delete tracer;
        tracer = next;
    }
    free_chain(g_profiler->free_blocks);
    delete g_profiler;
    g_profiler = nullptr;
}

void profiler_set_limits(const profiler_limits_t& limits)
{
    std::lock_guard<std::mutex> guard(g_profiler->lock);
    g_profiler->limits = limits;
}

bool profiler_is_active()
{
    return g_profiler != nullptr;
}

void profiler_set_recording(bool recording)
{
    g_profiler_recording.store(recording && g_profiler != nullptr, std::memory_order_relaxed);
}
