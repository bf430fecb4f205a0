// The export for other engines, read back as an engine reads it: every flavour by a reader
// written from the format's description, compared field by field with the font description's
// glyph and kerning lines, and the PNG pages decoded with libpng against the TGA pictures.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tests/support/process_runner.h"
#include "tests/tools/font_generator/export/bmfont_readers.h"
#include "tests/tools/font_generator/run_test_support.h"
#include "tests/tools/font_generator/stored_outputs_support.h"
#include "tools/font_generator/export/bmfont_export.h"
#include "tools/font_generator/model/export_formats.h"
#include "tools/font_generator/model/font_canvas.h"

#include <gtest/gtest.h>

#include <png.h>

#include <filesystem>
#include <set>

namespace
{

const std::string fixtures = OV_TEST_DATA_DIR "/fonts/";
const std::string dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char every_format[] = "    export_formats: 4\n"
                            "    export_formats[0]: \"bmfont_text\"\n"
                            "    export_formats[1]: \"bmfont_xml\"\n"
                            "    export_formats[2]: \"bmfont_binary\"\n"
                            "    export_formats[3]: \"bmfont_json\"\n";
const char* const extensions[] = { "fnt", "xml", "bin", "json" };

// What a set's info says beyond the description, and how its pictures are made.
struct set_facts_t
{
    std::string face;
    int bold;
    int italic;
    int size;
    int stretch_h;
    int smooth;
    bool colour;
};

// The RGBA pixels of a PNG, top row first.
struct rgba_picture_t
{
    unsigned width = 0;
    unsigned height = 0;
    std::vector<unsigned char> pixels;
    const unsigned char* at(unsigned x, unsigned y) const { return &pixels[(y * width + x) * 4]; }
};

rgba_picture_t decode_png(const std::string& path)
{
    rgba_picture_t picture;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
    {
        ADD_FAILURE() << path << ": " << image.message;
        return picture;
    }
    image.format = PNG_FORMAT_RGBA;
    picture.width = image.width;
    picture.height = image.height;
    picture.pixels.resize(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr))
        << path;
    return picture;
}

// Pixel (x, y) of a TGA picture, row 0 the top row, as RGBA: a one-byte picture is white with
// the byte as alpha; a four-byte one is stored B, G, R, A.
std::vector<unsigned char> tga_pixel(const std::string& tga, unsigned x, unsigned y)
{
    const unsigned width = static_cast<unsigned char>(tga[12]) | static_cast<unsigned char>(tga[13]) << 8;
    const unsigned height = static_cast<unsigned char>(tga[14]) | static_cast<unsigned char>(tga[15]) << 8;
    const unsigned bytes = static_cast<unsigned char>(tga[16]) / 8;
    const unsigned char* pixel = reinterpret_cast<const unsigned char*>(tga.data()) + 18 +
                                 (size_t(height - 1 - y) * width + x) * bytes;
    if (bytes == 1)
        return { 255, 255, 255, pixel[0] };
    return { pixel[2], pixel[1], pixel[0], pixel[3] };
}

// A colour picture's pixel, colour multiplied by coverage, as straight colour: alpha raised to
// the largest colour byte where that is above it, colour divided by that alpha.
std::vector<unsigned char> straight_pixel(std::vector<unsigned char> pixel)
{
    const unsigned alpha = std::max({ pixel[0], pixel[1], pixel[2], pixel[3] });
    for (int i = 0; i < 3; ++i)
        pixel[i] = alpha == 0 ? 0 : static_cast<unsigned char>((pixel[i] * 255.0 / alpha) + 0.5);
    pixel[3] = static_cast<unsigned char>(alpha);
    return pixel;
}

// Undefined characters the run reported: they have glyph lines but no char entries.
std::set<long long> undefined_codes(const std::string& errors)
{
    std::set<long long> codes;
    const std::string key = "Undefined character U+";
    for (size_t at = errors.find(key); at != std::string::npos; at = errors.find(key, at + 1))
        codes.insert(std::stoll(errors.substr(at + key.size(), 8), nullptr, 16));
    return codes;
}

