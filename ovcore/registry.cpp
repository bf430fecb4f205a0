// Registry value paths: split into root, key path and value name, then read through the seam.
#include "ovcore/registry.h"

#include "ovcore/collections/string.h"
#include "ovcore/message.h"
#include "ovcore/sys_registry.h"

#include <cstring>

namespace
{
struct registry_root_t
{
    const char* name;
    uint32_t key;
};

const registry_root_t registry_roots[] = {
    { "HKEY_CLASSES_ROOT", 0x80000000u },
    { "HKEY_CURRENT_USER", 0x80000001u },
    { "HKEY_LOCAL_MACHINE", 0x80000002u },
    { "HKEY_USERS", 0x80000003u },
};
constexpr uint32_t registry_root_count = sizeof(registry_roots) / sizeof(registry_roots[0]);
constexpr uint32_t no_registry_root = 0xFFFFFFFFu;

bool split_value_path(const char* value_path, string_dyn_t* key_path, string_dyn_t* value_name)
{
    uint32_t separator = find_last_of(value_path, "\\");
    uint32_t length = uint32_t(std::strlen(value_path));
    if (separator == string_t::npos || separator == 0 || separator + 1 == length)
    {
        msg_error("[reg] Invalid value path '%s'.", value_path);
        return false;
    }
    if (!key_path->assign(value_path, separator) || !value_name->assign(value_path + separator + 1))
    {
        msg_error("[reg] Invalid absolute value name '%s'.", value_path);
        return false;
    }
    return true;
}

uint32_t find_registry_root(const string_t& name)
{
    for (uint32_t i = 0; i < registry_root_count; ++i)
        if (name.equals(registry_roots[i].name))
            return i;
    return no_registry_root;
}

bool open_registry_key(uint64_t* key, const string_t& key_path)
{
    string_tokenizer_t pieces(key_path.c_str(), "\\", true);
    string_dyn_t root_name;
    if (!pieces.next(&root_name))
    {
        if (pieces.is_exhausted())
            msg_error("[reg] Invalid registry key path '%s'.", key_path.c_str());
        else
            msg_error("[reg] Not enough memory for the registry key path '%s'.", key_path.c_str());
        return false;
    }
    uint32_t root = find_registry_root(root_name);
    if (root == no_registry_root)
    {
        msg_error("[reg] Registry root key name '%s' from key path '%s' did not match any known "
                  "registry root.",
                  root_name.c_str(), key_path.c_str());
        return false;
    }
    // The rest after the root name and its separator.
    const char* sub_key = std::strstr(key_path.c_str(), root_name.c_str()) + root_name.length();
    if (*sub_key == '\\')
        ++sub_key;
    if (!sys_registry->open_key(key, registry_roots[root].key, sub_key))
    {
        msg_error("[reg] Failed to open registry sub key '%s'.", sub_key);
        msg_error("[reg] Failed to open key '%s' under tree '%s'.", sub_key, registry_roots[root].name);
        return false;
    }
    return true;
}
} // namespace

bool registry_read_u32(uint32_t* value, const char* value_path)
{
    string_dyn_t key_path;
    string_dyn_t value_name;
    if (!split_value_path(value_path, &key_path, &value_name))
        return false;
    uint64_t key = 0;
    if (!open_registry_key(&key, key_path))
        return false;

    bool read = false;
    uint32_t type = 0;
    uint32_t size = sizeof(uint32_t);
    if (!sys_registry->query_value(key, value_name.c_str(), &type, value, &size))
        msg_error("[reg] Failed to get registry value '%s'.", value_path);
    else if (type != registry_type_u32)
        msg_error("[reg] Registry value '%s' had incorrect type - expected integer with size %Iu bytes.",
                  value_path, sizeof(uint32_t));
    else if (size != sizeof(uint32_t))
        msg_error("[reg] Registry value '%s' had incorrect size - expected integer with size %Iu bytes.",
                  value_path, sizeof(uint32_t));
    else
        read = true;

    if (!sys_registry->close_key(key))
        msg_error("[reg] Failed to close registry key.");
    return read;
}
