// The preview picture: its plan (where every glyph cell and picture goes) and its rows, which
// the PNG encoder takes one by one.
#include "tools/font_generator/output/preview_picture.h"

#include "ovcore/collections/string.h"
#include "ovcore/collections/text_encoding.h"
#include "ovcore/message.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/model/font_glyph.h"
#include "tools/font_generator/output/png_encoder.h"

#include <algorithm>
#include <cstring>

namespace
{

// The alpha a line shows for every alpha byte of its set's pictures.
struct alpha_map_t
{
    uint8_t alpha[256];
    bool median = false;  // of three channels, white: a multi-channel field's shape
};

// A glyph line's cell as the preview draws it: from picture `canvas` at (x, y) of the preview,
// its alpha through `map` when it has one.
struct placed_cell_t
{
    int64_t x;
    int64_t y;
    const font_canvas_t* canvas;
    uint32_t cell_x;
    uint32_t cell_y;
    uint32_t width;
    uint32_t height;
    const alpha_map_t* map;
};

// A picture and its top-left pixel in the preview, with the greys of the squares behind it.
struct placed_picture_t
{
    const font_canvas_t* canvas;
    uint32_t x;
    uint32_t y;
    uint8_t square_dark;
    uint8_t square_light;
};

// Rows [top, bottom) of the preview drawn on a grey of their own: a colour set's line.
struct line_band_t
{
    int64_t top;
    int64_t bottom;
    uint8_t grey;
};

struct preview_plan_t
{
    uint32_t width = 0;
    uint32_t height = 0;
    array_dyn_t<placed_cell_t> cells;
    array_dyn_t<placed_picture_t> pictures;
    array_dyn_t<line_band_t> bands;
    array_dyn_t<alpha_map_t> maps;  // reserved for every set first: cells point into it
};

// A distance field set as text, the way an engine's shader draws it: a smooth step one pixel
// wide around the outline (value 127.5), not the field's blur.
void make_text_map(float distance_range, alpha_map_t* map)
{
    for (uint32_t value = 0; value < 256; ++value)
    {
        const float distance = distance_of_value(uint8_t(value), distance_range);
        const float t = std::clamp(distance + 0.5f, 0.0f, 1.0f);
        map->alpha[value] = uint8_t(t * t * (3.0f - 2.0f * t) * 255.0f + 0.5f);
    }
}

// Colour glyphs may be any grey, black included: a set whose glyphs are dark on the whole gets
// a light ground, so that its text and pictures always stand out. Alpha glyphs are white.
bool has_dark_glyphs(const finished_set_t& entry, const array_t<finished_picture_t>& pictures)
{
    uint64_t weighted = 0;  // colour × alpha over every pixel of the set's pictures
    uint64_t alpha = 0;
    for (uint32_t k = 0; k < entry.picture_count; ++k)
    {
        const font_canvas_t* canvas = pictures[entry.first_picture + k].canvas;
        if (canvas->bytes_per_pixel() != 4)
            return false;
        const uint8_t* pixel = canvas->pixels;
        for (std::size_t i = 0; i < std::size_t(canvas->width) * canvas->height; ++i, pixel += 4)
        {
            weighted += uint64_t(pixel[0]) * pixel[3];
            alpha += pixel[3];
        }
    }
    return alpha > 0 && weighted < alpha * 128;
}

// A set's glyph lines by code, the first line of a code first.
struct code_entry_t
{
    uint32_t code;
    uint32_t glyph;
};

struct kerning_entry_t
{
    uint64_t codes;  // first << 32 | second
    int32_t value;
};

bool comes_before(const code_entry_t& a, const code_entry_t& b)
{
    return a.code != b.code ? a.code < b.code : a.glyph < b.glyph;
}

const code_entry_t* find_code(const array_t<code_entry_t>& entries, uint32_t code)
{
    const code_entry_t key{ code, 0 };
    const code_entry_t* found = std::lower_bound(entries.begin(), entries.end(), key, comes_before);
    return found != entries.end() && found->code == code ? found : nullptr;
}

int32_t find_kerning(const array_t<kerning_entry_t>& entries, uint32_t first, uint32_t second)
{
    const uint64_t codes = uint64_t(first) << 32 | second;
    const kerning_entry_t* found = std::lower_bound(
        entries.begin(), entries.end(), codes,
        [](const kerning_entry_t& entry, uint64_t key) { return entry.codes < key; });
    return found != entries.end() && found->codes == codes ? found->value : 0;
}

// The text's code points; a byte that starts no valid sequence is passed over.
bool decode_text(const char* text, array_dyn_t<uint32_t>* codes)
{
    for (const char* at = text; *at != '\0';)
    {
        const utf8_sequence_t sequence = decode_utf8(at);
        if (sequence.length <= 0)
        {
            ++at;
            continue;
        }
        if (!codes->append(sequence.code_point))
            return false;
        at += sequence.length;
    }
    return true;
}

// Sets set k's line of the text: its cells with the line's top at `line_top` and the pen
// starting at 0. Widens [*left, *right) by the cells and the pen's end.
bool set_line(const array_t<uint32_t>& codes, const font_layout_t& layout,
              const finished_set_t& entry, const array_t<finished_picture_t>& pictures,
              int64_t line_top, const alpha_map_t* map, array_dyn_t<placed_cell_t>* cells,
              int64_t* left, int64_t* right)
{
    const array_t<font_glyph_t>& glyphs = entry.set->glyphs;
    array_dyn_t<code_entry_t> by_code;
    if (!by_code.reserve(glyphs.size()))
        return false;
    for (uint32_t i = 0; i < glyphs.size(); ++i)
        (void)by_code.append(code_entry_t{ glyphs[i].code, i });
    std::sort(by_code.begin(), by_code.end(), comes_before);

    array_dyn_t<kerning_entry_t> kerning;
    const uint32_t pair_count = entry.kerning != nullptr ? entry.kerning->size() : 0;
    if (!kerning.reserve(pair_count))
        return false;
    for (uint32_t i = 0; i < pair_count; ++i)
    {
        const kerning_pair_t& pair = (*entry.kerning)[i];
        (void)kerning.append(kerning_entry_t{
            uint64_t(glyphs[pair.first].code) << 32 | glyphs[pair.second].code, pair.value });
    }
    std::stable_sort(kerning.begin(), kerning.end(),
                     [](const kerning_entry_t& a, const kerning_entry_t& b)
                     { return a.codes < b.codes; });

    int64_t pen = 0;
    for (uint32_t c = 0; c < codes.size(); ++c)
    {
        const code_entry_t* found = find_code(by_code, codes[c]);
        if (found == nullptr)
            continue;
        const font_glyph_t& glyph = glyphs[found->glyph];
        const glyph_line_t line =
            make_glyph_line(glyph, layout.max_top, entry.first_picture + glyph.picture);
        // Only a cell inside its picture is drawn; the description never says otherwise.
        const font_canvas_t* canvas = glyph.picture < entry.picture_count
                                          ? pictures[line.picture].canvas
                                          : nullptr;
        if (canvas != nullptr && line.width > 0 && line.height > 0 &&
            uint64_t(line.x) + uint32_t(line.width) <= canvas->width &&
            uint64_t(line.y) + uint32_t(line.height) <= canvas->height)
        {
            const placed_cell_t cell{ pen + line.left,      line_top + line.top,
                                      canvas,               line.x,
                                      line.y,               uint32_t(line.width),
                                      uint32_t(line.height), map };
            if (!cells->append(cell))
                return false;
            *left = std::min(*left, cell.x);
            *right = std::max(*right, cell.x + cell.width);
        }
        pen += line.advance;
        if (c + 1 < codes.size())
            pen += find_kerning(kerning, line.code, codes[c + 1]);
        *left = std::min(*left, pen);
        *right = std::max(*right, pen);
    }
    return true;
}

// Where everything goes. False when memory is short or a side passes max_preview_side.
bool plan_preview(const char* text, const font_layout_t& layout,
                  const array_t<finished_set_t>& sets,
                  const array_t<finished_picture_t>& pictures, preview_plan_t* plan)
{
    array_dyn_t<uint32_t> codes;
    if (!decode_text(text, &codes) || !plan->maps.reserve(sets.size()))
        return false;

    // The lines, with the pen of each starting at x 0 and the first line's top at y 0.
    const int64_t line_step = int64_t(layout.vertical_span) + layout.line_spacing;
    int64_t left = 0;
    int64_t right = 0;
    int64_t top = 0;
    int64_t bottom = 0;
    for (uint32_t k = 0; k < sets.size(); ++k)
    {
        const int64_t line_top = int64_t(k) * line_step;
        top = std::min(top, line_top);
        bottom = std::max(bottom, line_top + int64_t(layout.vertical_span));
        const uint32_t first_cell = plan->cells.size();
        alpha_map_t* map = nullptr;
        if (sets[k].pictures.is_distance_field())
        {
            map = plan->maps.append_new();  // room was reserved above
            make_text_map(sets[k].pictures.distance_range, map);
            map->median = sets[k].pictures.has_channels();
        }
        if (!set_line(codes, layout, sets[k], pictures, line_top, map, &plan->cells, &left,
                      &right))
            return false;
        for (uint32_t i = first_cell; i < plan->cells.size(); ++i)
        {
            top = std::min(top, plan->cells[i].y);
            bottom = std::max(bottom, plan->cells[i].y + plan->cells[i].height);
        }
    }
    for (placed_cell_t& cell : plan->cells)
    {
        cell.x += int64_t(preview_margin) - left;
        cell.y += int64_t(preview_margin) - top;
    }
    int64_t width = right - left + 2 * preview_margin;
    int64_t height = bottom - top + 2 * preview_margin;

    // The lines of sets with dark glyphs on a light ground, each from its top to the next one's.
    array_dyn_t<uint8_t> dark;  // per set
    for (uint32_t k = 0; k < sets.size(); ++k)
    {
        if (!dark.append(has_dark_glyphs(sets[k], pictures)))
            return false;
        if (!dark[k])
            continue;
        const int64_t shift = int64_t(preview_margin) - top;
        const int64_t band_top = k == 0 ? 0 : shift + int64_t(k) * line_step;
        const int64_t band_bottom =
            k + 1 == sets.size() ? height : shift + int64_t(k + 1) * line_step;
        if (!plan->bands.append(line_band_t{ band_top, band_bottom, preview_light_ground }))
            return false;
    }

    // The pictures, in rows under the lines.
    int64_t x = preview_margin;
    int64_t y = height;
    int64_t row_height = 0;
    for (const finished_picture_t& entry : pictures)
    {
        const font_canvas_t* canvas = entry.canvas;
        const uint32_t k = entry.set;
        if (x > preview_margin && x + canvas->width > preview_row_width)
        {
            x = preview_margin;
            y += row_height + preview_margin;
            row_height = 0;
        }
        if (x + canvas->width + preview_margin > max_preview_side ||
            y + canvas->height + preview_margin > max_preview_side)
            return false;
        const placed_picture_t picture{
            canvas, uint32_t(x), uint32_t(y),
            dark[k] ? preview_light_square_dark : preview_square_dark,
            dark[k] ? preview_light_square_light : preview_square_light
        };
        if (!plan->pictures.append(picture))
            return false;
        x += canvas->width + preview_margin;
        row_height = std::max<int64_t>(row_height, canvas->height);
        width = std::max(width, x);
    }
    if (row_height > 0)
        height = y + row_height + preview_margin;
    if (width > max_preview_side || height > max_preview_side)
        return false;
    plan->width = uint32_t(width);
    plan->height = uint32_t(height);
    return true;
}

// Blends `count` pixels of a picture row over the RGB pixels at `out`, their alpha through
// `map` when one is given.
void blend_row(const font_canvas_t& canvas, const uint8_t* pixels, uint32_t count, uint8_t* out,
               const alpha_map_t* map = nullptr)
{
    const uint32_t bytes = canvas.bytes_per_pixel();
    for (uint32_t i = 0; i < count; ++i, pixels += bytes, out += 3)
    {
        if (map == nullptr)
        {
            blend_preview_pixel(pixels, bytes, out, out);
            continue;
        }
        uint8_t mapped[4];
        std::memcpy(mapped, pixels, bytes);
        mapped[bytes - 1] = map->alpha[pixels[bytes - 1]];
        if (map->median)
        {
            const uint8_t median = std::max(std::min(pixels[0], pixels[1]),
                                            std::min(std::max(pixels[0], pixels[1]), pixels[2]));
            std::memset(mapped, 255, 3);
            mapped[3] = map->alpha[median];
        }
        blend_preview_pixel(mapped, bytes, out, out);
    }
}

// Row y of the preview.
void draw_row(const preview_plan_t& plan, uint32_t y, uint8_t* row)
{
    std::memset(row, preview_background, std::size_t(plan.width) * 3);
    for (const line_band_t& band : plan.bands)
        if (int64_t(y) >= band.top && int64_t(y) < band.bottom)
            std::memset(row, band.grey, std::size_t(plan.width) * 3);
    for (const placed_picture_t& picture : plan.pictures)
    {
        const font_canvas_t& canvas = *picture.canvas;
        if (y < picture.y || y - picture.y >= canvas.height)
            continue;
        const uint32_t picture_y = y - picture.y;
        uint8_t* out = row + std::size_t(picture.x) * 3;
        for (uint32_t x = 0; x < canvas.width; ++x)
        {
            const bool light = ((x / preview_square_side) + (picture_y / preview_square_side)) % 2;
            std::memset(out + std::size_t(x) * 3, light ? picture.square_light : picture.square_dark,
                        3);
        }
        blend_row(canvas, canvas.row(picture_y), canvas.width, out);
    }
    for (const placed_cell_t& cell : plan.cells)
    {
        if (int64_t(y) < cell.y || int64_t(y) >= cell.y + cell.height)
            continue;
        const font_canvas_t& canvas = *cell.canvas;
        const uint8_t* pixels = canvas.row(cell.cell_y + uint32_t(y - cell.y)) +
                                std::size_t(cell.cell_x) * canvas.bytes_per_pixel();
        blend_row(canvas, pixels, cell.width, row + std::size_t(cell.x) * 3, cell.map);
    }
}

// The preview's rows for the PNG encoder.
class preview_rows_t final : public png_rows_t
{
public:
    explicit preview_rows_t(const preview_plan_t& plan) : m_plan(plan) {}
    void form_row(uint32_t y, uint8_t* row) override { draw_row(m_plan, y, row); }

private:
    const preview_plan_t& m_plan;
};

}  // namespace

