// The core arrays: bounds-checked access that stops the process on misuse, heap and fixed storage.
//
// array_t<T>       polymorphic base: data, count, capacity, element access and editing
// array_dyn_t<T>   storage on the heap, grows by doubling
// array_fixed_t<T, N> storage inside the object, never grows
//
// Allocation failure is returned (reserve false, append false); a bad index or iterator ends the
// process through fatal_error. Not thread-safe: the owner guards a shared array.
#pragma once

#include "ovcore/collections/traits/trait_copy.h"
#include "ovcore/fatal.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

template <typename T> class array_t
{
public:
    using value_type = T;

    array_t(const array_t&) = delete;
    array_t& operator=(const array_t&) = delete;

    virtual ~array_t() = default;

    // Destroys every element; heap storage is also freed (count and capacity 0).
    virtual void release_storage() { destroy_elements(); }
    // Reallocates heap storage to exactly `count` elements; nothing when that fails.
    virtual void compact() {}
    virtual uint32_t capacity() const { return m_capacity; }
    // True when the array can hold n elements afterwards.
    [[nodiscard]] virtual bool reserve(uint32_t n) = 0;
    [[nodiscard]] virtual bool reserve_more(uint32_t n)
    {
        return n == 0 || reserve(m_count + n);
    }

    uint32_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    T* data() { return m_data; }
    const T* data() const { return m_data; }
    T* begin() { return m_data; }
    T* end() { return m_data + m_count; }
    const T* begin() const { return m_data; }
    const T* end() const { return m_data + m_count; }

    T& operator[](uint32_t index)
    {
        if (index >= m_count)
            OV_FATAL("Index outside array boundaries.");
        return m_data[index];
    }
    const T& operator[](uint32_t index) const
    {
        if (index >= m_count)
            OV_FATAL("Index outside array boundaries.");
        return m_data[index];
    }
    T* element_at(uint32_t index)
    {
        if (index >= m_count)
            OV_FATAL("Index outside array boundaries.");
        return m_data + index;
    }
    // The element, or the end position when index equals the count.
    T* element_at_or_end(uint32_t index)
    {
        if (index > m_count)
            OV_FATAL("Index outside array boundaries.");
        return m_data + index;
    }
    T& last() { return (*this)[m_count - 1]; }
    const T& last() const { return (*this)[m_count - 1]; }

    uint32_t index_of(const T* element) const
    {
        if (element < m_data || element >= m_data + m_count)
            OV_FATAL("Iterator outside array boundaries.");
        return uint32_t(element - m_data);
    }

    void copy_in(uint32_t index, const T& value)
    {
        if (index >= m_count)
            OV_FATAL("Index outside array boundaries.");
        copy_assign_or_abort(m_data + index, value);
    }
    void move_in(uint32_t index, T&& value)
    {
        if (index >= m_count)
            OV_FATAL("Index outside array boundaries.");
        m_data[index] = std::move(value);
    }

    // Appends a copy; false when the array cannot grow.
    [[nodiscard]] bool append(const T& value)
    {
        if (!reserve_more(1))
            return false;
        copy_construct_or_abort(m_data + m_count, value);
        ++m_count;
        return true;
    }
    [[nodiscard]] bool append(T&& value)
    {
        if (!reserve_more(1))
            return false;
        new (m_data + m_count) T(std::move(value));
        ++m_count;
        return true;
    }
    // Appends a value-initialised element; null when the array cannot grow.
    [[nodiscard]] T* append_new()
    {
        if (!reserve_more(1))
            return nullptr;
        T* element = new (m_data + m_count) T();
        ++m_count;
        return element;
    }
    // Grows or shrinks to n elements; new ones are value-initialised. False when it cannot grow.
    [[nodiscard]] bool resize(uint32_t n)
    {
        if (n > m_count && !reserve(n))
            return false;
        while (m_count > n)
            m_data[--m_count].~T();
        if constexpr (std::is_nothrow_default_constructible_v<T>)
        {
            // A local count: stores of bytes could change the member, which keeps the loop from
            // being one fill.
            for (uint32_t i = m_count; i < n; ++i)
                new (m_data + i) T();
            m_count = n;
        }
        else
            while (m_count < n)
                new (m_data + m_count++) T();
        return true;
    }

    // Removes keeping the order of the rest. Returns index - 1 (all-ones for 0), so that a loop
    // that then advances visits the element that moved into the removed place.
    uint32_t remove(uint32_t index)
    {
        if (index >= m_count)
            OV_FATAL("Index outside array boundaries.");
        for (uint32_t i = index; i + 1 < m_count; ++i)
            m_data[i] = std::move(m_data[i + 1]);
        m_data[--m_count].~T();
        return index - 1;
    }
    // Moves the last element into the gap; returns like remove.
    uint32_t remove_fast(uint32_t index)
    {
        if (index >= m_count)
            OV_FATAL("Index outside array boundaries.");
        if (index + 1 != m_count)
            m_data[index] = std::move(m_data[m_count - 1]);
        m_data[--m_count].~T();
        return index - 1;
    }
    void remove_last()
    {
        if (m_count == 0)
            OV_FATAL("Index outside array boundaries.");
        m_data[--m_count].~T();
    }

    // Destroys every element; the storage stays.
    void clear() { destroy_elements(); }

    // Appends copies of all elements of another array; false when it cannot grow.
    [[nodiscard]] bool append_copy(const array_t& other)
    {
        if (!reserve_more(other.m_count))
            return false;
        for (uint32_t i = 0; i < other.m_count; ++i)
            copy_construct_or_abort(m_data + m_count + i, other.m_data[i]);
        m_count += other.m_count;
        return true;
    }
    void append_block_copy_or_abort(const array_t& other)
    {
        if (!reserve_more(other.m_count))
            OV_FATAL("Failed to append_block_copy array.");
        for (uint32_t i = 0; i < other.m_count; ++i)
            copy_construct_or_abort(m_data + m_count + i, other.m_data[i]);
        m_count += other.m_count;
    }
    // Replaces the contents by copies of another array's; false when it cannot grow.
    [[nodiscard]] bool copy(const array_t& other)
    {
        if (&other == this)
            return true;
        clear();
        return append_copy(other);
    }

protected:
    array_t() = default;
    array_t(T* data, uint32_t capacity) : m_data(data), m_capacity(capacity) {}

    void destroy_elements()
    {
        if constexpr (!std::is_trivially_destructible_v<T>)
            for (uint32_t i = m_count; i > 0; --i)
                m_data[i - 1].~T();
        m_count = 0;
    }

    T* m_data = nullptr;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0;
};

