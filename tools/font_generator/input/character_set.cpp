// Reading character-set files: one "U+<hex> [name] [# comment]" line per glyph.
#include "tools/font_generator/input/character_set.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/fs_file.h"

#include <cstdio>
#include <cstring>

namespace
{

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

// False only when no memory can be had for the pieces.
bool split_line(const string_t& line, line_pieces_t* pieces)
{
    const char* const text = line.c_str();
    const char* const line_end = text + line.length();
    const char* start = text;
    while (start < line_end && is_blank(*start))
        ++start;
    // The content ends at the first "#"; blanks before it belong to the name.
    const char* hash = static_cast<const char*>(std::memchr(start, '#', size_t(line_end - start)));
    const char* const end = hash != nullptr ? hash : line_end;
    const char* token_end = start;
    while (token_end < end && !is_blank(*token_end))
        ++token_end;
    const char* name = token_end;
    while (name < end && is_blank(*name))
        ++name;
    return pieces->token.assign(start, uint32_t(token_end - start)) &&
           pieces->name.assign(name, uint32_t(end - name));
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
    line_pieces_t pieces;
    for (uint32_t i = 0; i < lines->size(); ++i)
    {
        // Empty lines were dropped by read_lines, so numbers count non-empty lines only.
        const size_t number = size_t(i) + 1;
        if (!split_line((*lines)[i], &pieces))
        {
            msg_error("Ignoring malformed line %Iu in file '%s' - expected codepoint, unicode "
                      "codepoint, and optional glyph name.",
                      number, path.c_str());
            continue;
        }
        if (pieces.token.empty())
            continue;  // blank or comment
        unsigned int code = 0;
        if (std::sscanf(pieces.token.c_str(), "U+%x", &code) != 1)
        {
            msg_error("Ignoring malformed line %Iu in file '%s' - could not parse Unicode "
                      "codepoint value.",
                      number, path.c_str());
            continue;
        }
        font_glyph_t* glyph = set->glyphs.append_new();
        if (glyph == nullptr)
        {
            msg_error("Failed to added another glyph ('%s') to internal table.",
                      pieces.name.c_str());
            return false;
        }
        glyph->code = code;
        glyph->name.move_from(pieces.name);
    }
    return true;
}
