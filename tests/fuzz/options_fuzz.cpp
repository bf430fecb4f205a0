// Fuzz target: any command line of options. The input is split at zero bytes into the arguments
// after the program's name (at most 64). Whatever they are, either they are refused or printed
// for, or the configuration they make loads without a single message.
#include "ovcore/ufs/sequential_mem_file.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/font_generator/input/command_line_options.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace
{

// Counts the messages while the configuration loads; the console hears none.
class message_count_t final : public message_handler_t
{
public:
    void handle_message(const message_t&) override { ++count; }
    uint32_t count = 0;
};

message_count_t* start_once()
{
    (void)start_core_and_tool_units();
    message_count_t* messages = new message_count_t;
    register_message_handler(messages);
    return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static message_count_t* const messages = start_once();
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> arguments = { "font_generator" };
    for (size_t start = 0; start <= input.size() && arguments.size() <= 64;)
    {
        size_t end = input.find('\0', start);
        if (end == std::string::npos)
            end = input.size();
        arguments.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    string_dyn_t text;
    const options_request_t request = read_options(int(argv.size()), argv.data(), &text);
    if (request != options_request_t::run && request != options_request_t::print_configuration)
        return 0;
    messages->count = 0;
    {
        sequential_mem_file_t file(text.c_str(), text.length(), options_configuration_name, SYSFS);
        if (!load_configuration(options_configuration_name, &file) || messages->count != 0)
            __builtin_trap();
    }
    unit_flush_pending_releases();
    return 0;
}
