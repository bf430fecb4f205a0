// Loading speed of the unit text format: a generated file of about 10 MB (many units with an
// attribute of every type, spread over included files) read from the operating system's file
// system, parsed, checked and resolved. Reports MB/s (10^6 bytes of text per second).
#include "ovcore/core.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/units/unit_loader.h"
#include "tests/ovcore/units/unit_test_types.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace
{

const char bench_directory[] = "unit_loader_bench_files";
constexpr uint32_t part_count = 16;

// One unit with every scalar type and a few array elements; about 1.3 KB.
void append_unit(std::string* text, uint32_t n)
{
    char buffer[2048];
    std::snprintf(
        buffer, sizeof(buffer),
        "every_type : .u%u {\n"
        "    string: \"unit number %u\\n\" string_array: 3 string_array[]: a\n"
        "    string_array[]: \"b c\" string_array[2]: d.e\n"
        "    token: tok%u token_array[]: abc\n"
        "    float1: %u.25 float1_array[]: -3.5e2 float1_array[]: &3f800000\n"
        "    float2: (1.5, -2) float3: (1, 2, 3.75) float4: (.5, 1., 2e1, -4)\n"
        "    fixed1: 256 fixed2: (256, -512) fixed3: (1, 2, 3) fixed4: (0, 01, 2, 3)\n"
        "    float4x4: (1, 0, 0, 0) (0, 1, 0, 0) (0, 0, 1, 0) (%u, 2, 3, 1)\n"
        "    quaternion: (1; 0, 0, 0)\n"
        "    placement: (10, 20, 30) (0.7071; 0, 0.7071, 0)\n"
        "    placement_scale: (1, 2, 3) 2.5f (1; 0, 0, 0)\n"
        "    placement_scale3: (1, 2, 3) (1, 1, 2) (1; 0, 0, 0)\n"
        "    plane: (0, 1, 0) -2.5 sphere: (1, 1, 1) 3 aabox: (0, 0, 0) (1, 2, 3)\n"
        "    s32: -%u u32: %u s16: -1234 u16: 0xBEEF s32_second: 7 u32_second: 8\n"
        "    s64: -9000000000 u64: 18000000000000000000\n"
        "    int2: (-1, %u) int2_array[]: (3, 4)\n"
        "    boolean: true boolean_array[]: 0 boolean_array[]: False\n"
        "    enumeration: blue enumeration_array[]: 2 enumeration_array[]: red\n"
        "    owner_ptr: null owner_ptr_array: 0\n"
        "    link_ptr: .u%u tolerant_link_ptr: .root link_ptr_array[]: .u%u\n"
        "    # a comment line\n"
        "    /* and a block comment */\n"
        "}\n",
        n, n, n, n, n, n, n, n, n == 0 ? 0 : n - 1, n);
    text->append(buffer);
}

struct generated_t
{
    std::string top_path;
    uint64_t bytes = 0;
};

// The top file holds the root, which owns every unit; the units are in included parts.
generated_t generate(uint32_t units)
{
    std::filesystem::remove_all(bench_directory);
    std::filesystem::create_directories(bench_directory);
    generated_t result;
    std::string top = "QsdNunit\n{\nevery_type : .root {\n";
    for (uint32_t n = 0; n < units; ++n)
        top += "    owner_ptr_array[]: .u" + std::to_string(n) + "\n";
    top += "}\n";
    for (uint32_t part = 0; part < part_count; ++part)
    {
        std::string text;
        for (uint32_t n = part; n < units; n += part_count)
            append_unit(&text, n);
        const std::string name = "part_" + std::to_string(part) + ".qsd";
        std::ofstream(std::string(bench_directory) + "/" + name, std::ios::binary) << text;
        result.bytes += text.size();
        top += "@include \"" + name + "\"\n";
    }
    top += "}\n";
    result.top_path = std::string(bench_directory) + "/top.qsd";
    std::ofstream(result.top_path, std::ios::binary) << top;
    result.bytes += top.size();
    return result;
}

void load_generated_unit_file(benchmark::State& state)
{
    unit_bank_t bank;
    if (!unit_test_types::register_all(&bank))
    {
        state.SkipWithError("registering the unit types failed");
        return;
    }
    auto_ptr_t<unit_system_t> system(new unit_system_t(&bank));
    const generated_t files = generate(uint32_t(state.range(0)));
    for (auto _ : state)
    {
        auto_ptr_t<file_t> file(fs_device_open(files.top_path.c_str(), fs_open_mode_t::read_only, SYSFS));
        unit_load_t load(system.get(), file.get(), files.top_path.c_str());
        if (!load.load_units())
        {
            state.SkipWithError("the generated file did not load");
            break;
        }
        owner_ptr_t<unit_t> root = load.take_single_tree();
        state.PauseTiming();
        root.reset();
        unit_flush_pending_releases();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(files.bytes));
    state.counters["MB/s"] = benchmark::Counter(double(files.bytes) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"] = double(files.bytes) / 1e6;
    state.counters["units"] = double(state.range(0) + 1);
    system.reset();
    std::filesystem::remove_all(bench_directory);
}

}  // namespace

// 8400 units make about 10 MB.
BENCHMARK(load_generated_unit_file)->Arg(8400)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    core_startup();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    core_shutdown();
    return 0;
}
