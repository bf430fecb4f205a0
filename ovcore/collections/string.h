// The core's 8-bit strings: dynamic, fixed-capacity and alias, with checked printf formatting.
//
// Every string keeps its zero terminator. A string without storage points at one shared constant
// empty string and costs no allocation. Operations that can run out of room store what fits and
// return false. Not thread-safe.
#pragma once

#include "ovcore/format_check.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <type_traits>

// The shared empty text of strings without storage; never written.
extern const char g_empty_string[1];

class string_t
{
public:
    static constexpr uint32_t npos = 0xFFFFFFFFu;

    string_t(const string_t&) = delete;
    string_t& operator=(const string_t&) = delete;
    virtual ~string_t() = default;

    virtual bool can_grow() const = 0;
    // Makes room for `bytes` bytes including the terminator; returns the capacity afterwards,
    // which may be smaller than asked.
    virtual uint32_t reserve(uint32_t bytes) = 0;
    // Frees the storage; the string is empty and points at the shared empty text again.
    virtual void release() = 0;

    const char* c_str() const { return m_chars; }
    uint32_t length() const { return m_length; }
    uint32_t capacity() const { return m_capacity; }
    bool empty() const { return m_length == 0; }
    char operator[](uint32_t index) const { return m_chars[index]; }

    void clear();
    // Copies `count` bytes of `other` from `start` (npos: to its end).
    [[nodiscard]] bool assign(const string_t& other, uint32_t start = 0, uint32_t count = npos);
    [[nodiscard]] bool assign(const char* text);
    [[nodiscard]] bool assign(const char* text, uint32_t count);
    [[nodiscard]] bool append(const string_t& other);
    [[nodiscard]] bool append(const char* text);
    [[nodiscard]] bool append(const char* text, uint32_t count);
    [[nodiscard]] bool append_char(char c);
    // Appends the code point as UTF-8; 0 appends nothing.
    [[nodiscard]] bool append_code_point(uint32_t code_point);
    // Shortens to `length` bytes (no effect when already shorter).
    void truncate(uint32_t length);

    template <typename... Args>
    [[nodiscard]] bool format(checked_format_t<std::type_identity_t<Args>...> format, Args... args)
    {
        return format_at(0, format.text, args...);
    }
    template <typename... Args>
    [[nodiscard]] bool append_formatted(checked_format_t<std::type_identity_t<Args>...> format,
                                        Args... args)
    {
        return format_at(m_length, format.text, args...);
    }
    // Unchecked entries for forwarded argument lists.
    [[nodiscard]] bool format_va(const char* format, va_list args);
    [[nodiscard]] bool append_formatted_va(const char* format, va_list args);

    bool equals(const char* text) const { return std::strcmp(m_chars, text) == 0; }
    bool operator==(const string_t& other) const
    {
        return m_length == other.m_length && std::memcmp(m_chars, other.m_chars, m_length) == 0;
    }
    bool operator==(const char* text) const { return equals(text); }

protected:
    string_t() = default;
    string_t(char* chars, uint32_t capacity) : m_chars(chars), m_capacity(capacity) {}

    bool format_at(uint32_t offset, const char* format, ...);
    bool format_at_va(uint32_t offset, const char* format, va_list args);
    // Whether `text` points into this string's own storage.
    bool holds(const char* text) const
    {
        const auto at = reinterpret_cast<std::uintptr_t>(text);
        const auto first = reinterpret_cast<std::uintptr_t>(m_chars);
        return m_capacity != 0 && at >= first && at < first + m_capacity;
    }

    char* m_chars = const_cast<char*>(g_empty_string);
    uint32_t m_length = 0;
    uint32_t m_capacity = 0;
};

class string_dyn_t final : public string_t
{
public:
    string_dyn_t() = default;
    // A constructor or an assignment operator cannot return a result: a text that finds no
    // memory is kept as far as it fit, and copy_failed() says so.
    explicit string_dyn_t(const char* text) { m_copy_failed = !assign(text); }
    string_dyn_t(const string_dyn_t& other) : string_t() { m_copy_failed = !assign(other); }
    string_dyn_t(string_dyn_t&& other) noexcept { take(other); }
    string_dyn_t& operator=(const string_dyn_t& other)
    {
        if (this != &other)
            m_copy_failed = !assign(other);
        return *this;
    }
    string_dyn_t& operator=(string_dyn_t&& other) noexcept
    {
        if (this != &other)
        {
            release();
            take(other);
        }
        return *this;
    }
    ~string_dyn_t() override { release(); }

