// Options mode: the option table, reading and checking the options, and the configuration text
// they make.
//
// Sections: the table; reading values; reading the command line; the configuration text; help.
#include "tools/font_generator/input/command_line_options.h"

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/near_names.h"
#include "ovcore/collections/string.h"
#include "ovcore/collections/text_encoding.h"
#include "ovcore/message.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/input/configuration.h"
#include "tools/font_generator/model/axis_setting.h"
#include "tools/font_generator/model/distance_field_type.h"
#include "tools/font_generator/model/export_formats.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/model/picture_kind.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

// ---- the table --------------------------------------------------------------------------------

namespace
{

enum class option_id_t : uint8_t
{
    font,
    size,
    width,
    height,
    chars,
    charset_file,
    text,
    output,
    export_formats,
    distance_field,
    distance_field_type,
    distance_range,
    opentype_kerning,
    max_picture_size,
    several_pictures,
    preview,
    colour,
    no_antialias,
    outline_width,
    line_spacing,
    padding,
    spacing,
    instance,
    variation,
    print_configuration,
    version,
    help,
};

enum class value_kind_t : uint8_t
{
    none,
    required,
    optional,  // only a value that starts with a digit is taken from the next argument
};

struct option_t
{
    const char* name;  // without the leading "--"
    option_id_t id;
    value_kind_t value;
    bool repeatable;
    const char* argument;  // the value's name in the help
    const char* help;
};

// In the order of the help; a mistyped name is matched to the first of equally near ones.
const option_t options[] = {
    { "font", option_id_t::font, value_kind_t::required, true, "FILE",
      "the font (required); again: fallback fonts, tried in order" },
    { "size", option_id_t::size, value_kind_t::required, false, "N",
      "glyph width and height in pixels (default 32)" },
    { "width", option_id_t::width, value_kind_t::required, false, "N", "glyph width alone" },
    { "height", option_id_t::height, value_kind_t::required, false, "N", "glyph height alone" },
    { "chars", option_id_t::chars, value_kind_t::required, true, "LIST",
      "characters: U+0041-U+005A,U+00A9 or 65-90,169 (repeatable)" },
    { "charset-file", option_id_t::charset_file, value_kind_t::required, false, "FILE",
      "a character-set file, one U+XXXX per line" },
    { "text", option_id_t::text, value_kind_t::required, true, "FILE",
      "every character of a UTF-8 text (repeatable)" },
    { "output", option_id_t::output, value_kind_t::required, false, "PATH",
      "folder and name of the outputs (default out/font)" },
    { "export", option_id_t::export_formats, value_kind_t::required, true, "FORMAT",
      "bmfont_text, bmfont_xml, bmfont_binary, bmfont_json; repeatable" },
    { "distance-field", option_id_t::distance_field, value_kind_t::none, false, "",
      "signed distance fields instead of coverage" },
    { "distance-field-type", option_id_t::distance_field_type, value_kind_t::required, false,
      "TYPE", "a distance field of that type: sdf, msdf (sharp corners) or mtsdf" },
    { "distance-range", option_id_t::distance_range, value_kind_t::required, false, "R",
      "pixels of distance from value 0 to 255, 1 to 64 (default 4)" },
    { "opentype-kerning", option_id_t::opentype_kerning, value_kind_t::none, false, "",
      "kerning from the font's OpenType layout" },
    { "max-picture-size", option_id_t::max_picture_size, value_kind_t::required, false, "N",
      "largest picture side, a power of two from 32 to 8192" },
    { "several-pictures", option_id_t::several_pictures, value_kind_t::none, false, "",
      "as many pictures as the glyphs need" },
    { "preview", option_id_t::preview, value_kind_t::required, false, "TEXT",
      "also write a preview picture of the text" },
    { "colour", option_id_t::colour, value_kind_t::optional, false, "[LEVEL]",
      "colour pictures, glyphs of that grey level (default 255)" },
    { "no-antialias", option_id_t::no_antialias, value_kind_t::none, false, "",
      "monochrome glyphs" },
    { "outline-width", option_id_t::outline_width, value_kind_t::required, false, "N",
      "margin in pixels around every glyph for an outline" },
    { "line-spacing", option_id_t::line_spacing, value_kind_t::required, false, "N",
      "pixels between lines (default 2)" },
    { "padding", option_id_t::padding, value_kind_t::required, false, "N",
      "empty pixels around every glyph inside its cell, 0 to 64" },
    { "spacing", option_id_t::spacing, value_kind_t::required, false, "N",
      "free pixels between cells, 0 to 64 (default 1)" },
    { "instance", option_id_t::instance, value_kind_t::required, false, "NAME",
      "a named instance of a variable font (\"Bold\")" },
    { "variation", option_id_t::variation, value_kind_t::required, true, "TAG=VALUE",
      "an axis setting of a variable font (wght=650; repeatable)" },
    { "print-configuration", option_id_t::print_configuration, value_kind_t::none, false, "",
      "print the configuration these options make, and do not run" },
    { "version", option_id_t::version, value_kind_t::none, false, "",
      "the versions of the tool and its libraries" },
    { "help", option_id_t::help, value_kind_t::none, false, "", "this text" },
};
constexpr uint32_t option_count = uint32_t(sizeof(options) / sizeof(options[0]));
static_assert(option_count == uint32_t(option_id_t::help) + 1 && option_count <= 32);

const char* argument_or_empty(const char* argument)
{
    return argument != nullptr ? argument : "";
}

// The option an argument "--name" or "--name=value" names; null for any other argument.
const option_t* find_option(const char* argument)
{
    if (argument[0] != '-' || argument[1] != '-')
        return nullptr;
    const char* name = argument + 2;
    const size_t length = std::strcspn(name, "=");
    for (const option_t& option : options)
        if (std::strlen(option.name) == length && std::strncmp(option.name, name, length) == 0)
            return &option;
    return nullptr;
}

// One option as the command line gives it.
struct typed_option_t
{
    const option_t* option = nullptr;
    const char* argument = nullptr;  // the option's own argument
    const char* value = nullptr;     // null: none given
    bool joined = false;             // "--name=value"
};

// The option at argv[*at] with its value; moves *at past a value taken from the next argument.
typed_option_t take_option(int argc, const char* const* argv, int* at)
{
    typed_option_t typed;
    typed.argument = argument_or_empty(argv[*at]);
    typed.option = find_option(typed.argument);
    if (typed.option == nullptr)
        return typed;
    const char* equals = std::strchr(typed.argument, '=');
    if (equals != nullptr)
    {
        typed.value = equals + 1;
        typed.joined = true;
        return typed;
    }
    if (*at + 1 >= argc)
        return typed;
    const char* next = argument_or_empty(argv[*at + 1]);
    const value_kind_t kind = typed.option->value;
    if (kind == value_kind_t::required || (kind == value_kind_t::optional && next[0] >= '0' &&
                                           next[0] <= '9'))
    {
        typed.value = next;
        ++*at;
    }
    return typed;
}

// The option as typed, for messages: "--name=value", "--name value" or "--name".
void describe_typed(const typed_option_t& typed, string_t* out)
{
    (void)out->assign(typed.argument);
    if (typed.joined || typed.value == nullptr)
        return;
    (void)out->append_char(' ');
    (void)out->append(typed.value[0] != 0 ? typed.value : "\"\"");
}

// Reports "<option as typed>: <reason>" and returns false.
template <typename... Args>
bool refuse(const typed_option_t& typed, checked_format_t<std::type_identity_t<Args>...> reason,
            Args... args)
{
    string_dyn_t text;
    describe_typed(typed, &text);
    (void)text.append(": ");
    (void)text.append_formatted(reason, args...);
    msg_error("%s", text.c_str());
    return false;
}

// ---- reading values ---------------------------------------------------------------------------

// A decimal number, optionally signed, from `low` to `high`.
bool read_whole_number(const char* text, int64_t low, int64_t high, int64_t* number)
{
    const bool negative = text[0] == '-';
    const char* digit = negative || text[0] == '+' ? text + 1 : text;
    if (*digit == 0)
        return false;
    int64_t value = 0;
    for (; *digit != 0; ++digit)
    {
        if (*digit < '0' || *digit > '9' || value > 100000000000)
            return false;
        value = value * 10 + (*digit - '0');
    }
    *number = negative ? -value : value;
    return *number >= low && *number <= high;
}

// A decimal real written as digits with an optional fraction ("8", "2.5", ".5").
bool read_real(const char* text, float* number)
{
    const char* at = text;
    bool digits = false;
    for (; *at >= '0' && *at <= '9'; ++at)
        digits = true;
    if (*at == '.')
        for (++at; *at >= '0' && *at <= '9'; ++at)
            digits = true;
    if (!digits || *at != 0 || at - text > 32)
        return false;
    *number = std::strtof(text, nullptr);  // the C locale's decimal point
    return true;
}

// One end of a character item: "U+" or "u+" and one to six hexadecimal digits, or a decimal
// code; moves `*at` past it.
bool read_code(const char** at, uint32_t* code)
{
    const char* text = *at;
    const bool hexadecimal = (text[0] == 'U' || text[0] == 'u') && text[1] == '+';
    if (hexadecimal)
        text += 2;
    const uint32_t base = hexadecimal ? 16 : 10;
    uint32_t value = 0;
    uint32_t digits = 0;
    for (;; ++text, ++digits)
    {
        uint32_t digit = 0;
        if (*text >= '0' && *text <= '9')
            digit = uint32_t(*text - '0');
        else if (hexadecimal && *text >= 'a' && *text <= 'f')
            digit = uint32_t(*text - 'a' + 10);
        else if (hexadecimal && *text >= 'A' && *text <= 'F')
            digit = uint32_t(*text - 'A' + 10);
        else
            break;
        if (digits == 7)
            return false;
        value = value * base + digit;
    }
    if (digits == 0 || (hexadecimal && digits > 6))
        return false;
    *code = value;
    *at = text;
    return true;
}

const char* skip_blanks(const char* text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    return text;
}

struct code_range_t
{
    uint32_t first;
    uint32_t last;
};

// One item of --chars: a code or a range of codes, blanks around its parts allowed.
bool read_character_item(const char* item, code_range_t* range)
{
    const char* at = skip_blanks(item);
    if (!read_code(&at, &range->first))
        return false;
    at = skip_blanks(at);
    range->last = range->first;
    if (*at == '-')
    {
        at = skip_blanks(at + 1);
        if (!read_code(&at, &range->last))
            return false;
        at = skip_blanks(at);
    }
    return *at == 0 && range->first <= range->last && range->last <= 0x10FFFF;
}

bool is_utf8(const char* text)
{
    for (const char* at = text; *at != 0;)
    {
        const utf8_sequence_t sequence = decode_utf8(at);
        if (sequence.length <= 0)
            return false;
        at += sequence.length;
    }
    return true;
}

// ---- reading the command line -----------------------------------------------------------------

// Short names other generators use for the export flavours: refused, the full name suggested.
const char* const short_export_names[] = { "txt", "xml", "bin", "json" };
static_assert(sizeof(short_export_names) / sizeof(short_export_names[0]) == export_format_count);

// Everything the options set; the paths point into the argument vector.
struct options_t
{
    array_dyn_t<const char*> fonts;  // font_file, then the fallback fonts
    uint32_t size = 32;
    uint32_t width = 0;   // 0: the size
    uint32_t height = 0;  // 0: the size
    array_dyn_t<code_range_t> ranges;
    const char* charset_file = nullptr;
    array_dyn_t<const char*> text_files;
    string_dyn_t base{ "out/" };
    string_dyn_t output{ "font" };
    array_dyn_t<export_format_t> exports;
    uint32_t export_bits = 0;
    bool distance_field = false;
    float distance_range = default_distance_range;
    bool distance_range_given = false;
    const char* field_type = nullptr;  // as typed; null: not given
    bool opentype_kerning = false;
    uint32_t max_picture_size = 0;  // 0: not given
    bool several_pictures = false;
    const char* preview = nullptr;
    int32_t colour_level = -1;  // -1: alpha pictures
    bool no_antialias = false;
    uint32_t outline_width = 0;
    string_dyn_t outline_typed;  // --outline-width as typed, for the distance-field check
    bool line_spacing_given = false;
    int32_t line_spacing = 2;
    int64_t padding = -1;  // -1: not given
    int64_t spacing = -1;
    const char* instance = nullptr;
    array_dyn_t<const char*> variations;
    array_dyn_t<uint32_t> variation_tags;
    bool print_configuration = false;
};

// Not enough memory is no mistake of the user's, but it ends the reading all the same.
bool report_no_memory()
{
    msg_error("Not enough memory for the configuration of the command line.");
    return false;
}

bool read_path(const typed_option_t& typed, const char** path)
{
    if (typed.value[0] == 0)
        return refuse(typed, "the path is empty.");
    *path = typed.value;
    return true;
}

bool read_font(const typed_option_t& typed, options_t* read)
{
    const char* path = nullptr;
    if (!read_path(typed, &path))
        return false;
    for (const char* earlier : read->fonts)
    {
        if (std::strcmp(earlier, path) == 0)
            return refuse(typed, "the font is named by an earlier --font.");
    }
    return read->fonts.append(path) || report_no_memory();
}

bool read_pixels(const typed_option_t& typed, const char* what, uint32_t* pixels)
{
    int64_t number = 0;
    if (!read_whole_number(typed.value, 1, MAX_CANVAS_SIDE, &number))
        return refuse(typed, "the glyph %s is from 1 to %u pixels.", what, MAX_CANVAS_SIDE);
    *pixels = uint32_t(number);
    return true;
}

// Calls `read_item` with every comma-separated item of the value, in order.
template <typename Read> bool read_list(const typed_option_t& typed, Read read_item)
{
    string_dyn_t item;
    for (const char* at = typed.value;;)
    {
        const size_t length = std::strcspn(at, ",");
        if (!item.assign(at, uint32_t(length)))
            return report_no_memory();
        if (!read_item(item.c_str()))
            return false;
        if (at[length] == 0)
            return true;
        at += length + 1;
    }
}

bool read_characters(const typed_option_t& typed, options_t* read)
{
    return read_list(typed, [&](const char* item) {
        code_range_t range;
        if (!read_character_item(item, &range))
            return refuse(typed,
                          "'%s' is not a code or a range of codes (U+0041, U+0020-U+007E, 65 or "
                          "32-126) up to U+10FFFF, the first at most the last.",
                          item);
        if (!range_has_characters(range.first, range.last))
            return refuse(typed,
                          "'%s' holds only surrogate codes (U+D800 to U+DFFF) and noncharacters "
                          "(U+FDD0 to U+FDEF, the last two codes of a plane), which no font has "
                          "as characters.",
                          item);
        return read->ranges.append(range) || report_no_memory();
    });
}

bool read_exports(const typed_option_t& typed, options_t* read)
{
    return read_list(typed, [&](const char* item) {
        export_format_t format;
        if (!find_export_format(item, &format))
        {
            for (uint32_t n = 0; n < export_format_count; ++n)
                if (std::strcmp(item, short_export_names[n]) == 0)
                    return refuse(typed, "the format '%s' is called %s.", item,
                                  export_format_name(export_format_t(n)));
            return refuse(typed,
                          "'%s' is not one of bmfont_text, bmfont_xml, bmfont_binary and "
                          "bmfont_json.",
                          item);
        }
        if ((read->export_bits & export_format_bit(format)) != 0)
            return refuse(typed, "the format %s is named more than once.", item);
        read->export_bits |= export_format_bit(format);
        return read->exports.append(format) || report_no_memory();
    });
}

// base: everything up to and including the last '/'; output: the rest.
bool read_output(const typed_option_t& typed, options_t* read)
{
    const char* slash = std::strrchr(typed.value, '/');
    const uint32_t base_length = slash != nullptr ? uint32_t(slash - typed.value) + 1 : 0;
    if (typed.value[base_length] == 0)
        return refuse(typed, "the outputs need a name after the last '/'.");
    return (read->base.assign(typed.value, base_length) &&
            read->output.assign(typed.value + base_length)) ||
           report_no_memory();
}

bool read_value(const typed_option_t& typed, options_t* read)
{
    int64_t number = 0;
    switch (typed.option->id)
    {
    case option_id_t::font:
        return read_font(typed, read);
    case option_id_t::size:
        return read_pixels(typed, "size", &read->size);
    case option_id_t::width:
        return read_pixels(typed, "width", &read->width);
    case option_id_t::height:
        return read_pixels(typed, "height", &read->height);
    case option_id_t::chars:
        return read_characters(typed, read);
    case option_id_t::charset_file:
        return read_path(typed, &read->charset_file);
    case option_id_t::text:
    {
        const char* path = nullptr;
        return read_path(typed, &path) && (read->text_files.append(path) || report_no_memory());
    }
    case option_id_t::output:
        return read_output(typed, read);
    case option_id_t::export_formats:
        return read_exports(typed, read);
    case option_id_t::distance_range:
    {
        float range = 0.0f;
        if (!read_real(typed.value, &range) || !(range >= min_distance_range) ||
            !(range <= max_distance_range))
            return refuse(typed, "the distance range is from %g to %g pixels.",
                          double(min_distance_range), double(max_distance_range));
        read->distance_range = range;
        read->distance_range_given = true;
        return true;
    }
    case option_id_t::distance_field_type:
    {
        distance_field_type_t type;
        if (!find_distance_field_type(typed.value, &type))
            return refuse(typed, "the distance field type is sdf, msdf or mtsdf.");
        // A field type asks for a field: it sets distance_field too.
        read->field_type = typed.value;
        read->distance_field = true;
        return true;
    }
    case option_id_t::max_picture_size:
        if (!read_whole_number(typed.value, 32, MAX_CANVAS_SIDE, &number) ||
            (number & (number - 1)) != 0)
            return refuse(typed, "the largest picture size is a power of two from 32 to %u.",
                          MAX_CANVAS_SIDE);
        read->max_picture_size = uint32_t(number);
        return true;
    case option_id_t::preview:
        if (!is_utf8(typed.value))
            return refuse(typed, "the text is not UTF-8.");
        read->preview = typed.value;
        return true;
    case option_id_t::colour:
        if (typed.value == nullptr)
            number = 255;
        else if (!read_whole_number(typed.value, 0, 255, &number))
            return refuse(typed, "the grey level is from 0 to 255.");
        read->colour_level = int32_t(number);
        return true;
    case option_id_t::outline_width:
        if (!read_whole_number(typed.value, 0, MAX_CANVAS_SIDE, &number))
            return refuse(typed, "the outline width is from 0 to %u pixels.", MAX_CANVAS_SIDE);
        read->outline_width = uint32_t(number);
        describe_typed(typed, &read->outline_typed);
        return true;
    case option_id_t::line_spacing:
        if (!read_whole_number(typed.value, -int64_t(MAX_CANVAS_SIDE), MAX_CANVAS_SIDE, &number))
            return refuse(typed, "the line spacing is from -%u to %u pixels.", MAX_CANVAS_SIDE,
                          MAX_CANVAS_SIDE);
        read->line_spacing = int32_t(number);
        read->line_spacing_given = true;
        return true;
    case option_id_t::padding:
    case option_id_t::spacing:
        if (!read_whole_number(typed.value, 0, max_glyph_room, &number))
            return refuse(typed, "the room around glyphs is from 0 to %u pixels.",
                          max_glyph_room);
        (typed.option->id == option_id_t::padding ? read->padding : read->spacing) = number;
        return true;
    case option_id_t::instance:
        read->instance = typed.value;
        return true;
    case option_id_t::variation:
    {
        axis_setting_t setting;
        if (!parse_axis_setting(typed.value, &setting))
            return refuse(typed, "an axis setting is a four-character tag, '=' and a number "
                                 "(wght=650).");
        for (uint32_t tag : read->variation_tags)
            if (tag == setting.tag)
                return refuse(typed, "the axis '%s' is set more than once.",
                              axis_tag_text(setting.tag).text);
        return (read->variations.append(typed.value) &&
                read->variation_tags.append(setting.tag)) ||
               report_no_memory();
    }
    default:
        break;  // the switches: set by switch_of
    }
    return true;
}

// The switch an option without a value sets; null for --version and --help, found before any
// value is read.
bool* switch_of(option_id_t id, options_t* read)
{
    switch (id)
    {
    case option_id_t::distance_field: return &read->distance_field;
    case option_id_t::opentype_kerning: return &read->opentype_kerning;
    case option_id_t::several_pictures: return &read->several_pictures;
    case option_id_t::no_antialias: return &read->no_antialias;
    case option_id_t::print_configuration: return &read->print_configuration;
    default: return nullptr;
    }
}

void report_unknown_option(const char* argument)
{
    msg_error("Unknown option '%s'.", argument);
    const char* name = argument;
    while (*name == '-')
        ++name;
    const uint32_t length = uint32_t(std::strcspn(name, "="));
    const uint32_t near = find_near_name(name, length, options, option_count, &option_t::name);
    if (near < option_count)
        msg_error("Did you mean '--%s'?", options[near].name);
}

// The first request for the usage text, the help or the version, whatever else the line holds.
options_request_t find_printing_request(int argc, const char* const* argv)
{
    for (int at = 1; at < argc; ++at)
    {
        const char* argument = argument_or_empty(argv[at]);
        if (std::strcmp(argument, "-?") == 0)
            return options_request_t::usage;
        if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0)
            return options_request_t::help;
        if (std::strcmp(argument, "--version") == 0)
            return options_request_t::version;
        (void)take_option(argc, argv, &at);
    }
    return options_request_t::run;
}

