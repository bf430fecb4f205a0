// The run: its phases in order over the stages.
#include "tools/font_generator/generator.h"

#include "ovcore/collections/text_encoding.h"
#include "ovcore/message.h"
#include "ovcore/ufs/fs_file.h"
#include "tools/font_generator/export/bmfont_export.h"
#include "tools/font_generator/faces/face_style.h"
#include "tools/font_generator/faces/glyph_measuring.h"
#include "tools/font_generator/kerning/opentype_kerning.h"
#include "tools/font_generator/model/export_formats.h"
#include "tools/font_generator/output/font_description.h"
#include "tools/font_generator/output/material_files.h"
#include "tools/font_generator/output/preview_picture.h"
#include "tools/font_generator/output/tga_writer.h"
#include "tools/font_generator/packing/glyph_packing.h"

#include <algorithm>
#include <new>
#include <utility>

bool run_generator(const char* path, file_t* opened)
{
    generator_t run;
    // The sets go before the configuration whose units they point into; the units wait on the
    // unit system's pending releases until main flushes them.
    return load_inputs(&run, path, opened) && open_and_measure(&run) && collect_set_kerning(&run) &&
           lay_out_and_draw(&run) && write_outputs(&run);
}

namespace
{

// A set's words at the start of a line.
set_words_t capitalised(set_words_t words)
{
    if (words.text[0] >= 'a' && words.text[0] <= 'z')
        words.text[0] = char(words.text[0] - 'a' + 'A');
    return words;
}

// The set's characters: its character-set file's lines, then its ranges' codes and its text
// files' characters, each of those once. With ranges or texts the file may be left out. The
// ranges' codes are put in place once the faces are open (add_range_characters), as only codes
// some font has are kept; `range_position` is where they go.
bool read_characters(const char_set_config_u& config, character_set_t* set,
                     uint32_t* range_position)
{
    const bool more = !config.character_ranges.empty() || !config.text_files.empty();
    if ((!more || !config.character_set_file.empty()) &&
        !read_character_set(set, config.character_set_file))
        return false;
    *range_position = set->glyphs.size();
    if (!more)
        return true;
    code_set_t seen;
    if (!seen.start(*set))
    {
        msg_error("Not enough memory for the characters of the character set file '%s'.",
                  config.character_set_file.c_str());
        return false;
    }
    for (const string_dyn_t& range : config.character_ranges)
    {
        uint32_t first = 0;
        uint32_t last = 0;
        if (parse_character_range(range.c_str(), &first, &last))  // checked at load
            mark_character_range(first, last, &seen);
    }
    for (const string_dyn_t& text : config.text_files)
        if (!read_text_characters(set, text, &seen))
            return false;
    return true;
}

}  // namespace

bool load_inputs(generator_t* run, const char* path, file_t* opened)
{
    run->configuration = load_configuration(path, opened, &run->set_names);
    if (!run->configuration)
        return false;
    const configuration_u& configuration = *run->configuration;
    const uint32_t count = configuration.char_config.size();
    if (!run->sets.reserve(count))
    {
        msg_error("Not enough memory for the character sets of the configuration file '%s'.",
                  path);
        return false;
    }
    bool result = true;
    for (uint32_t k = 0; k < count; ++k)
    {
        generator_set_t set;
        set.config = configuration.char_set(k);
        const string_dyn_t& set_path = set.config->character_set_file;
        set.character_set.reset(new (std::nothrow) character_set_t);
        if (!set.character_set)
        {
            msg_error("Not enough memory for the character set file '%s'.", set_path.c_str());
            result = false;
            continue;
        }
        set.character_set->label = set_label_t{ k, set_path.c_str(), run->set_names[k].c_str() };
        // A set that fails is dropped; the others are still read so that all their problems
        // are reported in one run.
        if (!read_characters(*set.config, set.character_set.get(), &set.range_position))
        {
            const char_set_config_u& config = *set.config;
            if (config.character_set_file.empty() && config.character_ranges.empty() &&
                config.text_files.empty())
                msg_error("%s names no character source: give it a character_set_file, "
                          "character_ranges or text_files.",
                          capitalised(describe_set(set.character_set->label)).text);
            result = false;
            continue;
        }
        (void)run->sets.append(std::move(set));  // room was reserved above
    }
    return result;
}