// Set k of a run: its pictures are the description's images first_picture onwards, one per page.
// Its char entries are its glyph lines on those pictures less the undefined ones, a code once;
// its kerning entries the kerning lines between those codes (the sets of a test have codes of
// their own).
void check_set(const std::string& directory, const std::string& stem, unsigned k,
               const description_t& description, const set_facts_t& facts,
               unsigned first_picture, const std::set<long long>& undefined)
{
    SCOPED_TRACE("set " + std::to_string(k));
    const std::string prefix = directory + "/" + stem + "-" + std::to_string(k);
    std::vector<read_font_t> flavours = {
        read_text_flavour(read_file_bytes(prefix + ".fnt")),
        read_xml_flavour(read_file_bytes(prefix + ".xml")),
        read_binary_flavour(read_file_bytes(prefix + ".bin")),
        read_json_flavour(read_file_bytes(prefix + ".json")),
    };
    const unsigned pages = unsigned(flavours[0].pages.size());
    ASSERT_GT(pages, 0u);

    std::vector<std::map<std::string, long long>> chars;
    std::set<long long> codes;
    for (const std::vector<long long>& glyph : description.glyphs)
    {
        if (glyph[8] < first_picture || glyph[8] >= first_picture + pages ||
            undefined.count(glyph[0]) || !codes.insert(glyph[0]).second)
            continue;
        chars.push_back({ { "id", glyph[0] }, { "x", glyph[1] }, { "y", glyph[2] },
                          { "width", glyph[3] }, { "height", glyph[4] }, { "xoffset", glyph[5] },
                          { "yoffset", glyph[6] }, { "xadvance", glyph[7] },
                          { "page", glyph[8] - first_picture }, { "chnl", 15 } });
    }
    std::vector<std::vector<long long>> kernings;
    for (const std::vector<long long>& pair : description.kernings)
        if (codes.count(pair[0]) && codes.count(pair[1]))
            kernings.push_back(pair);
    unsigned page_width = 0;
    unsigned page_height = 0;
    for (unsigned i = 0; i < pages; ++i)
    {
        page_width = std::max(page_width, description.images[first_picture + i][0]);
        page_height = std::max(page_height, description.images[first_picture + i][1]);
    }
    const std::string colour_channel = facts.colour ? "0" : "4";
    const std::map<std::string, std::string> info = {
        { "face", facts.face }, { "size", std::to_string(facts.size) },
        { "bold", std::to_string(facts.bold) }, { "italic", std::to_string(facts.italic) },
        { "charset", "" }, { "unicode", "1" }, { "stretchH", std::to_string(facts.stretch_h) },
        { "smooth", std::to_string(facts.smooth) }, { "aa", "1" }, { "padding", "0,0,0,0" },
        { "spacing", "1,1" }, { "outline", "0" },
    };
    const std::map<std::string, std::string> common = {
        { "lineHeight", std::to_string(description.vertical_span + description.line_spacing) },
        { "base", std::to_string(description.max_top) },
        { "scaleW", std::to_string(page_width) }, { "scaleH", std::to_string(page_height) },
        { "pages", std::to_string(pages) }, { "packed", "0" }, { "alphaChnl", "0" },
        { "redChnl", colour_channel }, { "greenChnl", colour_channel },
        { "blueChnl", colour_channel },
    };
    for (size_t n = 0; n < flavours.size(); ++n)
    {
        SCOPED_TRACE(extensions[n]);
        const read_font_t& font = flavours[n];
        std::map<std::string, std::string> expected_info = info;
        if (n == 0)  // the text flavour has no escapes
            for (char& c : expected_info["face"])
                c = c == '"' || c == '\n' || c == '\r' ? '_' : c;
        EXPECT_EQ(font.info, expected_info);
        EXPECT_EQ(font.common, common);
        EXPECT_TRUE(font.distance_field.empty());
        EXPECT_EQ(font.chars, chars);
        EXPECT_EQ(font.kernings, kernings);
        EXPECT_EQ(font.pages.size(), pages);
    }
    EXPECT_EQ(flavours[1].pages, flavours[3].pages);  // the escaping flavours say names as they are

    for (unsigned i = 0; i < pages; ++i)
    {
        const std::string page_name = flavours[1].pages[i];
        EXPECT_EQ(page_name.size(), flavours[1].pages[0].size());
        const rgba_picture_t page = decode_png(directory + "/" + page_name);
        const std::string tga = read_file_bytes(
            directory + "/" + stem + "_" + std::to_string(first_picture + i) + ".tga");
        ASSERT_EQ(page.width, page_width);
        ASSERT_EQ(page.height, page_height);
        const unsigned width = description.images[first_picture + i][0];
        const unsigned height = description.images[first_picture + i][1];
        for (const auto& entry : chars)
        {
            if (entry.at("page") != i)
                continue;
            for (long long y = entry.at("y"); y < entry.at("y") + entry.at("height"); ++y)
                for (long long x = entry.at("x"); x < entry.at("x") + entry.at("width"); ++x)
                {
                    const unsigned char* pixel = page.at(unsigned(x), unsigned(y));
                    const std::vector<unsigned char> picture =
                        tga_pixel(tga, unsigned(x), unsigned(y));
                    ASSERT_EQ(std::vector<unsigned char>(pixel, pixel + 4),
                              facts.colour ? straight_pixel(picture) : picture)
                        << "char " << entry.at("id") << " at " << x << ", " << y;
                }
        }
        for (unsigned y = 0; y < page_height; ++y)  // the padding is empty
            for (unsigned x = y < height ? width : 0; x < page_width; ++x)
                ASSERT_EQ(page.at(x, y)[3], 0) << x << ", " << y;
    }
}

