// Distance fields: what they cost and how close they come to the exact distance.
// - latin1_64px_against_freetype_sdf: `font_generator` with `distance_field: true` and
//   `distance_range: 8` on DejaVu Sans, U+0020-U+007E and U+00A0-U+00FF at 64 px, as a whole
//   process, against FreeType's sdf renderer (spread 4) rendering the same glyphs inside this
//   process, in turn. Target: ratio at most 0.2.
// - wqy_cjk_32px_field_against_coverage: WenQuanYi Micro Hei, U+4E00-U+9FFF at 32 px,
//   `several_pictures: true`, with `distance_range: 4` against the same run without a field,
//   both as processes, in turn. Targets: ratio at most 1.5, peak within the pictures + 32 MiB.
// - quality/<font>/<pixels>/<range>: printable ASCII, ours (distance_field_t) and FreeType's sdf
//   against an exact signed distance computed here by brute force over a finely flattened
//   outline, with the boundary of the nonzero-filled region found independently (edges cut at
//   every crossing, each piece kept when the winding is zero on exactly one side). Holes: pixels
//   whose centre lies 1 px or more inside that read below 128; also counted against a second,
//   FreeType-only reference (unhinted antialiased coverage 255 with all 8 neighbours at 255).
//   Errors: over pixels whose exact distance lies within the range band.
#include "ovcore/core.h"
#include "tools/font_generator/faces/distance_field.h"

#include "bench/outline_reference.h"
#include "bench/tool_process.h"

#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char noto_sans[] = "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf";
const char inter_variable[] = "/usr/share/fonts/truetype/inter-vf/Inter.var.ttf";
const char wqy_microhei[] = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

using clock_type = std::chrono::steady_clock;

// ---- the runs -----------------------------------------------------------------------------------

struct run_config_t
{
    const char* name;
    const char* font;
    uint32_t pixels;
    std::vector<std::string> ranges;
    bool distance_field;
    float range;
    bool several_pictures;
};

std::string output_folder(const run_config_t& c)
{
    return bench_work_directory() + "/out_" + c.name;
}

std::string write_configuration(const run_config_t& c)
{
    std::filesystem::create_directories(output_folder(c));
    const std::string path = bench_work_directory() + "/" + c.name + ".qsd";
    std::ofstream out(path);
    out << "QsdNunit\n{\nconfiguration : .config {\n"
        << "    base: \"" << output_folder(c) << "/\"\n"
        << "    output: \"font\"\n    char_config: 1\n    char_config[0]: .chars.set\n}\n"
        << "char_set_config : .chars.set {\n"
        << "    font_file: \"" << c.font << "\"\n"
        << "    character_ranges: " << c.ranges.size() << "\n";
    for (std::size_t k = 0; k < c.ranges.size(); ++k)
        out << "    character_ranges[" << k << "]: \"" << c.ranges[k] << "\"\n";
    out << "    width: " << c.pixels << "\n    height: " << c.pixels << "\n";
    if (c.distance_field)
        out << "    distance_field: true\n    distance_range: " << c.range << "\n";
    if (c.several_pictures)
        out << "    several_pictures: true\n";
    out << "}\n}\n";
    return path;
}

// Pixel bytes of the pictures written, from the TGA headers.
double picture_bytes(const run_config_t& c)
{
    double bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(output_folder(c)))
    {
        if (entry.path().extension() != ".tga")
            continue;
        unsigned char header[18] = {};
        std::ifstream in(entry.path(), std::ios::binary);
        if (!in.read(reinterpret_cast<char*>(header), sizeof(header)))
            continue;
        const unsigned width = header[12] | unsigned(header[13]) << 8;
        const unsigned height = header[14] | unsigned(header[15]) << 8;
        bytes += double(width) * height * (header[16] / 8);
    }
    return bytes;
}

// ---- FreeType's sdf renderer --------------------------------------------------------------------

std::vector<uint32_t> codes_of_ranges(std::initializer_list<std::pair<uint32_t, uint32_t>> ranges)
{
    std::vector<uint32_t> codes;
    for (const auto& [first, last] : ranges)
        for (uint32_t code = first; code <= last; ++code)
            codes.push_back(code);
    return codes;
}

