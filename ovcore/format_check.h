// Compile-time checking of printf-style formats against their arguments.
//
// Formats use the engine's size prefixes: "%Iu" takes a size_t, "%I64u"/"%I64d" a 64-bit
// integer. A checked format is built by a consteval constructor that walks the conversions;
// a mismatch reaches format_does_not_match_arguments(), which is not constexpr, so the
// call site fails to compile. At run time rewrite_format() turns the prefixes into the C
// library's ("I64" -> "ll", "I" -> "z").
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Not constexpr on purpose: reaching it during constant evaluation fails the build.
void format_does_not_match_arguments();

struct format_arg_t
{
    char kind;         // 'i' integer, 'f' floating, 's' char pointer, 'p' other pointer, '?' unusable
    std::size_t size;  // after default argument promotion
};

template <typename T> consteval format_arg_t format_arg_of()
{
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, char*> || std::is_same_v<U, const char*> ||
                  std::is_same_v<U, unsigned char*> || std::is_same_v<U, const unsigned char*>)
        return { 's', 0 };
    else if constexpr (std::is_pointer_v<U> || std::is_same_v<U, std::nullptr_t>)
        return { 'p', sizeof(void*) };
    else if constexpr (std::is_same_v<U, bool>)
        return { 'i', sizeof(int) };
    else if constexpr (std::is_integral_v<U>)
        return { 'i', sizeof(U) < sizeof(int) ? sizeof(int) : sizeof(U) };
    else if constexpr (std::is_enum_v<U>)
    {
        // Only unscoped enums promote to their underlying type.
        if constexpr (std::is_convertible_v<U, std::underlying_type_t<U>>)
            return format_arg_of<std::underlying_type_t<U>>();
        else
            return { '?', 0 };
    }
    else if constexpr (std::is_floating_point_v<U>)
        return { sizeof(U) <= sizeof(double) ? 'f' : '?', sizeof(double) };
    else
        return { '?', 0 };
}

template <typename... Args> struct checked_format_t
{
    const char* text;

    consteval checked_format_t(const char* format) : text(format)
    {
        constexpr format_arg_t args[] = { format_arg_of<Args>()..., { 0, 0 } };
        std::size_t used = 0;
        for (const char* p = format; *p != 0; ++p)
        {
            if (*p != '%')
                continue;
            if (*++p == '%')
                continue;
            while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0')
                ++p;
            while ((*p >= '0' && *p <= '9') || *p == '.')
                ++p;
            format_arg_t want = { 'i', sizeof(int) };  // d i u x X c
            if (p[0] == 'I' && p[1] == '6' && p[2] == '4')
            {
                p += 3;
                want.size = 8;
            }
            else if (*p == 'I')
            {
                ++p;
                want.size = sizeof(std::size_t);
            }
            else if (p[0] == 'l' && p[1] == 'l')
            {
                p += 2;
                want.size = sizeof(long long);
            }
            if (*p == 's')
                want = { 's', 0 };
            else if (*p == 'p')
                want = { 'p', sizeof(void*) };
            else if (*p == 'f' || *p == 'g' || *p == 'e' || *p == 'F' || *p == 'G' || *p == 'E')
                want = { 'f', sizeof(double) };
            else if (*p != 'd' && *p != 'i' && *p != 'u' && *p != 'x' && *p != 'X' && *p != 'c' &&
                     *p != 'o')
                format_does_not_match_arguments();  // unknown or missing conversion
            if (used == sizeof...(Args))
                format_does_not_match_arguments();  // too few arguments
            const format_arg_t have = args[used];
            const bool pointer_as_string = want.kind == 'p' && have.kind == 's';
            if (!pointer_as_string && (have.kind != want.kind || have.size != want.size))
                format_does_not_match_arguments();
            ++used;
        }
        if (used != sizeof...(Args))
            format_does_not_match_arguments();  // too many arguments
    }
};

// The format with the engine's size prefixes replaced by the C library's ("I64" -> "ll",
// "I" -> "z"). Formats without a prefix are used as they are.
class native_format_t
{
public:
    explicit native_format_t(const char* format);
    ~native_format_t();
    native_format_t(const native_format_t&) = delete;
    native_format_t& operator=(const native_format_t&) = delete;

    const char* c_str() const { return m_text; }

private:
    const char* m_text;
    char* m_heap = nullptr;
    char m_local[192];
};
