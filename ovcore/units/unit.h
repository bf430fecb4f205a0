// The base of every unit type, and the owner and link pointers that refer to units.
//
// A unit is reference counted in its state word. Owner pointers hold a reference; link
// pointers do not. When the last reference goes the unit's release hook runs, and the unit
// waits on the link tracker's pending-release list until the list is flushed (see
// unit_system.h). Units are used by one thread at a time; only their names are shared.
#pragma once

#include "ovcore/collections/traits/trait_copy.h"
#include "ovcore/units/unit_structs.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

template <typename U> class owner_ptr_t;

// Index values handed to handle_unknown_attribute.
constexpr size_t unit_index_absent = ~size_t(0) - 1;  // no index was written
constexpr size_t unit_index_append = ~size_t(0);      // "[]": append one element

// State word: reference count (bits 0-24), unit system index (25-26), name proxy (27),
// loading flags (29-31).
constexpr uint32_t unit_state_reference_mask = 0x01FFFFFFu;
constexpr uint32_t unit_state_system_shift = 25;
constexpr uint32_t unit_state_system_mask = 0x06000000u;
constexpr uint32_t unit_state_proxy = 0x08000000u;
constexpr uint32_t unit_state_loading = 0x80000000u;       // created by a load still running
constexpr uint32_t unit_state_load_owned = 0x40000000u;    // claimed by an owner of the load
constexpr uint32_t unit_state_load_targeted = 0x20000000u; // named by a proxy of the load
constexpr uint32_t unit_state_loading_flags = 0xE0000000u;

class unit_t
{
public:
    static const unit_descriptor_t descriptor;

    // The unit belongs to `system` (its index goes into the state word); no reference yet.
    explicit unit_t(unit_system_t* system);
    unit_t(const unit_t&) = delete;
    unit_t& operator=(const unit_t&) = delete;

    // Virtual operations in slot order. Destroying frees the name when it is still held.
    virtual ~unit_t();
    // Runs when the last reference is about to go: destroys every attribute value of the
    // type chain, releases the name and clears the loading flags. Overrides call this.
    virtual void on_release();
    // A copy in the same unit system with every attribute copied (owned units are cloned in
    // turn); null after a message when copying fails.
    [[nodiscard]] virtual owner_ptr_t<unit_t> clone() const;
    virtual const unit_descriptor_t* get_descriptor() const;
    // Whether an attribute name the type does not declare is tolerated when loading.
    virtual bool accepts_unknown_attributes() const;
    // Receives an undeclared attribute: `index` is unit_index_absent, unit_index_append or the
    // element number; `value` may be null. The base warns and succeeds.
    [[nodiscard]] virtual bool handle_unknown_attribute(const char* name, size_t index,
                                                        const char* value);
    // Three operations the unit system does not call: before and after the unit is written to
    // a file, and the unit's memory footprint in bytes.
    [[nodiscard]] virtual bool pre_save_hook();
    virtual void post_save_hook();
    virtual size_t memory_size() const;
    // Called once after the whole file that created the unit was loaded.
    [[nodiscard]] virtual bool post_load_hook();

    uint32_t reference_count() const { return m_state & unit_state_reference_mask; }
    // Fatal when the 25-bit count would overflow.
    void add_reference();
    // Drops one reference; the last runs on_release and hands the unit to the link tracker.
    // Releasing an unreferenced unit is fatal.
    void release();

    uint32_t system_index() const
    {
        return (m_state & unit_state_system_mask) >> unit_state_system_shift;
    }
    unit_system_t* system() const;
    bool is_proxy() const { return (m_state & unit_state_proxy) != 0; }

    uint32_t state_flags() const { return m_state & unit_state_loading_flags; }
    void set_state_flags(uint32_t flags) { m_state |= flags & unit_state_loading_flags; }
    void clear_state_flags(uint32_t flags) { m_state &= ~(flags & unit_state_loading_flags); }

    unit_name_id_t name_id() const { return m_name_id; }
    // Used by the name table; anyone else names a unit through unit_name_create_name.
    void set_name_id(unit_name_id_t id) { m_name_id = id; }

protected:
    // For the name proxy of a load.
    void mark_as_proxy() { m_state |= unit_state_proxy; }

private:
    static void finish_release(unit_t* unit);

