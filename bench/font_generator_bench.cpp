// The whole tool against the FreeType work it cannot avoid. For each set, one run measures:
// - the tool: `font_generator <configuration>` as a whole process, start-up included, with its
//   peak resident memory (started by a small launcher process, see start_launcher);
// - the same run inside this process (font_generator's main after one core start-up), which
//   leaves out what starting a process costs;
// - the literal FreeType work in this process: open the face, load and render every glyph twice
//   (measuring flags, then drawing flags), and query every ordered pair of the set for kerning
//   with both glyph indices looked up per pair (skipped for a set whose first code lies above
//   U+3000, as the tool skips it). The cases with OpenType kerning measure the tool's kerning
//   by shaping against the same literal work; the CJK case at 64 px puts its set on several
//   pictures.
// The tool measures and draws large sets on the worker pool as well as the main thread; the
// helpers_against_main_thread_alone cases time sets of growing size both ways in this process,
// which is where glyph_helper_threshold comes from.
// Counters: tool_ms and literal_ms (medians), ratio = tool_ms / literal_ms, ratio_best (the
// fastest run of each, for a machine busy with other work), peak_mib (the tool's largest
// peak), canvas_mib (the final pictures' pixel bytes), over_canvas_mib = peak_mib -
// canvas_mib, and in_process_ms with in_process_ratio for the run inside this process.
#include "ovcore/core.h"
#include "tools/font_generator/faces/glyph_workers.h"
#include "tools/font_generator/main.h"

#include "bench/tool_process.h"

#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char unifont[] = "/usr/share/fonts/opentype/unifont/unifont.otf";
const char wqy_microhei[] = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

using clock_type = std::chrono::steady_clock;

struct set_case_t
{
    const char* name;
    const char* font;
    uint32_t pixels;
    uint32_t first_code;  // every code the font maps from here to last_code
    uint32_t last_code;
    const char* character_set_file;  // instead of the mapped codes, when not null
    int runs;
    bool opentype_kerning = false;  // the tool's kerning by shaping; the literal work stays
    bool several_pictures = false;  // the set may take more than one picture
};

const set_case_t cases[] = {
    { "dejavu_sans_all_32px", dejavu_sans, 32, 0, 0x10FFFF, nullptr, 5 },
    { "dejavu_sans_all_64px", dejavu_sans, 64, 0, 0x10FFFF, nullptr, 5 },
    { "latin1_16px", dejavu_sans, 16, 0, 0, OV_SOURCE_DIR "/etc/font/latin1.chars", 31 },
    { "unifont_above_u3000_16px", unifont, 16, 0x3000, 0x10FFFF, nullptr, 3 },
    { "dejavu_sans_all_32px_opentype_kerning", dejavu_sans, 32, 0, 0x10FFFF, nullptr, 5, true },
    { "latin1_16px_opentype_kerning", dejavu_sans, 16, 0, 0,
      OV_SOURCE_DIR "/etc/font/latin1.chars", 31, true },
    { "wqy_cjk_32px", wqy_microhei, 32, 0x4E00, 0x9FFF, nullptr, 3 },
    { "wqy_cjk_64px_several_pictures", wqy_microhei, 64, 0x4E00, 0x9FFF, nullptr, 3, false,
      true },
};

// The codes of the set, in file order, as the tool reads them.
std::vector<uint32_t> codes_of(const set_case_t& c)
{
    std::vector<uint32_t> codes;
    if (c.character_set_file != nullptr)
    {
        std::ifstream in(c.character_set_file);
        std::string line;
        while (std::getline(in, line))
        {
            unsigned code = 0;
            if (line.rfind("U+", 0) == 0 && std::sscanf(line.c_str(), "U+%x", &code) == 1)
                codes.push_back(code);
        }
        return codes;
    }
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, c.font, 0, &face) != 0)
        std::abort();
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    FT_UInt index = 0;
    for (FT_ULong code = FT_Get_First_Char(face, &index); index != 0;
         code = FT_Get_Next_Char(face, code, &index))
        if (code >= c.first_code && code <= c.last_code)
            codes.push_back(uint32_t(code));
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return codes;
}

