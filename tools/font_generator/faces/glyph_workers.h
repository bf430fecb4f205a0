// Spreading the work on one set's glyphs over the core's worker pool and the main thread: the
// glyphs go in chunks of consecutive positions to whichever helper asks next.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/message.h"

#include <cstdarg>
#include <cstdint>

// Positions per chunk: small enough to balance the helpers, large enough that taking a chunk
// costs nothing beside the glyphs' work.
constexpr uint32_t glyph_chunk_size = 64;

// Sets of fewer glyphs stay on the main thread: below this, reading the font again and opening
// the helpers' own faces costs more than the helpers save. The helpers_against_main_thread_alone
// benchmark measured DejaVu Sans at 16 px on 2 cores: 1.05 times the time alone at 1024 glyphs,
// 0.92 at 1536. Tests may change it.
extern uint32_t glyph_helper_threshold;

// The helpers beyond the main thread that a set of `count` glyphs gets: one per worker of the
// pool, none when the pool is not running or the set is below glyph_helper_threshold.
uint32_t glyph_helpers_for(uint32_t count);

// Work on a set's glyphs, chunk by chunk. Helper 0 is the main thread; helper h (1 to the
// count given to run_glyph_job) runs on a pool worker, or on the main thread when no worker took
// it before the main thread waits for it. A helper runs on one thread at a time.
class glyph_job_t
{
public:
    virtual ~glyph_job_t() = default;
    // Gets helper h >= 1 ready on the thread that runs it, once, before its first chunk; false:
    // the helper takes no chunk and the others do its share. Must say nothing.
    [[nodiscard]] virtual bool prepare_helper(uint32_t helper) = 0;
    // The positions [begin, end), on helper `helper`. Chunks of one job run in any order and at
    // the same time on different helpers.
    virtual void run_chunk(uint32_t helper, uint32_t begin, uint32_t end) = 0;
    // Main thread only: every position before `end` has been done.
    virtual void completed_through(uint32_t /*end*/) {}
};

// Runs the job over the positions [0, count) on the main thread and `helpers` pool tasks
// (at most the pool's workers) and returns when every chunk has run. With 0 helpers, or when the
// pool is not running or its bookkeeping finds no memory, the main thread does every chunk in
// order. Main thread only.
void run_glyph_job(glyph_job_t* job, uint32_t count, uint32_t helpers);

// Where the work on a glyph says what it found: at once, or kept so that the main thread can
// say the messages of every chunk in file order after the helpers are done.
class glyph_message_log_t
{
public:
    // Deferred: kept until say_kept. Not deferred: said at once (main thread only).
    explicit glyph_message_log_t(bool deferred = false) : m_deferred(deferred) {}

    template <typename... Args>
    void warning(checked_format_t<std::type_identity_t<Args>...> format, Args... args)
    {
        add(message_level_t::warning, format.text, args...);
    }
    template <typename... Args>
    void error(checked_format_t<std::type_identity_t<Args>...> format, Args... args)
    {
        add(message_level_t::error, format.text, args...);
    }

    // Says the kept messages in the order they came and forgets them. Main thread only.
    void say_kept();

    // The glyph at the position could not be loaded for want of memory: the set cannot be made,
    // and no message may blame the glyph.
    void note_lost_glyph(uint32_t position)
    {
        m_first_lost = position < m_first_lost ? position : m_first_lost;
    }
    // The first position noted, or -1.
    int64_t first_lost_glyph() const
    {
        return m_first_lost == UINT32_MAX ? int64_t(-1) : int64_t(m_first_lost);
    }

private:
    void add(message_level_t level, const char* format, ...);

    bool m_deferred;
    uint32_t m_first_lost = UINT32_MAX;
    array_dyn_t<message_t> m_kept;
};

// Chunks that helpers other than the main thread have run since the process started; for tests
// and benchmarks.
uint64_t glyph_chunks_on_helpers();
