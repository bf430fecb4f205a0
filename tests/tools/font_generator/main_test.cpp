// The command line: usage text, parameters, the configuration path, exit statuses and streams.
#include "tools/font_generator/main.h"

#include "ovcore/sys_library.h"
#include "ovcore/units/unit_system.h"
#include "tests/support/message_capture.h"
#include "tests/support/process_runner.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <cctype>
#include <filesystem>

namespace
{

std::string usage(const char* prefix)
{
    return std::string(prefix) + "Usage: " OV_FONT_GENERATOR_EXE " [configuration_file]\r\n\r\n"
           "The default configuration file is 'art/font/font.qsd'.\r\n"
           "Format of the configuration file is described in documentation of this tool.\r\n\r\n";
}

}  // namespace

TEST(font_generator_main, prints_the_usage_text_on_request)
{
    // Anywhere among options, and whatever else they hold.
    const std::vector<std::vector<std::string>> requests = {
        { "-?" }, { "--size", "x", "-?" }, { "--font", "-?", "-?" }
    };
    for (const std::vector<std::string>& request : requests)
    {
        SCOPED_TRACE(request.size());
        const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, request);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, usage(""));
        EXPECT_EQ(result.err, "");
    }
}

TEST(font_generator_main, adds_the_options_to_the_usage_text_for_help)
{
    const std::vector<std::vector<std::string>> requests = {
        { "-h" }, { "--help" }, { "--font", "a.ttf", "--size", "0", "-h" }, { "font.qsd", "--help" }
    };
    for (const std::vector<std::string>& request : requests)
    {
        SCOPED_TRACE(request[0]);
        const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, request);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        const std::string added = "The file read without an argument is etc/font/font.qsd; the "
                                  "configuration is described in README.md.\r\n";
        EXPECT_EQ(result.out.substr(0, usage("").size() + added.size()), usage("") + added);
        EXPECT_NE(result.out.find("\r\n  --font FILE "), std::string::npos);
        EXPECT_NE(result.out.find("\r\n  -h, --help "), std::string::npos);
        EXPECT_NE(result.out.find("\r\nExample: " OV_FONT_GENERATOR_EXE " --font "),
                  std::string::npos);
    }
}

TEST(font_generator_main, names_the_versions_of_the_libraries_it_runs_with)
{
    FT_Library library = nullptr;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Int major = 0;
    FT_Int minor = 0;
    FT_Int patch = 0;
    FT_Library_Version(library, &major, &minor, &patch);
    FT_Done_FreeType(library);
    const std::string freetype = std::to_string(major) + "." + std::to_string(minor) + "." +
                                 std::to_string(patch);

    const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { "--version" });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    // "font_generator x.y.z (FreeType x.y.z, HarfBuzz x.y.z, libpng x.y.z)": the versions as
    // dotted numbers, FreeType's and libpng's those this test sees.
    const auto is_version = [](const std::string& text) {
        int dots = 0;
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '.' ? (++dots, i == 0 || text[i - 1] == '.') : !std::isdigit(text[i]))
                return false;
        return dots == 2 && !text.empty() && text.back() != '.';
    };
    const std::string& out = result.out;
    const std::string middle = " (FreeType " + freetype + ", HarfBuzz ";
    const std::string end = ", libpng " + std::string(png_get_libpng_ver(nullptr)) + ")\r\n";
    const size_t at = out.find(middle);
    ASSERT_EQ(out.rfind("font_generator ", 0), 0u) << out;
    ASSERT_NE(at, std::string::npos) << out;
    ASSERT_GE(out.size(), at + middle.size() + end.size()) << out;
    EXPECT_EQ(out.substr(out.size() - end.size()), end);
    EXPECT_TRUE(is_version(out.substr(15, at - 15))) << out;
    EXPECT_TRUE(is_version(out.substr(at + middle.size(),
                                      out.size() - end.size() - at - middle.size())))
        << out;

    // Without HarfBuzz the line says so.
    const sys_library_api_t without_libraries = { [](const char*) -> void* { return nullptr; },
                                                  sys_library->symbol, nullptr };
    const sys_library_api_t* saved = sys_library;
    sys_library = &without_libraries;
    message_capture_t capture;
    const char* const argv[] = { "font_generator", "--version" };
    EXPECT_EQ(font_generator::main(2, argv), 0);
    sys_library = saved;
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_NE(capture.lines[0].find(", HarfBuzz not found, libpng "), std::string::npos)
        << capture.lines[0];
}

TEST(font_generator_main, refuses_two_parameters)
{
    const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { "a", "b" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "*** ERROR *** : Too many parameters supplied.\r\n" + usage("*** ERROR *** : "));
}

TEST(font_generator_main, refuses_an_unknown_option_before_counting_parameters)
{
    struct case_t
    {
        std::vector<std::string> arguments;
        const char* option;
    };
    const case_t cases[] = {
        { { "-v" }, "-v" },
        { { "--verbose", "font.qsd" }, "--verbose" },
        { { "font.qsd", "-x", "third" }, "-x" },
        { { "-" }, "-" },
        { { "--fnot" }, "--fnot" },  // no option of the list: no suggestion either
    };
    for (const case_t& c : cases)
    {
        SCOPED_TRACE(c.option);
        const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, std::string("*** ERROR *** : Unknown option '") + c.option +
                                  "'.\r\n" + usage("*** ERROR *** : "));
    }
}

TEST(font_generator_main, takes_a_single_argument_as_the_configuration_path)
{
    for (const char* argument : { "missing.qsd", "./-x" })
    {
        SCOPED_TRACE(argument);
        const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, { argument });
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, std::string("*** ERROR *** : [fs] Failed to open file '") +
                                  argument + "' in the read_only mode.\r\n"
                                  "*** ERROR *** : [fs] Reason: no such file or folder; the "
                                  "relative path '" + argument + "' is taken from the current "
                                  "folder '" + std::filesystem::current_path().string() +
                                  "'.\r\n*** ERROR *** : Failed to open the configuration file '" +
                                  argument + "'.\r\n");
    }
}

TEST(font_generator_main, reads_etc_font_font_qsd_without_an_argument)
{
    const std::filesystem::path empty =
        std::filesystem::current_path() / "main_test_empty_directory";
    std::filesystem::create_directories(empty);
    const process_result_t result = run_process(OV_FONT_GENERATOR_EXE, {}, empty.string());
    std::filesystem::remove_all(empty);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "*** ERROR *** : [fs] Failed to open file 'etc/font/font.qsd' in the read_only "
              "mode.\r\n*** ERROR *** : [fs] Reason: no such file or folder; the relative path "
              "'etc/font/font.qsd' is taken from the current folder '" + empty.string() +
                  "'.\r\n*** ERROR *** : Failed to open the configuration file "
                  "'etc/font/font.qsd'.\r\n");
}

TEST(font_generator_main, steals_the_default_unit_system)
{
    unit_bank_t bank;
    unit_system_t system(&bank);
    system.make_default();
    const char* const argv[] = { "font_generator", "missing.qsd" };
    message_capture_t capture;
    EXPECT_EQ(font_generator::main(2, argv), 1);
    ASSERT_FALSE(capture.lines.empty());
    EXPECT_EQ(capture.lines[0], "[unit] Stealing the default unit system.");
    EXPECT_EQ(capture.levels[0], message_level_t::warning);
    // The tool's system was the default and is gone.
    EXPECT_EQ(unit_default_system_index(), unit_system_none);
}