struct run_t
{
    process_result_t result;
    description_t description;
};

run_t run_in(const scratch_directory_t& scratch, const std::string& configuration,
             const std::string& stem = "font")
{
    write_file_bytes(scratch.path("font.qsd"), configuration);
    run_t run;
    run.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    run.description = read_description(read_file_bytes(scratch.path("out/" + stem + ".font")));
    return run;
}

}  // namespace

TEST(bmfont_export, bdf_sets_read_back_in_every_flavour_and_leave_the_engines_files_as_stored)
{
    for (const stored_style_t& c : stored_styles)
    {
        SCOPED_TRACE(c.name);
        scratch_directory_t scratch;
        write_stored_run(scratch, c.style, every_format);
        const bool colour = c.style[0] != '\0';
        run_t run;
        run.result = run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
        ASSERT_EQ(run.result.status, 0) << run.result.err;
        run.description = read_description(read_file_bytes(scratch.path("out/font.font")));
        EXPECT_EQ(run.result.err, "*** ERROR *** : Undefined character U+00e9\r\n");
        const std::set<long long> undefined = undefined_codes(run.result.err);
        ASSERT_EQ(undefined.size(), 1u);
        // The BDF fixtures name no family; the second set's glyphs are 8 px tall, as asked.
        check_set(scratch.path("out"), "font", 0, run.description,
                  { "", 0, 0, 14, 100, 1, colour }, 0, undefined);
        check_set(scratch.path("out"), "font", 1, run.description,
                  { "", 0, 0, 8, 100, 1, colour }, 1, undefined);

        // The engine's files are today's, byte for byte; the export adds its own and no more.
        const std::string stored = OV_TEST_DATA_DIR "/expected/" + std::string(c.name) + "/";
        std::vector<std::string> names = sorted_file_names(stored);
        for (const std::string& name : names)
            EXPECT_TRUE(read_file_bytes(scratch.path("out/" + name)) ==
                        read_file_bytes(stored + name))
                << name;
        for (const char* name : { "font-0.fnt", "font-0.xml", "font-0.bin", "font-0.json",
                                  "font-0_0.png", "font-1.fnt", "font-1.xml", "font-1.bin",
                                  "font-1.json", "font-1_0.png" })
            names.push_back(name);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(sorted_file_names(scratch.path("out")), names);
    }
}

TEST(bmfont_export, a_real_font_reads_back_with_its_kerning_a_code_listed_twice_once)
{
    // Latin-1 of DejaVu Sans with 'A' listed again: one char entry, the first; the kerning pairs
    // as the description lists them. Taller than wide: stretchH follows the scales.
    scratch_directory_t scratch;
    std::string characters = read_file_bytes(OV_SOURCE_DIR "/etc/font/latin1.chars");
    write_file_bytes(scratch.path("set.chars"), characters + "U+0041 A again\n");
    const run_t run = run_in(scratch, one_set_configuration(dejavu_sans, "set.chars", 16,
                                                            every_format,
                                                            "    scale_height: 1.5\n"
                                                            "    antialias: false\n"));
    EXPECT_EQ(run.result.err.find("ERROR"), std::string::npos) << run.result.err;
    ASSERT_GT(run.description.kernings.size(), 100u);
    check_set(scratch.path("out"), "font", 0, run.description,
              { "DejaVu Sans", 0, 0, 16, 150, 0, false }, 0, {});
}

