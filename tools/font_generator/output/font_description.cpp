// The font description file and writing every output file.
#include "tools/font_generator/output/font_description.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/output/material_files.h"
#include "tools/font_generator/output/output_file.h"
#include "tools/font_generator/packing/font_canvas.h"
#include "tools/font_generator/output/preview_picture.h"
#include "tools/font_generator/output/tga_writer.h"

#include <algorithm>
#include <utility>

namespace
{

constexpr const char legend[] =
    "\r\n# P_x: starting column of glyph rectangle in the font bitmap\r\n"
    "# P_y: starting row of glyph rectangle in the font bitmap\r\n"
    "# W: width of the glyph rectangle\r\n"
    "# H: height of the glyph rectangle\r\n"
    "# L: left offset of the rectangle when placing it relative to current 'pen position'\r\n"
    "#    (negative value can be thought of as 'hard' kerning, but is used at the beginning of "
    "line too!)\r\n"
    "# T: top offset of the rectangle when placing it relative to current 'pen position'\r\n"
    "#    (the 'pen' is expected to be at the level of topmost pixel of highest glyph)\r\n"
    "# A: advance of the 'pen' for rendering of the following glyph\r\n"
    "# I: image index\r\n"
    "\r\n";

constexpr const char heading[] =
    "#NUM,    P_x, P_y,  W,  H,  L,  T,  A,  I     # character / glyph name\r\n\r\n";

// The UTF-8 text of a code point; empty for 0 and for codes beyond four bytes.
struct character_text_t
{
    explicit character_text_t(uint32_t code) { (void)text.append_code_point(code); }
    const char* c_str() const { return text.c_str(); }
    string_fixed_t<8> text;
};

}  // namespace

