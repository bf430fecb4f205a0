// OpenType kerning: the pairs checked one by one against HarfBuzz shaping each pair directly, the
// candidate search against shaping every pair, and a font without layout tables.
#include "tools/font_generator/kerning/opentype_kerning.h"

#include "tests/support/message_capture.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/faces/font_faces.h"
#include "ovcore/sys_library.h"

#include <gtest/gtest.h>
#include <hb-ft.h>
#include <hb.h>

#include <string>
#include <utility>
#include <vector>

namespace
{

const char* const inter = "/usr/share/fonts/opentype/inter/Inter-Regular.otf";  // GPOS only
const char* const dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";  // both
const char* const vera = "/usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf";   // 'kern' only
const char* const dejavu_mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const char* const liberation_sans =
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";
#define OV_NOTO "/usr/share/fonts/truetype/noto/"
const char* const noto_hebrew = OV_NOTO "NotoSansHebrew-Regular.ttf";
const char* const noto_arabic = OV_NOTO "NotoSansArabic-Regular.ttf";
const char* const noto_syriac = OV_NOTO "NotoSansSyriac-Regular.ttf";
const char* const noto_thaana = OV_NOTO "NotoSansThaana-Regular.ttf";
const char* const noto_nko = OV_NOTO "NotoSansNKo-Regular.ttf";
#undef OV_NOTO

using ranges_t = std::vector<std::pair<uint32_t, uint32_t>>;

const ranges_t latin1 = { { 0x20, 0x7E }, { 0xA0, 0xFF } };

// The ranges in order; a range written last to first runs downwards.
character_set_t make_set(const ranges_t& ranges)
{
    character_set_t set;
    for (const auto& [from, to] : ranges)
        for (uint32_t code = from;; code += from <= to ? 1 : -1)
        {
            font_glyph_t glyph;
            glyph.code = code;
            EXPECT_TRUE(set.glyphs.append(std::move(glyph)));
            if (code == to)
                break;
        }
    return set;
}

// A face opened and set up the way a run sets it up.
struct face_t
{
    face_t(const char* path, uint32_t pixels)
    {
        EXPECT_TRUE(start_freetype(&library));
        font_face_settings_t settings;
        settings.font_file = path;
        settings.width = pixels;
        settings.height = pixels;
        EXPECT_TRUE(open_font_face(library, settings, &face)) << path;
    }
    ~face_t()
    {
        if (face != nullptr)
            close_font_face(face);
        shut_down_freetype(library);
    }
    FT_LibraryRec_* library = nullptr;
    FT_FaceRec_* face = nullptr;
};

struct line_t
{
    uint32_t first;
    uint32_t second;
    int32_t value;
    bool operator==(const line_t&) const = default;
};

std::ostream& operator<<(std::ostream& out, const line_t& line)
{
    return out << std::hex << "U+" << line.first << " U+" << line.second << std::dec << ": "
               << line.value;
}

std::vector<line_t> lines_of(const character_set_t& set, const array_t<kerning_pair_t>& pairs)
{
    std::vector<line_t> lines;
    for (const kerning_pair_t& pair : pairs)
        lines.push_back({ set.glyphs[pair.first].code, set.glyphs[pair.second].code, pair.value });
    return lines;
}

std::vector<line_t> collect(FT_FaceRec_* face, const character_set_t& set, kerning_search_t search)
{
    array_dyn_t<kerning_pair_t> pairs;
    EXPECT_TRUE(collect_opentype_kerning_pairs(face, set, search, &pairs));
    return lines_of(set, pairs);
}

// The definition, written out with HarfBuzz alone: every ordered pair of characters the font
// has, shaped as a two-character text, at the design coordinates given.
std::vector<line_t> shape_directly(FT_FaceRec_* face, const character_set_t& set,
                                   const std::vector<float>& design = {})
{
    hb_font_t* font = hb_ft_font_create_referenced(face);
    if (!design.empty())
        hb_font_set_var_coords_design(font, design.data(), unsigned(design.size()));
    hb_buffer_t* buffer = hb_buffer_create();
    hb_feature_t features[9];
    const char* const settings[] = { "kern", "-ccmp", "-locl", "-liga", "-clig",
                                     "-calt", "-rlig", "-mark", "-mkmk" };
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(hb_feature_from_string(settings[i], -1, &features[i]));
    std::vector<uint32_t> codes;
    for (const font_glyph_t& glyph : set.glyphs)
    {
        hb_codepoint_t unused = 0;
        if (hb_font_get_nominal_glyph(font, glyph.code, &unused))
            codes.push_back(glyph.code);
    }
    std::vector<line_t> lines;
    for (uint32_t a : codes)
        for (uint32_t b : codes)
        {
            const uint32_t text[2] = { a, b };
            hb_buffer_reset(buffer);
            hb_buffer_set_flags(buffer, HB_BUFFER_FLAG_PRESERVE_DEFAULT_IGNORABLES);
            hb_buffer_add_utf32(buffer, text, 2, 0, 2);
            hb_buffer_guess_segment_properties(buffer);
            hb_buffer_set_direction(buffer, HB_DIRECTION_LTR);
            hb_shape(font, buffer, features, 9);
            unsigned count = 0;
            const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
            const hb_glyph_position_t* position = hb_buffer_get_glyph_positions(buffer, nullptr);
            if (count != 2)
                continue;
            const int32_t value = position[0].x_advance -
                                  hb_font_get_glyph_h_advance(font, info[0].codepoint) +
                                  position[1].x_offset;
            if (((value + 32) >> 6) != 0)
                lines.push_back({ a, b, (value + 32) >> 6 });
        }
    hb_buffer_destroy(buffer);
    hb_font_destroy(font);
    return lines;
}

}  // namespace

