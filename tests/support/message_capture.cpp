// Test handler that collects message lines.
#include "tests/support/message_capture.h"

message_capture_t::message_capture_t(bool keep_console)
{
    if (!keep_console && g_console_message_handler != nullptr)
    {
        unregister_message_handler(g_console_message_handler);
        m_console_muted = true;
    }
    register_message_handler(this);
}

message_capture_t::~message_capture_t()
{
    unregister_message_handler(this);
    if (m_console_muted && g_console_message_handler != nullptr)
        register_message_handler(g_console_message_handler);
}

void message_capture_t::handle_message(const message_t& message)
{
    lines.emplace_back(message.text.c_str());
    levels.push_back(message.level);
}

void message_capture_t::clear()
{
    lines.clear();
    levels.clear();
}
