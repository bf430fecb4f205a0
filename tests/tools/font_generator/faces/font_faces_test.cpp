// Font faces, glyph measuring, the bitmap checks, drawing-pass bitmaps and kerning pairs, on
// hand-written BDF fonts with exact bitmaps and on Debian's fonts.
#include "tools/font_generator/faces/font_faces.h"

#include "ovcore/sys_pages.h"
#include "ovcore/ufs/sys_file.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/faces/glyph_measuring.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/kerning/kerning.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace
{

const std::string fixtures = OV_TEST_DATA_DIR "/fonts/";
const char* const dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const dejavu_serif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
const char* const x_misc_pcf = "/usr/share/fonts/X11/misc/9x15-ISO8859-1.pcf.gz";
const char* const type1_font = "/usr/share/fonts/X11/Type1/C059-Roman.pfb";
const char* const unifont_otf = "/usr/share/fonts/opentype/unifont/unifont.otf";

void add_glyph(character_set_t* set, uint32_t code, const char* name)
{
    font_glyph_t* glyph = set->glyphs.append_new();
    glyph->code = code;
    (void)glyph->name.assign(name);
}

std::vector<uint8_t> row_of(const glyph_bitmap_t& bitmap, int32_t r)
{
    std::vector<uint8_t> row;
    for (int32_t c = 0; c < bitmap.width; ++c)
        row.push_back(bitmap.coverage_at(r, c));
    return row;
}

std::vector<uint8_t> pixels_of(const glyph_bitmap_t& bitmap)
{
    std::vector<uint8_t> pixels;
    for (int32_t r = 0; r < bitmap.rows; ++r)
    {
        const std::vector<uint8_t> row = row_of(bitmap, r);
        pixels.insert(pixels.end(), row.begin(), row.end());
    }
    return pixels;
}

struct glyph_record_t
{
    bool rasterized;
    int32_t width, height, top, left, advance, below;
    bool operator==(const glyph_record_t&) const = default;
};

glyph_record_t record_of(const font_glyph_t& glyph)
{
    return { glyph.rasterized, glyph.width, glyph.height, glyph.top,
             glyph.left,       glyph.advance, glyph.below };
}

class font_faces_test : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(start_freetype(&library)); }
    void TearDown() override
    {
        for (FT_FaceRec_* face : faces)
            close_font_face(face);
        shut_down_freetype(library);
    }

    FT_FaceRec_* open(const std::string& path, uint32_t pixels)
    {
        font_face_settings_t settings;
        settings.font_file = path.c_str();
        settings.width = pixels;
        settings.height = pixels;
        FT_FaceRec_* face = nullptr;
        EXPECT_TRUE(open_font_face(library, settings, &face)) << path;
        if (face != nullptr)
            faces.push_back(face);
        return face;
    }

    FT_LibraryRec_* library = nullptr;
    std::vector<FT_FaceRec_*> faces;
};

}  // namespace

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
        EXPECT_TRUE(measure_glyphs(&set, face, true, 0, nullptr, nullptr));
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
    EXPECT_TRUE(measure_glyphs(&set, face, false, 0, nullptr, nullptr));
    EXPECT_EQ(capture.lines, std::vector<std::string>{});
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
    EXPECT_TRUE(measure_glyphs(&set, face, true, 2, nullptr, nullptr));
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
    EXPECT_TRUE(measure_glyphs(&set, face, true, 0, nullptr, nullptr));
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "Undefined character U+1f600" });
    EXPECT_EQ(std::vector<int32_t>({ set.min_width, set.max_width, set.min_height, set.max_height,
                                     set.max_top, set.max_advance, set.max_below, set.m_height }),
              std::vector<int32_t>({ 100, -100, 100, -100, 0, 0, 0, 0 }));
}

TEST_F(font_faces_test, reports_fonts_that_cannot_be_opened)
{
    struct case_t
    {
        std::string path;
        std::string error;
    };
    // Faces open from the bytes read once; each way that fails says what opening by path said.
    scratch_directory_t scratch;
    const std::string empty = scratch.path("empty.ttf");
    const std::string cut = scratch.path("cut.ttf");
    write_file_bytes(empty, "");
    write_file_bytes(cut, read_file_bytes(dejavu_sans).substr(0, 1));
    const case_t cases[] = {
        { fixtures + "not_a_font.txt",
          "The file '" + fixtures + "not_a_font.txt' has unknown format, can not open it as font." },
        { fixtures + "missing.ttf", "Failed to open the font file '" + fixtures + "missing.ttf'." },
        { empty, "The file '" + empty + "' has unknown format, can not open it as font." },
        { cut, "The file '" + cut + "' has unknown format, can not open it as font." },
    };
    for (const case_t& c : cases)
    {
        font_face_settings_t settings;
        settings.font_file = c.path.c_str();
        FT_FaceRec_* face = nullptr;
        message_capture_t capture;
        EXPECT_FALSE(open_font_face(library, settings, &face));
        EXPECT_EQ(face, nullptr);
        EXPECT_EQ(capture.lines, std::vector<std::string>{ c.error });
    }
}