TEST(opentype_kerning, gives_every_pair_that_shaping_moves_and_only_those)
{
    struct case_t
    {
        const char* font;
        uint32_t pixels;
        size_t at_least;  // lines
        ranges_t ranges = latin1;
    };
    const case_t cases[] = {
        { inter, 32, 1000 },
        { dejavu_sans, 32, 500 },
        { vera, 20, 500 },
        { liberation_sans, 24, 50 },
        { dejavu_mono, 32, 0 },
        // Right-to-left: the font's pairs move the text pairs the other way round.
        { noto_hebrew, 48, 100, { { 0x5D0, 0x5EA } } },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.font);
        const character_set_t set = make_set(c.ranges);
        face_t face(c.font, c.pixels);
        ASSERT_NE(face.face, nullptr);
        const std::vector<line_t> expected = shape_directly(face.face, set);
        EXPECT_GE(expected.size(), c.at_least);
        if (c.at_least == 0)
        {
            EXPECT_TRUE(expected.empty());
        }
        EXPECT_EQ(collect(face.face, set, kerning_search_t::candidates), expected);
    }
}

TEST(opentype_kerning, an_instance_kerns_as_shaping_at_its_design_coordinates)
{
    struct case_t
    {
        const char* instance;
        std::vector<std::string> settings;
        std::vector<float> design;  // wght, slnt
    };
    const case_t cases[] = {
        { "Bold", {}, { 700, 0 } },
        { "Light Italic", {}, { 300, -10 } },
        { "Thin", { "wght=250", "slnt=-7" }, { 250, -7 } },
    };
    const char* const inter_var = "/usr/share/fonts/truetype/inter-vf/Inter.var.ttf";
    const character_set_t set = make_set(latin1);
    face_t plain(inter_var, 32);
    ASSERT_NE(plain.face, nullptr);
    const std::vector<line_t> at_default = collect(plain.face, set, kerning_search_t::candidates);
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.instance);
        array_dyn_t<string_dyn_t> settings;
        for (const std::string& text : c.settings)
            ASSERT_TRUE(settings.append(string_dyn_t(text.c_str())));
        array_dyn_t<font_face_settings_t> fonts;
        font_face_settings_t font;
        font.font_file = inter_var;
        font.width = font.height = 32;
        ASSERT_TRUE(fonts.append(font));
        variation_request_t request;
        request.instance = c.instance;
        request.settings = &settings;
        face_set_t faces;
        ASSERT_TRUE(faces.open(fonts, request));
        const std::vector<line_t> expected = shape_directly(faces.faces()[0], set, c.design);
        EXPECT_GE(expected.size(), 1000u);
        EXPECT_NE(expected, at_default);
        EXPECT_EQ(collect(faces.faces()[0], set, kerning_search_t::candidates), expected);
    }
}

