// Glyphs on the worker pool: every chunk runs once, helpers that cannot get ready leave their
// share to the others, and whole runs give the same files and messages with helpers as without.
#include "tests/ovcore/ufs/fs_test_support.h"
#include "tests/support/message_capture.h"
#include "tools/font_generator/faces/glyph_workers.h"
#include "tools/font_generator/main.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>
#include <vector>

namespace
{

const std::string fixtures = OV_TEST_DATA_DIR "/fonts/";
const std::string dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string dejavu_mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const std::string inter_var = "/usr/share/fonts/truetype/inter-vf/Inter.var.ttf";

// Counts how often each position runs and what the main thread hears of completed work.
class counting_job_t final : public glyph_job_t
{
public:
    counting_job_t(uint32_t count, bool helpers_ready) : runs(count), m_ready(helpers_ready) {}

    bool prepare_helper(uint32_t) override { return m_ready; }
    void run_chunk(uint32_t helper, uint32_t begin, uint32_t end) override
    {
        for (uint32_t p = begin; p < end; ++p)
            runs[p].fetch_add(1);
        if (helper != 0)
            on_helpers.fetch_add(1);
    }
    void completed_through(uint32_t end) override
    {
        // Every position before `end` has run by the time the main thread hears of it.
        for (uint32_t p = completed.empty() ? 0 : completed.back(); p < end; ++p)
            EXPECT_EQ(runs[p].load(), 1) << p;
        completed.push_back(end);
    }