// Writes the character-set file and the configuration; returns the configuration's path.
std::string write_inputs(const set_case_t& c, const std::vector<uint32_t>& codes)
{
    const std::string directory = bench_work_directory();
    std::string characters = c.character_set_file != nullptr ? c.character_set_file : "";
    if (characters.empty())
    {
        characters = directory + "/" + c.name + ".chars";
        std::ofstream out(characters);
        char line[32];
        for (uint32_t code : codes)
        {
            std::snprintf(line, sizeof(line), "U+%04X\n", code);
            out << line;
        }
    }
    const std::string configuration = directory + "/" + c.name + ".qsd";
    std::ofstream out(configuration);
    out << "QsdNunit\n{\n"
        << "configuration : .config {\n"
        << "    base: \"" << directory << "/out_" << c.name << "/\"\n"
        << "    output: \"font\"\n"
        << "    char_config: 1\n"
        << "    char_config[0]: .chars.set\n"
        << "}\n"
        << "char_set_config : .chars.set {\n"
        << "    font_file: \"" << c.font << "\"\n"
        << "    character_set_file: \"" << characters << "\"\n"
        << "    width: " << c.pixels << "\n"
        << "    height: " << c.pixels << "\n"
        << (c.opentype_kerning ? "    opentype_kerning: true\n" : "")
        << (c.several_pictures ? "    several_pictures: true\n" : "")
        << "}\n}\n";
    return configuration;
}

// Runs the tool's main inside this process, its messages discarded; seconds, negative on failure.
double run_in_process(const std::string& configuration)
{
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    const char* arguments[] = { "font_generator", configuration.c_str() };
    const auto start = clock_type::now();
    const int status = font_generator::main(2, arguments);
    const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(null);
    return status == 0 ? seconds : -1;
}

// The FreeType work of the set done the literal way; seconds.
double literal_freetype_work(const set_case_t& c, const std::vector<uint32_t>& codes)
{
    const auto start = clock_type::now();
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, c.font, 0, &face) != 0)
        std::abort();
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    FT_Set_Pixel_Sizes(face, c.pixels, c.pixels);
    FT_Matrix identity = { 0x10000, 0, 0, 0x10000 };
    FT_Set_Transform(face, &identity, nullptr);
    std::vector<bool> loaded(codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i)
        loaded[i] = FT_Get_Char_Index(face, codes[i]) != 0 &&
                    FT_Load_Char(face, codes[i], FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT |
                                                     FT_LOAD_PEDANTIC) == 0;
    for (std::size_t i = 0; i < codes.size(); ++i)
        if (loaded[i])
            FT_Load_Char(face, codes[i], FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT);
    long kerned = 0;
    if (FT_HAS_KERNING(face) && !codes.empty() && codes[0] <= 0x3000)
        for (uint32_t a : codes)
            for (uint32_t b : codes)
            {
                FT_Vector kerning;
                FT_Get_Kerning(face, FT_Get_Char_Index(face, a), FT_Get_Char_Index(face, b),
                               FT_KERNING_DEFAULT, &kerning);
                kerned += (kerning.x >> 6) != 0;
            }
    benchmark::DoNotOptimize(kerned);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Pixel bytes of the final pictures, from the description's image lines (one byte a pixel).
double canvas_bytes(const set_case_t& c)
{
    std::ifstream in(bench_work_directory() + "/out_" + c.name + "/font.font");
    std::string line;
    double bytes = 0;
    while (std::getline(in, line))
    {
        unsigned width = 0;
        unsigned height = 0;
        const std::size_t comma = line.find(", ");
        if (line.rfind("image:", 0) == 0 && comma != std::string::npos &&
            std::sscanf(line.c_str() + comma, ", %u, %u", &width, &height) == 2)
            bytes += double(width) * height;
    }
    return bytes;
}

