// Variable fonts: axis settings as written, named instances and settings drawn as FreeType draws
// those design coordinates (on the helpers' faces too), fallback fonts on the axes they have,
// and every refusal with its message.
#include "tools/font_generator/faces/font_variations.h"

#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/tools/font_generator/faces/font_faces_fixture.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MULTIPLE_MASTERS_H

#include <cstring>

namespace
{

const char* const inter_var = "/usr/share/fonts/truetype/inter-vf/Inter.var.ttf";  // wght, slnt
const char* const inter_roman_var = "/usr/share/fonts/truetype/inter-vf/Inter-roman.var.ttf";

// "wght=650" and the like as one string array.
array_dyn_t<string_dyn_t> strings(const std::vector<std::string>& texts)
{
    array_dyn_t<string_dyn_t> array;
    for (const std::string& text : texts)
        EXPECT_TRUE(array.append(string_dyn_t(text.c_str())));
    return array;
}

// A face set of the fonts at 20 pixels, opened with the instance and settings.
struct varied_set_t
{
    varied_set_t(const std::vector<std::string>& fonts, const char* instance,
                 const std::vector<std::string>& texts)
        : paths(fonts), settings(strings(texts))
    {
        array_dyn_t<font_face_settings_t> list;
        for (const std::string& path : paths)
        {
            font_face_settings_t font;
            font.font_file = path.c_str();
            font.width = font.height = 20;
            EXPECT_TRUE(list.append(font));
        }
        variation_request_t request;
        request.instance = instance;
        request.settings = &settings;
        request.label = set_label_t{ 3, "set.chars" };
        opened = set.open(list, request);
    }

    std::vector<std::string> paths;
    array_dyn_t<string_dyn_t> settings;
    face_set_t set;
    bool opened = false;
};

// Every glyph of Basic Latin as FreeType renders it (auto-hinted coverage) with its advance.
std::vector<std::vector<uint8_t>> rendered(FT_FaceRec_* face)
{
    std::vector<std::vector<uint8_t>> glyphs;
    for (FT_ULong code = 0x21; code < 0x7F; ++code)
    {
        EXPECT_EQ(FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT), 0);
        const FT_Bitmap& bitmap = face->glyph->bitmap;
        std::vector<uint8_t> glyph = { uint8_t(bitmap.width), uint8_t(bitmap.rows),
                                       uint8_t(face->glyph->bitmap_left),
                                       uint8_t(face->glyph->bitmap_top),
                                       uint8_t(face->glyph->advance.x >> 6) };
        for (unsigned r = 0; r < bitmap.rows; ++r)
            glyph.insert(glyph.end(), bitmap.buffer + r * bitmap.pitch,
                         bitmap.buffer + r * bitmap.pitch + bitmap.width);
        glyphs.push_back(glyph);
    }
    return glyphs;
}

// FreeType's own face of the font at the design coordinates and 20 pixels.
std::vector<std::vector<uint8_t>> rendered_by_freetype(const char* path,
                                                       std::vector<FT_Fixed> coordinates)
{
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    EXPECT_EQ(FT_Init_FreeType(&library), 0);
    EXPECT_EQ(FT_New_Face(library, path, 0, &face), 0);
    EXPECT_EQ(FT_Set_Var_Design_Coordinates(face, FT_UInt(coordinates.size()),
                                            coordinates.data()),
              0);
    EXPECT_EQ(FT_Set_Pixel_Sizes(face, 20, 20), 0);
    std::vector<std::vector<uint8_t>> glyphs = rendered(face);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return glyphs;
}

std::vector<int32_t> coordinates_of(const face_variation_t& variation)
{
    return std::vector<int32_t>(variation.coordinates.begin(), variation.coordinates.end());
}

// A copy of the font whose first axis runs from `minimum` (design units) instead.
std::string with_axis_minimum(const scratch_directory_t& scratch, const char* path,
                              int16_t minimum)
{
    std::string bytes = read_file_bytes(path);
    auto u16 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) << 8 | uint8_t(bytes[at + 1]);
    };
    auto u32 = [&](size_t at) { return u16(at) << 16 | u16(at + 2); };
    const uint32_t tables = u16(4);
    for (uint32_t t = 0; t < tables; ++t)
    {
        const size_t record = 12 + 16 * size_t(t);
        if (bytes.compare(record, 4, "fvar") != 0)
            continue;
        const size_t axis = u32(record + 8) + u16(u32(record + 8) + 4);
        bytes[axis + 4] = char(uint16_t(minimum) >> 8);
        bytes[axis + 5] = char(uint16_t(minimum) & 0xFF);
    }
    const std::string copy = scratch.path("narrow.ttf");
    write_file_bytes(copy, bytes);
    return copy;
}

}  // namespace

