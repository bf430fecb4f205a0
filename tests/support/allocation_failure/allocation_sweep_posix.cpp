// Injected runs: the tool started with the failing allocator preloaded, in a scratch folder of
// its own, waited for up to a time limit, and judged against a run with memory enough.
#include "tests/support/allocation_failure/allocation_sweep.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

#ifdef OV_ALLOCATION_FAILURE_PRELOAD
constexpr const char preload_path[] = OV_ALLOCATION_FAILURE_PRELOAD;
#else
constexpr const char preload_path[] = "";  // the sanitizer builds have none: the tests skip
#endif

std::string read_file(const fs::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

// A folder that sees the repository's etc/ and tests/, where the outputs land.
struct run_folder_t
{
    fs::path root;
    fs::path report;
    fs::path out_file;
    fs::path err_file;

    run_folder_t()
    {
        char pattern[] = "/tmp/ov_allocation_sweep.XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            std::abort();
        root = pattern;
        fs::create_directory_symlink(OV_SOURCE_DIR "/etc", root / "etc");
        fs::create_directory_symlink(OV_SOURCE_DIR "/tests", root / "tests");
        fs::create_directory(root / "run");
        report = root / "report";
        out_file = root / "stdout";
        err_file = root / "stderr";
    }
    ~run_folder_t()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    run_folder_t(const run_folder_t&) = delete;
    run_folder_t& operator=(const run_folder_t&) = delete;

    // The run's folder holds symbolic links to the sources and whatever the run wrote.
    void clear()
    {
        for (const fs::directory_entry& entry : fs::directory_iterator(root))
            if (entry.path().filename() != "etc" && entry.path().filename() != "tests")
                fs::remove_all(entry.path());
    }

    std::map<std::string, std::string> outputs() const
    {
        std::map<std::string, std::string> files;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        {
            const fs::path relative = fs::relative(entry.path(), root);
            const std::string first = relative.begin()->string();
            if (first == "etc" || first == "tests" || first == "report" || first == "stdout" ||
                first == "stderr" || entry.is_symlink() || !entry.is_regular_file())
                continue;
            files[relative.string()] = read_file(entry.path());
        }
        return files;
    }
};

struct child_t
{
    pid_t pid = -1;
    std::chrono::steady_clock::time_point started;
};

// Starts the tool in `folder` with the failure given in `environment`.
child_t start_run(run_folder_t* folder, const std::string& configuration,
                  const std::vector<std::string>& environment)
{
    folder->clear();
    std::vector<std::string> variables = environment;
    variables.push_back(std::string("LD_PRELOAD=") + preload_path);
    variables.push_back("OV_ALLOCATION_REPORT=" + folder->report.string());
    variables.push_back("PATH=/usr/bin:/bin");
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const char* other_tool = std::getenv("OV_ALLOCATION_TOOL");
    std::string program = other_tool != nullptr ? other_tool : OV_FONT_GENERATOR_EXE;
    std::string argument = configuration;
    char* argv[] = { program.data(), argument.data(), nullptr };
    const std::string directory = folder->root.string();
    const std::string out = folder->out_file.string();
    const std::string err = folder->err_file.string();

    child_t child;
    child.started = std::chrono::steady_clock::now();
    child.pid = fork();
    if (child.pid == 0)
    {
        const int out_descriptor = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_descriptor = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out_descriptor < 0 || err_descriptor < 0 || dup2(out_descriptor, 1) < 0 ||
            dup2(err_descriptor, 2) < 0 || chdir(directory.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    return child;
}

struct finished_t
{
    bool timed_out = false;
    bool signalled = false;
    int status = -1;
};

finished_t wait_run(const child_t& child, double time_limit_seconds)
{
    finished_t finished;
    const auto limit = std::chrono::duration<double>(time_limit_seconds);
    for (;;)
    {
        int status = 0;
        const pid_t done = waitpid(child.pid, &status, WNOHANG);
        if (done == child.pid)
        {
            if (WIFEXITED(status))
                finished.status = WEXITSTATUS(status);
            else
                finished.signalled = true;
            return finished;
        }
        if (done < 0 && errno != EINTR)
            return finished;
        if (std::chrono::steady_clock::now() - child.started > limit)
        {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            finished.timed_out = true;
            return finished;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool says_memory_ran_short(const std::string& line)
{
    std::string lower = line;
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("memory") != std::string::npos ||
           lower.find("failed to allocate") != std::string::npos;
}

bool is_location_line(const std::string& line)
{
    const size_t at = line.rfind(", line ");
    return at != std::string::npos && line.back() == ':' &&
           line.find_first_not_of("0123456789", at + 7) == line.size() - 1;
}

run_ending_t judge(const finished_t& finished, const std::string& out, const std::string& err,
                   const std::map<std::string, std::string>& files,
                   const reference_run_t& reference, const std::string& failed_in)
{
    if (finished.timed_out)
        return run_ending_t::hang;
    if (finished.signalled || (finished.status != 0 && finished.status != 1))
        return run_ending_t::crash;
    if (finished.status == 0)
    {
        if (out == reference.out && err == reference.err && files == reference.files)
            return run_ending_t::same_output;
        return failed_in.rfind("libfreetype.so", 0) == 0 ||
                       failed_in.rfind("libharfbuzz.so", 0) == 0
                   ? run_ending_t::library_lost
                   : run_ending_t::wrong_output;
    }
    // Lines a good run prints too (warnings before the failure) are no explanation.
    const std::string line = first_new_line(err, reference);
    if (!says_memory_ran_short(line) || line == "*** ERROR *** : ")
        return run_ending_t::blames_other;
    for (const auto& [name, bytes] : files)
    {
        const auto good = reference.files.find(name);
        if (good == reference.files.end() || good->second != bytes)
            return run_ending_t::half_written;
    }
    return run_ending_t::said_no_memory;
}

// The first failed allocation's caller from the preload's report.
std::string failed_in_of(const run_folder_t& folder)
{
    std::istringstream report(read_file(folder.report));
    long allocations = 0, mmaps = 0, failed = 0;
    std::string object;
    report >> allocations >> mmaps >> failed >> object;
    return object;
}

std::vector<std::string> environment_of(injection_t injection, long n)
{
    switch (injection)
    {
    case injection_t::single:
        return { "OV_FAIL_ALLOCATION=" + std::to_string(n) };
    case injection_t::from:
        return { "OV_FAIL_ALLOCATION=" + std::to_string(n), "OV_FAIL_FROM=1" };
    case injection_t::mmap:
        return { "OV_FAIL_MMAP=" + std::to_string(n) };
    }
    return {};
}

struct task_t
{
    injection_t injection;
    long n;
};

}  // namespace

std::string first_new_line(const std::string& err, const reference_run_t& reference)
{
    const std::vector<std::string> reference_lines = lines_of(reference.err);
    const std::set<std::string> known(reference_lines.begin(), reference_lines.end());
    for (const std::string& line : lines_of(err))
        if (known.count(line) == 0 && !is_location_line(line))
            return line;
    return std::string();
}

const char* run_ending_name(run_ending_t ending)
{
    static const char* const names[] = { "exit 0 same", "exit 1 memory", "crash",
                                         "hang",        "exit 0 wrong",  "blames other",
                                         "half-written", "lost in a library" };
    static_assert(sizeof(names) / sizeof(names[0]) == run_ending_count);
    return names[uint32_t(ending)];
}

uint32_t sweep_result_t::bad_runs() const
{
    return uint32_t(runs.size()) - counts[uint32_t(run_ending_t::same_output)] -
           counts[uint32_t(run_ending_t::said_no_memory)] -
           counts[uint32_t(run_ending_t::library_lost)];
}

reference_run_t run_with_memory_enough(const std::string& configuration)
{
    run_folder_t folder;
    reference_run_t reference;
    const child_t child = start_run(&folder, configuration, {});
    const finished_t finished = wait_run(child, 120);
    reference.status = finished.status;
    reference.out = read_file(folder.out_file);
    reference.err = read_file(folder.err_file);
    reference.files = folder.outputs();
    std::istringstream report(read_file(folder.report));
    report >> reference.allocations >> reference.mmaps;
    return reference;
}

injected_run_t run_with_failure(const std::string& configuration, injection_t injection, long n,
                                const reference_run_t& reference)
{
    run_folder_t folder;
    const child_t child = start_run(&folder, configuration, environment_of(injection, n));
    const finished_t finished = wait_run(child, 60);
    const std::string err = read_file(folder.err_file);
    const std::string failed_in = failed_in_of(folder);
    return injected_run_t{ injection, n,
                           judge(finished, read_file(folder.out_file), err, folder.outputs(),
                                 reference, failed_in),
                           finished.status, err, failed_in };
}

sweep_result_t sweep_allocation_failures(const sweep_settings_t& settings)
{
    sweep_result_t result;
    result.reference = run_with_memory_enough(settings.configuration);
    const reference_run_t& reference = result.reference;

    std::vector<task_t> tasks;
    for (long n = 1; n <= reference.allocations; ++n)
    {
        tasks.push_back({ injection_t::single, n });
        tasks.push_back({ injection_t::from, n });
    }
    if (settings.sweep_mmap)
        for (long n = 1; n <= reference.mmaps; ++n)
            tasks.push_back({ injection_t::mmap, n });

    const uint32_t slots = settings.parallel_runs == 0 ? 1 : settings.parallel_runs;
    std::vector<std::unique_ptr<run_folder_t>> folders;
    std::vector<std::pair<child_t, task_t>> running(slots);
    std::vector<bool> busy(slots, false);
    for (uint32_t k = 0; k < slots; ++k)
        folders.push_back(std::make_unique<run_folder_t>());

    size_t next = 0;
    uint32_t active = 0;
    while (next < tasks.size() || active != 0)
    {
        for (uint32_t k = 0; k < slots && next < tasks.size(); ++k)
        {
            if (busy[k])
                continue;
            const task_t task = tasks[next++];
            running[k] = { start_run(folders[k].get(), settings.configuration,
                                     environment_of(task.injection, task.n)),
                           task };
            busy[k] = true;
            ++active;
        }
        for (uint32_t k = 0; k < slots; ++k)
        {
            if (!busy[k])
                continue;
            int status = 0;
            const pid_t done = waitpid(running[k].first.pid, &status, WNOHANG);
            const bool late = std::chrono::steady_clock::now() - running[k].first.started >
                              std::chrono::duration<double>(settings.time_limit_seconds);
            if (done != running[k].first.pid && !late)
                continue;
            finished_t finished;
            if (done == running[k].first.pid)
            {
                if (WIFEXITED(status))
                    finished.status = WEXITSTATUS(status);
                else
                    finished.signalled = true;
            }
            else
            {
                kill(running[k].first.pid, SIGKILL);
                waitpid(running[k].first.pid, &status, 0);
                finished.timed_out = true;
            }
            run_folder_t& folder = *folders[k];
            const std::string err = read_file(folder.err_file);
            const std::string failed_in = failed_in_of(folder);
            const run_ending_t ending = judge(finished, read_file(folder.out_file), err,
                                              folder.outputs(), reference, failed_in);
            result.runs.push_back(injected_run_t{ running[k].second.injection,
                                                  running[k].second.n, ending, finished.status,
                                                  err, failed_in });
            ++result.counts[uint32_t(ending)];
            busy[k] = false;
            --active;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return result;
}

std::string format_sweep_table(const std::vector<std::string>& names,
                               const std::vector<sweep_result_t>& results)
{
    std::ostringstream table;
    table << "| configuration | allocations | mmaps | runs |";
    for (uint32_t k = 0; k < run_ending_count; ++k)
        table << ' ' << run_ending_name(run_ending_t(k)) << " |";
    table << "\n|---|---|---|---|";
    for (uint32_t k = 0; k < run_ending_count; ++k)
        table << "---|";
    table << '\n';
    for (size_t row = 0; row < results.size(); ++row)
    {
        const sweep_result_t& result = results[row];
        table << "| " << names[row] << " | " << result.reference.allocations << " | "
              << result.reference.mmaps << " | " << result.runs.size() << " |";
        for (uint32_t count : result.counts)
            table << ' ' << count << " |";
        table << '\n';
    }
    return table.str();
}

std::string describe_bad_runs(const sweep_result_t& result, uint32_t limit)
{
    static const char* const injections[] = { "single", "from", "mmap" };
    std::ostringstream text;
    uint32_t written = 0;
    for (const injected_run_t& run : result.runs)
    {
        if (run.ending == run_ending_t::same_output || run.ending == run_ending_t::said_no_memory)
            continue;
        if (written++ == limit)
            break;
        const std::string first = first_new_line(run.err, result.reference);
        text << injections[uint32_t(run.injection)] << ' ' << run.n << ": "
             << run_ending_name(run.ending) << " (status " << run.status << ", failed in "
             << run.failed_in << ") " << first << '\n';
    }
    return text.str();
}
