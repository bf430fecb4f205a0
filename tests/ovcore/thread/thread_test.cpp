// Engine threads: entry and argument, settings reaching the new thread, run context, failures.
#include "ovcore/thread/thread.h"

#include "ovcore/cpu_info.h"
#include "ovcore/thread/sys_thread.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <pthread.h>
#include <sched.h>

namespace
{
// What the new thread asked the seam for; written by that thread, read after join.
struct seam_record_t
{
    std::size_t stack_size = 0;
    std::string name;
    int32_t priority = 0;
    int priority_calls = 0;
    uint32_t ideal_processor = 0xFFFFFFFFu;
};
seam_record_t recorded;
bool ideal_processor_fails = false;

bool recording_create(uint64_t* handle, std::size_t stack_size, void (*routine)(void*), void* argument)
{
    recorded.stack_size = stack_size;
    return sys_thread_posix.create(handle, stack_size, routine, argument);
}
bool refusing_create(uint64_t*, std::size_t, void (*)(void*), void*)
{
    return false;
}
bool recording_set_priority(int32_t priority)
{
    recorded.priority = priority;
    ++recorded.priority_calls;
    return true;
}
bool recording_set_name(const char* name)
{
    recorded.name = name;
    return true;
}
bool recording_set_ideal_processor(uint32_t number)
{
    recorded.ideal_processor = number;
    return !ideal_processor_fails;
}

class thread_fixture_t : public ::testing::Test
{
protected:
    void SetUp() override
    {
        recorded = {};
        ideal_processor_fails = false;
        api = sys_thread_posix;
        api.create = recording_create;
        api.set_current_priority = recording_set_priority;
        api.set_current_name = recording_set_name;
        api.set_current_ideal_processor = recording_set_ideal_processor;
        sys_thread = &api;
    }
    void TearDown() override { sys_thread = &sys_thread_posix; }

    sys_thread_api_t api;
};

struct entry_view_t
{
    thread_t* thread = nullptr;
    void* argument = nullptr;
    run_context_t* context = nullptr;
    run_context_t seen = {};
};

void record_entry(thread_t* thread, void* argument)
{
    entry_view_t* view = static_cast<entry_view_t*>(argument);
    view->thread = thread;
    view->argument = argument;
    view->context = run_context_current();
    view->seen = *view->context;
}
} // namespace

TEST_F(thread_fixture_t, runs_entry_with_its_record_argument_and_run_context)
{
    run_context_t* starter_context = run_context_current();
    thread_t thread;
    entry_view_t view;
    thread.start(record_entry, &view);
    thread.join();
    EXPECT_EQ(view.thread, &thread);
    EXPECT_EQ(view.argument, &view);
    EXPECT_EQ(view.context, &thread.run_context);
    EXPECT_EQ(view.seen.magic, run_context_magic);
    EXPECT_EQ(view.seen.type, run_context_type_t::engine_thread);
    EXPECT_EQ(view.seen.owner, &thread);
    EXPECT_EQ(run_context_current(), starter_context);  // the starting thread keeps its own
}

TEST_F(thread_fixture_t, applies_defaults_on_the_new_thread)
{
    thread_t thread;
    entry_view_t view;
    thread.start(record_entry, &view);
    thread.join();
    EXPECT_EQ(recorded.stack_size, 0x100000u);
    EXPECT_EQ(recorded.name, "OrvelThread");
    EXPECT_EQ(recorded.priority_calls, 1);
    EXPECT_EQ(recorded.priority, -1);
    EXPECT_EQ(recorded.ideal_processor, 0xFFFFFFFFu);  // no processor given
}

TEST_F(thread_fixture_t, applies_given_settings)
{
    cpu_t processor = {};
    processor.processor_number = 1;
    thread_t thread;
    thread.stack_size = 0x40000;
    thread.priority = 0;  // normal: no change requested
    thread.processor = &processor;
    thread.set_name("io_pump_with_a_long_name");
    entry_view_t view;
    thread.start(record_entry, &view);
    thread.join();
    EXPECT_EQ(recorded.stack_size, 0x40000u);
    EXPECT_EQ(recorded.name, "io_pump_with_a_");  // 15 characters
    EXPECT_EQ(recorded.priority_calls, 0);
    EXPECT_EQ(recorded.ideal_processor, 1u);
}

TEST_F(thread_fixture_t, warns_when_the_ideal_processor_is_refused)
{
    message_capture_t capture;
    ideal_processor_fails = true;
    cpu_t processor = {};
    thread_t thread;
    thread.processor = &processor;
    entry_view_t view;
    thread.start(record_entry, &view);
    thread.join();
    EXPECT_EQ(view.thread, &thread);  // the thread still runs
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "[thread] Failed to alter thread CPU affinity." });
}

TEST_F(thread_fixture_t, joins_on_destruction)
{
    entry_view_t view;
    {
        thread_t thread;
        thread.start(record_entry, &view);
    }
    EXPECT_NE(view.thread, nullptr);
}

TEST(thread_death, refused_creation_is_fatal)
{
    EXPECT_DEATH(
        {
            sys_thread_api_t api = sys_thread_posix;
            api.create = refusing_create;
            sys_thread = &api;
            thread_t thread;
            thread.start(record_entry, nullptr);
        },
        "\\[thread\\] Failed to create thread\\.");
}

// An ideal processor is a preference: the thread keeps every processor it may run on, so the
// scheduler can move it where one is free. A processor it may not run on is refused.
TEST(thread_posix, ideal_processor_prefers_without_binding)
{
    cpu_set_t before;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof(before), &before), 0);
    uint32_t allowed = 0;
    while (allowed < CPU_SETSIZE && !CPU_ISSET(allowed, &before))
        ++allowed;
    ASSERT_LT(allowed, uint32_t(CPU_SETSIZE));
    EXPECT_TRUE(sys_thread_posix.set_current_ideal_processor(allowed));
    cpu_set_t after;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof(after), &after), 0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
    EXPECT_FALSE(sys_thread_posix.set_current_ideal_processor(CPU_SETSIZE));
}
