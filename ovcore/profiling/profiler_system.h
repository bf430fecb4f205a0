// The profiler: registered identifiers, trace events, per-thread tracers reached through the run
// context, block recycling, publishing and the main thread's frame history.
//
// Sections: identifiers, events and blocks, clock seam, recording, tracers, lifecycle,
// publishing and frames, generation input.
//
// Threads record into their own tracer without locks, and only while a capture runs (see
// trace_settings.h). A thread hands its blocks to the profiler by publishing its tracer; the main
// thread's frame end moves published blocks into the frame history, from which the generation
// steps take them. Publishing and the history share one profiler lock; the free list of blocks
// has its own.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"

#include <atomic>
#include <cstdint>
#include <ctime>

struct run_context_t;

// ---- identifiers -------------------------------------------------------------------------------

// What a counter identifier counts; gives the argument name of its "C" lines.
enum class profiler_id_type_t : uint32_t
{
    count = 0,         // "count"
    bytes = 1,         // "bytes"
    microseconds = 2,  // "us"
};

constexpr uint32_t profiler_id_capacity = 16;

// A registered identifier of a kind of traced value. Registered by its constructor into a
// process-wide table of 16 entries and never unregistered, so identifiers must live as long as
// the process (static objects); the seventeenth registration is fatal.
class profiler_id_t
{
public:
    // `name` must be static text.
    profiler_id_t(profiler_id_type_t type, const char* name);
    profiler_id_t(const profiler_id_t&) = delete;
    profiler_id_t& operator=(const profiler_id_t&) = delete;

    profiler_id_type_t get_type() const { return m_type; }
    const char* get_name() const { return m_name; }
    uint32_t get_index() const { return m_index; }

private:
    profiler_id_type_t m_type;
    const char* m_name;
    uint32_t m_index;
};

// The identifier registered at `index`, or null.
[[nodiscard]] const profiler_id_t* profiler_find_id(uint32_t index);
// "count", "bytes" or "us".
const char* profiler_id_argument_name(profiler_id_type_t type);

// ---- events and blocks -------------------------------------------------------------------------

enum class trace_event_kind_t : uint32_t
{
    scope_begin = 1,
    scope_end = 2,
    instant = 3,
    counter = 4,
};

constexpr uint32_t trace_stamp_bits = 40;
constexpr uint64_t trace_stamp_max = (uint64_t(1) << trace_stamp_bits) - 1;

// One recorded event. First word: bits 0 to 3 the kind, 4 to 43 the stamp, 44 and up the
// counter's identifier index. Second word: the name (scopes and instants; static text) or the
// counter's value.
struct trace_event_t
{
    uint64_t header;
    union
    {
        const char* name;
        int64_t value;
    };
};
static_assert(sizeof(trace_event_t) == 16, "trace events are 16 bytes");

constexpr uint64_t make_trace_event_header(trace_event_kind_t kind, uint64_t stamp,
                                           uint32_t id_index = 0)
{
    return uint64_t(kind) | (stamp & trace_stamp_max) << 4 | uint64_t(id_index) << 44;
}
constexpr trace_event_kind_t get_trace_event_kind(uint64_t header)
{
    return trace_event_kind_t(header & 0xF);
}
constexpr uint64_t get_trace_event_stamp(uint64_t header)
{
    return header >> 4 & trace_stamp_max;
}
constexpr uint32_t get_trace_event_id_index(uint64_t header)
{
    return uint32_t(header >> 44);
}

struct profiler_tracer_t;

constexpr uint32_t trace_block_event_capacity = 254;

// A block of events of one tracer. While the owning thread records, stamps count counter ticks
// since `base_counter`; publishing rewrites them to microseconds of the process timer.
struct trace_block_t
{
    trace_block_t* next;
    profiler_tracer_t* tracer;
    uint64_t base_counter;
    uint32_t count;
    uint32_t frame;  // the main thread's frame that moved it into the history
    trace_event_t events[trace_block_event_capacity];
};
static_assert(sizeof(trace_block_t) == 4096, "a block is one 4 KiB allocation");

// Bytes of a block as the limits count them: its recorded events.
constexpr uint64_t get_trace_block_bytes(const trace_block_t& block)
{
    return uint64_t(block.count) * sizeof(trace_event_t);
}
// A block's weight in the history: roughly the size of the text it turns into.
constexpr uint64_t get_trace_block_weight(const trace_block_t& block)
{
    return (get_trace_block_bytes(block) + 250) * 4020 / 251;
}

// ---- clock seam --------------------------------------------------------------------------------

struct profiler_clock_api_t
{
    uint64_t (*read_counter)();        // the processor's time-stamp counter, raw ticks
    uint64_t (*read_process_time)();   // microseconds of the process timer
    bool (*read_local_time)(std::tm* out);  // the local wall-clock time now
};
extern const profiler_clock_api_t profiler_clock_posix;
// Set by profiler start-up; tests may swap it while no capture runs.
extern const profiler_clock_api_t* g_profiler_clock;

// ---- recording ---------------------------------------------------------------------------------

// True while profiling is active and a capture runs; read without ordering on every event.
extern std::atomic<bool> g_profiler_recording;

// Appends one event to the calling thread's tracer, creating the tracer on first use (failure to
// allocate it is fatal). Does nothing for a thread without a run context that cannot get one, and
// for alien threads on the shared fallback record.
void profiler_record_event(trace_event_kind_t kind, uint64_t word, uint32_t id_index);

