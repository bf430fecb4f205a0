// Trace settings, the capture's trace file name, and the generation and append tasks.
//
// Sections: names, generation task, append task, settings, lifecycle.
#include "ovcore/profiling/trace_settings.h"

#include "ovcore/message.h"
#include "ovcore/profiling/profiler_system.h"
#include "ovcore/profiling/trace_generation.h"
#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/ufs/mem_file.h"

#include <cctype>
#include <cstring>

trace_settings_t* g_trace_settings = nullptr;

// ---- names -------------------------------------------------------------------------------------

void sanitize_capture_name(string_t* out, const char* name)
{
    out->clear();
    for (; *name != 0; ++name)
    {
        const char c = char(std::tolower(static_cast<unsigned char>(*name)));
        const bool kept = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
        if (!out->append_char(kept ? c : '-'))
            return;
    }
}

bool format_trace_file_name(string_t* out, const std::tm& start_time, const char* sanitized_name)
{
    char time_text[32];
    if (std::strftime(time_text, sizeof(time_text), "%Y%m%d_%H%M%S", &start_time) == 0)
        time_text[0] = 0;
    const char* separator = sanitized_name[0] != 0 ? "_" : "";
    // The name gives way, so that the file keeps its ".json".
    const uint64_t fixed = std::strlen("trace__.json") + std::strlen(time_text) +
                           std::strlen(separator);
    const uint64_t capacity = out->can_grow() ? UINT32_MAX : out->capacity();
    const uint64_t room = capacity > fixed + 1 ? capacity - fixed - 1 : 0;
    const uint64_t length = std::strlen(sanitized_name);
    return out->format("trace_%s_%s", time_text, separator) &&
           out->append(sanitized_name, uint32_t(room < length ? room : length)) &&
           out->append(".json");
}

// ---- generation task ---------------------------------------------------------------------------

generate_chrome_tracing_file_t::generate_chrome_tracing_file_t(const char* trace_file_name,
                                                               auto_ptr_t<file_t> memory_file)
    : m_trace_file_name(trace_file_name), m_memory_file(std::move(memory_file))
{
}

generate_chrome_tracing_file_t::~generate_chrome_tracing_file_t() = default;

auto_ptr_t<file_t> generate_chrome_tracing_file_t::take_memory_file()
{
    return std::move(m_memory_file);
}

void generate_chrome_tracing_file_t::run()
{
    string_dyn_t text;
    bool complete = true;
    profiler_lock_generation();
    if (trace_block_t* blocks = profiler_take_history_step())
    {
        complete = generate_trace_lines(blocks, &text);
        profiler_recycle_blocks(blocks);
    }
    profiler_unlock_generation();
    if (!complete)
    {
        // Keep whole lines only, so that the file stays valid JSON.
        const uint32_t last_line_end = find_last_of(text.c_str(), "\n");
        text.truncate(last_line_end == string_t::npos ? 0 : last_line_end + 1);
        msg_error("[profiler] Out of memory while generating trace lines, forgetting traced data.");
    }
    if (!text.empty() && !m_memory_file->write(text.c_str(), text.length()))
        msg_error("[profiler] Unable to keep generated trace lines, forgetting traced data.");
}

// ---- append task -------------------------------------------------------------------------------

namespace
{

constexpr char trace_file_opening[] = "[\n";
constexpr char trace_file_closing[] = "{}\n]";  // absorbs the last line's comma
constexpr uint32_t trace_file_closing_size = sizeof(trace_file_closing) - 1;

}  // namespace

append_chrome_tracing_file_t::append_chrome_tracing_file_t(const char* trace_file_name)
    : m_trace_file_name(trace_file_name)
{
}

append_chrome_tracing_file_t::~append_chrome_tracing_file_t() = default;

bool append_chrome_tracing_file_t::add_memory_file(auto_ptr_t<file_t> memory_file)
{
    return m_memory_files.append(std::move(memory_file));
}

