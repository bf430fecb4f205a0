// The state of one run and the run sequence over its phases.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/units/unit.h"
#include "tools/font_generator/character_set.h"
#include "tools/font_generator/configuration.h"
#include "tools/font_generator/font_canvas.h"
#include "tools/font_generator/glyph_bitmap.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;

// Everything one run holds. Index k means the same character set everywhere: element k of the
// configuration's char_config, character_sets[k], canvases[k], faces[k] and picture k. Every
// phase after load_configuration relies on the arrays having that common length and order.
// Main thread only.
struct generator_t
{
    owner_ptr_t<configuration_u> configuration;            // null until loaded
    array_dyn_t<auto_ptr_t<character_set_t>> character_sets;
    array_dyn_t<auto_ptr_t<font_canvas_t>> canvases;
    FT_LibraryRec_* library = nullptr;                     // FreeType, null until started
    array_dyn_t<FT_FaceRec_*> faces;                       // one open face per character set
    glyph_store_t glyph_store;                             // what measuring keeps for later phases
};

// Runs the phases on a fresh generator, each only while all before it succeeded, then releases
// the generator. `path` is the configuration file, used unchanged. True when every phase
// succeeded; each failure has been reported by the phase that met it.
[[nodiscard]] bool run_generator(const char* path);

// Frees what the generator holds: faces, FreeType, canvases, character sets, then drops the
// configuration (its units are destroyed when the unit system's pending releases are flushed).
void release_generator(generator_t* generator);
