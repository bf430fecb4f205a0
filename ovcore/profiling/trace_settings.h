// Trace settings: the "-trace" switch, the capture and its trace file name, and the tasks that
// turn the frame history into text and append it to the trace file.
//
// Sections: names, tasks, the settings object, lifecycle.
//
// Every frame end of the main thread with a capture running submits a generation task to the
// worker pool; each one turns one step of the history into lines in a memory file. When more
// than 16 are outstanding, and at shut-down, the settings wait for all of them and submit one
// append task per trace file, which takes over their memory files and appends them to the file.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/string.h"
#include "ovcore/core_arguments.h"
#include "ovcore/thread/thread_pool.h"

#include <cstdint>
#include <ctime>

class file_t;

// ---- names -------------------------------------------------------------------------------------

constexpr uint64_t trace_full_capture_length = 86400000000u;  // microseconds: 24 hours
constexpr uint32_t trace_outstanding_generation_limit = 16;

using trace_name_t = string_fixed_t<257>;  // 256 characters and the terminator

// Lowers every character (C library tolower); any that is then not a to z, 0 to 9, "." or "_"
// becomes "-". The result is cut to what `out` holds.
void sanitize_capture_name(string_t* out, const char* name);
// "trace_%s_%s%s.json": the start time as "%Y%m%d_%H%M%S", "_" when the sanitised name is not
// empty, and the name, which is shortened when the whole would not fit `out`. False when even
// the rest does not fit, or a growing `out` finds no memory.
[[nodiscard]] bool format_trace_file_name(string_t* out, const std::tm& start_time,
                                          const char* sanitized_name);

// ---- tasks -------------------------------------------------------------------------------------

// One generation step: the oldest history blocks up to the step limits become lines in a memory
// file. Runs on a worker.
class generate_chrome_tracing_file_t final : public task_t
{
public:
    // `memory_file` is an empty memory file that the task fills.
    generate_chrome_tracing_file_t(const char* trace_file_name, auto_ptr_t<file_t> memory_file);
    ~generate_chrome_tracing_file_t() override;

    void run() override;

    const trace_name_t& get_trace_file_name() const { return m_trace_file_name; }
    // The filled memory file, taken over by an append task.
    auto_ptr_t<file_t> take_memory_file();

private:
    trace_name_t m_trace_file_name;
    auto_ptr_t<file_t> m_memory_file;
};

// Appends memory files of generated lines to one trace file, keeping it a JSON array: a new file
// starts with "[" and a line feed, every append is written over the previous closing "{}\n]"
// and ends with it again. Runs on a worker.
class append_chrome_tracing_file_t final : public task_t
{
public:
    explicit append_chrome_tracing_file_t(const char* trace_file_name);
    ~append_chrome_tracing_file_t() override;

    // False when the memory file list cannot grow (the file is dropped).
    [[nodiscard]] bool add_memory_file(auto_ptr_t<file_t> memory_file);
    void run() override;

    const trace_name_t& get_trace_file_name() const { return m_trace_file_name; }
    // The memory files after the run, emptied, for reuse.
    array_dyn_t<auto_ptr_t<file_t>>& get_memory_files() { return m_memory_files; }

private:
    // False when the file ends in something else than the closing text.
    bool position_over_closing(file_t* file);

    trace_name_t m_trace_file_name;
    array_dyn_t<auto_ptr_t<file_t>> m_memory_files;
};

// ---- the settings object -----------------------------------------------------------------------

class trace_settings_t
{
public:
    trace_settings_t();
    // Finishes the outstanding writing (see destroy_trace_settings).
    ~trace_settings_t();
    trace_settings_t(const trace_settings_t&) = delete;
    trace_settings_t& operator=(const trace_settings_t&) = delete;

    bool is_enabled() const { return m_enabled; }
    bool is_capturing() const { return m_capturing; }
    uint64_t get_capture_end_time() const { return m_capture_end_time; }
    const trace_name_t& get_capture_name() const { return m_capture_name; }
    const trace_name_t& get_trace_file_name() const { return m_trace_file_name; }
    // The arguments after "-trace" up to the next switch; the core gives them no meaning.
    const core_switch_t& get_parameters() const { return m_parameters; }
    // Generation tasks submitted and not yet handed to an append task.
    uint32_t get_outstanding_generation_count() const { return m_generation_tasks.size(); }

    // Starts recording into a capture that ends `length` microseconds from now, written to a trace
    // file named after the capture and the local start time. Main thread.
    void start_capture(const char* name, uint64_t length);
    // Main thread, after each frame end: submits a generation step while a capture has data
    // (`history_grew`: the frame brought blocks).
    void end_frame(bool history_grew);
    // Waits for every generation task and submits the append tasks. Main thread.
    void flush();
    // Stops recording, turns all remaining history into text and waits until it is written.
    // Once; later calls do nothing.
    void finish();

private:
    auto_ptr_t<file_t> take_spare_memory_file();
    void submit(task_t* task);

    bool m_enabled = false;
    bool m_capturing = false;
    bool m_flushing = false;  // waiting for tasks: frame ends must not schedule more
    bool m_finished = false;
    core_switch_t m_parameters = {};
    uint64_t m_capture_end_time = 0x7FFFFFFFFFFFFFFFu;
    trace_name_t m_capture_name;
    trace_name_t m_trace_file_name;
    // The memory files of generated text: spare ones, and those of the tasks below.
    array_dyn_t<auto_ptr_t<file_t>> m_spare_memory_files;
    array_dyn_t<auto_ptr_t<generate_chrome_tracing_file_t>> m_generation_tasks;
    array_dyn_t<auto_ptr_t<append_chrome_tracing_file_t>> m_append_tasks;
};

extern trace_settings_t* g_trace_settings;

// ---- lifecycle ---------------------------------------------------------------------------------

// Scans the core's argument table for "-trace"; when present, tracing is enabled and the capture
// "full" of 24 hours starts. Core start-up, last; main thread.
void create_trace_settings();
// Finishes all trace writing, then destroys the settings. Core shut-down, first; main thread.
void destroy_trace_settings();

// Called by the profiler after each frame end of the main thread.
void trace_settings_end_frame(bool history_grew);