void blend_preview_pixel(const uint8_t* pixel, uint32_t bytes_per_pixel, const uint8_t ground[3],
                         uint8_t out[3])
{
    const uint32_t alpha = bytes_per_pixel == 1 ? pixel[0] : pixel[3];
    for (uint32_t c = 0; c < 3; ++c)
    {
        const uint32_t colour = bytes_per_pixel == 1 ? 255 : pixel[c];
        out[c] = uint8_t((colour * alpha + ground[c] * (255 - alpha) + 127) / 255);
    }
}

bool write_preview_picture(const finished_font_t& font)
{
    string_dyn_t path_text;
    if (!path_text.format("%s%s_preview.png", font.base, font.output))
    {
        msg_error("Not enough memory for the name of the file '%s%s_preview.png'.", font.base,
                  font.output);
        return false;
    }
    const char* path = path_text.c_str();
    preview_plan_t plan;
    if (!plan_preview(font.preview_text, font.layout, font.sets, font.pictures, &plan))
    {
        msg_error("The preview picture '%s' cannot be drawn: it would need more memory or more "
                  "than %u pixels on a side.",
                  path, max_preview_side);
        msg_error("Failed to write the preview picture '%s'.", path);
        return false;
    }
    png_format_t format;
    format.width = plan.width;
    format.height = plan.height;
    format.colour = png_colour_t::rgb;
    preview_rows_t rows(plan);
    const png_written_t written = write_png_file(path, format, &rows);
    if (written == png_written_t::written)
        return true;
    if (written == png_written_t::no_memory)
        msg_error("Not enough memory to encode the preview picture '%s'.", path);
    msg_error("Failed to write the preview picture '%s'.", path);
    return false;
}
