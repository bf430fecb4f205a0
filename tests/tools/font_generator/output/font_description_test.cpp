// The font description: glyph and kerning lines, the vertical span, the whole text, the output
// files with their names and order, and every failure.
#include "tools/font_generator/output/font_description.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/ufs/fs_file.h"
#include "ovcore/collections/string.h"
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tests/tools/font_generator/output_test_support.h"
#include "tests/tools/font_generator/faces/render_settings_support.h"
#include "tools/font_generator/input/character_set.h"
#include "tools/font_generator/model/font_canvas.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/faces/glyph_bitmap.h"
#include "tools/font_generator/faces/glyph_measuring.h"
#include "tools/font_generator/generator.h"
#include "tools/font_generator/kerning/kerning.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace
{

font_glyph_t make_glyph(uint32_t code, const char* name)
{
    font_glyph_t glyph;
    glyph.code = code;
    (void)glyph.name.assign(name);
    return glyph;
}

std::string glyph_line(const font_glyph_t& glyph, int32_t max_top, uint32_t set_index)
{
    string_dyn_t text;
    EXPECT_TRUE(append_glyph_line(&text, glyph, max_top, set_index));
    return text.c_str();
}

// Character sets with canvases, and the finished font of them that the writers read.
struct outputs_t
{
    void add_set(std::vector<font_glyph_t> glyphs, uint32_t outline_width = 0,
                 uint32_t font_style = 0)
    {
        auto_ptr_t<character_set_t> set(new character_set_t);
        for (font_glyph_t& glyph : glyphs)
            (void)set->glyphs.append(std::move(glyph));
        auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{ font_style });
        ASSERT_TRUE(canvas->resize_and_clear(32, 64));
        finished_set_t entry;
        entry.set = set.get();
        entry.outline_width = outline_width;
        entry.pictures.kind =
            font_style == 0 ? picture_kind_t::coverage_alpha : picture_kind_t::coverage_colour;
        (void)font.sets.append(std::move(entry));
        (void)sets.append(std::move(set));
        set_canvases.push_back({ canvas.get() });
        (void)canvases.append(std::move(canvas));
        number_pictures();
    }

    // Another picture of the set at `index`, after the ones it has.
    void add_canvas(uint32_t index, uint32_t width, uint32_t height)
    {
        auto_ptr_t<font_canvas_t> canvas = create_font_canvas(canvas_style_t{});
        ASSERT_TRUE(canvas->resize_and_clear(width, height));
        set_canvases[index].push_back(canvas.get());
        (void)canvases.append(std::move(canvas));
        number_pictures();
    }

    // The pictures over the run, set by set, as the run numbers them.
    void number_pictures()
    {
        font.pictures.clear();
        for (uint32_t k = 0; k < font.sets.size(); ++k)
        {
            font.sets[k].first_picture = font.pictures.size();
            font.sets[k].picture_count = uint32_t(set_canvases[k].size());
            for (uint32_t i = 0; i < set_canvases[k].size(); ++i)
            {
                finished_picture_t* picture = font.pictures.append_new();
                picture->canvas = set_canvases[k][i];
                picture->set = k;
                picture->index = i;
            }
        }
    }

    // The figures and names, once the font's settings are in place.
    const finished_font_t& finish(int32_t line_spacing = 2)
    {
        EXPECT_TRUE(finish_font(&font, line_spacing));
        return font;
    }

    array_dyn_t<auto_ptr_t<character_set_t>> sets;
    array_dyn_t<auto_ptr_t<font_canvas_t>> canvases;
    std::vector<std::vector<const font_canvas_t*>> set_canvases;
    finished_font_t font;
};

const char legend_and_heading[] =
    "\r\n# P_x: starting column of glyph rectangle in the font bitmap\r\n"
    "# P_y: starting row of glyph rectangle in the font bitmap\r\n"
    "# W: width of the glyph rectangle\r\n"
    "# H: height of the glyph rectangle\r\n"
    "# L: left offset of the rectangle when placing it relative to current 'pen position'\r\n"
    "#    (negative value can be thought of as 'hard' kerning, but is used at the beginning of "
    "line too!)\r\n"
    "# T: top offset of the rectangle when placing it relative to current 'pen position'\r\n"
    "#    (the 'pen' is expected to be at the level of topmost pixel of highest glyph)\r\n"
    "# A: advance of the 'pen' for rendering of the following glyph\r\n"
    "# I: image index\r\n"
    "\r\n"
    "#NUM,    P_x, P_y,  W,  H,  L,  T,  A,  I     # character / glyph name\r\n\r\n";

