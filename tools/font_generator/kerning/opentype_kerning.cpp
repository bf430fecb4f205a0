// OpenType kerning through HarfBuzz, loaded when a set first asks for it.
//
// Sections: loading HarfBuzz, shaping one pair, reading the layout tables, the candidate pairs,
// the search.
//
// Shaping every pair of a large set costs seconds per thousand characters, so the search shapes
// only the pairs whose value can differ from 0. A pair (a, b) can kern only when the first
// glyph's advance or the second glyph's x offset moves, and only these move them:
// - pair positioning (GPOS lookup type 2) of the features in force: the pairs its subtables
//   list, and every pair after a first glyph whose class row kerns against class 0;
// - any other positioning lookup in force: every pair with a glyph it names, in either place;
// - the 'kern' table: the pairs of its format 0 subtables;
// - zero-width marks: a mark first when it has an advance, a mark second when it has an advance
//   or the font has no GPOS (then HarfBuzz places marks itself);
// - substitutions in force whose output is one of the glyphs above: their glyphs, anywhere;
// - right-to-left scripts, which shaping hands to the tables in reverse: all of the above the
//   other way round wherever a character of such a script takes part.
// What this does not bound (AAT tables, 'kern' subtables of other formats, tables it cannot
// read, kerning FreeType finds outside sfnt tables) shapes every pair.
#include "tools/font_generator/kerning/opentype_kerning.h"

#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "tools/font_generator/model/font_glyph.h"
#include "tools/font_generator/kerning/kern_table.h"
#include "ovcore/sys_library.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_MULTIPLE_MASTERS_H
#include FT_TRUETYPE_TABLES_H

#include <hb-ft.h>
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <bit>
#include <iterator>

// ---- loading HarfBuzz --------------------------------------------------------------------------

namespace
{

constexpr const char harfbuzz_library[] = "libharfbuzz.so.0";

// Every HarfBuzz function this file calls.
#define OV_HARFBUZZ_FUNCTIONS(X)                                                                   \
    X(hb_blob_destroy) X(hb_blob_get_data) X(hb_blob_get_length) X(hb_buffer_add_utf32)            \
    X(hb_buffer_allocation_successful) X(hb_buffer_clear_contents) X(hb_buffer_create)             \
    X(hb_buffer_destroy) X(hb_buffer_get_glyph_infos) X(hb_buffer_get_glyph_positions)             \
    X(hb_buffer_guess_segment_properties) X(hb_buffer_set_direction) X(hb_buffer_set_flags)        \
    X(hb_face_get_empty) X(hb_face_get_glyph_count) X(hb_face_reference_table) X(hb_font_destroy)  \
    X(hb_font_get_empty) X(hb_font_get_face) X(hb_font_get_glyph_h_advance)                        \
    X(hb_font_set_var_coords_design) X(hb_ft_font_create_referenced) X(hb_ft_font_get_face)        \
    X(hb_ot_layout_collect_lookups)                                                                \
    X(hb_ot_layout_feature_get_lookups) X(hb_ot_layout_get_glyphs_in_class)                        \
    X(hb_ot_layout_has_positioning) X(hb_ot_layout_language_get_required_feature)                  \
    X(hb_ot_layout_lookup_collect_glyphs) X(hb_ot_layout_script_get_language_tags)                 \
    X(hb_ot_layout_table_get_feature_tags) X(hb_ot_layout_table_get_script_tags) X(hb_set_add)     \
    X(hb_set_allocation_successful) X(hb_set_clear) X(hb_set_create) X(hb_set_del)                 \
    X(hb_set_destroy) X(hb_set_has) X(hb_set_intersect) X(hb_set_is_empty) X(hb_set_next)          \
    X(hb_set_set) X(hb_set_union) X(hb_script_get_horizontal_direction) X(hb_shape_full)           \
    X(hb_unicode_funcs_get_default) X(hb_unicode_general_category) X(hb_unicode_script)

// HarfBuzz's functions, from the library loaded on first use.
struct harfbuzz_t
{
#define OV_HARFBUZZ_MEMBER(name) decltype(&::name) name;
    OV_HARFBUZZ_FUNCTIONS(OV_HARFBUZZ_MEMBER)
#undef OV_HARFBUZZ_MEMBER
};

// Set once the table is filled; every function below uses it.
const harfbuzz_t* hb = nullptr;

}  // namespace