bool read_arguments(int argc, const char* const* argv, options_t* read)
{
    uint32_t given = 0;  // one bit per option
    for (int at = 1; at < argc; ++at)
    {
        const typed_option_t typed = take_option(argc, argv, &at);
        if (typed.option == nullptr)
        {
            if (typed.argument[0] == '-')
                report_unknown_option(typed.argument);
            else
                msg_error("%s: a configuration file is not read beside options; "
                          "--print-configuration writes the options as one.",
                          typed.argument);
            return false;
        }
        const option_t& option = *typed.option;
        if (option.value == value_kind_t::none && typed.value != nullptr)
            return refuse(typed, "the option takes no value.");
        if (option.value == value_kind_t::required && typed.value == nullptr)
            return refuse(typed, "the option needs a value.");
        const uint32_t bit = 1u << uint32_t(option.id);
        if ((given & bit) != 0 && !option.repeatable)
            return refuse(typed, "the option is given more than once.");
        given |= bit;
        if (option.value == value_kind_t::none)
        {
            if (bool* set = switch_of(option.id, read))
                *set = true;
        }
        else if (!read_value(typed, read))
            return false;
    }
    if (read->fonts.empty())
    {
        msg_error("--font is missing: the options need the font to draw.");
        return false;
    }
    // A distance field's margin is its range, as for a configuration file.
    if (read->distance_field && read->outline_width != 0)
    {
        msg_error("%s: a distance field takes its margin from the distance range, so the outline "
                  "width must be 0.",
                  read->outline_typed.c_str());
        return false;
    }
    return true;
}

