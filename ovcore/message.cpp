// Message dispatch with nesting rules, the console handler and fatal errors.
#include "ovcore/message.h"

#include "ovcore/out_of_memory.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>

message_system_t* g_message_system = nullptr;
console_message_handler_t* g_console_message_handler = nullptr;

namespace
{

// Created once on first use and never destroyed, so messages issued while the process exits
// still find it.
std::recursive_mutex& message_lock()
{
    // Never destroyed, so messages issued while the process exits still find it; kept out of
    // the heap so that no block outlives the process.
    alignas(std::recursive_mutex) static unsigned char storage[sizeof(std::recursive_mutex)];
    static std::recursive_mutex* lock = new (storage) std::recursive_mutex;
    return *lock;
}

// Bytes reserved for a message's text; a longer one grows it while memory lasts.
constexpr uint32_t message_text_room = 1024;

void deliver(message_system_t* system, const message_t& message)
{
    for (message_handler_t* handler : system->handlers)
        handler->handle_message(message);
}

// Delivers a message whose text is formatted into `room`, which keeps its buffer afterwards.
// A text that finds no memory to grow is cut short, never lost.
void deliver_in(message_system_t* system, string_dyn_t* room, message_level_t level,
                const char* format, va_list args)
{
    message_t message;
    message.text.move_from(*room);
    (void)message.text.format_va(format, args);
    message.level = level;
    deliver(system, message);
    room->move_from(message.text);
}

void deliver_formatted(message_system_t* system, string_dyn_t* room, message_level_t level,
                       const char* format, ...)
{
    va_list args;
    va_start(args, format);
    deliver_in(system, room, level, format, args);
    va_end(args);
}

}  // namespace

void create_message_system()
{
    std::lock_guard<std::recursive_mutex> guard(message_lock());
    if (g_message_system == nullptr)
    {
        g_message_system = new message_system_t;
        // The out-of-memory line is formatted into this room: without it the run cannot say so.
        if (!g_message_system->text_room.reserve(message_text_room) ||
            !g_message_system->pending_text.reserve(message_text_room))
            out_of_memory_exit("Not enough memory to start.");
    }
}

void destroy_message_system()
{
    std::lock_guard<std::recursive_mutex> guard(message_lock());
    delete g_message_system;
    g_message_system = nullptr;
}

void register_message_handler(message_handler_t* handler)
{
    std::lock_guard<std::recursive_mutex> guard(message_lock());
    if (g_message_system != nullptr)
        (void)g_message_system->handlers.append(handler);  // a full list ignores it
}

void unregister_message_handler(message_handler_t* handler)
{
    std::lock_guard<std::recursive_mutex> guard(message_lock());
    if (g_message_system == nullptr)
        return;
    array_t<message_handler_t*>& handlers = g_message_system->handlers;
    message_handler_t* const* found = handlers.begin();
    while (found != handlers.end() && *found != handler)
        ++found;
    handlers.remove_fast(handlers.index_of(found));
}

void msg_print(message_level_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    msg_va(level, format, args);
    va_end(args);
}

void msg_va(message_level_t level, const char* format, va_list args)
{
    std::lock_guard<std::recursive_mutex> guard(message_lock());
    message_system_t* system = g_message_system;
    if (system == nullptr)
        return;
    ++system->depth;
    if (system->depth == 1)
    {
        deliver_in(system, &system->text_room, level, format, args);
        if (!system->pending_text.empty())
        {
            system->depth = 3;
            message_t pending;
            pending.text.move_from(system->pending_text);
            pending.level = system->pending_level;
            deliver(system, pending);
            system->pending_text.move_from(pending.text);
            system->pending_text.clear();  // keeps its room
            system->depth = 1;
        }
        if (system->dropped != 0)
        {
            system->depth = 3;
            deliver_formatted(system, &system->text_room, message_level_t::error,
                              "[msg] There were at least %u more nested messages we had to drop.",
                              system->dropped);
            system->depth = 1;
            system->dropped = 0;
        }
    }
    else if (system->depth == 2)
    {
        // Like the outermost text, a nested one that finds no memory is kept cut short.
        (void)system->pending_text.format_va(format, args);
        system->pending_level = level;
    }
    else
        ++system->dropped;
    --system->depth;
}

console_message_handler_t::~console_message_handler_t()
{
    unregister_message_handler(this);
    std::fflush(stdout);
    std::fflush(stderr);
    if (g_console_message_handler == this)
        g_console_message_handler = nullptr;
}

void console_message_handler_t::handle_message(const message_t& message)
{
    const char* prefix = "";
    FILE* stream = stdout;
    if (message.level == message_level_t::warning)
    {
        prefix = "*** WARNING *** : ";
        stream = stderr;
    }
    else if (message.level == message_level_t::error)
    {
        prefix = "*** ERROR *** : ";
        stream = stderr;
    }
    std::fprintf(stream, "%s%s\r\n", prefix, message.text.c_str());
}

void create_console_message_handler()
{
    g_console_message_handler = new console_message_handler_t;
    register_message_handler(g_console_message_handler);
}

void destroy_console_message_handler()
{
    delete g_console_message_handler;
}

void fatal_error(const char* text, const char* file, uint32_t line, const char* function)
{
    msg_error("%s(%u): %s: %s", file, line, function, text);
    std::fflush(stderr);
    std::abort();
}