TEST(opentype_kerning, candidate_search_matches_shaping_every_pair)
{
    // Sets with marks, Greek, Cyrillic, Arabic (whose forms are substitutions) and characters
    // the fonts lack, in an order that is not the code order.
    struct case_t
    {
        const char* font;
        uint32_t pixels;
        ranges_t ranges;
        bool kerns = true;  // Thaana and N'Ko: the fonts have no pairs, and none may appear
    };
    const case_t cases[] = {
        { dejavu_sans, 16,
          { { 0x400, 0x45F }, { 0x20, 0x24F }, { 0x300, 0x36F }, { 0x370, 0x3FF },
            { 0x600, 0x6FF }, { 0x2000, 0x206F } } },
        { inter, 32, { { 0x370, 0x3FF }, { 0x20, 0x17F }, { 0x300, 0x36F }, { 0x400, 0x4FF } } },
        { liberation_sans, 12, { { 0x20, 0x24F }, { 0x370, 0x3FF }, { 0x400, 0x45F } } },
        { vera, 16, { { 0x20, 0x17F }, { 0x2000, 0x206F } } },
        // Right-to-left scripts with their marks, digits, punctuation and Latin, each set in
        // both orders.
        { noto_hebrew, 48, { { 0x5D0, 0x5EA }, { 0x591, 0x5C7 }, { 0x20, 0x7E } } },
        { noto_hebrew, 48, { { 0x7E, 0x20 }, { 0x5C7, 0x591 }, { 0x5EA, 0x5D0 }, { 0xFB4F, 0xFB1D } } },
        { noto_arabic, 24, { { 0x600, 0x6FF }, { 0x20, 0x40 }, { 0xFEFC, 0xFE70 } } },
        { noto_arabic, 24, { { 0x6FF, 0x600 }, { 0x40, 0x20 } } },
        { noto_syriac, 24, { { 0x700, 0x74F }, { 0x20, 0x40 } } },
        { noto_syriac, 24, { { 0x74F, 0x700 }, { 0x40, 0x20 } } },
        { noto_thaana, 48, { { 0x780, 0x7BF }, { 0x20, 0x40 } }, false },
        { noto_nko, 48, { { 0x7FF, 0x7C0 }, { 0x20, 0x40 } }, false },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.font);
        face_t face(c.font, c.pixels);
        ASSERT_NE(face.face, nullptr);
        const character_set_t set = make_set(c.ranges);
        const std::vector<line_t> every = collect(face.face, set, kerning_search_t::every_pair);
        EXPECT_EQ(every.empty(), !c.kerns);
        EXPECT_EQ(collect(face.face, set, kerning_search_t::candidates), every);
    }
}

TEST(opentype_kerning, a_font_without_layout_tables_has_no_kerning_and_no_complaint)
{
    message_capture_t messages;
    face_t face(OV_TEST_DATA_DIR "/fonts/shapes.bdf", 14);
    ASSERT_NE(face.face, nullptr);
    messages.clear();
    const character_set_t set = make_set(latin1);
    EXPECT_TRUE(collect(face.face, set, kerning_search_t::candidates).empty());
    EXPECT_TRUE(collect(face.face, set, kerning_search_t::every_pair).empty());
    EXPECT_TRUE(messages.lines.empty());
}

TEST(opentype_kerning, a_missing_harfbuzz_library_is_reported_and_fails)
{
    const sys_library_api_t missing = {
        [](const char*) -> void* { return nullptr; },
        [](void*, const char*) -> void* { return nullptr; },
        []() -> const char* { return "libharfbuzz.so.0: cannot open shared object file"; } };
    message_capture_t messages;
    sys_library = &missing;
    const bool loaded = load_harfbuzz();
    face_t face(dejavu_sans, 16);
    array_dyn_t<kerning_pair_t> pairs;
    const bool collected = collect_opentype_kerning_pairs(face.face, make_set(latin1),
                                                          kerning_search_t::candidates, &pairs);
    sys_library = &sys_library_posix;
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(collected);
    ASSERT_FALSE(messages.lines.empty());
    EXPECT_EQ(messages.lines[0], "Failed to load the HarfBuzz library 'libharfbuzz.so.0', which "
                                 "OpenType kerning needs.");
    // The loader's own words follow.
    ASSERT_GE(messages.lines.size(), 2u);
    EXPECT_EQ(messages.lines[1],
              "The system's loader says: libharfbuzz.so.0: cannot open shared object file");
    EXPECT_TRUE(load_harfbuzz());
}
