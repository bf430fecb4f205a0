// Reading character-set files (one "U+<hex> [name] [# comment]" line per glyph), and the
// characters of ranges and text files.
#include "tools/font_generator/input/character_set.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/text_encoding.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/fs_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{

constexpr uint32_t last_code_point = 0x10FFFF;
constexpr uint32_t surrogate_first = 0xD800;
constexpr uint32_t surrogate_last = 0xDFFF;

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// The pieces of one line: the code token and the glyph name, both empty for a line without
// content (blank or comment).
struct line_pieces_t
{
    string_dyn_t token;
    string_dyn_t name;
};

// The pieces of the line from byte `from` on; false only when no memory can be had for them.
bool split_line(const string_t& line, uint32_t from, line_pieces_t* pieces)
{
    const char* const text = line.c_str();
    const char* const line_end = text + line.length();
    const char* start = text + std::min(from, line.length());
    while (start < line_end && is_blank(*start))
        ++start;
    // The content ends at the first "#"; blanks before it belong to the name.
    const char* end = start;
    while (end < line_end && *end != '#')
        ++end;
    const char* token_end = start;
    while (token_end < end && !is_blank(*token_end))
        ++token_end;
    const char* name = token_end;
    while (name < end && is_blank(*name))
        ++name;
    return pieces->token.assign(start, uint32_t(token_end - start)) &&
           pieces->name.assign(name, uint32_t(end - name));
}

// The common token: "U+" and one to seven hexadecimal digits, nothing else, which the general
// scan would read alike. False for anything else, which goes to that scan.
bool parse_plain_code(const string_t& token, unsigned int* code)
{
    const char* const text = token.c_str();
    const uint32_t length = token.length();
    if (length < 3 || length > 9 || text[0] != 'U' || text[1] != '+')
        return false;
    unsigned int value = 0;
    for (uint32_t i = 2; i < length; ++i)
    {
        const char c = text[i];
        const unsigned int digit = c >= '0' && c <= '9'   ? unsigned(c - '0')
                                   : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10)
                                   : c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                                          : 16u;
        if (digit == 16u)
            return false;
        value = value * 16 + digit;
    }
    *code = value;
    return true;
}

}  // namespace

bool read_character_set(character_set_t* set, const string_t& path)
{
    auto_ptr_t<file_t> file = fs_cache_lookup(path.c_str(), SYSFS);
    if (!file)
        file = fs_device_open(path, fs_open_mode_t::read_only, SYSFS);
    if (!file)
    {
        // The file system has said why; this names the file the run needed.
        msg_error("Unable to open the character set file '%s'.", path.c_str());
        return false;
    }
    auto_ptr_t<array_dyn_t<string_dyn_t>> lines = file->read_lines();
    if (!lines)
    {
        msg_error("Unable to read the character set file '%s'.", path.c_str());
        return false;
    }
    // One glyph a line at most: the array is sized once. Without the memory each append asks
    // again and says so itself.
    (void)set->glyphs.reserve_more(lines->size());
    line_pieces_t pieces;
    for (uint32_t i = 0; i < lines->size(); ++i)
    {
        // Empty lines were dropped by read_lines, so numbers count non-empty lines only.
        const size_t number = size_t(i) + 1;
        // Editors on some systems start a UTF-8 file with a byte order mark.
        const string_t& line = (*lines)[i];
        const uint32_t from = i == 0 && line.length() >= 3 &&
                                      std::memcmp(line.c_str(), "\xEF\xBB\xBF", 3) == 0
                                  ? 3
                                  : 0;
        if (!split_line(line, from, &pieces))
        {
            // Only memory fails here: the line may be good, so the set cannot be complete.
            msg_error("Not enough memory to read line %Iu of the character set file '%s'.",
                      number, path.c_str());
            return false;
        }
        if (pieces.token.empty())
            continue;  // blank or comment
        unsigned int code = 0;
        if (!parse_plain_code(pieces.token, &code) &&
            std::sscanf(pieces.token.c_str(), "U+%x", &code) != 1)
        {
            msg_error("Ignoring malformed line %Iu in file '%s' - could not parse Unicode "
                      "codepoint value.",
                      number, path.c_str());
            continue;
        }
        // Neither can be a character of a font, nor be written as UTF-8.
        if (code >= surrogate_first && code <= surrogate_last)
        {
            msg_error("Ignoring line %Iu in file '%s' - U+%04X is a surrogate code (U+D800 to "
                      "U+DFFF), not a character.",
                      number, path.c_str(), code);
            continue;
        }
        if (code > last_code_point)
        {
            msg_error("Ignoring line %Iu in file '%s' - U+%X is beyond U+10FFFF, the last "
                      "Unicode code point.",
                      number, path.c_str(), code);
            continue;
        }
        font_glyph_t* glyph = set->glyphs.append_new();
        if (glyph == nullptr)
        {
            msg_error("Not enough memory for the glyphs of the character set file '%s'.",
                      path.c_str());
            msg_error("Failed to added another glyph ('%s') to internal table.",
                      pieces.name.c_str());
            return false;
        }
        glyph->code = code;
        glyph->name.move_from(pieces.name);
    }
    return true;
}

