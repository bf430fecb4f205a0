// The index behind the hashed maps: 16-bit chained slots in one of fourteen size classes.
//
// The table does not store keys: the map owns them in an array and the table names elements by
// their index there. Each bucket heads a chain of element indices linked through `next`;
// 65535 means none. Not thread-safe.
#pragma once

#include <cstdint>

class hashed_table_t
{
public:
    static constexpr uint16_t none = 0xFFFF;
    static constexpr uint32_t class_count = 14;
    static constexpr uint32_t max_elements = 45864;

    struct size_class_t
    {
        uint32_t buckets;
        uint32_t max_elements;
    };
    static const size_class_t size_classes[class_count];

    hashed_table_t() = default;
    hashed_table_t(const hashed_table_t&) = delete;
    hashed_table_t& operator=(const hashed_table_t&) = delete;
    ~hashed_table_t();

    uint32_t size_class() const { return m_class; }
    uint32_t bucket_count() const { return size_classes[m_class].buckets; }

    // First element of the chain that `hash` lands in, or `none`.
    uint16_t first(uint32_t hash) const
    {
        return m_class == 0 ? none : m_heads[hash % size_classes[m_class].buckets];
    }
    uint16_t next(uint16_t element) const { return m_next[element]; }

    // Called before inserting element `count` after a failed lookup that compared `probes`
    // keys: grows the class as the growth rule demands and rebuilds the chains from `hashes`
    // (one per element). Stops the process when the table is full. False when memory ran out.
    [[nodiscard]] bool prepare_insert(uint32_t count, uint32_t probes, const uint32_t* hashes);
    // Links element `element` (the new last one) with its hash.
    void insert(uint16_t element, uint32_t hash);
    // Unlinks element `element`; when `moved` is not `none`, the element that was at index
    // `moved` now lives at `element` and is relinked there.
    void remove(uint16_t element, uint32_t hash, uint16_t moved, uint32_t moved_hash);
    void clear();

private:
    bool rebuild(uint32_t size_class, uint32_t count, const uint32_t* hashes);
    void unlink(uint16_t element, uint32_t hash);

    uint16_t* m_heads = nullptr;
    uint16_t* m_next = nullptr;
    uint32_t m_class = 0;
    uint32_t m_long_probe_growths = 0;
};