// `name` must be static text; it is read when the trace is generated.
inline void profiler_begin_scope(const char* name)
{
    if (g_profiler_recording.load(std::memory_order_relaxed))
        profiler_record_event(trace_event_kind_t::scope_begin, uint64_t(uintptr_t(name)), 0);
}
// Ends the innermost open scope of the calling thread.
inline void profiler_end_scope(const char* name)
{
    if (g_profiler_recording.load(std::memory_order_relaxed))
        profiler_record_event(trace_event_kind_t::scope_end, uint64_t(uintptr_t(name)), 0);
}
inline void profiler_instant(const char* name)
{
    if (g_profiler_recording.load(std::memory_order_relaxed))
        profiler_record_event(trace_event_kind_t::instant, uint64_t(uintptr_t(name)), 0);
}
inline void profiler_counter(const profiler_id_t& id, int64_t value)
{
    if (g_profiler_recording.load(std::memory_order_relaxed))
        profiler_record_event(trace_event_kind_t::counter, uint64_t(value), id.get_index());
}

// A scope for the lifetime of the object.
class profiler_scope_t
{
public:
    explicit profiler_scope_t(const char* name) : m_name(name) { profiler_begin_scope(name); }
    ~profiler_scope_t() { profiler_end_scope(m_name); }
    profiler_scope_t(const profiler_scope_t&) = delete;
    profiler_scope_t& operator=(const profiler_scope_t&) = delete;

private:
    const char* m_name;
};

#define OV_PROFILE_CONCAT_INNER(a, b) a##b
#define OV_PROFILE_CONCAT(a, b) OV_PROFILE_CONCAT_INNER(a, b)
#define OV_PROFILE_SCOPE(name) \
    profiler_scope_t OV_PROFILE_CONCAT(ov_profile_scope_, __LINE__)(name)

// ---- tracers -----------------------------------------------------------------------------------

// A scope that began and has not ended yet, while lines are generated.
struct trace_open_scope_t
{
    uint64_t begin;  // microseconds
    const char* name;
};

// The profiler's record of one thread. The recording fields belong to the owning thread; the
// generation fields to the generation step that holds the generation lock.
struct profiler_tracer_t
{
    // Recording, owning thread only.
    trace_event_t* cursor = nullptr;  // next free event of the current block
    trace_event_t* end = nullptr;     // end of the current block
    trace_block_t* first = nullptr;   // blocks since the last publish, oldest first
    trace_block_t* last = nullptr;
    uint64_t start_counter = 0;       // counter and process time when `first` began
    uint64_t start_process_time = 0;

    // Identity, fixed at creation.
    uint64_t thread_id = 0;  // numbered from 1 in order of creation
    char thread_name[32] = {};
    const char* category = "";
    profiler_tracer_t* registry_next = nullptr;

    // Generation.
    array_dyn_t<trace_open_scope_t> open_scopes;
    std::atomic<bool> history_dropped{ false };  // blocks went unwritten: forget open scopes
};

// ---- lifecycle ---------------------------------------------------------------------------------

// Limits of published and historic data; tests shrink them.
struct profiler_limits_t
{
    uint64_t unprocessed_bytes = 0x8000000;  // published, not yet moved by a frame end
    uint32_t history_frames = 33;
    uint64_t history_weight = 0x2000000;
    uint64_t step_bytes = 1398100;            // one generation step
    uint64_t step_weight = 0x80000;
};

// Creates the tracer registry, marks profiling active and installs the run context's publishing
// hook. Core start-up, after the run context system; main thread.
void profiler_startup(const profiler_limits_t& limits = profiler_limits_t());
// Marks profiling inactive, frees every tracer and block. Core shut-down, after the worker pool
// has stopped and before the run context system stops; main thread.
void profiler_shutdown();
[[nodiscard]] bool profiler_is_active();
// Replaces the limits while the profiler runs; for tests.
void profiler_set_limits(const profiler_limits_t& limits);

// Switches recording on or off; on only while profiling is active. Used by the trace settings.
void profiler_set_recording(bool recording);

// ---- publishing and frames ---------------------------------------------------------------------

// Hands the calling thread's recorded blocks to the profiler, stamps rescaled to microseconds.
// When more than the unprocessed limit is waiting, everything waiting is dropped with a warning.
// On the main thread this also ends the frame. `context` is the calling thread's run context.
void profiler_publish_tracer(run_context_t* context);
// Publishes the calling thread's tracer, if it has one, without ending a frame.
void profiler_publish_current_thread();

// Main thread: moves published blocks into the frame history, applies the history limits
// (oldest blocks dropped first), then tells the frame listener (the trace settings, which may
// start a generation step there).
void profiler_end_frame();

// Told at the end of every frame whether the history grew. One listener; null detaches it.
// Main thread only.
using profiler_frame_listener_t = void (*)(bool history_grew);
void profiler_set_frame_listener(profiler_frame_listener_t listener);

// ---- generation input --------------------------------------------------------------------------

// Takes the oldest history blocks for one generation step, up to the step limits (at least one
// block when any is waiting); they are chained through `next`, oldest first. Null when the
// history is empty. The caller gives them back with profiler_recycle_blocks.
[[nodiscard]] trace_block_t* profiler_take_history_step();
[[nodiscard]] bool profiler_has_history();
// Returns a chain of blocks to the free list.
void profiler_recycle_blocks(trace_block_t* chain);

// Serialises generation steps, so that open scopes carry over from one step to the next.
void profiler_lock_generation();
void profiler_unlock_generation();