// Runs the process in another directory while in scope.
class current_directory_t
{
public:
    explicit current_directory_t(const std::string& directory)
    {
        char buffer[4096];
        m_previous = getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : ".";
        EXPECT_EQ(chdir(directory.c_str()), 0);
    }
    ~current_directory_t() { (void)chdir(m_previous.c_str()); }

private:
    std::string m_previous;
};

}  // namespace

TEST(append_glyph_line, writes_every_column_and_the_character)
{
    font_glyph_t a = make_glyph(0x41, "A");
    a.canvas_x = 1;
    a.canvas_y = 1;
    a.width = 9;
    a.height = 12;
    a.top = 7;
    a.advance = 10;
    a.rasterized = true;
    font_glyph_t unnamed = a;
    (void)unnamed.name.assign("");
    font_glyph_t spaced = a;
    (void)spaced.name.assign("Latin capital A");
    struct case_t
    {
        font_glyph_t glyph;
        uint32_t set;
        const char* line;
    };
    const case_t cases[] = {
        { a, 0, "x0041,    1,    1,  9, 12,  0,  3, 10,  0     # 'A' / 'A'\r\n" },
        { unnamed, 0, "x0041,    1,    1,  9, 12,  0,  3, 10,  0     # 'A'\r\n" },
        { spaced, 3, "x0041,    1,    1,  9, 12,  0,  3, 10,  3     # 'A' / 'Latin capital A'\r\n" },
        // Not rasterized: zeros, and the top offset is the font's top line.
        { make_glyph(0x1F600, "grin"), 1,
          "x1f600,    0,    0,  0,  0,  0, 10,  0,  1     # '\xF0\x9F\x98\x80' / 'grin'\r\n" },
        { make_glyph(0x27, "quote"), 0,
          "x0027,    0,    0,  0,  0,  0, 10,  0,  0     # ''' / 'quote'\r\n" },
        { make_glyph(0, ""), 0, "x0000,    0,    0,  0,  0,  0, 10,  0,  0     # ''\r\n" },
        { make_glyph(0xE9, ""), 0,
          "x00e9,    0,    0,  0,  0,  0, 10,  0,  0     # '\xC3\xA9'\r\n" },
    };
    for (const case_t& c : cases)
        EXPECT_EQ(glyph_line(c.glyph, 10, c.set), c.line);
}

TEST(append_kerning_line, writes_both_codes_the_value_and_the_characters)
{
    string_dyn_t text;
    ASSERT_TRUE(append_kerning_line(&text, 0x41, 0x56, -1));
    ASSERT_TRUE(append_kerning_line(&text, 0x54, 0x6F, -12));
    EXPECT_STREQ(text.c_str(), "kern: x0041, x0056, -1      # 'A' -> 'V'\r\n"
                               "kern: x0054, x006f,-12      # 'T' -> 'o'\r\n");
}

TEST(compute_vertical_span, adds_the_bias_unless_it_would_go_negative)
{
    // The span is computed silently; the description writer says that a bias was ignored.
    struct case_t
    {
        int32_t bias;
        uint32_t span;
        bool ignored;
    };
    const case_t cases[] = {
        { 0, 13, false },   { 4, 17, false },  { -5, 8, false },
        { -13, 0, false },  { -14, 13, true }, { INT32_MIN, 13, true },
    };
    for (const case_t& c : cases)
    {
        message_capture_t capture;
        bool ignored = !c.ignored;
        EXPECT_EQ(compute_vertical_span(10, 3, c.bias, &ignored), c.span) << c.bias;
        EXPECT_EQ(ignored, c.ignored) << c.bias;
        EXPECT_EQ(capture.lines, std::vector<std::string>{});
    }
    scratch_directory_t scratch;
    const std::string base = scratch.path("");
    outputs_t outputs;
    outputs.add_set({});
    outputs.font.base = base.c_str();
    outputs.font.output = "span";
    outputs.font.vertical_span_bias = INT32_MIN;
    message_capture_t capture;
    auto_ptr_t<file_t> description;
    ASSERT_TRUE(write_font_description(outputs.finish(), &description));
    EXPECT_EQ(capture.lines, std::vector<std::string>{
                                 "Attempt to make the font's vertical span negative by using "
                                 "large vertical_span_bias -2147483648 - ignoring the request." });
}

