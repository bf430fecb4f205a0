// Trace lines of the Chrome trace-event format from published trace blocks.
#include "ovcore/profiling/trace_generation.h"

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/profiling/profiler_system.h"

#include <algorithm>

namespace
{

bool needs_escape(const char* text)
{
    for (; *text != 0; ++text)
        if (*text == '"' || *text == '\\' || static_cast<unsigned char>(*text) < 0x20)
            return true;
    return false;
}

// The text itself, or an escaped copy in `scratch` when JSON cannot hold it as it is; null when
// the copy finds no memory, since a copy cut short would break the line.
const char* json_text(const char* text, string_dyn_t* scratch)
{
    if (text == nullptr)
        return "";
    if (!needs_escape(text))
        return text;
    scratch->clear();
    for (; *text != 0; ++text)
    {
        const unsigned char c = static_cast<unsigned char>(*text);
        bool appended = false;
        if (c == '"' || c == '\\')
            appended = scratch->append_char('\\') && scratch->append_char(char(c));
        else if (c < 0x20)
            appended = scratch->append_formatted("\\u%04x", unsigned(c));
        else
            appended = scratch->append_char(char(c));
        if (!appended)
            return nullptr;
    }
    return scratch->c_str();
}

// The two texts of a line as JSON holds them, each escaped into its own scratch when needed.
struct json_pair_t
{
    string_dyn_t scratch[2];
    const char* text[2] = {};

    // False when an escaped copy finds no memory.
    bool escape(const char* first, const char* second)
    {
        text[0] = json_text(first, &scratch[0]);
        text[1] = json_text(second, &scratch[1]);
        return text[0] != nullptr && text[1] != nullptr;
    }
};

// The events of one thread within a step, in recorded order.
struct thread_events_t
{
    profiler_tracer_t* tracer;
    array_dyn_t<const trace_event_t*> events;
};

bool is_earlier(const trace_event_t* a, const trace_event_t* b)
{
    return get_trace_event_stamp(a->header) < get_trace_event_stamp(b->header);
}

bool append_thread_lines(thread_events_t* thread, string_dyn_t* text)
{
    profiler_tracer_t* tracer = thread->tracer;
    if (tracer->history_dropped.exchange(false, std::memory_order_relaxed))
        tracer->open_scopes.clear();  // their ends may have been dropped
    const uint64_t thread_id = tracer->thread_id;
    bool fits = append_thread_name_line(text, thread_id, tracer->thread_name);

    // Recorded order is stamp order unless the counter stepped back; keep ties in recorded order.
    array_dyn_t<const trace_event_t*>& events = thread->events;
    if (!std::is_sorted(events.begin(), events.end(), is_earlier))
        std::stable_sort(events.begin(), events.end(), is_earlier);

    for (const trace_event_t* event : events)
    {
        const uint64_t stamp = get_trace_event_stamp(event->header);
        switch (get_trace_event_kind(event->header))
        {
        case trace_event_kind_t::scope_begin:
            if (!tracer->open_scopes.append(trace_open_scope_t{ stamp, event->name }))
                fits = false;
            break;
        case trace_event_kind_t::scope_end:
            if (!tracer->open_scopes.empty())
            {
                const trace_open_scope_t scope = tracer->open_scopes.last();
                tracer->open_scopes.remove_last();
                if (stamp > scope.begin)
                    fits &= append_complete_line(text, scope.name, tracer->category,
                                                 stamp - scope.begin, scope.begin, thread_id);
            }
            break;
        case trace_event_kind_t::instant:
            fits &= append_instant_line(text, event->name, "t", stamp, thread_id);
            break;
        case trace_event_kind_t::counter:
            if (const profiler_id_t* id =
                    profiler_find_id(get_trace_event_id_index(event->header)))
                fits &= append_counter_line(text, id->get_name(),
                                            profiler_id_argument_name(id->get_type()),
                                            event->value, stamp, thread_id);
            break;
        }
    }
    return fits;
}

}  // namespace

bool append_thread_name_line(string_dyn_t* text, uint64_t thread_id, const char* thread_name)
{
    string_dyn_t scratch;
    const char* name = json_text(thread_name, &scratch);
    return name != nullptr &&
           text->append_formatted(
               "{ \"ph\":\"M\", \"name\":\"thread_name\", \"tid\":%I64u, \"pid\":0, "
               "\"args\":{\"name\":\"%s\"}},\n",
               thread_id, name);
}

bool append_complete_line(string_dyn_t* text, const char* name, const char* category,
                          uint64_t duration, uint64_t begin, uint64_t thread_id)
{
    json_pair_t json;
    return json.escape(name, category) &&
           text->append_formatted(
               "{ \"ph\":\"X\", \"name\":\"%s\", \"cat\":\"%s\", \"dur\":%I64u, "
               "\"ts\":%I64u, \"tid\":%I64u, \"pid\":0},\n",
               json.text[0], json.text[1], duration, begin, thread_id);
}

bool append_instant_line(string_dyn_t* text, const char* name, const char* scope,
                         uint64_t time, uint64_t thread_id)
{
    json_pair_t json;
    return json.escape(name, scope) &&
           text->append_formatted(
               "{ \"ph\":\"i\", \"name\":\"%s\", \"s\":\"%s\", \"ts\":%I64u, "
               "\"tid\":%I64u, \"pid\":0},\n",
               json.text[0], json.text[1], time, thread_id);
}

bool append_counter_line(string_dyn_t* text, const char* name, const char* argument,
                         int64_t value, uint64_t time, uint64_t thread_id)
{
    json_pair_t json;
    return json.escape(name, argument) &&
           text->append_formatted(
               "{ \"ph\":\"C\", \"name\":\"%s\", \"args\":{\"%s\":%I64d}, \"ts\":%I64u, "
               "\"tid\":%I64u, \"pid\":0},\n",
               json.text[0], json.text[1], value, time, thread_id);
}

bool generate_trace_lines(trace_block_t* blocks, string_dyn_t* text)
{
    array_dyn_t<thread_events_t> threads;
    bool fits = true;
    for (const trace_block_t* block = blocks; block != nullptr; block = block->next)
    {
        thread_events_t* thread = nullptr;
        for (thread_events_t& candidate : threads)
            if (candidate.tracer == block->tracer)
                thread = &candidate;
        if (thread == nullptr)
        {
            thread = threads.append_new();
            if (thread == nullptr)
                return false;
            thread->tracer = block->tracer;
        }
        if (!thread->events.reserve_more(block->count))
            return false;
        for (uint32_t i = 0; i < block->count; ++i)
            (void)thread->events.append(&block->events[i]);  // reserved above
    }
    for (thread_events_t& thread : threads)
        fits &= append_thread_lines(&thread, text);
    return fits;
}