    bool can_grow() const override { return true; }
    // Grows to the larger of `bytes` rounded up to 16 and twice the capacity.
    uint32_t reserve(uint32_t bytes) override;
    void release() override;

    // Takes over the buffer of `other`, leaving it empty.
    void move_from(string_dyn_t& other)
    {
        if (this != &other)
        {
            release();
            take(other);
        }
    }

    // Whether the text given to the constructor or to copy assignment did not fit; the string
    // then holds its start. Moves carry it over and release() clears it; every other operation
    // reports through its own result and leaves it as it is.
    [[nodiscard]] bool copy_failed() const { return m_copy_failed; }

private:
    void take(string_dyn_t& other)
    {
        m_chars = other.m_chars;
        m_length = other.m_length;
        m_capacity = other.m_capacity;
        m_copy_failed = other.m_copy_failed;
        other.m_chars = const_cast<char*>(g_empty_string);
        other.m_length = 0;
        other.m_capacity = 0;
        other.m_copy_failed = false;
    }

    bool m_copy_failed = false;
};

template <uint32_t N> class string_fixed_t final : public string_t
{
    static_assert(N > 0);

public:
    string_fixed_t() : string_t(m_buffer, N) { m_buffer[0] = 0; }
    // Keeps what fits of a longer text; code that must know assigns instead.
    explicit string_fixed_t(const char* text) : string_fixed_t() { (void)assign(text); }
    // The same capacity always holds the copy.
    string_fixed_t(const string_fixed_t& other) : string_fixed_t() { (void)assign(other); }
    string_fixed_t& operator=(const string_fixed_t& other)
    {
        if (this != &other)
            (void)assign(other);
        return *this;
    }

    bool can_grow() const override { return false; }
    uint32_t reserve(uint32_t) override { return N; }
    void release() override { clear(); }

private:
    char m_buffer[N];
};

// A key that refers to zero-terminated text kept by its owner.
struct string_alias_t
{
    const char* text;

    bool operator==(const string_alias_t& other) const
    {
        return std::strcmp(text, other.text) == 0;
    }
};

// Splits text at any of a set of delimiter characters.
class string_tokenizer_t
{
public:
    // With `skip_empty` runs of delimiters count as one and leading delimiters are skipped.
    string_tokenizer_t(const char* text, const char* delimiters, bool skip_empty);

    // The text up to the next delimiter; false when the text is exhausted, and when the token
    // does not fit `token` (the position then stays before it, so is_exhausted() tells which).
    [[nodiscard]] bool next(string_t* token);
    // Everything from the position to the end; false when exhausted or when it does not fit.
    [[nodiscard]] bool rest(string_t* out) const;
    bool is_exhausted() const { return m_position == string_t::npos; }

private:
    bool is_delimiter(char c) const;
    void skip_delimiters();

    const char* m_text;
    const char* m_delimiters;
    bool m_skip_empty;
    uint32_t m_position;
};

// Index of the last character of `text` that is in `set`, or npos.
uint32_t find_last_of(const char* text, const char* set);

// h = h * 31 + byte (unsigned), modulo 2^32: the class-name hash of unit types.
constexpr uint32_t compute_type_name_hash(const char* name)
{
    uint32_t h = 0;
    for (; *name != 0; ++name)
        h = h * 31u + uint32_t(static_cast<unsigned char>(*name));
    return h;
}

// h = 2 * h + byte (signed), modulo 2^32: the hash of string keys in hashed maps.
constexpr uint32_t compute_key_hash(const char* key)
{
    uint32_t h = 0;
    for (; *key != 0; ++key)
        h = 2u * h + uint32_t(int32_t(static_cast<signed char>(*key)));
    return h;
}
