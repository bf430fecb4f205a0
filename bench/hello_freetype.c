/* The yardstick of start-up: a C program that loads FreeType and prints a line. */
#include <ft2build.h>
#include FT_FREETYPE_H
#include <stdio.h>

int main(void)
{
    FT_Library library;
    if (FT_Init_FreeType(&library))
        return 1;
    puts("Usage: hello_freetype [configuration_file]");
    FT_Done_FreeType(library);
    return 0;
}
