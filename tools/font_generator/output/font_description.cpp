// The font description file.
#include "tools/font_generator/output/font_description.h"

#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/model/font_glyph.h"
#include "tools/font_generator/output/character_text.h"
#include "tools/font_generator/output/output_file.h"

#include <algorithm>

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

}  // namespace

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

bool append_font_description(string_t* text, const finished_font_t& font)
{
    const font_maxima_t& maxima = font.maxima;
    bool ok = text->append_formatted(
        "# QVX Font\r\n# Max width: %d\r\n# Max advance: %d\r\n"
        "# Typical height 'above the line': %d (height of letter 'M')\r\n"
        "# Max pixels 'above the line': %d\r\n# Max pixels 'below the line': %d\r\n\r\n",
        maxima.max_width, maxima.max_advance, maxima.m_height, maxima.max_top, maxima.max_below);
    ok = text->append_formatted(
             "vert_span:%u  # max difference between lowest and highest pixel in any two glyphs"
             "\r\n",
             font.layout.vertical_span) && ok;
    ok = text->append_formatted("line_spacing:%d  # suggested number of pixels to put between "
                                "lines\r\n\r\n",
                                font.layout.line_spacing) && ok;
    ok = text->append_formatted("default_scale:%f  # default font scale in reference "
                                "resolution\r\n\r\n",
                                double(font.default_scale)) && ok;
    for (const finished_picture_t& picture : font.pictures)
        ok = text->append_formatted("image:%s, %u, %u\r\n", picture.material_name.c_str(),
                                    picture.canvas->width, picture.canvas->height) && ok;
    ok = text->append(legend) && ok;
    ok = text->append(heading) && ok;

    for (const finished_set_t& entry : font.sets)
        for (const font_glyph_t& glyph : entry.set->glyphs)
            ok = append_glyph_line(text, glyph, maxima.max_top,
                                   entry.first_picture + glyph.picture) && ok;

    ok = text->append("\r\n# kerning...\r\n\r\n") && ok;
    for (const finished_set_t& entry : font.sets)
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

bool write_font_description(const finished_font_t& font, auto_ptr_t<file_t>* file)
{
    string_dyn_t path;
    if (!path.format("%s%s.font", font.base, font.output))
    {
        msg_error("Not enough memory for the name of the font file '%s%s.font'.", font.base,
                  font.output);
        return false;
    }
    output_file_t description(path.c_str());
    if (!description)
    {
        msg_error("Failed to create the font file '%s'.", path.c_str());
        return false;
    }
    if (font.span_bias_ignored)
        msg_error("Attempt to make the font's vertical span negative by using large "
                  "vertical_span_bias %d - ignoring the request.",
                  font.vertical_span_bias);

    // The whole text goes out in one write: one request instead of one per line. Room for the
    // glyph lines is taken at once, so a large set does not hold two copies while it grows.
    string_dyn_t text;
    uint64_t expected = 4096;
    for (const finished_set_t& entry : font.sets)
        for (const font_glyph_t& glyph : entry.set->glyphs)
            expected += 72 + glyph.name.length();
    (void)text.reserve(uint32_t(std::min<uint64_t>(expected, UINT32_MAX / 2)));
    const bool appended = append_font_description(&text, font);
    if (!appended || !description->write(text.c_str(), text.length()))
    {
        if (!appended)
            msg_error("Not enough memory for the font file '%s'.", path.c_str());
        msg_error("Failed to write the font file '%s'.", path.c_str());
        return false;
    }
    *file = description.release_kept();
    return true;
}
