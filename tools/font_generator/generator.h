// The state of one run and the run sequence over its phases.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/units/unit.h"
#include "tools/font_generator/character_set.h"
#include "tools/font_generator/configuration.h"
#include "tools/font_generator/font_canvas.h"
#include "tools/font_generator/font_faces.h"
#include "tools/font_generator/glyph_bitmap.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;

// Everything the run holds for one character set. load_configuration fills the unit, the glyphs
// and the canvases; prepare_fonts the faces and the kept glyphs. Main thread only, but for the
// helpers' faces, which each helper opens and uses itself.
struct generator_set_t
{
    const char_set_config_u* config = nullptr;        // owned by generator_t::configuration
    auto_ptr_t<character_set_t> character_set;
    array_dyn_t<FT_FaceRec_*> faces;                  // open, drawn from in order; one today
    array_dyn_t<auto_ptr_t<font_canvas_t>> canvases;  // its pictures in order; one today
    auto_ptr_t<set_glyphs_t> kept_glyphs;             // null: every phase asks the face again
    // Each face's font file, read for the helpers' faces when helpers measure or draw the set.
    array_dyn_t<font_bytes_t> font_bytes;
    array_dyn_t<auto_ptr_t<helper_faces_t>> helper_faces;  // helper h's at h - 1, null until opened
};

// Everything one run holds: one generator_set_t per character set read, in the configuration's
// order. Pictures are numbered over the sets in that order and over each set's canvases in
// theirs. Main thread only.
struct generator_t
{
    owner_ptr_t<configuration_u> configuration;  // null until loaded
    FT_LibraryRec_* library = nullptr;           // FreeType, null until started
    array_dyn_t<generator_set_t> sets;
    glyph_store_t glyph_store;                   // whether measuring keeps glyphs, and how much
};

// Runs the phases on a fresh generator, each only while all before it succeeded, then releases
// the generator. `path` is the configuration file, used unchanged. True when every phase
// succeeded; each failure has been reported by the phase that met it.
[[nodiscard]] bool run_generator(const char* path);

// Frees what the generator holds: every set's faces, FreeType, the sets, then drops the
// configuration (its units are destroyed when the unit system's pending releases are flushed).
void release_generator(generator_t* generator);
