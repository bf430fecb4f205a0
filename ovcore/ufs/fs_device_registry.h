// The device registry: a process-wide table that hands out 16-bit device ids, and the one
// listener told when a device leaves (the file cache, which then drops that device's images).
//
// Created by fs_startup and destroyed by fs_shutdown; every call is safe from any thread.
#pragma once

#include <cstdint>

class fs_device_t;

class fs_device_listener_t
{
public:
    virtual ~fs_device_listener_t() = default;
    // The device of `id` has left; its id may be handed out again once this returns.
    virtual void on_device_removed(uint16_t id) = 0;
};

// The lowest free id (0 to 0xFFFE) for the device; fs_no_device_id (0xFFFF) when every id is
// taken or the registry is not running.
[[nodiscard]] uint16_t fs_register_device(fs_device_t* device);
// Tells the listener, then frees the id. False when the id is not registered.
bool fs_unregister_device(uint16_t id);
// The device of the id, or null.
fs_device_t* fs_find_device(uint16_t id);
// Installs the listener; null detaches it.
void fs_set_device_listener(fs_device_listener_t* listener);

// Lifecycle, called by fs_startup and fs_shutdown only.
void fs_device_registry_startup();
void fs_device_registry_shutdown();