TEST(append_font_description, writes_header_images_legend_glyphs_and_kerning_marker)
{
    outputs_t outputs;
    font_glyph_t m = make_glyph(0x4D, "M");
    m.rasterized = true;
    m.canvas_x = 1;
    m.canvas_y = 1;
    m.width = 11;
    m.height = 12;
    m.left = 1;
    m.top = 11;
    m.advance = 12;
    m.below = 1;
    outputs.add_set({ m, make_glyph(0x2D, "") });
    outputs.add_set({});  // empty: an image line, nothing else
    character_set_t& first = *outputs.sets[0];
    first.max_width = 11;
    first.max_advance = 12;
    first.m_height = 12;
    first.max_top = 11;
    first.max_below = 1;
    outputs.sets[1]->max_width = -100;  // a set without measured glyphs keeps its reset values
    ASSERT_TRUE(outputs.canvases[1]->resize_and_clear(32, 32));

    outputs.font.output = "font";
    outputs.font.vertical_span_bias = -2;
    outputs.font.default_scale = 0.75f;
    string_dyn_t text;
    ASSERT_TRUE(append_font_description(&text, outputs.finish(3)));
    EXPECT_EQ(std::string(text.c_str()),
              std::string("# QVX Font\r\n# Max width: 11\r\n# Max advance: 12\r\n"
                          "# Typical height 'above the line': 12 (height of letter 'M')\r\n"
                          "# Max pixels 'above the line': 11\r\n"
                          "# Max pixels 'below the line': 1\r\n\r\n"
                          "vert_span:10  # max difference between lowest and highest pixel in "
                          "any two glyphs\r\n"
                          "line_spacing:3  # suggested number of pixels to put between lines\r\n"
                          "\r\n"
                          "default_scale:0.750000  # default font scale in reference resolution"
                          "\r\n\r\n"
                          "image:font_0.mat, 32, 64\r\n"
                          "image:font_1.mat, 32, 32\r\n") +
                  legend_and_heading +
                  "x004d,    1,    1, 11, 12,  1,  0, 12,  0     # 'M' / 'M'\r\n"
                  "x002d,    0,    0,  0,  0,  0, 11,  0,  0     # '-'\r\n"
                  "\r\n# kerning...\r\n\r\n");
}

TEST(append_font_description, starts_every_maximum_at_zero)
{
    outputs_t outputs;
    string_dyn_t text;
    ASSERT_TRUE(append_font_description(&text, outputs.finish()));
    EXPECT_EQ(std::string(text.c_str()),
              std::string("# QVX Font\r\n# Max width: 0\r\n# Max advance: 0\r\n"
                          "# Typical height 'above the line': 0 (height of letter 'M')\r\n"
                          "# Max pixels 'above the line': 0\r\n"
                          "# Max pixels 'below the line': 0\r\n\r\n"
                          "vert_span:0  # max difference between lowest and highest pixel in "
                          "any two glyphs\r\n"
                          "line_spacing:2  # suggested number of pixels to put between lines\r\n"
                          "\r\n"
                          "default_scale:1.000000  # default font scale in reference resolution"
                          "\r\n\r\n") +
                  legend_and_heading + "\r\n# kerning...\r\n\r\n");
}

