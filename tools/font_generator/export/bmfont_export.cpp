// The BMFont descriptors in their four flavours, and writing a set's pages and descriptors.
//
// Sections: the descriptor's content, names and escapes, the text flavours, the binary flavour,
// writing the files.
#include "tools/font_generator/export/bmfont_export.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/collections/text_encoding.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/export/png_pages.h"
#include "tools/font_generator/model/export_formats.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/output/character_text.h"
#include "tools/font_generator/output/output_file.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

// ---- the descriptor's content -------------------------------------------------------------

int32_t compute_stretch_h(uint32_t width, uint32_t height, float scale_width, float scale_height)
{
    const double wide = double(width != 0 ? width : height) * scale_width;
    const double tall = double(height != 0 ? height : width) * scale_height;
    const double stretch = std::round(100.0 * tall / wide);
    if (!std::isfinite(stretch))
        return 0;
    return int32_t(std::clamp(stretch, double(INT32_MIN), double(INT32_MAX)));
}

namespace
{

struct code_position_t
{
    uint32_t code;
    uint32_t position;
};

// Which glyphs get a char entry: rasterized ones, the first of each code.
bool mark_exported_glyphs(const character_set_t& set, array_dyn_t<uint8_t>* exported)
{
    array_dyn_t<code_position_t> by_code;
    if (!exported->resize(set.glyphs.size()) || !by_code.reserve(set.glyphs.size()))
        return false;
    for (uint32_t i = 0; i < set.glyphs.size(); ++i)
        if (set.glyphs[i].rasterized)
            (void)by_code.append(code_position_t{ set.glyphs[i].code, i });
    std::sort(by_code.begin(), by_code.end(),
              [](const code_position_t& a, const code_position_t& b)
              { return a.code != b.code ? a.code < b.code : a.position < b.position; });
    for (uint32_t i = 0; i < by_code.size(); ++i)
        if (i == 0 || by_code[i].code != by_code[i - 1].code)
            (*exported)[by_code[i].position] = 1;
    return true;
}

}  // namespace

bool collect_bmfont(const finished_font_t& finished, uint32_t set,
                    const array_t<string_dyn_t>& page_names, bmfont_font_t* font)
{
    const finished_set_t& entry = finished.sets[set];
    const character_set_t& characters = *entry.set;
    const font_layout_t& layout = finished.layout;
    font->label = characters.label;
    font->facts = entry.facts;
    const int32_t padding = int32_t(entry.facts.padding);
    font->line_height = int64_t(layout.vertical_span) + layout.line_spacing - 2 * padding;
    font->base = layout.max_top - padding;
    font->page_width = 0;
    font->page_height = 0;
    for (uint32_t i = 0; i < entry.picture_count; ++i)
    {
        const font_canvas_t& canvas = *finished.pictures[entry.first_picture + i].canvas;
        font->page_width = std::max(font->page_width, canvas.width);
        font->page_height = std::max(font->page_height, canvas.height);
    }
    font->pictures = entry.pictures;
    if (!font->pages.copy(page_names))
        return false;
    // A name copied without memory comes out empty: the descriptor would name no page.
    for (const string_dyn_t& name : font->pages)
        if (name.copy_failed())
            return false;

    array_dyn_t<uint8_t> exported;
    if (!mark_exported_glyphs(characters, &exported))
        return false;
    font->chars.clear();
    font->kernings.clear();
    for (uint32_t i = 0; i < characters.glyphs.size(); ++i)
    {
        if (!exported[i])
            continue;
        bmfont_char_t line{ i, make_glyph_line(characters.glyphs[i], layout.max_top,
                                               characters.glyphs[i].picture) };
        line.line.top -= padding;
        if (!font->chars.append(line))
            return false;
    }
    if (entry.kerning != nullptr)
        for (const kerning_pair_t& pair : *entry.kerning)
            if (characters.glyphs[pair.first].rasterized &&
                characters.glyphs[pair.second].rasterized &&
                !font->kernings.append(bmfont_kerning_t{ characters.glyphs[pair.first].code,
                                                         characters.glyphs[pair.second].code,
                                                         pair.value }))
                return false;
    return true;
}

