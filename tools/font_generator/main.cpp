// The tool's main: argument checks, then the run over the configuration file.
#include "tools/font_generator/main.h"

#include "ovcore/message.h"

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
    if (argc >= 3)
    {
        msg_error("Too many parameters supplied.");
        msg_error(usage_format, program);
        return 1;
    }
    const char* configuration_path =
        argc == 2 ? argument_or_empty(argv[1]) : default_configuration_path;
    // The generator phases arrive with the configuration loader.
    msg_error("The generator cannot run '%s' yet: its phases are not built.", configuration_path);
    return 1;
}

}  // namespace font_generator