namespace
{

// Face k of the set: its font_file's (k = 0) or its fallback font's.
font_face_settings_t face_settings_of(const char_set_config_u& config, uint32_t k)
{
    font_face_settings_t settings;
    settings.font_file =
        k == 0 ? config.font_file.c_str() : config.fallback_font_files[k - 1].c_str();
    settings.width = config.width;
    settings.height = config.height;
    settings.scale_width = config.scale_width;
    settings.scale_height = config.scale_height;
    return settings;
}

// What a set's pictures hold: decided here, once, for every stage and writer.
set_pictures_t pictures_of(const char_set_config_u& config, uint32_t font_style)
{
    set_pictures_t pictures;
    const distance_field_type_t field_type = field_type_of(config);
    pictures.kind = !config.distance_field ? font_style == 0 ? picture_kind_t::coverage_alpha
                                                             : picture_kind_t::coverage_colour
                    : field_type == distance_field_type_t::msdf
                        ? picture_kind_t::multi_channel_field
                    : field_type == distance_field_type_t::mtsdf
                        ? picture_kind_t::multi_channel_and_true_field
                        : picture_kind_t::distance_field;
    pictures.distance_range = config.distance_range;
    return pictures;
}

glyph_render_settings_t render_settings_of(const char_set_config_u& config)
{
    glyph_render_settings_t settings;
    settings.antialias = config.antialias;
    settings.outline_width = config.outline_width;
    settings.distance_field = config.distance_field;
    settings.distance_range = config.distance_range;
    settings.field_type = field_type_of(config);
    settings.padding = config.glyph_padding;
    return settings;
}

bool open_faces(generator_set_t* set)
{
    const char_set_config_u& config = *set->config;
    array_dyn_t<font_face_settings_t> fonts;
    set->faces.reset(new (std::nothrow) face_set_t);
    if (!set->faces || !fonts.reserve(config.fallback_font_files.size() + 1))
    {
        msg_error("Not enough memory to open the font file '%s'.", config.font_file.c_str());
        return false;
    }
    for (uint32_t k = 0; k <= config.fallback_font_files.size(); ++k)
    {
        font_face_settings_t* settings = fonts.append_new();  // room was reserved above
        *settings = face_settings_of(config, k);
        // A distance field is measured from outlines: a bitmap font has none to give, and is
        // refused before anything is said about its sizes.
        settings->outlines_only = config.distance_field;
    }
    variation_request_t variation;
    variation.instance = config.font_instance.c_str();
    variation.settings = &config.font_variations;
    variation.label = set->character_set->label;
    if (set->faces->open(fonts, variation))
        return true;
    const face_list_t faces = set->faces->faces();
    if (config.distance_field && faces.count > 0 && !has_outlines(faces[faces.count - 1]))
        msg_error("The font file '%s' has no outlines: the element %u of 'char_config' (the "
                  "character set file '%s') is a distance field and needs outline fonts.",
                  fonts[faces.count - 1].font_file, set->character_set->label.element,
                  set->character_set->label.file);
    return false;
}

// The codes of the set's ranges that some font of the set has, in place; one warning for those
// none has (a range is "everything the font has", not a list of characters asked for by name).
bool add_range_characters(generator_set_t* set)
{
    const char_set_config_u& config = *set->config;
    if (config.character_ranges.empty())
        return true;
    character_set_t& characters = *set->character_set;
    const set_label_t& label = characters.label;
    code_set_t available;
    if (!available.start())
    {
        msg_error("Not enough memory for the characters of the character set file '%s'.",
                  label.file);
        return false;
    }
    collect_mapped_codes(set->faces->faces(), &available);
    lost_codes_t lost;
    if (!insert_range_characters(&characters, set->range_position, config.character_ranges,
                                 available, &lost))
        return false;
    if (lost.count == 0)
        return true;
    string_dyn_t runs;
    bool formed = true;
    for (uint64_t i = 0; i < std::min<uint64_t>(lost.run_count, lost_codes_t::shown_runs); ++i)
    {
        const uint32_t first = lost.runs[i][0];
        const uint32_t last = lost.runs[i][1];
        formed = formed && (i == 0 || runs.append(", ")) &&
                 (first == last ? runs.append_formatted("U+%04X", first)
                                : runs.append_formatted("U+%04X-U+%04X", first, last));
    }
    if (lost.run_count > lost_codes_t::shown_runs)
        formed = formed && runs.append_formatted(" and %I64u more",
                                                 lost.run_count - lost_codes_t::shown_runs);
    if (!formed)
    {
        msg_error("Not enough memory for the characters of the character set file '%s'.",
                  label.file);
        return false;
    }
    msg_warning("%I64u codes of the character ranges of the element %u of 'char_config' (the "
                "character set file '%s') are in no font of the set and are left out: %s.",
                lost.count, label.element, label.file, runs.c_str());
    return true;
}

}  // namespace

