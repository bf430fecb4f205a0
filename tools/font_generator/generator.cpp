// The run sequence: the phases in order on one generator, then its release.
#include "tools/font_generator/generator.h"

#include <ft2build.h>
#include FT_FREETYPE_H

bool run_generator(const char* path)
{
    generator_t generator;
    const bool result = load_configuration(&generator, path);
    release_generator(&generator);
    return result;
}

void release_generator(generator_t* generator)
{
    for (FT_Face face : generator->faces)
        if (face != nullptr)
            FT_Done_Face(face);
    if (generator->library != nullptr)
    {
        FT_Done_FreeType(generator->library);
        generator->library = nullptr;
    }
    generator->faces.release_storage();
    generator->canvases.release_storage();
    generator->character_sets.release_storage();
    // The units wait on the unit system's pending releases until main flushes them.
    generator->configuration.reset();
}
