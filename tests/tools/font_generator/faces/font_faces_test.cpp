// Font faces: opening every kind of font from its bytes read once, what a font that cannot be
// used says, face sets with the helpers' faces, fixed sizes and scaling.
#include "tools/font_generator/faces/font_faces.h"

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

TEST_F(font_faces_test, reports_fonts_that_cannot_be_opened)
{
    struct case_t
    {
        std::string path;
        std::string error;
        std::string reason;  // the line after it, if any
    };
    // Faces open from the bytes read once; each way that fails says what opening by path said.
    scratch_directory_t scratch;
    const std::string empty = scratch.path("empty.ttf");
    const std::string cut = scratch.path("cut.ttf");
    write_file_bytes(empty, "");
    write_file_bytes(cut, read_file_bytes(dejavu_sans).substr(0, 1));
    const case_t cases[] = {
        { fixtures + "not_a_font.txt",
          "The file '" + fixtures + "not_a_font.txt' has unknown format, can not open it as font.",
          "" },
        { fixtures + "missing.ttf", "Failed to open the font file '" + fixtures + "missing.ttf'.",
          "Reason: no such file or folder." },
        { fixtures, "Failed to open the font file '" + fixtures + "'.",
          "Reason: it is a folder, not a file." },
        { empty, "The file '" + empty + "' has unknown format, can not open it as font.", "" },
        { cut, "The file '" + cut + "' has unknown format, can not open it as font.", "" },
    };
    for (const case_t& c : cases)
    {
        font_face_settings_t settings;
        settings.font_file = c.path.c_str();
        FT_FaceRec_* face = nullptr;
        message_capture_t capture;
        EXPECT_FALSE(open_font_face(library, settings, &face));
        EXPECT_EQ(face, nullptr);
        std::vector<std::string> expected{ c.error };
        if (!c.reason.empty())
            expected.push_back(c.reason);
        EXPECT_EQ(capture.lines, expected);
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
        EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), nullptr, nullptr));
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
        EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), nullptr, nullptr));
        EXPECT_EQ(capture.lines, std::vector<std::string>{});
        EXPECT_TRUE(set.glyphs[0].rasterized && set.glyphs[1].rasterized);
        EXPECT_GT(set.glyphs[0].height, 5);
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
            (void)measure_glyphs(&set, face, coverage(true, 0), nullptr, nullptr);
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
