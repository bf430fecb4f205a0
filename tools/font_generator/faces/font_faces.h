// Font faces: every face of a character set (its font file's, then its fallback fonts'), opened
// through FreeType from the font bytes read once through the file system, for the main thread
// and for the helpers alike. The only files that see FreeType's headers are the sources of the
// faces and kerning stages.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "tools/font_generator/faces/font_variations.h"

#include <cstdint>

class string_t;
struct FT_FaceRec_;
struct FT_LibraryRec_;

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

// What a face is opened and sized with.
struct font_face_settings_t
{
    const char* font_file = "";  // not owned
    uint32_t width = 12;  // pixels
    uint32_t height = 12;
    float scale_width = 1.0f;
    float scale_height = 1.0f;
    bool outlines_only = false;  // a font without outlines is refused before it is sized
};

// FreeType's library handle; shut down after every face it opened is closed. start_freetype
// reports its failure.
[[nodiscard]] bool start_freetype(FT_LibraryRec_** library);
void shut_down_freetype(FT_LibraryRec_* library);
// The version of the FreeType library the process runs with, as "x.y.z"; false, without a
// message, when FreeType cannot be started.
[[nodiscard]] bool describe_freetype_version(string_t* out);
void close_font_face(FT_FaceRec_* face);
// True when the face's glyphs are outlines; bitmap fonts (BDF, PCF, strikes only) have none.
bool has_outlines(FT_FaceRec_* face);

class code_set_t;
// Adds every code up to U+10FFFF that one of the faces maps to a glyph.
void collect_mapped_codes(face_list_t faces, code_set_t* codes);

// A scale as a 16.16 fixed-point transform entry: scale × 65536 in single precision, truncated
// toward zero; values beyond the 32-bit range saturate, NaN gives 0.
int32_t scale_to_fixed(float scale);

// Opens face 0 of the font file from its bytes, read whole through the file system (the face
// owns them and frees them when it closes), selects its Unicode character map, sets the pixel
// size (a fixed-size font that refuses it is used at its first strike, with a warning) and the
// scaling transform. Reports and returns false on failure: "Failed to open the font file" for
// a file that cannot be read, "unknown format" for one FreeType does not know, "Not enough
// memory" when memory is short. With `outlines_only`, a face without outlines returns false
// before it is sized, without a word: the caller knows which set refuses it. A face that opened
// is stored in `*face` even then, and the caller closes it.
[[nodiscard]] bool open_font_face(FT_LibraryRec_* library, const font_face_settings_t& settings,
                                  FT_FaceRec_** face);

class helper_faces_t;

// Every face of one character set, in order, with its own FreeType library; and the helpers'
// own faces of the same fonts, opened from the same bytes. Main thread only, but for
// helper_faces. Destroying it closes everything.
class face_set_t
{
public:
    face_set_t();
    face_set_t(const face_set_t&) = delete;
    face_set_t& operator=(const face_set_t&) = delete;
    ~face_set_t();

    // Opens every font, in order, saying what it meets as open_font_face does; stops at the
    // first that cannot be used. With a variation asked, the first font's design coordinates
    // are resolved (resolve_main_variation) and carried to the others (carry_variation), and
    // set on every face before it is sized, the helpers' too. The settings' font_file texts
    // and the variation's texts must outlive the set.
    [[nodiscard]] bool open(const array_t<font_face_settings_t>& fonts,
                            const variation_request_t& variation = variation_request_t());
    face_list_t faces() const { return m_faces; }
    // Where face k is drawn; without coordinates when no variation was asked.
    const face_variation_t& variation(uint32_t k) const { return m_variations[k]; }

    // Room for `helpers` helpers' faces. Says nothing; false when memory is short.
    [[nodiscard]] bool prepare_helpers(uint32_t helpers);
    uint32_t helper_count() const { return m_helpers.size(); }
    // Helper h's faces (1 <= h <= helper_count()), opened on its first call from the bytes
    // the set's faces read; false, without a word, when they cannot be. Only helper h calls it
    // for h, on the thread that runs it.
    [[nodiscard]] bool helper_faces(uint32_t helper, face_list_t* faces);

private:
    FT_LibraryRec_* m_library = nullptr;
    array_dyn_t<FT_FaceRec_*> m_faces;
    array_dyn_t<font_face_settings_t> m_settings;
    array_dyn_t<face_variation_t> m_variations;  // one per face
    array_dyn_t<auto_ptr_t<helper_faces_t>> m_helpers;  // helper h's at h - 1, null until opened
};
