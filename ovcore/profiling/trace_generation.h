// Turning published trace blocks into lines of the Chrome trace-event format.
#pragma once

#include "ovcore/collections/string.h"

#include <cstdint>

struct trace_block_t;

// The four line kinds, each ending in ",\n" (the closing "{}" of the file absorbs the last comma).
// Texts that JSON cannot hold as they are (quotes, backslashes, control bytes) are escaped.
// False when memory runs out: a line whose escaped text finds none is left out whole.
bool append_thread_name_line(string_dyn_t* text, uint64_t thread_id, const char* thread_name);
bool append_complete_line(string_dyn_t* text, const char* name, const char* category,
                          uint64_t duration, uint64_t begin, uint64_t thread_id);
bool append_instant_line(string_dyn_t* text, const char* name, const char* scope,
                         uint64_t time, uint64_t thread_id);
bool append_counter_line(string_dyn_t* text, const char* name, const char* argument,
                         int64_t value, uint64_t time, uint64_t thread_id);

// Appends the lines of one generation step: for each thread with data, in order of its first
// block, its "M" line, then its events in stamp order. A scope end closes the innermost open
// scope of its thread (open scopes carry over to the next step); a pair of zero duration gives
// no line. `blocks` are chained through `next`, with rescaled stamps. The caller holds the
// generation lock. False when the text could not grow (what fits is kept).
bool generate_trace_lines(trace_block_t* blocks, string_dyn_t* text);
