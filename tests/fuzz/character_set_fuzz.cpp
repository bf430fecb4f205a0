// Fuzz target: any bytes as a character-set file, read through the file system into a set.
#include "ovcore/core.h"
#include "ovcore/message.h"
#include "tools/font_generator/input/character_set.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace
{

char g_scratch[] = "/tmp/fuzz_scratch.XXXXXX";

void remove_scratch()
{
    std::error_code ignored;
    std::filesystem::remove_all(g_scratch, ignored);
}

// The core lives for the whole run; messages reach no handler. The file lies in a directory of
// its own.
std::string start_once()
{
    core_startup();
    unregister_message_handler(g_console_message_handler);
    if (mkdtemp(g_scratch) == nullptr)
        __builtin_trap();
    std::atexit(remove_scratch);
    return std::string(g_scratch) + "/set.chars";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = start_once();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        __builtin_trap();
    character_set_t set;
    string_dyn_t name;
    if (!name.assign(path.c_str()))
        __builtin_trap();
    (void)read_character_set(&set, name);
    return 0;
}