TEST(append_font_description, kerns_sets_whose_first_code_is_up_to_u3000)
{
    FT_LibraryRec_* library = nullptr;
    ASSERT_TRUE(start_freetype(&library));
    font_face_settings_t face_settings;
    face_settings.font_file = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    face_settings.width = face_settings.height = 32;
    FT_FaceRec_* face = nullptr;
    ASSERT_TRUE(open_font_face(library, face_settings, &face));

    struct case_t
    {
        uint32_t first_code;
        bool kerned;
    };
    for (const case_t& c : { case_t{ 0x3001, false }, case_t{ 0x3000, true } })
    {
        SCOPED_TRACE(c.first_code);
        outputs_t outputs;
        outputs.add_set({ make_glyph(c.first_code, ""), make_glyph(0x41, "A"),
                          make_glyph(0x56, "V") });
        set_glyphs_t known;
        ASSERT_TRUE(known.reset(3));
        uint64_t budget = 1u << 20;
        message_capture_t capture;  // U+3000/U+3001 may be undefined: still kerned by index 0
        (void)measure_glyphs(outputs.sets[0].get(), face, coverage(true, 0), &known, &budget);
        array_dyn_t<kerning_pair_t> pairs;
        ASSERT_TRUE(collect_kerning(face, *outputs.sets[0], &known, false, &pairs));
        outputs.font.sets[0].kerning = &pairs;
        string_dyn_t text;
        ASSERT_TRUE(append_font_description(&text, outputs.finish()));
        const std::string written = text.c_str();
        const std::string kerning = written.substr(written.find("# kerning...\r\n\r\n") + 16);
        EXPECT_EQ(kerning.find("kern: x0041, x0056, -2      # 'A' -> 'V'\r\n") != std::string::npos,
                  c.kerned)
            << kerning;
        EXPECT_EQ(kerning.empty(), !c.kerned);
    }
    close_font_face(face);
    shut_down_freetype(library);
}

TEST(write_finished_font, writes_the_description_then_each_pictures_three_files)
{
    scratch_directory_t scratch;
    const std::string base = scratch.path("art/");
    outputs_t outputs;
    outputs.add_set({ make_glyph(0x41, "A") });
    outputs.add_set({}, 1);
    outputs.add_set({});
    outputs.font.base = base.c_str();
    outputs.font.output = "font";
    sys_file_recorder_t recorder;
    message_capture_t capture;
    ASSERT_TRUE(write_finished_font(outputs.finish()));
    EXPECT_EQ(capture.lines, std::vector<std::string>{});

    std::vector<std::string> opened;
    for (const std::string& call : recorder.calls)
        if (call.rfind("open ", 0) == 0)
            opened.push_back(call.substr(5 + base.size()));
    EXPECT_EQ(opened, (std::vector<std::string>{ "font.font", "font_0.mat", "font_0.tobj",
                                                 "font_0.tga", "font_1.mat", "font_1.tobj",
                                                 "font_1.tga", "font_2.mat", "font_2.tobj",
                                                 "font_2.tga" }));
    EXPECT_NE(read_file_bytes(base + "font_2.mat").find("\"font_2.tobj\""), std::string::npos);
    EXPECT_EQ(read_file_bytes(base + "font_2.tobj").rfind("map 2d font_2.tga\r\n", 0), 0u);
    EXPECT_EQ(read_file_bytes(base + "font_0.tga").size(), 18u + 32 * 64);
    // The white-font variants only for outline 0 with font style 0.
    EXPECT_NE(read_file_bytes(base + "font_0.mat").find("\"ui.white_font\""), std::string::npos);
    EXPECT_NE(read_file_bytes(base + "font_1.mat").find("\"ui\""), std::string::npos);
    EXPECT_NE(read_file_bytes(base + "font_1.tobj").find("usage ui\r\n"), std::string::npos);
    const std::string description = read_file_bytes(base + "font.font");
    EXPECT_NE(description.find("image:font_2.mat, 32, 64\r\n"), std::string::npos);
}

TEST(write_finished_font, numbers_pictures_over_the_sets_then_each_sets_canvases)
{
    scratch_directory_t scratch;
    const std::string base = scratch.path("");
    outputs_t outputs;
    outputs.add_set({ make_glyph(0x41, "A") });
    outputs.add_canvas(0, 64, 32);
    outputs.add_set({ make_glyph(0x42, "B") }, 1);
    outputs.font.base = base.c_str();
    outputs.font.output = "font";
    sys_file_recorder_t recorder;
    ASSERT_TRUE(write_finished_font(outputs.finish()));

    std::vector<std::string> opened;
    for (const std::string& call : recorder.calls)
        if (call.rfind("open ", 0) == 0)
            opened.push_back(call.substr(5 + base.size()));
    EXPECT_EQ(opened, (std::vector<std::string>{ "font.font", "font_0.mat", "font_0.tobj",
                                                 "font_0.tga", "font_1.mat", "font_1.tobj",
                                                 "font_1.tga", "font_2.mat", "font_2.tobj",
                                                 "font_2.tga" }));
    const std::string description = read_file_bytes(base + "font.font");
    EXPECT_NE(description.find("image:font_0.mat, 32, 64\r\n"
                               "image:font_1.mat, 64, 32\r\n"
                               "image:font_2.mat, 32, 64\r\n"),
              std::string::npos)
        << description;
    // A set's glyphs lie on its first picture.
    EXPECT_NE(description.find("x0041,    0,    0,  0,  0,  0,  0,  0,  0     # 'A' / 'A'\r\n"
                               "x0042,    0,    0,  0,  0,  0,  0,  0,  2     # 'B' / 'B'\r\n"),
              std::string::npos)
        << description;
    EXPECT_EQ(read_file_bytes(base + "font_1.tga").size(), 18u + 64 * 32);
    // Every picture of a set takes the set's variant.
    EXPECT_NE(read_file_bytes(base + "font_1.mat").find("\"ui.white_font\""), std::string::npos);
    EXPECT_NE(read_file_bytes(base + "font_2.mat").find("\"ui\""), std::string::npos);
}