TEST(bmfont_export, a_set_on_several_pictures_has_pages_of_one_size_and_names_of_one_length)
{
    // Latin-1 at 16 px: on 33 pictures of 32 x 32 (page names with two digits), and on a
    // 128 x 128 and a 64 x 128 picture (the second page padded on the right).
    struct case_t
    {
        const char* limit;
        size_t pictures;
        size_t sizes;
        const char* first_page;
    };
    const case_t cases[] = { { "32", 33, 1, "out/font-0_00.png" },
                             { "128", 2, 2, "out/font-0_0.png" } };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.limit);
        scratch_directory_t scratch;
        const run_t run = run_in(scratch, one_set_configuration(
                                              dejavu_sans, OV_SOURCE_DIR "/etc/font/latin1.chars",
                                              16, every_format,
                                              std::string("    max_picture_size: ") + c.limit +
                                                  "\n    several_pictures: true\n"));
        EXPECT_EQ(run.description.images.size(), c.pictures);
        const std::set<std::vector<unsigned>> sizes(run.description.images.begin(),
                                                    run.description.images.end());
        EXPECT_EQ(sizes.size(), c.sizes);
        EXPECT_TRUE(std::filesystem::exists(scratch.path(c.first_page)));
        check_set(scratch.path("out"), "font", 0, run.description,
                  { "DejaVu Sans", 0, 0, 16, 100, 1, false }, 0, {});
    }
}

TEST(bmfont_export, names_that_xml_and_json_escape_and_the_text_flavour_replaces)
{
    // A family name and an output stem with quotes, markup and a backslash; bold and italic.
    // FreeType gives the BDF property as written, its doubled quote included.
    scratch_directory_t scratch;
    std::string font = read_file_bytes(fixtures + "shapes.bdf");
    const std::string properties = "STARTPROPERTIES 6\n";
    font.replace(font.find(properties), properties.size(),
                 "STARTPROPERTIES 9\nFAMILY_NAME \"Q\"\"uote <&> 'it' \\ back\"\n"
                 "WEIGHT_NAME \"Bold\"\nSLANT \"I\"\n");
    write_file_bytes(scratch.path("named.bdf"), font);
    write_file_bytes(scratch.path("set.chars"), "U+0021 exclam\nU+004D M\n");
    std::string configuration =
        one_set_configuration("named.bdf", "set.chars", 14, every_format);
    configuration.replace(configuration.find("\"font\""), 6, "\"a\\\"&<'>\\\\b\"");
    const std::string stem = "a\"&<'>\\b";
    const run_t run = run_in(scratch, configuration, stem);
    ASSERT_TRUE(std::filesystem::exists(scratch.path("out/" + stem + "-0.fnt"))) << run.result.err;
    check_set(scratch.path("out"), stem, 0, run.description,
              { "Q\"\"uote <&> 'it' \\ back", 1, 1, 14, 100, 1, false }, 0, {});
    const read_font_t text = read_text_flavour(read_file_bytes(scratch.path("out/" + stem + "-0.fnt")));
    EXPECT_EQ(text.pages, std::vector<std::string>{ "a_&<'>\\b-0_0.png" });
    EXPECT_EQ(text.info.at("face"), "Q__uote <&> 'it' \\ back");
}

TEST(bmfont_export, refuses_unknown_and_repeated_formats_at_load)
{
    struct case_t
    {
        const char* formats;
        const char* message;
    };
    const case_t cases[] = {
        { "    export_formats: 2\n    export_formats[0]: \"bmfont_text\"\n"
          "    export_formats[1]: \"angelcode\"\n",
          "*** ERROR *** : The export format 'angelcode' in the configuration file 'font.qsd' is "
          "not one of bmfont_text, bmfont_xml, bmfont_binary and bmfont_json.\r\n" },
        { "    export_formats: 2\n    export_formats[0]: \"bmfont_json\"\n"
          "    export_formats[1]: \"bmfont_json\"\n",
          "*** ERROR *** : The export format 'bmfont_json' is named more than once in the "
          "configuration file 'font.qsd'.\r\n" },
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.formats);
        scratch_directory_t scratch;
        write_file_bytes(scratch.path("set.chars"), "U+0041 A\n");
        write_file_bytes(scratch.path("font.qsd"),
                         one_set_configuration(dejavu_sans, "set.chars", 16, c.formats));
        const process_result_t result =
            run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, std::string(c.message) +
                                  "*** ERROR *** : Failed to read the configuration file "
                                  "'font.qsd'.\r\n");
        EXPECT_FALSE(std::filesystem::exists(scratch.path("out")));
    }
}

TEST(bmfont_export, a_descriptor_that_cannot_be_created_fails_the_run_naming_its_path)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("set.chars"), "U+0041 A\n");
    std::filesystem::create_directories(scratch.path("out/font-0.xml"));
    write_file_bytes(scratch.path("font.qsd"),
                     one_set_configuration(dejavu_sans, "set.chars", 16, every_format));
    const process_result_t result =
        run_process(OV_FONT_GENERATOR_EXE, { "font.qsd" }, scratch.root());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("*** ERROR *** : Failed to create the font export file "
                              "'out/font-0.xml'.\r\n"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(std::filesystem::exists(scratch.path("out/font-0.fnt")));  // written before
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out/font-0.json")));
}

