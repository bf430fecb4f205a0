// Cost of a profiler scope: one begin and end pair on the main thread, tracing off and on.
#include "ovcore/core.h"
#include "ovcore/profiling/profiler_system.h"

#include <benchmark/benchmark.h>

namespace
{

// Hands the main thread's blocks over and recycles them, as publishing and generation would.
void recycle_main_thread_blocks()
{
    profiler_publish_current_thread();
    profiler_end_frame();
    while (trace_block_t* blocks = profiler_take_history_step())
        profiler_recycle_blocks(blocks);
}

void scope_pair_tracing_off(benchmark::State& state)
{
    profiler_set_recording(false);
    for (auto _ : state)
    {
        profiler_begin_scope("bench_scope");
        profiler_end_scope("bench_scope");
    }
}
BENCHMARK(scope_pair_tracing_off)->Repetitions(5);

// Includes the publishing and recycling of the blocks, one round per 16 blocks of pairs.
void scope_pair_tracing_on(benchmark::State& state)
{
    profiler_set_recording(true);
    uint32_t pairs = 0;
    for (auto _ : state)
    {
        profiler_begin_scope("bench_scope");
        profiler_end_scope("bench_scope");
        if (++pairs == 16 * trace_block_event_capacity / 2)
        {
            pairs = 0;
            recycle_main_thread_blocks();
        }
    }
    profiler_set_recording(false);
    recycle_main_thread_blocks();
}
BENCHMARK(scope_pair_tracing_on)->Repetitions(5);

}  // namespace

int main(int argc, char** argv)
{
    core_startup();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    core_shutdown();
    return 0;
}