void set_spread(FT_Library library, float range)
{
    FT_Int spread = FT_Int(std::ceil(range / 2));
    if (FT_Property_Set(library, "sdf", "spread", &spread) != 0)
        std::abort();
}

// The overlap path of FreeType 2.12.1's sdf renderer reads freed memory: leave it out.
FT_Error render_freetype_sdf(FT_GlyphSlot slot)
{
    slot->outline.flags &= ~FT_OUTLINE_OVERLAP;
    return FT_Render_Glyph(slot, FT_RENDER_MODE_SDF);
}

// Open the face, load and render every glyph's field; seconds.
double freetype_sdf_work(const char* font, uint32_t pixels, float range,
                         const std::vector<uint32_t>& codes)
{
    const auto start = clock_type::now();
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, font, 0, &face) != 0)
        std::abort();
    set_spread(library, range);
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    FT_Set_Pixel_Sizes(face, pixels, pixels);
    unsigned long sum = 0;
    for (uint32_t code : codes)
    {
        const FT_UInt index = FT_Get_Char_Index(face, code);
        if (index == 0 || FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0)
            continue;
        if (face->glyph->format == FT_GLYPH_FORMAT_OUTLINE &&
            face->glyph->outline.n_contours > 0 && render_freetype_sdf(face->glyph) == 0)
            sum += face->glyph->bitmap.width * face->glyph->bitmap.rows;
    }
    benchmark::DoNotOptimize(sum);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

void latin1_64px_against_freetype_sdf(benchmark::State& state)
{
    const run_config_t c{ "latin1_64px", dejavu_sans, 64, { "U+0020-U+007E", "U+00A0-U+00FF" },
                          true, 8.0f, false };
    const std::string configuration = write_configuration(c);
    const std::vector<uint32_t> codes = codes_of_ranges({ { 0x20, 0x7E }, { 0xA0, 0xFF } });
    const int runs = 21;
    std::vector<double> tool;
    std::vector<double> freetype;
    long peak_kib = 0;
    for (auto _ : state)
    {
        (void)run_tool(configuration, &peak_kib);
        (void)freetype_sdf_work(c.font, c.pixels, c.range, codes);
        for (int run = 0; run < runs; ++run)
        {
            tool.push_back(run_tool(configuration, &peak_kib));
            if (tool.back() < 0)
            {
                state.SkipWithError("font_generator failed");
                return;
            }
            freetype.push_back(freetype_sdf_work(c.font, c.pixels, c.range, codes));
        }
        state.SetIterationTime(median(tool));
    }
    state.counters["glyphs"] = double(codes.size());
    state.counters["tool_ms"] = median(tool) * 1e3;
    state.counters["freetype_sdf_ms"] = median(freetype) * 1e3;
    state.counters["ratio"] = median(tool) / median(freetype);
    state.counters["ratio_best"] = *std::min_element(tool.begin(), tool.end()) /
                                   *std::min_element(freetype.begin(), freetype.end());
    state.counters["peak_mib"] = double(peak_kib) / 1024.0;
}
BENCHMARK(latin1_64px_against_freetype_sdf)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

