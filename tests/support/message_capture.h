// Test handler that collects message lines while in scope, with the console muted.
#pragma once

#include "ovcore/message.h"

#include <string>
#include <vector>

class message_capture_t final : public message_handler_t
{
public:
    // Registers itself; mutes the console handler unless `keep_console`.
    explicit message_capture_t(bool keep_console = false);
    ~message_capture_t() override;

    void handle_message(const message_t& message) override;
    void clear();

    std::vector<std::string> lines;
    std::vector<message_level_t> levels;

private:
    bool m_console_muted = false;
};
