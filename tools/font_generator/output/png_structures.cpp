// libpng's write structures, quiet.
#include "tools/font_generator/output/png_structures.h"

#include <png.h>

namespace
{

void ignore_png_warning(png_structp, png_const_charp) {}

[[noreturn]] void stop_png(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

}  // namespace

png_structures_t::png_structures_t()
{
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, stop_png, ignore_png_warning);
    info = png != nullptr ? png_create_info_struct(png) : nullptr;
}

png_structures_t::~png_structures_t()
{
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
}