void whole_tool_against_literal_freetype(benchmark::State& state, const set_case_t* c)
{
    const std::vector<uint32_t> codes = codes_of(*c);
    const std::string configuration = write_inputs(*c, codes);
    std::vector<double> tool;
    std::vector<double> in_process;
    std::vector<double> literal;
    long peak_kib = 0;
    for (auto _ : state)
    {
        for (int run = 0; run < c->runs; ++run)
        {
            const double seconds = run_tool(configuration, &peak_kib);
            if (seconds < 0)
            {
                state.SkipWithError("font_generator failed");
                return;
            }
            tool.push_back(seconds);
            in_process.push_back(run_in_process(configuration));
            literal.push_back(literal_freetype_work(*c, codes));
        }
        state.SetIterationTime(median(tool));
    }
    const double mib = 1024.0 * 1024.0;
    const double canvas_mib = canvas_bytes(*c) / mib;
    state.counters["glyphs"] = double(codes.size());
    state.counters["tool_ms"] = median(tool) * 1e3;
    state.counters["literal_ms"] = median(literal) * 1e3;
    state.counters["ratio"] = median(tool) / median(literal);
    state.counters["ratio_best"] = *std::min_element(tool.begin(), tool.end()) /
                                   *std::min_element(literal.begin(), literal.end());
    state.counters["in_process_ms"] = median(in_process) * 1e3;
    state.counters["in_process_ratio"] = median(in_process) / median(literal);
    state.counters["peak_mib"] = double(peak_kib) / 1024.0;
    state.counters["canvas_mib"] = canvas_mib;
    state.counters["over_canvas_mib"] = double(peak_kib) / 1024.0 - canvas_mib;
}

// The first N code points DejaVu Sans maps, at 16 px, run inside this process with helpers and
// on the main thread alone: where helpers begin to pay for what getting them ready costs.
void helpers_against_main_thread_alone(benchmark::State& state)
{
    const uint32_t count = uint32_t(state.range(0));
    static std::vector<std::string> names;  // set_case_t keeps the name's pointer
    names.push_back("threshold_" + std::to_string(count));
    const set_case_t c{ names.back().c_str(), dejavu_sans, 16, 0, 0x10FFFF, nullptr, 15 };
    std::vector<uint32_t> codes = codes_of(c);
    codes.resize(std::min<std::size_t>(codes.size(), count));
    const std::string configuration = write_inputs(c, codes);
    const uint32_t saved = glyph_helper_threshold;
    std::vector<double> alone;
    std::vector<double> spread;
    for (auto _ : state)
    {
        for (int run = 0; run < c.runs; ++run)
        {
            glyph_helper_threshold = UINT32_MAX;
            alone.push_back(run_in_process(configuration));
            glyph_helper_threshold = 0;
            spread.push_back(run_in_process(configuration));
        }
        state.SetIterationTime(median(spread));
    }
    glyph_helper_threshold = saved;
    state.counters["glyphs"] = double(codes.size());
    state.counters["alone_ms"] = median(alone) * 1e3;
    state.counters["helpers_ms"] = median(spread) * 1e3;
    state.counters["ratio"] = median(spread) / median(alone);
}

void register_cases()
{
    for (const set_case_t& c : cases)
        benchmark::RegisterBenchmark(c.name, whole_tool_against_literal_freetype, &c)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("helpers_against_main_thread_alone",
                                 helpers_against_main_thread_alone)
        ->Args({ 64 })
        ->Args({ 256 })
        ->Args({ 512 })
        ->Args({ 1024 })
        ->Args({ 1536 })
        ->Args({ 2048 })
        ->Args({ 4096 })
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv)
{
    return run_tool_benchmarks(argc, argv, register_cases);
}
