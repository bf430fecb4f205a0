// Profiler identifiers, recording into tracers, rescaled stamps, publishing and history limits.
#include "ovcore/profiling/profiler_system.h"

#include "ovcore/thread/run_context_system.h"
#include "ovcore/thread/thread.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{

// A clock the test moves by hand: counter ticks and process-time microseconds.
std::atomic<uint64_t> g_fake_counter{ 0 };
std::atomic<uint64_t> g_fake_time{ 0 };

uint64_t fake_read_counter()
{
    return g_fake_counter.load();
}
uint64_t fake_read_process_time()
{
    return g_fake_time.load();
}
bool fake_read_local_time(std::tm* out)
{
    *out = {};
    return true;
}
const profiler_clock_api_t fake_clock = { fake_read_counter, fake_read_process_time,
                                          fake_read_local_time };

profiler_id_t glyphs_id(profiler_id_type_t::count, "glyphs");

// An event as generation sees it, with the name of its thread.
struct seen_event_t
{
    trace_event_kind_t kind;
    uint64_t stamp;
    std::string name;   // scopes and instants
    int64_t value;      // counters
    uint32_t id_index;  // counters
    std::string thread;
};

// Runs with recording on and the fake clock; every test starts and ends with an empty history.
class profiler_fixture_t : public testing::Test
{
protected:
    void SetUp() override
    {
        g_profiler_clock = &fake_clock;
        g_fake_counter = 1000;
        g_fake_time = 5000;
        drain();
        profiler_set_recording(true);
    }
    void TearDown() override
    {
        profiler_set_recording(false);
        drain();
        profiler_set_limits(profiler_limits_t());
        g_profiler_clock = &profiler_clock_posix;
    }

    // Publishes the main thread, ends the frame and takes everything out of the history.
    std::vector<seen_event_t> drain()
    {
        profiler_publish_current_thread();
        profiler_end_frame();
        return take_history(&block_counts);
    }

    static std::vector<seen_event_t> take_history(std::vector<uint32_t>* counts)
    {
        std::vector<seen_event_t> seen;
        counts->clear();
        while (trace_block_t* blocks = profiler_take_history_step())
        {
            for (const trace_block_t* block = blocks; block != nullptr; block = block->next)
            {
                counts->push_back(block->count);
                for (uint32_t i = 0; i < block->count; ++i)
                {
                    const trace_event_t& event = block->events[i];
                    seen_event_t s = { get_trace_event_kind(event.header),
                                       get_trace_event_stamp(event.header), "", 0,
                                       get_trace_event_id_index(event.header),
                                       block->tracer->thread_name };
                    if (s.kind == trace_event_kind_t::counter)
                        s.value = event.value;
                    else
                        s.name = event.name;
                    seen.push_back(s);
                }
            }
            profiler_recycle_blocks(blocks);
        }
        return seen;
    }

    std::vector<uint32_t> block_counts;
};

}  // namespace

TEST(profiler_id_t, registers_in_order_and_is_found_by_index)
{
    static profiler_id_t bytes_id(profiler_id_type_t::bytes, "bytes_written");
    EXPECT_EQ(profiler_find_id(glyphs_id.get_index()), &glyphs_id);
    EXPECT_EQ(bytes_id.get_index(), glyphs_id.get_index() + 1);
    EXPECT_STREQ(profiler_id_argument_name(bytes_id.get_type()), "bytes");
    EXPECT_EQ(profiler_find_id(profiler_id_capacity), nullptr);
}

TEST(profiler_id_t, the_seventeenth_registration_is_fatal)
{
    EXPECT_DEATH(
        {
            for (uint32_t i = 0; i <= profiler_id_capacity; ++i)
                new profiler_id_t(profiler_id_type_t::count, "dynamic");
        },
        "Too many profiler_id_t identifiers, perhaps with dynamic lifetime\\?");
}