// ---- the configuration text -------------------------------------------------------------------

// A quoted string of the unit text format.
bool append_quoted(string_t* text, const char* value)
{
    bool appended = text->append_char('"');
    for (const char* at = value; *at != 0 && appended; ++at)
    {
        const unsigned char byte = static_cast<unsigned char>(*at);
        if (byte == '"' || byte == '\\')
            appended = text->append_char('\\') && text->append_char(char(byte));
        else if (byte == '\n')
            appended = text->append("\\n");
        else if (byte == '\r')
            appended = text->append("\\r");
        else if (byte < 0x20 || byte == 0x7F)
            appended = text->append_formatted("\\x%02X", unsigned(byte));
        else
            appended = text->append_char(char(byte));
    }
    return appended && text->append_char('"');
}

bool append_string_line(string_t* text, const char* attribute, const char* value)
{
    return text->append_formatted("    %s: ", attribute) && append_quoted(text, value) &&
           text->append_char('\n');
}

bool append_element_line(string_t* text, const char* attribute, uint32_t index,
                         const char* value)
{
    return text->append_formatted("    %s[%u]: ", attribute, index) &&
           append_quoted(text, value) && text->append_char('\n');
}

// The shortest text that reads back as the same float, always with a point or an exponent.
bool append_real(string_t* text, float value)
{
    char digits[32];
    const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits - 3, value);
    *written.ptr = 0;
    if (std::strpbrk(digits, ".e") == nullptr)
        std::strcat(digits, ".0");
    return text->append(digits);
}

