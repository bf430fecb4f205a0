// Whether an element type may be copied by the containers; copying one that may not is fatal.
#pragma once

#include <type_traits>

// Specialise with `can_copy = false` for types that are copy-constructible but must never be
// duplicated by a container.
template <typename T> struct copy_trait_t
{
    static constexpr bool can_copy = std::is_copy_constructible_v<T>;
};

[[noreturn]] void fatal_uncopyable_object(const char* function);

// Copy-constructs `value` into raw storage, or stops the process when T may not be copied.
template <typename T> void copy_construct_or_abort(T* destination, const T& value)
{
    if constexpr (copy_trait_t<T>::can_copy)
        new (destination) T(value);
    else
        fatal_uncopyable_object(__PRETTY_FUNCTION__);
}

// Copy-assigns, or stops the process when T may not be copied.
template <typename T> void copy_assign_or_abort(T* destination, const T& value)
{
    if constexpr (copy_trait_t<T>::can_copy)
    {
        if constexpr (std::is_copy_assignable_v<T>)
            *destination = value;
        else
        {
            destination->~T();
            new (destination) T(value);
        }
    }
    else
        fatal_uncopyable_object(__PRETTY_FUNCTION__);
}
