// The core's 8-bit strings, the format prefix rewrite, the tokenizer.
#include "ovcore/collections/string.h"

#include "ovcore/collections/text_encoding.h"

#include <cstdio>
#include <cstdlib>

const char g_empty_string[1] = { 0 };

native_format_t::native_format_t(const char* format) : m_text(format)
{
    if (std::strchr(format, 'I') == nullptr)
        return;
    // Each prefix only shrinks ("I64" -> "ll") or keeps its length ("I" -> "z").
    const std::size_t size = std::strlen(format) + 1;
    char* out = size <= sizeof(m_local) ? m_local : (m_heap = static_cast<char*>(std::malloc(size)));
    if (out == nullptr)
        return;
    char* q = out;
    for (const char* p = format; *p != 0;)
    {
        if (*p != '%')
        {
            *q++ = *p++;
            continue;
        }
        *q++ = *p++;
        if (*p == '%')
        {
            *q++ = *p++;
            continue;
        }
        while (*p != 0 && std::strchr("-+ #0123456789.", *p) != nullptr)
            *q++ = *p++;
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4')
        {
            *q++ = 'l';
            *q++ = 'l';
            p += 3;
        }
        else if (*p == 'I')
        {
            *q++ = 'z';
            ++p;
        }
    }
    *q = 0;
    m_text = out;
}

native_format_t::~native_format_t() { std::free(m_heap); }

void string_t::clear()
{
    if (m_capacity != 0)
        m_chars[0] = 0;
    m_length = 0;
}

void string_t::truncate(uint32_t length)
{
    if (length < m_length)
    {
        m_length = length;
        m_chars[length] = 0;
    }
}

bool string_t::assign(const string_t& other, uint32_t start, uint32_t count)
{
    if (start > other.m_length)
        start = other.m_length;
    if (count > other.m_length - start)
        count = other.m_length - start;
    if (&other == this)
    {
        std::memmove(m_chars, m_chars + start, count);
        truncate(count);
        return true;
    }
    clear();
    return append(other.m_chars + start, count);
}

bool string_t::assign(const char* text)
{
    return assign(text, uint32_t(std::strlen(text)));
}

bool string_t::assign(const char* text, uint32_t count)
{
    if (holds(text))
    {
        // Part of this string's own text: it moves to the front.
        const uint32_t start = uint32_t(text - m_chars);
        if (count > m_length - start)
            count = m_length - start;
        std::memmove(m_chars, text, count);
        truncate(count);
        return true;
    }
    clear();
    return append(text, count);
}

bool string_t::append(const string_t& other)
{
    return append(other.m_chars, other.m_length);
}

bool string_t::append(const char* text)
{
    return append(text, uint32_t(std::strlen(text)));
}

bool string_t::append(const char* text, uint32_t count)
{
    if (count == 0)
        return true;
    const uint64_t needed = uint64_t(m_length) + count + 1;
    // Text from this string's own buffer is found again after the buffer moved.
    const bool own = holds(text);
    const size_t own_offset = own ? size_t(text - m_chars) : 0;
    uint32_t capacity = needed > UINT32_MAX ? m_capacity : reserve(uint32_t(needed));
    if (own)
        text = m_chars + own_offset;
    bool fits = true;
    if (capacity < needed)
    {
        fits = false;
        if (capacity <= m_length + 1u)
            return false;
        count = capacity - m_length - 1;
    }
    std::memmove(m_chars + m_length, text, count);
    m_length += count;
    m_chars[m_length] = 0;
    return fits;
}

bool string_t::append_char(char c)
{
    return append(&c, 1);
}

bool string_t::append_code_point(uint32_t code_point)
{
    if (code_point == 0)
        return true;
    char bytes[4];
    const uint32_t count = encode_utf8(code_point, bytes);
    if (count == 0 || reserve(length() + count + 1) < length() + count + 1)
        return false;
    return append(bytes, count);
}

bool string_t::format_va(const char* format, va_list args)
{
    return format_at_va(0, format, args);
}

bool string_t::append_formatted_va(const char* format, va_list args)
{
    return format_at_va(m_length, format, args);
}

bool string_t::format_at(uint32_t offset, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool result = format_at_va(offset, format, args);
    va_end(args);
    return result;
}