// ---- characters from ranges and text -----------------------------------------------------------

namespace
{

constexpr uint32_t byte_order_mark = 0xFEFF;

bool is_hex_digit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_space_or_tab(char c)
{
    return c == ' ' || c == '\t';
}

// "U+" or "u+" and one to six hexadecimal digits at `*at`, which moves past them.
bool parse_code(const char** at, uint32_t* code)
{
    const char* p = *at;
    if ((p[0] != 'U' && p[0] != 'u') || p[1] != '+')
        return false;
    p += 2;
    uint32_t value = 0;
    int digits = 0;
    for (; is_hex_digit(*p); ++p, ++digits)
    {
        if (digits == 6)
            return false;
        const char c = *p;
        value = value * 16 + uint32_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    if (digits == 0)
        return false;
    *code = value;
    *at = p;
    return true;
}

void skip_blanks(const char** at)
{
    while (is_space_or_tab(**at))
        ++*at;
}

// Appends the glyph of a code from a range or a text, named by its code, to `glyphs`.
bool append_named_glyph(array_dyn_t<font_glyph_t>* glyphs, uint32_t code)
{
    font_glyph_t* glyph = glyphs->append_new();
    if (glyph == nullptr || !glyph->name.format("U+%04X", code))
    {
        if (glyph != nullptr)
            glyphs->remove_last();
        msg_error("Not enough memory for the glyph U+%04X of the character set.", code);
        msg_error("Failed to added another glyph ('U+%04X') to internal table.", code);
        return false;
    }
    glyph->code = code;
    return true;
}

bool append_new_glyph(character_set_t* set, uint32_t code, code_set_t* seen)
{
    if (seen->has(code))
        return true;
    seen->add(code);
    return append_named_glyph(&set->glyphs, code);
}

void note_lost_code(uint32_t code, lost_codes_t* lost)
{
    const bool continues = lost->count > 0 && lost->last_code + 1 == code;
    ++lost->count;
    lost->last_code = code;
    if (continues)
    {
        if (lost->run_count <= lost_codes_t::shown_runs)
            lost->runs[lost->run_count - 1][1] = code;
        return;
    }
    if (lost->run_count < lost_codes_t::shown_runs)
    {
        lost->runs[lost->run_count][0] = code;
        lost->runs[lost->run_count][1] = code;
    }
    ++lost->run_count;
}

}  // namespace

bool is_range_character(uint32_t code)
{
    return code <= last_code_point && (code < surrogate_first || code > surrogate_last) &&
           (code < 0xFDD0 || code > 0xFDEF) && (code & 0xFFFE) != 0xFFFE;
}

bool code_set_t::start()
{
    m_bits.clear();
    if (!m_bits.resize((last_code_point >> 6) + 1))
        return false;
    std::memset(m_bits.data(), 0, m_bits.size() * sizeof(uint64_t));
    return true;
}

bool code_set_t::start(const character_set_t& set, uint32_t count)
{
    if (!start())
        return false;
    for (uint32_t i = 0; i < set.glyphs.size() && i < count; ++i)
        if (set.glyphs[i].code <= last_code_point)
            add(set.glyphs[i].code);
    return true;
}

bool parse_character_range(const char* text, uint32_t* first, uint32_t* last)
{
    const char* at = text;
    skip_blanks(&at);
    if (!parse_code(&at, first))
        return false;
    *last = *first;
    skip_blanks(&at);
    if (*at == '-')
    {
        ++at;
        skip_blanks(&at);
        if (!parse_code(&at, last))
            return false;
        skip_blanks(&at);
    }
    return *at == '\0' && *first <= *last && *last <= last_code_point;
}

bool range_has_characters(uint32_t first, uint32_t last)
{
    for (uint64_t code = first; code <= last; ++code)
        if (is_range_character(uint32_t(code)))
            return true;
    return false;
}

void mark_character_range(uint32_t first, uint32_t last, code_set_t* seen)
{
    for (uint64_t code = first; code <= last; ++code)
        if (is_range_character(uint32_t(code)))
            seen->add(uint32_t(code));
}

bool insert_range_characters(character_set_t* set, uint32_t position,
                             const array_t<string_dyn_t>& ranges, const code_set_t& available,
                             lost_codes_t* lost)
{
    code_set_t held;
    array_dyn_t<font_glyph_t> glyphs;
    if (!held.start(*set, position) || !glyphs.reserve(set->glyphs.size()))
    {
        msg_error("Not enough memory for the characters of the character set file '%s'.",
                  set->label.file);
        return false;
    }
    for (uint32_t i = 0; i < position; ++i)
        (void)glyphs.append(std::move(set->glyphs[i]));  // room was reserved above
    for (const string_dyn_t& range : ranges)
    {
        uint32_t first = 0;
        uint32_t last = 0;
        if (!parse_character_range(range.c_str(), &first, &last))
            continue;  // checked at load
        for (uint64_t next = first; next <= last; ++next)
        {
            const uint32_t code = uint32_t(next);
            if (!is_range_character(code) || held.has(code))
                continue;
            held.add(code);
            if (!available.has(code))
                note_lost_code(code, lost);
            else if (!append_named_glyph(&glyphs, code))
                return false;
        }
    }
    for (uint32_t i = position; i < set->glyphs.size(); ++i)
        if (!glyphs.append(std::move(set->glyphs[i])))
        {
            msg_error("Not enough memory for the characters of the character set file '%s'.",
                      set->label.file);
            return false;
        }
    set->glyphs = std::move(glyphs);
    return true;
}

namespace
{

// Where the first byte that starts no character is, as an editor counts (lines from 1, columns
// in characters from 1), and the encoding the file most likely has instead.
void say_where_text_breaks(const array_t<char>& text, uint64_t size, uint64_t broken)
{
    uint64_t line = 1;
    uint64_t column = 1;
    for (uint64_t at = 0; at < broken;)
    {
        const utf8_sequence_t sequence = decode_utf8(text.data() + at);
        at += sequence.length > 0 ? uint64_t(sequence.length) : 1;
        column = text[uint32_t(at - 1)] == '\n' ? 1 : column + 1;
        line += text[uint32_t(at - 1)] == '\n' ? 1 : 0;
    }
    const auto byte = [&](uint64_t at) { return uint8_t(text[uint32_t(at)]); };
    const bool utf16 =
        size >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF));
    // Latin-1 and Windows-1252 put every character above U+007F in one byte of 80 to FF: each
    // byte that starts no character stands alone between characters.
    bool single_bytes = !utf16;
    bool after_broken = false;
    for (uint64_t at = 0; at < size && single_bytes;)
    {
        utf8_sequence_t sequence{ 0, 1 };
        if (text[uint32_t(at)] != '\0')
            sequence = decode_utf8(text.data() + at);
        if (sequence.length > 0)
        {
            at += uint64_t(sequence.length);
            after_broken = false;
            continue;
        }
        single_bytes = byte(at) >= 0x80 && !after_broken;
        after_broken = true;
        ++at;
    }
    const char* guess = utf16          ? "; it looks like UTF-16 (it starts with a UTF-16 byte "
                                         "order mark)"
                        : single_bytes ? "; it looks like Latin-1 or Windows-1252"
                                       : "";
    msg_error("The first byte that starts no character is at line %I64u, column %I64u%s: save the "
              "file as UTF-8.",
              line, column, guess);
}

}  // namespace