void wqy_cjk_32px_field_against_coverage(benchmark::State& state)
{
    const run_config_t field{ "cjk_field", wqy_microhei, 32, { "U+4E00-U+9FFF" }, true, 4.0f,
                              true };
    run_config_t coverage = field;
    coverage.name = "cjk_coverage";
    coverage.distance_field = false;
    const std::string field_configuration = write_configuration(field);
    const std::string coverage_configuration = write_configuration(coverage);
    const int runs = 5;
    std::vector<double> field_times;
    std::vector<double> coverage_times;
    long field_peak_kib = 0;
    long coverage_peak_kib = 0;
    for (auto _ : state)
    {
        (void)run_tool(field_configuration, &field_peak_kib);
        (void)run_tool(coverage_configuration, &coverage_peak_kib);
        for (int run = 0; run < runs; ++run)
        {
            field_times.push_back(run_tool(field_configuration, &field_peak_kib));
            coverage_times.push_back(run_tool(coverage_configuration, &coverage_peak_kib));
            if (field_times.back() < 0 || coverage_times.back() < 0)
            {
                state.SkipWithError("font_generator failed");
                return;
            }
        }
        state.SetIterationTime(median(field_times));
    }
    const double mib = 1024.0 * 1024.0;
    const double field_pictures = picture_bytes(field) / mib;
    const double coverage_pictures = picture_bytes(coverage) / mib;
    state.counters["field_ms"] = median(field_times) * 1e3;
    state.counters["coverage_ms"] = median(coverage_times) * 1e3;
    state.counters["ratio"] = median(field_times) / median(coverage_times);
    state.counters["ratio_best"] =
        *std::min_element(field_times.begin(), field_times.end()) /
        *std::min_element(coverage_times.begin(), coverage_times.end());
    state.counters["field_peak_mib"] = double(field_peak_kib) / 1024.0;
    state.counters["coverage_peak_mib"] = double(coverage_peak_kib) / 1024.0;
    state.counters["field_pictures_mib"] = field_pictures;
    state.counters["coverage_pictures_mib"] = coverage_pictures;
    state.counters["field_over_pictures_mib"] = double(field_peak_kib) / 1024.0 - field_pictures;
    state.counters["coverage_over_pictures_mib"] =
        double(coverage_peak_kib) / 1024.0 - coverage_pictures;
}
BENCHMARK(wqy_cjk_32px_field_against_coverage)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

// ---- the exact reference ------------------------------------------------------------------------

// The exact signed distance (pixels, positive inside, magnitude at most `limit`) at every pixel
// centre of a grid whose top-left pixel is (left, top - 1) in outline pixel coordinates.
struct reference_t
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t rows = 0;
    std::vector<double> distance;
    bool overlapping = false;  // some edge lies off the boundary or is cut by another

    double at(int32_t c, int32_t r) const { return distance[std::size_t(r) * width + c]; }
};