    uint32_t m_state;
    unit_name_id_t m_name_id = 0;
};

// The destroy function of every descriptor: deletes the unit; nothing for null.
void unit_destroy(unit_t* unit);

// Owns a unit: holds one reference, released when reset or destroyed. Moves, never copies.
template <typename U = unit_t> class owner_ptr_t
{
public:
    owner_ptr_t() = default;
    // Takes a new reference to `unit`.
    explicit owner_ptr_t(U* unit) : m_unit(unit)
    {
        if (m_unit != nullptr)
            m_unit->add_reference();
    }
    owner_ptr_t(owner_ptr_t&& other) noexcept : m_unit(other.m_unit) { other.m_unit = nullptr; }
    template <typename V, typename = std::enable_if_t<std::is_convertible_v<V*, U*>>>
    owner_ptr_t(owner_ptr_t<V>&& other) noexcept : m_unit(other.detach())
    {
    }
    owner_ptr_t& operator=(owner_ptr_t&& other) noexcept
    {
        if (this != &other)
        {
            U* unit = other.m_unit;
            other.m_unit = nullptr;
            replace(unit);
        }
        return *this;
    }
    owner_ptr_t(const owner_ptr_t&) = delete;
    owner_ptr_t& operator=(const owner_ptr_t&) = delete;
    ~owner_ptr_t() { reset(); }

    U* get() const { return m_unit; }
    U* operator->() const { return m_unit; }
    U& operator*() const { return *m_unit; }
    explicit operator bool() const { return m_unit != nullptr; }

    // Releases the held unit and holds a new reference to `unit` instead.
    void reset(U* unit = nullptr)
    {
        if (unit != nullptr)
            unit->add_reference();
        replace(unit);
    }
    // Gives up the pointer without releasing: the caller now holds the reference.
    [[nodiscard]] U* detach()
    {
        U* unit = m_unit;
        m_unit = nullptr;
        return unit;
    }
    // Takes over a reference the caller already holds (the counterpart of detach).
    void adopt(U* unit) { replace(unit); }

private:
    void replace(U* unit)
    {
        U* old = m_unit;
        m_unit = unit;
        if (old != nullptr)
            old->release();
    }

    U* m_unit = nullptr;
};

template <typename U> struct copy_trait_t<owner_ptr_t<U>>
{
    static constexpr bool can_copy = false;
};

// The unit as T when it is of type T or derived from it, else null (also for null).
template <typename T> T* unit_cast(unit_t* unit)
{
    return unit != nullptr && unit_descriptor_is_a(unit->get_descriptor(), &T::descriptor)
               ? static_cast<T*>(unit)
               : nullptr;
}
template <typename T> const T* unit_cast(const unit_t* unit)
{
    return unit_cast<T>(const_cast<unit_t*>(unit));
}

// Moves the reference into an owner pointer of a derived (or base) type when the unit is of
// that type; otherwise the result is null and `source` keeps its unit.
template <typename T, typename U>
[[nodiscard]] owner_ptr_t<T> owner_ptr_cast(owner_ptr_t<U>&& source)
{
    owner_ptr_t<T> result;
    if (source && unit_descriptor_is_a(source->get_descriptor(), &T::descriptor))
        result.adopt(static_cast<T*>(source.detach()));
    return result;
}

// Refers to a unit without owning it; the holder makes sure the unit outlives the link.
template <typename U = unit_t> class link_ptr_t
{
public:
    link_ptr_t() = default;
    explicit link_ptr_t(U* unit) : m_unit(unit) {}
    template <typename V, typename = std::enable_if_t<std::is_convertible_v<V*, U*>>>
    link_ptr_t(const link_ptr_t<V>& other) : m_unit(other.get())
    {
    }

    U* get() const { return m_unit; }
    U* operator->() const { return m_unit; }
    U& operator*() const { return *m_unit; }
    explicit operator bool() const { return m_unit != nullptr; }
    void reset(U* unit = nullptr) { m_unit = unit; }

    bool operator==(const link_ptr_t&) const = default;

private:
    U* m_unit = nullptr;
};
