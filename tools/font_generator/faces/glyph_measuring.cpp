// Measuring glyphs, the missing-glyph checks and the drawing-pass bitmaps, through FreeType.
//
// Sections: routes, builders and kept glyphs; measuring; measuring on helpers; bitmap checks;
// drawing-pass bitmaps.
#include "tools/font_generator/faces/glyph_measuring.h"

#include "ovcore/message.h"
#include "tools/font_generator/faces/blank_characters.h"
#include "tools/font_generator/faces/multi_channel_field.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/faces/glyph_workers.h"
#include "tools/font_generator/model/font_glyph.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <new>

namespace
{

constexpr FT_Int32 measure_flags = FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_PEDANTIC;
constexpr FT_Int32 draw_flags = FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT;
static_assert(measure_flags == 0xA4 && (measure_flags | FT_LOAD_TARGET_MONO) == 0x200A4);
static_assert(draw_flags == 0x24 && (draw_flags | FT_LOAD_TARGET_MONO) == 0x20024);
// A distance field measures the outline as designed, not as hinted or as a strike draws it.
constexpr FT_Int32 outline_flags = FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;

constexpr uint32_t letter_m = 77;

int32_t saturate_to_int32(int64_t value)
{
    return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

glyph_bitmap_t view_of(const FT_Bitmap& bitmap)
{
    glyph_bitmap_t view;
    view.width = saturate_to_int32(bitmap.width);
    view.rows = saturate_to_int32(bitmap.rows);
    view.pitch = bitmap.pitch;
    view.mode = glyph_pixel_mode_t(bitmap.pixel_mode);
    view.top_row = bitmap.buffer;
    // A negative pitch stores the bottom row first; row 0 is then the last in memory.
    if (bitmap.buffer != nullptr && bitmap.pitch < 0 && bitmap.rows > 0)
        view.top_row = bitmap.buffer + int64_t(-bitmap.pitch) * (int64_t(bitmap.rows) - 1);
    return view;
}

bool has_pixels(const glyph_bitmap_t& bitmap)
{
    return bitmap.width > 0 && bitmap.rows > 0;
}

}  // namespace

// ---- routes, builders and kept glyphs -----------------------------------------------------------

glyph_route_t route_of(const glyph_render_settings_t& settings)
{
    glyph_route_t route;
    route.padding = settings.padding;
    if (settings.distance_field)
    {
        route.field = true;
        route.field_type = settings.field_type;
        route.measure_flags = outline_flags;
        route.draw_flags = outline_flags;
        route.distance_range = settings.distance_range;
        return route;
    }
    const FT_Int32 target = settings.antialias ? 0 : FT_LOAD_TARGET_MONO;
    route.measure_flags = measure_flags | target;
    route.draw_flags = draw_flags | target;
    route.outline = int64_t(settings.outline_width);
    return route;
}

field_builders_t::field_builders_t() = default;
field_builders_t::~field_builders_t() = default;

bool field_builders_t::make(const glyph_route_t& route, uint32_t threads)
{
    m_builders.clear();
    if (!route.field)
        return true;
    if (!m_builders.resize(threads))
        return false;
    for (auto_ptr_t<multi_channel_field_t>& builder : m_builders)
    {
        builder.reset(new (std::nothrow) multi_channel_field_t);
        if (!builder)
        {
            m_builders.clear();
            return false;
        }
    }
    return true;
}

multi_channel_field_t* field_builders_t::of(uint32_t thread) const
{
    return thread < m_builders.size() ? m_builders[thread].get() : nullptr;
}

int glyph_lookup_t::load(FT_FaceRec_* face, uint32_t position, uint32_t code,
                         int32_t flags) const
{
    return m_kept != nullptr ? FT_Load_Glyph(face, m_kept->get_index(position), flags)
                             : FT_Load_Char(face, code, flags);
}

void glyph_lookup_t::note_index(uint32_t position, uint32_t index) const
{
    if (m_kept != nullptr)
        m_kept->set_index(position, index);
}

void glyph_lookup_t::keep_bitmap(uint32_t position, const glyph_bitmap_t& bitmap,
                                 uint64_t* budget, uint32_t pool) const
{
    if (m_kept != nullptr)
        (void)m_kept->keep_bitmap(position, bitmap, budget, pool);
}

bool glyph_lookup_t::find_bitmap(uint32_t position, glyph_bitmap_t* out) const
{
    return m_kept != nullptr && m_kept->find_bitmap(position, out);
}

void glyph_lookup_t::release_bitmaps_through(uint32_t position) const
{
    if (m_kept != nullptr)
        m_kept->release_bitmaps_through(position);
}

void glyph_lookup_t::release_bitmaps() const
{
    if (m_kept != nullptr)
        m_kept->release_bitmaps();
}

// ---- measuring ---------------------------------------------------------------------------------

namespace
{

// Whether any pixel of the bitmap has coverage: a glyph without ink keeps an empty cell.
bool has_ink(const glyph_bitmap_t& bitmap)
{
    if (bitmap.top_row == nullptr)
        return false;
    for (int32_t r = 0; r < bitmap.rows; ++r)
        for (int32_t c = 0; c < bitmap.width; ++c)
            if (bitmap.coverage_at(r, c) != 0)
                return true;
    return false;
}

// Measures a loaded outline glyph by its distance field, made with `field`: the field's cell,
// the unhinted advance, the checks over the cell without its padding; an outline FreeType cannot
// walk is a glyph that did not load. False when memory is short.
bool measure_field(font_glyph_t* glyph, FT_GlyphSlot slot, const glyph_route_t& route,
                   multi_channel_field_t* field, glyph_message_log_t* log)
{
    if (field == nullptr ||
        !field->build(slot->outline, route.distance_range, route.field_type, route.padding))
        return false;
    if (field->is_invalid())
    {
        log->error("Failed to retrieve glyph '%s'.", glyph->name.c_str());
        return true;
    }
    const distance_cell_t& cell = field->cell();
    glyph->width = cell.width;
    glyph->height = cell.rows;
    glyph->left = cell.left;
    glyph->top = cell.top;
    glyph->advance = saturate_to_int32((int64_t(slot->advance.x) + 32) >> 6);
    glyph->below = saturate_to_int32(std::max<int64_t>(int64_t(glyph->height) - glyph->top, 0));
    check_glyph_bitmap(*glyph, field->interior(), log);
    glyph->rasterized = true;
    return true;
}

// Measures the glyph at the position with the first of the faces that defines its character:
// its cell, bearings and advance, and `rasterized` when that worked. Touches no other glyph and
// nothing of the set beside it, so helpers may measure different glyphs at once.
void measure_glyph(character_set_t* set, uint32_t position, face_list_t faces,
                   const glyph_route_t& route, const glyph_lookup_t& lookup, uint64_t* budget,
                   uint32_t pool, glyph_message_log_t* log, multi_channel_field_t* field)
{
    font_glyph_t& glyph = set->glyphs[position];
    // The first face that defines the character draws it; one nobody defines stays with the
    // first face.
    FT_UInt index = 0;
    glyph.face = 0;
    for (uint32_t k = 0; k < faces.count && index == 0; ++k)
    {
        index = FT_Get_Char_Index(faces[k], glyph.code);
        if (index != 0)
            glyph.face = k;
    }
    const FT_Face face = faces[glyph.face];
    lookup.note_index(position, index);
    if (index == 0)
    {
        log->error("Undefined character U+%04x", glyph.code);
        return;
    }
    const FT_Error loaded = lookup.load(face, position, glyph.code, route.measure_flags);
    if (loaded == FT_Err_Out_Of_Memory)
    {
        log->note_lost_glyph(position);
        return;
    }
    if (loaded != 0)
    {
        log->error("Failed to retrieve glyph '%s'.", glyph.name.c_str());
        return;
    }
    const FT_GlyphSlot slot = face->glyph;
    if (route.field)
    {
        if (slot->format != FT_GLYPH_FORMAT_OUTLINE)
            log->error("The glyph '%s' has no outline to make a distance field from.",
                       glyph.name.c_str());
        else if (!measure_field(&glyph, slot, route, field, log))
            log->note_lost_glyph(position);
        else if (field->has_values())
            lookup.keep_bitmap(position, field->values(), budget, pool);
        return;
    }
    const glyph_bitmap_t bitmap = view_of(slot->bitmap);
    if (has_pixels(bitmap) && (bitmap.top_row == nullptr || !is_readable_pixel_mode(bitmap.mode)))
    {
        log->error("The glyph '%s' was rendered in pixel mode %u, which cannot be read.",
                   glyph.name.c_str(), unsigned(bitmap.mode));
        return;
    }

    // Huge outline widths saturate instead of wrapping the cell size round.
    const int64_t outline = route.outline;
    const int64_t padding = route.padding > 0 && has_ink(bitmap) ? route.padding : 0;
    glyph.height = saturate_to_int32(int64_t(bitmap.rows) + 2 * (outline + padding));
    glyph.width = saturate_to_int32(int64_t(bitmap.width) + 2 * (outline + padding));
    glyph.left = saturate_to_int32(int64_t(slot->bitmap_left) - padding);
    glyph.top = saturate_to_int32(int64_t(slot->bitmap_top) + padding);
    glyph.advance = saturate_to_int32(int64_t(slot->advance.x >> 6) + outline);
    glyph.below = saturate_to_int32(std::max<int64_t>(int64_t(glyph.height) - glyph.top, 0));

    check_glyph_bitmap(glyph, bitmap, log);
    glyph.rasterized = true;
    lookup.keep_bitmap(position, bitmap, budget, pool);
}

// The set's extents over its measured glyphs in file order; the letter M's height is the last
// measured M's.
void fold_set_extents(character_set_t* set)
{
    set->min_width = 100;
    set->max_width = -100;
    set->min_height = 100;
    set->max_height = -100;
    set->max_top = 0;
    set->max_advance = 0;
    set->max_below = 0;
    set->m_height = 0;
    for (const font_glyph_t& glyph : set->glyphs)
    {
        if (!glyph.rasterized)
            continue;
        if (glyph.code == letter_m)
            set->m_height = glyph.height;
        set->max_height = std::max(set->max_height, glyph.height);
        set->min_height = std::min(set->min_height, glyph.height);
        set->max_width = std::max(set->max_width, glyph.width);
        set->min_width = std::min(set->min_width, glyph.width);
        set->max_top = std::max(set->max_top, glyph.top);
        set->max_below = std::max(set->max_below, glyph.below);
        set->max_advance = std::max(set->max_advance, glyph.advance);
    }
}

}  // namespace

bool measure_glyphs(character_set_t* set, face_list_t faces,
                    const glyph_render_settings_t& settings, set_glyphs_t* known, uint64_t* budget,
                    int64_t* lost)
{
    const glyph_route_t route = route_of(settings);
    field_builders_t builders;
    (void)builders.make(route, 1);  // without one, every field is noted lost
    glyph_message_log_t said_at_once;
    for (uint32_t position = 0; position < set->glyphs.size(); ++position)
        measure_glyph(set, position, faces, route, glyph_lookup_t(known), budget, 0,
                      &said_at_once, builders.of(0));
    fold_set_extents(set);
    if (lost != nullptr)
        *lost = said_at_once.first_lost_glyph();
    return said_at_once.first_lost_glyph() < 0;
}

// ---- measuring on helpers -----------------------------------------------------------------------

namespace
{

// Measuring one set on helpers: each chunk's messages are kept, to be said in file order; each
// helper keeps bitmaps in its own pool, within its share of the budget.
class measure_job_t final : public glyph_job_t
{
public:
    measure_job_t(character_set_t* set, face_set_t* faces, set_glyphs_t* known,
                  const glyph_route_t& route, uint32_t helpers, uint64_t budget)
        : m_set(set), m_faces(faces), m_lookup(known), m_route(route), m_helpers(helpers),
          m_share(budget / (helpers + 1))
    {
    }