namespace
{

// A hand-made font of one set of two glyphs on one 32 x 32 canvas of the style (alpha at
// (x, y) is x × 8 + y; a colour canvas has colour 255 − alpha): a field when a range is given.
// Its top line is 5, its span 7 and its line spacing 2.
struct hand_made_set_t
{
    character_set_t set;
    auto_ptr_t<font_canvas_t> canvas;
    array_dyn_t<kerning_pair_t> kerning;
    finished_font_t font;

    explicit hand_made_set_t(float distance_range, uint32_t font_style = 0)
    {
        set.label = set_label_t{ 0, "hand.chars" };
        for (uint32_t code : { 0x41u, 0x56u })
        {
            font_glyph_t* glyph = set.glyphs.append_new();
            glyph->code = code;
            glyph->rasterized = true;
            glyph->width = 4;
            glyph->height = 5;
            glyph->top = 5;
            glyph->advance = 6;
            glyph->canvas_x = code == 0x41 ? 1 : 7;
            glyph->canvas_y = 2;
        }
        set.max_top = 5;
        set.max_below = 2;
        (void)kerning.append(kerning_pair_t{ 0, 1, -1 });
        canvas_style_t style;
        style.font_style = font_style;
        canvas = create_font_canvas(style);
        EXPECT_TRUE(canvas && canvas->resize_and_clear(32, 32));
        const uint32_t bytes = canvas->bytes_per_pixel();
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 32; ++x)
            {
                uint8_t* pixel = canvas->pixels + canvas->pixel_offset(x, y);
                std::memset(pixel, 255 - (x * 8 + y), bytes - 1);
                pixel[bytes - 1] = uint8_t(x * 8 + y);
            }
        finished_set_t* entry = font.sets.append_new();
        entry->set = &set;
        entry->picture_count = 1;
        entry->kerning = &kerning;
        entry->pictures.kind = distance_range > 0    ? picture_kind_t::distance_field
                               : font_style == 0     ? picture_kind_t::coverage_alpha
                                                     : picture_kind_t::coverage_colour;
        entry->pictures.distance_range = distance_range;
        entry->facts.face.family = "Hand";
        entry->facts.size = 12;
        font.pictures.append_new()->canvas = canvas.get();
        font.output = "hand";
        EXPECT_TRUE(finish_font(&font, 2));
    }

    // The font with its files at `base`, named after `output`, in the flavours.
    const finished_font_t& exported(const std::string& base, const char* output,
                                    uint32_t formats)
    {
        base_text = base;
        font.base = base_text.c_str();
        font.output = output;
        font.export_formats = formats;
        return font;
    }

    std::string base_text;
};

}  // namespace

TEST(bmfont_export, a_distance_field_set_says_so_and_has_its_value_in_alpha_of_white_pages)
{
    for (const uint32_t font_style : { 0u, 1u })  // the gradient is not exported for fields
    {
        SCOPED_TRACE(font_style);
        scratch_directory_t scratch;
        hand_made_set_t hand(4.5f, font_style);
        const std::string base = scratch.root() + "/";
        ASSERT_TRUE(write_bmfont_exports(hand.exported(base, "sdf", 0xF)));
        const std::vector<read_font_t> flavours = {
            read_text_flavour(read_file_bytes(base + "sdf-0.fnt")),
            read_xml_flavour(read_file_bytes(base + "sdf-0.xml")),
            read_binary_flavour(read_file_bytes(base + "sdf-0.bin")),
            read_json_flavour(read_file_bytes(base + "sdf-0.json")),
        };
        for (const read_font_t& font : flavours)
        {
            if (&font != &flavours[2])  // the binary flavour has no block for it
            {
                EXPECT_EQ(font.distance_field,
                          (std::map<std::string, std::string>{ { "fieldType", "sdf" },
                                                               { "distanceRange", "4.5" } }));
            }
            EXPECT_EQ(font.common.at("alphaChnl"), "0");
            for (const char* channel : { "redChnl", "greenChnl", "blueChnl" })
                EXPECT_EQ(font.common.at(channel), "4") << channel;
            EXPECT_EQ(font.common.at("lineHeight"), "9");
            EXPECT_EQ(font.chars.size(), 2u);
            EXPECT_EQ(font.kernings, (std::vector<std::vector<long long>>{ { 0x41, 0x56, -1 } }));
        }
        const rgba_picture_t page = decode_png(base + "sdf-0_0.png");
        ASSERT_EQ(page.width, 32u);
        for (unsigned y = 0; y < 32; ++y)
            for (unsigned x = 0; x < 32; ++x)
            {
                const unsigned char value = static_cast<unsigned char>(x * 8 + y);
                ASSERT_EQ(std::vector<unsigned char>(page.at(x, y), page.at(x, y) + 4),
                          (std::vector<unsigned char>{ 255, 255, 255, value }))
                    << x << ", " << y;
            }
    }
}

