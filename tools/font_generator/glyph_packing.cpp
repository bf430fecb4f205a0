// The canvas-size search, the shelf packer and glyph drawing.
//
// The packer's rule "let the widest later glyph that fits go first" is answered from buckets of
// the not yet placed glyphs by width, each in packing order, so an attempt costs about
// n log n instead of n² on large sets; the placements are those of the plain rule.
#include "tools/font_generator/glyph_packing.h"

#include "ovcore/message.h"
#include "tools/font_generator/character_set.h"
#include "tools/font_generator/configuration.h"
#include "tools/font_generator/font_faces.h"
#include "tools/font_generator/font_canvas.h"
#include "tools/font_generator/generator.h"
#include "tools/font_generator/glyph_bitmap.h"
#include "tools/font_generator/glyph_pixels.h"
#include "tools/font_generator/glyph_workers.h"

#include <algorithm>
#include <new>
#include <utility>

namespace
{

constexpr uint32_t first_canvas_side = 32;

// The not yet placed glyphs of width 1 or more, bucketed by width.
class width_buckets_t
{
public:
    [[nodiscard]] bool build(const character_set_t& set, const array_t<uint32_t>& order)
    {
        array_dyn_t<uint64_t> keys;  // width << 32 | position in the order
        if (!keys.reserve(order.size()))
            return false;
        for (uint32_t p = 0; p < order.size(); ++p)
        {
            const font_glyph_t& glyph = set.glyphs[order[p]];
            if (glyph.rasterized && glyph.width > 0)
                (void)keys.append(uint64_t(uint32_t(glyph.width)) << 32 | p);
        }
        std::sort(keys.begin(), keys.end());

        if (!m_entries.reserve(keys.size()) || !m_widths.reserve(keys.size()) ||
            !m_ends.reserve(keys.size()) || !m_heads.reserve(keys.size()) ||
            !m_below.reserve(keys.size()))
            return false;
        for (uint32_t i = 0; i < keys.size(); ++i)
        {
            const int32_t width = int32_t(keys[i] >> 32);
            if (m_widths.empty() || m_widths.last() != width)
            {
                (void)m_widths.append(width);
                (void)m_heads.append(i);
                (void)m_ends.append(i);
                (void)m_below.append(int32_t(m_widths.size()) - 1);
            }
            (void)m_entries.append(uint32_t(keys[i]));
            ++m_ends.last();
        }
        return true;
    }

    // The position of the first glyph of the largest width w with 0 < w <= room; -1 for none.
    int64_t take_widest_up_to(int32_t room)
    {
        if (room < 1 || m_widths.empty())
            return -1;
        const int32_t* end = std::upper_bound(m_widths.begin(), m_widths.end(), room);
        int32_t bucket = find(int32_t(end - m_widths.begin()) - 1);
        if (bucket < 0)
            return -1;
        const uint32_t position = m_entries[m_heads[bucket]];
        pop(bucket);
        return position;
    }

    // Takes the first not yet placed glyph of the width out of its bucket.
    void take(int32_t width)
    {
        const int32_t* at = std::lower_bound(m_widths.begin(), m_widths.end(), width);
        pop(int32_t(at - m_widths.begin()));
    }

private:
    // The largest non-empty bucket at or below `bucket`, or -1; empty buckets link downwards.
    int32_t find(int32_t bucket)
    {
        int32_t root = bucket;
        while (root >= 0 && m_below[root] != root)
            root = m_below[root];
        while (bucket >= 0 && m_below[bucket] != bucket)
        {
            const int32_t next = m_below[bucket];
            m_below[bucket] = root;
            bucket = next;
        }
        return root;
    }

    void pop(int32_t bucket)
    {
        if (++m_heads[bucket] == m_ends[bucket])
            m_below[bucket] = bucket - 1;
    }

    array_dyn_t<int32_t> m_widths;    // distinct widths, ascending
    array_dyn_t<uint32_t> m_heads;    // per width: next entry not yet placed
    array_dyn_t<uint32_t> m_ends;     // per width: one past its last entry
    array_dyn_t<int32_t> m_below;     // per width: itself while non-empty, else a lower width
    array_dyn_t<uint32_t> m_entries;  // positions in the order, grouped by width, ascending
};

// Sizes that cannot take the set whatever the order: a cell with its free column and row needs
// (width + 1) × (height + 1) pixels inside columns and rows 1 to side − 1.
struct set_demand_t
{
    uint64_t area = 0;
    uint64_t max_width = 0;
    uint64_t max_height = 0;

