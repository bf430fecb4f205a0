// Sole owner of a heap object: deletes it when reset or destroyed; moves, never copies.
#pragma once

#include "ovcore/collections/traits/trait_copy.h"

#include <cstddef>
#include <utility>

template <typename T> class auto_ptr_t
{
public:
    auto_ptr_t() = default;
    auto_ptr_t(std::nullptr_t) {}
    explicit auto_ptr_t(T* object) : m_object(object) {}
    auto_ptr_t(auto_ptr_t&& other) noexcept : m_object(other.release()) {}
    template <typename U>
    auto_ptr_t(auto_ptr_t<U>&& other) noexcept : m_object(other.release()) {}
    auto_ptr_t& operator=(auto_ptr_t&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    auto_ptr_t(const auto_ptr_t&) = delete;
    auto_ptr_t& operator=(const auto_ptr_t&) = delete;
    ~auto_ptr_t() { delete m_object; }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    bool operator==(std::nullptr_t) const { return m_object == nullptr; }

    void reset(T* object = nullptr)
    {
        T* old = m_object;
        m_object = object;
        delete old;
    }
    // Gives up ownership without deleting.
    [[nodiscard]] T* release()
    {
        T* object = m_object;
        m_object = nullptr;
        return object;
    }

private:
    T* m_object = nullptr;
};

template <typename T> struct copy_trait_t<auto_ptr_t<T>>
{
    static constexpr bool can_copy = false;
};
