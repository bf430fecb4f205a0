// Runs a program and collects its standard output, standard error and exit status.
#pragma once

#include <string>
#include <vector>

struct process_result_t
{
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when it did not exit normally
};

// Runs `program` with `arguments` in `directory` (empty: the current one).
process_result_t run_process(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& directory = std::string());
