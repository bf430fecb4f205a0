// Trace settings: the "-trace" switch, capture names, the append protocol, and whole runs that
// write trace files from the main thread and the workers.
#include "ovcore/profiling/trace_settings.h"

#include "ovcore/core.h"
#include "ovcore/profiling/profiler_system.h"
#include "ovcore/thread/thread_pool.h"
#include "ovcore/ufs/mem_file.h"
#include "tests/ovcore/profiling/json_reader.h"
#include "tests/support/message_capture.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{

namespace fs = std::filesystem;

profiler_id_t rows_id(profiler_id_type_t::count, "rows");

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

// Runs the test in a fresh current directory, where trace files land.
class trace_directory_t : public testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = fs::current_path();
        m_directory = fs::temp_directory_path() /
                      ("trace_test_" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                       "_" +
                       testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_directory);
        fs::current_path(m_directory);
    }
    void TearDown() override
    {
        fs::current_path(m_previous);
        fs::remove_all(m_directory);
    }

    // The names of the trace files in the directory.
    std::vector<std::string> trace_files() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_directory))
        {
            const std::string name = entry.path().filename().string();
            if (name.rfind("trace_", 0) == 0)
                names.push_back(name);
        }
        return names;
    }

    static std::string read_file(const std::string& name)
    {
        std::ifstream in(name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void write_file(const std::string& name, const std::string& text)
    {
        std::ofstream(name, std::ios::binary) << text;
    }

    fs::path m_previous;
    fs::path m_directory;
};

// Restarts the trace settings with a filled argument table, and restores them afterwards.
class traced_run_t : public trace_directory_t
{
protected:
    void start_tracing(std::vector<const char*> arguments)
    {
        destroy_trace_settings();
        ASSERT_TRUE(set_core_arguments(uint32_t(arguments.size()), arguments.data()));
        create_trace_settings();
    }
    void TearDown() override
    {
        destroy_trace_settings();
        clear_core_arguments();
        create_trace_settings();
        trace_directory_t::TearDown();
    }

    // Ends the main thread's frame as its worker loop would.
    static void end_frame()
    {
        profiler_publish_current_thread();
        profiler_end_frame();
    }

    // The objects of the one trace file, which must be a JSON array ending in "{}\n]".
    std::vector<json_object_t> read_trace()
    {
        std::vector<json_object_t> objects;
        const std::vector<std::string> files = trace_files();
        EXPECT_EQ(files.size(), 1u);
        if (files.size() != 1)
            return objects;
        const std::string text = read_file(files[0]);
        EXPECT_EQ(text.substr(0, 2), "[\n");
        EXPECT_EQ(text.substr(text.size() - 4), "{}\n]");
        json_reader_t reader;
        EXPECT_TRUE(reader.read_array_of_objects(text, &objects)) << text;
        return objects;
    }

    static size_t count_lines(const std::vector<json_object_t>& objects, const char* phase,
                              const char* name)
    {
        size_t count = 0;
        for (const json_object_t& object : objects)
            if (object.count("ph") != 0 && object.at("ph") == phase && object.count("name") != 0 &&
                object.at("name") == name)
                ++count;
        return count;
    }
};

// A worker task that records a scope and a counter.
class recording_task_t final : public task_t
{
public:
    void run() override
    {
        started = true;
        OV_PROFILE_SCOPE("worker_scope");
        profiler_counter(rows_id, 42);
        // Long enough for a non-zero duration in microseconds.
        const uint64_t start = g_profiler_clock->read_process_time();
        while (g_profiler_clock->read_process_time() < start + 3)
        {
        }
    }

    std::atomic<bool> started{ false };
};

void spin_microseconds(uint64_t microseconds)
{
    const uint64_t start = g_profiler_clock->read_process_time();
    while (g_profiler_clock->read_process_time() < start + microseconds)
    {
    }
}

// ---- names -------------------------------------------------------------------------------------

struct sanitize_case_t
{
    const char* name;
    const char* sanitized;
};

const sanitize_case_t sanitize_cases[] = {
    { "full", "full" },
    { "Full Run!", "full-run-" },
    { "A.b_C-9", "a.b_c-9" },
    { "", "" },
    { "tab\there/x", "tab-here-x" },
    { "\xC3\x84rger", "--rger" },  // bytes outside ASCII become "-" each
};

}  // namespace

TEST(sanitize_capture_name, lowers_letters_and_replaces_everything_else_but_digits_dot_underscore)
{
    for (const sanitize_case_t& c : sanitize_cases)
    {
        SCOPED_TRACE(c.name);
        trace_name_t out;
        sanitize_capture_name(&out, c.name);
        EXPECT_STREQ(out.c_str(), c.sanitized);
    }
}

