/* What the FreeType yardsticks share: the code list of a character-set file (its `U+XXXX` lines,
 * others skipped) and the face opened at a size, from the command line
 *   <font file> <pixels> <character-set file> */
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H
#include <stdio.h>
#include <stdlib.h>

/* Returns how many codes were read (at most `capacity`), or -1 when the file cannot be opened. */
static long read_code_list(const char* path, unsigned* codes, size_t capacity)
{
    FILE* in = fopen(path, "r");
    if (!in)
        return -1;
    size_t count = 0;
    char line[256];
    while (count < capacity && fgets(line, sizeof line, in))
    {
        unsigned code;
        if (sscanf(line, "U+%x", &code) == 1)
            codes[count++] = code;
    }
    fclose(in);
    return (long)count;
}

/* Reads the codes and opens face 0 with the Unicode map at the pixel size; the exit status to
 * return on failure (2 for bad arguments, 1 otherwise), 0 when all is ready. */
static int open_yardstick(int argc, char** argv, unsigned* codes, size_t capacity, size_t* count,
                          FT_Library* library, FT_Face* face)
{
    if (argc != 4)
        return 2;
    const unsigned pixels = (unsigned)atoi(argv[2]);
    const long read = read_code_list(argv[3], codes, capacity);
    if (read < 0 || FT_Init_FreeType(library) || FT_New_Face(*library, argv[1], 0, face))
        return 1;
    *count = (size_t)read;
    FT_Select_Charmap(*face, FT_ENCODING_UNICODE);
    FT_Set_Pixel_Sizes(*face, pixels, pixels);
    return 0;
}
