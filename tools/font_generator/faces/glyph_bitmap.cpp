// Coverage reading and the glyph store.
#include "tools/font_generator/faces/glyph_bitmap.h"

#include "ovcore/sys_pages.h"

#include <algorithm>
#include <cstring>

namespace
{

// Blocks come from the system's zero pages. A pool's first block is small, so a small set stays
// small; later ones are large, with large pages asked for, so that thousands of bitmaps are
// copied in at a few page faults per block.
constexpr uint32_t first_block_size = 1u << 20;
constexpr uint32_t block_size = 4u << 20;

uint8_t* reserve_block(uint64_t size, bool large_pages)
{
    void* block = sys_pages->reserve_zeroed(std::size_t(size));
    if (block != nullptr && large_pages)
        sys_pages->advise_large_pages(block, std::size_t(size));
    return static_cast<uint8_t*>(block);
}

void release_block(uint8_t* bytes, uint32_t size)
{
    if (bytes != nullptr)
        sys_pages->release(bytes, size);
}

}  // namespace

bool is_readable_pixel_mode(glyph_pixel_mode_t mode)
{
    return mode == glyph_pixel_mode_t::mono || mode == glyph_pixel_mode_t::gray ||
           mode == glyph_pixel_mode_t::gray2 || mode == glyph_pixel_mode_t::gray4;
}

uint32_t glyph_row_bytes(glyph_pixel_mode_t mode, int32_t width)
{
    if (width <= 0)
        return 0;
    const uint32_t w = uint32_t(width);
    switch (mode)
    {
    case glyph_pixel_mode_t::gray:
        return w;
    case glyph_pixel_mode_t::gray2:
        return (w + 3) / 4;
    case glyph_pixel_mode_t::gray4:
        return (w + 1) / 2;
    case glyph_pixel_mode_t::rgba:
        return 4 * w;
    default:
        return (w + 7) / 8;
    }
}

set_glyphs_t::~set_glyphs_t()
{
    release_bitmaps();
}

bool set_glyphs_t::reset(uint32_t count, uint32_t pools)
{
    release_bitmaps();
    m_glyphs.clear();
    m_pools.clear();
    return pools <= 256 && m_pools.resize(pools) && m_glyphs.resize(count);
}

void set_glyphs_t::set_index(uint32_t position, uint32_t glyph_index)
{
    m_glyphs[position].glyph_index = glyph_index;
}

bool set_glyphs_t::keep_bitmap(uint32_t position, const glyph_bitmap_t& bitmap, uint64_t* budget,
                               uint32_t pool)
{
    glyph_t& glyph = m_glyphs[position];
    const uint32_t row_bytes = glyph_row_bytes(bitmap.mode, bitmap.width);
    const uint64_t bytes = bitmap.rows > 0 ? uint64_t(row_bytes) * uint64_t(bitmap.rows) : 0;
    if (bytes > *budget)
        return false;

    array_dyn_t<block_t>& blocks = m_pools[pool].blocks;
    uint32_t block = 0;
    uint32_t offset = 0;
    if (bytes != 0)
    {
        if (blocks.empty() || blocks.last().size - blocks.last().used < bytes)
        {
            const bool first = blocks.empty();
            const uint64_t size = std::max<uint64_t>(bytes, first ? first_block_size : block_size);
            block_t fresh;
            fresh.bytes = reserve_block(size, !first);
            fresh.size = uint32_t(size);
            fresh.last_position = position;
            if (fresh.bytes == nullptr || !blocks.append(fresh))
            {
                release_block(fresh.bytes, fresh.size);
                return false;
            }
        }
        block = blocks.size() - 1;
        block_t& target = blocks.last();
        offset = target.used;
        for (int32_t r = 0; r < bitmap.rows; ++r)
            std::memcpy(target.bytes + offset + uint64_t(r) * row_bytes,
                        bitmap.top_row + int64_t(r) * bitmap.pitch, row_bytes);
        target.used += uint32_t(bytes);
        target.last_position = std::max(target.last_position, position);
    }

    glyph.kept = true;
    glyph.pool = uint8_t(pool);
    glyph.block = block;
    glyph.offset = offset;
    glyph.width = bitmap.width;
    glyph.rows = bitmap.rows;
    glyph.row_bytes = row_bytes;
    glyph.mode = bitmap.mode;
    *budget -= bytes;
    return true;
}

bool set_glyphs_t::find_bitmap(uint32_t position, glyph_bitmap_t* out) const
{
    const glyph_t& glyph = m_glyphs[position];
    if (!glyph.kept)
        return false;
    out->width = glyph.width;
    out->rows = glyph.rows;
    out->pitch = int32_t(glyph.row_bytes);
    out->mode = glyph.mode;
    out->top_row = glyph.row_bytes == 0 || glyph.rows <= 0
                       ? nullptr
                       : m_pools[glyph.pool].blocks[glyph.block].bytes + glyph.offset;
    return true;
}

void set_glyphs_t::release_bitmaps()
{
    for (pool_t& pool : m_pools)
    {
        for (block_t& block : pool.blocks)
            release_block(block.bytes, block.size);
        pool.blocks.release_storage();
        pool.first_held = 0;
    }
    for (glyph_t& glyph : m_glyphs)
        glyph.kept = false;
    m_released = 0;
}

void set_glyphs_t::release_bitmaps_through(uint32_t position)
{
    for (; m_released < m_glyphs.size() && m_released <= position; ++m_released)
        m_glyphs[m_released].kept = false;
    for (pool_t& pool : m_pools)
    {
        for (; pool.first_held < pool.blocks.size() &&
               pool.blocks[pool.first_held].last_position < m_released;
             ++pool.first_held)
        {
            block_t& block = pool.blocks[pool.first_held];
            release_block(block.bytes, block.size);
            block.bytes = nullptr;
        }
    }
}
