// Multi-channel distance fields: the shape a shader gets back, and what the fields cost.
// - shape/<font>/<pixels>: printable ASCII (94 glyphs), each glyph's field on its own cell,
//   each channel sampled bilinearly at the centres of an 8 × 8 grid in every picture pixel
//   (texel centres at +0.5, clamped at the cell's edge), the median thresholded at one half,
//   against the nonzero fill of the unhinted outline at the same points. An artifact is a wrong
//   point farther than 1 px from the outline; the wrong area counts wrong points farther than
//   1/32 px, in px²; the corner error is the wrong area within 1.5 px of a corner of the filled
//   region (a turn above 30°, or contours crossing at more than 30°) over the corners. For
//   "msdf" (whose channels "mtsdf" shares) and, as a yardstick, "sdf" read the same way.
//   Targets: no artifact glyph; at 32 px a corner error of at most 0.005 px² on DejaVu Sans and
//   0.015 px² on Inter; a wrong area of at most 5 and 15 px². Also the build time per glyph.
// - runs/dejavu_all_32px: whole `font_generator` processes on DejaVu Sans, all its code points,
//   32 px, range 4, "sdf", "msdf" and "mtsdf" in turn. Targets: msdf at most 2.5 times sdf,
//   mtsdf at most 3 times.
#include "ovcore/core.h"
#include "tools/font_generator/faces/multi_channel_field.h"

#include "bench/outline_reference.h"
#include "bench/tool_process.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char noto_sans[] = "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf";
const char inter_roman[] = "/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf";

using clock_type = std::chrono::steady_clock;

// ---- the outline, exactly -----------------------------------------------------------------------

// Segments in buckets of one pixel, for the distance of the few wrong points.
struct outline_index_t
{
    std::vector<segment_t> segments;
    int32_t left = 0;
    int32_t bottom = 0;
    int32_t columns = 0;
    int32_t rows = 0;
    std::vector<std::vector<uint32_t>> buckets;

    explicit outline_index_t(std::vector<segment_t> all) : segments(std::move(all))
    {
        double x0 = 1e30, y0 = 1e30, x1 = -1e30, y1 = -1e30;
        for (const segment_t& s : segments)
        {
            x0 = std::min({ x0, s.a.x, s.b.x });
            y0 = std::min({ y0, s.a.y, s.b.y });
            x1 = std::max({ x1, s.a.x, s.b.x });
            y1 = std::max({ y1, s.a.y, s.b.y });
        }
        if (segments.empty())
            return;
        left = int32_t(std::floor(x0));
        bottom = int32_t(std::floor(y0));
        columns = int32_t(std::floor(x1)) - left + 1;
        rows = int32_t(std::floor(y1)) - bottom + 1;
        buckets.resize(std::size_t(columns) * rows);
        for (uint32_t k = 0; k < segments.size(); ++k)
        {
            const segment_t& s = segments[k];
            const int32_t c0 = int32_t(std::floor(std::min(s.a.x, s.b.x))) - left;
            const int32_t c1 = int32_t(std::floor(std::max(s.a.x, s.b.x))) - left;
            const int32_t r0 = int32_t(std::floor(std::min(s.a.y, s.b.y))) - bottom;
            const int32_t r1 = int32_t(std::floor(std::max(s.a.y, s.b.y))) - bottom;
            for (int32_t r = r0; r <= r1; ++r)
                for (int32_t c = c0; c <= c1; ++c)
                    buckets[std::size_t(r) * columns + c].push_back(k);
        }
    }