TEST(write_finished_font, uses_the_plain_variants_for_colour_pictures)
{
    scratch_directory_t scratch;
    const std::string base = scratch.path("");
    outputs_t outputs;
    outputs.add_set({}, 0, 1);
    outputs.font.base = base.c_str();
    outputs.font.output = "f";
    ASSERT_TRUE(write_finished_font(outputs.finish()));
    EXPECT_NE(read_file_bytes(base + "f_0.mat").find("\"ui\""), std::string::npos);
    EXPECT_NE(read_file_bytes(base + "f_0.tobj").find("usage ui\r\n"), std::string::npos);
    EXPECT_EQ(read_file_bytes(base + "f_0.tga").size(), 18u + 32 * 64 * 4);
}

TEST(write_finished_font, joins_empty_base_and_output_into_bare_names)
{
    scratch_directory_t scratch;
    current_directory_t inside(scratch.root());
    outputs_t outputs;
    outputs.add_set({});
    outputs.font.base = "";
    outputs.font.output = "";
    ASSERT_TRUE(write_finished_font(outputs.finish()));
    for (const char* name : { ".font", "_0.mat", "_0.tobj", "_0.tga" })
        EXPECT_TRUE(std::filesystem::exists(scratch.path(name))) << name;
    EXPECT_NE(read_file_bytes(scratch.path("_0.mat")).find("\"_0.tobj\""), std::string::npos);
}

TEST(write_finished_font, stops_at_the_first_file_that_fails)
{
    scratch_directory_t scratch;
    outputs_t outputs;
    outputs.add_set({});
    outputs.add_set({});
    write_file_bytes(scratch.path("blocked"), "x");
    struct case_t
    {
        std::string base;
        const char* output;
        uint32_t failing_write;  // the first write that fails; large: none
        std::vector<std::string> messages;
        std::vector<std::string> written;  // the file that failed is removed, the others stay
    };
    const std::string blocked = scratch.path("blocked/");
    const std::string good = scratch.path("good/");
    const case_t cases[] = {
        { blocked, "font", 1000,
          { "[fs] Failed to open file '" + blocked + "font.font' in the create_truncate mode.",
            "[fs] Reason: a part of the path is not a folder.",
            "Failed to create the font file '" + blocked + "font.font'." },
          {} },
        { good, "desc", 0, { "Failed to write the font file '" + good + "desc.font'." }, {} },
        { good, "mat", 1, { "Unable to write the material file '" + good + "mat_0.mat'." },
          { "mat.font" } },
        { good, "tobj", 2, { "Unable to write the file '" + good + "tobj_0.tobj'." },
          { "tobj.font", "tobj_0.mat" } },
        { good, "tga", 3, { "Failed to write the font picture '" + good + "tga_0.tga'." },
          { "tga.font", "tga_0.mat", "tga_0.tobj" } },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.output);
        outputs.font.base = c.base.c_str();
        outputs.font.output = c.output;
        const finished_font_t& font = outputs.finish();
        failing_writes_t disk(c.failing_write);
        message_capture_t capture;
        EXPECT_FALSE(write_finished_font(font));
        EXPECT_EQ(capture.lines, c.messages);
        std::vector<std::string> written;
        if (std::filesystem::is_directory(c.base))
            for (const auto& entry : std::filesystem::directory_iterator(c.base))
                if (entry.path().filename().string().rfind(c.output, 0) == 0)
                    written.push_back(entry.path().filename().string());
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, c.written);
    }
}