TEST_F(font_faces_test, a_font_without_memory_for_its_bytes_says_so)
{
    static bool refused = false;
    const sys_pages_api_t refusing = {
        [](std::size_t) -> void* { refused = true; return nullptr; }, sys_pages_posix.release,
        sys_pages_posix.advise_large_pages, sys_pages_posix.commit };
    // A file the system will not map is read into zero pages; without them, memory is short.
    const sys_file_api_t* mapping = sys_file;
    sys_file_api_t unmapped = *sys_file;
    unmapped.map_read_only = [](sys_file_handle_t*, uint64_t) -> const void* { return nullptr; };
    sys_file = &unmapped;
    sys_pages = &refusing;
    font_face_settings_t settings;
    settings.font_file = dejavu_sans;
    FT_FaceRec_* face = nullptr;
    message_capture_t capture;
    const bool opened = open_font_face(library, settings, &face);
    sys_pages = &sys_pages_posix;
    sys_file = mapping;
    EXPECT_TRUE(refused);
    EXPECT_FALSE(opened);
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "Not enough memory to open the font file '" +
                                                       std::string(dejavu_sans) + "'." });
}

TEST_F(font_faces_test, a_font_read_instead_of_mapped_opens_the_same_face)
{
    const sys_file_api_t* mapping = sys_file;
    sys_file_api_t unmapped = *sys_file;
    unmapped.map_read_only = [](sys_file_handle_t*, uint64_t) -> const void* { return nullptr; };
    font_face_settings_t settings;
    settings.font_file = dejavu_sans;
    settings.width = settings.height = 20;
    FT_FaceRec_* mapped = nullptr;
    FT_FaceRec_* read = nullptr;
    ASSERT_TRUE(open_font_face(library, settings, &mapped));
    sys_file = &unmapped;
    const bool opened = open_font_face(library, settings, &read);
    sys_file = mapping;
    ASSERT_TRUE(opened);
    EXPECT_NE(read->stream->base, mapped->stream->base);
    EXPECT_EQ(read->stream->size, mapped->stream->size);
    EXPECT_EQ(std::memcmp(read->stream->base, mapped->stream->base, read->stream->size), 0);
    EXPECT_EQ(read->num_glyphs, mapped->num_glyphs);
    close_font_face(read);
    close_font_face(mapped);
}

TEST_F(font_faces_test, a_face_set_gives_each_helper_faces_of_its_own_from_the_same_bytes)
{
    face_set_t set;
    array_dyn_t<font_face_settings_t> fonts;
    font_face_settings_t settings;
    settings.font_file = dejavu_sans;
    settings.width = settings.height = 16;
    ASSERT_TRUE(fonts.append(settings));
    settings.font_file = OV_TEST_DATA_DIR "/fonts/shapes.bdf";
    settings.width = settings.height = 14;
    ASSERT_TRUE(fonts.append(settings));
    ASSERT_TRUE(set.open(fonts));
    ASSERT_EQ(set.faces().count, 2u);
    ASSERT_TRUE(set.prepare_helpers(2));
    face_list_t first;
    face_list_t second;
    ASSERT_TRUE(set.helper_faces(1, &first));
    ASSERT_TRUE(set.helper_faces(2, &second));
    for (uint32_t k = 0; k < 2; ++k)
    {
        SCOPED_TRACE(k);
        EXPECT_NE(first[k], set.faces()[k]);
        EXPECT_NE(first[k], second[k]);
        // The same font, sized alike: the same glyph index and the same advance.
        const uint32_t code = k == 0 ? 0x41 : 0x4D;
        const FT_UInt index = FT_Get_Char_Index(set.faces()[k], code);
        ASSERT_NE(index, 0u);
        EXPECT_EQ(FT_Get_Char_Index(first[k], code), index);
        ASSERT_EQ(FT_Load_Glyph(set.faces()[k], index, FT_LOAD_DEFAULT), 0);
        ASSERT_EQ(FT_Load_Glyph(first[k], index, FT_LOAD_DEFAULT), 0);
        EXPECT_EQ(first[k]->glyph->advance.x, set.faces()[k]->glyph->advance.x);
        // Read once: the helper's face reads the very bytes of the set's own.
        EXPECT_EQ(first[k]->stream->base, set.faces()[k]->stream->base);
    }
    face_list_t again;
    ASSERT_TRUE(set.helper_faces(1, &again));
    EXPECT_EQ(again[0], first[0]);  // opened once per helper
}

