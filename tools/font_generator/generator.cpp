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
    for (FT_FaceRec_* face : generator->faces)
        if (face != nullptr)
            close_font_face(face);
    if (generator->library != nullptr)
    {
        shut_down_freetype(generator->library);
        generator->library = nullptr;
    }
    generator->faces.release_storage();
    generator->canvases.release_storage();
    generator->glyph_store.sets.release_storage();
    generator->character_sets.release_storage();
    // The units wait on the unit system's pending releases until main flushes them.
    generator->configuration.reset();
}
