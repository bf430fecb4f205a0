// The run: its phases in order over the stages.
#include "tools/font_generator/generator.h"

#include "ovcore/message.h"
#include "tools/font_generator/export/bmfont_export.h"
#include "tools/font_generator/export/export_formats.h"
#include "tools/font_generator/faces/face_style.h"
#include "tools/font_generator/faces/glyph_measuring.h"
#include "tools/font_generator/kerning/opentype_kerning.h"
#include "tools/font_generator/packing/glyph_packing.h"

#include <algorithm>
#include <new>
#include <utility>

bool run_generator(const char* path)
{
    generator_t run;
    // The sets go before the configuration whose units they point into; the units wait on the
    // unit system's pending releases until main flushes them.
    return load_inputs(&run, path) && open_and_measure(&run) && collect_set_kerning(&run) &&
           lay_out_and_draw(&run) && write_outputs(&run);
}

namespace
{

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

bool load_inputs(generator_t* run, const char* path)
{
    run->configuration = load_configuration(path);
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
        // A set that fails is dropped; the others are still read so that all their problems
        // are reported in one run.
        if (!read_characters(*set.config, set.character_set.get(), &set.range_position))
        {
            result = false;
            continue;
        }
        set.character_set->label = set_label_t{ k, set_path.c_str() };
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

glyph_render_settings_t render_settings_of(const char_set_config_u& config)
{
    glyph_render_settings_t settings;
    settings.antialias = config.antialias;
    settings.outline_width = config.outline_width;
    settings.distance_field = config.distance_field;
    settings.distance_range = config.distance_range;
    settings.field_type = field_type_of(config);
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
    if (set->faces->open(fonts))
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
        set_glyphs_t* known = set.kept_glyphs.get();
        face_glyph_source_t source(set.faces->faces(), *set.character_set,
                                   render_settings_of(config), known, set.faces.get());
        const picture_limits_t limits{ config.max_picture_size, config.several_pictures };
        // Three channels take four bytes a pixel whatever font_style says.
        canvas_style_t set_style = style;
        if (field_type_of(config) != distance_field_type_t::sdf)
            set_style.font_style = 1;
        if (!fit_set_canvases(&set.canvases, set.character_set.get(), config.outline_width,
                              limits, set_style, &source, config.distance_field))
            return false;
        if (known != nullptr)
            known->release_bitmaps();  // drawn: only the glyph indices are needed from here on
    }
    return true;
}

namespace
{

// Every picture of the run in number order, and where each set's pictures begin.
bool number_pictures(generator_t* run, array_dyn_t<font_output_set_t>* entries)
{
    run->pictures.clear();
    if (!entries->reserve(run->sets.size()))
        return false;
    for (uint32_t k = 0; k < run->sets.size(); ++k)
    {
        const generator_set_t& set = run->sets[k];
        font_output_set_t* entry = entries->append_new();  // room was reserved above
        entry->set = set.character_set.get();
        entry->first_picture = run->pictures.size();
        entry->picture_count = set.canvases.size();
        entry->kerning = &set.kerning;
        entry->outline_width = set.config->outline_width;
        entry->distance_range = set.config->distance_field ? set.config->distance_range : 0.0f;
        entry->field_type = field_type_of(*set.config);
        for (uint32_t index = 0; index < set.canvases.size(); ++index)
            if (!run->pictures.append(output_picture_t{ set.canvases[index].get(), k, index }))
                return false;
    }
    return true;
}

// The descriptors and pages for other engines, after the engine's own files.
bool export_for_engines(const generator_t& run, const array_t<font_output_set_t>& entries,
                        const font_layout_t& layout)
{
    const configuration_u& configuration = *run.configuration;
    bmfont_settings_t settings;
    settings.base = configuration.base.c_str();
    settings.output = configuration.output.c_str();
    settings.layout = layout;
    for (const string_dyn_t& name : configuration.export_formats)
    {
        export_format_t format;
        if (find_export_format(name.c_str(), &format))  // checked at load
            settings.formats |= export_format_bit(format);
    }
    array_dyn_t<bmfont_set_t> sets;
    if (!sets.reserve(entries.size()))
    {
        msg_error("Not enough memory to export the character sets of the configuration.");
        return false;
    }
    for (uint32_t k = 0; k < entries.size(); ++k)
    {
        const char_set_config_u& config = *run.sets[k].config;
        bmfont_set_t* set = sets.append_new();  // room was reserved above
        set->entry = &entries[k];
        set->face = read_face_style(run.sets[k].faces->faces()[0]);
        set->size = config.height != 0 ? config.height : config.width;
        set->stretch_h = compute_stretch_h(config.width, config.height, config.scale_width,
                                           config.scale_height);
        set->smooth = config.antialias;
    }
    return write_bmfont_exports(settings, sets, run.pictures);
}

}  // namespace

bool write_outputs(generator_t* run)
{
    const configuration_u& configuration = *run->configuration;
    font_output_settings_t settings;
    settings.base = configuration.base.c_str();
    settings.output = configuration.output.c_str();
    settings.line_spacing = configuration.line_spacing;
    settings.vertical_span_bias = configuration.vertical_span_bias;
    settings.default_scale = configuration.default_scale;
    settings.font_style = configuration.font_style;
    settings.preview_text = configuration.preview_text.c_str();

    array_dyn_t<font_output_set_t> entries;
    if (!number_pictures(run, &entries))
    {
        msg_error("Not enough memory to write the outputs of the configuration.");
        return false;
    }
    font_layout_t layout;
    return write_font_outputs(settings, entries, run->pictures, &layout) &&
           (configuration.export_formats.empty() || export_for_engines(*run, entries, layout));
}
