// The device registry's id table and its listener.
#include "ovcore/ufs/fs_device_registry.h"

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/ufs/fs_file.h"

#include <mutex>

namespace
{

struct device_registry_t
{
    std::mutex lock;
    array_dyn_t<fs_device_t*> devices;  // index = id; null marks a free id
    fs_device_listener_t* listener = nullptr;
};

device_registry_t* g_device_registry = nullptr;

}  // namespace

uint16_t fs_register_device(fs_device_t* device)
{
    if (g_device_registry == nullptr || device == nullptr)
        return fs_no_device_id;
    std::lock_guard<std::mutex> guard(g_device_registry->lock);
    array_dyn_t<fs_device_t*>& devices = g_device_registry->devices;
    for (uint32_t id = 0; id < devices.size(); ++id)
        if (devices[id] == nullptr)
        {
            devices[id] = device;
            return uint16_t(id);
        }
    if (devices.size() >= fs_no_device_id || !devices.append(device))
        return fs_no_device_id;
    return uint16_t(devices.size() - 1);
}

bool fs_unregister_device(uint16_t id)
{
    if (g_device_registry == nullptr)
        return false;
    fs_device_listener_t* listener = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_device_registry->lock);
        if (id >= g_device_registry->devices.size() ||
            g_device_registry->devices[id] == nullptr)
            return false;
        listener = g_device_registry->listener;
    }
    // The listener runs without the registry's lock: it may take locks of its own that
    // lookups of other threads hold while they ask for a device.
    if (listener != nullptr)
        listener->on_device_removed(id);
    std::lock_guard<std::mutex> guard(g_device_registry->lock);
    g_device_registry->devices[id] = nullptr;
    while (!g_device_registry->devices.empty() && g_device_registry->devices.last() == nullptr)
        g_device_registry->devices.remove_last();
    return true;
}

fs_device_t* fs_find_device(uint16_t id)
{
    if (g_device_registry == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(g_device_registry->lock);
    return id < g_device_registry->devices.size() ? g_device_registry->devices[id] : nullptr;
}

void fs_set_device_listener(fs_device_listener_t* listener)
{
    if (g_device_registry == nullptr)
        return;
    std::lock_guard<std::mutex> guard(g_device_registry->lock);
    g_device_registry->listener = listener;
}

void fs_device_registry_startup()
{
    if (g_device_registry == nullptr)
        g_device_registry = new device_registry_t;
}

void fs_device_registry_shutdown()
{
    delete g_device_registry;
    g_device_registry = nullptr;
}
