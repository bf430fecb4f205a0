// Font faces and glyph rasterization: opening one FreeType face per character set, measuring
// every glyph once, the checks for tell-tale shapes of missing glyphs, the bitmaps for the
// drawing pass and the kerning pairs of a set. The only files that see FreeType's headers are
// this module's source and the OpenType kerning's.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "tools/font_generator/glyph_packing.h"

#include <atomic>
#include <cstdint>

struct FT_FaceRec_;
struct FT_LibraryRec_;
struct character_set_t;
struct font_glyph_t;
struct generator_set_t;
struct generator_t;
struct glyph_bitmap_t;
class glyph_message_log_t;
class set_glyphs_t;

// The faces a set draws from, in order: its font_file's, then its fallback fonts'. A glyph's
// `face` is its place here. A view: made, without a cast, from one face or from an array of
// faces, either of which must outlive it.
struct face_list_t
{
    face_list_t() = default;
    face_list_t(FT_FaceRec_* const& face) : faces(&face), count(1) {}
    face_list_t(const array_t<FT_FaceRec_*>& list) : faces(list.begin()), count(list.size()) {}
    FT_FaceRec_* operator[](uint32_t k) const { return faces[k]; }

    FT_FaceRec_* const* faces = nullptr;
    uint32_t count = 0;
};

// What a face is opened and sized with; from one char_set_config unit.
struct font_face_settings_t
{
    const char* font_file = "";
    uint32_t width = 12;  // pixels
    uint32_t height = 12;
    float scale_width = 1.0f;
    float scale_height = 1.0f;
};

// FreeType's library handle: started once per run, shut down after every face is closed.
// start_freetype reports its failure.
[[nodiscard]] bool start_freetype(FT_LibraryRec_** library);
void shut_down_freetype(FT_LibraryRec_* library);
void close_font_face(FT_FaceRec_* face);

// A scale as a 16.16 fixed-point transform entry: scale × 65536 in single precision, truncated
// toward zero; values beyond the 32-bit range saturate, NaN gives 0.
int32_t scale_to_fixed(float scale);

// Opens face 0 of the font file, selects its Unicode character map, sets the pixel size (a
// fixed-size font that refuses it is used at its first strike, with a warning) and the scaling
// transform. Reports and returns false on failure; a face that opened is stored in `*face` even
// then, and the caller closes it.
[[nodiscard]] bool open_font_face(FT_LibraryRec_* library, const font_face_settings_t& settings,
                                  FT_FaceRec_** face);

// Measures every glyph of the set with the first of the faces that defines its character: cell
// size, bearings, advance, the set's extents, the bitmap checks; the glyph's `face` says which.
// Characters no face defines and glyphs that do not load are reported and stay unmeasured. With
// `known`, the glyph index of every glyph is kept there, and so is its bitmap while `*budget`
// allows; `known` must have been reset to the set's glyph count. False, without a message, when
// a glyph could not be loaded for want of memory; `*lost` (when given) is then the first such
// position, else -1.
bool measure_glyphs(character_set_t* set, face_list_t faces, bool antialias,
                    uint32_t outline_width, set_glyphs_t* known, uint64_t* budget,
                    int64_t* lost = nullptr);

// Warns about bitmaps that look like a missing glyph: empty, solid, a full-sized frame or a
// frame in one corner, and suspicious dimensions, into `log` (null: said at once). Never
// rejects the glyph.
void check_glyph_bitmap(const font_glyph_t& glyph, const glyph_bitmap_t& bitmap,
                        glyph_message_log_t* log = nullptr);

// One font file's bytes in memory, for the helpers' faces: read once through the file system
// into the system's zero pages, with large pages asked for. Freed when destroyed.
class font_bytes_t
{
public:
    font_bytes_t() = default;
    font_bytes_t(font_bytes_t&& other) noexcept;
    font_bytes_t& operator=(font_bytes_t&& other) noexcept;
    font_bytes_t(const font_bytes_t&) = delete;
    font_bytes_t& operator=(const font_bytes_t&) = delete;
    ~font_bytes_t();

    // Reads the whole file, without a word; false when it cannot be opened or read, is 2 GiB or
    // larger, or memory is short.
    [[nodiscard]] bool read(const char* path);
    const uint8_t* data() const { return m_bytes; }
    uint64_t size() const { return m_size; }

private:
    void release();