TEST(trace_event_t, packs_kind_stamp_and_identifier_index)
{
    const uint64_t header = make_trace_event_header(trace_event_kind_t::counter, 0x123, 5);
    EXPECT_EQ(header, 0x0000500000001234u);
    EXPECT_EQ(get_trace_event_kind(header), trace_event_kind_t::counter);
    EXPECT_EQ(get_trace_event_stamp(header), 0x123u);
    EXPECT_EQ(get_trace_event_id_index(header), 5u);
    // Stamps keep 40 bits.
    EXPECT_EQ(get_trace_event_stamp(make_trace_event_header(trace_event_kind_t::instant,
                                                            trace_stamp_max + 2)),
              1u);
}

TEST_F(profiler_fixture_t, records_events_with_stamps_rescaled_to_process_microseconds)
{
    // 2000 ticks pass while 20 microseconds of process time pass: 100 ticks per microsecond.
    profiler_begin_scope("load");
    g_fake_counter = 1500;
    profiler_instant("halfway");
    g_fake_counter = 2000;
    profiler_counter(glyphs_id, -7);
    g_fake_counter = 3000;
    profiler_end_scope("load");
    g_fake_time = 5020;
    const std::vector<seen_event_t> seen = drain();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].kind, trace_event_kind_t::scope_begin);
    EXPECT_EQ(seen[0].stamp, 5000u);
    EXPECT_EQ(seen[0].name, "load");
    EXPECT_EQ(seen[0].thread, "Main");
    EXPECT_EQ(seen[1].kind, trace_event_kind_t::instant);
    EXPECT_EQ(seen[1].stamp, 5005u);
    EXPECT_EQ(seen[2].kind, trace_event_kind_t::counter);
    EXPECT_EQ(seen[2].stamp, 5010u);
    EXPECT_EQ(seen[2].value, -7);
    EXPECT_EQ(seen[2].id_index, glyphs_id.get_index());
    EXPECT_EQ(seen[3].kind, trace_event_kind_t::scope_end);
    EXPECT_EQ(seen[3].stamp, 5020u);
}

TEST_F(profiler_fixture_t, records_nothing_while_recording_is_off)
{
    profiler_set_recording(false);
    profiler_instant("unseen");
    EXPECT_TRUE(drain().empty());
}

TEST_F(profiler_fixture_t, a_full_block_or_a_counter_jump_beyond_40_bits_starts_a_new_block)
{
    for (uint32_t i = 0; i < trace_block_event_capacity + 46; ++i)
        profiler_instant("tick");
    g_fake_counter = 1000 + (uint64_t(1) << 41);  // stamps since the block start no longer fit
    profiler_instant("late");
    g_fake_time = 5000 + (uint64_t(1) << 41) / 100;
    const std::vector<seen_event_t> seen = drain();
    EXPECT_EQ(block_counts, (std::vector<uint32_t>{ trace_block_event_capacity, 46, 1 }));
    ASSERT_EQ(seen.size(), trace_block_event_capacity + 47u);
    EXPECT_EQ(seen.front().stamp, 5000u);
    EXPECT_EQ(seen.back().stamp, 5000u + (uint64_t(1) << 41) / 100);
}

TEST_F(profiler_fixture_t, drops_everything_waiting_beyond_the_unprocessed_limit_with_a_warning)
{
    profiler_limits_t limits;
    limits.unprocessed_bytes = 10 * sizeof(trace_event_t);
    profiler_set_limits(limits);
    message_capture_t capture;
    for (int i = 0; i < 10; ++i)
        profiler_instant("fits");
    profiler_publish_current_thread();
    EXPECT_TRUE(capture.lines.empty());
    profiler_instant("one too many");
    profiler_publish_current_thread();
    EXPECT_EQ(capture.lines, std::vector<std::string>{
                                 "[profiler] Dropping unprocessed traced data. Contended system, "
                                 "maybe main thread in a busyloop?" });
    EXPECT_EQ(capture.levels[0], message_level_t::warning);
    EXPECT_TRUE(drain().empty());
}