TEST(format_trace_file_name, joins_the_local_start_time_and_the_sanitised_name)
{
    std::tm start = {};
    start.tm_year = 2026 - 1900;
    start.tm_mon = 11;
    start.tm_mday = 8;
    start.tm_hour = 21;
    start.tm_min = 45;
    trace_name_t out;
    EXPECT_TRUE(format_trace_file_name(&out, start, "full"));
    EXPECT_STREQ(out.c_str(), "trace_20261208_214500__full.json");
    EXPECT_TRUE(format_trace_file_name(&out, start, ""));
    EXPECT_STREQ(out.c_str(), "trace_20261208_214500_.json");

    // A long name gives way to the ".json" within the 256 characters.
    const std::string long_name(300, 'n');
    EXPECT_TRUE(format_trace_file_name(&out, start, long_name.c_str()));
    EXPECT_EQ(out.length(), 256u);
    EXPECT_EQ(std::string(out.c_str()).substr(0, 23), "trace_20261208_214500__");
    EXPECT_EQ(std::string(out.c_str()).substr(251), ".json");

    // Only the name gives way: without room for the rest the result says so.
    string_fixed_t<20> small;
    EXPECT_FALSE(format_trace_file_name(&small, start, "full"));
}

// ---- append protocol ---------------------------------------------------------------------------

namespace
{

void append_lines(const char* file_name, std::vector<std::string> texts)
{
    append_chrome_tracing_file_t task(file_name);
    for (const std::string& text : texts)
    {
        auto_ptr_t<file_t> memory_file(new mem_file_t());
        EXPECT_TRUE(memory_file->write(text.data(), uint32_t(text.size())));
        EXPECT_TRUE(task.add_memory_file(std::move(memory_file)));
    }
    task.run();
}

}  // namespace

TEST_F(trace_directory_t, a_new_file_is_opened_and_closed_and_a_second_append_keeps_one_closing)
{
    append_lines("trace_a.json", { "{ \"a\":1},\n", "{ \"b\":2},\n" });
    EXPECT_EQ(read_file("trace_a.json"), "[\n{ \"a\":1},\n{ \"b\":2},\n{}\n]");
    append_lines("trace_a.json", { "{ \"c\":3},\n" });
    EXPECT_EQ(read_file("trace_a.json"), "[\n{ \"a\":1},\n{ \"b\":2},\n{ \"c\":3},\n{}\n]");
    append_lines("trace_a.json", {});
    EXPECT_EQ(read_file("trace_a.json"), "[\n{ \"a\":1},\n{ \"b\":2},\n{ \"c\":3},\n{}\n]");
}

// A memory file whose reads fail from the second copy chunk on.
class failing_memory_file_t final : public mem_file_t
{
public:
    fs_io_request_t* io_read(void* buffer, uint32_t size, uint64_t offset) override
    {
        return offset >= fs_copy_chunk_size ? nullptr : mem_file_t::io_read(buffer, size, offset);
    }
};

TEST_F(trace_directory_t, a_failed_copy_is_cut_off_and_the_file_stays_closed)
{
    append_lines("trace_b.json", { "{ \"a\":1},\n" });
    append_chrome_tracing_file_t task("trace_b.json");
    auto_ptr_t<file_t> good(new mem_file_t());
    ASSERT_TRUE(good->write("{ \"b\":2},\n", 10));
    auto_ptr_t<file_t> failing(new failing_memory_file_t());
    const std::string long_text(2 * fs_copy_chunk_size, 'x');
    ASSERT_TRUE(failing->write(long_text.data(), uint32_t(long_text.size())));
    ASSERT_TRUE(task.add_memory_file(std::move(good)));
    ASSERT_TRUE(task.add_memory_file(std::move(failing)));
    message_capture_t capture;
    task.run();
    EXPECT_EQ(capture.lines, std::vector<std::string>{
                                 "[fs_copy] error reading block: <MEMFILE><UNKNOWNFS><mem-file> @ "
                                 "4096 (chunk size 4096)" });
    EXPECT_EQ(read_file("trace_b.json"), "[\n{ \"a\":1},\n{ \"b\":2},\n{}\n]");
}

TEST_F(trace_directory_t, a_file_that_cannot_be_opened_loses_the_data_with_an_error)
{
    fs::create_directory("trace_dir.json");
    message_capture_t capture;
    append_lines("trace_dir.json", { "{ \"a\":1},\n" });
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "[fs] Failed to open file 'trace_dir.json' in the create_or_read_write mode.",
                  "[fs] Reason: it is a folder, not a file; the relative path 'trace_dir.json' "
                  "is taken from the current folder '" + fs::current_path().string() + "'.",
                  "[profiler] Unable to open trace file 'trace_dir.json', forgetting traced "
                  "data." }));
}

TEST_F(trace_directory_t, a_file_without_the_closing_text_is_left_alone_with_an_error)
{
    for (const char* contents : { "not a trace", "]" })
    {
        SCOPED_TRACE(contents);
        write_file("trace_other.json", contents);
        message_capture_t capture;
        append_lines("trace_other.json", { "{ \"a\":1},\n" });
        EXPECT_EQ(capture.lines, std::vector<std::string>{
                                     "[profiler] Trace file 'trace_other.json' does not end like a "
                                     "trace file, forgetting traced data." });
        EXPECT_EQ(read_file("trace_other.json"), contents);
    }
}

// ---- whole runs --------------------------------------------------------------------------------

