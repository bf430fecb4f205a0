// The exact outline the distance-field benchmarks measure against: chords within 1/1024 px of
// the curves, the nonzero winding, and the outline's corners.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace
{

struct point_t
{
    double x;
    double y;
};

struct segment_t
{
    point_t a;
    point_t b;
    uint32_t contour;
    uint32_t index;  // within its contour
};

// Chords at most 1/1024 px from the curves, so the reference is off by no more than that.
constexpr double reference_flatness = 1.0 / 1024;

// Corners: outline points where one segment's direction turns into the next's by more than
// 30°, as the multi-channel measure counts them.
struct flattener_t
{
    std::vector<segment_t> segments;
    std::vector<point_t> contour;
    std::vector<point_t> corners;
    uint32_t contours = 0;
    point_t at{ 0, 0 };
    point_t last_direction{ 0, 0 };
    point_t first_direction{ 0, 0 };

    static bool turns(point_t from, point_t to)
    {
        const double cosine = std::cos(30.0 * 3.14159265358979323846 / 180);
        const double lengths = std::hypot(from.x, from.y) * std::hypot(to.x, to.y);
        return lengths > 0 && from.x * to.x + from.y * to.y < cosine * lengths;
    }
    // A segment from `at` leaving in `start` and arriving in `end`.
    void segment(point_t start, point_t end)
    {
        if (start.x == 0 && start.y == 0)
            return;
        if (first_direction.x == 0 && first_direction.y == 0)
            first_direction = start;
        else if (turns(last_direction, start))
            corners.push_back(at);
        last_direction = end;
    }

    void finish()
    {
        if (!contour.empty() && turns(last_direction, first_direction))
            corners.push_back(contour.front());
        last_direction = first_direction = { 0, 0 };
        if (contour.size() >= 2)
        {
            if (contour.back().x != contour.front().x || contour.back().y != contour.front().y)
                contour.push_back(contour.front());
            uint32_t index = 0;
            for (std::size_t k = 0; k + 1 < contour.size(); ++k)
                if (contour[k].x != contour[k + 1].x || contour[k].y != contour[k + 1].y)
                    segments.push_back({ contour[k], contour[k + 1], contours, index++ });
            ++contours;
        }
        contour.clear();
    }
    void line(point_t p)
    {
        contour.push_back(p);
        at = p;
    }
};

point_t to_pixels(const FT_Vector* v)
{
    return { double(v->x) / 64, double(v->y) / 64 };
}

int move_to(const FT_Vector* to, void* user)
{
    auto* f = static_cast<flattener_t*>(user);
    f->finish();
    f->line(to_pixels(to));
    return 0;
}

point_t direction(point_t from, point_t to)
{
    return { to.x - from.x, to.y - from.y };
}

point_t first_of(point_t a, point_t b, point_t c = { 0, 0 })
{
    return a.x != 0 || a.y != 0 ? a : b.x != 0 || b.y != 0 ? b : c;
}

int line_to(const FT_Vector* to, void* user)
{
    auto* f = static_cast<flattener_t*>(user);
    const point_t p = to_pixels(to);
    f->segment(direction(f->at, p), direction(f->at, p));
    f->line(p);
    return 0;
}

int conic_to(const FT_Vector* control, const FT_Vector* to, void* user)
{
    auto* f = static_cast<flattener_t*>(user);
    const point_t p0 = f->at;
    const point_t p1 = to_pixels(control);
    const point_t p2 = to_pixels(to);
    f->segment(first_of(direction(p0, p1), direction(p0, p2)),
               first_of(direction(p1, p2), direction(p0, p2)));
    // A chord of parameter step h lies within |p0 - 2 p1 + p2| h² / 4 of the curve.
    const double dd = std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y);
    const int n = std::max(1, int(std::ceil(std::sqrt(dd / (4 * reference_flatness)))));
    for (int k = 1; k <= n; ++k)
    {
        const double t = double(k) / n;
        const double u = 1 - t;
        f->line({ u * u * p0.x + 2 * u * t * p1.x + t * t * p2.x,
                  u * u * p0.y + 2 * u * t * p1.y + t * t * p2.y });
    }
    return 0;
}

int cubic_to(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user)
{
    auto* f = static_cast<flattener_t*>(user);
    const point_t p0 = f->at;
    const point_t p1 = to_pixels(c1);
    const point_t p2 = to_pixels(c2);
    const point_t p3 = to_pixels(to);
    f->segment(first_of(direction(p0, p1), direction(p0, p2), direction(p0, p3)),
               first_of(direction(p2, p3), direction(p1, p3), direction(p0, p3)));
    // The second derivative is at most 6 max(|p0 - 2 p1 + p2|, |p1 - 2 p2 + p3|).
    const double dd = 6 * std::max(std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                                   std::hypot(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
    const int n = std::max(1, int(std::ceil(std::sqrt(dd / (8 * reference_flatness)))));
    for (int k = 1; k <= n; ++k)
    {
        const double t = double(k) / n;
        const double u = 1 - t;
        f->line(
            { u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
              u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y });
    }
    return 0;
}

// Winding of the point over the segments (a ray to the right; half-open in y).
int winding_at(const std::vector<const segment_t*>& candidates, point_t p)
{
    int winding = 0;
    for (const segment_t* s : candidates)
    {
        const bool up = s->a.y <= p.y && s->b.y > p.y;
        const bool down = s->b.y <= p.y && s->a.y > p.y;
        if (!up && !down)
            continue;
        const double x = s->a.x + (p.y - s->a.y) * (s->b.x - s->a.x) / (s->b.y - s->a.y);
        if (x > p.x)
            winding += up ? 1 : -1;
    }
    return winding;
}

flattener_t flatten_outline(const FT_Outline& outline)
{
    flattener_t f;
    const FT_Outline_Funcs funcs = { move_to, line_to, conic_to, cubic_to, 0, 0 };
    FT_Outline_Decompose(const_cast<FT_Outline*>(&outline), &funcs, &f);
    f.finish();
    return f;
}

}  // namespace