bool append_range(string_t* text, uint32_t index, const code_range_t& range)
{
    string_fixed_t<32> value;
    if (range.first == range.last)
        (void)value.format("U+%04X", range.first);
    else
        (void)value.format("U+%04X-U+%04X", range.first, range.last);
    return append_element_line(text, "character_ranges", index, value.c_str());
}

bool write_configuration(const options_t& read, string_t* text)
{
    bool written = text->assign("QsdNunit\n{\nconfiguration : .config {\n") &&
                   append_string_line(text, "base", read.base.c_str()) &&
                   append_string_line(text, "output", read.output.c_str());
    if (written && read.line_spacing_given)
        written = text->append_formatted("    line_spacing: %d\n", read.line_spacing);
    if (written && read.colour_level >= 0)
        written = text->append_formatted("    font_style: 1\n    gradient_color_start: %d\n",
                                         read.colour_level);
    if (written && read.preview != nullptr)
        written = append_string_line(text, "preview_text", read.preview);
    for (uint32_t n = 0; n < read.exports.size() && written; ++n)
        written = append_element_line(text, "export_formats", n,
                                      export_format_name(read.exports[n]));
    written = written && text->append("    char_config[0]: .chars.main\n}\n"
                                      "char_set_config : .chars.main {\n") &&
              append_string_line(text, "font_file", read.fonts[0]);
    for (uint32_t n = 1; n < read.fonts.size() && written; ++n)
        written = append_element_line(text, "fallback_font_files", n - 1, read.fonts[n]);
    if (written && read.charset_file != nullptr)
        written = append_string_line(text, "character_set_file", read.charset_file);
    for (uint32_t n = 0; n < read.ranges.size() && written; ++n)
        written = append_range(text, n, read.ranges[n]);
    // Printable ASCII when no option names characters.
    if (written && read.charset_file == nullptr && read.ranges.empty() && read.text_files.empty())
        written = append_range(text, 0, code_range_t{ 0x20, 0x7E });
    for (uint32_t n = 0; n < read.text_files.size() && written; ++n)
        written = append_element_line(text, "text_files", n, read.text_files[n]);
    written = written &&
              text->append_formatted("    width: %u\n    height: %u\n",
                                     read.width != 0 ? read.width : read.size,
                                     read.height != 0 ? read.height : read.size);
    if (written && read.no_antialias)
        written = text->append("    antialias: false\n");
    if (written && read.outline_width != 0)
        written = text->append_formatted("    outline_width: %u\n", read.outline_width);
    if (written && read.opentype_kerning)
        written = text->append("    opentype_kerning: true\n");
    if (written && read.max_picture_size != 0)
        written = text->append_formatted("    max_picture_size: %u\n", read.max_picture_size);
    if (written && read.several_pictures)
        written = text->append("    several_pictures: true\n");
    if (written && read.distance_field)
        written = text->append("    distance_field: true\n");
    if (written && read.field_type != nullptr)
        written = append_string_line(text, "distance_field_type", read.field_type);
    if (written && read.distance_range_given)
        written = text->append("    distance_range: ") &&
                  append_real(text, read.distance_range) && text->append_char('\n');
    if (written && read.padding >= 0)
        written = text->append_formatted("    glyph_padding: %u\n", uint32_t(read.padding));
    if (written && read.spacing >= 0)
        written = text->append_formatted("    glyph_spacing: %u\n", uint32_t(read.spacing));
    if (written && read.instance != nullptr)
        written = append_string_line(text, "font_instance", read.instance);
    for (uint32_t n = 0; n < read.variations.size() && written; ++n)
        written = append_element_line(text, "font_variations", n, read.variations[n]);
    return (written && text->append("}\n}\n")) || report_no_memory();
}

}  // namespace

