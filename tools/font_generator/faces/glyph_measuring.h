// Measuring a set's glyphs once with its faces, the checks for tell-tale shapes of missing
// glyphs, and the bitmaps of the drawing pass: kept from measuring, or loaded again.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/model/picture_kind.h"

#include <atomic>
#include <cstdint>

class multi_channel_field_t;
struct character_set_t;
struct font_glyph_t;
struct glyph_bitmap_t;
class glyph_message_log_t;
class set_glyphs_t;

// Where the drawing pass gets the bitmap of a glyph, by the glyph's position in its set.
class glyph_source_t
{
public:
    virtual ~glyph_source_t() = default;
    // The bitmap to draw, valid until the next call; false when there is nothing to draw.
    [[nodiscard]] virtual bool get_bitmap(uint32_t position, glyph_bitmap_t* out) = 0;
    // Every glyph up to the position has been drawn: what the source keeps for them may go.
    // Main thread only.
    virtual void drawn_through(uint32_t /*position*/) {}
    // The first position, in file order, of a measured glyph whose bitmap could not be had
    // again (memory ran short), or -1. Main thread only, after drawing.
    virtual int64_t first_lost_glyph() const { return -1; }

    // Helpers 1 to helper_count() may draw beside the main thread, each with bitmaps of its own.
    virtual uint32_t helper_count() const { return 0; }
    // Gets helper h ready on the thread that runs it; false: it draws nothing.
    [[nodiscard]] virtual bool prepare_helper(uint32_t /*helper*/) { return false; }
    // get_bitmap for helper h >= 1; its bitmap stays valid until its next call.
    [[nodiscard]] virtual bool get_helper_bitmap(uint32_t /*helper*/, uint32_t /*position*/,
                                                 glyph_bitmap_t* /*out*/)
    {
        return false;
    }
};

// How a set's glyphs are rendered.
struct glyph_render_settings_t
{
    bool antialias = true;       // 8-bit coverage, else monochrome
    uint32_t outline_width = 0;  // pixels of margin on every side of a cell
    // Signed distance fields of the unhinted outlines instead of coverage: the cell is the
    // field's, the advance the unhinted one, and the bitmap holds the values.
    bool distance_field = false;
    float distance_range = default_distance_range;
    // Three channels (and the field in a fourth for mtsdf) as glyph_pixel_mode_t::rgba.
    distance_field_type_t field_type = distance_field_type_t::sdf;
    // Empty pixels on every side of every cell with ink, outside the outline margin, or added
    // to a field's margin (its values go on into them).
    uint32_t padding = 0;
};

// How one set's glyphs are loaded and made into bitmaps, chosen once per set from its settings:
// coverage or a distance field, and FreeType's load flags with it.
struct glyph_route_t
{
    bool field = false;
    distance_field_type_t field_type = distance_field_type_t::sdf;  // of a field
    int32_t measure_flags = 0;  // a load FreeType has to bend fails here, so it is reported
    int32_t draw_flags = 0;     // the same bitmap as measuring's, without the check
    int64_t outline = 0;        // coverage: pixels of margin on every side of a cell
    float distance_range = default_distance_range;
    uint32_t padding = 0;
};

glyph_route_t route_of(const glyph_render_settings_t& settings);

// The builders of a route's distance fields, one for each thread that works on a set (0: the
// main thread), all made at once; none for a coverage route.
class field_builders_t
{
public:
    field_builders_t();
    ~field_builders_t();
    // False when memory is short; every builder is then missing.
    [[nodiscard]] bool make(const glyph_route_t& route, uint32_t threads);
    // Thread t's builder; null for coverage, or when memory was short.
    multi_channel_field_t* of(uint32_t thread) const;

private:
    array_dyn_t<auto_ptr_t<multi_channel_field_t>> m_builders;
};

