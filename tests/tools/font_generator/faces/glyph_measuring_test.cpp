// Glyph measuring: cells, bearings and extents, the missing-glyph checks, grey levels, kept
// bitmaps and the drawing-pass bitmaps, on hand-written BDF fonts with exact bitmaps and on
// Debian's fonts.
#include "tools/font_generator/faces/glyph_measuring.h"

#include "ovcore/sys_pages.h"
#include "ovcore/ufs/sys_file.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/tools/font_generator/faces/font_faces_fixture.h"
#include "tests/tools/font_generator/faces/render_settings_support.h"
#include "tools/font_generator/faces/glyph_measuring.h"
#include "tools/font_generator/kerning/kerning.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstring>
#include <limits>

TEST_F(font_faces_test, warns_about_bitmaps_that_look_like_missing_glyphs)
{
    struct case_t
    {
        uint32_t code;
        const char* name;
        std::vector<std::string> warnings;
    };
    const case_t cases[] = {
        { 0x20, "space", {} },  // empty, but a space may be
        { 0x21, "exclam", {} },
        { 0x2D, "hyphen", {} },  // a solid bar is a legitimate hyphen
        { 0x4D, "M", {} },
        { 0x68, "h", {} },
        { 0x58, "X", { "The glyph 'X' rasterized to solid rectangle." } },
        { 0x62, "box", { "The glyph 'box' rasterized to full-sized rectangle." } },
        { 0x63, "two", { "The glyph 'two' rasterized to solid rectangle." } },
        { 0x64, "corner", { "The glyph 'corner' rasterized to rectangle in top-left corner." } },
        { 0x65, "blank", { "The glyph 'blank' rasterized to empty space." } },
        // 5 x 0: no pixels, so no shape can be told; only the dimensions are suspicious.
        { 0x66, "flat", { "The glyph 'flat' has suspicious dimensions of 5 x 0 pixels." } },
    };
    FT_FaceRec_* face = open(fixtures + "shapes.bdf", 14);
    ASSERT_NE(face, nullptr);
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.name);
        character_set_t set;
        add_glyph(&set, c.code, c.name);
        message_capture_t capture;
        EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), nullptr, nullptr));
        EXPECT_EQ(capture.lines, c.warnings);
        EXPECT_TRUE(set.glyphs[0].rasterized);
    }
}

TEST_F(font_faces_test, warns_about_a_letter_without_pixels_in_both_directions)
{
    glyph_bitmap_t bitmap;  // 0 x 0
    font_glyph_t glyph;
    glyph.code = 0x41;
    (void)glyph.name.assign("A");
    message_capture_t capture;
    check_glyph_bitmap(glyph, bitmap);
    EXPECT_EQ(capture.lines, std::vector<std::string>{
                                 "The glyph 'A' has suspicious dimensions of 0 x 0 pixels." });
}

TEST_F(font_faces_test, corner_patterns_need_two_columns_and_two_rows)
{
    struct case_t
    {
        uint32_t code;
        int32_t width;
        int32_t rows;
        std::vector<uint8_t> pixels;  // grey, rows from the top
        std::vector<std::string> warnings;
    };
    const case_t cases[] = {
        // The monochrome space: a blank 1 x 1 bitmap, no corner to speak of.
        { 0x20, 1, 1, { 0 }, {} },
        // One column of nothing: empty, and no corner.
        { 0x41, 1, 3, { 0, 0, 0 }, { "The glyph 'g' rasterized to empty space." } },
        // 2 x 2 with only its top-left pixel: still the top-left corner.
        { 0x42, 2, 2, { 255, 0, 0, 0 },
          { "The glyph 'g' rasterized to rectangle in top-left corner." } },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.code);
        glyph_bitmap_t bitmap;
        bitmap.width = c.width;
        bitmap.rows = c.rows;
        bitmap.pitch = c.width;
        bitmap.mode = glyph_pixel_mode_t::gray;
        bitmap.top_row = c.pixels.data();
        font_glyph_t glyph;
        glyph.code = c.code;
        (void)glyph.name.assign("g");
        message_capture_t capture;
        check_glyph_bitmap(glyph, bitmap);
        EXPECT_EQ(capture.lines, c.warnings);
    }
}

TEST_F(font_faces_test, a_monochrome_space_says_nothing)
{
    FT_FaceRec_* face = open(dejavu_sans, 16);
    ASSERT_NE(face, nullptr);
    character_set_t set;
    add_glyph(&set, 0x20, "SPACE");
    message_capture_t capture;
    EXPECT_TRUE(measure_glyphs(&set, face, coverage(false, 0), nullptr, nullptr));
    EXPECT_EQ(capture.lines, std::vector<std::string>{});
}