TEST(bmfont_export, colour_pages_hold_straight_colour)
{
    scratch_directory_t scratch;
    hand_made_set_t hand(0, 1);
    // Colour at or below alpha, above it, full and transparent; grey stays grey + alpha, and a
    // pixel of three colours makes the page RGBA.
    const struct
    {
        unsigned x, y;
        std::vector<unsigned char> picture;  // R, G, B, A as the canvas holds them
        std::vector<unsigned char> page;
    } cases[] = {
        { 1, 1, { 60, 60, 60, 120 }, { 128, 128, 128, 120 } },
        { 2, 1, { 52, 52, 52, 25 }, { 255, 255, 255, 52 } },
        { 3, 1, { 255, 255, 255, 255 }, { 255, 255, 255, 255 } },
        { 4, 1, { 0, 0, 0, 0 }, { 0, 0, 0, 0 } },
        { 5, 1, { 10, 100, 200, 150 }, { 13, 128, 255, 200 } },
        { 6, 1, { 1, 2, 3, 3 }, { 85, 170, 255, 3 } },
    };
    for (const auto& c : cases)
        std::memcpy(hand.canvas->pixels + hand.canvas->pixel_offset(c.x, c.y), c.picture.data(),
                    4);
    const std::string base = scratch.root() + "/";
    ASSERT_TRUE(write_bmfont_exports(
        hand.exported(base, "colour", export_format_bit(export_format_t::bmfont_text))));
    const read_font_t font = read_text_flavour(read_file_bytes(base + "colour-0.fnt"));
    for (const char* channel : { "alphaChnl", "redChnl", "greenChnl", "blueChnl" })
        EXPECT_EQ(font.common.at(channel), "0") << channel;
    const rgba_picture_t page = decode_png(base + "colour-0_0.png");
    for (const auto& c : cases)
        EXPECT_EQ(std::vector<unsigned char>(page.at(c.x, c.y), page.at(c.x, c.y) + 4), c.page)
            << c.x << ", " << c.y;
    for (unsigned x = 0; x < 32; ++x)  // every other pixel by the same rule
        EXPECT_EQ(std::vector<unsigned char>(page.at(x, 20), page.at(x, 20) + 4),
                  straight_pixel({ uint8_t(255 - (x * 8 + 20)), uint8_t(255 - (x * 8 + 20)),
                                   uint8_t(255 - (x * 8 + 20)), uint8_t(x * 8 + 20) }))
            << x;
}

TEST(bmfont_export, the_binary_flavour_refuses_values_beyond_their_fields)
{
    struct case_t
    {
        const char* name;
        void (*change)(bmfont_font_t*);
        const char* message;
    };
    const case_t cases[] = {
        { "kerning amount", [](bmfont_font_t* font) { font->kernings[0].amount = -40000; },
          "The kerning amount -40000 from U+0041 to U+0056 in the element 0 of 'char_config' "
          "(the character set file 'hand.chars') does not fit the 16 signed bits of its "
          "bmfont_binary field." },
        { "xoffset", [](bmfont_font_t* font) { font->chars[1].line.left = 32768; },
          "The xoffset 32768 of the character U+0056 in the element 0 of 'char_config' (the "
          "character set file 'hand.chars') does not fit the 16 signed bits of its bmfont_binary "
          "field." },
        { "yoffset", [](bmfont_font_t* font) { font->chars[0].line.top = -32769; },
          "The yoffset -32769 of the character U+0041 in the element 0 of 'char_config' (the "
          "character set file 'hand.chars') does not fit the 16 signed bits of its bmfont_binary "
          "field." },
        { "line height", [](bmfont_font_t* font) { font->line_height = 70000; },
          "The lineHeight 70000 of the element 0 of 'char_config' (the character set file "
          "'hand.chars') does not fit the 16 bits of its bmfont_binary field." },
    };
    hand_made_set_t hand(0);
    array_dyn_t<string_dyn_t> names;
    (void)names.append(string_dyn_t("page_0.png"));
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.name);
        bmfont_font_t font;
        ASSERT_TRUE(collect_bmfont(hand.font, 0, names, &font));
        c.change(&font);
        message_capture_t capture;
        array_dyn_t<uint8_t> bytes;
        EXPECT_FALSE(append_bmfont_binary(&bytes, font));
        EXPECT_EQ(capture.lines, std::vector<std::string>{ c.message });
        EXPECT_EQ(bytes.size(), 0u);
        string_dyn_t text;  // the text flavours carry any value
        EXPECT_TRUE(append_bmfont_text(&text, font));
    }
}

