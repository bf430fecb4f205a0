// Picture output.
#include "tools/font_generator/output/tga_writer.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/model/finished_font.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/output/output_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace
{

struct tga_format_t
{
    uint8_t image_type;  // 2 true-colour, 3 grey
    uint8_t depth;       // bits per pixel
    uint8_t descriptor;  // 8: eight alpha bits; origin bottom left in every case
    bool swap;           // bytes 0 and 2 of each pixel exchanged
};

bool find_format(uint32_t format, tga_format_t* out)
{
    switch (format)
    {
    case tga_r8g8b8a8:
    case tga_r8g8b8a8_srgb:
        *out = { 2, 32, 8, true };
        return true;
    case tga_a8:
        *out = { 3, 8, 0, false };
        return true;
    case tga_b8g8r8a8:
    case tga_b8g8r8a8_srgb:
        *out = { 2, 32, 8, false };
        return true;
    case tga_r8g8b8:
    case tga_r8g8b8_alt:
        *out = { 2, 24, 0, true };
        return true;
    case tga_b8g8r8:
    case tga_b8g8r8_alt:
        *out = { 2, 24, 0, false };
        return true;
    default:
        return false;
    }
}

// Swapped pixels go through a buffer of whole 3- and 4-byte pixels; others are written in place.
constexpr uint32_t swap_chunk_bytes = 3 * 4 * 65536;
constexpr uint32_t direct_chunk_bytes = 64u << 20;
// Pictures up to this size go out with their header in one write: one request, not two.
constexpr uint32_t single_write_bytes = 1u << 20;

void swap_red_and_blue(uint8_t* bytes, uint32_t size, uint32_t pixel_bytes)
{
    for (uint32_t i = 0; i + 2 < size; i += pixel_bytes)
        std::swap(bytes[i], bytes[i + 2]);
}

bool say_no_memory(const file_t* file)
{
    msg_error("Not enough memory to write the picture '%s'.", file->get_path().c_str());
    return false;
}

bool write_small_picture(file_t* file, const uint8_t* header, const uint8_t* pixels,
                         uint32_t size, const tga_format_t& entry)
{
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(tga_header_size + size));
    if (buffer == nullptr)
        return say_no_memory(file);
    std::memcpy(buffer, header, tga_header_size);
    std::memcpy(buffer + tga_header_size, pixels, size);
    if (entry.swap)
        swap_red_and_blue(buffer + tga_header_size, size, entry.depth / 8);
    const bool written = file->write(buffer, tga_header_size + size);
    std::free(buffer);
    return written;
}

}  // namespace

bool make_tga_header(uint32_t format, uint32_t width, uint32_t height,
                     uint8_t header[tga_header_size])
{
    tga_format_t entry;
    if (!find_format(format, &entry))
        return false;
    std::memset(header, 0, tga_header_size);
    header[2] = entry.image_type;
    header[12] = uint8_t(width);
    header[13] = uint8_t(width >> 8);
    header[14] = uint8_t(height);
    header[15] = uint8_t(height >> 8);
    header[16] = entry.depth;
    header[17] = entry.descriptor;
    return true;
}

bool write_tga(file_t* file, const uint8_t* pixels, uint32_t width, uint32_t height,
               uint32_t format)
{
    tga_format_t entry;
    uint8_t header[tga_header_size];
    if (!find_format(format, &entry) || !make_tga_header(format, width, height, header))
        return false;
    const uint32_t pixel_bytes = entry.depth / 8;
    const uint64_t total = uint64_t(pixel_bytes) * width * height;
    if (total != 0 && pixels != nullptr && total <= single_write_bytes)
        return write_small_picture(file, header, pixels, uint32_t(total), entry);

    if (!file->write(header, tga_header_size))
        return false;
    if (total == 0)
        return true;
    if (pixels == nullptr)
        return false;

    if (!entry.swap)
    {
        for (uint64_t done = 0; done < total;)
        {
            const uint32_t size = uint32_t(std::min<uint64_t>(total - done, direct_chunk_bytes));
            if (!file->write(pixels + done, size))
                return false;
            done += size;
        }
        return true;
    }

    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(swap_chunk_bytes));
    if (buffer == nullptr)
        return say_no_memory(file);
    bool written = true;
    for (uint64_t done = 0; done < total && written;)
    {
        const uint32_t size = uint32_t(std::min<uint64_t>(total - done, swap_chunk_bytes));
        std::memcpy(buffer, pixels + done, size);
        swap_red_and_blue(buffer, size, pixel_bytes);
        written = file->write(buffer, size);
        done += size;
    }
    std::free(buffer);
    return written;
}

bool write_picture(const font_canvas_t& canvas, const char* path)
{
    output_file_t file(path);
    if (!file)
    {
        msg_error("Failed to create the font picture '%s'.", path);
        return false;
    }
    const uint32_t format = canvas.font_style == 0 ? tga_a8 : tga_r8g8b8a8;
    if (!write_tga(file.get(), canvas.pixels, canvas.width, canvas.height, format))
    {
        msg_error("Failed to write the font picture '%s'.", path);
        return false;
    }
    return file.keep();
}

bool write_font_picture(const finished_font_t& font, uint32_t picture)
{
    const finished_picture_t& entry = font.pictures[picture];
    string_dyn_t path;
    if (!join_output_path(font.base, entry.picture_name.c_str(), &path))
        return false;
    return write_picture(*entry.canvas, path.c_str());
}