TEST_F(traced_run_t, scopes_instants_and_counters_of_main_and_workers_reach_the_trace_file)
{
    start_tracing({ "host", "-trace", "parameter", "-other" });
    ASSERT_TRUE(g_trace_settings->is_enabled());
    EXPECT_EQ(g_trace_settings->get_parameters().parameter_count, 1u);
    EXPECT_STREQ(g_trace_settings->get_capture_name().c_str(), "full");

    const int frames = 3;
    for (int frame = 0; frame < frames; ++frame)
    {
        recording_task_t task;
        submit_task(&task, task_class_t::normal);
        {
            OV_PROFILE_SCOPE("main_scope");
            profiler_instant("main_instant");
            spin_microseconds(3);
        }
        // Waiting for a task that no worker has taken would run it here.
        while (!task.started)
        {
        }
        wait_task(&task);
        end_frame();
    }
    destroy_trace_settings();
    const std::vector<json_object_t> objects = read_trace();
    ASSERT_FALSE(objects.empty());
    EXPECT_TRUE(objects.back().empty());  // the closing "{}"

    EXPECT_EQ(count_lines(objects, "X", "main_scope"), size_t(frames));
    EXPECT_EQ(count_lines(objects, "i", "main_instant"), size_t(frames));
    EXPECT_EQ(count_lines(objects, "X", "worker_scope"), size_t(frames));
    EXPECT_EQ(count_lines(objects, "C", "rows"), size_t(frames));
    bool main_named = false;
    bool worker_named = false;
    for (const json_object_t& object : objects)
    {
        if (object.count("ph") == 0)
            continue;
        if (object.at("ph") == "M")
        {
            EXPECT_EQ(object.at("name"), "thread_name");
            main_named |= object.at("args") == "{\"name\":\"Main\"}";
            worker_named |= object.at("args").rfind("{\"name\":\"Worker_", 0) == 0;
        }
        if (object.at("ph") == "C")
        {
            EXPECT_EQ(object.at("args"), "{\"count\":42}");
        }
        if (object.at("ph") == "X")
        {
            EXPECT_NE(object.at("dur"), "0");
        }
    }
    EXPECT_TRUE(main_named);
    EXPECT_TRUE(worker_named);
}

TEST_F(traced_run_t, a_scope_within_one_microsecond_gives_no_complete_line)
{
    g_fake_counter = 1000;
    g_fake_time = 100;
    g_profiler_clock = &fake_clock;
    start_tracing({ "host", "-trace" });
    profiler_begin_scope("empty_scope");
    profiler_end_scope("empty_scope");
    g_fake_counter = 1100;
    profiler_begin_scope("short_scope");
    g_fake_counter = 1200;
    profiler_end_scope("short_scope");
    g_fake_time = 102;  // 100 ticks per microsecond
    destroy_trace_settings();
    g_profiler_clock = &profiler_clock_posix;
    const std::vector<json_object_t> objects = read_trace();
    EXPECT_EQ(count_lines(objects, "X", "empty_scope"), 0u);
    ASSERT_EQ(count_lines(objects, "X", "short_scope"), 1u);
    for (const json_object_t& object : objects)
    {
        if (object.count("name") != 0 && object.at("name") == "short_scope")
        {
            EXPECT_EQ(object.at("ts"), "101");
            EXPECT_EQ(object.at("dur"), "1");
        }
    }
}

TEST_F(traced_run_t, more_than_16_outstanding_steps_are_handed_to_an_append_during_the_run)
{
    start_tracing({ "host", "-trace" });
    const uint32_t frames = 2 * (trace_outstanding_generation_limit + 1);
    for (uint32_t frame = 1; frame <= frames; ++frame)
    {
        profiler_instant("frame");
        end_frame();
        EXPECT_EQ(g_trace_settings->get_outstanding_generation_count(),
                  frame % (trace_outstanding_generation_limit + 1));
    }
    destroy_trace_settings();
    EXPECT_EQ(count_lines(read_trace(), "i", "frame"), size_t(frames));
}

TEST_F(traced_run_t, without_the_switch_nothing_is_recorded_and_no_file_is_written)
{
    start_tracing({ "host", "-tracer", "trace" });
    EXPECT_FALSE(g_trace_settings->is_enabled());
    profiler_instant("unseen");
    end_frame();
    destroy_trace_settings();
    EXPECT_TRUE(trace_files().empty());
}

TEST_F(traced_run_t, core_shut_down_finishes_the_trace_file_before_the_file_system_stops)
{
    const char* arguments[] = { "host", "-trace" };
    core_shutdown();
    ASSERT_TRUE(set_core_arguments(2, arguments));
    core_startup();
    profiler_instant("before_shutdown");
    core_shutdown();
    clear_core_arguments();
    core_startup();
    EXPECT_EQ(count_lines(read_trace(), "i", "before_shutdown"), 1u);
}

TEST_F(trace_directory_t, the_font_generator_reads_minus_trace_as_its_configuration_path)
{
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "-trace" }, m_directory.string());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("'-trace'"), std::string::npos) << result.err;
    EXPECT_TRUE(trace_files().empty());
}
