// Loading speed of the binary unit format: a generated file of about 10 MB (many units with an
// attribute of every type but resource ties, owned by one root) loaded from memory, plain and
// inside the scrambled container. Reports MB/s (10^6 bytes of file per second).
#include "ovcore/core.h"
#include "ovcore/units/unit_loader.h"
#include "tests/ovcore/units/unit_test_types.h"
// The test encoder writes the file; the benchmark builds without the test libraries.
#include "tests/support/unit_binary_encoder.cpp"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace
{
namespace bv = binary_value;

// Every attribute of every_type but the resource ties, as (binary code, name, value).
struct field_t
{
    uint32_t code;
    const char* name;
    binary_value_t value;
};

std::vector<field_t> unit_fields(uint32_t n)
{
    const binary_name_t previous = binary_name_t::local_name(n == 0 ? 1 : n);  // unit n - 1
    return {
        { 1, "string", bv::string("unit number " + std::to_string(n)) },
        { 2, "string_array", bv::array({ bv::string("a"), bv::string("b c"), bv::string("d.e") }) },
        { 3, "token", bv::token("tok" + std::to_string(n % 100000)) },
        { 4, "token_array", bv::array({ bv::token("abc") }) },
        { 5, "float1", bv::f32(float(n) + 0.25f) },
        { 6, "float1_array", bv::array({ bv::f32(-350.0f), bv::f32(1.0f) }) },
        { 7, "float2", bv::floats({ 1.5f, -2.0f }) },
        { 9, "float3", bv::floats({ 1.0f, 2.0f, 3.75f }) },
        { 11, "float4", bv::floats({ 0.5f, 1.0f, 20.0f, -4.0f }) },
        { 13, "fixed1", bv::fixed(256) },
        { 15, "fixed2", bv::fixeds({ 256, -512 }) },
        { 17, "fixed3", bv::fixeds({ 1, 2, 3 }) },
        { 19, "fixed4", bv::fixeds({ 0, 1, 2, 3 }) },
        { 21, "float4x4", bv::floats({ 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, float(n), 2, 3, 1 }) },
        { 23, "quaternion", bv::floats({ 1, 0, 0, 0 }) },
        { 25, "placement", bv::join({ bv::position(2, 10, 20, 30), bv::floats({ 0.7071f, 0, 0.7071f, 0 }) }) },
        { 27, "placement_scale", bv::join({ bv::position(2, 1, 2, 3), bv::floats({ 1, 0, 0, 0 }), bv::f32(2.5f) }) },
        { 29, "placement_scale3", bv::join({ bv::position(2, 1, 2, 3), bv::floats({ 1, 0, 0, 0 }), bv::floats({ 1, 1, 2 }) }) },
        { 31, "plane", bv::floats({ 0, 1, 0, -2.5f }) },
        { 33, "sphere", bv::floats({ 1, 1, 1, 3 }) },
        { 35, "aabox", bv::floats({ 0, 0, 0, 1, 2, 3 }) },
        { 37, "s32", bv::s32(-int32_t(n)) },
        { 39, "u32", bv::u32(n) },
        { 41, "s16", bv::s16(-1234) },
        { 43, "u16", bv::u16(0xBEEF) },
        { 45, "s32_second", bv::s32(7) },
        { 47, "u32_second", bv::u32(8) },
        { 49, "s64", bv::s64(-9000000000) },
        { 51, "u64", bv::u64(18000000000000000000u) },
        { 65, "int2", bv::int2(-1, int32_t(n)) },
        { 66, "int2_array", bv::array({ bv::int2(3, 4) }) },
        { 53, "boolean", bv::boolean(true) },
        { 54, "boolean_array", bv::array({ bv::boolean(false), bv::boolean(false) }) },
        { 55, "enumeration", bv::enumeration(7) },
        { 56, "enumeration_array", bv::array({ bv::enumeration(2), bv::enumeration(1) }) },
        { 57, "owner_ptr", bv::name(binary_name_t::no_name()) },
        { 58, "owner_ptr_array", bv::array({}) },
        { 59, "link_ptr", bv::name(previous) },
        { 61, "tolerant_link_ptr", bv::name(binary_name_t::local_name(0xFFFFFFFFu)) },
        { 60, "link_ptr_array", bv::array({ bv::name(binary_name_t::local_name(n + 1)) }) },
    };
}

// Unit n has the file-local name n + 1; the root (0xFFFFFFFF) owns them all.
binary_bytes_t generate(uint32_t units)
{
    binary_class_layout_t every = { 1, "every_type", {} };
    for (const field_t& field : unit_fields(0))
        every.attributes.push_back({ field.code, field.name, {} });
    binary_file_layout_t file;
    file.add(every);
    std::vector<binary_value_t> owned;
    for (uint32_t n = 0; n < units; ++n)
        owned.push_back(bv::name(binary_name_t::local_name(n + 1)));
    binary_unit_layout_t root = { 1, binary_name_t::local_name(0xFFFFFFFFu), {} };
    for (const field_t& field : unit_fields(0))
        root.values.push_back(field.code == 58 ? bv::array(owned) : field.value);
    file.add(root);
    for (uint32_t n = 0; n < units; ++n)
    {
        binary_unit_layout_t unit = { 1, binary_name_t::local_name(n + 1), {} };
        for (field_t& field : unit_fields(n))
            unit.values.push_back(std::move(field.value));
        file.add(unit);
    }
    return file.encode();
}

void load_generated_binary_file(benchmark::State& state)
{
    unit_bank_t bank;
    if (!unit_test_types::register_all(&bank))
    {
        state.SkipWithError("registering the unit types failed");
        return;
    }
    auto_ptr_t<unit_system_t> system(new unit_system_t(&bank));
    binary_bytes_t bytes = generate(uint32_t(state.range(0)));
    if (state.range(1) != 0)
        bytes = scramble_unit_file(bytes, 77);
    for (auto _ : state)
    {
        unit_load_t load(system.get(), nullptr, "bench.bqsd");
        if (!load.load_units_from_memory(reinterpret_cast<const char*>(bytes.data()),
                                         uint32_t(bytes.size()), "bench.bqsd", UNKNOWNFS,
                                         "bench.bqsd"))
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
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
    state.counters["MB/s"] = benchmark::Counter(double(bytes.size()) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"] = double(bytes.size()) / 1e6;
}

}  // namespace

// 18500 units make about 10 MB; the second argument selects the scrambled container.
BENCHMARK(load_generated_binary_file)
    ->Args({ 18500, 0 })
    ->Args({ 18500, 1 })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv)
{
    core_startup();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    core_shutdown();
    return 0;
}