reference_t exact_reference(const FT_Outline& outline, int32_t left, int32_t top, int32_t width,
                            int32_t rows, double limit)
{
    reference_t reference;
    reference.left = left;
    reference.top = top;
    reference.width = width;
    reference.rows = rows;
    reference.distance.assign(std::size_t(width) * rows, limit * limit);

    const flattener_t f = flatten_outline(outline);
    const std::vector<segment_t>& segments = f.segments;
    std::vector<uint32_t> contour_length(f.contours, 0);
    for (const segment_t& s : segments)
        contour_length[s.contour] = std::max(contour_length[s.contour], s.index + 1);

    // Segments per whole-pixel band of y, for winding queries.
    double y_low = 1e30;
    double y_high = -1e30;
    for (const segment_t& s : segments)
    {
        y_low = std::min({ y_low, s.a.y, s.b.y });
        y_high = std::max({ y_high, s.a.y, s.b.y });
    }
    const int32_t band0 = int32_t(std::floor(y_low));
    const int32_t bands = segments.empty() ? 0 : int32_t(std::floor(y_high)) - band0 + 1;
    std::vector<std::vector<const segment_t*>> by_band(std::size_t(std::max(bands, 0)));
    for (const segment_t& s : segments)
    {
        const int32_t b0 = int32_t(std::floor(std::min(s.a.y, s.b.y))) - band0;
        const int32_t b1 = int32_t(std::floor(std::max(s.a.y, s.b.y))) - band0;
        for (int32_t b = b0; b <= b1; ++b)
            by_band[std::size_t(b)].push_back(&s);
    }
    const std::vector<const segment_t*> none;
    auto winding = [&](point_t p) {
        const int32_t b = int32_t(std::floor(p.y)) - band0;
        return winding_at(b >= 0 && b < bands ? by_band[std::size_t(b)] : none, p);
    };

    // Cuts: every crossing of two segments that are not neighbours on one contour.
    std::vector<std::vector<double>> cuts(segments.size());
    std::vector<uint32_t> order(segments.size());
    for (uint32_t k = 0; k < order.size(); ++k)
        order[k] = k;
    auto min_x = [&](uint32_t k) { return std::min(segments[k].a.x, segments[k].b.x); };
    auto max_x = [&](uint32_t k) { return std::max(segments[k].a.x, segments[k].b.x); };
    std::sort(order.begin(), order.end(), [&](uint32_t p, uint32_t q) { return min_x(p) < min_x(q); });
    for (std::size_t i = 0; i < order.size(); ++i)
    {
        const segment_t& s = segments[order[i]];
        const double s_max_x = max_x(order[i]);
        const double s_min_y = std::min(s.a.y, s.b.y);
        const double s_max_y = std::max(s.a.y, s.b.y);
        for (std::size_t j = i + 1; j < order.size() && min_x(order[j]) <= s_max_x; ++j)
        {
            const segment_t& t = segments[order[j]];
            if (std::max(t.a.y, t.b.y) < s_min_y || std::min(t.a.y, t.b.y) > s_max_y)
                continue;
            if (s.contour == t.contour)
            {
                const uint32_t n = contour_length[s.contour];
                if ((s.index + 1) % n == t.index || (t.index + 1) % n == s.index)
                    continue;
            }
            const double dx1 = s.b.x - s.a.x, dy1 = s.b.y - s.a.y;
            const double dx2 = t.b.x - t.a.x, dy2 = t.b.y - t.a.y;
            const double denominator = dx1 * dy2 - dy1 * dx2;
            const double ex = t.a.x - s.a.x, ey = t.a.y - s.a.y;
            if (std::fabs(denominator) < 1e-18)
            {
                // Parallel: where collinear, each cut at the other's ends.
                if (std::fabs(ex * dy1 - ey * dx1) > 1e-12 * std::hypot(dx1, dy1))
                    continue;
                const double l1 = dx1 * dx1 + dy1 * dy1;
                const double l2 = dx2 * dx2 + dy2 * dy2;
                for (const point_t& p : { t.a, t.b })
                {
                    const double u = ((p.x - s.a.x) * dx1 + (p.y - s.a.y) * dy1) / l1;
                    if (u > 0 && u < 1)
                        cuts[order[i]].push_back(u);
                }
                for (const point_t& p : { s.a, s.b })
                {
                    const double u = ((p.x - t.a.x) * dx2 + (p.y - t.a.y) * dy2) / l2;
                    if (u > 0 && u < 1)
                        cuts[order[j]].push_back(u);
                }
                reference.overlapping = true;
                continue;
            }
            const double u = (ex * dy2 - ey * dx2) / denominator;
            const double v = (ex * dy1 - ey * dx1) / denominator;
            if (u < 0 || u > 1 || v < 0 || v > 1)
                continue;
            if (u > 0 && u < 1)
                cuts[order[i]].push_back(u);
            if (v > 0 && v < 1)
                cuts[order[j]].push_back(v);
            reference.overlapping = true;
        }
    }

    // Pieces on the boundary give distances to the pixels within `limit`.
    const double side = 1e-6;
    auto measure = [&](point_t a, point_t b) {
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double l2 = dx * dx + dy * dy;
        if (l2 == 0)
            return;
        const int32_t c0 = std::max(0, int32_t(std::floor(std::min(a.x, b.x) - limit)) - left - 1);
        const int32_t c1 =
            std::min(width - 1, int32_t(std::ceil(std::max(a.x, b.x) + limit)) - left + 1);
        const int32_t r0 = std::max(0, top - 1 - int32_t(std::ceil(std::max(a.y, b.y) + limit)) - 1);
        const int32_t r1 =
            std::min(rows - 1, top - 1 - int32_t(std::floor(std::min(a.y, b.y) - limit)) + 1);
        for (int32_t r = r0; r <= r1; ++r)
        {
            const double py = top - 1 - r + 0.5;
            for (int32_t c = c0; c <= c1; ++c)
            {
                const double px = left + c + 0.5;
                const double t = std::clamp(((px - a.x) * dx + (py - a.y) * dy) / l2, 0.0, 1.0);
                const double qx = a.x + t * dx - px, qy = a.y + t * dy - py;
                double& d = reference.distance[std::size_t(r) * width + c];
                d = std::min(d, qx * qx + qy * qy);
            }
        }
    };
    for (std::size_t k = 0; k < segments.size(); ++k)
    {
        const segment_t& s = segments[k];
        std::vector<double>& ts = cuts[k];
        ts.push_back(0);
        ts.push_back(1);
        std::sort(ts.begin(), ts.end());
        const double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y;
        const double length = std::hypot(dx, dy);
        const double nx = -dy / length * side, ny = dx / length * side;
        for (std::size_t p = 0; p + 1 < ts.size(); ++p)
        {
            if (ts[p + 1] - ts[p] <= 0)
                continue;
            const point_t a{ s.a.x + ts[p] * dx, s.a.y + ts[p] * dy };
            const point_t b{ s.a.x + ts[p + 1] * dx, s.a.y + ts[p + 1] * dy };
            // Uncut edges too: a contour may lie wholly inside another.
            const point_t m{ (a.x + b.x) / 2, (a.y + b.y) / 2 };
            const bool left_filled = winding({ m.x + nx, m.y + ny }) != 0;
            const bool right_filled = winding({ m.x - nx, m.y - ny }) != 0;
            if (left_filled == right_filled)
            {
                reference.overlapping = true;
                continue;
            }
            measure(a, b);
        }
    }

    // Signs: the nonzero winding at each pixel centre, from the crossings of its row.
    std::vector<std::pair<double, int>> crossings;
    for (int32_t r = 0; r < rows; ++r)
    {
        const double py = top - 1 - r + 0.5;
        crossings.clear();
        const int32_t b = int32_t(std::floor(py)) - band0;
        if (b >= 0 && b < bands)
            for (const segment_t* s : by_band[std::size_t(b)])
            {
                const bool up = s->a.y <= py && s->b.y > py;
                const bool down = s->b.y <= py && s->a.y > py;
                if (up || down)
                    crossings.push_back(
                        { s->a.x + (py - s->a.y) * (s->b.x - s->a.x) / (s->b.y - s->a.y),
                          up ? 1 : -1 });
            }
        std::sort(crossings.begin(), crossings.end());
        // Winding of a point = sum of the directions of crossings right of it.
        int right = 0;
        for (const auto& crossing : crossings)
            right += crossing.second;
        std::size_t next = 0;
        for (int32_t c = 0; c < width; ++c)
        {
            const double px = left + c + 0.5;
            while (next < crossings.size() && crossings[next].first <= px)
                right -= crossings[next++].second;
            double& d = reference.distance[std::size_t(r) * width + c];
            d = std::sqrt(d);
            if (right == 0)
                d = -d;
        }
    }
    return reference;
}

