// The run whose outputs are stored in tests/data/expected/alpha_outline and colour_gradient: two
// BDF sets, the first with an outline margin and a character the font lacks, the second of grey
// levels without a margin. Fonts and character-set files are written next to the configuration,
// so that every path in the run is relative.
#pragma once

#include "tests/ovcore/ufs/fs_test_support.h"

#include <filesystem>
#include <string>

// The picture styles of the stored outputs, by their folder names.
struct stored_style_t
{
    const char* name;
    const char* style;  // configuration lines
};

inline const stored_style_t stored_styles[] = {
    { "alpha_outline", "" },
    { "colour_gradient", "    font_style: 1\n"
                         "    gradient_color_start: 255\n"
                         "    gradient_color_step: 24\n"
                         "    gradient_start_offset: 4\n" },
};

// Writes the fonts, the character-set files and font.qsd with `style` and `extra` in the
// configuration unit and `set_extra` in both sets.
inline void write_stored_run(const scratch_directory_t& scratch, const std::string& style,
                             const std::string& extra = "", const std::string& set_extra = "")
{
    for (const char* font : { "shapes.bdf", "gray2.bdf" })
        std::filesystem::copy_file(OV_TEST_DATA_DIR "/fonts/" + std::string(font),
                                   scratch.path(font));
    write_file_bytes(scratch.path("shapes.chars"), "U+0020 space\nU+0021 exclam\n"
                                                   "U+002D hyphen\nU+004D M\nU+0068 h\n"
                                                   "U+00E9 e acute\n");
    write_file_bytes(scratch.path("gray.chars"), "U+0041 A\n");
    write_file_bytes(scratch.path("font.qsd"),
                     "QsdNunit\n{\n"
                     "configuration : .config {\n"
                     "    base: \"out/\"\n"
                     "    output: \"font\"\n"
                     "    line_spacing: 3\n"
                     "    default_scale: 0.5\n" +
                         style + extra +
                         "    char_config: 2\n"
                         "    char_config[0]: .chars.shapes\n"
                         "    char_config[1]: .chars.gray\n"
                         "}\n"
                         "char_set_config : .chars.shapes {\n"
                         "    font_file: \"shapes.bdf\"\n"
                         "    character_set_file: \"shapes.chars\"\n"
                         "    width: 14\n"
                         "    height: 14\n"
                         "    outline_width: 1\n" +
                         set_extra +
                         "}\n"
                         "char_set_config : .chars.gray {\n"
                         "    font_file: \"gray2.bdf\"\n"
                         "    character_set_file: \"gray.chars\"\n"
                         "    width: 8\n"
                         "    height: 8\n" +
                         set_extra + "}\n}\n");
}