bool read_text_characters(character_set_t* set, const string_t& path, code_set_t* seen)
{
    auto_ptr_t<file_t> file = fs_device_open(path, fs_open_mode_t::read_only, SYSFS);
    if (!file)
    {
        // The file system has said why; this names the file the run needed.
        msg_error("Unable to open the text file '%s'.", path.c_str());
        return false;
    }
    const uint64_t size = file->get_size();
    array_dyn_t<char> text;
    if (size >= UINT32_MAX || !text.resize(uint32_t(size) + 1))
    {
        msg_error("Not enough memory to read the text file '%s'.", path.c_str());
        return false;
    }
    if (size > 0 && !file->read(text.data(), uint32_t(size)))
    {
        msg_error("Unable to read the text file '%s'.", path.c_str());
        return false;
    }
    text[uint32_t(size)] = '\0';  // decoding stops at the first byte that breaks a sequence
    for (uint64_t at = 0; at < size;)
    {
        utf8_sequence_t sequence{ 0, 1 };
        if (text[uint32_t(at)] != '\0')
            sequence = decode_utf8(text.data() + at);
        if (sequence.length <= 0)
        {
            msg_error("The text file '%s' is not UTF-8: byte %I64u starts no character.",
                      path.c_str(), at);
            say_where_text_breaks(text, size, at);
            return false;
        }
        at += uint64_t(sequence.length);
        const uint32_t code = sequence.code_point;
        if (code < 0x20 || code == byte_order_mark)
            continue;
        if (!append_new_glyph(set, code, seen))
            return false;
    }
    return true;
}
