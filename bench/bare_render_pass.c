/* The floor of a run: one bare FreeType render pass over the glyphs of a character-set file, on
 * one thread, writing nothing. Opens the face, sets the size and loads each code once with the
 * tool's own load flags, antialiased.
 *   bare_render_pass <font file> <pixels> <character-set file> */
#include "yardstick.h"

enum { max_codes = 1200000 };

int main(int argc, char** argv)
{
    static unsigned codes[max_codes];
    size_t count = 0;
    FT_Library library;
    FT_Face face;
    const int failure = open_yardstick(argc, argv, codes, max_codes, &count, &library, &face);
    if (failure != 0)
        return failure;
    for (size_t i = 0; i < count; ++i)
        (void)FT_Load_Char(face, codes[i], FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return 0;
}
