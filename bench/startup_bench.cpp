// Start-up and shut-down cost: the whole process (`font_generator -?`) and the core alone.
#include "ovcore/core.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace
{
// Runs `font_generator -?` with its output discarded; false when it did not exit with status 0.
bool run_usage_once()
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = OV_FONT_GENERATOR_EXE;
    char usage[] = "-?";
    char* arguments[] = { program, usage, nullptr };
    pid_t child = 0;
    bool ran = posix_spawn(&child, program, &actions, nullptr, arguments, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return ran && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void process_start_and_stop(benchmark::State& state)
{
    for (auto _ : state)
        if (!run_usage_once())
        {
            state.SkipWithError("font_generator -? failed");
            break;
        }
}
BENCHMARK(process_start_and_stop)->Unit(benchmark::kMillisecond)->Repetitions(10)->UseRealTime();

void core_start_and_stop(benchmark::State& state)
{
    for (auto _ : state)
    {
        core_startup();
        core_shutdown();
    }
}
BENCHMARK(core_start_and_stop)->Unit(benchmark::kMicrosecond)->Repetitions(10)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
