// Kerning through FreeType: the pairs a 'kern' table lists against asking every pair, and a
// pair's value.
#include "tools/font_generator/kerning/kerning.h"

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
        EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), &known, &budget));

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
    EXPECT_TRUE(measure_glyphs(&set, face, coverage(true, 0), &known, &budget));
    array_dyn_t<kerning_pair_t> pairs;
    ASSERT_TRUE(append_face_kerning_pairs(face, 0, set, &known, &pairs));
    std::vector<std::string> listed;
    for (const kerning_pair_t& pair : pairs)
        listed.push_back(std::string(1, char(set.glyphs[pair.first].code)) +
                         char(set.glyphs[pair.second].code) + " " + std::to_string(pair.value));
    EXPECT_EQ(listed, (std::vector<std::string>{ "AA 1", "AV -2", "VA -2" }));  // b = a too
}
