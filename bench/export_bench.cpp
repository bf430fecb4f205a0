// The export for other engines against the run without it: DejaVu Sans, every code point the
// font maps, at 32 px, as a whole process, written with all four BMFont flavours and PNG pages
// and without export_formats, in turn (without, with, without, ...) so that a drifting machine
// moves both. Counters: without_ms and with_ms (medians), ratio = with_ms / without_ms (target:
// at most 2.0). Also one 2048 x 2048 alpha page through write_png_page alone (page_2048).
#include "ovcore/core.h"
#include "tools/font_generator/export/png_pages.h"
#include "tools/font_generator/model/font_canvas.h"

#include "bench/tool_process.h"

#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Every code the font maps, one "U+XXXX" line each; the configuration's path.
std::string write_configuration(const char* name, bool exported)
{
    const std::string directory = bench_work_directory();
    const std::string characters = directory + "/all.chars";
    if (!std::filesystem::exists(characters))
    {
        FT_Library library;
        FT_Face face;
        if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, dejavu_sans, 0, &face) != 0)
            std::abort();
        std::ofstream out(characters);
        FT_UInt index = 0;
        FT_ULong code = FT_Get_First_Char(face, &index);
        while (index != 0)
        {
            char line[16];
            std::snprintf(line, sizeof line, "U+%04lX\n", code);
            out << line;
            code = FT_Get_Next_Char(face, code, &index);
        }
        FT_Done_Face(face);
        FT_Done_FreeType(library);
    }
    const std::string configuration = directory + "/" + name + ".qsd";
    std::ofstream out(configuration);
    out << "QsdNunit\n{\nconfiguration : .config {\n    base: \"" << directory << "/" << name
        << "/\"\n    output: \"font\"\n";
    if (exported)
        out << "    export_formats: 4\n    export_formats[0]: \"bmfont_text\"\n"
               "    export_formats[1]: \"bmfont_xml\"\n    export_formats[2]: \"bmfont_binary\"\n"
               "    export_formats[3]: \"bmfont_json\"\n";
    out << "    char_config: 1\n    char_config[0]: .chars.all\n}\n"
           "char_set_config : .chars.all {\n    font_file: \""
        << dejavu_sans << "\"\n    character_set_file: \"" << characters
        << "\"\n    width: 32\n    height: 32\n}\n}\n";
    return configuration;
}

// Seconds of one whole run of the tool; the benchmark fails when the run does.
double time_run(const std::string& configuration, benchmark::State& state)
{
    long peak_kib = 0;
    const double seconds = run_tool(configuration, &peak_kib);
    if (seconds < 0)
        state.SkipWithError("the tool failed");
    return seconds;
}

void dejavu_sans_all_32px_every_flavour(benchmark::State& state)
{
    const std::string without = write_configuration("without", false);
    const std::string with = write_configuration("with", true);
    std::vector<double> without_seconds;
    std::vector<double> with_seconds;
    for (auto _ : state)
    {
        without_seconds.push_back(time_run(without, state));
        with_seconds.push_back(time_run(with, state));
    }
    state.counters["without_ms"] = median(without_seconds) * 1e3;
    state.counters["with_ms"] = median(with_seconds) * 1e3;
    state.counters["ratio"] = median(with_seconds) / median(without_seconds);
}
BENCHMARK(dejavu_sans_all_32px_every_flavour)->Iterations(11)->Unit(benchmark::kMillisecond);

// A page as large sets give it: glyph-like blocks of coverage on an empty ground.
void page_2048(benchmark::State& state)
{
    auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{});
    if (!canvas || !canvas->resize_and_clear(2048, 2048))
        std::abort();
    for (uint32_t y = 0; y < 2048; ++y)
        for (uint32_t x = 0; x < 2048; ++x)
            if (x % 40 < 30 && y % 40 < 34)
                canvas->pixels[canvas->pixel_offset(x, y)] = uint8_t((x * 7 + y * 13) % 256);
    const std::string path = bench_work_directory() + "/page.png";
    for (auto _ : state)
        if (!write_png_page(path.c_str(), *canvas, page_channels_t::white_alpha, 2048, 2048))
            state.SkipWithError("the page was not written");
}
BENCHMARK(page_2048)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    return run_tool_benchmarks(argc, argv);
}
