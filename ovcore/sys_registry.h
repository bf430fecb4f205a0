// Operating-system seam for the registry: open a key, read one value, close the key.
#pragma once

#include <cstdint>

constexpr uint32_t registry_type_string = 1;  // REG_SZ
constexpr uint32_t registry_type_u32 = 4;     // REG_DWORD
constexpr uint32_t registry_type_u64 = 11;    // REG_QWORD

struct sys_registry_api_t
{
    // Opens sub_key (backslash separated, may be empty) under a root key for reading.
    bool (*open_key)(uint64_t* key, uint32_t root_key, const char* sub_key);
    // Reads the named value into data, which holds *size bytes. False when the value is missing or
    // larger than *size; on true *type and *size describe what was read.
    bool (*query_value)(uint64_t key, const char* name, uint32_t* type, void* data, uint32_t* size);
    bool (*close_key)(uint64_t key);
};

// Defaults to the system's table; tests may swap it.
extern const sys_registry_api_t* sys_registry;
extern const sys_registry_api_t sys_registry_posix;