bool has_long_option(int argc, const char* const* argv)
{
    for (int at = 1; at < argc; ++at)
        if (find_option(argument_or_empty(argv[at])) != nullptr)
            return true;
    return false;
}

options_request_t read_options(int argc, const char* const* argv, string_t* text)
{
    const options_request_t printing = find_printing_request(argc, argv);
    if (printing != options_request_t::run)
        return printing;
    options_t read;
    if (!read_arguments(argc, argv, &read) || !write_configuration(read, text))
        return options_request_t::refused;
    return read.print_configuration ? options_request_t::print_configuration
                                    : options_request_t::run;
}

// ---- help -------------------------------------------------------------------------------------

void report_options_help(const char* program)
{
    msg_info("The file read without an argument is etc/font/font.qsd; the configuration is "
             "described in README.md.");
    msg_info("Options (any of them makes the whole command line options):");
    string_dyn_t line;
    for (const option_t& option : options)
    {
        const bool help = option.id == option_id_t::help;
        (void)line.format("%s--%s %s", help ? "-h, " : "", option.name, option.argument);
        msg_info("  %-26s %s", line.c_str(), option.help);
    }
    msg_info("  %-26s %s", "-?", "the usage text alone");
    msg_info("Example: %s --font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf --size 24 "
             "--output out/ui --export bmfont_text",
             program);
}