TEST(font_variations, reads_axis_settings_as_written)
{
    struct case_t
    {
        const char* text;
        bool read;
        uint32_t tag = 0;
        int32_t value = 0;  // 16.16
    };
    const case_t cases[] = {
        { "wght=650", true, FT_MAKE_TAG('w', 'g', 'h', 't'), 650 << 16 },
        { "wdth=87.5", true, FT_MAKE_TAG('w', 'd', 't', 'h'), 87 << 16 | 0x8000 },
        { "slnt=-10", true, FT_MAKE_TAG('s', 'l', 'n', 't'), -(10 << 16) },
        { "  opsz=+32  ", true, FT_MAKE_TAG('o', 'p', 's', 'z'), 32 << 16 },
        { "ital=.5", true, FT_MAKE_TAG('i', 't', 'a', 'l'), 0x8000 },
        { "GRAD=0.1", true, FT_MAKE_TAG('G', 'R', 'A', 'D'), 6554 },  // rounded
        { "wght=99999", true, FT_MAKE_TAG('w', 'g', 'h', 't'), INT32_MAX },
        { "wght=-99999", true, FT_MAKE_TAG('w', 'g', 'h', 't'), INT32_MIN },
        { "", false },
        { "wght", false },
        { "wght=", false },
        { "wght650", false },
        { "wgh=650", false },
        { "wghts=650", false },
        { "wg t=650", false },
        { "wght =650", false },
        { "wght=6 50", false },
        { "wght=650px", false },
        { "wght=1e3", false },
        { "wght=0x10", false },
        { "wght=inf", false },
        { "wght=-", false },
        { "wght=.", false },
        { "wght=1.2.3", false },
        { "==== =1", false },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.text);
        axis_setting_t setting;
        ASSERT_EQ(parse_axis_setting(c.text, &setting), c.read);
        if (!c.read)
            continue;
        EXPECT_EQ(setting.tag, c.tag);
        EXPECT_EQ(setting.value, c.value);
    }
}

TEST(font_variations, draws_as_freetype_draws_the_design_coordinates_on_every_face)
{
    struct case_t
    {
        const char* instance;
        std::vector<std::string> settings;
        std::vector<FT_Fixed> coordinates;  // wght, slnt
    };
    // 'fvar' stores "Light Italic" at slnt -10, which FreeType 2.12 reads back as 4294311936.
    const case_t cases[] = {
        { "Bold", {}, { 700 << 16, 0 } },
        { "", { "wght=700" }, { 700 << 16, 0 } },
        { "  light ITALIC ", {}, { 300 << 16, -(10 << 16) } },
        { "", { "wght=300", "slnt=-10" }, { 300 << 16, -(10 << 16) } },
        { "Light", {}, { 300 << 16, 0 } },
        { "Black Italic", { "slnt=-2.5", "wght=650" }, { 650 << 16, -(5 << 15) } },
        { "Regular", {}, { 400 << 16, 0 } },
    };
    std::vector<std::vector<std::vector<uint8_t>>> drawn;
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.instance);
        varied_set_t varied({ inter_var }, c.instance, c.settings);
        ASSERT_TRUE(varied.opened);
        EXPECT_EQ(coordinates_of(varied.set.variation(0)),
                  std::vector<int32_t>(c.coordinates.begin(), c.coordinates.end()));
        const auto expected = rendered_by_freetype(inter_var, c.coordinates);
        EXPECT_TRUE(rendered(varied.set.faces()[0]) == expected);
        ASSERT_TRUE(varied.set.prepare_helpers(1));
        face_list_t helper;
        ASSERT_TRUE(varied.set.helper_faces(1, &helper));
        EXPECT_TRUE(rendered(helper[0]) == expected);
        drawn.push_back(expected);
    }
    EXPECT_TRUE(drawn[0] == drawn[1]);
    EXPECT_TRUE(drawn[2] == drawn[3]);
    EXPECT_FALSE(drawn[2] == drawn[4]);  // the slant shows
    EXPECT_FALSE(drawn[0] == drawn[4]);
    // The default instance set explicitly draws as the face left alone.
    varied_set_t plain({ inter_var }, " ", {});
    ASSERT_TRUE(plain.opened);
    EXPECT_FALSE(plain.set.variation(0).has_coordinates());
    EXPECT_TRUE(rendered(plain.set.faces()[0]) == drawn[6]);
}

