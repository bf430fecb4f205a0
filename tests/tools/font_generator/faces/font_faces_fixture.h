// The fixture of the faces and kerning tests: Debian's fonts and the hand-written BDF fonts, a
// FreeType library per test and faces opened the way a run opens them.
#pragma once

#include "tests/support/message_capture.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/input/character_set.h"

#include <gtest/gtest.h>

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

inline void add_glyph(character_set_t* set, uint32_t code, const char* name)
{
    font_glyph_t* glyph = set->glyphs.append_new();
    glyph->code = code;
    (void)glyph->name.assign(name);
}

inline std::vector<uint8_t> row_of(const glyph_bitmap_t& bitmap, int32_t r)
{
    std::vector<uint8_t> row;
    for (int32_t c = 0; c < bitmap.width; ++c)
        row.push_back(bitmap.coverage_at(r, c));
    return row;
}

inline std::vector<uint8_t> pixels_of(const glyph_bitmap_t& bitmap)
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

inline glyph_record_t record_of(const font_glyph_t& glyph)
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
