// Throughput of file_t against plain POSIX read/write: a 256 MiB file written in 1 MiB blocks,
// then read in 1 MiB blocks (direct) and 8 KiB blocks (cached), on the io_pump over io_uring
// and over pread/pwrite. Prints the file_t / POSIX ratio of each after the table.
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/core.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/ufs/fs_system.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr uint64_t file_size = uint64_t(256) << 20;
constexpr uint32_t big_block = 1u << 20;
constexpr uint32_t small_block = 8u << 10;

std::string g_path;

const sys_file_api_t* table_of(int64_t index)
{
    return index == 0 ? &sys_file_posix : &sys_file_posix_pread;
}

// Restarts the file system on the table, outside the timed part.
void use_table(benchmark::State& state)
{
    fs_shutdown();
    fs_startup(table_of(state.range(0)));
    state.SetLabel(sys_file_pump_stats().uses_io_uring ? "io_uring" : "pread");
}

void finish(benchmark::State& state)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file_size));
}

void file_t_write(benchmark::State& state)
{
    use_table(state);
    std::vector<char> block(big_block, 'w');
    for (auto _ : state)
    {
        auto_ptr_t<file_t> file(
            fs_device_open(g_path.c_str(), fs_open_mode_t::create_truncate, SYSFS));
        for (uint64_t done = 0; file && done < file_size; done += big_block)
            if (!file->write(block.data(), big_block))
                file.reset();
        if (!file)
            state.SkipWithError("write failed");
    }
    finish(state);
}

void file_t_read(benchmark::State& state)
{
    use_table(state);
    const uint32_t block_size = uint32_t(state.range(1));
    std::vector<char> block(block_size);
    for (auto _ : state)
    {
        auto_ptr_t<file_t> file(fs_device_open(g_path.c_str(), fs_open_mode_t::read_only, SYSFS));
        for (uint64_t done = 0; file && done < file_size; done += block_size)
            if (!file->read(block.data(), block_size))
                file.reset();
        if (!file)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(block.data());
    }
    finish(state);
}

void posix_write(benchmark::State& state)
{
    std::vector<char> block(big_block, 'w');
    for (auto _ : state)
    {
        // The same work as create_truncate: the old file goes, a new one is made.
        unlink(g_path.c_str());
        const int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        bool ok = fd >= 0;
        for (uint64_t done = 0; ok && done < file_size; done += big_block)
            ok = write(fd, block.data(), big_block) == ssize_t(big_block);
        if (fd >= 0)
            close(fd);
        if (!ok)
            state.SkipWithError("write failed");
    }
    finish(state);
}

void posix_read(benchmark::State& state)
{
    const uint32_t block_size = uint32_t(state.range(0));
    std::vector<char> block(block_size);
    for (auto _ : state)
    {
        const int fd = open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
        bool ok = fd >= 0;
        for (uint64_t done = 0; ok && done < file_size; done += block_size)
            ok = read(fd, block.data(), block_size) == ssize_t(block_size);
        if (fd >= 0)
            close(fd);
        if (!ok)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(block.data());
    }
    finish(state);
}

// Writes come first so that the reads find the file.
BENCHMARK(posix_write)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(file_t_write)->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(posix_read)->Arg(big_block)->Arg(small_block)->Iterations(3)->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(file_t_read)
    ->Args({ 0, big_block })
    ->Args({ 1, big_block })
    ->Args({ 0, small_block })
    ->Args({ 1, small_block })
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Keeps every run's throughput for the ratios.
class ratio_reporter_t final : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            const auto found = run.counters.find("bytes_per_second");
            if (!run.error_occurred && found != run.counters.end())
                throughput[run.benchmark_name()] = found->second.value;
        }
    }

    std::map<std::string, double> throughput;
};

void print_ratio(const ratio_reporter_t& reporter, const char* what, const std::string& ours,
                 const std::string& plain)
{
    const auto a = reporter.throughput.find(ours);
    const auto b = reporter.throughput.find(plain);
    if (a == reporter.throughput.end() || b == reporter.throughput.end() || b->second <= 0)
        return;
    std::printf("%-40s %6.2f  (%.0f vs %.0f MiB/s)\n", what, a->second / b->second,
                a->second / 1048576.0, b->second / 1048576.0);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    core_startup();
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("ov_fs_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    g_path = (directory / "data.bin").string();

    // The first write of a new file pays for fresh pages; keep that out of every figure.
    {
        std::vector<char> block(big_block, 'w');
        const int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        for (uint64_t done = 0; fd >= 0 && done < file_size; done += big_block)
            if (write(fd, block.data(), big_block) != ssize_t(big_block))
                break;
        if (fd >= 0)
            close(fd);
    }

    ratio_reporter_t reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const std::string big = std::to_string(big_block);
    const std::string small = std::to_string(small_block);
    std::printf("\nfile_t / plain POSIX throughput (256 MiB, page cache warm):\n");
    const char* tables[] = { "0", "1" };
    const char* names[] = { "io_uring where allowed", "pread" };
    for (int t = 0; t < 2; ++t)
    {
        const std::string table = tables[t];
        print_ratio(reporter, (std::string("write 1 MiB, ") + names[t]).c_str(),
                    "file_t_write/" + table + "/iterations:3/real_time",
                    "posix_write/iterations:3/real_time");
        print_ratio(reporter, (std::string("read 1 MiB direct, ") + names[t]).c_str(),
                    "file_t_read/" + table + "/" + big + "/iterations:3/real_time",
                    "posix_read/" + big + "/iterations:3/real_time");
        print_ratio(reporter, (std::string("read 8 KiB cached, ") + names[t]).c_str(),
                    "file_t_read/" + table + "/" + small + "/iterations:3/real_time",
                    "posix_read/" + small + "/iterations:3/real_time");
    }

    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    core_shutdown();
    benchmark::Shutdown();
    return 0;
}