bool append_chrome_tracing_file_t::position_over_closing(file_t* file)
{
    const uint64_t size = file->get_size();
    char tail[trace_file_closing_size];
    if (size < trace_file_closing_size)
        return false;
    file->set_position(size - trace_file_closing_size);
    if (!file->read(tail, trace_file_closing_size) ||
        std::memcmp(tail, trace_file_closing, trace_file_closing_size) != 0)
        return false;
    file->set_position(size - trace_file_closing_size);
    return true;
}

void append_chrome_tracing_file_t::run()
{
    const char* name = m_trace_file_name.c_str();
    // A cached image would hide what is appended now.
    fs_cache_remove(name, SYSFS);
    auto_ptr_t<file_t> file(fs_device_open(name, fs_open_mode_t::create_or_read_write, SYSFS));
    if (!file)
        msg_error("[profiler] Unable to open trace file '%s', forgetting traced data.", name);
    else if (file->get_size() == 0 ? !file->write(trace_file_opening, 2)
                                   : !position_over_closing(file.get()))
    {
        // Writing over something that is not a trace's closing would break the file.
        msg_error("[profiler] Trace file '%s' does not end like a trace file, forgetting traced "
                  "data.",
                  name);
    }
    else
    {
        bool copied = true;
        for (auto_ptr_t<file_t>& memory_file : m_memory_files)
        {
            const uint64_t start = file->get_position();
            memory_file->set_position(0);
            if (!fs_copy(file.get(), memory_file.get()))
            {
                // Cut the partial copy off; the lines before it stay valid.
                file->set_position(start);
                copied = false;
                break;
            }
        }
        if (!file->write(trace_file_closing, trace_file_closing_size) ||
            (!copied && !file->set_size(file->get_position())))
            msg_error("[profiler] Unable to write trace file '%s', forgetting traced data.", name);
    }
    for (auto_ptr_t<file_t>& memory_file : m_memory_files)
    {
        (void)memory_file->set_size(0);
        memory_file->set_position(0);
    }
}

// ---- settings ----------------------------------------------------------------------------------

trace_settings_t::trace_settings_t()
{
    m_enabled = find_core_switch("-trace", &m_parameters);
    if (m_enabled)
        start_capture("full", trace_full_capture_length);
}

trace_settings_t::~trace_settings_t()
{
    finish();
}

void trace_settings_t::start_capture(const char* name, uint64_t length)
{
    if (!m_enabled)
        return;
    const uint64_t now = g_profiler_clock->read_process_time();
    const uint64_t latest = 0x7FFFFFFFFFFFFFFFu;
    m_capture_end_time = now < latest && length < latest - now ? now + length : latest;
    (void)m_capture_name.assign(name);  // a longer name is cut to its 256 characters
    trace_name_t sanitized;
    sanitize_capture_name(&sanitized, m_capture_name.c_str());
    std::tm start_time = {};
    if (!g_profiler_clock->read_local_time(&start_time))
        start_time = {};
    // A fixed name cannot fail: the capture name gives way to the rest.
    (void)format_trace_file_name(&m_trace_file_name, start_time, sanitized.c_str());
    m_capturing = true;
    profiler_set_recording(true);
}

auto_ptr_t<file_t> trace_settings_t::take_spare_memory_file()
{
    if (!m_spare_memory_files.empty())
    {
        auto_ptr_t<file_t> file(std::move(m_spare_memory_files[m_spare_memory_files.size() - 1]));
        m_spare_memory_files.remove_last();
        return file;
    }
    return auto_ptr_t<file_t>(new mem_file_t());
}

void trace_settings_t::submit(task_t* task)
{
    // Without a running pool the task runs here and now.
    if (task_system != nullptr)
        submit_task(task, task_class_t::normal);
    else
        task->run();
}

