// Fuzz target: a whole run over a configuration text and its character-set files. The input is
// split at lines "@@" into "fuzz.qsd" and the files "1.chars", "2.chars", ... it may name; the
// test fonts are there as "shapes.bdf", "gray2.bdf", "gray4.bdf" and "gray8.bdf", and fonts
// installed on the system by their absolute paths. Every phase runs; the outputs always go to
// "out/fuzz*" whatever base and output the configuration gives. Each input runs in a scratch
// folder and the process goes back to its own folder after it, where libFuzzer reads the next
// input from a corpus given by a relative path.
#include "tests/fuzz/fuzz_support.h"
#include "tools/font_generator/generator.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifndef OV_FUZZ_FONTS
#error "OV_FUZZ_FONTS names the test font directory"
#endif

namespace
{

char g_scratch[] = "/tmp/fuzz_scratch.XXXXXX";
int g_home = -1;  // the folder the process started in

void remove_scratch()
{
    std::error_code ignored;
    std::filesystem::remove_all(g_scratch, ignored);
}

void write_file(const std::string& path, const char* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        __builtin_trap();
}

void copy_font(const char* name)
{
    const std::string source = std::string(OV_FUZZ_FONTS) + "/" + name;
    FILE* file = std::fopen(source.c_str(), "rb");
    if (file == nullptr)
        __builtin_trap();
    std::string bytes;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    std::fclose(file);
    write_file(name, bytes.data(), bytes.size());
}

// The core and one unit system with the tool's types live for the whole run, in a directory
// of its own; messages reach no handler.
unit_system_t* start_once()
{
    g_home = open(".", O_RDONLY | O_DIRECTORY);
    if (g_home < 0 || mkdtemp(g_scratch) == nullptr || chdir(g_scratch) != 0)
        __builtin_trap();
    std::atexit(remove_scratch);
    for (const char* font : { "shapes.bdf", "gray2.bdf", "gray4.bdf", "gray8.bdf" })
        copy_font(font);
    if (mkdir("out", 0755) != 0)
        __builtin_trap();
    return start_core_and_tool_units();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static unit_system_t* const system = start_once();
    (void)system;
    if (chdir(g_scratch) != 0)
        __builtin_trap();
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    for (int file = 0; start <= input.size() && file < 8; ++file)
    {
        size_t end = input.find("\n@@\n", start);
        if (end == std::string::npos)
            end = input.size();
        const std::string name = file == 0 ? "fuzz.qsd" : std::to_string(file) + ".chars";
        write_file(name, input.data() + start, end - start);
        start = end + 4;
    }
    {
        generator_t generator;
        if (load_inputs(&generator, "fuzz.qsd"))
        {
            configuration_u* configuration = generator.configuration.get();
            if (!configuration->base.assign("out/") || !configuration->output.assign("fuzz"))
                __builtin_trap();
            (void)(open_and_measure(&generator) && collect_set_kerning(&generator) &&
                   lay_out_and_draw(&generator) && write_outputs(&generator));
        }
    }
    unit_flush_pending_releases();
    if (fchdir(g_home) != 0)
        __builtin_trap();
    return 0;
}