TEST_F(font_faces_test, characters_blank_by_nature_draw_nothing_without_a_warning)
{
    // Spaces, joiners and the like are meant to be empty, antialiased and monochrome; the
    // Braille blank is a pattern that happens to have no dots, and still warns.
    for (const bool antialias : { true, false })
    {
        SCOPED_TRACE(antialias);
        FT_FaceRec_* face = open(dejavu_sans, 16);
        ASSERT_NE(face, nullptr);
        character_set_t set;
        for (const uint32_t code : { 0x20u, 0xA0u, 0x2000u, 0x2005u, 0x200Au, 0x202Fu, 0x034Fu })
            add_glyph(&set, code, "blank");
        add_glyph(&set, 0x2800, "braille");
        message_capture_t capture;
        EXPECT_TRUE(measure_glyphs(&set, face, coverage(antialias, 0), nullptr, nullptr));
        EXPECT_EQ(capture.lines,
                  std::vector<std::string>{ antialias
                                                ? "The glyph 'braille' has suspicious dimensions "
                                                  "of 0 x 0 pixels."
                                                : "The glyph 'braille' rasterized to empty "
                                                  "space." });
    }
}

TEST_F(font_faces_test, measures_cells_with_the_outline_margin_and_the_set_extents)
{
    FT_FaceRec_* face = open(fixtures + "shapes.bdf", 14);
    ASSERT_NE(face, nullptr);
    character_set_t set;
    add_glyph(&set, 0x68, "h");     // 10 x 12, top 12, advance 11
    add_glyph(&set, 0x4D, "M");     // 7 x 10
    add_glyph(&set, 0x2D, "-");     // 6 x 2, top 6
    add_glyph(&set, 0xE9, "eacute");  // not in the font
    message_capture_t capture;
    EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 2), nullptr, nullptr));
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "Undefined character U+00e9" });

    EXPECT_EQ(record_of(set.glyphs[0]), (glyph_record_t{ true, 14, 16, 12, 0, 13, 4 }));
    EXPECT_EQ(record_of(set.glyphs[1]), (glyph_record_t{ true, 11, 14, 10, 1, 11, 4 }));
    EXPECT_EQ(record_of(set.glyphs[2]), (glyph_record_t{ true, 10, 6, 6, 1, 10, 0 }));
    EXPECT_EQ(record_of(set.glyphs[3]), (glyph_record_t{ false, 0, 0, 0, 0, 0, 0 }));
    EXPECT_EQ(set.m_height, 14);
    EXPECT_EQ(set.min_width, 10);
    EXPECT_EQ(set.max_width, 14);
    EXPECT_EQ(set.min_height, 6);
    EXPECT_EQ(set.max_height, 16);
    EXPECT_EQ(set.max_top, 12);
    EXPECT_EQ(set.max_advance, 13);
    EXPECT_EQ(set.max_below, 4);
}

TEST_F(font_faces_test, keeps_the_reset_extents_when_nothing_is_measured)
{
    FT_FaceRec_* face = open(fixtures + "shapes.bdf", 14);
    ASSERT_NE(face, nullptr);
    character_set_t set;
    set.max_top = 5;
    add_glyph(&set, 0x1F600, "grin");
    message_capture_t capture;
    EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), nullptr, nullptr));
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "Undefined character U+1f600" });
    EXPECT_EQ(std::vector<int32_t>({ set.min_width, set.max_width, set.min_height, set.max_height,
                                     set.max_top, set.max_advance, set.max_below, set.m_height }),
              std::vector<int32_t>({ 100, -100, 100, -100, 0, 0, 0, 0 }));
}

TEST_F(font_faces_test, reads_grey_levels_of_every_depth_scaled_to_0_255)
{
    struct case_t
    {
        const char* font;
        std::vector<uint8_t> top_row;
    };
    const case_t cases[] = {
        { "gray2.bdf", { 0, 85, 170, 255 } },
        { "gray4.bdf", { 0, 85, 170, 255 } },
        { "gray8.bdf", { 0, 64, 128, 255 } },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.font);
        FT_FaceRec_* face = open(fixtures + c.font, 8);
        ASSERT_NE(face, nullptr);
        character_set_t set;
        add_glyph(&set, 0x41, "A");
        set_glyphs_t known;
        ASSERT_TRUE(known.reset(1));
        uint64_t budget = 1000;
        EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), &known, &budget));
        glyph_bitmap_t bitmap;
        ASSERT_TRUE(known.find_bitmap(0, &bitmap));
        EXPECT_EQ(row_of(bitmap, 0), c.top_row);
        EXPECT_EQ(row_of(bitmap, 1), std::vector<uint8_t>(c.top_row.rbegin(), c.top_row.rend()));
    }
}

