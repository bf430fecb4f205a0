// Test helpers for whole runs: the text of a configuration of one character set (writing
// out/font*), and the numbers of a description's glyph line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

// `configuration_extra` goes into the configuration unit, `set_extra` into the set's unit.
inline std::string one_set_configuration(const std::string& font, const std::string& characters,
                                         uint32_t pixels,
                                         const std::string& configuration_extra = "",
                                         const std::string& set_extra = "")
{
    return "QsdNunit\n{\n"
           "configuration : .config {\n"
           "    base: \"out/\"\n"
           "    output: \"font\"\n" +
           configuration_extra +
           "    char_config: 1\n"
           "    char_config[0]: .chars.set\n"
           "}\n"
           "char_set_config : .chars.set {\n"
           "    font_file: \"" + font + "\"\n"
           "    character_set_file: \"" + characters + "\"\n"
           "    width: " + std::to_string(pixels) + "\n"
           "    height: " + std::to_string(pixels) + "\n" +
           set_extra + "}\n}\n";
}

// The numbers P_x, P_y, W, H, L, T, A, I of the glyph line of the code; none when it has none.
inline std::vector<int> glyph_line(const std::string& description, uint32_t code)
{
    char key[16];
    std::snprintf(key, sizeof key, "\nx%04x,", code);
    const size_t at = description.find(key);
    if (at == std::string::npos)
        return {};
    std::vector<int> numbers(8);
    std::sscanf(description.c_str() + at + std::string(key).size(),
                "%d, %d, %d, %d, %d, %d, %d, %d", &numbers[0], &numbers[1], &numbers[2],
                &numbers[3], &numbers[4], &numbers[5], &numbers[6], &numbers[7]);
    return numbers;
}

// The lines of a text (LF or CR LF, the CR kept) that start with `start`, in order.
inline std::vector<std::string> lines_starting(const std::string& text, const std::string& start)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(start, 0) == 0)
            lines.push_back(line);
    return lines;
}
