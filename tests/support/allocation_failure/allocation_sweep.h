// Whole runs of the tool with one allocation failed, for every allocation in turn: each run is
// classified by how it ended, against a run that had memory enough.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// How an injected run ended. The first two are the only good endings.
enum class run_ending_t : uint8_t
{
    same_output,      // exit 0, outputs and messages identical to the run with memory enough
    said_no_memory,   // exit 1, the first new message says memory ran short, no unfinished file
    crash,            // a signal or an exit status other than 0 and 1
    hang,             // still running at the time limit
    wrong_output,     // exit 0 with other outputs or messages
    blames_other,     // exit 1 but the first new message blames something else, or is empty
    half_written,     // exit 1 and an output file that a good run does not write so
    // Exit 0 with other output after an allocation failed inside FreeType or HarfBuzz, which
    // may lose one and still report success: FreeType's autofitter keeps default metrics and a
    // face may come without its family name; HarfBuzz's FreeType font functions, layout records
    // and shaping plans are made lazily and silently go without.
    library_lost,
};
constexpr uint32_t run_ending_count = 8;

const char* run_ending_name(run_ending_t ending);

// What a run with memory enough did.
struct reference_run_t
{
    int status = -1;
    std::string out;
    std::string err;
    std::map<std::string, std::string> files;  // relative to the run's folder
    long allocations = 0;                      // counted on the main thread from main on
    long mmaps = 0;
};

enum class injection_t : uint8_t
{
    single,     // the N-th allocation fails
    from,       // every allocation from the N-th on fails
    mmap,       // the N-th mmap fails
};

struct injected_run_t
{
    injection_t injection;
    long n;
    run_ending_t ending;
    int status;      // exit status, or -1
    std::string err;
    std::string failed_in;  // the file name of the code whose allocation failed first
};

struct sweep_settings_t
{
    std::string configuration;       // relative to the repository, or absolute
    double time_limit_seconds = 20;  // a run past it is a hang
    uint32_t parallel_runs = 2;
    bool sweep_mmap = true;
};

struct sweep_result_t
{
    reference_run_t reference;
    std::vector<injected_run_t> runs;
    std::array<uint32_t, run_ending_count> counts{};

    uint32_t bad_runs() const;
};

// Runs the tool (OV_ALLOCATION_TOOL names another build of it) over `settings.configuration`
// from a scratch folder that sees the repository's
// etc/ and tests/ and keeps the outputs; first once with memory enough, then with every
// allocation in turn failed singly and from it on, and every mmap in turn.
sweep_result_t sweep_allocation_failures(const sweep_settings_t& settings);

// One run with the N-th allocation (or mmap) of the main thread failed, as the sweep classifies
// it; for reproducers.
injected_run_t run_with_failure(const std::string& configuration, injection_t injection, long n,
                                const reference_run_t& reference);
reference_run_t run_with_memory_enough(const std::string& configuration);

// The first line of the run's error output that a run with memory enough does not print, a
// "[unit] File 'name', line N:" heading left out; empty when there is none.
std::string first_new_line(const std::string& err, const reference_run_t& reference);

// The table: one row per configuration, a column per ending, then the total.
std::string format_sweep_table(const std::vector<std::string>& names,
                               const std::vector<sweep_result_t>& results);
// The bad runs, one line each with the first line of their error output, at most `limit`.
std::string describe_bad_runs(const sweep_result_t& result, uint32_t limit);
