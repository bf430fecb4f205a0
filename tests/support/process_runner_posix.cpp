// Runs a program with its output streams captured through temporary files.
#include "tests/support/process_runner.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::string read_all(FILE* file)
{
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
        text.append(buffer, n);
    return text;
}

}  // namespace

process_result_t run_process(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& directory, uint64_t address_space_bytes)
{
    process_result_t result;
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr)
        return result;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0)
    {
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        if (!directory.empty() && chdir(directory.c_str()) != 0)
            _exit(127);
        const rlimit limit{ address_space_bytes, address_space_bytes };
        if (address_space_bytes != 0 && setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = read_all(out);
    result.err = read_all(err);
    std::fclose(out);
    std::fclose(err);
    return result;
}

bool limit_address_space(uint64_t extra_bytes)
{
    // The first number of statm is the size of the address space in pages.
    FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    const bool read = statm != nullptr && std::fscanf(statm, "%llu", &pages) == 1;
    if (statm != nullptr)
        std::fclose(statm);
    if (!read)
        return false;
    const uint64_t bytes = uint64_t(pages) * uint64_t(sysconf(_SC_PAGESIZE)) + extra_bytes;
    const rlimit limit{ bytes, bytes };
    return setrlimit(RLIMIT_AS, &limit) == 0;
}