template <typename T> class array_dyn_t final : public array_t<T>
{
    using base_t = array_t<T>;

public:
    array_dyn_t() = default;
    array_dyn_t(const array_dyn_t& other) : base_t()
    {
        if (!base_t::append_copy(other))
            OV_FATAL("Failed to append_block_copy array.");
    }
    array_dyn_t(array_dyn_t&& other) noexcept { take(other); }
    array_dyn_t& operator=(const array_dyn_t& other)
    {
        if (this != &other && !base_t::copy(other))
            OV_FATAL("Failed to append_block_copy array.");
        return *this;
    }
    array_dyn_t& operator=(array_dyn_t&& other) noexcept
    {
        if (this != &other)
        {
            release_storage();
            take(other);
        }
        return *this;
    }
    ~array_dyn_t() override { release_storage(); }

    void release_storage() override
    {
        base_t::destroy_elements();
        std::free(this->m_data);
        this->m_data = nullptr;
        this->m_capacity = 0;
    }

    void compact() override
    {
        if (this->m_capacity == this->m_count)
            return;
        if (this->m_count == 0)
        {
            release_storage();
            return;
        }
        relocate(this->m_count);
    }

    // Doubles the capacity until it is at least n (n itself when the array was empty).
    [[nodiscard]] bool reserve(uint32_t n) override
    {
        if (this->m_capacity >= n)
            return true;
        uint64_t capacity = this->m_capacity == 0 ? n : this->m_capacity;
        while (capacity < n)
            capacity *= 2;
        if (capacity > UINT32_MAX)
            capacity = n;
        return relocate(uint32_t(capacity));
    }

private:
    bool relocate(uint32_t capacity)
    {
        T* storage = static_cast<T*>(std::malloc(std::size_t(capacity) * sizeof(T)));
        if (storage == nullptr)
            return false;
        for (uint32_t i = 0; i < this->m_count; ++i)
        {
            new (storage + i) T(std::move(this->m_data[i]));
            this->m_data[i].~T();
        }
        std::free(this->m_data);
        this->m_data = storage;
        this->m_capacity = capacity;
        return true;
    }

    void take(array_dyn_t& other)
    {
        this->m_data = other.m_data;
        this->m_count = other.m_count;
        this->m_capacity = other.m_capacity;
        other.m_data = nullptr;
        other.m_count = 0;
        other.m_capacity = 0;
    }
};

template <typename T, uint32_t N> class array_fixed_t final : public array_t<T>
{
public:
    array_fixed_t() : array_t<T>(reinterpret_cast<T*>(m_storage), N) {}
    ~array_fixed_t() override { this->destroy_elements(); }

    [[nodiscard]] bool reserve(uint32_t n) override { return n <= N; }

private:
    alignas(T) unsigned char m_storage[N * sizeof(T)];
};
