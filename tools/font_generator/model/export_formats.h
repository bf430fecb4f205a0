// The descriptor flavours the export writes for other engines, by their configuration names.
#pragma once

#include <cstdint>

enum class export_format_t : uint32_t
{
    bmfont_text,    // <base><output>-<k>.fnt
    bmfont_xml,     // .xml
    bmfont_binary,  // .bin
    bmfont_json,    // .json
};

constexpr uint32_t export_format_count = 4;

// The configuration name of a flavour ("bmfont_text", ...).
const char* export_format_name(export_format_t format);

// The flavour a configuration name stands for; false for any other text.
[[nodiscard]] bool find_export_format(const char* name, export_format_t* format);

// One bit per flavour, bit n for the flavour of value n.
constexpr uint32_t export_format_bit(export_format_t format)
{
    return 1u << uint32_t(format);
}