TEST(font_variations, fallback_fonts_take_the_main_coordinates_on_the_axes_they_have)
{
    scratch_directory_t scratch;
    const std::string narrow = with_axis_minimum(scratch, inter_roman_var, 350);
    message_capture_t capture;
    varied_set_t varied({ inter_var, inter_roman_var, narrow, dejavu_sans }, "Light Italic", {});
    ASSERT_TRUE(varied.opened);
    // The roman font has no slant axis; the narrow copy holds 300 at its 350; DejaVu Sans is not
    // variable and stays as it is.
    EXPECT_EQ(coordinates_of(varied.set.variation(1)), std::vector<int32_t>{ 300 << 16 });
    EXPECT_EQ(coordinates_of(varied.set.variation(2)), std::vector<int32_t>{ 350 << 16 });
    EXPECT_FALSE(varied.set.variation(3).has_coordinates());
    EXPECT_EQ(capture.lines,
              std::vector<std::string>{ "The fallback font '" + narrow +
                                        "' of the element 3 of 'char_config' (the character set "
                                        "file 'set.chars') has the axis 'wght' from 350 to 900: "
                                        "it is drawn at 350 instead of the main font's 300." });
    EXPECT_TRUE(rendered(varied.set.faces()[1]) ==
                rendered_by_freetype(inter_roman_var, { 300 << 16 }));
    EXPECT_TRUE(rendered(varied.set.faces()[2]) ==
                rendered_by_freetype(narrow.c_str(), { 350 << 16 }));
    ASSERT_TRUE(varied.set.prepare_helpers(1));
    face_list_t helper;
    ASSERT_TRUE(varied.set.helper_faces(1, &helper));
    EXPECT_TRUE(rendered(helper[2]) == rendered(varied.set.faces()[2]));
}

TEST(font_variations, refuses_what_the_font_cannot_give_naming_the_set_and_the_font)
{
    struct case_t
    {
        const char* font;
        const char* instance;
        std::vector<std::string> settings;
        std::vector<std::string> messages;
    };
    const std::string inter = inter_var;
    const std::string set = "of the element 3 of 'char_config' (the character set file "
                            "'set.chars')";
    const case_t cases[] = {
        { dejavu_sans, "Bold", {},
          { "The font file '" + std::string(dejavu_sans) + "' " + set +
            " is not a variable font: font_instance and font_variations need one." } },
        { dejavu_sans, "", { "wght=700" },
          { "The font file '" + std::string(dejavu_sans) + "' " + set +
            " is not a variable font: font_instance and font_variations need one." } },
        { inter_roman_var, "Light Italic", {},
          { "The font file '" + std::string(inter_roman_var) + "' " + set +
            " has no named instance 'Light Italic' for font_instance; its instances are 'Thin', "
            "'Extra Light', 'Light', 'Regular', 'Medium', 'Semi Bold', 'Bold', 'Extra Bold', "
            "'Black'." } },
        { inter_roman_var, "Bold", { "slnt=-10", "wght=950", "wdth=100", "wght=99" },
          { "The font file '" + std::string(inter_roman_var) + "' " + set +
                " has no axis 'slnt' for the font variation 'slnt=-10'; its axes are wght from "
                "100 to 900.",
            "The font variation 'wght=950' " + set +
                " is outside the range 100 to 900 of the axis 'wght' of the font file '" +
                inter_roman_var + "'.",
            "The font file '" + std::string(inter_roman_var) + "' " + set +
                " has no axis 'wdth' for the font variation 'wdth=100'; its axes are wght from "
                "100 to 900.",
            "The font variation 'wght=99' " + set +
                " is outside the range 100 to 900 of the axis 'wght' of the font file '" +
                inter_roman_var + "'." } },
        { inter_var, "", { "slnt=0.5", "wght=900" },
          { "The font variation 'slnt=0.5' " + set +
            " is outside the range -10 to 0 of the axis 'slnt' of the font file '" + inter +
            "'." } },
        { inter_var, "Bold", { "Wght=700" },
          { "The font file '" + inter + "' " + set +
            " has no axis 'Wght' for the font variation 'Wght=700'; its axes are wght from 100 "
            "to 900, slnt from -10 to 0." } },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.font);
        message_capture_t capture;
        varied_set_t varied({ c.font }, c.instance, c.settings);
        EXPECT_FALSE(varied.opened);
        EXPECT_EQ(capture.lines, c.messages);
    }
}