// ---- quality against the reference --------------------------------------------------------------

// A raster placed as FreeType places bitmaps.
struct raster_t
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t rows = 0;
    std::vector<uint8_t> values;

    // The value at pixel (x, y) in outline pixels (the pixel's lower-left corner); `outside`
    // off the raster.
    int value_at(int32_t x, int32_t y, int outside) const
    {
        const int32_t c = x - left;
        const int32_t r = top - 1 - y;
        if (c < 0 || c >= width || r < 0 || r >= rows)
            return outside;
        return values[std::size_t(r) * width + c];
    }
};

raster_t copy_slot_bitmap(FT_GlyphSlot slot)
{
    raster_t raster;
    const FT_Bitmap& b = slot->bitmap;
    raster.left = slot->bitmap_left;
    raster.top = slot->bitmap_top;
    raster.width = int32_t(b.width);
    raster.rows = int32_t(b.rows);
    raster.values.resize(std::size_t(b.width) * b.rows);
    for (int32_t r = 0; r < raster.rows; ++r)
    {
        const uint8_t* row = b.buffer + (b.pitch >= 0 ? int64_t(r) * b.pitch
                                                      : int64_t(raster.rows - 1 - r) * -b.pitch);
        std::memcpy(raster.values.data() + std::size_t(r) * raster.width, row, b.width);
    }
    return raster;
}

struct accumulator_t
{
    double max = 0;
    double sum = 0;
    double count = 0;
    uint32_t max_code = 0;
    int32_t max_x = 0;
    int32_t max_y = 0;
    double max_reference = 0;
    double max_value = 0;

