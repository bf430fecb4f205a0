// Process entry: core start-up, the tool's main, core shut-down.
#include "ovcore/core.h"
#include "tools/font_generator/main.h"

int main(int argc, char** argv)
{
    core_startup();
    const int status = font_generator::main(argc, argv);
    core_shutdown();
    return status;
}