TEST_F(font_faces_test, uses_a_fixed_size_font_at_its_own_size)
{
    struct case_t
    {
        std::string path;
        const char* size;
        int32_t m_height;
    };
    const case_t cases[] = {
        { fixtures + "shapes.bdf", "8 x 14", 10 },
        { x_misc_pcf, "9 x 15", 15 },  // its bitmaps fill the whole cell
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.path);
        message_capture_t capture;
        FT_FaceRec_* face = open(c.path, 20);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(capture.lines, std::vector<std::string>{
                                     "The font '" + c.path + "' is of fixed size " + c.size +
                                     " pixels -trying to use that instead of requested size." });
        EXPECT_EQ(capture.levels[0], message_level_t::warning);
        character_set_t set;
        add_glyph(&set, 0x4D, "M");
        EXPECT_TRUE(measure_glyphs(&set, face, true, 0, nullptr, nullptr));
        EXPECT_EQ(set.m_height, c.m_height);
    }
}

TEST(scale_to_fixed, truncates_to_16_16_and_saturates)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::pair<float, int32_t> cases[] = {
        { 1.0f, 65536 },         { 1.5f, 98304 },        { 0.5f, 32768 },
        { 1.00001f, 65536 },     { -0.5f, -32768 },      { 1e9f, INT32_MAX },
        { -1e9f, INT32_MIN },    { nan, 0 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(scale_to_fixed(c.first), c.second) << c.first;
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
        EXPECT_TRUE(measure_glyphs(&set, face, true, 0, &known, &budget));
        glyph_bitmap_t bitmap;
        ASSERT_TRUE(known.find_bitmap(0, &bitmap));
        EXPECT_EQ(row_of(bitmap, 0), c.top_row);
        EXPECT_EQ(row_of(bitmap, 1), std::vector<uint8_t>(c.top_row.rbegin(), c.top_row.rend()));
    }
}

TEST_F(font_faces_test, opens_every_kind_of_font_debian_ships)
{
    struct case_t
    {
        const char* path;
        uint32_t pixels;
    };
    const case_t cases[] = {
        { dejavu_sans, 16 },  // TrueType outlines
        { unifont_otf, 16 },  // OpenType with CFF outlines
        { type1_font, 16 },   // Type 1
        { x_misc_pcf, 15 },   // gzip-compressed PCF at its own size
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.path);
        message_capture_t capture;
        FT_FaceRec_* face = open(c.path, c.pixels);
        ASSERT_NE(face, nullptr);
        character_set_t set;
        add_glyph(&set, 0x41, "A");
        add_glyph(&set, 0xE9, "eacute");
        EXPECT_TRUE(measure_glyphs(&set, face, true, 0, nullptr, nullptr));
        EXPECT_EQ(capture.lines, std::vector<std::string>{});
        EXPECT_TRUE(set.glyphs[0].rasterized && set.glyphs[1].rasterized);
        EXPECT_GT(set.glyphs[0].height, 5);
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
        EXPECT_TRUE(measure_glyphs(&fast, face, c.antialias, c.outline, &known, &budget));
        const std::vector<std::string> fast_lines = fast_messages.lines;
        fast_messages.clear();
        EXPECT_TRUE(measure_glyphs(&plain, face, c.antialias, c.outline, nullptr, nullptr));
        EXPECT_EQ(fast_lines, fast_messages.lines);

        face_glyph_source_t again(face, plain, c.antialias, nullptr);
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
    EXPECT_TRUE(measure_glyphs(&set, face, true, 0, &known, &budget));
    glyph_bitmap_t bitmap;
    EXPECT_FALSE(known.find_bitmap(1, &bitmap));
    face_glyph_source_t source(face, set, true, &known);
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
    face_glyph_source_t source(face, set, true, &known);
    glyph_bitmap_t bitmap;
    EXPECT_FALSE(source.get_bitmap(0, &bitmap));
}