    bool may_fit(uint32_t width, uint32_t height) const
    {
        const uint64_t u = width - 1;
        const uint64_t v = height - 1;
        return 1 + max_width <= u && 1 + max_height <= v && area <= u * v;
    }
};

set_demand_t measure_demand(const character_set_t& set, const array_t<uint32_t>& positions)
{
    set_demand_t demand;
    for (uint32_t position : positions)
    {
        const font_glyph_t& glyph = set.glyphs[position];
        if (!glyph.rasterized)
            continue;
        const uint64_t width = uint64_t(std::max(glyph.width, 0));
        const uint64_t height = uint64_t(std::max(glyph.height, 0));
        demand.area += (width + 1) * (height + 1);
        demand.max_width = std::max(demand.max_width, width);
        demand.max_height = std::max(demand.max_height, height);
    }
    return demand;
}

}  // namespace

bool sort_glyphs_for_packing(const character_set_t& set, array_dyn_t<uint32_t>* order)
{
    order->clear();
    if (!order->reserve(set.glyphs.size()))
        return false;
    for (uint32_t i = 0; i < set.glyphs.size(); ++i)
        (void)order->append(i);
    const font_glyph_t* glyphs = set.glyphs.data();
    std::stable_sort(order->begin(), order->end(), [glyphs](uint32_t a, uint32_t b) {
        if (glyphs[a].height != glyphs[b].height)
            return glyphs[a].height > glyphs[b].height;
        return glyphs[a].code < glyphs[b].code;
    });
    return true;
}

packing_t pack_glyphs(character_set_t* set, const array_t<uint32_t>& order, uint32_t width,
                      uint32_t height, array_dyn_t<uint8_t>* placed)
{
    width_buckets_t buckets;
    placed->clear();
    if (!buckets.build(*set, order) || !placed->resize(order.size()))
        return packing_t::no_memory;

    // Unsigned sums against U and V, signed room and widths, as the shelf rule is defined.
    const uint64_t u = width - 1;
    const uint64_t v = height - 1;
    uint64_t x = 1;
    uint64_t y = 1;
    int32_t shelf = 0;

    auto put = [&](uint32_t p) {
        font_glyph_t& glyph = set->glyphs[order[p]];
        glyph.canvas_x = uint32_t(x);
        glyph.canvas_y = uint32_t(y);
        x += uint64_t(uint32_t(glyph.width)) + 1;
        shelf = std::max(shelf, glyph.height);
        (*placed)[p] = 1;
    };

    for (uint32_t p = 0; p < order.size(); ++p)
    {
        if ((*placed)[p])
            continue;
        font_glyph_t& glyph = set->glyphs[order[p]];
        if (!glyph.rasterized)
            continue;
        while (x + uint32_t(glyph.width) > u)
        {
            const int32_t room = int32_t(uint32_t(u - x));
            const int64_t moved = buckets.take_widest_up_to(room);
            if (moved < 0)
            {
                y += uint64_t(uint32_t(shelf)) + 1;
                x = 1;
                shelf = 0;
                if (1 + uint64_t(uint32_t(glyph.width)) > u)
                    return packing_t::partial;
                break;
            }
            if (y + uint32_t(set->glyphs[order[uint32_t(moved)]].height) > v)
                return packing_t::partial;
            put(uint32_t(moved));
        }
        if (y + uint32_t(glyph.height) > v)
            return packing_t::partial;
        put(p);
        if (glyph.width > 0)
            buckets.take(glyph.width);
    }
    return packing_t::complete;
}

bool place_glyphs(character_set_t* set, const array_t<uint32_t>& order, uint32_t width,
                  uint32_t height)
{
    array_dyn_t<uint8_t> placed;
    return pack_glyphs(set, order, width, height, &placed) == packing_t::complete;
}