namespace
{

// A line of text drawn one channel deep (every page here is grey) over a ground of one level.
struct drawn_line_t
{
    int width = 0;
    int height = 0;
    std::vector<double> levels;   // composited colour
    std::vector<int> ink;         // 1 where a field's value is one half or more
};

// A glyph to draw: its cell in a picture and where that lands on the line.
struct placed_cell_t
{
    long long x, y, width, height;  // in the picture, row 0 the top row
    long long left, top;            // on the line, from the pen and the line's top
    long long pen;
    unsigned picture;
};

// Draws the cells over `ground`: premultiplied (the engine's blending of its TGA, whose colour
// is multiplied by coverage) or straight (a PNG reader's: colour × alpha), and marks where a
// field is one half or more. `pixel` gives a picture's pixel as R, G, B, A.
template <typename pixel_of_t>
drawn_line_t draw_line(const std::vector<placed_cell_t>& cells, double ground, bool premultiplied,
                       pixel_of_t pixel)
{
    drawn_line_t line;
    line.width = 400;
    line.height = 80;
    line.levels.assign(size_t(line.width * line.height), ground);
    line.ink.assign(line.levels.size(), 0);
    for (const placed_cell_t& cell : cells)
        for (long long y = 0; y < cell.height; ++y)
            for (long long x = 0; x < cell.width; ++x)
            {
                const long long to_x = 8 + cell.pen + cell.left + x;
                const long long to_y = 8 + cell.top + y;
                EXPECT_TRUE(to_x >= 0 && to_x < line.width && to_y >= 0 && to_y < line.height);
                const std::vector<unsigned char> p =
                    pixel(cell.picture, unsigned(cell.x + x), unsigned(cell.y + y));
                double& level = line.levels[size_t(to_y * line.width + to_x)];
                const double alpha = p[3] / 255.0;
                level = (premultiplied ? p[0] : p[0] * alpha) + level * (1 - alpha);
                // A field's half level, as the engine reads it from alpha and a straight
                // reader from its colour multiplied by alpha.
                if ((premultiplied ? p[3] : p[0] * alpha) >= 127.5)
                    line.ink[size_t(to_y * line.width + to_x)] = 1;
            }
    return line;
}

// The box of a line's ink: left, top, right, bottom (exclusive).
std::vector<int> ink_box(const drawn_line_t& line)
{
    std::vector<int> box = { line.width, line.height, 0, 0 };
    for (int y = 0; y < line.height; ++y)
        for (int x = 0; x < line.width; ++x)
            if (line.ink[size_t(y * line.width + x)])
                box = { std::min(box[0], x), std::min(box[1], y), std::max(box[2], x + 1),
                        std::max(box[3], y + 1) };
    return box;
}

}  // namespace

