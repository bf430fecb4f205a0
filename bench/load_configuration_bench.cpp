// Peak memory of a whole run over a configuration of 1 and of 10 character sets: every set's
// canvas reserves a 256 MiB block, which must cost only the pages the canvas uses.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>

extern char** environ;

namespace
{

// A configuration of `sets` copies of the bundled character set, writing into `directory`.
std::string write_configuration(const std::filesystem::path& directory, int sets)
{
    std::filesystem::create_directories(directory);
    const std::string path = (directory / "font.qsd").string();
    std::ofstream file(path, std::ios::binary);
    file << "QsdNunit\n{\nconfiguration : .config {\n  base: \"" << directory.string()
         << "/\"\n  output: \"font\"\n  char_config: " << sets << "\n";
    for (int k = 0; k < sets; ++k)
        file << "  char_config[" << k << "]: .set" << k << "\n";
    file << "}\n";
    for (int k = 0; k < sets; ++k)
        file << "char_set_config : .set" << k << " {\n"
             << "  font_file: \"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf\"\n"
             << "  character_set_file: \"" OV_SOURCE_DIR "/etc/font/latin1.chars\"\n"
             << "  width: 16\n  height: 16\n}\n";
    file << "}\n";
    return path;
}

// Runs font_generator on the configuration; the child's peak resident size in KiB, or -1.
long run_for_peak_kib(const std::string& configuration)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char program[] = OV_FONT_GENERATOR_EXE;
    std::string argument = configuration;
    char* arguments[] = { program, argument.data(), nullptr };
    pid_t child = 0;
    const bool ran = posix_spawn(&child, program, &actions, nullptr, arguments, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage = {};
    if (!ran || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

void run_peak_memory(benchmark::State& state)
{
    const int sets = int(state.range(0));
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("ov_load_bench_" + std::to_string(sets));
    const std::string configuration = write_configuration(directory, sets);
    long peak = 0;
    for (auto _ : state)
    {
        peak = run_for_peak_kib(configuration);
        if (peak < 0)
        {
            state.SkipWithError("font_generator failed on the configuration");
            break;
        }
    }
    state.counters["peak_rss_kib"] = double(peak);
    std::filesystem::remove_all(directory);
}
BENCHMARK(run_peak_memory)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
