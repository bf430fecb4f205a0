// The benchmarks' whole-process runs of the tool: a scratch folder, the median of a series, the
// tool started by a small launcher process with its wall time and peak resident memory, and the
// main of such a benchmark.
#pragma once

#include "ovcore/core.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// A scratch folder of this benchmark process, made on first use.
inline std::string bench_work_directory()
{
    static const std::string directory = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "ov_bench_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return pattern;
    }();
    return directory;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Starts the tool on the configuration and waits for it: wall time in seconds (negative when it
// failed) and its peak resident memory.
inline void spawn_tool(const char* configuration, double* seconds, long* peak_kib)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = OV_FONT_GENERATOR_EXE;
    std::string argument = configuration;
    char* arguments[] = { program, argument.data(), nullptr };
    pid_t child = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool spawned =
        posix_spawn(&child, program, &actions, nullptr, arguments, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    *seconds = -1;
    *peak_kib = 0;
    if (!spawned || wait4(child, &status, 0, &usage) != child)
        return;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        *seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *peak_kib = usage.ru_maxrss;
}

// A child's peak memory counts the memory of the process it was started from, so the tool is
// started by a small launcher forked before this process grows: it reads configuration paths
// from one pipe and answers "seconds peak_kib" on another.
struct launcher_t
{
    int requests = -1;
    int answers = -1;
};

inline launcher_t& launcher()
{
    static launcher_t instance;
    return instance;
}

// Forks the launcher; first thing in main.
inline void start_launcher()
{
    int to_launcher[2];
    int from_launcher[2];
    if (pipe(to_launcher) != 0 || pipe(from_launcher) != 0)
        std::abort();
    if (fork() == 0)
    {
        close(to_launcher[1]);
        close(from_launcher[0]);
        FILE* in = fdopen(to_launcher[0], "r");
        FILE* out = fdopen(from_launcher[1], "w");
        char path[4096];
        while (std::fgets(path, sizeof(path), in) != nullptr)
        {
            path[std::strcspn(path, "\n")] = 0;
            double seconds = 0;
            long peak_kib = 0;
            spawn_tool(path, &seconds, &peak_kib);
            std::fprintf(out, "%.9f %ld\n", seconds, peak_kib);
            std::fflush(out);
        }
        _exit(0);
    }
    close(to_launcher[0]);
    close(from_launcher[1]);
    launcher().requests = to_launcher[1];
    launcher().answers = from_launcher[0];
}

// Ends the launcher and waits for it; last thing in main.
inline void stop_launcher()
{
    close(launcher().requests);
    wait(nullptr);
}

// Runs the tool once through the launcher; its wall time in seconds, negative when it failed.
// `*peak_kib` becomes the largest peak so far.
inline double run_tool(const std::string& configuration, long* peak_kib)
{
    const std::string request = configuration + "\n";
    if (write(launcher().requests, request.data(), request.size()) != ssize_t(request.size()))
        return -1;
    char answer[128];
    std::size_t used = 0;
    while (used + 1 < sizeof(answer))
    {
        if (read(launcher().answers, answer + used, 1) != 1)
            return -1;
        if (answer[used++] == '\n')
            break;
    }
    answer[used] = 0;
    double seconds = -1;
    long peak = 0;
    if (std::sscanf(answer, "%lf %ld", &seconds, &peak) != 2)
        return -1;
    *peak_kib = std::max(*peak_kib, peak);
    return seconds;
}

// The whole main of a benchmark that runs the tool: the launcher forked before anything grows,
// the core, the cases `register_cases` adds to those registered statically, and the scratch
// folder removed at the end.
inline int run_tool_benchmarks(int argc, char** argv, void (*register_cases)() = nullptr)
{
    start_launcher();
    core_startup();
    if (register_cases != nullptr)
        register_cases();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(bench_work_directory());
    core_shutdown();
    stop_launcher();
    return 0;
}