    uint8_t* m_bytes = nullptr;
    uint64_t m_size = 0;
};

// A helper's own FreeType library and faces of one set, opened from the set's font_bytes and set
// up as the set's own faces are. For one thread at a time; the destructor closes them.
class helper_faces_t
{
public:
    helper_faces_t() = default;
    helper_faces_t(const helper_faces_t&) = delete;
    helper_faces_t& operator=(const helper_faces_t&) = delete;
    ~helper_faces_t();

    // Opens one face per font of the set, without a word; false when any cannot be had.
    [[nodiscard]] bool open(const generator_set_t& set);
    face_list_t faces() const { return m_faces; }

private:
    FT_LibraryRec_* m_library = nullptr;
    array_dyn_t<FT_FaceRec_*> m_faces;
};

// Makes the set ready for `helpers` helpers: its font files read once through the file system
// into font_bytes, and room for the helpers' faces, which each helper opens itself with
// get_helper_faces. Says nothing; false (the set then stays on the main thread) when a file
// cannot be read again or memory is short. Main thread only.
[[nodiscard]] bool prepare_helpers(generator_set_t* set, uint32_t helpers);

// Helper h's faces of the set (h >= 1, prepared), opened on its first call; null when they
// cannot be opened. Only helper h calls it for h.
helper_faces_t* get_helper_faces(generator_set_t* set, uint32_t helper);

// Phase two of the run: FreeType, then for every set in order its faces (font_file, then each
// fallback font), opened with its unit's settings, and its glyphs measured with them; the set
// keeps what measuring learnt while the generator's glyph store allows. Stops at the first face
// that cannot be used, or when a set asks for OpenType kerning and HarfBuzz cannot be loaded.
[[nodiscard]] bool prepare_fonts(generator_t* generator);

// Drawing-pass bitmaps of one set: the bitmap kept while measuring, else the glyph loaded again
// from its face with the drawing flags. A glyph that does not load again gives nothing to draw.
class face_glyph_source_t final : public glyph_source_t
{
public:
    // `known` may be null: every glyph is then loaded again by its code.
    face_glyph_source_t(face_list_t faces, const character_set_t& set, bool antialias,
                        set_glyphs_t* known);
    [[nodiscard]] bool get_bitmap(uint32_t position, glyph_bitmap_t* out) override;
    // Frees the kept bitmaps of the glyphs drawn.
    void drawn_through(uint32_t position) override;

    // Lets the helpers prepared for the generator set (prepare_helpers) draw beside the main
    // thread, each from its own faces.
    void use_helpers(generator_set_t* set);
    uint32_t helper_count() const override;
    [[nodiscard]] bool prepare_helper(uint32_t helper) override;
    [[nodiscard]] bool get_helper_bitmap(uint32_t helper, uint32_t position,
                                         glyph_bitmap_t* out) override;
    int64_t first_lost_glyph() const override;

private:
    // The bitmap from the faces given, with the drawing flags.
    bool load_bitmap(face_list_t faces, uint32_t position, glyph_bitmap_t* out);

    face_list_t m_faces;
    const character_set_t& m_set;
    bool m_antialias;
    set_glyphs_t* m_known;
    generator_set_t* m_helpers_set = nullptr;
    std::atomic<uint32_t> m_first_lost{ UINT32_MAX };  // helpers draw at once
};

// One kerning line: positions of the two glyphs in the set, and the kerning in whole pixels.
struct kerning_pair_t
{
    uint32_t first;
    uint32_t second;
    int32_t value;
};

// True when the face says it has kerning.
bool face_has_kerning(FT_FaceRec_* face);

// Every ordered pair (a, b) of the set's glyphs drawn from one face, b = a included, in file
// order of a then b, whose kerning in that face, in whole pixels, is not 0; pairs across faces
// have none. With `known` the glyph indices come from measuring and a face whose kerning lives
// in a 'kern' table is asked only for the pairs that table lists; without it every pair is
// asked with its indices looked up again. The pairs are the same. False when memory is short.
[[nodiscard]] bool collect_kerning_pairs(face_list_t faces, const character_set_t& set,
                                         const set_glyphs_t* known,
                                         array_dyn_t<kerning_pair_t>* out);

// Sorts pairs gathered face by face into file order of a then b.
void sort_kerning_pairs(array_dyn_t<kerning_pair_t>* pairs);
