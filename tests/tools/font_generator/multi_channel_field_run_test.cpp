// Multi-channel sets, whole runs: kerning, a fallback font, several pictures and every export
// flavour for every field type; what the pictures, material and exports hold; the refusals.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/run_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char noto_thai[] = "/usr/share/fonts/truetype/noto/NotoSansThai-Regular.ttf";

// "AVTo.," from DejaVu Sans and U+0E01 from the fallback font, at 24 px.
process_result_t run(const scratch_directory_t& scratch, const std::string& set_extra,
                     const std::string& configuration_extra = "")
{
    write_file_bytes(scratch.path("set.chars"),
                     "U+0041\nU+0056\nU+0054\nU+006F\nU+002E\nU+002C\nU+0E01\n");
    write_file_bytes(scratch.path("font.qsd"),
                     one_set_configuration(dejavu_sans, "set.chars", 24, configuration_extra,
                                           "    fallback_font_files: 1\n"
                                           "    fallback_font_files[0]: \"" +
                                               std::string(noto_thai) + "\"\n" + set_extra));
    return run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
}

// A TGA's depth and pixel bytes.
struct tga_t
{
    int depth;
    std::string pixels;
};

tga_t read_tga(const std::string& path)
{
    const std::string bytes = read_file_bytes(path);
    return { uint8_t(bytes.at(16)), bytes.substr(18 + uint8_t(bytes.at(0))) };
}

const char* const exports = "    export_formats: 4\n"
                            "    export_formats[0]: \"bmfont_text\"\n"
                            "    export_formats[1]: \"bmfont_xml\"\n"
                            "    export_formats[2]: \"bmfont_binary\"\n"
                            "    export_formats[3]: \"bmfont_json\"\n"
                            "    preview_text: \"AVTo\"\n";

}  // namespace

TEST(multi_channel_field_run, every_type_with_kerning_a_fallback_font_pictures_and_exports)
{
    struct type_t
    {
        const char* name;
        int depth;
        const char* common;
        int png_colour_type;  // 4 grey and alpha, 6 RGBA
    };
    const type_t types[] = {
        { "sdf", 8, " alphaChnl=0 redChnl=4 greenChnl=4 blueChnl=4", 4 },
        { "msdf", 32, " alphaChnl=4 redChnl=0 greenChnl=0 blueChnl=0", 6 },
        { "mtsdf", 32, " alphaChnl=0 redChnl=0 greenChnl=0 blueChnl=0", 6 },
    };
    for (const char* kerning : { "", "    opentype_kerning: true\n" })
    {
        SCOPED_TRACE(kerning);
        scratch_directory_t scratches[3];
        for (int t = 0; t < 3; ++t)
        {
            SCOPED_TRACE(types[t].name);
            const process_result_t result =
                run(scratches[t],
                    std::string(kerning) +
                        "    distance_field: true\n    distance_range: 8\n"
                        "    distance_field_type: \"" +
                        types[t].name +
                        "\"\n"
                        "    max_picture_size: 64\n    several_pictures: true\n",
                    exports);
            ASSERT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(result.err, "");
        }
        const std::vector<std::string> files = sorted_file_names(scratches[0].path("out"));
        const std::string description = read_file_bytes(scratches[0].path("out/font.font"));
        ASSERT_FALSE(lines_starting(description, "kern").empty());
        ASSERT_TRUE(std::count(files.begin(), files.end(), "font_1.tga")) << "several pictures";
        for (int t = 0; t < 3; ++t)
        {
            SCOPED_TRACE(types[t].name);
            const scratch_directory_t& scratch = scratches[t];
            // The same cells, glyph lines and kerning, in the same files.
            EXPECT_EQ(sorted_file_names(scratch.path("out")), files);
            EXPECT_EQ(read_file_bytes(scratch.path("out/font.font")), description);
            const std::string text = read_file_bytes(scratch.path("out/font-0.fnt"));
            EXPECT_EQ(lines_starting(text, "distanceField"),
                      (std::vector<std::string>{ std::string("distanceField fieldType=\"") +
                                                 types[t].name + "\" distanceRange=8" }));
            EXPECT_NE(text.find(std::string(types[t].common) + "\n"), std::string::npos);
            for (const char* other : { "out/font-0.xml", "out/font-0.json" })
                EXPECT_NE(read_file_bytes(scratch.path(other))
                              .find(std::string("\"") + types[t].name + "\""),
                          std::string::npos)
                    << other;
            for (int picture = 0; picture < 2; ++picture)
            {
                const std::string number = std::to_string(picture);
                const std::string material =
                    read_file_bytes(scratch.path("out/font_" + number + ".mat"));
                const std::string typed =
                    t == 0 ? std::string()
                           : std::string("\tdistance_field_type : \"") + types[t].name + "\"\r\n";
                EXPECT_EQ(material, "material : \"ui.distance_field\" {\r\n\ttexture : \"font_" +
                                        number +
                                        ".tobj\"\r\n\ttexture_name : \"texture\"\r\n"
                                        "\tdistance_range : \"8\"\r\n" +
                                        typed + "}\r\n");
                const std::string page =
                    read_file_bytes(scratch.path("out/font-0_" + number + ".png"));
                EXPECT_EQ(int(uint8_t(page.at(25))), types[t].png_colour_type);
                const tga_t tga = read_tga(scratch.path("out/font_" + number + ".tga"));
                EXPECT_EQ(tga.depth, types[t].depth);
                if (t == 0)
                    continue;
                // B, G, R, A: mtsdf's alpha is the sdf run's field byte for byte; msdf's is 255
                // wherever a cell put channels.
                const tga_t field = read_tga(scratches[0].path("out/font_" + number + ".tga"));
                ASSERT_EQ(tga.pixels.size(), 4 * field.pixels.size());
                int differ = 0;
                int coloured = 0;
                for (size_t i = 0; i < field.pixels.size(); ++i)
                {
                    const char* pixel = tga.pixels.data() + 4 * i;
                    coloured += pixel[0] != pixel[1] || pixel[1] != pixel[2];
                    if (t == 2)
                        differ += pixel[3] != field.pixels[i];
                    else
                        differ += (pixel[0] | pixel[1] | pixel[2]) != 0 && uint8_t(pixel[3]) != 255;
                }
                EXPECT_EQ(differ, 0);
                EXPECT_GT(coloured, 0) << "three channels that differ near corners";
            }
        }
    }
}

TEST(multi_channel_field_run, unknown_types_and_types_without_a_field_are_refused)
{
    struct case_t
    {
        const char* set_extra;
        const char* error;
    };
    const case_t cases[] = {
        { "    distance_field: true\n    distance_field_type: \"MSDF\"\n",
          "The distance_field_type 'MSDF' of the element 0 of 'char_config' in the configuration "
          "file 'font.qsd' is not \"sdf\", \"msdf\" or \"mtsdf\"." },
        { "    distance_field_type: \"mtsdf\"\n",
          "The element 0 of 'char_config' in the configuration file 'font.qsd' has the "
          "distance_field_type \"mtsdf\" without distance_field: true." },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.set_extra);
        scratch_directory_t scratch;
        const process_result_t result = run(scratch, c.set_extra);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, std::string("*** ERROR *** : ") + c.error +
                                  "\r\n*** ERROR *** : Failed to read the configuration file "
                                  "'font.qsd'.\r\n");
        EXPECT_TRUE(sorted_file_names(scratch.path("out")).empty());
    }
}