bool open_and_measure(generator_t* run)
{
    glyph_store_t& store = run->glyph_store;
    for (generator_set_t& set : run->sets)
    {
        const char_set_config_u& config = *set.config;
        if (!open_faces(&set) || !add_range_characters(&set) ||
            (config.opentype_kerning && !load_harfbuzz()))
            return false;
        if (set.character_set->glyphs.empty())
            msg_warning("%s ends with no characters: its character_set_file, character_ranges "
                        "and text_files give it none (codes of ranges that no font of the set has "
                        "are left out), and its picture is empty.",
                        capitalised(describe_set(set.character_set->label)).text);
        // Without memory for it the set is simply measured again later: same output.
        if (store.keeps_glyphs)
            set.kept_glyphs.reset(new (std::nothrow) set_glyphs_t);
        const glyph_render_settings_t settings = render_settings_of(config);
        if (!measure_set(set.character_set.get(), set.faces.get(), settings, &set.kept_glyphs,
                         &store.budget))
            return false;
    }
    return true;
}

bool collect_set_kerning(generator_t* run)
{
    for (generator_set_t& set : run->sets)
    {
        if (!collect_kerning(set.faces->faces(), *set.character_set, set.kept_glyphs.get(),
                             set.config->opentype_kerning, &set.kerning))
        {
            const set_label_t& label = set.character_set->label;
            msg_error("Out of memory while collecting the kerning pairs of the element %u of "
                      "'char_config' (the character set file '%s').",
                      label.element, label.file);
            return false;
        }
    }
    return true;
}

bool lay_out_and_draw(generator_t* run)
{
    const configuration_u& configuration = *run->configuration;
    const canvas_style_t style{ configuration.font_style, configuration.gradient_color_start,
                                configuration.gradient_color_step,
                                configuration.gradient_start_offset };
    for (generator_set_t& set : run->sets)
    {
        const char_set_config_u& config = *set.config;
        // Drawn, the source lets go of the kept bitmaps: only the glyph indices are needed
        // from here on.
        face_glyph_source_t source(set.faces->faces(), *set.character_set,
                                   render_settings_of(config), set.kept_glyphs.get(),
                                   set.faces.get());
        const picture_limits_t limits{ config.max_picture_size, config.several_pictures,
                                       config.glyph_spacing };
        // Three channels take four bytes a pixel whatever font_style says.
        canvas_style_t set_style = style;
        if (pictures_of(config, configuration.font_style).has_channels())
            set_style.font_style = 1;
        if (!fit_set_canvases(&set.canvases, set.character_set.get(), config.outline_width,
                              limits, set_style, &source, config.distance_field,
                              config.glyph_padding))
            return false;
    }
    return true;
}

