// Unit system costs: creating and releasing units, naming them, finding them by name, cloning.
#include "ovcore/core.h"
#include "ovcore/units/unit_attr_storage.h"
#include "ovcore/units/unit_name.h"
#include "ovcore/units/unit_system.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <new>
#include <vector>

namespace
{
class bench_u final : public unit_t
{
public:
    static const unit_descriptor_t descriptor;
    explicit bench_u(unit_system_t* system) : unit_t(system) {}
    const unit_descriptor_t* get_descriptor() const override { return &descriptor; }
    static unit_t* create(unit_system_t* system) { return new (std::nothrow) bench_u(system); }

    string_dyn_t path{ "fonts/DejaVuSans.ttf" };
    uint32_t width = 12;
    float scale = 1.0f;
    array_dyn_t<int32_t> values;
};

const unit_attribute_t bench_attributes[] = {
    OV_UNIT_ATTRIBUTE(bench_u, path, string, nullptr, "path"),
    OV_UNIT_ATTRIBUTE(bench_u, width, u32, nullptr, "width"),
    OV_UNIT_ATTRIBUTE(bench_u, scale, float1, nullptr, "scale"),
    OV_UNIT_ATTRIBUTE(bench_u, values, s32_array, nullptr, "values"),
    OV_UNIT_ATTRIBUTES_END,
};
}  // namespace

const unit_descriptor_t bench_u::descriptor = {
    "bench", bench_u::create, unit_destroy, &unit_t::descriptor, bench_attributes,
    compute_type_name_hash("bench_u"), 0xFFFFFFFFu,
};

namespace
{
// A bank with the bench type and one unit system over it, for the benchmark's duration.
struct bench_system_t
{
    unit_bank_t bank;
    unit_system_t* system;

    bench_system_t()
    {
        (void)bank.register_type(&bench_u::descriptor);
        system = new unit_system_t(&bank);
    }
    ~bench_system_t() { delete system; }
};

void create_and_release_unit(benchmark::State& state)
{
    bench_system_t units;
    for (auto _ : state)
    {
        owner_ptr_t<unit_t> unit = units.system->create_unit_by_type_name("bench");
        benchmark::DoNotOptimize(unit.get());
        unit.reset();
        unit_flush_pending_releases();
    }
}
BENCHMARK(create_and_release_unit);

// Names a fresh unit and releases it again, with `range(0)` other names in the table.
void name_and_release(benchmark::State& state)
{
    bench_system_t units;
    std::vector<owner_ptr_t<unit_t>> others;
    array_dyn_t<token_t> tokens;
    char text[48];
    for (int64_t i = 0; i < state.range(0); ++i)
    {
        others.push_back(units.system->create_unit(&bench_u::descriptor));
        std::snprintf(text, sizeof(text), "font.set%lld.glyphs", static_cast<long long>(i));
        (void)unit_name_parse(text, &tokens);
        (void)unit_name_create_name(tokens, others.back().get());
    }
    owner_ptr_t<unit_t> unit = units.system->create_unit(&bench_u::descriptor);
    (void)unit_name_parse("font.latin.small", &tokens);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(unit_name_create_name(tokens, unit.get()));
        (void)unit_name_release(unit->name_id());
        unit->set_name_id(0);
    }
}
BENCHMARK(name_and_release)->Arg(0)->Arg(10000);

// Finds a unit by its name text among `range(0)` names.
void find_by_name(benchmark::State& state)
{
    bench_system_t units;
    std::vector<owner_ptr_t<unit_t>> named;
    array_dyn_t<token_t> tokens;
    char text[48];
    for (int64_t i = 0; i < state.range(0); ++i)
    {
        named.push_back(units.system->create_unit(&bench_u::descriptor));
        std::snprintf(text, sizeof(text), "font.set%lld.glyphs", static_cast<long long>(i));
        (void)unit_name_parse(text, &tokens);
        (void)unit_name_create_name(tokens, named.back().get());
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(unit_name_find_unit("font.set7.glyphs"));
}
BENCHMARK(find_by_name)->Arg(100)->Arg(10000);

void clone_unit(benchmark::State& state)
{
    bench_system_t units;
    owner_ptr_t<unit_t> original = units.system->create_unit(&bench_u::descriptor);
    for (int32_t i = 0; i < 16; ++i)
        (void)static_cast<bench_u*>(original.get())->values.append(i);
    for (auto _ : state)
    {
        owner_ptr_t<unit_t> copy = original->clone();
        benchmark::DoNotOptimize(copy.get());
        copy.reset();
        unit_flush_pending_releases();
    }
}
BENCHMARK(clone_unit);
}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    core_startup();
    benchmark::RunSpecifiedBenchmarks();
    core_shutdown();
    benchmark::Shutdown();
    return 0;
}
