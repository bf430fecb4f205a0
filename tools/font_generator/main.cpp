// The tool's main: argument checks, the unit system, then the run over the configuration file
// or over the configuration made from the options.
#include "tools/font_generator/main.h"

#include "ovcore/message.h"
#include "ovcore/ufs/sequential_mem_file.h"
#include "ovcore/units/unit_system.h"
#include "tools/font_generator/faces/font_faces.h"
#include "tools/font_generator/input/command_line_options.h"
#include "tools/font_generator/input/configuration.h"
#include "tools/font_generator/generator.h"
#include "tools/font_generator/kerning/opentype_kerning.h"
#include "tools/font_generator/output/png_encoder.h"

#include <cstdio>
#include <cstring>

namespace
{

constexpr const char* default_configuration_path = "etc/font/font.qsd";

// Names the usage text's historical default, not the path opened without an argument.
constexpr const char usage_format[] =
    "Usage: %s [configuration_file]\r\n\r\n"
    "The default configuration file is 'art/font/font.qsd'.\r\n"
    "Format of the configuration file is described in documentation of this tool.\r\n";

const char* argument_or_empty(const char* argument)
{
    return argument != nullptr ? argument : "";
}

// "-?" and the spellings users of other tools reach for first.
bool asks_for_usage(const char* argument)
{
    return std::strcmp(argument, "-?") == 0 || std::strcmp(argument, "-h") == 0 ||
           std::strcmp(argument, "--help") == 0;
}

// The run in a unit system of its own, made the default one, where the configuration loader
// creates its units.
bool run_in_unit_system(const char* configuration_path, file_t* opened)
{
    unit_bank_t bank;
    bool succeeded = false;
    {
        unit_system_t system(&bank);
        // A type registered twice only warns; a failure is memory, and has been reported.
        if (!bank.register_type(&configuration_u::descriptor) ||
            !bank.register_type(&char_set_config_u::descriptor))
            return false;
        // The configuration loader creates its units in the default system.
        system.make_default();
        succeeded = run_generator(configuration_path, opened);
        unit_flush_pending_releases();
    }
    return succeeded;
}

// The libraries as this process finds them, not as the build saw them.
void report_version()
{
    string_dyn_t freetype;
    string_dyn_t harfbuzz;
    if (!describe_freetype_version(&freetype))
        (void)freetype.assign("not found");
    const bool has_harfbuzz = describe_harfbuzz_version(&harfbuzz);
    msg_info("font_generator %s (FreeType %s, HarfBuzz %s, libpng %s)", OV_PROJECT_VERSION,
             freetype.c_str(), has_harfbuzz ? harfbuzz.c_str() : "not found", libpng_version());
}

// Options mode: the configuration the options make, printed or run as a file is run.
int run_options(const char* program, int argc, const char* const* argv)
{
    string_dyn_t text;
    switch (read_options(argc, argv, &text))
    {
    case options_request_t::usage:
        msg_info(usage_format, program);
        return 0;
    case options_request_t::help:
        msg_info(usage_format, program);
        report_options_help(program);
        return 0;
    case options_request_t::version:
        report_version();
        return 0;
    case options_request_t::refused:
        return 1;
    case options_request_t::print_configuration:
        // A file's bytes, LF line ends: not a message.
        return std::fwrite(text.c_str(), 1, text.length(), stdout) == text.length() ? 0 : 1;
    case options_request_t::run:
        break;
    }
    sequential_mem_file_t file(text.c_str(), text.length(), options_configuration_name, SYSFS);
    return run_in_unit_system(options_configuration_name, &file) ? 0 : 1;
}

}  // namespace

namespace font_generator
{

int main(int argc, const char* const* argv)
{
    const char* program = argc > 0 ? argument_or_empty(argv[0]) : "";
    if (argc == 2 && std::strcmp(argument_or_empty(argv[1]), "-?") == 0)
    {
        msg_info(usage_format, program);
        return 0;
    }
    if (has_long_option(argc, argv))
        return run_options(program, argc, argv);
    if (argc == 2 && asks_for_usage(argument_or_empty(argv[1])))
    {
        msg_info(usage_format, program);
        report_options_help(program);
        return 0;
    }
    // An argument that starts with '-' is an option, never a configuration path: a mistyped
    // option is not read as a file (a file named so is reached as "./-name").
    for (int i = 1; i < argc; ++i)
    {
        const char* argument = argument_or_empty(argv[i]);
        if (argument[0] == '-' && !asks_for_usage(argument))
        {
            msg_error("Unknown option '%s'.", argument);
            msg_error(usage_format, program);
            return 1;
        }
    }
    if (argc >= 3)
    {
        msg_error("Too many parameters supplied.");
        msg_error(usage_format, program);
        return 1;
    }

    const char* configuration_path =
        argc == 2 ? argument_or_empty(argv[1]) : default_configuration_path;
    return run_in_unit_system(configuration_path, nullptr) ? 0 : 1;
}

}  // namespace font_generator
