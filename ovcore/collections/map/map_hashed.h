// A hashed map over hashed_table_t: keys, values and hashes in parallel arrays.
//
// At most 45864 elements (the table's 16-bit links); inserting more stops the process.
// Removal moves the last element into the gap, so element order is not kept. Not thread-safe.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/hashing/hashed_table.h"
#include "ovcore/collections/string.h"

#include <cstdint>
#include <type_traits>
#include <utility>

// Hash of a key: string keys by compute_key_hash, integers by value.
template <typename K> struct map_key_traits_t
{
    static uint32_t hash(const K& key)
    {
        static_assert(std::is_integral_v<K> || std::is_enum_v<K>, "no hash for this key type");
        return uint32_t(uint64_t(key) ^ (uint64_t(key) >> 32));
    }
    static bool equal(const K& a, const K& b) { return a == b; }
};

template <> struct map_key_traits_t<string_alias_t>
{
    static uint32_t hash(const string_alias_t& key) { return compute_key_hash(key.text); }
    static bool equal(const string_alias_t& a, const string_alias_t& b) { return a == b; }
};

template <> struct map_key_traits_t<string_dyn_t>
{
    static uint32_t hash(const string_dyn_t& key) { return compute_key_hash(key.c_str()); }
    static bool equal(const string_dyn_t& a, const string_dyn_t& b) { return a == b; }
};

template <typename K, typename V, typename Traits = map_key_traits_t<K>> class map_hashed_t
{
public:
    uint32_t size() const { return m_keys.size(); }
    const K& key_at(uint32_t index) const { return m_keys[index]; }
    V& value_at(uint32_t index) { return m_values[index]; }
    const V& value_at(uint32_t index) const { return m_values[index]; }

    V* find(const K& key)
    {
        uint32_t probes = 0;
        const uint32_t index = lookup(key, Traits::hash(key), &probes);
        return index == hashed_table_t::none ? nullptr : &m_values[index];
    }
    const V* find(const K& key) const { return const_cast<map_hashed_t*>(this)->find(key); }

    // Inserts or replaces; null when memory ran out, else the stored value.
    V* insert(const K& key, V value)
    {
        const uint32_t hash = Traits::hash(key);
        uint32_t probes = 0;
        const uint32_t found = lookup(key, hash, &probes);
        if (found != hashed_table_t::none)
        {
            m_values[found] = std::move(value);
            return &m_values[found];
        }
        const uint32_t count = m_keys.size();
        if (!m_table.prepare_insert(count, probes, m_hashes.data()))
            return nullptr;
        if (!m_keys.reserve_more(1) || !m_values.reserve_more(1) || !m_hashes.reserve_more(1))
            return nullptr;
        // Room was reserved above: these cannot fail.
        (void)m_keys.append(key);
        (void)m_values.append(std::move(value));
        (void)m_hashes.append(hash);
        m_table.insert(uint16_t(count), hash);
        return &m_values[count];
    }

    // False when the key is not there.
    bool remove(const K& key)
    {
        uint32_t probes = 0;
        const uint32_t hash = Traits::hash(key);
        const uint32_t index = lookup(key, hash, &probes);
        if (index == hashed_table_t::none)
            return false;
        const uint32_t last = m_keys.size() - 1;
        m_table.remove(uint16_t(index), hash, index == last ? hashed_table_t::none : uint16_t(last),
                       m_hashes[last]);
        m_keys.remove_fast(index);
        m_values.remove_fast(index);
        m_hashes.remove_fast(index);
        return true;
    }

    void clear()
    {
        m_table.clear();
        m_keys.release_storage();
        m_values.release_storage();
        m_hashes.release_storage();
    }

    uint32_t size_class() const { return m_table.size_class(); }

private:
    uint32_t lookup(const K& key, uint32_t hash, uint32_t* probes) const
    {
        for (uint16_t i = m_table.first(hash); i != hashed_table_t::none; i = m_table.next(i))
        {
            ++*probes;
            if (m_hashes[i] == hash && Traits::equal(m_keys[i], key))
                return i;
        }
        return hashed_table_t::none;
    }

    hashed_table_t m_table;
    array_dyn_t<K> m_keys;
    array_dyn_t<V> m_values;
    array_dyn_t<uint32_t> m_hashes;
};