TEST_F(profiler_fixture_t, the_history_keeps_the_last_33_frames)
{
    for (int64_t frame = 1; frame <= 40; ++frame)
    {
        profiler_counter(glyphs_id, frame);
        profiler_publish_current_thread();
        profiler_end_frame();
    }
    const std::vector<seen_event_t> seen = take_history(&block_counts);
    ASSERT_EQ(seen.size(), 33u);
    EXPECT_EQ(seen.front().value, 8);
    EXPECT_EQ(seen.back().value, 40);
}

TEST_F(profiler_fixture_t, the_history_keeps_its_weight_limit_dropping_the_oldest_blocks)
{
    trace_block_t one_event = {};
    one_event.count = 1;
    profiler_limits_t limits;
    limits.history_weight = 2 * get_trace_block_weight(one_event);
    profiler_set_limits(limits);
    for (int64_t frame = 1; frame <= 3; ++frame)
    {
        profiler_counter(glyphs_id, frame);
        profiler_publish_current_thread();
        profiler_end_frame();
    }
    const std::vector<seen_event_t> seen = take_history(&block_counts);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].value, 2);
    EXPECT_EQ(seen[1].value, 3);
}

TEST_F(profiler_fixture_t, a_generation_step_stops_after_its_limits_but_takes_one_block_at_least)
{
    profiler_limits_t limits;
    limits.step_weight = 1;
    profiler_set_limits(limits);
    for (int frame = 0; frame < 3; ++frame)
    {
        profiler_instant("step");
        profiler_publish_current_thread();
    }
    profiler_end_frame();
    int steps = 0;
    while (trace_block_t* blocks = profiler_take_history_step())
    {
        EXPECT_EQ(blocks->next, nullptr);
        profiler_recycle_blocks(blocks);
        ++steps;
    }
    EXPECT_EQ(steps, 3);
}

TEST_F(profiler_fixture_t, every_thread_records_into_its_own_tracer)
{
    thread_t recorder;
    recorder.set_name("Recorder");
    recorder.start(
        [](thread_t*, void*) {
            {
                OV_PROFILE_SCOPE("recorder_work");
                profiler_instant("on_recorder");
            }
            run_context_t* context = run_context_current();
            ASSERT_NE(context->tracer, nullptr);
            EXPECT_STREQ(context->tracer->category, "thread");
            profiler_publish_current_thread();
        },
        nullptr);
    recorder.join();
    profiler_instant("on_main");
    const std::vector<seen_event_t> seen = drain();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].thread, "Recorder");
    EXPECT_EQ(seen[0].name, "recorder_work");
    EXPECT_EQ(seen[1].name, "on_recorder");
    EXPECT_EQ(seen[2].kind, trace_event_kind_t::scope_end);
    EXPECT_EQ(seen[3].thread, "Main");
    EXPECT_EQ(seen[3].name, "on_main");
}

TEST_F(profiler_fixture_t, alien_threads_record_on_their_own_records_but_not_on_the_shared_one)
{
    // Every pool record is lent to a waiting alien thread; one more thread gets the shared one.
    std::mutex lock;
    std::condition_variable changed;
    uint32_t primed = 0;
    bool release = false;
    std::vector<std::thread> holders;
    for (uint32_t i = 0; i < run_context_alien_pool_size; ++i)
        holders.emplace_back([&] {
            profiler_instant("alien");
            profiler_publish_current_thread();
            std::unique_lock<std::mutex> hold(lock);
            ++primed;
            changed.notify_all();
            changed.wait(hold, [&] { return release; });
        });
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return primed == run_context_alien_pool_size; });
    }
    std::thread shared([] {
        profiler_instant("on_shared_record");
        run_context_t* context = run_context_current();
        ASSERT_NE(context, nullptr);
        EXPECT_TRUE(run_context_is_shared(context));
        EXPECT_EQ(context->tracer, nullptr);
    });
    shared.join();
    {
        std::lock_guard<std::mutex> hold(lock);
        release = true;
    }
    changed.notify_all();
    for (std::thread& holder : holders)
        holder.join();
    const std::vector<seen_event_t> seen = drain();
    ASSERT_EQ(seen.size(), run_context_alien_pool_size);
    EXPECT_EQ(seen[0].thread, "Alien");
}
