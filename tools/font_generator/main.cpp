// The tool's main: argument checks, the unit system, then the run over the configuration file.
#include "tools/font_generator/main.h"

#include "ovcore/message.h"
#include "ovcore/units/unit_system.h"
#include "tools/font_generator/input/configuration.h"
#include "tools/font_generator/generator.h"

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

}  // namespace

namespace font_generator
{

int main(int argc, const char* const* argv)
{
    const char* program = argc > 0 ? argument_or_empty(argv[0]) : "";
    if (argc == 2 && asks_for_usage(argument_or_empty(argv[1])))
    {
        msg_info(usage_format, program);
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

    unit_bank_t bank;
    bool succeeded = false;
    {
        unit_system_t system(&bank);
        // A type registered twice only warns; a failure is memory, and has been reported.
        if (!bank.register_type(&configuration_u::descriptor) ||
            !bank.register_type(&char_set_config_u::descriptor))
            return 1;
        // The configuration loader creates its units in the default system.
        system.make_default();

        const char* configuration_path =
            argc == 2 ? argument_or_empty(argv[1]) : default_configuration_path;
        succeeded = run_generator(configuration_path);

        unit_flush_pending_releases();
    }
    return succeeded ? 0 : 1;
}

}  // namespace font_generator