bool lay_out_pictures(character_set_t* set, const array_t<uint32_t>& order,
                      const picture_limits_t& limits, array_dyn_t<picture_size_t>* sizes)
{
    const uint32_t side = limits.max_side;
    if (side < first_canvas_side || side > MAX_CANVAS_SIDE || (side & (side - 1)) != 0)
        OV_FATAL("Picture size limit that the size search never reaches.");
    sizes->clear();
    array_dyn_t<uint32_t> left;  // what no picture has taken yet, in packing order
    array_dyn_t<uint8_t> placed;
    if (!left.copy(order))
    {
        msg_error("Out of memory while packing the glyphs of a character set.");
        return false;
    }
    for (;;)
    {
        const set_demand_t demand = measure_demand(*set, left);
        const uint32_t picture = sizes->size();
        uint32_t width = first_canvas_side;
        uint32_t height = first_canvas_side;
        packing_t packing = packing_t::partial;
        for (;;)
        {
            const bool largest = width == limits.max_side && height == limits.max_side;
            // A size that cannot take the cells' area fails its attempt; skipping it changes
            // nothing. The largest size is always tried: it may take a share of the glyphs.
            if (largest || demand.may_fit(width, height))
            {
                packing = pack_glyphs(set, left, width, height, &placed);
                if (packing != packing_t::partial || largest)
                    break;
            }
            if (width < height)
                width *= 2;
            else
                height *= 2;
        }
        if (packing == packing_t::no_memory)
        {
            msg_error("Out of memory while packing the glyphs of a character set.");
            return false;
        }
        const bool took_some = std::find(placed.begin(), placed.end(), 1) != placed.end();
        if (packing == packing_t::partial && (!limits.several || !took_some))
        {
            msg_error("The requested glyphs could not be rasterized onto canvas up to size %u x %u "
                      "pixels.",
                      limits.max_side, limits.max_side);
            return false;
        }
        if (!sizes->append(picture_size_t{ width, height }))
        {
            msg_error("Out of memory while packing the glyphs of a character set.");
            return false;
        }
        // The glyphs placed in this attempt are the picture's; the rest wait for the next.
        uint32_t kept = 0;
        for (uint32_t p = 0; p < left.size(); ++p)
        {
            font_glyph_t& glyph = set->glyphs[left[p]];
            if (placed[p])
                glyph.picture = picture;
            else if (glyph.rasterized)
                left[kept++] = left[p];
        }
        if (packing == packing_t::complete)
            return true;
        (void)left.resize(kept);  // shrinking always succeeds
    }
}

namespace
{

// Drawing one set's glyphs onto their pictures, chunk by chunk, on the main thread and the
// source's helpers. Cells never overlap, so neither the order of drawing nor drawing at once
// changes a pixel; chunks in file order let the source free what it kept as drawing goes on.
class draw_job_t final : public glyph_job_t
{
public:
    draw_job_t(const array_t<font_canvas_t*>& canvases, const character_set_t& set,
               uint32_t outline_width, glyph_source_t* source)
        : m_canvases(canvases), m_set(set), m_outline_width(outline_width), m_source(source)
    {
        make_glyph_alpha_table(outline_width, &m_alpha);
    }

    bool prepare_helper(uint32_t helper) override { return m_source->prepare_helper(helper); }

    void run_chunk(uint32_t helper, uint32_t begin, uint32_t end) override
    {
        for (uint32_t position = begin; position < end; ++position)
        {
            const font_glyph_t& glyph = m_set.glyphs[position];
            glyph_bitmap_t bitmap;
            if (glyph.rasterized &&
                (helper == 0 ? m_source->get_bitmap(position, &bitmap)
                             : m_source->get_helper_bitmap(helper, position, &bitmap)))
                draw_glyph(m_canvases[glyph.picture], bitmap, m_set, glyph, m_outline_width,
                           m_alpha);
        }
    }

    void completed_through(uint32_t end) override
    {
        if (end > 0)
            m_source->drawn_through(end - 1);
    }

private:
    const array_t<font_canvas_t*>& m_canvases;
    const character_set_t& m_set;
    uint32_t m_outline_width;
    glyph_source_t* m_source;
    glyph_alpha_table_t m_alpha;
};

// Sets each canvas to its picture's size, clears it, and draws every glyph onto its picture.
void draw_pictures(const array_t<font_canvas_t*>& canvases, const array_t<picture_size_t>& sizes,
                   const character_set_t& set, uint32_t outline_width, glyph_source_t* source)
{
    // Failed attempts draw nothing, so clearing each block once for the kept size is enough;
    // pages no attempt or run has written are not touched at all.
    for (uint32_t k = 0; k < sizes.size(); ++k)
        canvases[k]->resize_and_clear(sizes[k].width, sizes[k].height);

    draw_job_t job(canvases, set, outline_width, source);
    const uint32_t count = set.glyphs.size();
    run_glyph_job(&job, count, std::min(source->helper_count(), glyph_helpers_for(count)));
}

// lay_out_pictures in the set's packing order.
bool plan_pictures(character_set_t* set, const picture_limits_t& limits,
                   array_dyn_t<picture_size_t>* sizes)
{
    array_dyn_t<uint32_t> order;
    if (sort_glyphs_for_packing(*set, &order))
        return lay_out_pictures(set, order, limits, sizes);
    msg_error("Out of memory while packing the glyphs of a character set.");
    return false;
}

}  // namespace

