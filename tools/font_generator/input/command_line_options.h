// Options mode: a command line of long options (`--font FILE --size 24 ...`) read into the text
// of the configuration file it stands for, which the run then reads as it reads a file.
#pragma once

class string_t;

// Names the configuration made from the options in every message that names the file.
constexpr const char options_configuration_name[] = "<command line>";

// What a command line of options asks for.
enum class options_request_t
{
    run,                  // run the configuration made from the options
    print_configuration,  // print it on standard output instead
    usage,                // -?: the usage text alone
    help,                 // -h, --help: the usage text, then the options
    version,              // --version
    refused,              // a mistake, reported
};

// Whether any of argv[1] to argv[argc - 1] is one of the long options, as "--name" or
// "--name=value": then the whole command line is options. A null argument is empty.
[[nodiscard]] bool has_long_option(int argc, const char* const* argv);

// Reads argv[1] to argv[argc - 1] as options. A request for the usage text, the help or the
// version anywhere (other than as an option's value) wins over everything else. Otherwise every
// value is checked as it is read; the first mistake is reported naming the option as typed and
// gives `refused`. For `run` and `print_configuration` `text` holds the configuration in the
// unit text format, LF line ends, one set `.chars.main`; it loads without a message.
[[nodiscard]] options_request_t read_options(int argc, const char* const* argv, string_t* text);

// Reports the lines the help adds after the usage text, as info messages: where the
// configuration is described, one line per option, and an example run by `program`.
void report_options_help(const char* program);
