// The finished font's figures and names.
#include "tools/font_generator/model/finished_font.h"

#include "tools/font_generator/model/font_glyph.h"

#include <algorithm>

font_maxima_t compute_font_maxima(const array_t<finished_set_t>& sets)
{
    font_maxima_t maxima;
    for (const finished_set_t& entry : sets)
    {
        const character_set_t& set = *entry.set;
        maxima.max_width = std::max(maxima.max_width, set.max_width);
        maxima.max_advance = std::max(maxima.max_advance, set.max_advance);
        maxima.m_height = std::max(maxima.m_height, set.m_height);
        maxima.max_top = std::max(maxima.max_top, set.max_top);
        maxima.max_below = std::max(maxima.max_below, set.max_below);
    }
    return maxima;
}

uint32_t compute_vertical_span(int32_t max_top, int32_t max_below, int32_t bias,
                               bool* bias_ignored)
{
    const uint32_t sum = uint32_t(max_top) + uint32_t(max_below);
    *bias_ignored = bias < 0 && 0u - uint32_t(bias) > sum;
    return *bias_ignored ? sum : sum + uint32_t(bias);
}

bool finish_font(finished_font_t* font, int32_t line_spacing)
{
    font->maxima = compute_font_maxima(font->sets);
    font->layout.max_top = font->maxima.max_top;
    font->layout.vertical_span =
        compute_vertical_span(font->maxima.max_top, font->maxima.max_below,
                              font->vertical_span_bias, &font->span_bias_ignored);
    font->layout.line_spacing = line_spacing;
    for (std::size_t k = 0; k < font->pictures.size(); ++k)
    {
        finished_picture_t& picture = font->pictures[uint32_t(k)];
        if (!picture.material_name.format("%s_%Iu.mat", font->output, k) ||
            !picture.texture_object_name.format("%s_%Iu.tobj", font->output, k) ||
            !picture.picture_name.format("%s_%Iu.tga", font->output, k))
            return false;
    }
    return true;
}

glyph_line_t make_glyph_line(const font_glyph_t& glyph, int32_t font_max_top, uint32_t picture)
{
    return { glyph.code,   glyph.canvas_x, glyph.canvas_y,
             glyph.width,  glyph.height,   glyph.left,
             int32_t(uint32_t(font_max_top) - uint32_t(glyph.top)),
             glyph.advance, picture };
}