bool string_t::format_at_va(uint32_t offset, const char* format, va_list args)
{
    const native_format_t native(format);
    // An argument may point into this string, so the text is made aside and copied in: the
    // buffer may move while growing, and the C library must not read what it writes. A short
    // text is made in one pass; a long one is measured by that pass and made again.
    char small[512];
    va_list first;
    va_copy(first, args);
    const int needed = std::vsnprintf(small, sizeof small, native.c_str(), first);
    va_end(first);
    if (needed < 0)
    {
        if (m_capacity != 0)
        {
            m_length = offset;
            m_chars[offset] = 0;
        }
        return false;
    }
    // Without memory for a long text its start is kept: a truncated text says more than none.
    char* text = small;
    uint32_t made = uint32_t(needed);
    if (made >= sizeof small)
    {
        text = static_cast<char*>(std::malloc(size_t(made) + 1));
        if (text != nullptr)
            std::vsnprintf(text, size_t(made) + 1, native.c_str(), args);
        else
        {
            text = small;
            made = sizeof small - 1;
        }
    }
    if (can_grow() && uint64_t(offset) + uint64_t(made) + 1 <= UINT32_MAX)
        reserve(offset + made + 1);
    bool complete = false;
    if (m_capacity != 0)  // the shared empty text is never written
    {
        const uint32_t room = m_capacity - offset - 1;
        const uint32_t copied = made < room ? made : room;
        std::memcpy(m_chars + offset, text, copied);
        m_length = offset + copied;
        m_chars[m_length] = 0;
        complete = copied == uint32_t(needed);
    }
    if (text != small)
        std::free(text);
    return complete;
}

uint32_t string_dyn_t::reserve(uint32_t bytes)
{
    if (bytes <= m_capacity)
        return m_capacity;
    uint64_t capacity = (uint64_t(bytes) + 15u) & ~uint64_t(15u);
    if (capacity < uint64_t(m_capacity) * 2u)
        capacity = uint64_t(m_capacity) * 2u;
    if (capacity > UINT32_MAX)
        capacity = bytes;
    char* storage = static_cast<char*>(std::malloc(capacity));
    if (storage == nullptr)
        return m_capacity;
    std::memcpy(storage, m_chars, m_length + 1);
    if (m_capacity != 0)
        std::free(m_chars);
    m_chars = storage;
    m_capacity = uint32_t(capacity);
    return m_capacity;
}

void string_dyn_t::release()
{
    if (m_capacity != 0)
        std::free(m_chars);
    m_chars = const_cast<char*>(g_empty_string);
    m_length = 0;
    m_capacity = 0;
    m_copy_failed = false;
}

string_tokenizer_t::string_tokenizer_t(const char* text, const char* delimiters, bool skip_empty)
    : m_text(text), m_delimiters(delimiters), m_skip_empty(skip_empty), m_position(0)
{
    if (m_skip_empty)
        skip_delimiters();
}

bool string_tokenizer_t::is_delimiter(char c) const
{
    return c != 0 && std::strchr(m_delimiters, c) != nullptr;
}

void string_tokenizer_t::skip_delimiters()
{
    while (is_delimiter(m_text[m_position]))
        ++m_position;
    if (m_text[m_position] == 0)
        m_position = string_t::npos;
}

bool string_tokenizer_t::next(string_t* token)
{
    token->clear();
    if (m_position == string_t::npos)
        return false;
    uint32_t end = m_position;
    while (m_text[end] != 0 && !is_delimiter(m_text[end]))
        ++end;
    if (!token->append(m_text + m_position, end - m_position))
        return false;
    if (m_text[end] == 0)
        m_position = string_t::npos;
    else
    {
        m_position = end + 1;
        if (m_skip_empty)
            skip_delimiters();
    }
    return true;
}

bool string_tokenizer_t::rest(string_t* out) const
{
    out->clear();
    if (m_position == string_t::npos)
        return false;
    return out->append(m_text + m_position);
}

uint32_t find_last_of(const char* text, const char* set)
{
    uint32_t found = string_t::npos;
    for (uint32_t i = 0; text[i] != 0; ++i)
        if (std::strchr(set, text[i]) != nullptr)
            found = i;
    return found;
}
