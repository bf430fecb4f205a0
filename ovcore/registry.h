// Read-only access to the system registry: a 32-bit integer value named by one absolute path.
#pragma once

#include <cstdint>

// Reads the integer value at value_path, "ROOT\key\path\value name" with a full root name such as
// "HKEY_LOCAL_MACHINE". Every failure issues a "[reg] " error and returns false; *value is only
// meaningful after true. Any thread.
[[nodiscard]] bool registry_read_u32(uint32_t* value, const char* value_path);