bool fit_canvas(font_canvas_t* canvas, character_set_t* set, uint32_t outline_width,
                glyph_source_t* source)
{
    array_dyn_t<picture_size_t> sizes;
    array_dyn_t<font_canvas_t*> canvases;
    if (!plan_pictures(set, picture_limits_t{}, &sizes))
        return false;
    if (!canvases.append(canvas))
    {
        msg_error("Out of memory while packing the glyphs of a character set.");
        return false;
    }
    draw_pictures(canvases, sizes, *set, outline_width, source);
    return true;
}

bool fit_set_canvases(array_dyn_t<auto_ptr_t<font_canvas_t>>* canvases, character_set_t* set,
                      uint32_t outline_width, const picture_limits_t& limits,
                      glyph_source_t* source)
{
    array_dyn_t<picture_size_t> sizes;
    if (!plan_pictures(set, limits, &sizes))
        return false;
    const font_canvas_t& first = *(*canvases)[0];
    array_dyn_t<font_canvas_t*> pictures;
    if (!pictures.reserve(sizes.size()))
    {
        msg_error("Out of memory while packing the glyphs of a character set.");
        return false;
    }
    for (uint32_t k = 0; k < sizes.size(); ++k)
    {
        if (k == canvases->size())
        {
            auto_ptr_t<font_canvas_t> canvas(new font_canvas_t(
                first.font_style, first.gradient_start, first.gradient_step,
                first.gradient_start_offset));
            if (!canvas || !canvases->append(std::move(canvas)))
            {
                msg_error("Not enough memory for picture %u of a character set.", k);
                return false;
            }
        }
        (void)pictures.append((*canvases)[k].get());
    }
    draw_pictures(pictures, sizes, *set, outline_width, source);
    return true;
}

bool fit_canvases(generator_t* generator)
{
    for (generator_set_t& set : generator->sets)
    {
        const char_set_config_u& config = *set.config;
        set_glyphs_t* known = set.kept_glyphs.get();
        face_glyph_source_t source(set.faces, *set.character_set, config.antialias, known);
        source.use_helpers(&set);
        const picture_limits_t limits{ config.max_picture_size, config.several_pictures };
        if (!fit_set_canvases(&set.canvases, set.character_set.get(), config.outline_width,
                              limits, &source))
            return false;
        if (known != nullptr)
            known->release_bitmaps();  // drawn: only the glyph indices are needed from here on
    }
    return true;
}

void draw_glyph(font_canvas_t* canvas, const glyph_bitmap_t& bitmap, const character_set_t& set,
                const font_glyph_t& glyph, uint32_t outline_width,
                const glyph_alpha_table_t& alpha)
{
    if (canvas->font_style > 1 || bitmap.top_row == nullptr || !is_readable_pixel_mode(bitmap.mode))
        return;
    // The bitmap's part inside the cell and inside the canvas.
    const int64_t outline = outline_width;
    const int64_t left = int64_t(glyph.canvas_x) + outline;
    const int64_t top = int64_t(glyph.canvas_y) + outline;
    const int64_t cell_columns = int64_t(glyph.width) - 2 * outline;
    const int64_t cell_rows = int64_t(glyph.height) - 2 * outline;
    const int64_t columns = std::min({ int64_t(bitmap.width), cell_columns,
                                       int64_t(canvas->width) - left });
    const int64_t rows = std::min({ int64_t(bitmap.rows), cell_rows,
                                    int64_t(canvas->height) - top });
    if (columns <= 0 || rows <= 0)
        return;

    const uint64_t canvas_width = canvas->width;
    for (int32_t r = 0; r < rows; ++r)
    {
        // Rows are stored bottom row first.
        const uint64_t line = (uint64_t(canvas->height) - 1 - uint64_t(top + r)) * canvas_width;
        if (canvas->font_style == 0)
        {
            uint8_t* out = canvas->pixels + line + uint64_t(left);
            for (int32_t c = 0; c < columns; ++c)
                out[c] = alpha.alpha[bitmap.coverage_at(r, c)];
            continue;
        }
        const float factor = gradient_factor(canvas->gradient_start, canvas->gradient_step,
                                             canvas->gradient_start_offset,
                                             int64_t(set.max_top) - glyph.top + r);
        uint8_t* out = canvas->pixels + 4 * (line + uint64_t(left));
        for (int32_t c = 0; c < columns; ++c)
        {
            const uint8_t coverage = bitmap.coverage_at(r, c);
            const uint8_t colour = gradient_colour(factor, coverage);
            out[4 * c + 0] = colour;
            out[4 * c + 1] = colour;
            out[4 * c + 2] = colour;
            out[4 * c + 3] = alpha.alpha[coverage];
        }
    }
}