    // False when memory is short.
    [[nodiscard]] bool make_room()
    {
        const uint32_t count = m_set->glyphs.size();
        const uint32_t chunks = (count + glyph_chunk_size - 1) / glyph_chunk_size;
        if (!m_logs.reserve(chunks) || !m_budgets.resize(m_helpers + 1))
            return false;
        (void)m_builders.make(m_route, m_helpers + 1);  // without them, every field is lost
        for (uint32_t c = 0; c < chunks; ++c)
            (void)m_logs.append(glyph_message_log_t(true));
        for (uint64_t& budget : m_budgets)
            budget = m_share;
        return true;
    }

    bool prepare_helper(uint32_t helper) override
    {
        face_list_t faces;
        return m_faces->helper_faces(helper, &faces);
    }

    void run_chunk(uint32_t helper, uint32_t begin, uint32_t end) override
    {
        face_list_t faces = m_faces->faces();
        if (helper != 0 && !m_faces->helper_faces(helper, &faces))
            return;  // prepared: cannot happen
        glyph_message_log_t* log = &m_logs[begin / glyph_chunk_size];
        for (uint32_t position = begin; position < end; ++position)
            measure_glyph(m_set, position, faces, m_route, m_lookup, &m_budgets[helper], helper,
                          log, m_builders.of(helper));
    }

