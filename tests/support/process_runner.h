// Runs a program and collects its standard output, standard error and exit status; limits the
// address space of a death test's child.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct process_result_t
{
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when it did not exit normally
};

// Runs `program` with `arguments` in `directory` (empty: the current one), its address space
// limited to `address_space_bytes` when that is not 0.
process_result_t run_process(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& directory = std::string(),
                             uint64_t address_space_bytes = 0);

// Limits this process's address space to what it has mapped now and `extra_bytes` more, so that
// a larger allocation fails. For the child of a death test; false when the limit cannot be set.
bool limit_address_space(uint64_t extra_bytes);

// Whether this build runs under a sanitizer, which reserves more address space than any limit
// a test would set.
constexpr bool built_with_sanitizer =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif
