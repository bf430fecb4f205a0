// The run sequence: the phases in order on one generator, then its release.
#include "tools/font_generator/generator.h"

#include "tools/font_generator/font_description.h"
#include "tools/font_generator/font_faces.h"
#include "tools/font_generator/glyph_packing.h"

bool run_generator(const char* path)
{
    generator_t generator;
    const bool result = load_configuration(&generator, path) && prepare_fonts(&generator) &&
                        fit_canvases(&generator) && write_outputs(&generator);
    release_generator(&generator);
    return result;
}

void release_generator(generator_t* generator)
{
    // Every face goes before the library that made it.
    for (generator_set_t& set : generator->sets)
    {
        for (FT_FaceRec_* face : set.faces)
            if (face != nullptr)
                close_font_face(face);
        set.faces.release_storage();
    }
    if (generator->library != nullptr)
    {
        shut_down_freetype(generator->library);
        generator->library = nullptr;
    }
    generator->sets.release_storage();
    // The units wait on the unit system's pending releases until main flushes them.
    generator->configuration.reset();
}
