// Laying out one set on pictures: WenQuanYi Micro Hei's CJK block (U+4E00 to U+9FFF) at 16 px,
// measured once, then laid out on one picture of up to 8192 × 8192 and on as many pictures of
// at most 32, 64 and 256 pixels a side as it takes. Laying out many pictures must cost about
// what one picture costs: the packer goes over the glyphs once, whatever the picture count.
// Counters: pictures, and ratio = the time against the one-picture layout's.
#include "ovcore/core.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/faces/glyph_measuring.h"
#include "tools/font_generator/packing/glyph_packing.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace
{

const char wqy_microhei[] = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

// The measured set, made once.
const character_set_t* measured_set()
{
    static character_set_t set;
    static bool made = false;
    if (made)
        return &set;
    made = true;
    FT_LibraryRec_* library = nullptr;
    FT_FaceRec_* face = nullptr;
    font_face_settings_t settings;
    settings.font_file = wqy_microhei;
    settings.width = settings.height = 16;
    if (!start_freetype(&library) || !open_font_face(library, settings, &face))
        return nullptr;
    for (uint32_t code = 0x4E00; code <= 0x9FFF; ++code)
    {
        font_glyph_t glyph;
        glyph.code = code;
        (void)set.glyphs.append(std::move(glyph));
    }
    (void)measure_glyphs(&set, face, glyph_render_settings_t{}, nullptr, nullptr);
    close_font_face(face);
    shut_down_freetype(library);
    return &set;
}

double lay_out_seconds(uint32_t side, uint32_t* pictures)
{
    character_set_t set(*measured_set());
    array_dyn_t<uint32_t> order;
    array_dyn_t<picture_size_t> sizes;
    (void)sort_glyphs_for_packing(set, &order);
    const auto start = std::chrono::steady_clock::now();
    const bool laid_out = lay_out_pictures(&set, order, picture_limits_t{ side, side < 8192 },
                                           &sizes);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    *pictures = laid_out ? sizes.size() : 0;
    return took.count();
}

double best_of(int runs, uint32_t side, uint32_t* pictures)
{
    double best = 1e9;
    for (int run = 0; run < runs; ++run)
        best = std::min(best, lay_out_seconds(side, pictures));
    return best;
}

void lay_out_cjk_16px(benchmark::State& state)
{
    const uint32_t side = uint32_t(state.range(0));
    if (measured_set() == nullptr)
    {
        state.SkipWithError("WenQuanYi Micro Hei (fonts-wqy-microhei) is not installed");
        return;
    }
    uint32_t one = 0;
    uint32_t pictures = 0;
    for (auto _ : state)
    {
        const double single = best_of(5, 8192, &one);
        const double seconds = best_of(5, side, &pictures);
        state.SetIterationTime(seconds);
        state.counters["one_picture_ms"] = single * 1e3;
        state.counters["ratio"] = seconds / single;
    }
    state.counters["pictures"] = pictures;
    state.counters["glyphs"] = double(measured_set()->glyphs.size());
}

}  // namespace

BENCHMARK(lay_out_cjk_16px)
    ->Arg(8192)
    ->Arg(256)
    ->Arg(64)
    ->Arg(32)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    core_startup();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    core_shutdown();
    return 0;
}