// A set's kept glyphs, or none: the glyph index measuring found and the bitmap it kept. The one
// place that knows whether glyphs are kept; without them every question goes to the faces.
class glyph_lookup_t
{
public:
    explicit glyph_lookup_t(set_glyphs_t* kept) : m_kept(kept) {}
    // Loads the glyph at the position into the face's slot: by the kept index, which is what
    // loading by the code does, else by the code. FreeType's error.
    int load(FT_FaceRec_* face, uint32_t position, uint32_t code, int32_t flags) const;
    void note_index(uint32_t position, uint32_t index) const;
    // Keeps a copy while the budget allows (see set_glyphs_t::keep_bitmap).
    void keep_bitmap(uint32_t position, const glyph_bitmap_t& bitmap, uint64_t* budget,
                     uint32_t pool) const;
    [[nodiscard]] bool find_bitmap(uint32_t position, glyph_bitmap_t* out) const;
    void release_bitmaps_through(uint32_t position) const;
    void release_bitmaps() const;

private:
    set_glyphs_t* m_kept;
};

// Measures every glyph of the set with the first of the faces that defines its character: cell
// size, bearings, advance, the set's extents, the bitmap checks; the glyph's `face` says which.
// Characters no face defines and glyphs that do not load are reported and stay unmeasured. With
// `known`, the glyph index of every glyph is kept there, and so is its bitmap while `*budget`
// allows; `known` must have been reset to the set's glyph count. False, without a message, when
// a glyph could not be loaded for want of memory; `*lost` (when given) is then the first such
// position, else -1. Main thread only.
bool measure_glyphs(character_set_t* set, face_list_t faces,
                    const glyph_render_settings_t& settings, set_glyphs_t* known,
                    uint64_t* budget, int64_t* lost = nullptr);

// measure_glyphs over the face set, on the main thread and helpers with faces of their own when
// the set is large enough: the same glyphs, extents, kept bitmaps and messages in the same order
// as on the main thread alone. `*known` is reset here (and dropped when memory is short for it:
// the output stays the same). Reports and returns false when a glyph could not be loaded for
// want of memory, naming it and the set.
[[nodiscard]] bool measure_set(character_set_t* set, face_set_t* faces,
                               const glyph_render_settings_t& settings,
                               auto_ptr_t<set_glyphs_t>* known, uint64_t* budget);

// Warns about bitmaps that look like a missing glyph: empty, solid, a full-sized frame or a
// frame in one corner, and suspicious dimensions, into `log` (null: said at once). Never
// rejects the glyph.
void check_glyph_bitmap(const font_glyph_t& glyph, const glyph_bitmap_t& bitmap,
                        glyph_message_log_t* log = nullptr);

// Drawing-pass bitmaps of one set: the bitmap kept while measuring, else the glyph loaded again
// from its face with the drawing flags (its distance field made again, for a distance-field
// set). A glyph that does not load again gives nothing to draw.
class face_glyph_source_t final : public glyph_source_t
{
public:
    // `known` may be null: every glyph is then loaded again by its code. With `helpers`, its
    // prepared helpers draw beside the main thread, each from its own faces. Destroyed, it frees
    // every bitmap `known` kept; the glyph indices stay.
    face_glyph_source_t(face_list_t faces, const character_set_t& set,
                        const glyph_render_settings_t& settings, set_glyphs_t* known,
                        face_set_t* helpers = nullptr);
    ~face_glyph_source_t() override;
    [[nodiscard]] bool get_bitmap(uint32_t position, glyph_bitmap_t* out) override;
    // Frees the kept bitmaps of the glyphs drawn.
    void drawn_through(uint32_t position) override;
    int64_t first_lost_glyph() const override;

    uint32_t helper_count() const override;
    [[nodiscard]] bool prepare_helper(uint32_t helper) override;
    [[nodiscard]] bool get_helper_bitmap(uint32_t helper, uint32_t position,
                                         glyph_bitmap_t* out) override;

private:
    // The bitmap from the faces given, with the drawing flags; a field is made with helper h's
    // builder.
    bool load_bitmap(face_list_t faces, uint32_t position, uint32_t helper, glyph_bitmap_t* out);
    // Keeps the first position of a glyph that could not be drawn for want of memory.
    void note_lost(uint32_t position);

    face_list_t m_faces;
    const character_set_t& m_set;
    glyph_route_t m_route;
    glyph_lookup_t m_lookup;
    face_set_t* m_helpers;
    field_builders_t m_builders;  // per helper, 0 the main thread
    std::atomic<uint32_t> m_first_lost{ UINT32_MAX };  // helpers draw at once
};
