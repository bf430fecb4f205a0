// libpng's write structures for the tool's PNG writers (the preview and the export pages).
#pragma once

struct png_struct_def;
struct png_info_def;

// libpng's write and info structures, made before a picture's file so that a picture without
// memory for them creates none. Its warnings are dropped (nothing a user can act on); its errors
// jump back to the writer's setjmp, the writer saying what failed. Freed with the object.
struct png_structures_t
{
    png_struct_def* png = nullptr;
    png_info_def* info = nullptr;

    png_structures_t();
    ~png_structures_t();
    png_structures_t(const png_structures_t&) = delete;
    png_structures_t& operator=(const png_structures_t&) = delete;

    bool is_made() const { return info != nullptr; }
};