TEST_F(font_faces_test, kept_bitmaps_and_indices_match_loading_every_glyph_again)
{
    struct case_t
    {
        const char* path;
        uint32_t pixels;
        bool antialias;
        uint32_t outline;
    };
    const std::string shapes = fixtures + "shapes.bdf";
    const case_t cases[] = {
        { dejavu_sans, 32, true, 0 }, { dejavu_sans, 11, false, 1 }, { type1_font, 20, true, 0 },
        { x_misc_pcf, 15, true, 0 },  { shapes.c_str(), 14, false, 2 },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.path << " at " << c.pixels);
        FT_FaceRec_* face = open(c.path, c.pixels);
        ASSERT_NE(face, nullptr);
        character_set_t fast;
        character_set_t plain;
        for (uint32_t code = 0x1E; code < 0x2A0; ++code)
        {
            add_glyph(&fast, code, "g");
            add_glyph(&plain, code, "g");
        }
        add_glyph(&fast, 0x41, "again");
        add_glyph(&plain, 0x41, "again");

        set_glyphs_t known;
        ASSERT_TRUE(known.reset(fast.glyphs.size()));
        uint64_t budget = 1u << 20;
        message_capture_t fast_messages;
        EXPECT_TRUE(measure_glyphs(&fast, face, coverage(c.antialias, c.outline), &known, &budget));
        const std::vector<std::string> fast_lines = fast_messages.lines;
        fast_messages.clear();
        EXPECT_TRUE(measure_glyphs(&plain, face, coverage(c.antialias, c.outline), nullptr, nullptr));
        EXPECT_EQ(fast_lines, fast_messages.lines);

        face_glyph_source_t again(face, plain, coverage(c.antialias), nullptr);
        for (uint32_t i = 0; i < fast.glyphs.size(); ++i)
        {
            SCOPED_TRACE(testing::Message() << "U+" << std::hex << fast.glyphs[i].code);
            ASSERT_EQ(record_of(fast.glyphs[i]), record_of(plain.glyphs[i]));
            if (!fast.glyphs[i].rasterized)
            {
                EXPECT_EQ(known.get_index(i), 0u);
                continue;
            }
            glyph_bitmap_t kept;
            ASSERT_TRUE(known.find_bitmap(i, &kept));
            glyph_bitmap_t loaded;
            const bool drawn = again.get_bitmap(i, &loaded);
            ASSERT_EQ(drawn, kept.width > 0 && kept.rows > 0);
            if (!drawn)
                continue;
            ASSERT_EQ(kept.width, loaded.width);
            ASSERT_EQ(kept.rows, loaded.rows);
            ASSERT_EQ(pixels_of(kept), pixels_of(loaded));
        }
    }
}

TEST_F(font_faces_test, loads_glyphs_again_beyond_the_budget)
{
    FT_FaceRec_* face = open(dejavu_sans, 24);
    ASSERT_NE(face, nullptr);
    character_set_t set;
    add_glyph(&set, 0x41, "A");
    add_glyph(&set, 0x42, "B");
    set_glyphs_t known;
    ASSERT_TRUE(known.reset(2));
    uint64_t budget = 0;
    EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), &known, &budget));
    glyph_bitmap_t bitmap;
    EXPECT_FALSE(known.find_bitmap(1, &bitmap));
    face_glyph_source_t source(face, set, coverage(true), &known);
    ASSERT_TRUE(source.get_bitmap(1, &bitmap));
    EXPECT_EQ(bitmap.width, set.glyphs[1].width);
    EXPECT_EQ(bitmap.rows, set.glyphs[1].height);
}

TEST_F(font_faces_test, gives_nothing_to_draw_when_a_glyph_does_not_load_again)
{
    FT_FaceRec_* face = open(fixtures + "shapes.bdf", 14);
    ASSERT_NE(face, nullptr);
    character_set_t set;
    add_glyph(&set, 0x41, "A");
    set_glyphs_t known;
    ASSERT_TRUE(known.reset(1));
    known.set_index(0, 9999);  // past the font's last glyph
    face_glyph_source_t source(face, set, coverage(true), &known);
    glyph_bitmap_t bitmap;
    EXPECT_FALSE(source.get_bitmap(0, &bitmap));
}

TEST_F(font_faces_test, warns_about_a_frame_in_each_corner_and_only_there)
{
    struct case_t
    {
        uint32_t code;
        const char* name;
        std::vector<std::string> warnings;
    };
    const case_t cases[] = {
        { 0x61, "tl", { "The glyph 'tl' rasterized to rectangle in top-left corner." } },
        { 0x62, "tr", { "The glyph 'tr' rasterized to rectangle in top-right corner." } },
        { 0x63, "bl", { "The glyph 'bl' rasterized to rectangle in bottom-left corner." } },
        { 0x64, "br", { "The glyph 'br' rasterized to rectangle in bottom-right corner." } },
        { 0x65, "gap", {} },   // the bottom-right frame with one pixel missing
        { 0x66, "wide", {} },  // a frame as wide as the bitmap sits in no corner
    };
    FT_FaceRec_* face = open(fixtures + "corners.bdf", 8);
    ASSERT_NE(face, nullptr);
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.name);
        character_set_t set;
        add_glyph(&set, c.code, c.name);
        message_capture_t capture;
        EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), nullptr, nullptr));
        EXPECT_EQ(capture.lines, c.warnings);
        EXPECT_EQ(set.glyphs[0].width, 5);
    }
}