font_maxima_t compute_font_maxima(const array_t<font_output_set_t>& sets)
{
    font_maxima_t maxima;
    for (const font_output_set_t& entry : sets)
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

uint32_t compute_vertical_span(int32_t max_top, int32_t max_below, int32_t bias)
{
    const uint32_t sum = uint32_t(max_top) + uint32_t(max_below);
    uint32_t effective = uint32_t(bias);
    if (bias < 0 && 0u - uint32_t(bias) > sum)
    {
        msg_error("Attempt to make the font's vertical span negative by using large "
                  "vertical_span_bias %d - ignoring the request.",
                  bias);
        effective = 0;
    }
    return sum + effective;
}

glyph_line_t make_glyph_line(const font_glyph_t& glyph, int32_t font_max_top, uint32_t picture)
{
    return { glyph.code,   glyph.canvas_x, glyph.canvas_y,
             glyph.width,  glyph.height,   glyph.left,
             int32_t(uint32_t(font_max_top) - uint32_t(glyph.top)),
             glyph.advance, picture };
}

bool append_glyph_line(string_t* text, const font_glyph_t& glyph, int32_t font_max_top,
                       uint32_t picture)
{
    const glyph_line_t line = make_glyph_line(glyph, font_max_top, picture);
    const character_text_t character(line.code);
    bool ok = text->append_formatted("x%04x, %4u, %4u, %2d, %2d, %2d, %2d, %2d, %2d     # '%s'",
                                     line.code, line.x, line.y, line.width, line.height,
                                     line.left, line.top, line.advance, int(line.picture),
                                     character.c_str());
    if (!glyph.name.empty())
        ok = text->append_formatted(" / '%s'", glyph.name.c_str()) && ok;
    return text->append("\r\n") && ok;
}

bool append_kerning_line(string_t* text, uint32_t first_code, uint32_t second_code, int32_t value)
{
    const character_text_t first(first_code);
    const character_text_t second(second_code);
    return text->append_formatted("kern: x%04x, x%04x,%3d      # '%s' -> '%s'\r\n", first_code,
                                  second_code, value, first.c_str(), second.c_str());
}

bool append_font_description(string_t* text, const font_output_settings_t& settings,
                             const array_t<font_output_set_t>& sets,
                             const array_t<output_picture_t>& pictures, font_layout_t* layout)
{
    const font_maxima_t maxima = compute_font_maxima(sets);
    const uint32_t span =
        compute_vertical_span(maxima.max_top, maxima.max_below, settings.vertical_span_bias);
    if (layout != nullptr)
    {
        layout->max_top = maxima.max_top;
        layout->vertical_span = span;
        layout->line_spacing = settings.line_spacing;
    }

    bool ok = text->append_formatted(
        "# QVX Font\r\n# Max width: %d\r\n# Max advance: %d\r\n"
        "# Typical height 'above the line': %d (height of letter 'M')\r\n"
        "# Max pixels 'above the line': %d\r\n# Max pixels 'below the line': %d\r\n\r\n",
        maxima.max_width, maxima.max_advance, maxima.m_height, maxima.max_top, maxima.max_below);
    ok = text->append_formatted(
             "vert_span:%u  # max difference between lowest and highest pixel in any two glyphs"
             "\r\n",
             span) && ok;
    ok = text->append_formatted("line_spacing:%d  # suggested number of pixels to put between "
                                "lines\r\n\r\n",
                                settings.line_spacing) && ok;
    ok = text->append_formatted("default_scale:%f  # default font scale in reference "
                                "resolution\r\n\r\n",
                                double(settings.default_scale)) && ok;
    for (std::size_t k = 0; k < pictures.size(); ++k)
        ok = text->append_formatted("image:%s_%Iu.mat, %u, %u\r\n", settings.output, k,
                                    pictures[uint32_t(k)].canvas->width,
                                    pictures[uint32_t(k)].canvas->height) && ok;
    ok = text->append(legend) && ok;
    ok = text->append(heading) && ok;

    for (const font_output_set_t& entry : sets)
        for (const font_glyph_t& glyph : entry.set->glyphs)
            ok = append_glyph_line(text, glyph, maxima.max_top, entry.first_picture + glyph.picture) &&
                 ok;

    ok = text->append("\r\n# kerning...\r\n\r\n") && ok;
    for (const font_output_set_t& entry : sets)
    {
        if (entry.kerning == nullptr)
            continue;
        const character_set_t& set = *entry.set;
        for (const kerning_pair_t& pair : *entry.kerning)
            ok = append_kerning_line(text, set.glyphs[pair.first].code,
                                     set.glyphs[pair.second].code, pair.value) && ok;
    }
    return ok;
}

bool write_font_outputs(const font_output_settings_t& settings,
                        const array_t<font_output_set_t>& sets,
                        const array_t<output_picture_t>& pictures, font_layout_t* layout_out)
{
    string_dyn_t path;
    if (!path.format("%s%s.font", settings.base, settings.output))
        return false;
    auto_ptr_t<file_t> description(create_output_file(path.c_str()));
    if (!description)
    {
        msg_error("Failed to create the font file '%s'.", path.c_str());
        return false;
    }

    // The whole text goes out in one write: one request instead of one per line. Room for the
    // glyph lines is taken at once, so a large set does not hold two copies while it grows.
    string_dyn_t text;
    uint64_t expected = 4096;
    for (const font_output_set_t& entry : sets)
        for (const font_glyph_t& glyph : entry.set->glyphs)
            expected += 72 + glyph.name.length();
    (void)text.reserve(uint32_t(std::min<uint64_t>(expected, UINT32_MAX / 2)));
    const bool previewed = settings.preview_text[0] != '\0';
    font_layout_t layout;
    if (!append_font_description(&text, settings, sets, pictures, &layout) ||
        !description->write(text.c_str(), text.length()))
    {
        msg_error("Failed to write the font file '%s'.", path.c_str());
        return false;
    }
    text.release();
    if (layout_out != nullptr)
        *layout_out = layout;

    string_dyn_t material_name;
    string_dyn_t texture_object_name;
    string_dyn_t picture_name;
    string_dyn_t file_path;
    for (std::size_t index = 0; index < pictures.size(); ++index)
    {
        const output_picture_t& picture = pictures[uint32_t(index)];
        const bool white_font =
            settings.font_style == 0 && sets[picture.set].outline_width == 0;
        const float distance_range = sets[picture.set].distance_range;
        if (!material_name.format("%s_%Iu.mat", settings.output, index) ||
            !texture_object_name.format("%s_%Iu.tobj", settings.output, index) ||
            !picture_name.format("%s_%Iu.tga", settings.output, index))
            return false;

        if (!file_path.format("%s%s", settings.base, material_name.c_str()) ||
            !write_material_file(file_path.c_str(), texture_object_name.c_str(), white_font,
                                 distance_range, sets[picture.set].field_type))
            return false;
        if (!file_path.format("%s%s", settings.base, texture_object_name.c_str()) ||
            !write_texture_object_file(file_path.c_str(), picture_name.c_str(), white_font,
                                       distance_range))
            return false;
        if (!file_path.format("%s%s", settings.base, picture_name.c_str()) ||
            !write_picture(*picture.canvas, file_path.c_str()))
            return false;
    }
    return !previewed ||
           (file_path.format("%s%s_preview.png", settings.base, settings.output) &&
            write_preview_picture(file_path.c_str(), settings.preview_text, layout, sets,
                                  pictures));
}
