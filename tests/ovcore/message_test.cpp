// Message dispatch, nesting and drop rules, the console format and fatal errors.
#include "ovcore/message.h"

#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{

// Issues messages of its own while it handles one; records what it saw.
class chatty_handler_t final : public message_handler_t
{
public:
    std::function<void(const message_t&)> on_message;
    std::vector<std::string> seen;

    void handle_message(const message_t& message) override
    {
        seen.emplace_back(message.text.c_str());
        if (on_message)
            on_message(message);
    }
};

}  // namespace

TEST(msg_va, formats_once_and_delivers_to_every_handler_in_order)
{
    message_capture_t capture;
    chatty_handler_t second;
    register_message_handler(&second);
    msg_warning("%s has %Iu glyphs of %I64u", "set", std::size_t(3), uint64_t(1) << 40);
    unregister_message_handler(&second);
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "set has 3 glyphs of 1099511627776" });
    EXPECT_EQ(capture.levels, std::vector<message_level_t>{ message_level_t::warning });
    EXPECT_EQ(second.seen, capture.lines);
}

TEST(msg_va, keeps_the_last_nested_message_and_delivers_it_afterwards)
{
    message_capture_t capture;
    chatty_handler_t chatty;
    chatty.on_message = [](const message_t& message) {
        if (std::string(message.text.c_str()) == "outer")
        {
            msg_info("first nested");
            msg_warning("second nested");
        }
    };
    register_message_handler(&chatty);
    msg_error("outer");
    unregister_message_handler(&chatty);
    EXPECT_EQ(capture.lines, (std::vector<std::string>{ "outer", "second nested" }));
    EXPECT_EQ(capture.levels[1], message_level_t::warning);
}

TEST(msg_va, drops_messages_issued_while_a_nested_one_is_delivered)
{
    message_capture_t capture;
    chatty_handler_t chatty;
    chatty.on_message = [](const message_t& message) {
        const std::string text = message.text.c_str();
        if (text == "outer")
            msg_info("nested");
        else if (text == "nested")
            msg_info("dropped");
    };
    register_message_handler(&chatty);
    msg_info("outer");
    msg_info("after");  // the count starts again after a notice
    unregister_message_handler(&chatty);
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "outer", "nested",
                  "[msg] There were at least 1 more nested messages we had to drop.", "after" }));
    EXPECT_EQ(capture.levels[2], message_level_t::error);
}

TEST(msg_va, reaches_nobody_without_handlers_or_system)
{
    message_capture_t capture;
    unregister_message_handler(&capture);
    msg_error("nobody hears this");
    register_message_handler(&capture);
    EXPECT_TRUE(capture.lines.empty());
}

TEST(register_message_handler, ignores_a_ninth_handler)
{
    message_capture_t capture;  // the console is muted: capture is the only one
    chatty_handler_t handlers[8];
    for (chatty_handler_t& handler : handlers)
        register_message_handler(&handler);
    msg_info("x");
    EXPECT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(handlers[6].seen.size(), 1u);
    EXPECT_TRUE(handlers[7].seen.empty());
    for (int i = 0; i < 7; ++i)
        unregister_message_handler(&handlers[i]);
}

TEST(console_message_handler, writes_prefixed_lines_to_the_right_stream)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    msg_info("plain %u", 1u);
    msg_warning("careful");
    msg_error("broken");
    msg_print(message_level_t(7), "other level");
    std::fflush(stdout);
    std::fflush(stderr);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "plain 1\r\nother level\r\n");
    EXPECT_EQ(err, "*** WARNING *** : careful\r\n*** ERROR *** : broken\r\n");
}

TEST(message_death, unregistering_an_unknown_handler_is_an_index_fault)
{
    chatty_handler_t stranger;
    EXPECT_DEATH(unregister_message_handler(&stranger),
                 "\\*\\*\\* ERROR \\*\\*\\* : .*arrays_base_impl\\.h\\([0-9]+\\): .*index_of.*: "
                 "Iterator outside array boundaries\\.");
}

TEST(message_death, fatal_error_reports_file_line_and_function_first)
{
    EXPECT_DEATH(fatal_error("Broken.", "ufs/fs_file.cpp", 42, "void f()"),
                 "^\\*\\*\\* ERROR \\*\\*\\* : ufs/fs_file\\.cpp\\(42\\): void f\\(\\): Broken\\.\r\n");
}
