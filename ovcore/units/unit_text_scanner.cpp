// The scanner of the unit text format, hand-written: one function per context.
//
// Sections: character classes and conversions; frames and skipping; structure; values; reports.
#include "ovcore/units/unit_text_scanner.h"

#include "ovcore/collections/text_encoding.h"
#include "ovcore/message.h"
#include "ovcore/out_of_memory.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace
{

// ---- character classes and conversions ---------------------------------------------------

bool is_letter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool is_hex_digit(unsigned char c)
{
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_identifier_char(unsigned char c)
{
    return is_letter(c) || is_digit(c) || c == '_';
}

// Letters, digits, underscores and dots: bare words and unit names.
bool is_name_char(unsigned char c)
{
    return is_identifier_char(c) || c == '.';
}

// Characters that can belong to one value lexeme; a lexeme ends at the first other one, so
// "1.5x" is read whole (and rejected) rather than as "1.5" followed by "x".
bool is_word_char(unsigned char c)
{
    return is_name_char(c) || c == '+' || c == '-' || c == '&';
}

bool is_blank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

bool all_of(const char* begin, const char* end, bool (*predicate)(unsigned char))
{
    for (const char* p = begin; p != end; ++p)
        if (!predicate(static_cast<unsigned char>(*p)))
            return false;
    return true;
}

// The first character from `begin` on that fails `predicate` (or `end`).
const char* skip_while(const char* begin, const char* end, bool (*predicate)(unsigned char))
{
    while (begin != end && predicate(static_cast<unsigned char>(*begin)))
        ++begin;
    return begin;
}

bool equals_ignoring_case(const char* begin, const char* end, const char* lower)
{
    for (const char* p = begin; p != end; ++p, ++lower)
    {
        char c = *p;
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (*lower == 0 || c != *lower)
            return false;
    }
    return *lower == 0;
}

uint32_t hex_value(unsigned char c)
{
    if (is_digit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// Digits in `base` (8, 10 or 16) into a 64-bit magnitude; false on overflow or a bad digit.
bool parse_magnitude(const char* begin, const char* end, uint32_t base, uint64_t* magnitude)
{
    if (begin == end)
        return false;
    uint64_t value = 0;
    for (const char* p = begin; p != end; ++p)
    {
        const unsigned char c = static_cast<unsigned char>(*p);
        const uint32_t digit = base == 16 ? (is_hex_digit(c) ? hex_value(c) : 99)
                                          : (is_digit(c) ? uint32_t(c - '0') : 99);
        if (digit >= base)
            return false;
        if (value > (UINT64_MAX - digit) / base)
            return false;
        value = value * base + digit;
    }
    *magnitude = value;
    return true;
}

enum class number_t
{
    ok,
    bad_shape,        // not a lexeme of this kind
    bad_conversion,   // the right shape, but the value cannot be represented
};

// Signed magnitude to a 64-bit value.
number_t apply_sign(bool negative, uint64_t magnitude, int64_t* value)
{
    if (negative)
    {
        if (magnitude > uint64_t(INT64_MAX) + 1)
            return number_t::bad_conversion;
        *value = magnitude == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -int64_t(magnitude);
        return number_t::ok;
    }
    if (magnitude > uint64_t(INT64_MAX))
        return number_t::bad_conversion;
    *value = int64_t(magnitude);
    return number_t::ok;
}

// Steps over an optional '+' or '-'; true for '-'.
bool take_sign(const char** begin, const char* end)
{
    if (*begin == end || (**begin != '+' && **begin != '-'))
        return false;
    return *(*begin)++ == '-';
}

bool is_hex_prefix(const char* begin, const char* end)
{
    return end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X');
}

// Optional sign, then decimal digits or 0x and hexadecimal digits.
number_t convert_signed(const char* begin, const char* end, int64_t* value)
{
    const bool negative = take_sign(&begin, end);
    const bool hex = is_hex_prefix(begin, end);
    const char* digits = hex ? begin + 2 : begin;
    if (digits == end || !all_of(digits, end, hex ? is_hex_digit : is_digit))
        return number_t::bad_shape;
    uint64_t magnitude = 0;
    if (!parse_magnitude(digits, end, hex ? 16 : 10, &magnitude))
        return number_t::bad_conversion;
    return apply_sign(negative, magnitude, value);
}

// Optional '+' and decimal digits, or 0x and hexadecimal digits.
number_t convert_unsigned(const char* begin, const char* end, uint64_t* value)
{
    const bool hex = is_hex_prefix(begin, end);
    const char* digits = hex ? begin + 2 : begin;
    if (!hex && digits != end && *digits == '+')
        ++digits;
    if (digits == end || !all_of(digits, end, hex ? is_hex_digit : is_digit))
        return number_t::bad_shape;
    return parse_magnitude(digits, end, hex ? 16 : 10, value) ? number_t::ok
                                                              : number_t::bad_conversion;
}

// Optional sign and decimal digits within 32 bits. With `octal_zero` a leading zero makes the
// digits octal, as strtol's automatic base does.
number_t convert_int32_digits(const char* begin, const char* end, bool octal_zero, int32_t* value)
{
    const bool negative = take_sign(&begin, end);
    if (begin == end || !all_of(begin, end, is_digit))
        return number_t::bad_shape;
    const uint32_t base = (octal_zero && end - begin > 1 && *begin == '0') ? 8 : 10;
    uint64_t magnitude = 0;
    int64_t wide = 0;
    if (!parse_magnitude(begin, end, base, &magnitude) ||
        apply_sign(negative, magnitude, &wide) != number_t::ok || wide < INT32_MIN ||
        wide > INT32_MAX)
        return number_t::bad_conversion;
    *value = int32_t(wide);
    return number_t::ok;
}

// A fixed-point value, read with automatic base. Digits that do not fit the base, or a value
// outside 32 bits, are refused instead of being cut short.
number_t convert_fixed(const char* begin, const char* end, int32_t* value)
{
    return convert_int32_digits(begin, end, true, value);
}

number_t convert_int32(const char* begin, const char* end, int32_t* value)
{
    return convert_int32_digits(begin, end, false, value);
}

// A real number: [+-] digits [. digits] [e [+-] digits] [f], with `f` only after a fraction
// point or an exponent; or '&' and exactly eight hexadecimal digits of the IEEE-754 pattern.
number_t convert_real(const char* begin, const char* end, float* value)
{
    if (begin != end && *begin == '&')
    {
        if (end - begin != 9 || !all_of(begin + 1, end, is_hex_digit))
            return number_t::bad_shape;
        uint32_t bits = 0;
        for (const char* p = begin + 1; p != end; ++p)
            bits = bits * 16 + hex_value(static_cast<unsigned char>(*p));
        std::memcpy(value, &bits, sizeof(bits));
        return number_t::ok;
    }
    const char* p = begin;
    take_sign(&p, end);
    uint32_t digits = 0;
    for (; p != end && is_digit(static_cast<unsigned char>(*p)); ++p)
        ++digits;
    bool decorated = false;  // a fraction point or an exponent allows the `f` suffix
    if (p != end && *p == '.')
    {
        decorated = true;
        for (++p; p != end && is_digit(static_cast<unsigned char>(*p)); ++p)
            ++digits;
    }
    if (digits == 0)
        return number_t::bad_shape;
    if (p != end && (*p == 'e' || *p == 'E'))
    {
        decorated = true;
        ++p;
        take_sign(&p, end);
        if (p == end || !is_digit(static_cast<unsigned char>(*p)))
            return number_t::bad_shape;
        p = skip_while(p, end, is_digit);
    }
    const char* number_end = p;
    if (p != end && decorated && (*p == 'f' || *p == 'F'))
        ++p;
    if (p != end)
        return number_t::bad_shape;
    // The conversion takes only a lower-case suffix.
    if (number_end != end && *number_end == 'F')
        return number_t::bad_conversion;

    char local[64];
    string_dyn_t heap;
    const uint32_t length = uint32_t(number_end - begin);
    const char* text = local;
    if (length < sizeof(local))
    {
        std::memcpy(local, begin, length);
        local[length] = 0;
    }
    else
    {
        if (!heap.assign(begin, length))
            return number_t::bad_conversion;
        text = heap.c_str();
    }
    errno = 0;
    char* converted_end = nullptr;
    const float result = std::strtof(text, &converted_end);
    if (converted_end != text + length || std::isinf(result))
        return number_t::bad_conversion;
    *value = result;
    return number_t::ok;
}

enum class quoted_t : uint8_t
{
    translated,
    bad_escape,  // other than \" \\ \n \r \xHH, or \x00, which would cut the text short
    no_memory,
};

// Translates the escapes of a quoted string (quotes included in [begin, end)).
quoted_t translate_quoted(const char* begin, const char* end, string_dyn_t* text)
{
    text->clear();
    for (const char* p = begin + 1; p != end - 1; ++p)
    {
        char c = *p;
        if (c == '\\')
        {
            const char e = *++p;
            if (e == '"' || e == '\\')
                c = e;
            else if (e == 'n')
                c = '\n';
            else if (e == 'r')
                c = '\r';
            else if (e == 'x' && end - 1 - p > 2 && is_hex_digit(static_cast<unsigned char>(p[1])) &&
                     is_hex_digit(static_cast<unsigned char>(p[2])))
            {
                c = char(hex_value(static_cast<unsigned char>(p[1])) * 16 +
                         hex_value(static_cast<unsigned char>(p[2])));
                if (c == 0)
                    return quoted_t::bad_escape;
                p += 2;
            }
            else
                return quoted_t::bad_escape;
        }
        if (!text->append_char(c))
            return quoted_t::no_memory;
    }
    return quoted_t::translated;
}

uint32_t count_line_feeds(const char* begin, const char* end)
{
    uint32_t count = 0;
    for (const char* p = begin; p != end; ++p)
        count += *p == '\n';
    return count;
}

// Just past the quote that closes the quoted string opening at `open`, or null when the text
// ends first. A backslash keeps the next character, a quote included, inside the string.
const char* quoted_end(const char* open, const char* end)
{
    const char* p = open + 1;
    while (p < end && *p != '"')
        p += *p == '\\' ? 2 : 1;
    return p < end ? p + 1 : nullptr;
}

// The quote closing an include file name that opens at `open`, or null when the line or the
// text ends first (names have no escapes).
const char* include_name_close(const char* open, const char* end)
{
    const size_t rest = size_t(end - open - 1);
    const char* close = static_cast<const char*>(std::memchr(open + 1, '"', rest));
    const char* line_end = static_cast<const char*>(std::memchr(open + 1, '\n', rest));
    return close != nullptr && (line_end == nullptr || close < line_end) ? close : nullptr;
}

const char* const context_names[] = {
    "",                                    // block comment
    "file magic value",                    // file magic
    "end of file",                         // end of file
    "include file name",                   // include name
    "",                                    // include error rest
    "attribute name or closing bracket",   // attribute name
    "unit type name or closing bracket",   // unit type
    "unit name",                           // unit name
    "string value",                        // string
    "integral value",                      // signed integer
    "unsigned value",                      // unsigned integer
    "Boolean value",                       // Boolean
    "real number",                         // real
    "2D vector",                           // 2D vector
    "3D vector",                           // 3D vector
    "4D vector",                           // 4D vector
    "quaternion",                          // quaternion
    "fixed number",                        // fixed
    "2D vector",                           // fixed 2D vector
    "3D vector",                           // fixed 3D vector
    "4D vector",                           // fixed 4D vector
    "2D integer vector",                   // 2D integer vector
    "'{'",                                 // open bracket
    "'}'",                                 // close bracket
    "':'",                                 // colon
    "index",                               // attribute suffix
    "enum value",                          // enum
    "unknown type value",                  // unknown value
};
static_assert(sizeof(context_names) / sizeof(context_names[0]) ==
              size_t(unit_scan_context_t::unknown_value) + 1);

// The context of a vector of `count` components, given the one of 2 components.
unit_scan_context_t vector_context(unit_scan_context_t two, uint32_t count)
{
    // Each kind's 2D, 3D and 4D contexts follow one another.
    using context_t = unit_scan_context_t;
    static_assert(int(context_t::vector4) - int(context_t::vector2) == 2);
    static_assert(int(context_t::fixed_vector4) - int(context_t::fixed_vector2) == 2);
    if (count < 2 || count > 4)
        OV_FATAL("Vectors have 2 to 4 components.");
    return unit_scan_context_t(uint32_t(two) + count - 2);
}

}  // namespace

const char* get_scan_context_name(unit_scan_context_t context)
{
    return context_names[size_t(context)];
}

// ---- frames and skipping -----------------------------------------------------------------

struct unit_text_scanner_t::frame_t
{
    const char* text = nullptr;
    uint32_t size = 0;
    uint32_t position = 0;
    uint32_t line = 1;
    bool at_line_start = true;
    string_dyn_t path;
    string_dyn_t display_name;
    array_dyn_t<char> owned_text;  // included files
};

unit_text_scanner_t::unit_text_scanner_t(unit_include_handler_t* includes,
                                         const unit_scan_limits_t& limits)
    : m_includes(includes), m_limits(limits)
{
}

unit_text_scanner_t::~unit_text_scanner_t() = default;

bool unit_text_scanner_t::begin(const char* text, uint32_t size, const char* path,
                                const char* display_name)
{
    m_frames.clear();
    m_frame = nullptr;
    m_included = 0;
    m_bytes = size;
    auto_ptr_t<frame_t> frame(new (std::nothrow) frame_t);
    if (!frame)
    {
        msg_error("[unit] Not enough memory to scan the file '%s'.", display_name);
        return false;
    }
    frame->text = text;
    frame->size = size;
    // Names cut short would resolve includes elsewhere and misname the file in reports.
    if (!m_top_name.assign(display_name) || !frame->path.assign(path) ||
        !frame->display_name.assign(display_name))
    {
        msg_error("[unit] Not enough memory to scan the file '%s'.", display_name);
        return false;
    }
    push_frame(std::move(frame));
    return true;
}

const char* unit_text_scanner_t::current_path() const
{
    return m_frame != nullptr ? m_frame->path.c_str() : "";
}

uint32_t unit_text_scanner_t::current_line() const
{
    return m_frame != nullptr ? m_frame->line : 0;
}

const char* unit_text_scanner_t::current_display_name() const
{
    return m_frame != nullptr ? m_frame->display_name.c_str() : m_top_name.c_str();
}

const char* unit_text_scanner_t::current() const
{
    return m_frame->text + m_frame->position;
}

const char* unit_text_scanner_t::text_end() const
{
    return m_frame->text + m_frame->size;
}

// Past `length` bytes that hold no line feed.
void unit_text_scanner_t::consume(uint32_t length)
{
    m_frame->position += length;
    m_frame->at_line_start = false;
}

// Past a lexeme that may span lines (quoted strings, raw values).
void unit_text_scanner_t::consume_lines(uint32_t length)
{
    m_frame->line += count_line_feeds(current(), current() + length);
    consume(length);
}

// Past the line feed at `position`: the next line begins.
void unit_text_scanner_t::pass_line_feed(uint32_t position)
{
    m_frame->position = position + 1;
    ++m_frame->line;
    m_frame->at_line_start = true;
}

// The current file ends inside a comment or an @include line.
bool unit_text_scanner_t::fail_at_end()
{
    m_frame->position = m_frame->size;
    report_unexpected_end();
    return false;
}

unit_text_scanner_t::stop_t unit_text_scanner_t::skip_ignorable(unit_scan_context_t context)
{
    if (m_frame == nullptr)
        return stop_t::end_of_input;
    const bool magic = context == unit_scan_context_t::file_magic;
    for (;;)
    {
        frame_t& f = *m_frame;
        if (f.position >= f.size)
        {
            if (m_frames.size() > 1)
            {
                // The included text ends; go on in the including file after the directive.
                pop_frame();
                continue;
            }
            return stop_t::end_of_input;
        }
        const char* p = f.text + f.position;
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c)
        {
        case ' ':
        case '\t':
        case '\r':
            if (magic)
                return stop_t::token;
            consume(1);
            continue;
        case '\n':
            if (magic)
                return stop_t::token;
            pass_line_feed(f.position);
            continue;
        case 0xEF:
            // The text ends in two zero bytes, so looking two bytes ahead stays inside.
            if (static_cast<unsigned char>(p[1]) == 0xBB && static_cast<unsigned char>(p[2]) == 0xBF &&
                f.position + 3 <= f.size)
            {
                consume(3);
                continue;
            }
            return stop_t::token;
        case '/':
            if (f.position + 1 < f.size && p[1] == '*')
            {
                if (!skip_block_comment())
                    return stop_t::failure;
                continue;
            }
            if (!(f.position + 1 < f.size && p[1] == '/'))
                return stop_t::token;
            [[fallthrough]];
        case '#':
        {
            // A comment runs to the end of the line, its line feed included.
            const char* line_end =
                static_cast<const char*>(std::memchr(p, '\n', f.size - f.position));
            if (line_end == nullptr)
                consume(f.size - f.position);
            else
                pass_line_feed(uint32_t(line_end - f.text));
            continue;
        }
        case '@':
            if (f.at_line_start && f.size - f.position > 8 && std::memcmp(p, "@include", 8) == 0 &&
                (p[8] == ' ' || p[8] == '\t'))
            {
                if (!run_include_line())
                    return stop_t::failure;
                continue;
            }
            return stop_t::token;
        default:
            return stop_t::token;
        }
    }
}

unit_text_scanner_t::stop_t unit_text_scanner_t::next_token(unit_scan_context_t context)
{
    const stop_t stop = skip_ignorable(context);
    if (stop == stop_t::end_of_input && context != unit_scan_context_t::end_of_file)
    {
        report_unexpected_end();
        return stop_t::failure;
    }
    return stop;
}

// The next lexeme in `context`: its first byte and the length of the run of word characters
// there (0 when none starts there). False at the end of the input, reported.
bool unit_text_scanner_t::take_word(unit_scan_context_t context, const char** word,
                                    uint32_t* length)
{
    if (next_token(context) != stop_t::token)
        return false;
    *word = current();
    *length = word_length();
    return true;
}

bool unit_text_scanner_t::skip_block_comment()
{
    frame_t& f = *m_frame;
    uint32_t i = f.position + 2;
    for (;;)
    {
        if (i >= f.size)
            return fail_at_end();  // a comment does not run on into the including file
        const char c = f.text[i];
        if (c == '\n')
            ++f.line;
        else if (c == '*' && i + 1 < f.size && f.text[i + 1] == '/')
        {
            consume(i + 2 - f.position);
            return true;
        }
        ++i;
    }
}

// At "@include" and a blank at the beginning of a line: reads the name and performs the include
// on the line feed. A faulty line is reported and skipped; only a failed include fails.
bool unit_text_scanner_t::run_include_line()
{
    frame_t& f = *m_frame;
    const char* end = text_end();
    uint32_t i = f.position + 8;
    string_dyn_t name;
    bool have_name = false;
    for (;;)
    {
        if (i >= f.size)
            return fail_at_end();
        const char c = f.text[i];
        if (is_blank(static_cast<unsigned char>(c)))
        {
            ++i;
            continue;
        }
        if (c == '\n')
            break;
        const char* close = c == '"' ? include_name_close(f.text + i, end) : nullptr;
        if (close != nullptr && !have_name)
        {
            if (!copy_lexeme(f.text + i + 1, uint32_t(close - (f.text + i + 1)), &name))
                return false;
            have_name = true;
            i = uint32_t(close - f.text) + 1;
            continue;
        }
        // Anything else on the line: report it, skip the rest of the line, no include.
        f.position = i;
        uint32_t length = 1;
        if (close != nullptr)
            length = uint32_t(close - (f.text + i)) + 1;
        else if (is_word_char(static_cast<unsigned char>(c)))
            length = word_length();
        report_expecting(unit_scan_context_t::include_name, f.text + i, length);
        const char* line_end =
            static_cast<const char*>(std::memchr(f.text + i, '\n', f.size - i));
        if (line_end == nullptr)
            return fail_at_end();
        pass_line_feed(uint32_t(line_end - f.text));
        return true;
    }

    // The line feed that ends the directive.
    f.position = i;
    if (!have_name)
    {
        report_expecting(unit_scan_context_t::include_name, "\\n", 2);
        pass_line_feed(i);
        return true;
    }
    // Include failures name the directive's line; afterwards the line is counted.
    if (m_frames.size() >= max_include_depth)
    {
        report_location();
        msg_error("Can not include a file, includes are nested more than %u deep ('%s' requested).",
                  max_include_depth, name.c_str());
        return false;
    }
    if (m_included >= m_limits.includes)
    {
        report_location();
        msg_error("Can not include a file, the load has included %u files already ('%s' "
                  "requested).",
                  m_included, name.c_str());
        return false;
    }
    auto_ptr_t<frame_t> included(new (std::nothrow) frame_t);
    if (!included)
    {
        report_location();
        msg_error("[unit] Not enough memory to include the file '%s'.", name.c_str());
        return false;
    }
    unit_include_text_t file;
    if (m_includes == nullptr)
    {
        report_location();
        msg_error("Can not include a file in UNKNOWNFS realm ('%s' requested).", name.c_str());
        return false;
    }
    if (!m_includes->read_include(*this, name.c_str(), &file))
        return false;
    ++m_included;
    const uint64_t included_bytes = file.text.size() >= 2 ? file.text.size() - 2 : 0;
    if (m_bytes + included_bytes > m_limits.bytes)
    {
        report_location();
        msg_error("Can not include a file, the load would read more than %I64u bytes ('%s' "
                  "requested).",
                  uint64_t(m_limits.bytes), name.c_str());
        return false;
    }
    m_bytes += included_bytes;
    pass_line_feed(i);

    included->owned_text = std::move(file.text);
    included->text = included->owned_text.data();
    included->size = included->owned_text.size() >= 2 ? included->owned_text.size() - 2 : 0;
    included->path.move_from(file.path);
    included->display_name.move_from(file.display_name);
    push_frame(std::move(included));
    return true;
}

void unit_text_scanner_t::push_frame(auto_ptr_t<frame_t> frame)
{
    const frame_t* pushed = frame.get();
    if (!m_frames.append(std::move(frame)))
        out_of_memory_exit("[unit] Not enough memory for the include stack of the file '%s'.",
                           pushed->display_name.c_str());
    m_frame = m_frames.last().get();
}

void unit_text_scanner_t::pop_frame()
{
    m_frames.remove_last();
    m_frame = m_frames.last().get();
}

// The length of the run of word characters at the position (0 when none starts there).
uint32_t unit_text_scanner_t::word_length() const
{
    return uint32_t(skip_while(current(), text_end(), is_word_char) - current());
}

// ---- structure ---------------------------------------------------------------------------

bool unit_text_scanner_t::scan_file_magic()
{
    const unit_scan_context_t context = unit_scan_context_t::file_magic;
    if (next_token(context) != stop_t::token)
        return false;
    const char* p = current();
    if (text_end() - p < 8 || !equals_ignoring_case(p, p + 8, "qsdnunit"))
        return expected(context);
    consume(8);
    return true;
}

// A lexeme of one character.
bool unit_text_scanner_t::scan_char(unit_scan_context_t context, char c)
{
    if (next_token(context) != stop_t::token)
        return false;
    if (*current() != c)
        return expected(context);
    consume(1);
    return true;
}

bool unit_text_scanner_t::scan_open_bracket()
{
    return scan_char(unit_scan_context_t::open_bracket, '{');
}

bool unit_text_scanner_t::scan_close_bracket()
{
    return scan_char(unit_scan_context_t::close_bracket, '}');
}

bool unit_text_scanner_t::scan_colon()
{
    return scan_char(unit_scan_context_t::colon, ':');
}

// A letter followed by letters, digits and underscores; with `scoped`, optionally "::" and a
// second such part. Or the `}` closing the enclosing block.
unit_scan_result_t unit_text_scanner_t::scan_identifier_or_close(unit_scan_context_t context,
                                                                 bool scoped, string_dyn_t* name)
{
    if (next_token(context) != stop_t::token)
        return unit_scan_result_t::error;
    const char* p = current();
    if (*p == '}')
    {
        consume(1);
        return unit_scan_result_t::closing_bracket;
    }
    if (!is_letter(static_cast<unsigned char>(*p)))
    {
        expected(context);
        return unit_scan_result_t::error;
    }
    const char* end = text_end();
    const char* q = skip_while(p + 1, end, is_identifier_char);
    if (scoped && end - q > 2 && q[0] == ':' && q[1] == ':' &&
        is_letter(static_cast<unsigned char>(q[2])))
        q = skip_while(q + 3, end, is_identifier_char);
    if (!copy_lexeme(p, uint32_t(q - p), name))
        return unit_scan_result_t::error;
    consume(uint32_t(q - p));
    return unit_scan_result_t::token;
}

unit_scan_result_t unit_text_scanner_t::scan_unit_type(string_dyn_t* name)
{
    return scan_identifier_or_close(unit_scan_context_t::unit_type, true, name);
}

unit_scan_result_t unit_text_scanner_t::scan_attribute_name(string_dyn_t* name)
{
    return scan_identifier_or_close(unit_scan_context_t::attribute_name, false, name);
}

// A quoted string (escapes translated), or a bare word of letters, digits, underscores and dots.
bool unit_text_scanner_t::scan_name_or_quoted(unit_scan_context_t context, string_dyn_t* text)
{
    const char* p = nullptr;
    uint32_t length = 0;
    if (!take_word(context, &p, &length))
        return false;
    m_last_text_bare = *p != '"';
    if (*p == '"')
        return scan_quoted(context, text);
    if (length == 0 || !all_of(p, p + length, is_name_char))
        return expected(context);
    if (!copy_lexeme(p, length, text))
        return false;
    consume(length);
    return true;
}

bool unit_text_scanner_t::scan_unit_name(string_dyn_t* name)
{
    return scan_name_or_quoted(unit_scan_context_t::unit_name, name);
}

bool unit_text_scanner_t::scan_attribute_suffix(unit_attribute_suffix_t* suffix)
{
    const unit_scan_context_t context = unit_scan_context_t::attribute_suffix;
    if (next_token(context) != stop_t::token)
        return false;
    const char* p = current();
    const char* end = text_end();
    if (*p == ':')
    {
        suffix->kind = unit_attribute_suffix_t::kind_t::length;
        consume(1);
        return true;
    }
    if (*p != '[')
        return expected(context);
    if (p[1] == ']' && end - p > 1)
    {
        suffix->kind = unit_attribute_suffix_t::kind_t::append;
        consume(2);
        return true;
    }
    // '[', blanks, decimal digits, blanks, ']'.
    const char* digits = skip_while(p + 1, end, is_blank);
    const char* digits_end = skip_while(digits, end, is_digit);
    const char* q = skip_while(digits_end, end, is_blank);
    if (digits == digits_end || q == end || *q != ']')
        return expected(context);
    ++q;
    uint64_t index = 0;
    if (!parse_magnitude(digits, digits_end, 10, &index) || index > UINT32_MAX)
    {
        report_expecting(context, p, uint32_t(q - p));
        return false;
    }
    suffix->kind = unit_attribute_suffix_t::kind_t::element;
    suffix->index = uint32_t(index);
    consume(uint32_t(q - p));
    return true;
}

bool unit_text_scanner_t::scan_end_of_file()
{
    const stop_t stop = next_token(unit_scan_context_t::end_of_file);
    if (stop == stop_t::end_of_input)
        return true;
    if (stop == stop_t::token)
        expected(unit_scan_context_t::end_of_file);
    return false;
}

// ---- values ------------------------------------------------------------------------------

bool unit_text_scanner_t::scan_quoted(unit_scan_context_t context, string_dyn_t* text)
{
    const char* begin = current();
    const char* end = quoted_end(begin, text_end());
    if (end == nullptr)
        return expected(context);  // no closing quote: only the quote is offending
    const quoted_t translated = translate_quoted(begin, end, text);
    if (translated == quoted_t::no_memory)
    {
        report_location();
        msg_error("[unit] Not enough memory for a lexeme of %u bytes.", uint32_t(end - begin));
        return false;
    }
    if (translated == quoted_t::bad_escape)
    {
        report_expecting_name("string literal", begin, uint32_t(end - begin));
        return false;
    }
    consume_lines(uint32_t(end - begin));
    return true;
}

bool unit_text_scanner_t::scan_string(string_dyn_t* text)
{
    return scan_name_or_quoted(unit_scan_context_t::string, text);
}

// A number lexeme read by `convert`. A lexeme of the right shape that does not convert is
// reported under `out_of_range_name`, or under the context's own name when that is null.
template <typename Convert, typename Value>
bool unit_text_scanner_t::scan_number(unit_scan_context_t context, Convert convert,
                                      const char* out_of_range_name, Value* value)
{
    const char* p = nullptr;
    uint32_t length = 0;
    if (!take_word(context, &p, &length))
        return false;
    const number_t result = length == 0 ? number_t::bad_shape : convert(p, p + length, value);
    if (result == number_t::bad_conversion && out_of_range_name != nullptr)
    {
        report_expecting_name(out_of_range_name, p, length);
        return false;
    }
    if (result != number_t::ok)
        return expected(context);
    consume(length);
    return true;
}

bool unit_text_scanner_t::scan_signed(int64_t* value)
{
    return scan_number(unit_scan_context_t::signed_integer, convert_signed, "integer number",
                       value);
}

bool unit_text_scanner_t::scan_unsigned(uint64_t* value)
{
    return scan_number(unit_scan_context_t::unsigned_integer, convert_unsigned,
                       "positive integer number", value);
}

bool unit_text_scanner_t::scan_boolean(bool* value)
{
    const unit_scan_context_t context = unit_scan_context_t::boolean;
    const char* p = nullptr;
    uint32_t length = 0;
    if (!take_word(context, &p, &length))
        return false;
    if (equals_ignoring_case(p, p + length, "true") || (length == 1 && *p == '1'))
        *value = true;
    else if (equals_ignoring_case(p, p + length, "false") || (length == 1 && *p == '0'))
        *value = false;
    else
        return expected(context);
    consume(length);
    return true;
}

bool unit_text_scanner_t::scan_real(float* value)
{
    // The context's own name serves both failures.
    return scan_number(unit_scan_context_t::real, convert_real, nullptr, value);
}

// `(` component, separator, ... `)`. The first separator is `first_separator` (';' after the
// scalar part of a quaternion), the others ','.
template <typename Convert, typename Value>
bool unit_text_scanner_t::scan_vector_of(unit_scan_context_t context, uint32_t count,
                                         char first_separator, Convert convert,
                                         const char* out_of_range_name, Value* components)
{
    if (!scan_char(context, '('))
        return false;
    for (uint32_t i = 0; i < count; ++i)
    {
        if (i > 0 && !scan_char(context, i == 1 ? first_separator : ','))
            return false;
        if (!scan_number(context, convert, out_of_range_name, components + i))
            return false;
    }
    return scan_char(context, ')');
}

bool unit_text_scanner_t::scan_vector(uint32_t count, float* components)
{
    return scan_vector_of(vector_context(unit_scan_context_t::vector2, count), count, ',',
                          convert_real, nullptr, components);
}

bool unit_text_scanner_t::scan_quaternion(float* wxyz)
{
    return scan_vector_of(unit_scan_context_t::quaternion, 4, ';', convert_real, nullptr, wxyz);
}

bool unit_text_scanner_t::scan_fixed(int32_t* value)
{
    return scan_number(unit_scan_context_t::fixed, convert_fixed, nullptr, value);
}

bool unit_text_scanner_t::scan_fixed_vector(uint32_t count, int32_t* components)
{
    return scan_vector_of(vector_context(unit_scan_context_t::fixed_vector2, count), count, ',',
                          convert_fixed, nullptr, components);
}

bool unit_text_scanner_t::scan_int_vector2(int32_t* components)
{
    return scan_vector_of(unit_scan_context_t::int_vector2, 2, ',', convert_int32,
                          "2D integer vector value out of range", components);
}

bool unit_text_scanner_t::scan_enum(unit_enum_lexeme_t* value)
{
    const unit_scan_context_t context = unit_scan_context_t::enum_value;
    const char* p = nullptr;
    uint32_t length = 0;
    if (!take_word(context, &p, &length))
        return false;
    if (*p == '"')
    {
        value->is_name = true;
        return scan_quoted(context, &value->name);
    }
    if (length == 0)
        return expected(context);
    if (is_letter(static_cast<unsigned char>(*p)))
    {
        if (!all_of(p, p + length, is_identifier_char))
            return expected(context);
        value->is_name = true;
        if (!copy_lexeme(p, length, &value->name))
            return false;
    }
    else
    {
        // A signed decimal number, or an unsigned hexadecimal one.
        if (is_hex_prefix(p + (*p == '+' || *p == '-'), p + length) && !is_hex_prefix(p, p + length))
            return expected(context);
        if (convert_signed(p, p + length, &value->number) != number_t::ok)
            return expected(context);
        value->is_name = false;
    }
    consume(length);
    return true;
}

bool unit_text_scanner_t::scan_unknown_value(string_dyn_t* text)
{
    const unit_scan_context_t context = unit_scan_context_t::unknown_value;
    const char* p = nullptr;
    uint32_t length = 0;
    if (!take_word(context, &p, &length))
        return false;
    const char* end = text_end();
    const char* q = p + length;
    if (*p == '(')
    {
        // One group, or several separated by blanks on the same line.
        for (;;)
        {
            const char* close = static_cast<const char*>(std::memchr(q, ')', size_t(end - q)));
            if (close == nullptr)
                return expected(context);
            q = close + 1;
            const char* next = skip_while(q, end, is_blank);
            if (next == end || *next != '(')
                break;
            q = next;
        }
    }
    else if (*p == '"')
    {
        q = quoted_end(p, end);
        if (q == nullptr)
            return expected(context);
    }
    else if (length == 0)
        return expected(context);
    if (!copy_lexeme(p, uint32_t(q - p), text))
        return false;
    consume_lines(uint32_t(q - p));
    return true;
}

// ---- reports -----------------------------------------------------------------------------

void unit_text_scanner_t::report_location() const
{
    if (m_frames.empty())
    {
        msg_error("[unit] File '%s':", m_top_name.c_str());
        return;
    }
    msg_error("[unit] File '%s', line %u:", m_frame->display_name.c_str(), m_frame->line);
    // Enclosing files have counted their directive's line already.
    for (uint32_t i = m_frames.size() - 1; i > 0; --i)
    {
        const frame_t& enclosing = *m_frames[i - 1];
        msg_error("Included at '%s', line %u:", enclosing.display_name.c_str(),
                  enclosing.line - 1);
    }
}

namespace
{
// Whether a lexeme of the context may begin with the character. Where none can, the error names
// that one character; where one can, it names the whole word that failed to be one.
bool may_begin_lexeme(unit_scan_context_t context, unsigned char c)
{
    switch (context)
    {
    case unit_scan_context_t::boolean:
        return c == '0' || c == '1' || c == 't' || c == 'T' || c == 'f' || c == 'F';
    case unit_scan_context_t::signed_integer:
    case unit_scan_context_t::fixed:
        return is_digit(c) || c == '+' || c == '-';
    case unit_scan_context_t::unsigned_integer:
        return is_digit(c) || c == '+';
    case unit_scan_context_t::real:
        return is_digit(c) || c == '+' || c == '-' || c == '.' || c == '&';
    case unit_scan_context_t::end_of_file:
    case unit_scan_context_t::open_bracket:
    case unit_scan_context_t::close_bracket:
    case unit_scan_context_t::colon:
    case unit_scan_context_t::attribute_suffix:
        return false;  // punctuation: what failed is never longer than one character
    default:
        return is_word_char(c);
    }
}
}  // namespace

bool unit_text_scanner_t::expected(unit_scan_context_t context)
{
    const frame_t& f = *m_frame;
    const char* p = f.text + f.position;
    const unsigned char c = static_cast<unsigned char>(*p);
    uint32_t length = 1;
    if (is_word_char(c) && may_begin_lexeme(context, c))
        length = word_length();
    else if (c >= 0x80)
    {
        // A whole UTF-8 character reads better than its first byte.
        const utf8_sequence_t sequence = decode_utf8(p);
        if (sequence.length > 1 && uint32_t(sequence.length) <= f.size - f.position)
            length = uint32_t(sequence.length);
    }
    report_expecting(context, p, length);
    return false;
}

void unit_text_scanner_t::report_expecting(unit_scan_context_t context, const char* lexeme,
                                           uint32_t length)
{
    report_expecting_name(get_scan_context_name(context), lexeme, length);
}

void unit_text_scanner_t::report_expecting_name(const char* name, const char* lexeme,
                                                uint32_t length)
{
    string_dyn_t text;
    // A lexeme that finds no memory is shown as far as it fit, and says so.
    const bool whole = text.assign(lexeme, length);
    ++m_form_reports;
    report_location();
    msg_error("Expecting %s, found '%s'%s", name, text.c_str(), whole ? "" : " (cut short)");
}

bool unit_text_scanner_t::copy_lexeme(const char* lexeme, uint32_t length, string_t* out) const
{
    if (out->assign(lexeme, length))
        return true;
    report_location();
    msg_error("[unit] Not enough memory for a lexeme of %u bytes.", length);
    return false;
}

void unit_text_scanner_t::report_unexpected_end()
{
    report_location();
    msg_error("Unexpected end of file.");
}
