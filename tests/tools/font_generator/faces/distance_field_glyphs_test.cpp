// Distance-field glyphs of real fonts: the cell, bearings and advance against FreeType's own
// metrics of the unhinted glyph, the 0.5 level where its antialiased rendering puts half
// coverage, no false missing-glyph warnings, and fields made again for drawing.
#include "tests/tools/font_generator/faces/font_faces_fixture.h"
#include "tools/font_generator/faces/distance_field.h"
#include "tools/font_generator/faces/glyph_measuring.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>

namespace
{

const char* const noto_sans = "/usr/share/fonts/truetype/noto/NotoSans-Regular.ttf";
const char* const inter_variable = "/usr/share/fonts/truetype/inter-vf/Inter.var.ttf";

glyph_render_settings_t field_settings(float range)
{
    glyph_render_settings_t settings;
    settings.distance_field = true;
    settings.distance_range = range;
    return settings;
}

void add_ascii(character_set_t* set)
{
    for (uint32_t code = 0x20; code <= 0x7E; ++code)
        add_glyph(set, code, "");
}

using distance_field_glyphs = font_faces_test;

TEST_F(distance_field_glyphs, cell_bearings_and_advance_follow_freetypes_unhinted_glyph)
{
    struct case_t
    {
        uint32_t pixels;
        float range;
    };
    for (const case_t& c : { case_t{ 16, 4.0f }, case_t{ 32, 5.0f }, case_t{ 64, 8.0f } })
    {
        SCOPED_TRACE(c.pixels);
        FT_FaceRec_* face = open(dejavu_sans, c.pixels);
        ASSERT_NE(face, nullptr);
        character_set_t set;
        add_ascii(&set);
        set_glyphs_t known;
        uint64_t budget = glyph_store_t::default_budget;
        ASSERT_TRUE(known.reset(set.glyphs.size()));
        ASSERT_TRUE(measure_glyphs(&set, face, field_settings(c.range), &known, &budget));
        const int32_t pad = int32_t(distance_field_padding(c.range));
        uint32_t compared_pixels = 0;
        for (uint32_t position = 0; position < set.glyphs.size(); ++position)
        {
            const font_glyph_t& glyph = set.glyphs[position];
            SCOPED_TRACE(glyph.code);
            ASSERT_TRUE(glyph.rasterized);
            ASSERT_EQ(FT_Load_Char(face, glyph.code, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP), 0);
            EXPECT_EQ(glyph.advance, (face->glyph->advance.x + 32) >> 6);
            ASSERT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL), 0);
            const FT_Bitmap& coverage = face->glyph->bitmap;
            if (coverage.width == 0)
            {
                EXPECT_EQ(glyph.width, 0);  // the space: an empty cell
                EXPECT_EQ(glyph.height, 0);
                continue;
            }
            EXPECT_EQ(glyph.left, face->glyph->bitmap_left - pad);
            EXPECT_EQ(glyph.top, face->glyph->bitmap_top + pad);
            EXPECT_EQ(glyph.width, int32_t(coverage.width) + 2 * pad);
            EXPECT_EQ(glyph.height, int32_t(coverage.rows) + 2 * pad);
            glyph_bitmap_t field;
            ASSERT_TRUE(known.find_bitmap(position, &field));
            ASSERT_EQ(field.width, glyph.width);
            // Placed by L and T, the field is 0.5 or more where FreeType covers most of a pixel
            // and below where it covers little.
            for (uint32_t r = 0; r < coverage.rows; ++r)
                for (uint32_t col = 0; col < coverage.width; ++col)
                {
                    const uint8_t covered = coverage.buffer[r * coverage.pitch + col];
                    const uint8_t value = field.coverage_at(int32_t(r) + pad, int32_t(col) + pad);
                    if (covered >= 224)
                    {
                        EXPECT_GE(value, 128) << "row " << r << " column " << col;
                    }
                    else if (covered <= 32)
                    {
                        EXPECT_LT(value, 128) << "row " << r << " column " << col;
                    }
                    ++compared_pixels;
                }
        }
        EXPECT_GT(compared_pixels, 500u);
    }
}

TEST_F(distance_field_glyphs, ordinary_fonts_give_no_missing_glyph_warnings)
{
    for (const char* font : { dejavu_sans, noto_sans, inter_variable })
        for (uint32_t pixels : { 16u, 32u, 64u })
        {
            SCOPED_TRACE(std::string(font) + " at " + std::to_string(pixels));
            FT_FaceRec_* face = open(font, pixels);
            ASSERT_NE(face, nullptr);
            character_set_t set;
            add_ascii(&set);
            message_capture_t capture;
            EXPECT_TRUE(measure_glyphs(&set, face, field_settings(4.0f), nullptr, nullptr));
            EXPECT_TRUE(capture.lines.empty()) << capture.lines.front();
            for (const font_glyph_t& glyph : set.glyphs)
                EXPECT_TRUE(glyph.rasterized) << glyph.code;
        }
}

TEST_F(distance_field_glyphs, a_box_of_whole_pixels_still_warns)
{
    // shapes.bdf's box is a bitmap font: here the same 4 × 4 box as an outline on whole pixels,
    // drawn at its size, fills its cell without a partial pixel.
    FT_Vector points[] = { { 0, 0 }, { 256, 0 }, { 256, 256 }, { 0, 256 } };
    char tags[] = { FT_CURVE_TAG_ON, FT_CURVE_TAG_ON, FT_CURVE_TAG_ON, FT_CURVE_TAG_ON };
    short ends[] = { 3 };
    FT_Outline box{};
    box.n_contours = 1;
    box.n_points = 4;
    box.points = points;
    box.tags = tags;
    box.contours = ends;
    distance_field_t field;
    ASSERT_TRUE(field.build(box, 4.0f));
    font_glyph_t glyph;
    glyph.code = 0x25A0;
    (void)glyph.name.assign("box");
    message_capture_t capture;
    check_glyph_bitmap(glyph, field.interior());
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_NE(capture.lines[0].find("The glyph 'box' rasterized to solid rectangle."),
              std::string::npos);
}

TEST_F(distance_field_glyphs, fields_made_again_for_drawing_equal_the_kept_ones)
{
    FT_FaceRec_* face = open(dejavu_sans, 24);
    ASSERT_NE(face, nullptr);
    character_set_t set;
    add_ascii(&set);
    add_glyph(&set, 0x4E00, "undefined");
    set_glyphs_t known;
    uint64_t budget = glyph_store_t::default_budget;
    ASSERT_TRUE(known.reset(set.glyphs.size()));
    message_capture_t capture;
    ASSERT_TRUE(measure_glyphs(&set, face, field_settings(6.0f), &known, &budget));
    // Undefined: measured by nobody, drawn by nobody.
    EXPECT_FALSE(set.glyphs.last().rasterized);

    face_glyph_source_t again(face, set, field_settings(6.0f), nullptr);
    for (uint32_t position = 0; position + 1 < set.glyphs.size(); ++position)
    {
        SCOPED_TRACE(set.glyphs[position].code);
        glyph_bitmap_t kept;
        ASSERT_TRUE(known.find_bitmap(position, &kept));
        glyph_bitmap_t made;
        if (!again.get_bitmap(position, &made))
        {
            EXPECT_EQ(kept.width * kept.rows, 0);  // the space
            continue;
        }
        EXPECT_EQ(pixels_of(made), pixels_of(kept));
    }
    EXPECT_EQ(again.first_lost_glyph(), -1);
}

}  // namespace
