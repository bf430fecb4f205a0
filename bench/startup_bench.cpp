// Start-up and small runs as whole processes, against yardsticks run the same way, in turn:
// - process_start_and_stop: `font_generator -?` against hello_freetype, a C program that loads
//   FreeType and prints a line (target: at most 1.3 times);
// - latin1_16px: `font_generator` on the bundled Latin-1 set at 16 px (written into a temporary
//   folder) against literal_freetype, the same FreeType work done the literal way as a process
//   of its own (target: at most 1.0 times);
// - core_start_and_stop: core_startup and core_shutdown inside one process.
// Counters: tool_ms and yardstick_ms (medians of the alternating runs) and ratio.
#include "ovcore/core.h"

#include "bench/tool_process.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char latin1[] = OV_SOURCE_DIR "/etc/font/latin1.chars";

// Runs the program with its output discarded; the wall time in seconds, or -1 when it did not
// exit with status 0.
double run_once(std::vector<std::string> arguments)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const bool ran = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    const bool exited = ran && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                        WEXITSTATUS(status) == 0;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return exited ? took.count() : -1;
}

// The tool and its yardstick in turn, `runs` times each after one warm-up of each.
void against_yardstick(benchmark::State& state, const std::vector<std::string>& tool,
                       const std::vector<std::string>& yardstick, int runs)
{
    for (auto _ : state)
    {
        std::vector<double> tool_times;
        std::vector<double> yardstick_times;
        (void)run_once(tool);
        (void)run_once(yardstick);
        for (int run = 0; run < runs; ++run)
        {
            tool_times.push_back(run_once(tool));
            yardstick_times.push_back(run_once(yardstick));
            if (tool_times.back() < 0 || yardstick_times.back() < 0)
            {
                state.SkipWithError("a run failed");
                return;
            }
        }
        state.SetIterationTime(median(tool_times));
        state.counters["tool_ms"] = median(tool_times) * 1e3;
        state.counters["yardstick_ms"] = median(yardstick_times) * 1e3;
        state.counters["ratio"] = median(tool_times) / median(yardstick_times);
    }
}

void process_start_and_stop(benchmark::State& state)
{
    against_yardstick(state, { OV_FONT_GENERATOR_EXE, "-?" }, { OV_HELLO_FREETYPE_EXE }, 201);
}
BENCHMARK(process_start_and_stop)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

void latin1_16px(benchmark::State& state)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("startup_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string configuration = (folder / "latin1.qsd").string();
    std::ofstream(configuration) << "QsdNunit\n{\nconfiguration : .config {\n"
                                 << "    base: \"" << folder.string() << "/\"\n"
                                 << "    output: \"font\"\n    char_config[0]: .chars.latin\n}\n"
                                 << "char_set_config : .chars.latin {\n"
                                 << "    font_file: \"" << dejavu_sans << "\"\n"
                                 << "    character_set_file: \"" << latin1 << "\"\n"
                                 << "    width: 16\n    height: 16\n}\n}\n";
    against_yardstick(state, { OV_FONT_GENERATOR_EXE, configuration },
                      { OV_LITERAL_FREETYPE_EXE, dejavu_sans, "16", latin1 }, 101);
    std::filesystem::remove_all(folder);
}
BENCHMARK(latin1_16px)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

void core_start_and_stop(benchmark::State& state)
{
    for (auto _ : state)
    {
        core_startup();
        core_shutdown();
    }
}
BENCHMARK(core_start_and_stop)->Unit(benchmark::kMicrosecond)->Repetitions(10)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
