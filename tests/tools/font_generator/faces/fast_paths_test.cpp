// The output of measuring once and keeping what it learnt is the output of asking FreeType
// again in every phase: whole runs compared byte for byte on Debian's fonts.
#include "ovcore/collections/auto_ptr.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tests/tools/font_generator/faces/render_settings_support.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/faces/glyph_measuring.h"
#include "tools/font_generator/generator.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/kerning/kerning.h"
#include "tools/font_generator/model/finished_font.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/packing/glyph_packing.h"

#include <gtest/gtest.h>

#include <map>

namespace
{

struct set_config_t
{
    const char* font;
    uint32_t pixels;
    bool antialias;
    uint32_t outline;
    uint32_t first_code, last_code;
};

struct run_config_t
{
    const char* name;
    uint32_t font_style;
    uint64_t budget;
    bool kerned;
    std::vector<set_config_t> sets;
};

// Runs the three phases after loading over the sets and writes the outputs into `directory`;
// returns every message issued.
std::vector<std::string> run(const run_config_t& config, bool keep, const std::string& directory)
{
    message_capture_t capture;
    FT_LibraryRec_* library = nullptr;
    EXPECT_TRUE(start_freetype(&library));
    glyph_store_t store;
    store.keeps_glyphs = keep;
    store.budget = config.budget;
    std::vector<FT_FaceRec_*> faces;
    array_dyn_t<auto_ptr_t<set_glyphs_t>> kept;
    array_dyn_t<auto_ptr_t<character_set_t>> sets;
    array_dyn_t<array_dyn_t<auto_ptr_t<font_canvas_t>>> canvases;
    array_dyn_t<array_dyn_t<kerning_pair_t>> kerning;
    finished_font_t font;
    EXPECT_TRUE(kerning.reserve(uint32_t(config.sets.size())));
    for (const set_config_t& set_config : config.sets)
    {
        auto_ptr_t<character_set_t> set(new character_set_t);
        for (uint32_t code = set_config.first_code; code <= set_config.last_code; ++code)
        {
            font_glyph_t* glyph = set->glyphs.append_new();
            glyph->code = code;
            (void)glyph->name.format("g%x", code);
        }
        for (uint32_t code : { 0x41u, 0xE000u, 0x10FFFFu, 0x41u })  // repeats, undefined
            set->glyphs.append_new()->code = code;

        font_face_settings_t settings;
        settings.font_file = set_config.font;
        settings.width = settings.height = set_config.pixels;
        FT_FaceRec_* face = nullptr;
        EXPECT_TRUE(open_font_face(library, settings, &face));
        faces.push_back(face);

        set_glyphs_t* known = nullptr;
        if (keep)
        {
            (void)kept.append(auto_ptr_t<set_glyphs_t>(new set_glyphs_t));
            known = kept.last().get();
            EXPECT_TRUE(known->reset(set->glyphs.size()));
        }
        (void)measure_glyphs(set.get(), face, coverage(set_config.antialias, set_config.outline), known,
                             &store.budget);
        array_dyn_t<kerning_pair_t>* pairs = kerning.append_new();
        EXPECT_TRUE(collect_kerning(face, *set, known, false, pairs));
        const canvas_style_t style{ config.font_style, 230, 6, 3 };
        array_dyn_t<auto_ptr_t<font_canvas_t>>* pictures_of_set = canvases.append_new();
        face_glyph_source_t source(face, *set, coverage(set_config.antialias), known);
        EXPECT_TRUE(fit_set_canvases(pictures_of_set, set.get(), set_config.outline,
                                     picture_limits_t{}, style, &source));

        finished_set_t entry;
        entry.set = set.get();
        entry.first_picture = font.pictures.size();
        entry.picture_count = pictures_of_set->size();
        entry.kerning = pairs;
        entry.pictures.kind = config.font_style == 0 ? picture_kind_t::coverage_alpha
                                                     : picture_kind_t::coverage_colour;
        entry.outline_width = set_config.outline;
        for (uint32_t k = 0; k < pictures_of_set->size(); ++k)
        {
            finished_picture_t* picture = font.pictures.append_new();
            picture->canvas = (*pictures_of_set)[k].get();
            picture->set = font.sets.size();
            picture->index = k;
        }
        (void)font.sets.append(std::move(entry));
        (void)sets.append(std::move(set));
    }
    const std::string base = directory + "/";
    font.base = base.c_str();
    font.output = "font";
    EXPECT_TRUE(finish_font(&font, 2));
    EXPECT_TRUE(write_finished_font(font));
    for (FT_FaceRec_* face : faces)
        close_font_face(face);
    shut_down_freetype(library);
    return capture.lines;
}

std::map<std::string, std::string> files_in(const std::string& directory)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        files[entry.path().filename().string()] = read_file_bytes(entry.path().string());
    return files;
}

const char* const sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const serif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
const char* const mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const char* const type1 = "/usr/share/fonts/X11/Type1/NimbusSans-Regular.pfb";
const char* const pcf = "/usr/share/fonts/X11/misc/9x15-ISO8859-1.pcf.gz";

}  // namespace

TEST(fast_paths, give_the_bytes_of_asking_freetype_in_every_phase)
{
    const run_config_t runs[] = {
        { "kern table, grey", 0, glyph_store_t::default_budget, true,
          { { sans, 32, true, 0, 0x20, 0x4FF } } },
        { "several sets, mono, outline, small budget", 0, 6000, true,
          { { serif, 13, false, 1, 0x20, 0x17F },
            { mono, 16, true, 0, 0x370, 0x3FF },
            { sans, 9, true, 2, 0x2000, 0x2070 } } },
        { "colour, Type 1 and PCF: no kerning", 1, glyph_store_t::default_budget, false,
          { { type1, 20, true, 0, 0x20, 0x17F }, { pcf, 15, true, 1, 0x20, 0xFF } } },
    };
    for (const run_config_t& config : runs)
    {
        SCOPED_TRACE(config.name);
        scratch_directory_t fast;
        scratch_directory_t plain;
        const std::vector<std::string> fast_messages = run(config, true, fast.root());
        const std::vector<std::string> plain_messages = run(config, false, plain.root());
        EXPECT_EQ(fast_messages, plain_messages);
        const auto fast_files = files_in(fast.root());
        const auto plain_files = files_in(plain.root());
        ASSERT_EQ(fast_files.size(), 1 + 3 * config.sets.size());
        for (const auto& [name, bytes] : plain_files)
        {
            ASSERT_TRUE(fast_files.count(name)) << name;
            EXPECT_TRUE(fast_files.at(name) == bytes) << name << " differs";
        }
        EXPECT_EQ(fast_files.at("font.font").find("kern: ") != std::string::npos, config.kerned);
    }
}