    // Says every chunk's messages in order; returns the bytes kept in all, and the first glyph
    // lost for want of memory or -1.
    uint64_t finish(int64_t* lost)
    {
        *lost = -1;
        for (glyph_message_log_t& log : m_logs)
        {
            log.say_kept();
            if (*lost < 0)
                *lost = log.first_lost_glyph();
        }
        uint64_t kept = 0;
        for (uint64_t budget : m_budgets)
            kept += m_share - budget;
        return kept;
    }

private:
    character_set_t* m_set;
    face_set_t* m_faces;
    glyph_lookup_t m_lookup;
    glyph_route_t m_route;
    uint32_t m_helpers;
    uint64_t m_share;
    array_dyn_t<glyph_message_log_t> m_logs;  // per chunk
    array_dyn_t<uint64_t> m_budgets;          // per helper, what it may still keep
    field_builders_t m_builders;              // per helper, 0 the main thread
};

// measure_glyphs on the main thread and helpers; the first glyph lost for want of memory, or -1.
int64_t measure_set_glyphs(character_set_t* set, face_set_t* faces,
                           const glyph_render_settings_t& settings,
                           auto_ptr_t<set_glyphs_t>* known, uint64_t* budget)
{
    const uint32_t count = set->glyphs.size();
    const uint32_t helpers = glyph_helpers_for(count);
    // Without memory for what measuring learns the set is simply measured again later: same
    // output.
    if (*known && !(*known)->reset(count, helpers + 1))
        known->reset();
    if (helpers > 0 && faces->prepare_helpers(helpers))
    {
        measure_job_t job(set, faces, known->get(), route_of(settings), helpers, *budget);
        if (job.make_room())
        {
            run_glyph_job(&job, count, helpers);
            int64_t lost = -1;
            *budget -= job.finish(&lost);
            fold_set_extents(set);
            return lost;
        }
    }
    int64_t lost = -1;
    (void)measure_glyphs(set, faces->faces(), settings, known->get(), budget, &lost);
    return lost;
}

}  // namespace

bool measure_set(character_set_t* set, face_set_t* faces, const glyph_render_settings_t& settings,
                 auto_ptr_t<set_glyphs_t>* known, uint64_t* budget)
{
    const int64_t lost = measure_set_glyphs(set, faces, settings, known, budget);
    if (lost < 0)
        return true;
    const font_glyph_t& glyph = set->glyphs[uint32_t(lost)];
    msg_error("Not enough memory to measure the glyph U+%04X ('%s') of the element %u of "
              "'char_config' (the character set file '%s').",
              glyph.code, glyph.name.c_str(), set->label.element, set->label.file);
    return false;
}

// ---- bitmap checks -----------------------------------------------------------------------------

void check_glyph_bitmap(const font_glyph_t& glyph, const glyph_bitmap_t& bitmap,
                        glyph_message_log_t* log)
{
    glyph_message_log_t said_at_once;
    if (log == nullptr)
        log = &said_at_once;
    const int32_t w = bitmap.width;
    const int32_t h = bitmap.rows;
    if (!is_blank_by_nature(glyph.code) && (w < 1 || h < 1))
        log->warning("The glyph '%s' has suspicious dimensions of %d x %d pixels.",
                    glyph.name.c_str(), w, h);
    // Without pixels every pattern would hold vacuously.
    if (w < 1 || h < 1 || bitmap.top_row == nullptr)
        return;

    enum : uint32_t
    {
        empty = 1,
        solid = 2,
        full_frame = 4,
        top_left = 8,
        top_right = 16,
        bottom_left = 32,
        bottom_right = 64,
        all = 127,
    };
    // On a frame pixel a pattern wants 255, elsewhere 0.
    auto on_frame = [](int32_t r, int32_t c, int32_t r0, int32_t r1, int32_t c0, int32_t c1) {
        if (r < r0 || r > r1 || c < c0 || c > c1)
            return false;
        return r == r0 || r == r1 || c == c0 || c == c1;
    };
    uint32_t holding = all;
    for (int32_t r = 0; r < h && holding != 0; ++r)
    {
        for (int32_t c = 0; c < w && holding != 0; ++c)
        {
            const uint8_t value = bitmap.coverage_at(r, c);
            if (value != 255 && value != 0)
            {
                holding = 0;
                break;
            }
            const bool lit = value == 255;
            auto want = [&](uint32_t pattern, bool on) {
                if (on != lit)
                    holding &= ~pattern;
            };
            want(empty, false);
            want(solid, true);
            want(full_frame, on_frame(r, c, 0, h - 1, 0, w - 1));
            want(top_left, on_frame(r, c, 0, h - 2, 0, w - 2));
            want(top_right, on_frame(r, c, 0, h - 2, 1, w - 1));
            want(bottom_left, on_frame(r, c, 1, h - 1, 0, w - 2));
            want(bottom_right, on_frame(r, c, 1, h - 1, 1, w - 1));
        }
    }

    const char* name = glyph.name.c_str();
    if ((holding & empty) != 0 && !is_blank_by_nature(glyph.code))
        log->warning("The glyph '%s' rasterized to empty space.", name);
    const uint32_t code = glyph.code;
    if ((holding & solid) != 0 && code != 39 && code != 45 && code != 46 && code != 95 &&
        code != 124)
        log->warning("The glyph '%s' rasterized to solid rectangle.", name);
    if ((holding & full_frame) != 0 && w > 2 && h > 2)
        log->warning("The glyph '%s' rasterized to full-sized rectangle.", name);
    // A corner rectangle of a bitmap one pixel wide or tall is empty: its pattern would hold
    // without a single pixel (FreeType's monochrome space is a blank 1 x 1 bitmap).
    if (w < 2 || h < 2)
        return;
    if ((holding & top_left) != 0)
        log->warning("The glyph '%s' rasterized to rectangle in top-left corner.", name);
    if ((holding & top_right) != 0)
        log->warning("The glyph '%s' rasterized to rectangle in top-right corner.", name);
    if ((holding & bottom_left) != 0)
        log->warning("The glyph '%s' rasterized to rectangle in bottom-left corner.", name);
    if ((holding & bottom_right) != 0)
        log->warning("The glyph '%s' rasterized to rectangle in bottom-right corner.", name);
}

// ---- drawing-pass bitmaps ----------------------------------------------------------------------

face_glyph_source_t::face_glyph_source_t(face_list_t faces, const character_set_t& set,
                                         const glyph_render_settings_t& settings,
                                         set_glyphs_t* known, face_set_t* helpers)
    : m_faces(faces), m_set(set), m_route(route_of(settings)), m_lookup(known),
      m_helpers(helpers)
{
    // Without room for the builders every field that is not kept is lost, and said so.
    (void)m_builders.make(m_route, (helpers != nullptr ? helpers->helper_count() : 0) + 1);
}

face_glyph_source_t::~face_glyph_source_t()
{
    m_lookup.release_bitmaps();
}

void face_glyph_source_t::drawn_through(uint32_t position)
{
    m_lookup.release_bitmaps_through(position);
}

bool face_glyph_source_t::get_bitmap(uint32_t position, glyph_bitmap_t* out)
{
    return load_bitmap(m_faces, position, 0, out);
}

uint32_t face_glyph_source_t::helper_count() const
{
    return m_helpers != nullptr ? m_helpers->helper_count() : 0;
}

bool face_glyph_source_t::prepare_helper(uint32_t helper)
{
    face_list_t faces;
    return m_helpers->helper_faces(helper, &faces);
}

bool face_glyph_source_t::get_helper_bitmap(uint32_t helper, uint32_t position,
                                            glyph_bitmap_t* out)
{
    face_list_t faces;
    return m_helpers->helper_faces(helper, &faces) && load_bitmap(faces, position, helper, out);
}

int64_t face_glyph_source_t::first_lost_glyph() const
{
    const uint32_t lost = m_first_lost.load(std::memory_order_relaxed);
    return lost == UINT32_MAX ? -1 : int64_t(lost);
}

void face_glyph_source_t::note_lost(uint32_t position)
{
    uint32_t first = m_first_lost.load(std::memory_order_relaxed);
    while (position < first &&
           !m_first_lost.compare_exchange_weak(first, position, std::memory_order_relaxed))
    {
    }
}

bool face_glyph_source_t::load_bitmap(face_list_t faces, uint32_t position, uint32_t helper,
                                      glyph_bitmap_t* out)
{
    // The drawing flags differ from the measuring ones only in FT_LOAD_PEDANTIC, which changes
    // whether a load fails, not what a successful one renders: the kept bitmap is the same.
    if (m_lookup.find_bitmap(position, out))
        return true;
    const font_glyph_t& glyph = m_set.glyphs[position];
    const FT_Face face = faces[glyph.face];
    const FT_Error loaded = m_lookup.load(face, position, glyph.code, m_route.draw_flags);
    if (loaded != 0)
    {
        // A glyph measured but not drawn for want of memory would be silently missing.
        if (loaded == FT_Err_Out_Of_Memory)
            note_lost(position);
        return false;
    }
    if (m_route.field)
    {
        if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
            return false;  // measuring said so
        multi_channel_field_t* builder = m_builders.of(helper);
        if (builder == nullptr ||
            !builder->build(face->glyph->outline, m_route.distance_range, m_route.field_type,
                            m_route.padding))
        {
            note_lost(position);
            return false;
        }
        if (builder->is_invalid())
            return false;  // measuring said so
        *out = builder->values();
    }
    else
        *out = view_of(face->glyph->bitmap);
    return has_pixels(*out) && out->top_row != nullptr &&
           (is_readable_pixel_mode(out->mode) || out->mode == glyph_pixel_mode_t::rgba);
}
