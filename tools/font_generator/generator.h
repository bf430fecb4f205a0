// The run: the state of one run, and its phases in order over the stages (input, faces,
// kerning, packing), each stage given plain data and giving plain data back; then the finished
// font, which the writers (output, export) only format.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/auto_ptr.h"
#include "ovcore/units/unit.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/input/configuration.h"
#include "tools/font_generator/kerning/kerning.h"
#include "tools/font_generator/model/finished_font.h"
#include "tools/font_generator/model/font_canvas.h"

// Everything the run holds for one character set, filled phase by phase. Main thread only, but
// for the helpers' faces, which each helper opens and uses itself.
struct generator_set_t
{
    const char_set_config_u* config = nullptr;        // owned by generator_t::configuration
    auto_ptr_t<character_set_t> character_set;        // input: its glyphs, then measured, placed
    uint32_t range_position = 0;                      // where its ranges' codes go, once faces say
                                                      // which codes they have
    auto_ptr_t<face_set_t> faces;                     // faces: font_file's, then fallbacks'
    auto_ptr_t<set_glyphs_t> kept_glyphs;             // null: every stage asks the faces again
    array_dyn_t<kerning_pair_t> kerning;              // kerning: the lines of the set
    array_dyn_t<auto_ptr_t<font_canvas_t>> canvases;  // packing: its pictures in order
};

// Everything one run holds: one generator_set_t per character set, in the configuration's
// order. Main thread only.
struct generator_t
{
    owner_ptr_t<configuration_u> configuration;  // null until loaded
    array_dyn_t<string_dyn_t> set_names;         // element k's name as written, "" for none
    array_dyn_t<generator_set_t> sets;
    glyph_store_t glyph_store;                   // whether measuring keeps glyphs, and how much
};

// Runs the phases on a fresh generator, each only while all before it succeeded, then releases
// it: load the configuration and read the character sets; open every set's faces and measure
// its glyphs; collect its kerning; lay out and draw its pictures; finish the font and write
// every output. `path` is the configuration file, used unchanged; with `opened` (the text made
// from the command line) that file is read instead and `path` only names it in messages. True
// when every phase succeeded; each failure has been reported where it was met.
[[nodiscard]] bool run_generator(const char* path, file_t* opened = nullptr);

// The phases, in order; each says what it meets and returns false on failure.
[[nodiscard]] bool load_inputs(generator_t* run, const char* path, file_t* opened = nullptr);
[[nodiscard]] bool open_and_measure(generator_t* run);
[[nodiscard]] bool collect_set_kerning(generator_t* run);
[[nodiscard]] bool lay_out_and_draw(generator_t* run);
[[nodiscard]] bool write_outputs(generator_t* run);

// The writers in order: the description, then for every picture its material, texture-object
// and TGA files, the preview when the font has a text for it, and the export when it names
// flavours. Stops at the first file that cannot be written, after its writer reported it.
[[nodiscard]] bool write_finished_font(const finished_font_t& font);
