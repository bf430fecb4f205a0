/* The yardstick of a small run: the FreeType work of one set done the literal way, as a process
 * of its own. Opens the face, loads and renders every glyph of the character-set file twice
 * (measuring, then drawing flags) and asks FreeType for the kerning of every ordered pair with
 * both glyph indices looked up per pair (not for a set whose first code lies above U+3000).
 *   literal_freetype <font file> <pixels> <character-set file> */
#include "yardstick.h"

enum { max_codes = 70000 };

int main(int argc, char** argv)
{
    static unsigned codes[max_codes];
    static unsigned char loaded[max_codes];
    size_t count = 0;
    FT_Library library;
    FT_Face face;
    const int failure = open_yardstick(argc, argv, codes, max_codes, &count, &library, &face);
    if (failure != 0)
        return failure;
    FT_Matrix identity = { 0x10000, 0, 0, 0x10000 };
    FT_Set_Transform(face, &identity, NULL);
    for (size_t i = 0; i < count; ++i)
        loaded[i] = FT_Get_Char_Index(face, codes[i]) != 0 &&
                    FT_Load_Char(face, codes[i],
                                 FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_PEDANTIC) == 0;
    for (size_t i = 0; i < count; ++i)
        if (loaded[i])
            FT_Load_Char(face, codes[i], FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT);
    long kerned = 0;
    if (FT_HAS_KERNING(face) && count > 0 && codes[0] <= 0x3000)
        for (size_t a = 0; a < count; ++a)
            for (size_t b = 0; b < count; ++b)
            {
                FT_Vector kerning;
                FT_Get_Kerning(face, FT_Get_Char_Index(face, codes[a]),
                               FT_Get_Char_Index(face, codes[b]), FT_KERNING_DEFAULT, &kerning);
                kerned += (kerning.x >> 6) != 0;
            }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return kerned < 0;
}
