// The canvas-size search, the shelf packer and glyph drawing.
//
// The packer's rule "let the widest later glyph that fits go first" is answered from buckets of
// the not yet placed glyphs by width, each in packing order, so an attempt costs about
// n log n instead of n² on large sets; the placements are those of the plain rule.
#include "tools/font_generator/packing/glyph_packing.h"

#include "ovcore/message.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/faces/glyph_workers.h"
#include "tools/font_generator/model/font_glyph.h"
#include "tools/font_generator/packing/glyph_pixels.h"

#include <algorithm>
#include <cstring>
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

    // The position of the first glyph of the largest width w with 0 < w <= room, and its
    // bucket; -1 for none. Takes nothing: pop takes it.
    int64_t widest_up_to(int32_t room, int32_t* bucket)
    {
        if (room < 1 || m_widths.empty())
            return -1;
        const int32_t* end = std::upper_bound(m_widths.begin(), m_widths.end(), room);
        *bucket = find(int32_t(end - m_widths.begin()) - 1);
        if (*bucket < 0)
            return -1;
        return m_entries[m_heads[*bucket]];
    }

    // Takes the first not yet placed glyph of the width out of its bucket.
    void take(int32_t width)
    {
        const int32_t* at = std::lower_bound(m_widths.begin(), m_widths.end(), width);
        pop(int32_t(at - m_widths.begin()));
    }

    void pop(int32_t bucket)
    {
        if (++m_heads[bucket] == m_ends[bucket])
            m_below[bucket] = bucket - 1;
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

    array_dyn_t<int32_t> m_widths;    // distinct widths, ascending
    array_dyn_t<uint32_t> m_heads;    // per width: next entry not yet placed
    array_dyn_t<uint32_t> m_ends;     // per width: one past its last entry
    array_dyn_t<int32_t> m_below;     // per width: itself while non-empty, else a lower width
    array_dyn_t<uint32_t> m_entries;  // positions in the order, grouped by width, ascending
};

// The room for cells in a picture side, less the free pixels at its start and before its end;
// none when the spacing takes the whole side.
uint64_t inner_side(uint32_t side, uint32_t spacing)
{
    return side > spacing ? side - spacing : 0;
}

// Sizes that cannot take the set whatever the order: a cell with its free columns and rows needs
// (width + s) × (height + s) pixels inside columns and rows s to side − s, s the spacing.
struct set_demand_t
{
    uint64_t area = 0;
    uint64_t max_width = 0;
    uint64_t max_height = 0;
    uint32_t spacing = 1;

    bool may_fit(uint32_t width, uint32_t height) const
    {
        const uint64_t u = inner_side(width, spacing);
        const uint64_t v = inner_side(height, spacing);
        return spacing + max_width <= u && spacing + max_height <= v && area <= u * v;
    }
};

