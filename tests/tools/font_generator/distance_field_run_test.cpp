// Distance-field sets, whole runs: what the material and texture object say, kerning as for
// coverage glyphs, several pictures, today's bytes without the attribute, and every refusal
// before any output.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/run_test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace
{

const char dejavu_sans[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string shapes_bdf = OV_TEST_DATA_DIR "/fonts/shapes.bdf";

struct run_t
{
    process_result_t result;
    std::vector<std::string> files;
};

// One set of DejaVu Sans at 24 px over "AVTo.," (a few kerning pairs) and the set's extra lines.
run_t run(const scratch_directory_t& scratch, const std::string& set_extra,
          const std::string& font = dejavu_sans,
          const std::string& configuration_extra = "")
{
    write_file_bytes(scratch.path("set.chars"), "U+0041\nU+0056\nU+0054\nU+006F\nU+002E\nU+002C\n");
    write_file_bytes(scratch.path("font.qsd"),
                     one_set_configuration(font, "set.chars", 24, configuration_extra, set_extra));
    run_t outcome;
    outcome.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    outcome.files = sorted_file_names(scratch.path("out"));
    return outcome;
}

}  // namespace

TEST(distance_field_run, writes_the_distance_field_material_and_linear_texture_object)
{
    scratch_directory_t scratch;
    const run_t outcome = run(scratch, "    distance_field: true\n    distance_range: 6.5\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    EXPECT_EQ(outcome.result.err, "");
    EXPECT_EQ(read_file_bytes(scratch.path("out/font_0.mat")),
              "material : \"ui.distance_field\" {\r\n\ttexture : \"font_0.tobj\"\r\n"
              "\ttexture_name : \"texture\"\r\n\tdistance_range : \"6.5\"\r\n}\r\n");
    EXPECT_EQ(read_file_bytes(scratch.path("out/font_0.tobj")),
              "map 2d font_0.tga\r\naddr clamp_to_edge clamp_to_edge\r\nusage data\r\n");
    // A cell grows by ceil(6.5 / 2) = 4 pixels on every side: 'A' is 16 pixels wide unhinted.
    const std::vector<int> letter_a =
        glyph_line(read_file_bytes(scratch.path("out/font.font")), 0x41);
    ASSERT_EQ(letter_a.size(), 8u);
    EXPECT_EQ(letter_a[2], 17 + 8);
}

TEST(distance_field_run, exports_say_the_field_and_its_range)
{
    scratch_directory_t scratch;
    const run_t outcome = run(scratch, "    distance_field: true\n    distance_range: 6.5\n",
                              dejavu_sans, "    export_formats[0]: \"bmfont_text\"\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    const std::string descriptor = read_file_bytes(scratch.path("out/font-0.fnt"));
    EXPECT_EQ(lines_starting(descriptor, "distanceField"),
              (std::vector<std::string>{ "distanceField fieldType=\"sdf\" distanceRange=6.5" }));
    EXPECT_NE(descriptor.find(" alphaChnl=0 redChnl=4 greenChnl=4 blueChnl=4\n"),
              std::string::npos);
}

TEST(distance_field_run, kerning_is_as_for_coverage_glyphs)
{
    for (const char* kerning : { "", "    opentype_kerning: true\n" })
    {
        SCOPED_TRACE(kerning);
        scratch_directory_t coverage;
        scratch_directory_t field;
        ASSERT_EQ(run(coverage, kerning).result.status, 0);
        ASSERT_EQ(run(field, std::string(kerning) + "    distance_field: true\n").result.status, 0);
        const std::vector<std::string> pairs =
            lines_starting(read_file_bytes(coverage.path("out/font.font")), "kern");
        EXPECT_GE(pairs.size(), 3u);
        EXPECT_EQ(lines_starting(read_file_bytes(field.path("out/font.font")), "kern"), pairs);
    }
}

TEST(distance_field_run, without_the_attribute_the_bytes_are_todays)
{
    // Today's configuration, and the same with attributes that change nothing.
    const std::pair<const char*, const char*> pairs[] = {
        { "", "    distance_field: false\n    distance_range: 9\n" },
        { "", "    distance_field_type: \"sdf\"\n" },
        { "    distance_field: true\n",
          "    distance_field: true\n    distance_field_type: \"sdf\"\n" },
    };
    const std::string exports = "    export_formats: 4\n    export_formats[0]: \"bmfont_text\"\n"
                                "    export_formats[1]: \"bmfont_xml\"\n"
                                "    export_formats[2]: \"bmfont_binary\"\n"
                                "    export_formats[3]: \"bmfont_json\"\n";
    for (const auto& [today_set, same_set] : pairs)
    {
        SCOPED_TRACE(same_set);
        scratch_directory_t today;
        scratch_directory_t same;
        ASSERT_EQ(run(today, today_set, dejavu_sans, exports).result.status, 0);
        ASSERT_EQ(run(same, same_set, dejavu_sans, exports).result.status, 0);
        const std::vector<std::string> files = sorted_file_names(today.path("out"));
        EXPECT_EQ(sorted_file_names(same.path("out")), files);
        for (const std::string& name : files)
            EXPECT_TRUE(read_file_bytes(today.path("out/" + name)) ==
                        read_file_bytes(same.path("out/" + name)))
                << name;
    }
}

TEST(distance_field_run, fills_several_pictures_within_the_limit)
{
    scratch_directory_t scratch;
    const run_t outcome =
        run(scratch, "    distance_field: true\n    distance_range: 16\n"
                     "    max_picture_size: 64\n    several_pictures: true\n");
    ASSERT_EQ(outcome.result.status, 0) << outcome.result.err;
    EXPECT_EQ(outcome.files.size(), 1u + 3u * 3u) << "three pictures";
    for (const char* name : { "out/font_1.mat", "out/font_2.mat" })
        EXPECT_NE(read_file_bytes(scratch.path(name)).find("ui.distance_field"), std::string::npos);
}

TEST(distance_field_run, bad_ranges_margins_and_bitmap_fonts_are_refused_before_any_output)
{
    struct case_t
    {
        const char* name;
        std::string set_extra;
        std::string font;
        std::vector<std::string> errors;
    };
    const std::string bdf_refused =
        "The font file '" + shapes_bdf + "' has no outlines: the element 0 of 'char_config' (the "
        "character set file 'set.chars') is a distance field and needs outline fonts.";
    const case_t cases[] = {
        { "range too small", "    distance_range: 0.5\n", dejavu_sans,
          { "The distance_range 0.5 of the element 0 of 'char_config' in the configuration file "
            "'font.qsd' is not from 1 to 64 pixels.",
            "Failed to read the configuration file 'font.qsd'." } },
        { "range too large", "    distance_field: true\n    distance_range: 64.5\n", dejavu_sans,
          { "The distance_range 64.5 of the element 0 of 'char_config' in the configuration file "
            "'font.qsd' is not from 1 to 64 pixels.",
            "Failed to read the configuration file 'font.qsd'." } },
        { "outline margin", "    distance_field: true\n    outline_width: 2\n", dejavu_sans,
          { "The element 0 of 'char_config' in the configuration file 'font.qsd' is a distance "
            "field with an outline_width of 2: a distance field takes its margin from "
            "distance_range, so outline_width must be 0.",
            "Failed to read the configuration file 'font.qsd'." } },
        { "bitmap font", "    distance_field: true\n", shapes_bdf, { bdf_refused } },
        { "bitmap fallback font",
          "    distance_field: true\n    fallback_font_files[0]: \"" + shapes_bdf + "\"\n",
          dejavu_sans, { bdf_refused } },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.name);
        scratch_directory_t scratch;
        const run_t outcome = run(scratch, c.set_extra, c.font);
        EXPECT_EQ(outcome.result.status, 1);
        // A bitmap font is refused before anything is said about its fixed sizes.
        std::string expected;
        for (const std::string& error : c.errors)
            expected += "*** ERROR *** : " + error + "\r\n";
        EXPECT_EQ(outcome.result.err, expected);
        EXPECT_TRUE(outcome.files.empty());
    }
}
