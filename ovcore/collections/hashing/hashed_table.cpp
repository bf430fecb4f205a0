// Hashed table chains and growth.
#include "ovcore/collections/hashing/hashed_table.h"

#include "ovcore/fatal.h"

#include <cstdlib>

const hashed_table_t::size_class_t hashed_table_t::size_classes[class_count] = {
    { 0, 0 },         { 23, 16 },       { 53, 37 },       { 97, 68 },      { 193, 135 },
    { 389, 272 },     { 769, 538 },     { 1543, 1080 },   { 3079, 2155 },  { 6151, 4305 },
    { 12289, 8602 },  { 24593, 17215 }, { 49157, 34409 }, { 65521, 45864 },
};

hashed_table_t::~hashed_table_t()
{
    std::free(m_heads);
    std::free(m_next);
}

bool hashed_table_t::prepare_insert(uint32_t count, uint32_t probes, const uint32_t* hashes)
{
    if (count >= max_elements)
        OV_FATAL("Failed to insert more elements into hashed_table_t than its limits permit.");
    uint32_t size_class = m_class;
    uint32_t long_probe_growths = m_long_probe_growths;
    while (size_class < class_count - 1)
    {
        const bool too_full = count + 1 > size_classes[size_class].max_elements;
        const bool too_long = probes + 1 > 4 * long_probe_growths + 8;
        if (!too_full && !too_long)
            break;
        if (too_long)
            ++long_probe_growths;
        ++size_class;
    }
    if (size_class != m_class && !rebuild(size_class, count, hashes))
        return false;
    m_long_probe_growths = long_probe_growths;
    return true;
}

bool hashed_table_t::rebuild(uint32_t size_class, uint32_t count, const uint32_t* hashes)
{
    const size_class_t& sizes = size_classes[size_class];
    auto* heads = static_cast<uint16_t*>(std::malloc(sizes.buckets * sizeof(uint16_t)));
    auto* next = static_cast<uint16_t*>(std::malloc(sizes.max_elements * sizeof(uint16_t)));
    if (heads == nullptr || next == nullptr)
    {
        std::free(heads);
        std::free(next);
        return false;
    }
    std::free(m_heads);
    std::free(m_next);
    m_heads = heads;
    m_next = next;
    m_class = size_class;
    for (uint32_t i = 0; i < sizes.buckets; ++i)
        m_heads[i] = none;
    for (uint32_t i = 0; i < count; ++i)
        insert(uint16_t(i), hashes[i]);
    return true;
}

void hashed_table_t::insert(uint16_t element, uint32_t hash)
{
    uint16_t& head = m_heads[hash % size_classes[m_class].buckets];
    m_next[element] = head;
    head = element;
}

void hashed_table_t::unlink(uint16_t element, uint32_t hash)
{
    uint16_t* link = &m_heads[hash % size_classes[m_class].buckets];
    while (*link != element)
    {
        if (*link == none)
            OV_FATAL("Element missing from its hashed_table_t chain.");
        link = &m_next[*link];
    }
    *link = m_next[element];
}

void hashed_table_t::remove(uint16_t element, uint32_t hash, uint16_t moved, uint32_t moved_hash)
{
    unlink(element, hash);
    if (moved == none)
        return;
    unlink(moved, moved_hash);
    insert(element, moved_hash);
}

void hashed_table_t::clear()
{
    std::free(m_heads);
    std::free(m_next);
    m_heads = nullptr;
    m_next = nullptr;
    m_class = 0;
    m_long_probe_growths = 0;
}
