// The tool's main: command line checks, unit system set-up, the run and its exit status.
#pragma once

namespace font_generator
{

// Returns the process exit status: 0 on success, 1 on failure.
int main(int argc, const char* const* argv);

}  // namespace font_generator
