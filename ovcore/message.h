// The process-wide message system: levels, handlers, the console handler and fatal errors.
//
// Every message is formatted once and handed to every registered handler in registration
// order, under one recursive lock. A message that a handler issues while handling one is kept
// and delivered afterwards; deeper ones are counted and reported as dropped. Before the system
// is created and after it is destroyed messages are lost silently.
#pragma once

#include "ovcore/collections/arrays/arrays_base_impl.h"
#include "ovcore/collections/string.h"
#include "ovcore/fatal.h"
#include "ovcore/format_check.h"

#include <cstdarg>
#include <cstdint>
#include <type_traits>

enum class message_level_t : uint32_t
{
    info = 1,
    warning = 2,
    error = 3,
};

struct message_t
{
    string_dyn_t text;
    message_level_t level;
};

class message_handler_t
{
public:
    virtual ~message_handler_t() = default;
    // Called with the message lock held; must not keep `message` or wait for other threads.
    virtual void handle_message(const message_t& message) = 0;
};

struct message_system_t
{
    array_fixed_t<message_handler_t*, 8> handlers;  // not owned
    uint32_t depth = 0;
    uint32_t dropped = 0;
    // Room reserved up front for the text of the message being delivered and of the pending
    // one: when memory runs short, messages still say what they are about (cut short at worst).
    string_dyn_t text_room;
    string_dyn_t pending_text;
    message_level_t pending_level = message_level_t::info;
};

// Writes info lines bare to standard output, warnings and errors with their prefix to standard
// error, each ending in "\r\n". Its destructor unregisters it and flushes both streams.
class console_message_handler_t final : public message_handler_t
{
public:
    ~console_message_handler_t() override;
    void handle_message(const message_t& message) override;
};

extern message_system_t* g_message_system;
extern console_message_handler_t* g_console_message_handler;

// Lifecycle, called by core start-up and shut-down only.
void create_message_system();
void destroy_message_system();
void create_console_message_handler();
void destroy_console_message_handler();

// Appends the handler when fewer than 8 are registered, else does nothing.
void register_message_handler(message_handler_t* handler);
// Removing a handler that is not registered is fatal.
void unregister_message_handler(message_handler_t* handler);

// The common, unchecked entry; for forwarding a va_list.
void msg_va(message_level_t level, const char* format, va_list args);
void msg_print(message_level_t level, const char* format, ...);

template <typename... Args>
void msg_info(checked_format_t<std::type_identity_t<Args>...> format, Args... args)
{
    msg_print(message_level_t::info, format.text, args...);
}

template <typename... Args>
void msg_warning(checked_format_t<std::type_identity_t<Args>...> format, Args... args)
{
    msg_print(message_level_t::warning, format.text, args...);
}

template <typename... Args>
void msg_error(checked_format_t<std::type_identity_t<Args>...> format, Args... args)
{
    msg_print(message_level_t::error, format.text, args...);
}