set_demand_t measure_demand(const character_set_t& set, const array_t<uint32_t>& positions,
                            uint32_t spacing)
{
    set_demand_t demand;
    demand.spacing = spacing;
    for (uint32_t position : positions)
    {
        const font_glyph_t& glyph = set.glyphs[position];
        if (!glyph.rasterized)
            continue;
        const uint64_t width = uint64_t(std::max(glyph.width, 0));
        const uint64_t height = uint64_t(std::max(glyph.height, 0));
        demand.area += (width + spacing) * (height + spacing);
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

namespace
{

// The shelf packer over one packing order, picture after picture: each picture starts empty and
// takes glyphs from those no picture has taken yet, so laying out a set costs about n log n
// whatever the number of pictures. Packing a picture from where the last stopped places exactly
// what a fresh packer over the glyphs left would.
class shelf_packer_t
{
public:
    // `placed` keeps, by position in the order, 1 for every glyph a picture has taken.
    shelf_packer_t(character_set_t* set, const array_t<uint32_t>& order,
                   array_dyn_t<uint8_t>* placed, uint32_t spacing)
        : m_set(set), m_order(order), m_placed(*placed), m_spacing(spacing)
    {
    }

    // False when memory is short.
    [[nodiscard]] bool start()
    {
        m_placed.clear();
        if (!m_buckets.build(*m_set, m_order) || !m_placed.resize(m_order.size()))
            return false;
        m_started = true;
        return true;
    }
    bool started() const { return m_started; }

    // Packs one `width` × `height` picture from (s, s), s the spacing: shelves with s free
    // pixels between cells and at the right and bottom edges; a glyph that does not fit on its
    // shelf first lets the widest later glyph that does fit go before it. Every glyph it places
    // gets its canvas_x, canvas_y and, unless it is no_picture, `picture`.
    static constexpr uint32_t no_picture = UINT32_MAX;
    packing_t pack(uint32_t width, uint32_t height, uint32_t picture)
    {
        // Unsigned sums against U and V, signed room and widths, as the shelf rule is defined.
        const uint64_t spacing = m_spacing;
        const uint64_t u = inner_side(width, m_spacing);
        const uint64_t v = inner_side(height, m_spacing);
        uint64_t x = spacing;
        uint64_t y = spacing;
        int32_t shelf = 0;
        m_placed_now = 0;

        auto put = [&](uint32_t p) {
            font_glyph_t& glyph = m_set->glyphs[m_order[p]];
            glyph.canvas_x = uint32_t(x);
            glyph.canvas_y = uint32_t(y);
            if (picture != no_picture)
                glyph.picture = picture;
            x += uint64_t(uint32_t(glyph.width)) + spacing;
            shelf = std::max(shelf, glyph.height);
            m_placed[p] = 1;
            ++m_placed_now;
            const uint64_t cell_width = uint64_t(std::max(glyph.width, 0));
            const uint64_t cell_height = uint64_t(std::max(glyph.height, 0));
            m_placed_area += (cell_width + spacing) * (cell_height + spacing);
        };

        for (; m_next < m_order.size(); ++m_next)
        {
            const uint32_t p = m_next;
            if (m_placed[p])
                continue;
            font_glyph_t& glyph = m_set->glyphs[m_order[p]];
            if (!glyph.rasterized)
                continue;
            while (x + uint32_t(glyph.width) > u)
            {
                const int32_t room = x < u ? int32_t(uint32_t(u - x)) : 0;
                int32_t bucket = -1;
                const int64_t moved = m_buckets.widest_up_to(room, &bucket);
                if (moved < 0)
                {
                    y += uint64_t(uint32_t(shelf)) + spacing;
                    x = spacing;
                    shelf = 0;
                    if (spacing + uint64_t(uint32_t(glyph.width)) > u)
                        return packing_t::partial;
                    break;
                }
                // Left where it is when it does not fit: the next picture starts with it.
                if (y + uint32_t(m_set->glyphs[m_order[uint32_t(moved)]].height) > v)
                    return packing_t::partial;
                m_buckets.pop(bucket);
                put(uint32_t(moved));
            }
            if (y + uint32_t(glyph.height) > v)
                return packing_t::partial;
            put(p);
            if (glyph.width > 0)
                m_buckets.take(glyph.width);
        }
        return packing_t::complete;
    }

    uint32_t placed_by_last_pack() const { return m_placed_now; }
    // The demand's area of what pictures have taken so far.
    uint64_t placed_area() const { return m_placed_area; }

    // The positions in the order of the rasterized glyphs no picture has taken yet.
    [[nodiscard]] bool list_left(array_dyn_t<uint32_t>* left) const
    {
        left->clear();
        for (uint32_t p = m_next; p < m_order.size(); ++p)
            if (!m_placed[p] && m_set->glyphs[m_order[p]].rasterized && !left->append(m_order[p]))
                return false;
        return true;
    }

private:
    character_set_t* m_set;
    const array_t<uint32_t>& m_order;
    width_buckets_t m_buckets;
    array_dyn_t<uint8_t>& m_placed;
    uint32_t m_spacing;
    bool m_started = false;
    uint32_t m_next = 0;       // every position before it is placed or not rasterized
    uint32_t m_placed_now = 0;
    uint64_t m_placed_area = 0;
};

}  // namespace

packing_t pack_glyphs(character_set_t* set, const array_t<uint32_t>& order, uint32_t width,
                      uint32_t height, array_dyn_t<uint8_t>* placed, uint32_t spacing)
{
    shelf_packer_t packer(set, order, placed, spacing);
    if (!packer.start())
        return packing_t::no_memory;
    return packer.pack(width, height, shelf_packer_t::no_picture);
}

namespace
{

// The sizes of the search in order, from 32 × 32 up to side × side, the height growing first.
uint32_t next_width(uint32_t width, uint32_t height)
{
    return width < height ? width * 2 : width;
}
uint32_t next_height(uint32_t width, uint32_t height)
{
    return width < height ? height : height * 2;
}

// The first size below side × side that takes every glyph left, or 0 × 0.
packing_t fit_smaller_picture(character_set_t* set, const array_t<uint32_t>& left, uint32_t side,
                              uint32_t spacing, picture_size_t* size)
{
    *size = picture_size_t{ 0, 0 };
    const set_demand_t demand = measure_demand(*set, left, spacing);
    array_dyn_t<uint8_t> placed;
    for (uint32_t width = first_canvas_side, height = first_canvas_side;
         width < side || height < side;)
    {
        // A size that cannot take the cells' area fails its attempt; skipping it changes nothing.
        if (demand.may_fit(width, height))
        {
            const packing_t packing = pack_glyphs(set, left, width, height, &placed, spacing);
            if (packing != packing_t::partial)
            {
                *size = picture_size_t{ width, height };
                return packing;
            }
        }
        const uint32_t grown_width = next_width(width, height);
        height = next_height(width, height);
        width = grown_width;
    }
    return packing_t::partial;
}

void say_packing_memory_short(const character_set_t& set)
{
    msg_error("Out of memory while packing the glyphs of the element %u of 'char_config' (the "
              "character set file '%s').",
              set.label.element, set.label.file);
}

// The glyph to name after "could not be rasterized": the largest that no picture can hold by
// itself, else the largest of all (longest side first, then area), with the way out.
void say_why_glyphs_do_not_fit(const character_set_t& set, const array_t<uint32_t>& order,
                               const picture_limits_t& limits)
{
    const font_glyph_t* largest = nullptr;
    const font_glyph_t* alone = nullptr;
    const uint64_t room = inner_side(limits.max_side, limits.spacing);
    for (uint32_t position : order)
    {
        const font_glyph_t& glyph = set.glyphs[position];
        if (!glyph.rasterized)
            continue;
        const uint64_t width = uint32_t(glyph.width);
        const uint64_t height = uint32_t(glyph.height);
        const auto larger = [](const font_glyph_t& g, const font_glyph_t* than) {
            const int32_t side = std::max(g.width, g.height);
            const int32_t other = than == nullptr ? -1 : std::max(than->width, than->height);
            return than == nullptr || side > other ||
                   (side == other && int64_t(g.width) * g.height >
                                         int64_t(than->width) * than->height);
        };
        if ((limits.spacing + width > room || limits.spacing + height > room) &&
            larger(glyph, alone))
            alone = &glyph;
        if (larger(glyph, largest))
            largest = &glyph;
    }
    if (largest == nullptr)
        return;
    const font_glyph_t& glyph = alone != nullptr ? *alone : *largest;
    const character_words_t character = quote_character(glyph.code);
    const set_words_t words = describe_set(set.label);
    if (alone != nullptr)
        msg_error("The glyph U+%04X%s of %s is %d x %d pixels, more than a picture of "
                  "max_picture_size %u holds by itself with glyph_spacing %u at its borders: make "
                  "max_picture_size larger, or the glyphs, glyph_padding or outline_width smaller.",
                  glyph.code, character.text, words.text, glyph.width, glyph.height,
                  limits.max_side, limits.spacing);
    else
        msg_error("The glyphs of %s do not fit one picture of max_picture_size %u; the largest is "
                  "U+%04X%s of %d x %d pixels: set several_pictures: true, or a larger "
                  "max_picture_size (at most %u).",
                  words.text, limits.max_side, glyph.code, character.text, glyph.width,
                  glyph.height, uint32_t(MAX_CANVAS_SIDE));
}

}  // namespace

bool lay_out_pictures(character_set_t* set, const array_t<uint32_t>& order,
                      const picture_limits_t& limits, array_dyn_t<picture_size_t>* sizes)
{
    const uint32_t side = limits.max_side;
    if (side < first_canvas_side || side > MAX_CANVAS_SIDE || (side & (side - 1)) != 0)
        OV_FATAL("Picture size limit that the size search never reaches.");
    sizes->clear();
    // The largest size below side × side is side / 2 × side.
    const uint32_t spacing = limits.spacing;
    const uint64_t smaller_inner_area = inner_side(side / 2, spacing) * inner_side(side, spacing);
    const uint64_t set_area = measure_demand(*set, order, spacing).area;
    array_dyn_t<uint8_t> placed;
    // Started when a picture needs the largest size.
    shelf_packer_t packer(set, order, &placed, spacing);
    array_dyn_t<uint32_t> left;
    for (;;)
    {
        const uint32_t picture = sizes->size();
        // A smaller picture is tried only when what is left may fit one: the last picture.
        const uint64_t area = set_area - packer.placed_area();
        if (side > first_canvas_side && area <= smaller_inner_area)
        {
            const array_t<uint32_t>* glyphs = &order;
            if (packer.started())
            {
                if (!packer.list_left(&left))
                {
                    say_packing_memory_short(*set);
                    return false;
                }
                glyphs = &left;
            }
            picture_size_t size;
            const packing_t packing = fit_smaller_picture(set, *glyphs, side, spacing, &size);
            if (packing == packing_t::no_memory)
            {
                say_packing_memory_short(*set);
                return false;
            }
            if (packing == packing_t::complete)
            {
                for (uint32_t position : *glyphs)
                    if (set->glyphs[position].rasterized)
                        set->glyphs[position].picture = picture;
                if (sizes->append(size))
                    return true;
                say_packing_memory_short(*set);
                return false;
            }
        }
        if (!packer.started() && !packer.start())
        {
            say_packing_memory_short(*set);
            return false;
        }
        const packing_t packing = packer.pack(side, side, picture);
        if (packing == packing_t::partial &&
            (!limits.several || packer.placed_by_last_pack() == 0))
        {
            msg_error("The requested glyphs could not be rasterized onto canvas up to size %u x %u "
                      "pixels.",
                      side, side);
            say_why_glyphs_do_not_fit(*set, order, limits);
            return false;
        }
        if (!sizes->append(picture_size_t{ side, side }))
        {
            say_packing_memory_short(*set);
            return false;
        }
        if (packing == packing_t::complete)
            return true;
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
    // A coverage bitmap sits inside its cell's outline margin and padding; a field's values
    // fill the whole cell.
    draw_job_t(const array_t<font_canvas_t*>& canvases, const character_set_t& set,
               uint32_t outline_width, uint32_t padding, bool distance_field,
               glyph_source_t* source)
        : m_canvases(canvases), m_set(set),
          m_inset(distance_field ? outline_width : outline_width + padding),
          m_source(source)
    {
        if (distance_field)
            make_distance_field_alpha_table(&m_alpha);
        else
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
                draw_glyph(m_canvases[glyph.picture], bitmap, m_set, glyph, m_inset, m_alpha);
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
    uint32_t m_inset;  // pixels from a cell's top-left corner to its bitmap
    glyph_source_t* m_source;
    glyph_alpha_table_t m_alpha;
};

void say_picture_memory_short(const character_set_t& set, uint32_t picture)
{
    msg_error("Not enough memory for picture %u of the element %u of 'char_config' (the "
              "character set file '%s').",
              picture, set.label.element, set.label.file);
}

// Sets each canvas to its picture's size, clears it, and draws every glyph onto its picture.
// Reports and returns false when a picture gets no memory or the source could not give a glyph
// it measured.
bool draw_pictures(const array_t<font_canvas_t*>& canvases, const array_t<picture_size_t>& sizes,
                   const character_set_t& set, uint32_t outline_width, uint32_t padding,
                   bool distance_field, glyph_source_t* source)
{
    // Failed attempts draw nothing, so clearing each block once for the kept size is enough;
    // pages no attempt or run has written are not touched at all.
    for (uint32_t k = 0; k < sizes.size(); ++k)
    {
        if (!canvases[k]->resize_and_clear(sizes[k].width, sizes[k].height))
        {
            say_picture_memory_short(set, k);
            return false;
        }
    }

    draw_job_t job(canvases, set, outline_width, padding, distance_field, source);
    const uint32_t count = set.glyphs.size();
    run_glyph_job(&job, count, std::min(source->helper_count(), glyph_helpers_for(count)));
    const int64_t lost = source->first_lost_glyph();
    if (lost < 0)
        return true;
    const font_glyph_t& glyph = set.glyphs[uint32_t(lost)];
    msg_error("Not enough memory to draw the glyph U+%04X ('%s') of the element %u of "
              "'char_config' (the character set file '%s') on picture %u.",
              glyph.code, glyph.name.c_str(), set.label.element, set.label.file, glyph.picture);
    return false;
}

// lay_out_pictures in the set's packing order.
bool plan_pictures(character_set_t* set, const picture_limits_t& limits,
                   array_dyn_t<picture_size_t>* sizes)
{
    array_dyn_t<uint32_t> order;
    if (sort_glyphs_for_packing(*set, &order))
        return lay_out_pictures(set, order, limits, sizes);
    say_packing_memory_short(*set);
    return false;
}

}  // namespace

bool fit_set_canvases(array_dyn_t<auto_ptr_t<font_canvas_t>>* canvases, character_set_t* set,
                      uint32_t outline_width, const picture_limits_t& limits,
                      const canvas_style_t& style, glyph_source_t* source, bool distance_field,
                      uint32_t glyph_padding)
{
    array_dyn_t<picture_size_t> sizes;
    if (!plan_pictures(set, limits, &sizes))
        return false;
    array_dyn_t<font_canvas_t*> pictures;
    if (!pictures.reserve(sizes.size()))
    {
        say_packing_memory_short(*set);
        return false;
    }
    for (uint32_t k = 0; k < sizes.size(); ++k)
    {
        if (k == canvases->size())
        {
            auto_ptr_t<font_canvas_t> canvas = create_font_canvas(style);
            if (!canvas || !canvases->append(std::move(canvas)))
            {
                say_picture_memory_short(*set, k);
                return false;
            }
        }
        (void)pictures.append((*canvases)[k].get());
    }
    return draw_pictures(pictures, sizes, *set, outline_width, glyph_padding, distance_field,
                         source);
}

void draw_glyph(font_canvas_t* canvas, const glyph_bitmap_t& bitmap, const character_set_t& set,
                const font_glyph_t& glyph, uint32_t inset, const glyph_alpha_table_t& alpha)
{
    // A multi-channel field's texels go in as they are, on its four-byte pictures.
    const bool channels = bitmap.mode == glyph_pixel_mode_t::rgba;
    if (bitmap.top_row == nullptr ||
        (channels ? canvas->bytes_per_pixel() != 4
                  : canvas->font_style > 1 || !is_readable_pixel_mode(bitmap.mode)))
        return;
    // The bitmap's part inside the cell and inside the canvas.
    const int64_t outline = inset;
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

    for (int32_t r = 0; r < rows; ++r)
    {
        uint8_t* const line = canvas->row(uint32_t(top + r));
        if (channels)
        {
            std::memcpy(line + 4 * uint64_t(left), bitmap.top_row + int64_t(r) * bitmap.pitch,
                        std::size_t(columns) * 4);
            continue;
        }
        if (canvas->font_style == 0)
        {
            uint8_t* out = line + uint64_t(left);
            for (int32_t c = 0; c < columns; ++c)
                out[c] = alpha.alpha[bitmap.coverage_at(r, c)];
            continue;
        }
        const float factor = gradient_factor(canvas->gradient_start, canvas->gradient_step,
                                             canvas->gradient_start_offset,
                                             int64_t(set.max_top) - glyph.top + r);
        uint8_t* out = line + 4 * uint64_t(left);
        for (int32_t c = 0; c < columns; ++c)
        {
            const uint8_t coverage = bitmap.coverage_at(r, c);
            const uint8_t colour =
                gradient_colour(factor, alpha.colour_by_coverage ? coverage : uint8_t(255));
            out[4 * c + 0] = colour;
            out[4 * c + 1] = colour;
            out[4 * c + 2] = colour;
            out[4 * c + 3] = alpha.alpha[coverage];
        }
    }
}
