// Chunks of a set's glyphs on the worker pool and the main thread.
#include "tools/font_generator/faces/glyph_workers.h"

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/thread/thread_pool.h"

#include <algorithm>
#include <atomic>

uint32_t glyph_helper_threshold = 1536;

namespace
{

constexpr uint32_t max_glyph_helpers = 64;

std::atomic<uint64_t> g_chunks_on_helpers{ 0 };

struct job_state_t
{
    glyph_job_t* job = nullptr;
    uint32_t count = 0;
    uint32_t chunks = 0;
    std::atomic<uint32_t> next{ 0 };  // the next chunk nobody has taken
    array_dyn_t<uint8_t> done;        // per chunk, 1 once it has run; read through atomic_ref
};

void run_chunk(job_state_t* state, uint32_t helper, uint32_t chunk)
{
    const uint32_t begin = chunk * glyph_chunk_size;
    state->job->run_chunk(helper, begin, std::min(begin + glyph_chunk_size, state->count));
    std::atomic_ref<uint8_t>(state->done[chunk]).store(1, std::memory_order_release);
}

class helper_task_t final : public task_t
{
public:
    job_state_t* state = nullptr;
    uint32_t helper = 0;

    void run() override
    {
        // A helper gets ready only while work is left for it.
        if (state->next.load(std::memory_order_relaxed) >= state->chunks ||
            !state->job->prepare_helper(helper))
            return;
        for (;;)
        {
            const uint32_t chunk = state->next.fetch_add(1, std::memory_order_relaxed);
            if (chunk >= state->chunks)
                return;
            run_chunk(state, helper, chunk);
            g_chunks_on_helpers.fetch_add(1, std::memory_order_relaxed);
        }
    }
};

}  // namespace

uint32_t glyph_helpers_for(uint32_t count)
{
    if (task_system == nullptr || count < glyph_helper_threshold)
        return 0;
    return std::min(thread_pool_worker_count(), max_glyph_helpers);
}

void run_glyph_job(glyph_job_t* job, uint32_t count, uint32_t helpers)
{
    job_state_t state;
    state.job = job;
    state.count = count;
    state.chunks = uint32_t((uint64_t(count) + glyph_chunk_size - 1) / glyph_chunk_size);
    // Asking for the workers' count starts them: a job without helpers never asks.
    helpers = task_system == nullptr || state.chunks < 2 || helpers == 0
                  ? 0
                  : std::min({ helpers, thread_pool_worker_count(), max_glyph_helpers });
    if (helpers == 0 || !state.done.resize(state.chunks))
    {
        for (uint32_t chunk = 0; chunk < state.chunks; ++chunk)
        {
            const uint32_t begin = chunk * glyph_chunk_size;
            const uint32_t end = std::min(begin + glyph_chunk_size, count);
            job->run_chunk(0, begin, end);
            job->completed_through(end);
        }
        return;
    }

    helper_task_t tasks[max_glyph_helpers];
    for (uint32_t h = 0; h < helpers; ++h)
    {
        tasks[h].state = &state;
        tasks[h].helper = h + 1;
        submit_task(&tasks[h], task_class_t::normal);
    }
    // The main thread takes chunks too, and passes on how far every chunk before has run.
    uint32_t completed = 0;
    for (;;)
    {
        const uint32_t chunk = state.next.fetch_add(1, std::memory_order_relaxed);
        if (chunk >= state.chunks)
            break;
        run_chunk(&state, 0, chunk);
        const uint32_t before = completed;
        while (completed < state.chunks &&
               std::atomic_ref<uint8_t>(state.done[completed]).load(std::memory_order_acquire))
            ++completed;
        if (completed != before)
            job->completed_through(std::min(completed * glyph_chunk_size, count));
    }
    for (uint32_t h = 0; h < helpers; ++h)
        wait_task(&tasks[h]);
    job->completed_through(count);
}

void glyph_message_log_t::add(message_level_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    message_t* kept = m_deferred ? m_kept.append_new() : nullptr;
    if (kept != nullptr && kept->text.format_va(format, args))
        kept->level = level;
    else if (kept != nullptr)
    {
        // Without memory to keep it, a message is said now rather than lost.
        m_kept.remove_last();
        va_end(args);
        va_start(args, format);
        msg_va(level, format, args);
    }
    else
        msg_va(level, format, args);
    va_end(args);
}

void glyph_message_log_t::say_kept()
{
    for (const message_t& message : m_kept)
        msg_print(message.level, "%s", message.text.c_str());
    m_kept.release_storage();
}

uint64_t glyph_chunks_on_helpers()
{
    return g_chunks_on_helpers.load(std::memory_order_relaxed);
}
