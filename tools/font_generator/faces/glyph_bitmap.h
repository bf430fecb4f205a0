// Rendered glyph bitmaps read as coverage, and the store that keeps what measuring learnt about
// each glyph (its glyph index and its bitmap) for the drawing pass and the kerning table.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"

#include <cstdint>

// Pixel modes, numbered as the rasterizer numbers them.
enum class glyph_pixel_mode_t : uint8_t
{
    none = 0,
    mono = 1,   // 1 bit per pixel, most significant bit first
    gray = 2,   // 8 bits per pixel
    gray2 = 3,  // 2 bits per pixel, levels 0 to 3
    gray4 = 4,  // 4 bits per pixel, levels 0 to 15
    rgba = 16,  // 4 bytes per pixel, R, G, B, A: a multi-channel field's, not the rasterizer's
};

// True for the modes that coverage_at can read.
bool is_readable_pixel_mode(glyph_pixel_mode_t mode);

// A view of one rendered bitmap. `top_row` is the first byte of row 0 (the top row) and `pitch`
// the signed step from one row to the next, so bottom-up bitmaps read like top-down ones.
struct glyph_bitmap_t
{
    int32_t width = 0;  // pixels
    int32_t rows = 0;
    int32_t pitch = 0;  // bytes
    glyph_pixel_mode_t mode = glyph_pixel_mode_t::none;
    const uint8_t* top_row = nullptr;

    // Coverage 0 to 255 of pixel (row r from the top, column c from the left), read by the
    // bitmap's own pitch and mode: mono bits give 0 or 255, 2-bit and 4-bit levels are scaled
    // to 0..255. Both indices must lie inside the bitmap and the mode must be readable.
    uint8_t coverage_at(int32_t r, int32_t c) const
    {
        const uint8_t* row = top_row + int64_t(r) * pitch;
        switch (mode)
        {
        case glyph_pixel_mode_t::gray:
            return row[c];
        case glyph_pixel_mode_t::gray2:
            return uint8_t(((row[c >> 2] >> (6 - 2 * (c & 3))) & 3) * 85);
        case glyph_pixel_mode_t::gray4:
            return uint8_t(((row[c >> 1] >> (4 - 4 * (c & 1))) & 15) * 17);
        default:
            return (row[c >> 3] & (0x80 >> (c & 7))) != 0 ? 255 : 0;
        }
    }
};

// Bytes one row of the mode takes at the width, without padding.
uint32_t glyph_row_bytes(glyph_pixel_mode_t mode, int32_t width);

// What measuring learnt about the glyphs of one character set, by position in the set's glyph
// array: the glyph index that the face gave the code point, and a copy of the bitmap it
// rendered. Copies live in blocks of at least 1 MiB, so keeping many small bitmaps costs no
// reallocation of what is already kept. Each helper that measures keeps into a pool of blocks of
// its own, so helpers may keep bitmaps of different glyphs at the same time; everything else is
// for one thread at a time.
class set_glyphs_t
{
public:
    set_glyphs_t() = default;
    set_glyphs_t(const set_glyphs_t&) = delete;
    set_glyphs_t& operator=(const set_glyphs_t&) = delete;
    ~set_glyphs_t();

    // Makes room for `count` glyphs, none measured yet, kept into `pools` pools of blocks (one
    // per helper). False when memory is short.
    [[nodiscard]] bool reset(uint32_t count, uint32_t pools = 1);
    uint32_t size() const { return m_glyphs.size(); }

    void set_index(uint32_t position, uint32_t glyph_index);
    // The glyph index found while measuring; 0 for an undefined code point.
    uint32_t get_index(uint32_t position) const { return m_glyphs[position].glyph_index; }

    // Keeps a copy of the bitmap of the glyph at the position in pool `pool`, unless that would
    // take the kept bytes above `*budget` (then nothing is kept, the budget is left as it is and
    // the result is false). The budget shrinks by what is kept.
    bool keep_bitmap(uint32_t position, const glyph_bitmap_t& bitmap, uint64_t* budget,
                     uint32_t pool = 0);
    // The kept bitmap of the glyph at the position; false when none was kept.
    [[nodiscard]] bool find_bitmap(uint32_t position, glyph_bitmap_t* out) const;
    // Frees every kept bitmap; the glyph indices stay.
    void release_bitmaps();
    // Forgets the kept bitmaps of the glyphs at positions up to `position` and frees each block
    // whose glyphs all lie there. Called with growing positions as the glyphs are drawn, it
    // hands memory back while the pictures fill.
    void release_bitmaps_through(uint32_t position);

private:
    struct glyph_t
    {
        uint32_t glyph_index = 0;
        bool kept = false;
        uint8_t pool = 0;
        uint32_t block = 0;  // the pool's block holding the rows; none for a bitmap without bytes
        uint32_t offset = 0;
        int32_t width = 0;
        int32_t rows = 0;
        uint32_t row_bytes = 0;
        glyph_pixel_mode_t mode = glyph_pixel_mode_t::none;
    };
    struct block_t
    {
        uint8_t* bytes = nullptr;
        uint32_t size = 0;
        uint32_t used = 0;
        uint32_t last_position = 0;  // the largest position of a glyph kept here
    };
    // Blocks filled in growing positions: a helper takes its chunks in order.
    struct pool_t
    {
        array_dyn_t<block_t> blocks;
        uint32_t first_held = 0;  // blocks before this one are freed
    };

    array_dyn_t<glyph_t> m_glyphs;
    array_dyn_t<pool_t> m_pools;
    uint32_t m_released = 0;  // glyphs before this position have no kept bitmap
};

// What one run keeps of measured glyphs: whether it keeps them, and the budget that bounds the
// bytes of all kept bitmaps together. Each character set holds its own set_glyphs_t. Without
// `keeps_glyphs` nothing is kept and every phase asks the face again, the way each phase would on
// its own; the output is the same.
struct glyph_store_t
{
    static constexpr uint64_t default_budget = 24u << 20;

    bool keeps_glyphs = true;
    uint64_t budget = default_budget;  // bytes still free for kept bitmaps
};
