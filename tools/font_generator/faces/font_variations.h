// Variable fonts: the design coordinates a set's faces are drawn at, from a named instance of
// the set's font and axis settings on top, carried over to its fallback fonts' axes of the same
// tags. Coordinates are 16.16 design values, as 'fvar' stores them.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/model/axis_setting.h"

#include <cstdint>

struct FT_FaceRec_;

// What a set asks of its font_file's face. Nothing asked: the faces stay as they open.
struct variation_request_t
{
    const char* instance = "";                        // a named instance's style name; not owned
    const array_t<string_dyn_t>* settings = nullptr;  // "tag=value", checked at load; not owned
    set_label_t label;                                // which set messages name

    bool is_empty() const;
};

// Where one face of a set is drawn: the design coordinate of every axis of the face, in its
// order. Without coordinates the face stays as it opened.
struct face_variation_t
{
    array_dyn_t<uint32_t> tags;
    array_dyn_t<int32_t> coordinates;  // 16.16
    string_dyn_t instance;             // the named instance's style name; empty: none asked
    string_dyn_t face_name;            // the family, then the instance's style name if any

    bool has_coordinates() const { return !coordinates.empty(); }
};

// The coordinates of the set's font_file: the named instance's from 'fvar' (read as signed
// 16.16), then each setting in order. Refuses, naming the set and the font file: a font without
// axes, an instance the font does not list (and the names it lists), an axis it lacks, a value
// outside the axis's range. False after the messages, also when memory is short.
[[nodiscard]] bool resolve_main_variation(FT_FaceRec_* face, const char* font_file,
                                          const variation_request_t& request,
                                          face_variation_t* variation);

// A fallback font's coordinates: the main face's on each axis of the same tag, held to the
// fallback's range with a warning naming the font and the axis; its default on the others. A
// font without axes gets none. False when memory is short, after saying so.
[[nodiscard]] bool carry_variation(const face_variation_t& main, FT_FaceRec_* face,
                                   const char* font_file, const set_label_t& label,
                                   face_variation_t* variation);

// Sets the variation's coordinates on the face with FreeType's design coordinates; true when
// there are none. False, without a word, when FreeType refuses them.
[[nodiscard]] bool apply_variation(FT_FaceRec_* face, const face_variation_t& variation);