    void add(double value, double reference, uint32_t code, int32_t x, int32_t y)
    {
        const double error = std::fabs(value - reference);
        sum += error;
        count += 1;
        if (error > max)
        {
            max = error;
            max_code = code;
            max_x = x;
            max_y = y;
            max_reference = reference;
            max_value = value;
        }
    }
    double mean() const { return count > 0 ? sum / count : 0; }
    void print(const char* label, const char* font, uint32_t pixels) const
    {
        std::fprintf(stderr,
                     "  %s %s %upx: max %.4f px at U+%04X pixel (%d, %d): %.4f against exact "
                     "%.4f; mean %.5f px over %.0f pixels\n",
                     label, font, pixels, max, max_code, max_x, max_y, max_value, max_reference,
                     mean(), count);
    }
};

void quality(benchmark::State& state, const char* font)
{
    const uint32_t pixels = uint32_t(state.range(0));
    const float range = float(state.range(1));
    const double half = range / 2;
    const double freetype_spread = std::ceil(half);
    const std::vector<uint32_t> codes = codes_of_ranges({ { 0x21, 0x7E } });
    const char* font_name = std::strrchr(font, '/') + 1;

    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, font, 0, &face) != 0)
    {
        state.SkipWithError("no font");
        return;
    }
    set_spread(library, range);
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    FT_Set_Pixel_Sizes(face, pixels, pixels);
    distance_field_t field;

    uint32_t glyphs = 0;
    uint32_t overlapping_glyphs = 0;
    uint32_t ours_hole_glyphs = 0;
    uint32_t freetype_hole_glyphs = 0;
    uint32_t ours_hole_pixels = 0;
    uint32_t freetype_hole_pixels = 0;
    uint32_t ours_coverage_hole_glyphs = 0;
    uint32_t freetype_coverage_hole_glyphs = 0;
    uint32_t reference_disagreements = 0;  // exact says 1 px inside, coverage says otherwise
    uint32_t freetype_failures = 0;
    accumulator_t ours_values;     // from our 8-bit values
    accumulator_t ours_distances;  // from distance_at
    accumulator_t freetype_values;
    accumulator_t freetype_values_simple;  // glyphs whose contours neither cross nor touch
    accumulator_t ours_values_simple;

    for (auto _ : state)
    {
        for (uint32_t code : codes)
        {
            const FT_UInt index = FT_Get_Char_Index(face, code);
            if (index == 0 ||
                FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0 ||
                face->glyph->format != FT_GLYPH_FORMAT_OUTLINE ||
                face->glyph->outline.n_contours == 0)
                continue;
            ++glyphs;
            if (!field.build(face->glyph->outline, range) || !field.has_values())
                std::abort();
            const distance_cell_t cell = field.cell();
            const glyph_bitmap_t values = field.values();
            raster_t ours;
            ours.left = cell.left;
            ours.top = cell.top;
            ours.width = cell.width;
            ours.rows = cell.rows;
            for (int32_t r = 0; r < cell.rows; ++r)
                for (int32_t c = 0; c < cell.width; ++c)
                    ours.values.push_back(values.coverage_at(r, c));
            const reference_t reference = exact_reference(face->glyph->outline, cell.left,
                                                          cell.top, cell.width, cell.rows, half);
            overlapping_glyphs += reference.overlapping;

            FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL);
            const raster_t coverage = copy_slot_bitmap(face->glyph);
            FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);
            raster_t freetype;
            if (render_freetype_sdf(face->glyph) == 0)
                freetype = copy_slot_bitmap(face->glyph);
            else
                ++freetype_failures;

            bool ours_hole = false;
            bool freetype_hole = false;
            bool ours_coverage_hole = false;
            bool freetype_coverage_hole = false;
            for (int32_t r = 0; r < cell.rows; ++r)
                for (int32_t c = 0; c < cell.width; ++c)
                {
                    const int32_t x = cell.left + c;
                    const int32_t y = cell.top - 1 - r;
                    const double exact = reference.at(c, r);
                    const int our_value = ours.value_at(x, y, 0);
                    const int freetype_value = freetype.value_at(x, y, 0);
                    bool covered = true;
                    for (int32_t dy = -1; dy <= 1; ++dy)
                        for (int32_t dx = -1; dx <= 1; ++dx)
                            covered = covered && coverage.value_at(x + dx, y + dy, 0) == 255;
                    if (exact >= 1.0 && !(coverage.value_at(x, y, 0) == 255))
                        ++reference_disagreements;
                    if (exact >= 1.0)
                    {
                        if (our_value < 128)
                        {
                            ours_hole = true;
                            ++ours_hole_pixels;
                            std::fprintf(stderr, "hole (ours) %s %upx U+%04X pixel (%d, %d): "
                                         "value %d, exact %.3f\n",
                                         font_name, pixels, code, x, y, our_value, exact);
                        }
                        if (freetype_value < 128)
                        {
                            freetype_hole = true;
                            ++freetype_hole_pixels;
                        }
                    }
                    if (covered)
                    {
                        ours_coverage_hole = ours_coverage_hole || our_value < 128;
                        freetype_coverage_hole = freetype_coverage_hole || freetype_value < 128;
                    }
                    if (std::fabs(exact) < half)
                    {
                        const double our_decoded = (our_value / 255.0 - 0.5) * range;
                        const double freetype_decoded =
                            (freetype_value - 128) * freetype_spread / 128.0;
                        ours_values.add(our_decoded, exact, code, x, y);
                        ours_distances.add(field.distance_at(c, r), exact, code, x, y);
                        freetype_values.add(freetype_decoded, exact, code, x, y);
                        if (!reference.overlapping)
                        {
                            ours_values_simple.add(our_decoded, exact, code, x, y);
                            freetype_values_simple.add(freetype_decoded, exact, code, x, y);
                        }
                    }
                }
            ours_hole_glyphs += ours_hole;
            freetype_hole_glyphs += freetype_hole;
            ours_coverage_hole_glyphs += ours_coverage_hole;
            freetype_coverage_hole_glyphs += freetype_coverage_hole;
            if (freetype_hole)
                std::fprintf(stderr, "hole (FreeType) %s %upx U+%04X\n", font_name, pixels, code);
        }
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);

    std::fprintf(stderr, "%s %upx range %g:\n", font_name, pixels, double(range));
    ours_values.print("ours (values)", font_name, pixels);
    ours_distances.print("ours (distance_at)", font_name, pixels);
    freetype_values.print("FreeType sdf", font_name, pixels);
    ours_values_simple.print("ours, no crossing contours", font_name, pixels);
    freetype_values_simple.print("FreeType, no crossing contours", font_name, pixels);

    state.counters["glyphs"] = glyphs;
    state.counters["overlapping"] = overlapping_glyphs;
    state.counters["holes_ours"] = ours_hole_glyphs;
    state.counters["holes_ft"] = freetype_hole_glyphs;
    state.counters["hole_px_ours"] = ours_hole_pixels;
    state.counters["hole_px_ft"] = freetype_hole_pixels;
    state.counters["cov_holes_ours"] = ours_coverage_hole_glyphs;
    state.counters["cov_holes_ft"] = freetype_coverage_hole_glyphs;
    state.counters["ref_disagree"] = reference_disagreements;
    state.counters["ft_failed"] = freetype_failures;
    state.counters["max_ours"] = ours_values.max;
    state.counters["mean_ours"] = ours_values.mean();
    state.counters["max_ours_f"] = ours_distances.max;
    state.counters["mean_ours_f"] = ours_distances.mean();
    state.counters["max_ft"] = freetype_values.max;
    state.counters["mean_ft"] = freetype_values.mean();
    state.counters["max_ft_simple"] = freetype_values_simple.max;
    state.counters["mean_ft_simple"] = freetype_values_simple.mean();
}

void register_quality()
{
    const std::pair<const char*, const char*> fonts[] = {
        { "dejavu_sans", dejavu_sans },
        { "noto_sans", noto_sans },
        { "inter_variable", inter_variable },
    };
    for (const auto& [name, path] : fonts)
        benchmark::RegisterBenchmark((std::string("quality/") + name).c_str(), quality, path)
            ->ArgNames({ "px", "range" })
            ->ArgsProduct({ { 16, 32, 64 }, { 4, 8 } })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv)
{
    return run_tool_benchmarks(argc, argv, register_quality);
}