TEST(bmfont_export, a_line_drawn_from_the_pages_as_straight_readers_draw_it_matches_the_engines)
{
    // The same line set twice: from the description and the TGA pictures with the engine's
    // premultiplied blending, and from the text descriptor and the PNG pages as a reader of
    // straight PNG draws it; over black and over white. Fields are compared by their ink.
    const std::string text = "AVATAR Wo, fly! Tq";
    const struct
    {
        const char* name;
        const char* configuration;
        const char* set;
        bool field;
    } cases[] = {
        { "alpha", "", "", false },
        { "colour", "    font_style: 1\n    gradient_color_start: 230\n"
                    "    gradient_color_step: -9\n    gradient_start_offset: 3\n", "", false },
        { "field", "", "    distance_field: true\n    distance_range: 4\n", true },
        { "colour field", "    font_style: 1\n    gradient_color_start: 200\n",
          "    distance_field: true\n    distance_range: 4\n", true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        scratch_directory_t scratch;
        write_file_bytes(scratch.path("line.txt"), text);
        const run_t run = run_in(
            scratch, one_set_configuration(dejavu_sans, "", 24,
                                           std::string(c.configuration) +
                                               "    export_formats: 1\n"
                                               "    export_formats[0]: \"bmfont_text\"\n",
                                           std::string(c.set) +
                                               "    text_files: 1\n"
                                               "    text_files[0]: \"line.txt\"\n"));
        const read_font_t font = read_text_flavour(read_file_bytes(scratch.path("out/font-0.fnt")));
        ASSERT_FALSE(run.description.kernings.empty());
        std::map<long long, std::vector<long long>> lines;
        std::map<long long, std::map<std::string, long long>> chars;
        std::map<std::pair<long long, long long>, long long> engine_kerning, export_kerning;
        for (const std::vector<long long>& glyph : run.description.glyphs)
            lines[glyph[0]] = glyph;
        for (const auto& entry : font.chars)
            chars[entry.at("id")] = entry;
        for (const std::vector<long long>& pair : run.description.kernings)
            engine_kerning[{ pair[0], pair[1] }] = pair[2];
        for (const std::vector<long long>& pair : font.kernings)
            export_kerning[{ pair[0], pair[1] }] = pair[2];

        std::vector<placed_cell_t> engine_cells, export_cells;
        long long engine_pen = 0, export_pen = 0;
        for (size_t i = 0; i < text.size(); ++i)
        {
            const long long code = static_cast<unsigned char>(text[i]);
            if (i > 0)
            {
                const std::pair<long long, long long> pair{ static_cast<unsigned char>(text[i - 1]),
                                                            code };
                engine_pen += engine_kerning.count(pair) ? engine_kerning[pair] : 0;
                export_pen += export_kerning.count(pair) ? export_kerning[pair] : 0;
            }
            const std::vector<long long>& g = lines.at(code);
            engine_cells.push_back({ g[1], g[2], g[3], g[4], g[5], g[6], engine_pen,
                                     unsigned(g[8]) });
            engine_pen += g[7];
            if (chars.count(code))
            {
                const std::map<std::string, long long>& e = chars.at(code);
                export_cells.push_back({ e.at("x"), e.at("y"), e.at("width"), e.at("height"),
                                         e.at("xoffset"), e.at("yoffset"), export_pen,
                                         unsigned(e.at("page")) });
                export_pen += e.at("xadvance");
            }
        }
        ASSERT_EQ(export_pen, engine_pen);
        const std::string tga = read_file_bytes(scratch.path("out/font_0.tga"));
        const rgba_picture_t page = decode_png(scratch.path("out/" + font.pages.at(0)));
        // The engine's alpha pictures are white: premultiplied, the colour is the alpha.
        const bool alpha_picture = tga[16] == 8;
        const auto from_tga = [&](unsigned, unsigned x, unsigned y)
        {
            std::vector<unsigned char> pixel = tga_pixel(tga, x, y);
            if (alpha_picture)
                pixel[0] = pixel[1] = pixel[2] = pixel[3];
            return pixel;
        };
        const auto from_page = [&](unsigned, unsigned x, unsigned y)
        { return std::vector<unsigned char>(page.at(x, y), page.at(x, y) + 4); };
        if (c.field)
        {
            const drawn_line_t engine = draw_line(engine_cells, 0, true, from_tga);
            const drawn_line_t exported = draw_line(export_cells, 0, false, from_page);
            const std::vector<int> engine_box = ink_box(engine);
            const std::vector<int> export_box = ink_box(exported);
            ASSERT_LT(engine_box[0], engine_box[2]);
            for (int side = 0; side < 4; ++side)
                EXPECT_LE(std::abs(engine_box[side] - export_box[side]), 1) << side;
            EXPECT_EQ(engine.ink, exported.ink);
            continue;
        }
        for (const double ground : { 0.0, 255.0 })
        {
            const drawn_line_t engine = draw_line(engine_cells, ground, true, from_tga);
            const drawn_line_t exported = draw_line(export_cells, ground, false, from_page);
            double worst = 0;
            for (size_t i = 0; i < engine.levels.size(); ++i)
                worst = std::max(worst, std::abs(std::min(engine.levels[i], 255.0) -
                                                 std::min(exported.levels[i], 255.0)));
            EXPECT_LE(worst, 1.0) << "over " << ground;
        }
    }
}

TEST(compute_stretch_h, is_height_over_width_in_percent_rounded)
{
    EXPECT_EQ(compute_stretch_h(16, 16, 1.0f, 1.0f), 100);
    EXPECT_EQ(compute_stretch_h(16, 24, 1.0f, 1.0f), 150);
    EXPECT_EQ(compute_stretch_h(12, 12, 1.5f, 1.0f), 67);
    EXPECT_EQ(compute_stretch_h(0, 20, 1.0f, 1.0f), 100);  // a side of 0 is the other side
    EXPECT_EQ(compute_stretch_h(10, 10, 0.0f, 1.0f), 0);   // no finite ratio
}