bool load_harfbuzz()
{
    static harfbuzz_t table;
    void* library = sys_library->open(harfbuzz_library);
    if (library == nullptr)
    {
        msg_error("Failed to load the HarfBuzz library '%s', which OpenType kerning needs.",
                  harfbuzz_library);
        const char* reason = sys_library->last_error != nullptr ? sys_library->last_error()
                                                                : nullptr;
        if (reason != nullptr)
            msg_error("The system's loader says: %s", reason);
        return false;
    }
    if (hb != nullptr)
        return true;
#define OV_HARFBUZZ_SYMBOL(name)                                                                 \
    table.name = reinterpret_cast<decltype(&::name)>(sys_library->symbol(library, #name));       \
    if (table.name == nullptr)                                                                   \
    {                                                                                            \
        msg_error("The HarfBuzz library '%s' has no function '%s', which OpenType kerning "     \
                  "needs.",                                                                      \
                  harfbuzz_library, #name);                                                      \
        return false;                                                                            \
    }
    OV_HARFBUZZ_FUNCTIONS(OV_HARFBUZZ_SYMBOL)
#undef OV_HARFBUZZ_SYMBOL
    hb = &table;
    return true;
}

bool describe_harfbuzz_version(string_t* out)
{
    void* library = sys_library->open(harfbuzz_library);
    const auto version = library != nullptr ? reinterpret_cast<decltype(&::hb_version_string)>(
                                                  sys_library->symbol(library, "hb_version_string"))
                                            : nullptr;
    return version != nullptr && out->assign(version());
}

// ---- shaping one pair --------------------------------------------------------------------------

namespace
{

// The kerning of two characters in 26.6 units, by shaping them with HarfBuzz's font over the
// face: the first glyph's shaped advance minus its unshaped advance, plus the second glyph's
// shaped x offset; `kern` on, the substitutions that join or reorder glyphs and the mark
// positioning features off. 0 when shaping gives other than two glyphs.
class pair_shaper_t
{
public:
    explicit pair_shaper_t(FT_FaceRec_* face);
    pair_shaper_t(const pair_shaper_t&) = delete;
    pair_shaper_t& operator=(const pair_shaper_t&) = delete;
    ~pair_shaper_t();

    // False when HarfBuzz could not get its memory; nothing else may be called then.
    bool ready() const;
    // False when memory ran short while shaping.
    [[nodiscard]] bool shape(uint32_t first_code, uint32_t second_code, int32_t* value);

    // For the candidate search: HarfBuzz's font and its face.
    hb_font_t* font() const { return m_font; }

private:
    hb_font_t* m_font = nullptr;
    hb_buffer_t* m_buffer = nullptr;
};

// 26.6 units to whole pixels, rounded half up.
inline int32_t kerning_pixels(int32_t value)
{
    return int32_t((int64_t(value) + 32) >> 6);
}

constexpr hb_tag_t disabled_features[] = {
    HB_TAG('c', 'c', 'm', 'p'), HB_TAG('l', 'o', 'c', 'l'), HB_TAG('l', 'i', 'g', 'a'),
    HB_TAG('c', 'l', 'i', 'g'), HB_TAG('c', 'a', 'l', 't'), HB_TAG('r', 'l', 'i', 'g'),
    HB_TAG('m', 'a', 'r', 'k'), HB_TAG('m', 'k', 'm', 'k'),
};

bool is_disabled_feature(hb_tag_t tag)
{
    return std::find(std::begin(disabled_features), std::end(disabled_features), tag) !=
           std::end(disabled_features);
}

struct shaping_features_t
{
    shaping_features_t()
    {
        features[0] = { HB_TAG('k', 'e', 'r', 'n'), 1, HB_FEATURE_GLOBAL_START,
                        HB_FEATURE_GLOBAL_END };
        for (unsigned i = 0; i < std::size(disabled_features); ++i)
            features[i + 1] = { disabled_features[i], 0, HB_FEATURE_GLOBAL_START,
                                HB_FEATURE_GLOBAL_END };
    }
    hb_feature_t features[1 + std::size(disabled_features)];
};

const shaping_features_t g_shaping_features;

// A face drawn at design coordinates is shaped at the same ones, which HarfBuzz maps through
// 'fvar' and 'avar' itself. False when memory is short.
bool set_design_coordinates(FT_Face face, hb_font_t* font)
{
    FT_MM_Var* axes = nullptr;
    if (!FT_IS_VARIATION(face) || FT_Get_MM_Var(face, &axes) != 0)
        return true;
    array_dyn_t<FT_Fixed> coordinates;
    array_dyn_t<float> design;
    const bool room = coordinates.resize(axes->num_axis) && design.resize(axes->num_axis);
    (void)FT_Done_MM_Var(face->glyph->library, axes);
    if (!room)
        return false;
    if (FT_Get_Var_Design_Coordinates(face, coordinates.size(), coordinates.data()) == 0)
    {
        for (uint32_t a = 0; a < coordinates.size(); ++a)
            design[a] = float(double(coordinates[a]) / 65536.0);
        hb->hb_font_set_var_coords_design(font, design.data(), design.size());
    }
    return true;
}

// HarfBuzz's face over the FreeType face lost for want of memory: its inert empty face, or one
// over no bytes (every sfnt font has glyphs in its 'maxp' table).
bool is_lost_face(hb_face_t* face, FT_Face ft_face)
{
    return face == hb->hb_face_get_empty() ||
           (FT_IS_SFNT(ft_face) && ft_face->num_glyphs > 0 &&
            hb->hb_face_get_glyph_count(face) == 0);
}

// HarfBuzz's FreeType font without its functions, which it makes once for every font and goes
// without when they find no memory: every advance is then 0. The first glyph FreeType gives an
// advance tells.
bool has_lost_advances(hb_font_t* font, FT_Face face)
{
    const FT_Long count = std::min<FT_Long>(face->num_glyphs, 64);
    for (FT_Long glyph = 1; glyph < count; ++glyph)
    {
        FT_Fixed advance = 0;
        if (FT_Get_Advance(face, FT_UInt(glyph), FT_LOAD_NO_SCALE, &advance) == 0 && advance != 0)
            return hb->hb_font_get_glyph_h_advance(font, hb_codepoint_t(glyph)) == 0;
    }
    return false;
}

pair_shaper_t::pair_shaper_t(FT_FaceRec_* face)
{
    hb_font_t* font = hb->hb_ft_font_create_referenced(face);
    hb_buffer_t* buffer = hb->hb_buffer_create();
    // HarfBuzz gives its inert empty objects when it finds no memory: a font over an empty face
    // shapes without kerning.
    // Without memory for its own record, HarfBuzz's FreeType font has no FreeType functions and
    // measures every advance as 0.
    if (font == hb->hb_font_get_empty() || hb->hb_ft_font_get_face(font) == nullptr ||
        is_lost_face(hb->hb_font_get_face(font), face) || has_lost_advances(font, face) ||
        !hb->hb_buffer_allocation_successful(buffer) || !set_design_coordinates(face, font))
    {
        hb->hb_font_destroy(font);
        hb->hb_buffer_destroy(buffer);
        return;
    }
    m_font = font;
    m_buffer = buffer;
}

pair_shaper_t::~pair_shaper_t()
{
    hb->hb_buffer_destroy(m_buffer);
    hb->hb_font_destroy(m_font);
}

bool pair_shaper_t::ready() const
{
    return m_font != nullptr;
}

bool pair_shaper_t::shape(uint32_t first_code, uint32_t second_code, int32_t* value)
{
    *value = 0;
    const uint32_t text[2] = { first_code, second_code };
    hb->hb_buffer_clear_contents(m_buffer);
    // A soft hyphen or another default ignorable keeps its glyph and its advance: zeroing it
    // would turn its advance into a kerning value against every glyph after it.
    hb->hb_buffer_set_flags(m_buffer, HB_BUFFER_FLAG_PRESERVE_DEFAULT_IGNORABLES);
    hb->hb_buffer_add_utf32(m_buffer, text, 2, 0, 2);
    hb->hb_buffer_guess_segment_properties(m_buffer);
    hb->hb_buffer_set_direction(m_buffer, HB_DIRECTION_LTR);
    // A shaping plan that finds no memory leaves the characters unshaped and says so only here.
    if (!hb->hb_shape_full(m_font, m_buffer, g_shaping_features.features,
                           unsigned(std::size(g_shaping_features.features)), nullptr) ||
        !hb->hb_buffer_allocation_successful(m_buffer))
        return false;
    unsigned count = 0;
    const hb_glyph_info_t* info = hb->hb_buffer_get_glyph_infos(m_buffer, &count);
    const hb_glyph_position_t* position = hb->hb_buffer_get_glyph_positions(m_buffer, nullptr);
    if (count != 2)
        return true;
    const int64_t moved = int64_t(position[0].x_advance) -
                          hb->hb_font_get_glyph_h_advance(m_font, info[0].codepoint) +
                          position[1].x_offset;
    *value = int32_t(std::clamp<int64_t>(moved, INT32_MIN, INT32_MAX));
    return true;
}

}  // namespace

// ---- reading the layout tables -----------------------------------------------------------------

namespace
{

// A font table as HarfBuzz reads it, with big-endian reads that fail outside its bytes.
class table_t
{
public:
    table_t(hb_face_t* face, FT_Face ft_face, hb_tag_t tag)
        : m_blob(hb->hb_face_reference_table(face, tag))
    {
        unsigned length = 0;
        m_data = reinterpret_cast<const uint8_t*>(hb->hb_blob_get_data(m_blob, &length));
        m_size = m_data != nullptr ? length : 0;
        // HarfBuzz gives an empty table when it has no memory for its record; FreeType tells
        // the length from the font's directory without reading anything into memory.
        FT_ULong font_length = 0;
        m_lost = m_size == 0 && FT_IS_SFNT(ft_face) &&
                 FT_Load_Sfnt_Table(ft_face, FT_ULong(tag), 0, nullptr, &font_length) == 0 &&
                 font_length != 0;
    }
    table_t(const table_t&) = delete;
    table_t& operator=(const table_t&) = delete;
    ~table_t() { hb->hb_blob_destroy(m_blob); }

    bool empty() const { return m_size == 0; }
    // The font has the table, but HarfBuzz could not give it for want of memory.
    bool is_lost() const { return m_lost; }
    const uint8_t* data() const { return m_data; }
    uint32_t size() const { return m_size; }
    bool u16(uint64_t offset, uint32_t* value) const
    {
        if (offset + 2 > m_size)
            return false;
        *value = uint32_t(m_data[offset]) << 8 | m_data[offset + 1];
        return true;
    }
    bool u32(uint64_t offset, uint32_t* value) const
    {
        uint32_t high = 0;
        uint32_t low = 0;
        if (!u16(offset, &high) || !u16(offset + 2, &low))
            return false;
        *value = high << 16 | low;
        return true;
    }
    // Whether any of the `count` 16-bit words at the offset is not 0; false past the end too.
    bool any_word_set(uint64_t offset, uint64_t count, bool* set) const
    {
        if (offset + 2 * count > m_size)
            return false;
        *set = false;
        for (uint64_t i = 0; i < 2 * count; ++i)
            *set = *set || m_data[offset + i] != 0;
        return true;
    }

private:
    hb_blob_t* m_blob;
    const uint8_t* m_data;
    uint32_t m_size;
    bool m_lost;
};

// Binary search over `count` records of 6 bytes at `records`, each starting with a glyph range
// (first, last) and ending with a 16-bit value: the value of the range holding the glyph and the
// glyph's place in it, or no range (`*found` false). False when the table cannot be read.
bool find_glyph_range(const table_t& table, uint64_t records, uint32_t count, uint32_t glyph,
                      bool* found, uint32_t* value, uint32_t* place)
{
    *found = false;
    uint32_t low = 0;
    uint32_t high = count;
    while (low < high)
    {
        const uint32_t middle = (low + high) / 2;
        const uint64_t range = records + 6 * uint64_t(middle);
        uint32_t first = 0;
        uint32_t last = 0;
        if (!table.u16(range, &first) || !table.u16(range + 2, &last))
            return false;
        if (glyph < first)
            high = middle;
        else if (glyph > last)
            low = middle + 1;
        else
        {
            *found = true;
            *place = glyph - first;
            return table.u16(range + 4, value);
        }
    }
    return true;
}

// Coverage index of a glyph, -1 when not covered; false when the table cannot be read.
bool coverage_index(const table_t& table, uint64_t coverage, uint32_t glyph, int64_t* index)
{
    *index = -1;
    uint32_t format = 0;
    uint32_t count = 0;
    if (!table.u16(coverage, &format) || !table.u16(coverage + 2, &count))
        return false;
    if (format == 1)
    {
        uint32_t low = 0;
        uint32_t high = count;
        while (low < high)
        {
            const uint32_t middle = (low + high) / 2;
            uint32_t id = 0;
            if (!table.u16(coverage + 4 + 2 * uint64_t(middle), &id))
                return false;
            if (id == glyph)
            {
                *index = middle;
                return true;
            }
            if (id < glyph)
                low = middle + 1;
            else
                high = middle;
        }
        return true;
    }
    bool found = false;
    uint32_t first_index = 0;
    uint32_t place = 0;
    if (format != 2 ||
        !find_glyph_range(table, coverage + 4, count, glyph, &found, &first_index, &place))
        return false;
    if (found)
        *index = int64_t(first_index) + place;
    return true;
}

// Class of a glyph in a class definition (0 when not listed); false when it cannot be read.
bool glyph_class(const table_t& table, uint64_t class_def, uint32_t glyph, uint32_t* value)
{
    *value = 0;
    uint32_t format = 0;
    if (!table.u16(class_def, &format))
        return false;
    if (format == 1)
    {
        uint32_t start = 0;
        uint32_t count = 0;
        if (!table.u16(class_def + 2, &start) || !table.u16(class_def + 4, &count))
            return false;
        if (glyph < start || glyph - start >= count)
            return true;
        return table.u16(class_def + 6 + 2 * uint64_t(glyph - start), value);
    }
    uint32_t count = 0;
    bool found = false;
    uint32_t place = 0;
    return format == 2 && table.u16(class_def + 2, &count) &&
           find_glyph_range(table, class_def + 4, count, glyph, &found, value, &place);
}

// Sorts the values and drops repeats.
template <typename T>
void sort_unique(array_dyn_t<T>* values)
{
    std::sort(values->begin(), values->end());
    const T* end = std::unique(values->begin(), values->end());
    (void)values->resize(uint32_t(end - values->begin()));  // shrinking always succeeds
}

uint32_t value_record_words(uint32_t format)
{
    return uint32_t(std::popcount(format & 0xFFu));
}

// The lookups of the features a language system requires: shaping applies them whatever the
// feature settings say.
void add_required_lookups(hb_face_t* face, hb_tag_t table_tag, hb_set_t* lookups)
{
    const unsigned scripts =
        hb->hb_ot_layout_table_get_script_tags(face, table_tag, 0, nullptr, nullptr);
    for (unsigned script = 0; script < scripts; ++script)
    {
        const unsigned count =
            hb->hb_ot_layout_script_get_language_tags(face, table_tag, script, 0, nullptr, nullptr);
        for (unsigned language = 0; language <= count; ++language)
        {
            // The script's default language system comes last.
            const unsigned index =
                language < count ? language : HB_OT_LAYOUT_DEFAULT_LANGUAGE_INDEX;
            unsigned feature = 0;
            if (!hb->hb_ot_layout_language_get_required_feature(face, table_tag, script, index,
                                                                &feature, nullptr))
                continue;
            unsigned indices[64];
            for (unsigned start = 0;; start += unsigned(std::size(indices)))
            {
                unsigned got = unsigned(std::size(indices));
                hb->hb_ot_layout_feature_get_lookups(face, table_tag, feature, start, &got,
                                                     indices);
                for (unsigned i = 0; i < got; ++i)
                    hb->hb_set_add(lookups, indices[i]);
                if (got < std::size(indices))
                    break;
            }
        }
    }
}

// The lookups of a layout table that shaping can apply: those of every feature but the ones the
// shaping switches off, in every script and language, and those of required features.
bool collect_lookups_in_force(hb_face_t* face, const table_t& table, hb_tag_t table_tag,
                              hb_set_t* lookups)
{
    // HarfBuzz reads the layout through a record it makes once and goes without when it finds
    // no memory: it then lists no feature of a table that has some.
    uint32_t feature_list = 0;
    uint32_t feature_count = 0;
    if (table.u16(6, &feature_list) && feature_list != 0 &&
        table.u16(feature_list, &feature_count) && feature_count != 0 &&
        hb->hb_ot_layout_table_get_feature_tags(face, table_tag, 0, nullptr, nullptr) == 0)
        return false;
    add_required_lookups(face, table_tag, lookups);
    array_dyn_t<hb_tag_t> tags;
    hb_tag_t chunk[64];
    for (unsigned start = 0;; start += unsigned(std::size(chunk)))
    {
        unsigned count = unsigned(std::size(chunk));
        hb->hb_ot_layout_table_get_feature_tags(face, table_tag, start, &count, chunk);
        for (unsigned i = 0; i < count; ++i)
            if (!is_disabled_feature(chunk[i]) &&
                std::find(tags.begin(), tags.end(), chunk[i]) == tags.end() &&
                !tags.append(chunk[i]))
                return false;
        if (count < std::size(chunk))
            break;
    }
    if (tags.empty())
        return hb->hb_set_allocation_successful(lookups);
    if (!tags.append(HB_TAG_NONE))
        return false;
    hb->hb_ot_layout_collect_lookups(face, table_tag, nullptr, nullptr, tags.data(), lookups);
    return hb->hb_set_allocation_successful(lookups);
}

}  // namespace

// ---- the candidate pairs -----------------------------------------------------------------------

namespace
{

// Owns an hb_set_t.
struct glyph_set_t
{
    glyph_set_t() : set(hb->hb_set_create()) {}
    glyph_set_t(const glyph_set_t&) = delete;
    glyph_set_t& operator=(const glyph_set_t&) = delete;
    ~glyph_set_t() { hb->hb_set_destroy(set); }
    bool has(uint32_t glyph) const { return hb->hb_set_has(set, glyph); }
    hb_set_t* set;
};

// The set's characters the font defines: position and glyph.
struct set_glyph_t
{
    uint32_t position;
    uint32_t glyph;
};

struct candidates_t
{
    FT_Face ft_face = nullptr;  // the face HarfBuzz's font is over
    bool every_pair = false;
    glyph_set_t any_second;    // may kern before any glyph
    glyph_set_t any_first;     // may kern after any glyph
    glyph_set_t touched;       // every glyph positioning can move, in or out of the set
    // Glyphs of a right-to-left script, and those that kern against any glyph in one place
    // and are not of such a script: paired with one of the first, they may kern either way.
    glyph_set_t backward;
    glyph_set_t with_any_backward;
    array_dyn_t<uint64_t> pairs;  // first glyph << 32 | second glyph, both of the set
    bool short_of_memory = false;

    void add_pair(uint32_t first, uint32_t second)
    {
        if (!pairs.append(uint64_t(first) << 32 | second))
            short_of_memory = true;
    }
    void add_anywhere(hb_set_t* glyphs)
    {
        hb->hb_set_union(any_first.set, glyphs);
        hb->hb_set_union(any_second.set, glyphs);
        hb->hb_set_union(touched.set, glyphs);
    }
};

// Memory ran short while reading the tables: reported through `short_of_memory`.
bool out_of_memory(candidates_t* out)
{
    out->short_of_memory = true;
    return false;
}

// The glyphs of the set, sorted, without repeats.
struct set_glyph_ids_t
{
    array_dyn_t<uint32_t> ids;
    glyph_set_t lookup;
};

// One pair positioning subtable: the pairs among the set's glyphs it can move.
bool read_pair_subtable(const table_t& gpos, uint64_t subtable, const set_glyph_ids_t& glyphs,
                        candidates_t* out)
{
    uint32_t format = 0;
    uint32_t coverage = 0;
    uint32_t value_format1 = 0;
    uint32_t value_format2 = 0;
    if (!gpos.u16(subtable, &format) || !gpos.u16(subtable + 2, &coverage) ||
        !gpos.u16(subtable + 4, &value_format1) || !gpos.u16(subtable + 6, &value_format2))
        return false;
    const uint32_t record_words =
        value_record_words(value_format1) + value_record_words(value_format2);
    if (format == 1)
    {
        uint32_t set_count = 0;
        if (!gpos.u16(subtable + 8, &set_count))
            return false;
        for (uint32_t first : glyphs.ids)
        {
            int64_t index = -1;
            if (!coverage_index(gpos, subtable + coverage, first, &index))
                return false;
            if (index < 0 || index >= int64_t(set_count))
                continue;
            uint32_t pair_set = 0;
            uint32_t count = 0;
            if (!gpos.u16(subtable + 10 + 2 * uint64_t(index), &pair_set) ||
                !gpos.u16(subtable + pair_set, &count))
                return false;
            uint64_t record = subtable + pair_set + 2;
            for (uint32_t i = 0; i < count; ++i, record += 2 + 2 * uint64_t(record_words))
            {
                uint32_t second = 0;
                bool moves = false;
                if (!gpos.u16(record, &second) ||
                    !gpos.any_word_set(record + 2, record_words, &moves))
                    return false;
                if (moves && glyphs.lookup.has(second))
                    out->add_pair(first, second);
            }
        }
        return true;
    }
    if (format != 2)
        return false;

    uint32_t class_def1 = 0;
    uint32_t class_def2 = 0;
    uint32_t class1_count = 0;
    uint32_t class2_count = 0;
    if (!gpos.u16(subtable + 8, &class_def1) || !gpos.u16(subtable + 10, &class_def2) ||
        !gpos.u16(subtable + 12, &class1_count) || !gpos.u16(subtable + 14, &class2_count))
        return false;
    const uint64_t row_bytes = 2 * uint64_t(record_words) * class2_count;
    bool any = false;  // the records must all lie inside the table
    if (!gpos.any_word_set(subtable + 16, uint64_t(record_words) * class2_count * class1_count,
                           &any))
        return false;

    // The set's glyphs by their second class, and the covered ones by their first class.
    array_dyn_t<uint64_t> by_class2;
    array_dyn_t<uint64_t> by_class1;
    if (!by_class2.reserve(glyphs.ids.size()))
        return out_of_memory(out);
    for (uint32_t glyph : glyphs.ids)
    {
        uint32_t value = 0;
        if (!glyph_class(gpos, subtable + class_def2, glyph, &value))
            return false;
        (void)by_class2.append(uint64_t(value) << 32 | glyph);
        int64_t index = -1;
        if (!coverage_index(gpos, subtable + coverage, glyph, &index))
            return false;
        if (index < 0)
            continue;
        if (!glyph_class(gpos, subtable + class_def1, glyph, &value))
            return false;
        if (value < class1_count && !by_class1.append(uint64_t(value) << 32 | glyph))
            return out_of_memory(out);
    }
    std::sort(by_class2.begin(), by_class2.end());
    std::sort(by_class1.begin(), by_class1.end());

    array_dyn_t<uint32_t> columns;  // second classes the current first class kerns against
    for (uint32_t i = 0; i < by_class1.size();)
    {
        const uint32_t class1 = uint32_t(by_class1[i] >> 32);
        uint32_t end = i;
        while (end < by_class1.size() && uint32_t(by_class1[end] >> 32) == class1)
            ++end;
        columns.clear();
        const uint64_t row = subtable + 16 + row_bytes * class1;
        for (uint32_t class2 = 0; class2 < class2_count; ++class2)
        {
            bool moves = false;
            const uint64_t record = row + 2 * uint64_t(record_words) * class2;
            (void)gpos.any_word_set(record, record_words, &moves);  // inside: checked above
            if (moves && !columns.append(class2))
                return out_of_memory(out);
        }
        // Class 0 holds every glyph the definition does not list: the row kerns against all.
        const bool against_all = !columns.empty() && columns[0] == 0;
        for (; i < end; ++i)
        {
            const uint32_t first = uint32_t(by_class1[i]);
            if (against_all)
            {
                hb->hb_set_add(out->any_first.set, first);
                continue;
            }
            for (uint32_t class2 : columns)
            {
                const uint64_t* second =
                    std::lower_bound(by_class2.begin(), by_class2.end(), uint64_t(class2) << 32);
                for (; second != by_class2.end() && uint32_t(*second >> 32) == class2; ++second)
                    out->add_pair(first, uint32_t(*second));
            }
        }
    }
    return true;
}

// GPOS: the pairs of the pair positioning lookups in force, and the glyphs of every other
// positioning lookup in force.
bool read_gpos(hb_face_t* face, const set_glyph_ids_t& glyphs, candidates_t* out)
{
    const table_t gpos(face, out->ft_face, HB_OT_TAG_GPOS);
    if (gpos.is_lost())
        return out_of_memory(out);
    if (gpos.empty())
        return true;
    glyph_set_t lookups;
    if (!collect_lookups_in_force(face, gpos, HB_OT_TAG_GPOS, lookups.set))
        return out_of_memory(out);
    uint32_t lookup_list = 0;
    uint32_t lookup_count = 0;
    if (!gpos.u16(8, &lookup_list) || !gpos.u16(lookup_list, &lookup_count))
        return false;

    glyph_set_t before;
    glyph_set_t input;
    glyph_set_t after;
    glyph_set_t output;
    hb_codepoint_t index = HB_SET_VALUE_INVALID;
    while (hb->hb_set_next(lookups.set, &index))
    {
        uint32_t lookup = 0;
        uint32_t type = 0;
        uint32_t subtable_count = 0;
        if (index >= lookup_count || !gpos.u16(lookup_list + 2 + 2 * uint64_t(index), &lookup) ||
            !gpos.u16(lookup_list + lookup, &type) ||
            !gpos.u16(lookup_list + lookup + 4, &subtable_count))
            return false;
        const uint64_t base = uint64_t(lookup_list) + lookup;

        hb->hb_set_clear(before.set);
        hb->hb_set_clear(input.set);
        hb->hb_set_clear(after.set);
        hb->hb_set_clear(output.set);
        hb->hb_ot_layout_lookup_collect_glyphs(face, HB_OT_TAG_GPOS, index, before.set,
                                               input.set, after.set, output.set);
        hb->hb_set_union(input.set, before.set);
        hb->hb_set_union(input.set, after.set);
        hb->hb_set_union(input.set, output.set);
        hb->hb_set_union(out->touched.set, input.set);

        bool pairs_only = type == 2 || type == 9;
        for (uint32_t s = 0; s < subtable_count && pairs_only; ++s)
        {
            uint32_t offset = 0;
            if (!gpos.u16(base + 6 + 2 * uint64_t(s), &offset))
                return false;
            uint64_t subtable = base + offset;
            if (type == 9)
            {
                uint32_t extension_type = 0;
                uint32_t extension = 0;
                if (!gpos.u16(subtable + 2, &extension_type) || !gpos.u32(subtable + 4, &extension))
                    return false;
                pairs_only = extension_type == 2;
                subtable += extension;
            }
            if (pairs_only && !read_pair_subtable(gpos, subtable, glyphs, out))
                return false;
        }
        if (!pairs_only)
            out->add_anywhere(input.set);
    }
    // A set that found no memory stays empty or short, and says so only here.
    for (const glyph_set_t* used : { &before, &input, &after, &output, &out->touched })
        if (!hb->hb_set_allocation_successful(used->set))
            return out_of_memory(out);
    return true;
}

// The 'kern' table: the pairs of its format 0 subtables among the set's glyphs. False for a
// table with subtables of other formats or pairs past its end, or one that cannot be read.
bool read_kern(hb_face_t* face, const set_glyph_ids_t& glyphs, candidates_t* out)
{
    const table_t kern(face, out->ft_face, HB_TAG('k', 'e', 'r', 'n'));
    if (kern.is_lost())
        return out_of_memory(out);
    if (kern.empty())
        return true;
    array_dyn_t<uint64_t> pairs;
    kern_table_facts_t facts;
    if (!read_kern_table(kern.data(), kern.size(), &pairs, &facts) || facts.other_formats ||
        facts.truncated)
        return false;
    for (uint64_t pair : pairs)
    {
        const uint32_t left = uint32_t(pair >> 32);
        const uint32_t right = uint32_t(pair);
        hb->hb_set_add(out->touched.set, left);
        hb->hb_set_add(out->touched.set, right);
        if (glyphs.lookup.has(left) && glyphs.lookup.has(right))
            out->add_pair(left, right);
    }
    if (!hb->hb_set_allocation_successful(out->touched.set))
        return out_of_memory(out);
    return true;
}

// Substitutions in force that can turn a glyph into one positioning moves: every glyph they
// read may then kern, in either place. Repeated until nothing new joins.
bool read_gsub(hb_face_t* face, candidates_t* out)
{
    const table_t gsub(face, out->ft_face, HB_OT_TAG_GSUB);
    glyph_set_t lookups;
    if (gsub.is_lost() || !collect_lookups_in_force(face, gsub, HB_OT_TAG_GSUB, lookups.set))
        return false;
    glyph_set_t reads;
    glyph_set_t output;
    glyph_set_t overlap;
    for (bool grew = true; grew;)
    {
        grew = false;
        hb_codepoint_t index = HB_SET_VALUE_INVALID;
        while (hb->hb_set_next(lookups.set, &index))
        {
            hb->hb_set_clear(reads.set);
            hb->hb_set_clear(output.set);
            hb->hb_ot_layout_lookup_collect_glyphs(face, HB_OT_TAG_GSUB, index, reads.set,
                                                   reads.set, reads.set, output.set);
            hb->hb_set_set(overlap.set, output.set);
            hb->hb_set_intersect(overlap.set, out->touched.set);
            if (hb->hb_set_is_empty(overlap.set))
                continue;
            out->add_anywhere(reads.set);
            hb->hb_set_del(lookups.set, index);
            grew = true;
        }
    }
    return hb->hb_set_allocation_successful(out->any_first.set) &&
           hb->hb_set_allocation_successful(out->any_second.set) &&
           hb->hb_set_allocation_successful(out->touched.set) &&
           hb->hb_set_allocation_successful(lookups.set) &&
           hb->hb_set_allocation_successful(reads.set) &&
           hb->hb_set_allocation_successful(output.set) &&
           hb->hb_set_allocation_successful(overlap.set);
}

bool is_unicode_mark(uint32_t code)
{
    const hb_unicode_general_category_t category =
        hb->hb_unicode_general_category(hb->hb_unicode_funcs_get_default(), code);
    return category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
           category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK;
}

// Whether the font has the table; false after out_of_memory when HarfBuzz could not give it.
bool has_table(hb_face_t* face, hb_tag_t tag, candidates_t* out)
{
    const table_t table(face, out->ft_face, tag);
    if (table.is_lost())
        return out_of_memory(out);
    return !table.empty();
}

// A pair with a character of a right-to-left script goes to the layout tables the other way
// round: HarfBuzz shapes such a text in its native direction, as (second, first), whatever
// direction the buffer asks for, and turns the glyphs back to text order only after
// positioning; marks stay with their base. So every pair the tables list, and every glyph that
// kerns against any glyph, counts in both places where such a glyph takes part.
bool add_backward_pairs(const character_set_t& set, const array_t<set_glyph_t>& defined,
                        candidates_t* out)
{
    hb_unicode_funcs_t* unicode = hb->hb_unicode_funcs_get_default();
    for (const set_glyph_t& entry : defined)
    {
        const hb_script_t script = hb->hb_unicode_script(unicode, set.glyphs[entry.position].code);
        if (hb->hb_script_get_horizontal_direction(script) == HB_DIRECTION_RTL)
            hb->hb_set_add(out->backward.set, entry.glyph);
    }
    if (hb->hb_set_is_empty(out->backward.set))
    {
        sort_unique(&out->pairs);
        return hb->hb_set_allocation_successful(out->backward.set);
    }

    const uint32_t listed = out->pairs.size();
    for (uint32_t i = 0; i < listed; ++i)
    {
        const uint32_t first = uint32_t(out->pairs[i] >> 32);
        const uint32_t second = uint32_t(out->pairs[i]);
        if (out->backward.has(first) || out->backward.has(second))
            out->add_pair(second, first);
    }
    sort_unique(&out->pairs);

    glyph_set_t either;
    hb->hb_set_union(either.set, out->any_first.set);
    hb->hb_set_union(either.set, out->any_second.set);
    hb->hb_set_set(out->with_any_backward.set, either.set);
    hb->hb_set_intersect(either.set, out->backward.set);
    hb->hb_set_union(out->any_first.set, either.set);
    hb->hb_set_union(out->any_second.set, either.set);
    return !out->short_of_memory && hb->hb_set_allocation_successful(either.set) &&
           hb->hb_set_allocation_successful(out->with_any_backward.set) &&
           hb->hb_set_allocation_successful(out->any_first.set) &&
           hb->hb_set_allocation_successful(out->any_second.set);
}

// Fills the candidates for the set's defined characters. False when memory is short.
bool find_candidates(FT_Face ft_face, hb_font_t* font, const character_set_t& set,
                     const array_t<set_glyph_t>& defined, candidates_t* out)
{
    hb_face_t* face = hb->hb_font_get_face(font);
    out->ft_face = ft_face;
    // HarfBuzz shapes with these through rules of their own; without sfnt tables FreeType's
    // kerning reaches HarfBuzz directly.
    if (has_table(face, HB_TAG('m', 'o', 'r', 'x'), out) ||
        has_table(face, HB_TAG('m', 'o', 'r', 't'), out) ||
        has_table(face, HB_TAG('k', 'e', 'r', 'x'), out) ||
        has_table(face, HB_TAG('t', 'r', 'a', 'k'), out) ||
        (!FT_IS_SFNT(ft_face) && FT_HAS_KERNING(ft_face)))
    {
        if (out->short_of_memory)
            return false;
        out->every_pair = true;
        return true;
    }
    if (out->short_of_memory)
        return false;

    set_glyph_ids_t glyphs;
    if (!glyphs.ids.reserve(defined.size()))
        return false;
    for (const set_glyph_t& entry : defined)
    {
        (void)glyphs.ids.append(entry.glyph);
        hb->hb_set_add(glyphs.lookup.set, entry.glyph);
    }
    if (!hb->hb_set_allocation_successful(glyphs.lookup.set))
        return out_of_memory(out);
    sort_unique(&glyphs.ids);

    if (!read_gpos(face, glyphs, out) || !read_kern(face, glyphs, out))
    {
        out->every_pair = true;
        return !out->short_of_memory;
    }

    // Marks lose their advance; without GPOS HarfBuzz also places them over the glyph before.
    const bool places_marks = hb->hb_ot_layout_has_positioning(face);
    glyph_set_t marks;
    hb->hb_ot_layout_get_glyphs_in_class(face, HB_OT_LAYOUT_GLYPH_CLASS_MARK, marks.set);
    hb->hb_set_union(out->touched.set, marks.set);
    if (!hb->hb_set_allocation_successful(marks.set))
        return out_of_memory(out);
    for (const set_glyph_t& entry : defined)
    {
        if (!marks.has(entry.glyph) && !is_unicode_mark(set.glyphs[entry.position].code))
            continue;
        const bool has_advance = hb->hb_font_get_glyph_h_advance(font, entry.glyph) != 0;
        if (has_advance)
            hb->hb_set_add(out->any_first.set, entry.glyph);
        if (has_advance || !places_marks)
            hb->hb_set_add(out->any_second.set, entry.glyph);
        hb->hb_set_add(out->touched.set, entry.glyph);
    }
    hb->hb_set_union(out->touched.set, out->any_first.set);
    hb->hb_set_union(out->touched.set, out->any_second.set);
    if (!read_gsub(face, out) || out->short_of_memory)
        return false;
    return add_backward_pairs(set, defined, out);
}

}  // namespace

// ---- the search --------------------------------------------------------------------------------

bool collect_opentype_kerning_pairs(FT_FaceRec_* face, const character_set_t& set,
                                    kerning_search_t search, array_dyn_t<kerning_pair_t>* out,
                                    uint32_t face_index)
{
    out->clear();
    array_dyn_t<set_glyph_t> defined;  // in file order
    for (uint32_t position = 0; position < set.glyphs.size(); ++position)
    {
        if (set.glyphs[position].face != face_index)
            continue;
        const uint32_t glyph = FT_Get_Char_Index(face, set.glyphs[position].code);
        if (glyph != 0 && !defined.append(set_glyph_t{ position, glyph }))
            return false;
    }
    if (defined.empty())
        return true;

    if (!load_harfbuzz())
        return false;
    pair_shaper_t shaper(face);
    if (!shaper.ready())
        return false;
    candidates_t candidates;
    candidates.every_pair = search == kerning_search_t::every_pair;
    if (!candidates.every_pair && !find_candidates(face, shaper.font(), set, defined, &candidates))
        return false;

    // The defined characters by glyph, those that may kern after any glyph, those of a
    // right-to-left script, and those that may kern with any of these.
    array_dyn_t<uint64_t> by_glyph;  // glyph << 32 | index into `defined`
    array_dyn_t<uint32_t> after_any;  // indices into `defined`
    array_dyn_t<uint32_t> backward;
    array_dyn_t<uint32_t> with_any_backward;
    if (!by_glyph.reserve(defined.size()))
        return false;
    for (uint32_t i = 0; i < defined.size(); ++i)
    {
        const uint32_t glyph = defined[i].glyph;
        (void)by_glyph.append(uint64_t(glyph) << 32 | i);
        if (candidates.every_pair)
            continue;
        if ((candidates.any_second.has(glyph) && !after_any.append(i)) ||
            (candidates.backward.has(glyph) && !backward.append(i)) ||
            (candidates.with_any_backward.has(glyph) && !with_any_backward.append(i)))
            return false;
    }
    std::sort(by_glyph.begin(), by_glyph.end());

    array_dyn_t<uint32_t> seconds;  // indices into `defined`, in file order
    for (const set_glyph_t& first : defined)
    {
        const bool all = candidates.every_pair || candidates.any_first.has(first.glyph);
        seconds.clear();
        if (!all)
        {
            if (!seconds.append_copy(after_any) ||
                (candidates.backward.has(first.glyph) && !seconds.append_copy(with_any_backward)) ||
                (candidates.with_any_backward.has(first.glyph) && !seconds.append_copy(backward)))
                return false;
            const array_t<uint64_t>& pairs = candidates.pairs;
            const uint64_t* pair =
                std::lower_bound(pairs.begin(), pairs.end(), uint64_t(first.glyph) << 32);
            for (; pair != pairs.end() && uint32_t(*pair >> 32) == first.glyph; ++pair)
            {
                const uint64_t key = uint64_t(uint32_t(*pair)) << 32;
                const uint64_t* match = std::lower_bound(by_glyph.begin(), by_glyph.end(), key);
                for (; match != by_glyph.end() && (*match >> 32) == (key >> 32); ++match)
                    if (!seconds.append(uint32_t(*match)))
                        return false;
            }
            sort_unique(&seconds);
        }
        const uint32_t count = all ? defined.size() : seconds.size();
        for (uint32_t k = 0; k < count; ++k)
        {
            const set_glyph_t& second = defined[all ? k : seconds[k]];
            int32_t value = 0;
            if (!shaper.shape(set.glyphs[first.position].code, set.glyphs[second.position].code,
                              &value))
                return false;
            const int32_t pixels = kerning_pixels(value);
            if (pixels != 0 &&
                !out->append(kerning_pair_t{ first.position, second.position, pixels }))
                return false;
        }
    }
    return true;
}