namespace
{

// ---- names and escapes --------------------------------------------------------------------

// The channel numbers of `common` (0 glyph data, 4 one): alpha pages and distance fields carry
// the glyph in alpha and one in colour; colour pages, and three-channel fields with the field in
// alpha, carry glyph data in every channel; three-channel fields alone carry one in alpha.
struct channels_t
{
    int alpha;
    int red;
    int green;
    int blue;
};

channels_t channels_of(const bmfont_font_t& font)
{
    switch (font.pictures.kind)
    {
    case picture_kind_t::coverage_colour:
    case picture_kind_t::multi_channel_and_true_field:  // its alpha is the true field
        return { 0, 0, 0, 0 };
    case picture_kind_t::multi_channel_field:  // alpha 255
        return { 4, 0, 0, 0 };
    case picture_kind_t::coverage_alpha:
    case picture_kind_t::distance_field:
        break;
    }
    return { 0, 4, 4, 4 };
}

// The text flavour has no escapes: a double quote or a line end would end the value or the line.
bool append_text_name(string_t* text, const char* name)
{
    bool ok = true;
    for (const char* at = name; *at != '\0'; ++at)
        ok = text->append_char(*at == '"' || *at == '\r' || *at == '\n' ? '_' : *at) && ok;
    return ok;
}

// Appends `name` for an XML attribute value or a JSON string: each character as `escape` gives
// it, or as itself; a byte that starts no UTF-8 character as '_'.
template <typename escape_t> bool append_escaped(string_t* text, const char* name, escape_t escape)
{
    bool ok = true;
    for (const char* at = name; *at != '\0';)
    {
        const utf8_sequence_t sequence = decode_utf8(at);
        if (sequence.length <= 0)
        {
            ok = text->append_char('_') && ok;
            ++at;
            continue;
        }
        const char* replacement = escape(sequence.code_point);
        ok = (replacement != nullptr ? text->append(replacement)
                                     : text->append(at, uint32_t(sequence.length))) && ok;
        at += sequence.length;
    }
    return ok;
}

// XML 1.0 has no place for controls other than tab and line ends, not even as references.
bool append_xml_name(string_t* text, const char* name)
{
    return append_escaped(text, name, [](uint32_t code) -> const char*
    {
        switch (code)
        {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        case '\'': return "&apos;";
        case '\t': return "&#9;";
        case '\n': return "&#10;";
        case '\r': return "&#13;";
        default: return code < 0x20 ? "_" : nullptr;
        }
    });
}

constexpr const char* json_controls[0x20] = {
    "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
    "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
    "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
    "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f",
};

bool append_json_name(string_t* text, const char* name)
{
    return append_escaped(text, name, [](uint32_t code) -> const char*
    {
        if (code < 0x20)
            return json_controls[code];
        return code == '"' ? "\\\"" : code == '\\' ? "\\\\" : nullptr;
    });
}

// ---- the text flavours --------------------------------------------------------------------

// One key and its value, as every text flavour says it in its own syntax.
enum class value_kind_t
{
    number,  // whole number
    real,    // distanceRange
    name,    // a string
    list,    // numbers separated by commas: an array in JSON
};

struct field_value_t
{
    const char* key;
    value_kind_t kind;
    int64_t number = 0;
    const char* text = "";  // name and list
    double real = 0;
};

field_value_t number_value(const char* key, int64_t number)
{
    return { key, value_kind_t::number, number };
}

field_value_t name_value(const char* key, const char* text)
{
    return { key, value_kind_t::name, 0, text };
}

field_value_t list_value(const char* key, const char* text)
{
    return { key, value_kind_t::list, 0, text };
}

// The syntax of one text flavour: how a value, a record and a name are written.
enum class syntax_t
{
    text,
    xml,
    json,
};

bool append_name(string_t* text, syntax_t syntax, const char* name)
{
    return syntax == syntax_t::text  ? append_text_name(text, name)
           : syntax == syntax_t::xml ? append_xml_name(text, name)
                                     : append_json_name(text, name);
}

// Whole numbers without the formatter: a large set's descriptors hold a hundred thousand.
bool append_number(string_t* text, int64_t value)
{
    char digits[24];
    char* const end = digits + sizeof digits;
    char* at = end;
    uint64_t magnitude = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
    do
    {
        *--at = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--at = '-';
    return text->append(at, uint32_t(end - at));
}

bool append_value(string_t* text, syntax_t syntax, const field_value_t& field)
{
    const bool quoted = syntax == syntax_t::xml || field.kind == value_kind_t::name;
    const bool array = syntax == syntax_t::json && field.kind == value_kind_t::list;
    bool ok = !quoted || text->append_char('"');
    ok = (!array || text->append_char('[')) && ok;
    switch (field.kind)
    {
    case value_kind_t::number: ok = append_number(text, field.number) && ok; break;
    case value_kind_t::real: ok = text->append_formatted("%g", field.real) && ok; break;
    case value_kind_t::name: ok = append_name(text, syntax, field.text) && ok; break;
    case value_kind_t::list: ok = text->append(field.text) && ok; break;
    }
    ok = (!array || text->append_char(']')) && ok;
    return (!quoted || text->append_char('"')) && ok;
}

// A record: "tag key=value ...\n" in text, "<indent><tag key="value" .../>\n" in XML, and
// "{"key":value,...}" in JSON (where the caller writes the tag, if any).
bool append_record(string_t* text, syntax_t syntax, const char* indent, const char* tag,
                   const field_value_t* fields, uint32_t count)
{
    bool ok = syntax == syntax_t::json ? text->append_char('{')
              : syntax == syntax_t::xml ? text->append(indent) && text->append_char('<') &&
                                              text->append(tag)
                                        : text->append(tag);
    for (uint32_t i = 0; i < count; ++i)
    {
        if (syntax == syntax_t::json)
            ok = text->append(i == 0 ? "\"" : ",\"") && text->append(fields[i].key) &&
                 text->append("\":") && ok;
        else
            ok = text->append_char(' ') && text->append(fields[i].key) && text->append_char('=') &&
                 ok;
        ok = append_value(text, syntax, fields[i]) && ok;
    }
    return text->append(syntax == syntax_t::json ? "}" : syntax == syntax_t::xml ? "/>\n" : "\n") &&
           ok;
}

template <uint32_t N>
bool append_record(string_t* text, syntax_t syntax, const char* indent, const char* tag,
                   const field_value_t (&fields)[N])
{
    return append_record(text, syntax, indent, tag, fields, N);
}

bool append_info(string_t* text, syntax_t syntax, const bmfont_font_t& font)
{
    string_fixed_t<48> padding;
    string_fixed_t<24> spacing;
    const set_facts_t& facts = font.facts;
    if (!padding.format("%u,%u,%u,%u", facts.padding, facts.padding, facts.padding,
                        facts.padding) ||
        !spacing.format("%u,%u", facts.spacing, facts.spacing))
        return false;
    const field_value_t fields[] = {
        name_value("face", facts.face.family),    number_value("size", facts.size),
        number_value("bold", facts.face.bold),    number_value("italic", facts.face.italic),
        name_value("charset", ""),            number_value("unicode", 1),
        number_value("stretchH", facts.stretch_h), number_value("smooth", facts.smooth),
        number_value("aa", 1),                list_value("padding", padding.c_str()),
        list_value("spacing", spacing.c_str()), number_value("outline", 0),
    };
    return append_record(text, syntax, "  ", "info", fields);
}

bool append_common(string_t* text, syntax_t syntax, const bmfont_font_t& font)
{
    const channels_t channels = channels_of(font);
    const field_value_t fields[] = {
        number_value("lineHeight", font.line_height), number_value("base", font.base),
        number_value("scaleW", font.page_width),      number_value("scaleH", font.page_height),
        number_value("pages", font.pages.size()),     number_value("packed", 0),
        number_value("alphaChnl", channels.alpha),    number_value("redChnl", channels.red),
        number_value("greenChnl", channels.green),    number_value("blueChnl", channels.blue),
    };
    return append_record(text, syntax, "  ", "common", fields);
}

bool append_page(string_t* text, syntax_t syntax, uint32_t id, const char* name)
{
    const field_value_t fields[] = { number_value("id", id), name_value("file", name) };
    return append_record(text, syntax, "    ", "page", fields);
}

bool append_distance_field(string_t* text, syntax_t syntax, const bmfont_font_t& font)
{
    field_value_t fields[] = { name_value("fieldType", distance_field_type_name(font.pictures.field_type())),
                               { "distanceRange", value_kind_t::real } };
    fields[1].real = double(font.pictures.distance_range);
    return append_record(text, syntax, "  ", "distanceField", fields);
}

// JSON's char objects also hold the character itself.
bool append_char(string_t* text, syntax_t syntax, const glyph_line_t& line)
{
    const character_text_t character(line.code);
    const field_value_t fields[] = {
        number_value("id", line.code),        name_value("char", character.c_str()),
        number_value("x", line.x),            number_value("y", line.y),
        number_value("width", line.width),    number_value("height", line.height),
        number_value("xoffset", line.left),   number_value("yoffset", line.top),
        number_value("xadvance", line.advance), number_value("page", line.picture),
        number_value("chnl", 15),
    };
    if (syntax == syntax_t::json)
        return append_record(text, syntax, "    ", "char", fields);
    const field_value_t without_character[] = { fields[0], fields[2], fields[3], fields[4],
                                                fields[5], fields[6], fields[7], fields[8],
                                                fields[9], fields[10] };
    return append_record(text, syntax, "    ", "char", without_character);
}

bool append_kerning(string_t* text, syntax_t syntax, const bmfont_kerning_t& pair)
{
    const field_value_t fields[] = { number_value("first", pair.first),
                                     number_value("second", pair.second),
                                     number_value("amount", pair.amount) };
    return append_record(text, syntax, "    ", "kerning", fields);
}

// Text and XML: the same records in the same order, XML with its elements around them.
bool append_text_or_xml(string_t* text, syntax_t syntax, const bmfont_font_t& font)
{
    const bool xml = syntax == syntax_t::xml;
    bool ok = !xml || text->append("<?xml version=\"1.0\"?>\n<font>\n");
    ok = append_info(text, syntax, font) && ok;
    ok = append_common(text, syntax, font) && ok;
    ok = (!xml || text->append("  <pages>\n")) && ok;
    for (uint32_t i = 0; i < font.pages.size(); ++i)
        ok = append_page(text, syntax, i, font.pages[i].c_str()) && ok;
    ok = (!xml || text->append("  </pages>\n")) && ok;
    if (font.pictures.is_distance_field())
        ok = append_distance_field(text, syntax, font) && ok;
    ok = (xml ? text->append_formatted("  <chars count=\"%u\">\n", font.chars.size())
              : text->append_formatted("chars count=%u\n", font.chars.size())) && ok;
    for (const bmfont_char_t& entry : font.chars)
        ok = append_char(text, syntax, entry.line) && ok;
    ok = (xml ? text->append_formatted("  </chars>\n  <kernings count=\"%u\">\n",
                                       font.kernings.size())
              : text->append_formatted("kernings count=%u\n", font.kernings.size())) && ok;
    for (const bmfont_kerning_t& pair : font.kernings)
        ok = append_kerning(text, syntax, pair) && ok;
    return (!xml || text->append("  </kernings>\n</font>\n")) && ok;
}

}  // namespace

bool append_bmfont_text(string_t* text, const bmfont_font_t& font)
{
    return append_text_or_xml(text, syntax_t::text, font);
}

bool append_bmfont_xml(string_t* text, const bmfont_font_t& font)
{
    return append_text_or_xml(text, syntax_t::xml, font);
}

bool append_bmfont_json(string_t* text, const bmfont_font_t& font)
{
    const syntax_t json = syntax_t::json;
    bool ok = text->append("{\"pages\":[");
    for (uint32_t i = 0; i < font.pages.size(); ++i)
    {
        const field_value_t name = name_value("file", font.pages[i].c_str());
        ok = (i == 0 || text->append_char(',')) && append_value(text, json, name) && ok;
    }
    ok = text->append("],\n\"chars\":[") && ok;
    for (uint32_t i = 0; i < font.chars.size(); ++i)
        ok = text->append(i == 0 ? "\n" : ",\n") && append_char(text, json, font.chars[i].line) &&
             ok;
    ok = text->append("],\n\"info\":") && append_info(text, json, font) && ok;
    ok = text->append(",\n\"common\":") && append_common(text, json, font) && ok;
    if (font.pictures.is_distance_field())
        ok = text->append(",\n\"distanceField\":") && append_distance_field(text, json, font) &&
             ok;
    ok = text->append(",\n\"kernings\":[") && ok;
    for (uint32_t i = 0; i < font.kernings.size(); ++i)
        ok = text->append(i == 0 ? "\n" : ",\n") && append_kerning(text, json, font.kernings[i]) &&
             ok;
    return text->append("]}\n") && ok;
}

// ---- the binary flavour -------------------------------------------------------------------

namespace
{

// A field's range, for the check before anything is written.
struct field_t
{
    const char* name;
    int64_t value;
    int64_t low;
    int64_t high;
    const char* kind;
};

constexpr int64_t u8_high = 0xFF;
constexpr int64_t u16_high = 0xFFFF;

field_t u8_field(const char* name, int64_t value) { return { name, value, 0, u8_high, "8 bits" }; }
field_t u16_field(const char* name, int64_t value)
{
    return { name, value, 0, u16_high, "16 bits" };
}
field_t s16_field(const char* name, int64_t value)
{
    return { name, value, INT16_MIN, INT16_MAX, "16 signed bits" };
}

bool fits(const field_t& field)
{
    return field.value >= field.low && field.value <= field.high;
}

void report_set_field(const bmfont_font_t& font, const field_t& field)
{
    msg_error("The %s %I64d of the element %u of 'char_config' (the character set file '%s') does "
              "not fit the %s of its bmfont_binary field.",
              field.name, field.value, font.label.element, font.label.file, field.kind);
}

void report_char_field(const bmfont_font_t& font, uint32_t code, const field_t& field)
{
    msg_error("The %s %I64d of the character U+%04x in the element %u of 'char_config' (the "
              "character set file '%s') does not fit the %s of its bmfont_binary field.",
              field.name, field.value, code, font.label.element, font.label.file, field.kind);
}

// Every value the binary flavour holds fits its field; the first that does not is reported.
bool has_binary_fields(const bmfont_font_t& font)
{
    const field_t set_fields[] = {
        s16_field("size", font.facts.size),
        u16_field("stretchH", font.facts.stretch_h),
        u16_field("lineHeight", font.line_height),
        u16_field("base", font.base),
        u16_field("scaleW", font.page_width),
        u16_field("scaleH", font.page_height),
        u16_field("pages", font.pages.size()),
    };
    for (const field_t& field : set_fields)
    {
        if (!fits(field))
        {
            report_set_field(font, field);
            return false;
        }
    }
    for (const bmfont_char_t& entry : font.chars)
    {
        const glyph_line_t& line = entry.line;
        const field_t fields[] = {
            u16_field("x", line.x),           u16_field("y", line.y),
            u16_field("width", line.width),   u16_field("height", line.height),
            s16_field("xoffset", line.left),  s16_field("yoffset", line.top),
            s16_field("xadvance", line.advance), u8_field("page", line.picture),
        };
        for (const field_t& field : fields)
        {
            if (!fits(field))
            {
                report_char_field(font, line.code, field);
                return false;
            }
        }
    }
    for (const bmfont_kerning_t& pair : font.kernings)
    {
        if (!fits(s16_field("amount", pair.amount)))
        {
            msg_error("The kerning amount %d from U+%04x to U+%04x in the element %u of "
                      "'char_config' (the character set file '%s') does not fit the 16 signed "
                      "bits of its bmfont_binary field.",
                      pair.amount, pair.first, pair.second, font.label.element, font.label.file);
            return false;
        }
    }
    return true;
}

// Little-endian bytes into a block of known size.
struct byte_writer_t
{
    uint8_t* at;
    void u8(uint32_t value) { *at++ = uint8_t(value); }
    void u16(uint32_t value)
    {
        u8(value);
        u8(value >> 8);
    }
    void u32(uint32_t value)
    {
        u16(value);
        u16(value >> 16);
    }
    void text(const char* value)
    {
        const std::size_t length = std::strlen(value) + 1;
        std::memcpy(at, value, length);
        at += length;
    }
    void block(uint32_t type, uint64_t size)
    {
        u8(type);
        u32(uint32_t(size));
    }
};

}  // namespace

bool append_bmfont_binary(array_dyn_t<uint8_t>* bytes, const bmfont_font_t& font)
{
    if (!has_binary_fields(font))
        return false;
    const uint64_t info_size = 14 + std::strlen(font.facts.face.family) + 1;
    uint64_t pages_size = 0;
    for (const string_dyn_t& name : font.pages)
        pages_size += name.length() + 1;
    const uint64_t chars_size = uint64_t(20) * font.chars.size();
    const uint64_t kernings_size = uint64_t(10) * font.kernings.size();
    const uint64_t total = 4 + 5 + info_size + 5 + 15 + 5 + pages_size + 5 + chars_size +
                           (kernings_size > 0 ? 5 + kernings_size : 0);
    const uint32_t start = bytes->size();
    if (total > UINT32_MAX - start || !bytes->resize(start + uint32_t(total)))
    {
        msg_error("Not enough memory for the bmfont_binary export of the element %u of "
                  "'char_config' (the character set file '%s').",
                  font.label.element, font.label.file);
        return false;
    }
    byte_writer_t out{ bytes->data() + start };
    out.text("BMF");  // its zero is overwritten by the version
    out.at[-1] = 3;

    const channels_t channels = channels_of(font);
    out.block(1, info_size);
    out.u16(uint32_t(font.facts.size));
    // The format counts bit 0 from the top: smooth, unicode, italic, bold.
    out.u8((font.facts.smooth ? 0x80 : 0) | 0x40 | (font.facts.face.italic ? 0x20 : 0) |
           (font.facts.face.bold ? 0x10 : 0));
    out.u8(0);  // charSet
    out.u16(uint32_t(font.facts.stretch_h));
    out.u8(1);  // aa
    for (int i = 0; i < 4; ++i)
        out.u8(font.facts.padding);  // up, right, down, left
    out.u8(font.facts.spacing);      // horizontal, vertical
    out.u8(font.facts.spacing);
    out.u8(0);  // outline
    out.text(font.facts.face.family);

    out.block(2, 15);
    out.u16(uint32_t(font.line_height));
    out.u16(uint32_t(font.base));
    out.u16(font.page_width);
    out.u16(font.page_height);
    out.u16(font.pages.size());
    out.u8(0);  // not packed
    out.u8(uint32_t(channels.alpha));
    out.u8(uint32_t(channels.red));
    out.u8(uint32_t(channels.green));
    out.u8(uint32_t(channels.blue));

    out.block(3, pages_size);
    for (const string_dyn_t& name : font.pages)
        out.text(name.c_str());

    out.block(4, chars_size);
    for (const bmfont_char_t& entry : font.chars)
    {
        const glyph_line_t& line = entry.line;
        out.u32(line.code);
        out.u16(line.x);
        out.u16(line.y);
        out.u16(uint32_t(line.width));
        out.u16(uint32_t(line.height));
        out.u16(uint32_t(line.left));
        out.u16(uint32_t(line.top));
        out.u16(uint32_t(line.advance));
        out.u8(line.picture);
        out.u8(15);
    }
    if (kernings_size > 0)
    {
        out.block(5, kernings_size);
        for (const bmfont_kerning_t& pair : font.kernings)
        {
            out.u32(pair.first);
            out.u32(pair.second);
            out.u16(uint32_t(pair.amount));
        }
    }
    return true;
}

// ---- writing the files --------------------------------------------------------------------

namespace
{

constexpr const char* descriptor_extensions[] = { "fnt", "xml", "bin", "json" };
static_assert(sizeof(descriptor_extensions) / sizeof(descriptor_extensions[0]) ==
              export_format_count);

void report_export_memory(const set_label_t& label)
{
    msg_error("Not enough memory for the export of the element %u of 'char_config' (the character "
              "set file '%s').",
              label.element, label.file);
}

// The page file paths of set k, and their names relative to the descriptor beside them.
bool name_pages(const finished_font_t& settings, uint32_t k, uint32_t count,
                array_dyn_t<string_dyn_t>* paths, array_dyn_t<string_dyn_t>* names)
{
    uint32_t digits = 1;
    for (uint32_t last = count > 0 ? count - 1 : 0; last >= 10; last /= 10)
        ++digits;
    if (!paths->resize(count) || !names->resize(count))
        return false;
    string_fixed_t<16> index;
    for (uint32_t i = 0; i < count; ++i)
    {
        if (!index.format("%u", i))
            return false;
        string_dyn_t& path = (*paths)[i];
        if (!path.format("%s%s-%u_", settings.base, settings.output, k))
            return false;
        for (uint32_t pad = index.length(); pad < digits; ++pad)
            if (!path.append_char('0'))
                return false;
        if (!path.append(index) || !path.append(".png"))
            return false;
        const char* slash = std::strrchr(path.c_str(), '/');
        if (!(*names)[i].assign(slash != nullptr ? slash + 1 : path.c_str()))
            return false;
    }
    return true;
}

bool write_export_file(const char* path, const void* bytes, uint32_t size)
{
    output_file_t file(path);
    if (!file)
    {
        msg_error("Failed to create the font export file '%s'.", path);
        return false;
    }
    if (!file->write(bytes, size))
    {
        msg_error("Failed to write the font export file '%s'.", path);
        return false;
    }
    return file.keep();
}

// One flavour of the set's descriptor at `path`.
bool write_descriptor(export_format_t format, const bmfont_font_t& font, const char* path)
{
    if (format == export_format_t::bmfont_binary)
    {
        array_dyn_t<uint8_t> bytes;
        if (!append_bmfont_binary(&bytes, font))
        {
            msg_error("Not enough memory for the font export file '%s'.", path);
            msg_error("Failed to write the font export file '%s'.", path);
            return false;
        }
        return write_export_file(path, bytes.data(), bytes.size());
    }
    string_dyn_t text;
    // Room for the whole text at once, so that a large set's text is not copied as it grows.
    const uint64_t expected =
        4096 + uint64_t(160) * font.chars.size() + uint64_t(64) * font.kernings.size();
    (void)text.reserve(uint32_t(std::min<uint64_t>(expected, UINT32_MAX / 2)));
    const bool formed = format == export_format_t::bmfont_text  ? append_bmfont_text(&text, font)
                        : format == export_format_t::bmfont_xml ? append_bmfont_xml(&text, font)
                                                                : append_bmfont_json(&text, font);
    if (!formed)
    {
        msg_error("Not enough memory for the font export file '%s'.", path);
        return false;
    }
    return write_export_file(path, text.c_str(), text.length());
}

// Set k's pages, then its descriptors: a descriptor appears only beside its pages.
bool write_set_export(const finished_font_t& finished, uint32_t k)
{
    const finished_set_t& entry = finished.sets[k];
    array_dyn_t<string_dyn_t> page_paths;
    array_dyn_t<string_dyn_t> page_names;
    bmfont_font_t font;
    if (!name_pages(finished, k, entry.picture_count, &page_paths, &page_names) ||
        !collect_bmfont(finished, k, page_names, &font))
    {
        report_export_memory(entry.set->label);
        return false;
    }
    for (uint32_t i = 0; i < entry.picture_count; ++i)
    {
        const font_canvas_t& canvas = *finished.pictures[entry.first_picture + i].canvas;
        if (!write_png_page(page_paths[i].c_str(), canvas, page_channels_of(entry.pictures.kind),
                            font.page_width, font.page_height))
            return false;
    }
    string_dyn_t path;
    for (uint32_t n = 0; n < export_format_count; ++n)
    {
        const export_format_t format = export_format_t(n);
        if ((finished.export_formats & export_format_bit(format)) == 0)
            continue;
        if (!path.format("%s%s-%u.%s", finished.base, finished.output, k,
                         descriptor_extensions[n]))
        {
            report_export_memory(font.label);
            return false;
        }
        if (!write_descriptor(format, font, path.c_str()))
            return false;
    }
    return true;
}

}  // namespace

bool write_bmfont_exports(const finished_font_t& font)
{
    for (uint32_t k = 0; k < font.sets.size(); ++k)
        if (!write_set_export(font, k))
            return false;
    return true;
}
