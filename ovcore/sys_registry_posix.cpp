// A registry layer for systems without one: only the processor clock values exist, read from the
// clock the kernel reports; every other key is missing.
#include "ovcore/sys_registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

const sys_registry_api_t* sys_registry = &sys_registry_posix;

namespace
{
constexpr uint32_t local_machine = 0x80000002u;
constexpr const char processor_key_prefix[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\";

// The processor's nominal clock in MHz from cpufreq, else the "cpu MHz" line of /proc/cpuinfo.
bool read_processor_mhz(uint32_t processor, uint32_t* mhz)
{
    const char* cpufreq_files[] = { "base_frequency", "cpuinfo_max_freq" };
    for (const char* file_name : cpufreq_files)
    {
        char path[128];
        std::snprintf(path, sizeof(path), "/sys/devices/system/cpu/cpu%u/cpufreq/%s", processor,
                      file_name);
        if (FILE* file = std::fopen(path, "r"))
        {
            unsigned long khz = 0;
            bool read = std::fscanf(file, "%lu", &khz) == 1 && khz >= 1000;
            std::fclose(file);
            if (read)
            {
                *mhz = uint32_t((khz + 500) / 1000);
                return true;
            }
        }
    }

    FILE* file = std::fopen("/proc/cpuinfo", "r");
    if (file == nullptr)
        return false;
    bool found = false;
    bool in_block = false;
    char line[512];
    while (!found && std::fgets(line, sizeof(line), file) != nullptr)
    {
        const char* colon = std::strchr(line, ':');
        if (colon == nullptr)
            continue;
        if (std::strncmp(line, "processor", 9) == 0)
            in_block = std::strtoul(colon + 1, nullptr, 10) == processor;
        else if (in_block && std::strncmp(line, "cpu MHz", 7) == 0)
        {
            double value = std::strtod(colon + 1, nullptr);
            if (value >= 1.0 && value < 4294967295.0)
            {
                *mhz = uint32_t(value + 0.5);
                found = true;
            }
        }
    }
    std::fclose(file);
    return found;
}

// "HARDWARE\DESCRIPTION\System\CentralProcessor\<n>" gives n; names compare without case.
bool parse_processor_key(const char* sub_key, uint32_t* processor)
{
    std::size_t prefix_length = sizeof(processor_key_prefix) - 1;
    if (strncasecmp(sub_key, processor_key_prefix, prefix_length) != 0)
        return false;
    const char* digits = sub_key + prefix_length;
    if (*digits < '0' || *digits > '9')
        return false;
    char* end = nullptr;
    unsigned long number = std::strtoul(digits, &end, 10);
    if (*end != 0 || number > 0xFFFFu)
        return false;
    *processor = uint32_t(number);
    return true;
}

bool posix_open_key(uint64_t* key, uint32_t root_key, const char* sub_key)
{
    uint32_t processor = 0;
    uint32_t mhz = 0;
    if (root_key != local_machine || !parse_processor_key(sub_key, &processor) ||
        !read_processor_mhz(processor, &mhz))
        return false;
    *key = uint64_t(processor) + 1;
    return true;
}

bool posix_query_value(uint64_t key, const char* name, uint32_t* type, void* data, uint32_t* size)
{
    uint32_t mhz = 0;
    if (strcasecmp(name, "~MHz") != 0 || *size < sizeof(mhz) || !read_processor_mhz(uint32_t(key - 1), &mhz))
        return false;
    std::memcpy(data, &mhz, sizeof(mhz));
    *type = registry_type_u32;
    *size = sizeof(mhz);
    return true;
}

bool posix_close_key(uint64_t)
{
    return true;
}
} // namespace

extern const sys_registry_api_t sys_registry_posix = { posix_open_key, posix_query_value,
                                                       posix_close_key };
