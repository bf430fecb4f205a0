// The trace-event lines generated from published blocks.
#include "ovcore/profiling/trace_generation.h"

#include "ovcore/profiling/profiler_system.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

profiler_id_t memory_id(profiler_id_type_t::bytes, "memory");

// Blocks of one or two hand-made threads, stamps already in microseconds.
class generation_fixture_t : public testing::Test
{
protected:
    generation_fixture_t()
    {
        main_tracer.thread_id = 1;
        std::strcpy(main_tracer.thread_name, "Main");
        main_tracer.category = "main";
        worker_tracer.thread_id = 4;
        std::strcpy(worker_tracer.thread_name, "Worker_0");
        worker_tracer.category = "worker";
        first.tracer = &main_tracer;
        second.tracer = &worker_tracer;
    }

    static void add(trace_block_t* block, trace_event_kind_t kind, uint64_t stamp,
                    const char* name)
    {
        trace_event_t& event = block->events[block->count++];
        event.header = make_trace_event_header(kind, stamp);
        event.name = name;
    }
    static void add_counter(trace_block_t* block, uint64_t stamp, int64_t value)
    {
        trace_event_t& event = block->events[block->count++];
        event.header = make_trace_event_header(trace_event_kind_t::counter, stamp,
                                               memory_id.get_index());
        event.value = value;
    }

    std::string generate(trace_block_t* blocks)
    {
        string_dyn_t text;
        EXPECT_TRUE(generate_trace_lines(blocks, &text));
        return text.c_str();
    }

    profiler_tracer_t main_tracer;
    profiler_tracer_t worker_tracer;
    trace_block_t first = {};
    trace_block_t second = {};
};

}  // namespace

TEST_F(generation_fixture_t, writes_the_thread_name_then_its_events_in_the_four_line_formats)
{
    add(&first, trace_event_kind_t::scope_begin, 100, "outer");
    add(&first, trace_event_kind_t::scope_begin, 110, "inner");
    add(&first, trace_event_kind_t::instant, 115, "mark");
    add(&first, trace_event_kind_t::scope_end, 130, "inner");
    add_counter(&first, 140, -3);
    add(&first, trace_event_kind_t::scope_end, 150, "outer");
    EXPECT_EQ(generate(&first),
              "{ \"ph\":\"M\", \"name\":\"thread_name\", \"tid\":1, \"pid\":0, "
              "\"args\":{\"name\":\"Main\"}},\n"
              "{ \"ph\":\"i\", \"name\":\"mark\", \"s\":\"t\", \"ts\":115, \"tid\":1, \"pid\":0},\n"
              "{ \"ph\":\"X\", \"name\":\"inner\", \"cat\":\"main\", \"dur\":20, \"ts\":110, "
              "\"tid\":1, \"pid\":0},\n"
              "{ \"ph\":\"C\", \"name\":\"memory\", \"args\":{\"bytes\":-3}, \"ts\":140, "
              "\"tid\":1, \"pid\":0},\n"
              "{ \"ph\":\"X\", \"name\":\"outer\", \"cat\":\"main\", \"dur\":50, \"ts\":100, "
              "\"tid\":1, \"pid\":0},\n");
}

TEST_F(generation_fixture_t, a_scope_of_zero_duration_gives_no_line)
{
    add(&first, trace_event_kind_t::scope_begin, 200, "instant_scope");
    add(&first, trace_event_kind_t::scope_end, 200, "instant_scope");
    EXPECT_EQ(generate(&first), "{ \"ph\":\"M\", \"name\":\"thread_name\", \"tid\":1, "
                                "\"pid\":0, \"args\":{\"name\":\"Main\"}},\n");
}

TEST_F(generation_fixture_t, groups_blocks_by_thread_and_sorts_events_by_stamp)
{
    trace_block_t later_main = {};
    later_main.tracer = &main_tracer;
    add(&first, trace_event_kind_t::instant, 20, "b");
    add(&second, trace_event_kind_t::instant, 5, "w");
    add(&later_main, trace_event_kind_t::instant, 10, "a");  // the counter stepped back
    first.next = &second;
    second.next = &later_main;
    EXPECT_EQ(generate(&first),
              "{ \"ph\":\"M\", \"name\":\"thread_name\", \"tid\":1, \"pid\":0, "
              "\"args\":{\"name\":\"Main\"}},\n"
              "{ \"ph\":\"i\", \"name\":\"a\", \"s\":\"t\", \"ts\":10, \"tid\":1, \"pid\":0},\n"
              "{ \"ph\":\"i\", \"name\":\"b\", \"s\":\"t\", \"ts\":20, \"tid\":1, \"pid\":0},\n"
              "{ \"ph\":\"M\", \"name\":\"thread_name\", \"tid\":4, \"pid\":0, "
              "\"args\":{\"name\":\"Worker_0\"}},\n"
              "{ \"ph\":\"i\", \"name\":\"w\", \"s\":\"t\", \"ts\":5, \"tid\":4, \"pid\":0},\n");
}

TEST_F(generation_fixture_t, open_scopes_carry_over_to_the_next_step_unless_data_was_dropped)
{
    add(&first, trace_event_kind_t::scope_begin, 10, "long");
    generate(&first);
    second.tracer = &main_tracer;
    add(&second, trace_event_kind_t::scope_end, 40, "long");
    EXPECT_NE(generate(&second).find("\"name\":\"long\", \"cat\":\"main\", \"dur\":30, \"ts\":10"),
              std::string::npos);

    // After a drop the open scope may have lost its end: an unmatched end gives nothing.
    generate(&first);
    main_tracer.history_dropped = true;
    EXPECT_EQ(generate(&second).find("\"ph\":\"X\""), std::string::npos);
}

TEST(append_thread_name_line, escapes_what_json_cannot_hold_as_it_is)
{
    string_dyn_t text;
    ASSERT_TRUE(append_thread_name_line(&text, 9, "a\"b\\c\td"));
    EXPECT_STREQ(text.c_str(), "{ \"ph\":\"M\", \"name\":\"thread_name\", \"tid\":9, \"pid\":0, "
                               "\"args\":{\"name\":\"a\\\"b\\\\c\\u0009d\"}},\n");
}

namespace
{

// Under an address-space limit that no escaped copy of 32 MiB fits: the line kinds that do not
// fail or that touch the text.
int count_lines_kept_without_memory()
{
    const std::string name = std::string(32u << 20, 'a') + "\"";
    string_dyn_t text;
    if (!text.assign("kept\n") || !limit_address_space(8u << 20))
        return 100;
    const bool appended[] = {
        append_thread_name_line(&text, 1, name.c_str()),
        append_complete_line(&text, name.c_str(), "main", 1, 2, 3),
        append_instant_line(&text, "mark", name.c_str(), 1, 2),
        append_counter_line(&text, "memory", name.c_str(), 1, 2, 3),
    };
    int failed = !text.equals("kept\n");
    for (const bool line_appended : appended)
        failed += line_appended;
    return failed;
}

}  // namespace

TEST(trace_lines, leave_out_whole_a_line_whose_escaped_text_finds_no_memory)
{
    if (built_with_sanitizer)
        GTEST_SKIP() << "a sanitizer reserves more address space than the limit";
    EXPECT_EXIT(std::_Exit(count_lines_kept_without_memory()), testing::ExitedWithCode(0), "");
}