    // The distance to the outline, or 2 when it is more than 1 px.
    double distance(point_t p) const
    {
        double nearest = 4;
        const int32_t c = int32_t(std::floor(p.x)) - left;
        const int32_t r = int32_t(std::floor(p.y)) - bottom;
        for (int32_t rr = std::max(r - 1, 0); rr <= std::min(r + 1, rows - 1); ++rr)
            for (int32_t cc = std::max(c - 1, 0); cc <= std::min(c + 1, columns - 1); ++cc)
                for (uint32_t k : buckets[std::size_t(rr) * columns + cc])
                {
                    const segment_t& s = segments[k];
                    const double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y;
                    const double t = std::clamp(
                        ((p.x - s.a.x) * dx + (p.y - s.a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
                    const double ex = s.a.x + t * dx - p.x, ey = s.a.y + t * dy - p.y;
                    nearest = std::min(nearest, ex * ex + ey * ey);
                }
        return nearest > 1 ? 2 : std::sqrt(nearest);
    }

    int winding(point_t p) const
    {
        std::vector<const segment_t*> all;
        for (const segment_t& s : segments)
            all.push_back(&s);
        return winding_at(all, p);
    }
};

// Corners of the filled region: the outline's own where the fill lies on one side only, and
// crossings of contours at more than 30° that lie on its boundary.
std::vector<point_t> region_corners(const flattener_t& f, const outline_index_t& index)
{
    const auto on_boundary = [&](point_t p) {
        bool in = false, out = false;
        for (int k = 0; k < 16; ++k)
        {
            const double angle = k * 3.14159265358979323846 / 8 + 0.1;
            const bool filled =
                index.winding({ p.x + 0.01 * std::cos(angle), p.y + 0.01 * std::sin(angle) }) != 0;
            in = in || filled;
            out = out || !filled;
        }
        return in && out;
    };
    std::vector<point_t> corners;
    for (const point_t& p : f.corners)
        if (on_boundary(p))
            corners.push_back(p);
    const std::vector<segment_t>& s = f.segments;
    for (std::size_t i = 0; i < s.size(); ++i)
        for (std::size_t j = i + 1; j < s.size(); ++j)
        {
            if (s[i].contour == s[j].contour)
                continue;
            const double dx1 = s[i].b.x - s[i].a.x, dy1 = s[i].b.y - s[i].a.y;
            const double dx2 = s[j].b.x - s[j].a.x, dy2 = s[j].b.y - s[j].a.y;
            if (std::max(s[i].a.x, s[i].b.x) < std::min(s[j].a.x, s[j].b.x) ||
                std::max(s[j].a.x, s[j].b.x) < std::min(s[i].a.x, s[i].b.x) ||
                std::max(s[i].a.y, s[i].b.y) < std::min(s[j].a.y, s[j].b.y) ||
                std::max(s[j].a.y, s[j].b.y) < std::min(s[i].a.y, s[i].b.y))
                continue;
            const double denominator = dx1 * dy2 - dy1 * dx2;
            if (denominator == 0)
                continue;
            const double ex = s[j].a.x - s[i].a.x, ey = s[j].a.y - s[i].a.y;
            const double u = (ex * dy2 - ey * dx2) / denominator;
            const double v = (ex * dy1 - ey * dx1) / denominator;
            if (u < 0 || u >= 1 || v < 0 || v >= 1)
                continue;
            const double sine =
                std::fabs(denominator) / (std::hypot(dx1, dy1) * std::hypot(dx2, dy2));
            const point_t p{ s[i].a.x + u * dx1, s[i].a.y + u * dy1 };
            if (sine > 0.5 && on_boundary(p))
                corners.push_back(p);
        }
    return corners;
}

// ---- the shape a shader gets back ---------------------------------------------------------------

struct shape_t
{
    uint32_t artifact_glyphs = 0;
    std::string artifact_codes;
    double wrong_area = 0;
    double corner_area = 0;
    uint32_t corners = 0;
    double build_seconds = 0;
};

// Measures one glyph's field, read as three channels (`pixel` bytes apart) or as one.
void measure_glyph(const multi_channel_field_t& field, bool single, const flattener_t& f,
                   const outline_index_t& index, const std::vector<point_t>& corners, uint32_t code,
                   shape_t* shape)
{
    const distance_cell_t& cell = field.cell();
    const glyph_bitmap_t values = single ? field.exact().values() : field.values();
    const int32_t pixel = single ? 1 : 4;
    const int samples = 8;
    const auto channel_at = [&](int32_t c, int32_t r, int channel) {
        return double(
            values.top_row[int64_t(r) * values.pitch + pixel * c + (single ? 0 : channel)]);
    };
    bool artifact = false;
    std::vector<std::pair<double, int>> crossings;
    for (int32_t r = 0; r < cell.rows; ++r)
        for (int j = 0; j < samples; ++j)
        {
            const double y = cell.top - r - (j + 0.5) / samples;
            crossings.clear();
            for (const segment_t& s : f.segments)
            {
                const bool up = s.a.y <= y && s.b.y > y;
                const bool down = s.b.y <= y && s.a.y > y;
                if (up || down)
                    crossings.push_back(
                        { s.a.x + (y - s.a.y) * (s.b.x - s.a.x) / (s.b.y - s.a.y), up ? 1 : -1 });
            }
            std::sort(crossings.begin(), crossings.end());
            int right = 0;
            for (const auto& crossing : crossings)
                right += crossing.second;
            std::size_t next = 0;
            const double v = std::clamp(r + (j + 0.5) / samples - 0.5, 0.0, double(cell.rows - 1));
            const int32_t r0 = std::min(int32_t(v), cell.rows - 1);
            const int32_t r1 = std::min(r0 + 1, cell.rows - 1);
            const double fv = v - r0;
            for (int32_t c = 0; c < cell.width; ++c)
                for (int i = 0; i < samples; ++i)
                {
                    const double x = cell.left + c + (i + 0.5) / samples;
                    while (next < crossings.size() && crossings[next].first <= x)
                        right -= crossings[next++].second;
                    const double u =
                        std::clamp(c + (i + 0.5) / samples - 0.5, 0.0, double(cell.width - 1));
                    const int32_t c0 = std::min(int32_t(u), cell.width - 1);
                    const int32_t c1 = std::min(c0 + 1, cell.width - 1);
                    const double fu = u - c0;
                    double channel[3];
                    for (int k = 0; k < 3; ++k)
                        channel[k] =
                            (channel_at(c0, r0, k) * (1 - fu) + channel_at(c1, r0, k) * fu) *
                                (1 - fv) +
                            (channel_at(c0, r1, k) * (1 - fu) + channel_at(c1, r1, k) * fu) * fv;
                    const double median =
                        std::max(std::min(channel[0], channel[1]),
                                 std::min(std::max(channel[0], channel[1]), channel[2]));
                    if ((median / 255 >= 0.5) == (right != 0))
                        continue;
                    const point_t p{ x, y };
                    const double distance = index.distance(p);
                    if (distance <= 1.0 / 32)
                        continue;
                    const double area = 1.0 / (samples * samples);
                    shape->wrong_area += area;
                    artifact = artifact || distance > 1;
                    for (const point_t& corner : corners)
                        if (std::hypot(corner.x - x, corner.y - y) <= 1.5)
                        {
                            shape->corner_area += area;
                            break;
                        }
                }
        }
    if (artifact)
    {
        ++shape->artifact_glyphs;
        char text[16];
        std::snprintf(text, sizeof text, " U+%04X", code);
        shape->artifact_codes += text;
    }
}

void shape(benchmark::State& state, const char* font)
{
    const uint32_t pixels = uint32_t(state.range(0));
    const float range = float(pixels) / 8;
    const char* font_name = std::strrchr(font, '/') + 1;
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, font, 0, &face) != 0)
    {
        state.SkipWithError("no font");
        return;
    }
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    FT_Set_Pixel_Sizes(face, pixels, pixels);
    multi_channel_field_t field;
    shape_t multi;
    shape_t single;
    uint32_t glyphs = 0;
    for (auto _ : state)
    {
        for (uint32_t code = 0x21; code <= 0x7E; ++code)
        {
            const FT_UInt index = FT_Get_Char_Index(face, code);
            if (index == 0 ||
                FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0 ||
                face->glyph->format != FT_GLYPH_FORMAT_OUTLINE ||
                face->glyph->outline.n_contours == 0)
                continue;
            ++glyphs;
            const auto start = clock_type::now();
            if (!field.build(face->glyph->outline, range, distance_field_type_t::sdf))
                std::abort();
            const auto middle = clock_type::now();
            if (!field.build(face->glyph->outline, range, distance_field_type_t::msdf) ||
                !field.has_values())
                std::abort();
            const auto end = clock_type::now();
            single.build_seconds += std::chrono::duration<double>(middle - start).count();
            multi.build_seconds += std::chrono::duration<double>(end - middle).count();
            const flattener_t f = flatten_outline(face->glyph->outline);
            const outline_index_t outline(f.segments);
            const std::vector<point_t> corners = region_corners(f, outline);
            multi.corners += uint32_t(corners.size());
            single.corners += uint32_t(corners.size());
            measure_glyph(field, false, f, outline, corners, code, &multi);
            measure_glyph(field, true, f, outline, corners, code, &single);
        }
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    for (const auto& [name, s] : { std::pair<const char*, const shape_t*>{ "msdf", &multi },
                                   std::pair<const char*, const shape_t*>{ "sdf", &single } })
        std::fprintf(stderr,
                     "%s %upx range %g %s: artifact glyphs %u%s; wrong area %.3f px²; corner "
                     "error %.4f px² over %u corners; build %.3f ms a glyph\n",
                     font_name, pixels, double(range), name, s->artifact_glyphs,
                     s->artifact_codes.c_str(), s->wrong_area,
                     s->corners > 0 ? s->corner_area / s->corners : 0.0, s->corners,
                     s->build_seconds * 1e3 / std::max(glyphs, 1u));
    state.counters["glyphs"] = glyphs;
    state.counters["artifacts"] = multi.artifact_glyphs;
    state.counters["wrong_px2"] = multi.wrong_area;
    state.counters["corner_px2"] = multi.corners > 0 ? multi.corner_area / multi.corners : 0;
    state.counters["sdf_wrong_px2"] = single.wrong_area;
    state.counters["sdf_corner_px2"] = single.corners > 0 ? single.corner_area / single.corners : 0;
    state.counters["msdf_ms_per_glyph"] = multi.build_seconds * 1e3 / std::max(glyphs, 1u);
    state.counters["sdf_ms_per_glyph"] = single.build_seconds * 1e3 / std::max(glyphs, 1u);
}

void register_shapes()
{
    const std::pair<const char*, const char*> fonts[] = {
        { "dejavu_sans", dejavu_sans },
        { "noto_sans", noto_sans },
        { "inter_roman", inter_roman },
    };
    for (const auto& [name, path] : fonts)
        benchmark::RegisterBenchmark((std::string("shape/") + name).c_str(), shape, path)
            ->ArgNames({ "px" })
            ->Args({ 16 })
            ->Args({ 32 })
            ->Args({ 64 })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
}

// ---- whole runs ---------------------------------------------------------------------------------

std::string write_run_configuration(const char* type)
{
    const std::string directory = bench_work_directory();
    const std::string output = directory + "/out_" + type;
    std::filesystem::create_directories(output);
    const std::string path = directory + "/" + type + ".qsd";
    std::ofstream out(path);
    out << "QsdNunit\n{\nconfiguration : .config {\n"
        << "    base: \"" << output << "/\"\n"
        << "    output: \"font\"\n    char_config: 1\n    char_config[0]: .chars.set\n}\n"
        << "char_set_config : .chars.set {\n"
        << "    font_file: \"" << dejavu_sans << "\"\n"
        << "    character_ranges: 1\n    character_ranges[0]: \"U+0020-U+10FFFF\"\n"
        << "    width: 32\n    height: 32\n"
        << "    distance_field: true\n    distance_range: 4\n"
        << "    distance_field_type: \"" << type << "\"\n}\n}\n";
    return path;
}

void dejavu_all_32px(benchmark::State& state)
{
    const char* types[] = { "sdf", "msdf", "mtsdf" };
    std::string configurations[3];
    std::vector<double> times[3];
    long peak_kib = 0;
    for (int t = 0; t < 3; ++t)
        configurations[t] = write_run_configuration(types[t]);
    const int runs = 11;
    for (auto _ : state)
    {
        for (int t = 0; t < 3; ++t)
            (void)run_tool(configurations[t], &peak_kib);
        for (int run = 0; run < runs; ++run)
            for (int t = 0; t < 3; ++t)
            {
                times[t].push_back(run_tool(configurations[t], &peak_kib));
                if (times[t].back() < 0)
                {
                    state.SkipWithError("font_generator failed");
                    return;
                }
            }
        state.SetIterationTime(median(times[1]));
    }
    double load[3] = {};
    if (getloadavg(load, 3) < 0)
        load[0] = -1;
    std::fprintf(stderr,
                 "DejaVu Sans, all code points, 32 px, range 4: sdf %.1f ms, msdf %.1f ms (%.2f "
                 "times), mtsdf %.1f ms (%.2f times); load %.2f\n",
                 median(times[0]) * 1e3, median(times[1]) * 1e3,
                 median(times[1]) / median(times[0]), median(times[2]) * 1e3,
                 median(times[2]) / median(times[0]), load[0]);
    state.counters["sdf_ms"] = median(times[0]) * 1e3;
    state.counters["msdf_ms"] = median(times[1]) * 1e3;
    state.counters["mtsdf_ms"] = median(times[2]) * 1e3;
    state.counters["msdf_ratio"] = median(times[1]) / median(times[0]);
    state.counters["mtsdf_ratio"] = median(times[2]) / median(times[0]);
    state.counters["load"] = load[0];
}
BENCHMARK(dejavu_all_32px)
    ->Name("runs/dejavu_all_32px")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv)
{
    return run_tool_benchmarks(argc, argv, register_shapes);
}