void trace_settings_t::end_frame(bool history_grew)
{
    if (!m_capturing || m_flushing)
        return;
    if (g_profiler_clock->read_process_time() >= m_capture_end_time)
    {
        m_capturing = false;
        profiler_set_recording(false);
    }
    // A step still running may already have taken this frame's blocks; it writes them.
    if (!history_grew && !profiler_has_history())
        return;
    auto_ptr_t<generate_chrome_tracing_file_t> task(
        new generate_chrome_tracing_file_t(m_trace_file_name.c_str(), take_spare_memory_file()));
    submit(task.get());
    if (!m_generation_tasks.append(std::move(task)))
    {
        wait_task(task.get());  // cannot keep it: let it finish before it goes
        return;
    }
    if (m_generation_tasks.size() > trace_outstanding_generation_limit)
        flush();
}

void trace_settings_t::flush()
{
    m_flushing = true;
    for (auto_ptr_t<generate_chrome_tracing_file_t>& task : m_generation_tasks)
        if (task->state.load() != uint32_t(task_state_t::idle))
            wait_task(task.get());
    // One append at a time per file: the previous ones finish before new ones start.
    for (auto_ptr_t<append_chrome_tracing_file_t>& task : m_append_tasks)
    {
        if (task->state.load() != uint32_t(task_state_t::idle))
            wait_task(task.get());
        for (auto_ptr_t<file_t>& memory_file : task->get_memory_files())
            if (!m_spare_memory_files.append(std::move(memory_file)))
                break;
    }
    m_append_tasks.clear();

    for (auto_ptr_t<generate_chrome_tracing_file_t>& generation : m_generation_tasks)
    {
        const char* name = generation->get_trace_file_name().c_str();
        append_chrome_tracing_file_t* append = nullptr;
        for (auto_ptr_t<append_chrome_tracing_file_t>& candidate : m_append_tasks)
            if (std::strcmp(candidate->get_trace_file_name().c_str(), name) == 0)
                append = candidate.get();
        if (append == nullptr)
        {
            auto_ptr_t<append_chrome_tracing_file_t> task(new append_chrome_tracing_file_t(name));
            append = task.get();
            if (!m_append_tasks.append(std::move(task)))
                break;
        }
        if (!append->add_memory_file(generation->take_memory_file()))
            msg_error("[profiler] Out of memory while collecting trace lines, forgetting traced "
                      "data.");
    }
    m_generation_tasks.clear();
    for (auto_ptr_t<append_chrome_tracing_file_t>& task : m_append_tasks)
        submit(task.get());
    m_flushing = false;
}

void trace_settings_t::finish()
{
    if (!m_enabled || m_finished)
        return;
    m_finished = true;
    m_capturing = false;
    profiler_set_recording(false);
    // The main thread's last blocks, then every frame's history, become text here and now.
    profiler_publish_current_thread();
    profiler_end_frame();
    while (profiler_has_history())
    {
        auto_ptr_t<generate_chrome_tracing_file_t> task(
            new generate_chrome_tracing_file_t(m_trace_file_name.c_str(), take_spare_memory_file()));
        task->run();
        if (!m_generation_tasks.append(std::move(task)))
            break;
    }
    flush();
    for (auto_ptr_t<append_chrome_tracing_file_t>& task : m_append_tasks)
        if (task->state.load() != uint32_t(task_state_t::idle))
            wait_task(task.get());
    m_append_tasks.clear();
}

// ---- lifecycle ---------------------------------------------------------------------------------

void create_trace_settings()
{
    if (g_trace_settings != nullptr)
        OV_FATAL("The trace settings already exist.");
    g_trace_settings = new trace_settings_t;
    profiler_set_frame_listener(trace_settings_end_frame);
}

void destroy_trace_settings()
{
    trace_settings_t* settings = g_trace_settings;
    if (settings == nullptr)
        return;
    profiler_set_frame_listener(nullptr);
    settings->finish();
    g_trace_settings = nullptr;
    delete settings;
}

void trace_settings_end_frame(bool history_grew)
{
    if (g_trace_settings != nullptr)
        g_trace_settings->end_frame(history_grew);
}