TEST_F(font_faces_test, lists_the_same_kerning_pairs_as_asking_every_pair)
{
    struct case_t
    {
        const char* path;
        uint32_t pixels;
        bool kerned;
    };
    const std::string shapes = fixtures + "shapes.bdf";
    const case_t cases[] = {
        { dejavu_sans, 32, true }, { dejavu_sans, 12, true }, { dejavu_serif, 20, true },
        { shapes.c_str(), 14, false },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.path << " at " << c.pixels);
        FT_FaceRec_* face = open(c.path, c.pixels);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face_has_kerning(face), c.kerned);
        character_set_t set;
        for (uint32_t code = 0x20; code < 0x180; ++code)
            add_glyph(&set, code, "g");
        add_glyph(&set, 0x56, "V again");   // a repeated code
        add_glyph(&set, 0xE000, "unused");  // undefined: glyph index 0
        add_glyph(&set, 0x41, "A again");
        set_glyphs_t known;
        ASSERT_TRUE(known.reset(set.glyphs.size()));
        uint64_t budget = 1u << 20;
        message_capture_t capture;
        EXPECT_TRUE(measure_glyphs(&set, face, true, 0, &known, &budget));

        array_dyn_t<kerning_pair_t> fast;
        array_dyn_t<kerning_pair_t> plain;
        ASSERT_TRUE(append_face_kerning_pairs(face, 0, set, &known, &fast));
        ASSERT_TRUE(append_face_kerning_pairs(face, 0, set, nullptr, &plain));
        ASSERT_EQ(fast.size(), plain.size());
        for (uint32_t i = 0; i < fast.size(); ++i)
        {
            ASSERT_EQ(fast[i].first, plain[i].first) << i;
            ASSERT_EQ(fast[i].second, plain[i].second) << i;
            ASSERT_EQ(fast[i].value, plain[i].value) << i;
        }
        EXPECT_EQ(fast.size() > 0, c.kerned);
    }
}

TEST_F(font_faces_test, kerns_a_and_v_closer_together)
{
    FT_FaceRec_* face = open(dejavu_sans, 32);
    ASSERT_NE(face, nullptr);
    character_set_t set;
    add_glyph(&set, 0x41, "A");
    add_glyph(&set, 0x56, "V");
    set_glyphs_t known;
    ASSERT_TRUE(known.reset(2));
    uint64_t budget = 1u << 20;
    EXPECT_TRUE(measure_glyphs(&set, face, true, 0, &known, &budget));
    array_dyn_t<kerning_pair_t> pairs;
    ASSERT_TRUE(append_face_kerning_pairs(face, 0, set, &known, &pairs));
    std::vector<std::string> listed;
    for (const kerning_pair_t& pair : pairs)
        listed.push_back(std::string(1, char(set.glyphs[pair.first].code)) +
                         char(set.glyphs[pair.second].code) + " " + std::to_string(pair.value));
    EXPECT_EQ(listed, (std::vector<std::string>{ "AA 1", "AV -2", "VA -2" }));  // b = a too
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
        EXPECT_TRUE(measure_glyphs(&set, face, true, 0, nullptr, nullptr));
        EXPECT_EQ(capture.lines, c.warnings);
        EXPECT_EQ(set.glyphs[0].width, 5);
    }
}

TEST_F(font_faces_test, scales_glyphs_across_and_down_by_the_settings)
{
    // Unequal scales, so swapping them or leaving them out changes both sides the wrong way.
    auto measure_h = [&](float scale_width, float scale_height) {
        font_face_settings_t settings;
        settings.font_file = dejavu_sans;
        settings.width = 40;
        settings.height = 40;
        settings.scale_width = scale_width;
        settings.scale_height = scale_height;
        FT_FaceRec_* face = nullptr;
        const bool opened = open_font_face(library, settings, &face);
        if (face != nullptr)
            faces.push_back(face);
        character_set_t set;
        add_glyph(&set, 0x48, "H");
        if (opened)
            (void)measure_glyphs(&set, face, true, 0, nullptr, nullptr);
        return record_of(set.glyphs[0]);
    };
    const glyph_record_t plain = measure_h(1.0f, 1.0f);
    const glyph_record_t scaled = measure_h(2.0f, 0.5f);
    ASSERT_TRUE(plain.rasterized && scaled.rasterized);
    ASSERT_GT(plain.width, 10);
    ASSERT_GT(plain.height, 10);
    const double across = double(scaled.width) / plain.width;
    const double down = double(scaled.height) / plain.height;
    EXPECT_NEAR(across, 2.0, 0.2) << plain.width << " -> " << scaled.width;
    EXPECT_NEAR(down, 0.5, 0.1) << plain.height << " -> " << scaled.height;
}