    std::vector<std::atomic<int>> runs;
    std::atomic<int> on_helpers{ 0 };
    std::vector<uint32_t> completed;

private:
    bool m_ready;
};

TEST(glyph_workers, runs_every_position_once_and_reports_completion_in_order)
{
    for (const bool ready : { true, false })
    {
        for (const uint32_t count : { 0u, 1u, 64u, 65u, 5000u })
        {
            counting_job_t job(count, ready);
            run_glyph_job(&job, count, 8);
            for (uint32_t p = 0; p < count; ++p)
                ASSERT_EQ(job.runs[p].load(), 1) << count << " " << p;
            EXPECT_EQ(job.completed.empty() ? 0 : job.completed.back(), count);
            EXPECT_TRUE(std::is_sorted(job.completed.begin(), job.completed.end()));
            if (!ready)
            {
                EXPECT_EQ(job.on_helpers.load(), 0) << count;
            }
        }
    }
}

TEST(glyph_workers, sets_below_the_threshold_stay_on_the_main_thread)
{
    EXPECT_EQ(glyph_helpers_for(glyph_helper_threshold - 1), 0u);
    EXPECT_GE(glyph_helpers_for(glyph_helper_threshold), 1u);  // the core's pool runs here
}

// Sets the threshold for one scope.
class helper_threshold_t
{
public:
    explicit helper_threshold_t(uint32_t threshold) : m_saved(glyph_helper_threshold)
    {
        glyph_helper_threshold = threshold;
    }
    ~helper_threshold_t() { glyph_helper_threshold = m_saved; }

private:
    uint32_t m_saved;
};

struct outcome_t
{
    int status = -1;
    std::vector<std::string> messages;
    std::vector<std::pair<std::string, std::string>> files;  // name, bytes
};

outcome_t run_in_process(const std::string& configuration, uint32_t threshold)
{
    scratch_directory_t scratch;
    std::string text = configuration;
    const std::string base = "@BASE@";
    text.replace(text.find(base), base.size(), scratch.path("out/"));
    write_file_bytes(scratch.path("font.qsd"), text);
    const std::string path = scratch.path("font.qsd");

    outcome_t outcome;
    {
        helper_threshold_t helpers(threshold);
        message_capture_t capture;
        const char* arguments[] = { "font_generator", path.c_str() };
        outcome.status = font_generator::main(2, arguments);
        outcome.messages = capture.lines;
    }
    for (const std::string& name : sorted_file_names(scratch.path("out")))
        outcome.files.emplace_back(name, read_file_bytes(scratch.path("out/" + name)));
    // The scratch paths differ from run to run.
    for (std::string& message : outcome.messages)
        if (message.find(scratch.root()) != std::string::npos)
            message.replace(message.find(scratch.root()), scratch.root().size(), "<scratch>");
    return outcome;
}

std::string set_unit(const std::string& name, const std::string& font,
                     const std::string& characters, const std::string& extra)
{
    return "char_set_config : ." + name + " {\n"
           "    font_file: \"" + font + "\"\n"
           "    character_set_file: \"" + characters + "\"\n" + extra + "}\n";
}

std::string configuration(const std::string& extra, const std::vector<std::string>& sets)
{
    std::string text = "QsdNunit\n{\nconfiguration : .config {\n    base: \"@BASE@\"\n"
                       "    output: \"font\"\n" + extra;
    for (size_t k = 0; k < sets.size(); ++k)
        text += "    char_config[" + std::to_string(k) + "]: .set" + std::to_string(k) + "\n";
    text += "}\n";
    for (size_t k = 0; k < sets.size(); ++k)
        text += sets[k];
    return text + "}\n";
}

// Every code point from `first` to `last`, one per line.
std::string code_range(const scratch_directory_t& scratch, const std::string& name,
                       uint32_t first, uint32_t last)
{
    std::string text;
    char line[16];
    for (uint32_t code = first; code <= last; ++code)
    {
        std::snprintf(line, sizeof line, "U+%04X\n", code);
        text += line;
    }
    write_file_bytes(scratch.path(name), text);
    return scratch.path(name);
}

TEST(glyph_workers, whole_runs_are_the_same_with_helpers_as_on_the_main_thread_alone)
{
    scratch_directory_t inputs;
    // Large ranges with undefined characters, glyphs FreeType refuses and missing-glyph shapes
    // among them; outline, monochrome, distance fields, several pictures, fallback fonts, a
    // variable font at an instance and a BDF font.
    const std::string latin = code_range(inputs, "latin.chars", 0x20, 0x24F);
    const std::string wide = code_range(inputs, "wide.chars", 0x20, 0x2FFF);
    const std::string shapes = OV_TEST_DATA_DIR "/configurations/shapes.chars";
    const std::vector<std::string> configurations = {
        configuration("", { set_unit("set0", dejavu_sans, wide,
                                     "    width: 16\n    height: 16\n") }),
        configuration("    font_style: 1\n    gradient_color_start: 255\n"
                      "    gradient_color_step: 5\n    preview_text: \"Wave\"\n",
                      { set_unit("set0", dejavu_sans, latin,
                                 "    width: 20\n    height: 20\n    outline_width: 1\n"),
                        set_unit("set1", dejavu_mono, wide,
                                 "    width: 12\n    height: 12\n    antialias: false\n"
                                 "    max_picture_size: 256\n    several_pictures: true\n"),
                        set_unit("set2", fixtures + "shapes.bdf", shapes,
                                 "    width: 14\n    height: 14\n") }),
        // Distance fields in colour, from two fonts, on several pictures, with a preview; and
        // three channels.
        configuration("    font_style: 1\n    gradient_color_start: 255\n"
                      "    gradient_color_step: 3\n    preview_text: \"Field\"\n",
                      { set_unit("set0", dejavu_sans, wide,
                                 "    width: 20\n    height: 20\n    distance_field: true\n"
                                 "    distance_range: 6\n    max_picture_size: 512\n"
                                 "    several_pictures: true\n"
                                 "    fallback_font_files[0]: \"" + dejavu_mono + "\"\n"),
                        set_unit("set1", dejavu_sans, wide,
                                 "    width: 20\n    height: 20\n    distance_field: true\n"
                                 "    distance_field_type: \"mtsdf\"\n") }),
        // A variable font at a named instance, on the helpers' faces too.
        configuration("", { set_unit("set0", inter_var, wide,
                                     "    width: 16\n    height: 16\n"
                                     "    font_instance: \"Bold\"\n"
                                     "    fallback_font_files[0]: \"" + dejavu_mono + "\"\n") }),
        configuration("", { set_unit("set0", fixtures + "shapes.bdf", wide,
                                     "    width: 14\n    height: 14\n"
                                     "    fallback_font_files[0]: \"" + dejavu_mono + "\"\n"
                                     "    fallback_font_files[1]: \"" + dejavu_sans + "\"\n") }),
    };
    for (const std::string& text : configurations)
    {
        const outcome_t alone = run_in_process(text, UINT32_MAX);
        const uint64_t chunks_before = glyph_chunks_on_helpers();
        const outcome_t spread = run_in_process(text, 0);
        EXPECT_GT(glyph_chunks_on_helpers(), chunks_before) << "no helper took a chunk";
        EXPECT_EQ(alone.status, 0) << text;
        EXPECT_EQ(spread.status, alone.status);
        EXPECT_GT(alone.messages.size(), 10u);
        EXPECT_EQ(spread.messages, alone.messages);
        ASSERT_EQ(spread.files.size(), alone.files.size());
        for (size_t i = 0; i < alone.files.size(); ++i)
        {
            EXPECT_EQ(spread.files[i].first, alone.files[i].first);
            EXPECT_TRUE(spread.files[i].second == alone.files[i].second)
                << alone.files[i].first << " differs";
        }
    }
}

TEST(glyph_workers, a_font_the_file_system_cannot_read_is_said_once_and_no_helper_starts)
{
    // The faces of the main thread and of the helpers come from one read of the font: a font
    // that cannot be read is reported as a missing one is, once.
    scratch_directory_t inputs;
    const std::string text = configuration(
        "", { set_unit("set0", dejavu_sans, code_range(inputs, "wide.chars", 0x20, 0x2FFF),
                       "    width: 16\n    height: 16\n") });
    outcome_t spread;
    const uint64_t chunks_before = glyph_chunks_on_helpers();
    {
        sys_file_recorder_t unreadable;
        unreadable.fail_opens_ending_in = ".ttf";
        spread = run_in_process(text, 0);
    }
    EXPECT_EQ(glyph_chunks_on_helpers(), chunks_before);
    EXPECT_EQ(spread.status, 1);
    EXPECT_EQ(spread.messages,
              (std::vector<std::string>{
                  "Failed to open the font file '" + std::string(dejavu_sans) + "'.",
                  "Reason: none that the system tells." }));
    EXPECT_TRUE(spread.files.empty());
}

}  // namespace
