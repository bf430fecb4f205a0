// Outlines built in tests, in pixels, contour by contour.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <vector>

// An outline in pixels, built contour by contour.
class test_outline_t
{
public:
    // A point in pixels; `tag` FT_CURVE_TAG_ON, _CONIC or _CUBIC.
    test_outline_t& point(double x, double y, char tag = FT_CURVE_TAG_ON)
    {
        m_points.push_back(FT_Vector{ FT_Pos(std::lround(x * 64)), FT_Pos(std::lround(y * 64)) });
        m_tags.push_back(tag);
        return *this;
    }
    test_outline_t& end_contour()
    {
        m_ends.push_back(short(m_points.size() - 1));
        return *this;
    }
    // An axis-aligned rectangle, counter-clockwise (y up) or clockwise.
    test_outline_t& rectangle(double x0, double y0, double x1, double y1, bool clockwise = false)
    {
        if (clockwise)
            point(x0, y0).point(x0, y1).point(x1, y1).point(x1, y0);
        else
            point(x0, y0).point(x1, y0).point(x1, y1).point(x0, y1);
        return end_contour();
    }

    const FT_Outline& outline()
    {
        m_outline.n_contours = short(m_ends.size());
        m_outline.n_points = short(m_points.size());
        m_outline.points = m_points.data();
        m_outline.tags = m_tags.data();
        m_outline.contours = m_ends.data();
        m_outline.flags = 0;
        return m_outline;
    }

private:
    std::vector<FT_Vector> m_points;
    std::vector<char> m_tags;
    std::vector<short> m_ends;
    FT_Outline m_outline{};
};
