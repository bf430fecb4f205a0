// Picture output: uncompressed TGA files of a pixel buffer, and of a font canvas.
#pragma once

#include <cstdint>

class file_t;
struct finished_font_t;
struct font_canvas_t;

// Pixel formats that write_tga accepts (DXGI numbers where they exist, 200 to 203 the engine's
// own 24-bit codes).
enum tga_pixel_format_t : uint32_t
{
    tga_r8g8b8a8 = 28,
    tga_r8g8b8a8_srgb = 29,
    tga_a8 = 65,
    tga_b8g8r8a8 = 87,
    tga_b8g8r8a8_srgb = 91,
    tga_r8g8b8 = 200,
    tga_b8g8r8 = 201,
    tga_r8g8b8_alt = 202,
    tga_b8g8r8_alt = 203,
};

constexpr uint32_t tga_header_size = 18;

// The header of an uncompressed picture of the format, width and height (their low 16 bits),
// origin at the bottom left. False for a format outside the table.
[[nodiscard]] bool make_tga_header(uint32_t format, uint32_t width, uint32_t height,
                                   uint8_t header[tga_header_size]);

// Writes the header and the width × height pixels of the buffer at the file's position, rows in
// buffer order; formats whose input is R, G, B are written as B, G, R. The buffer is not
// changed. False (nothing written) for an unknown format, false when a write fails or the
// buffer is null while there are pixels.
[[nodiscard]] bool write_tga(file_t* file, const uint8_t* pixels, uint32_t width, uint32_t height,
                             uint32_t format);

// Writes the canvas at the path: grey for font style 0, R8G8B8A8 otherwise. Reports and returns
// false when the file cannot be created or written.
[[nodiscard]] bool write_picture(const font_canvas_t& canvas, const char* path);

// Writes picture k of the font at "<base><picture_name>" as write_picture does.
[[nodiscard]] bool write_font_picture(const finished_font_t& font, uint32_t picture);