namespace
{

// The finished font: the configuration's output settings, every set and every picture of the
// run in number order, the figures and the file names. False when memory is short.
bool finish_run(const generator_t& run, finished_font_t* font)
{
    const configuration_u& configuration = *run.configuration;
    font->base = configuration.base.c_str();
    font->output = configuration.output.c_str();
    font->vertical_span_bias = configuration.vertical_span_bias;
    font->default_scale = configuration.default_scale;
    font->preview_text = configuration.preview_text.c_str();
    for (const string_dyn_t& name : configuration.export_formats)
    {
        export_format_t format;
        if (find_export_format(name.c_str(), &format))  // checked at load
            font->export_formats |= export_format_bit(format);
    }
    if (!font->sets.reserve(run.sets.size()))
        return false;
    for (uint32_t k = 0; k < run.sets.size(); ++k)
    {
        const generator_set_t& set = run.sets[k];
        const char_set_config_u& config = *set.config;
        finished_set_t* entry = font->sets.append_new();  // room was reserved above
        entry->set = set.character_set.get();
        entry->first_picture = font->pictures.size();
        entry->picture_count = set.canvases.size();
        entry->kerning = &set.kerning;
        entry->pictures = pictures_of(config, configuration.font_style);
        entry->outline_width = config.outline_width;
        const face_set_t& faces = *set.faces;
        entry->facts.face = faces.variation(0).has_coordinates()
                                ? read_varied_face_style(faces.faces()[0], faces.variation(0))
                                : read_face_style(faces.faces()[0]);
        entry->facts.size = config.height != 0 ? config.height : config.width;
        entry->facts.stretch_h = compute_stretch_h(config.width, config.height,
                                                   config.scale_width, config.scale_height);
        entry->facts.smooth = config.antialias;
        entry->facts.padding = config.glyph_padding;
        entry->facts.spacing = config.glyph_spacing;
        for (uint32_t index = 0; index < set.canvases.size(); ++index)
        {
            finished_picture_t* picture = font->pictures.append_new();
            if (picture == nullptr)
                return false;
            picture->canvas = set.canvases[index].get();
            picture->set = k;
            picture->index = index;
        }
    }
    return finish_font(font, configuration.line_spacing);
}

bool has_character(const generator_t& run, uint32_t code)
{
    for (const generator_set_t& set : run.sets)
        for (const font_glyph_t& glyph : set.character_set->glyphs)
            if (glyph.code == code)
                return true;
    return false;
}

// The preview sets each set's glyphs and passes over the rest: characters that no set has are
// listed once, in the order of the text. False when memory runs short for the list.
bool warn_of_preview_characters_no_set_has(const generator_t& run)
{
    const char* text = run.configuration->preview_text.c_str();
    array_dyn_t<uint32_t> missing;
    string_dyn_t listed;
    for (const char* at = text; *at != '\0';)
    {
        const utf8_sequence_t sequence = decode_utf8(at);
        at += sequence.length > 0 ? sequence.length : 1;  // checked to be UTF-8 at load
        const uint32_t code = sequence.code_point;
        if (sequence.length <= 0 || has_character(run, code) ||
            std::find(missing.begin(), missing.end(), code) != missing.end())
            continue;
        if (!missing.append(code) || (!listed.empty() && !listed.append(", ")) ||
            !listed.append_formatted("U+%04X%s", code, quote_character(code).text))
        {
            msg_error("Not enough memory to list the characters of the preview_text that no "
                      "character set has.");
            return false;
        }
    }
    if (!missing.empty())
        msg_warning("The preview_text has characters that no character set has, and the preview "
                    "leaves them out: %s; add them to a set to see them.",
                    listed.c_str());
    return true;
}

}  // namespace

bool write_finished_font(const finished_font_t& font)
{
    // The description is created first and closed last of the engine's files.
    auto_ptr_t<file_t> description;
    if (!write_font_description(font, &description))
        return false;
    for (uint32_t k = 0; k < font.pictures.size(); ++k)
        if (!write_material_file(font, k) || !write_texture_object_file(font, k) ||
            !write_font_picture(font, k))
            return false;
    if (font.preview_text[0] != '\0' && !write_preview_picture(font))
        return false;
    description.reset();
    return font.export_formats == 0 || write_bmfont_exports(font);
}

bool write_outputs(generator_t* run)
{
    if (!run->configuration->preview_text.empty() && !warn_of_preview_characters_no_set_has(*run))
        return false;
    finished_font_t font;
    if (!finish_run(*run, &font))
    {
        msg_error("Not enough memory to write the outputs of the configuration.");
        return false;
    }
    return write_finished_font(font);
}
