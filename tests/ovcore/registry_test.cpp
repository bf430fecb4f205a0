// Registry value paths, value type and size checks, and the layer that serves processor clocks.
#include "ovcore/registry.h"

#include "ovcore/sys_registry.h"
#include "tests/support/message_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{
// One key, "HKEY_LOCAL_MACHINE\Test\Key", with values of several types and sizes.
std::string opened_sub_key;
bool close_fails = false;

bool fake_open_key(uint64_t* key, uint32_t root_key, const char* sub_key)
{
    opened_sub_key = sub_key;
    if (root_key != 0x80000002u || (std::strcmp(sub_key, "Test\\Key") != 0 && *sub_key != 0))
        return false;
    *key = 42;
    return true;
}

bool fake_query_value(uint64_t, const char* name, uint32_t* type, void* data, uint32_t* size)
{
    struct value_t { const char* name; uint32_t type; uint32_t size; uint8_t bytes[8]; };
    static const value_t values[] = {
        { "Dword", registry_type_u32, 4, { 7, 0, 0, 0 } },
        { "Sz", registry_type_string, 4, { 'a', 0, 0, 0 } },  // "a" in UTF-16
        { "Qword", registry_type_u64, 8, { 1, 0, 0, 0, 0, 0, 0, 0 } },
        { "Short", registry_type_u32, 2, { 1, 0 } },
    };
    for (const value_t& value : values)
    {
        if (std::strcmp(name, value.name) != 0)
            continue;
        if (value.size > *size)
            return false;  // the buffer is too small
        std::memcpy(data, value.bytes, value.size);
        *type = value.type;
        *size = value.size;
        return true;
    }
    return false;
}

bool fake_close_key(uint64_t)
{
    return !close_fails;
}

const sys_registry_api_t fake_registry = { fake_open_key, fake_query_value, fake_close_key };

class registry_fixture_t : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sys_registry = &fake_registry;
        close_fails = false;
        opened_sub_key.clear();
    }
    void TearDown() override { sys_registry = &sys_registry_posix; }
};

struct failing_read_t
{
    const char* path;
    std::vector<std::string> messages;
};
} // namespace

TEST_F(registry_fixture_t, reports_and_rejects_bad_paths_and_values)
{
    const failing_read_t cases[] = {
        { "HKEY_LOCAL_MACHINE", { "[reg] Invalid value path 'HKEY_LOCAL_MACHINE'." } },
        { "HKEY_USERS\\Key\\", { "[reg] Invalid value path 'HKEY_USERS\\Key\\'." } },
        { "\\Value", { "[reg] Invalid value path '\\Value'." } },
        { "\\\\Value", { "[reg] Invalid registry key path '\\'." } },
        { "HKLM\\Key\\Value",
          { "[reg] Registry root key name 'HKLM' from key path 'HKLM\\Key' did not match any known "
            "registry root." } },
        { "hkey_local_machine\\Test\\Key\\Dword",
          { "[reg] Registry root key name 'hkey_local_machine' from key path "
            "'hkey_local_machine\\Test\\Key' did not match any known registry root." } },
        { "HKEY_LOCAL_MACHINE\\Missing\\Dword",
          { "[reg] Failed to open registry sub key 'Missing'.",
            "[reg] Failed to open key 'Missing' under tree 'HKEY_LOCAL_MACHINE'." } },
        { "HKEY_CURRENT_USER\\Test\\Key\\Dword",
          { "[reg] Failed to open registry sub key 'Test\\Key'.",
            "[reg] Failed to open key 'Test\\Key' under tree 'HKEY_CURRENT_USER'." } },
        { "HKEY_LOCAL_MACHINE\\Test\\Key\\Missing",
          { "[reg] Failed to get registry value 'HKEY_LOCAL_MACHINE\\Test\\Key\\Missing'." } },
        { "HKEY_LOCAL_MACHINE\\Test\\Key\\Sz",
          { "[reg] Registry value 'HKEY_LOCAL_MACHINE\\Test\\Key\\Sz' had incorrect type - "
            "expected integer with size 4 bytes." } },
        { "HKEY_LOCAL_MACHINE\\Test\\Key\\Qword",
          { "[reg] Failed to get registry value 'HKEY_LOCAL_MACHINE\\Test\\Key\\Qword'." } },
        { "HKEY_LOCAL_MACHINE\\Test\\Key\\Short",
          { "[reg] Registry value 'HKEY_LOCAL_MACHINE\\Test\\Key\\Short' had incorrect size - "
            "expected integer with size 4 bytes." } },
    };
    for (const failing_read_t& c : cases)
    {
        SCOPED_TRACE(c.path);
        message_capture_t capture;
        uint32_t value = 0;
        EXPECT_FALSE(registry_read_u32(&value, c.path));
        EXPECT_EQ(capture.lines, c.messages);
        for (message_level_t level : capture.levels)
            EXPECT_EQ(level, message_level_t::error);
    }
}

TEST_F(registry_fixture_t, reads_an_integer_value)
{
    message_capture_t capture;
    uint32_t value = 0;
    EXPECT_TRUE(registry_read_u32(&value, "HKEY_LOCAL_MACHINE\\Test\\Key\\Dword"));
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(opened_sub_key, "Test\\Key");
    EXPECT_TRUE(capture.lines.empty());
}

TEST_F(registry_fixture_t, opens_the_root_itself_when_there_is_no_sub_key)
{
    uint32_t value = 0;
    EXPECT_TRUE(registry_read_u32(&value, "HKEY_LOCAL_MACHINE\\Dword"));
    EXPECT_EQ(opened_sub_key, "");
}

TEST_F(registry_fixture_t, close_failure_is_reported_and_keeps_the_result)
{
    close_fails = true;
    message_capture_t capture;
    uint32_t value = 0;
    EXPECT_TRUE(registry_read_u32(&value, "HKEY_LOCAL_MACHINE\\Test\\Key\\Dword"));
    EXPECT_EQ(capture.lines, std::vector<std::string>{ "[reg] Failed to close registry key." });
}

TEST(registry_posix, only_processor_clock_keys_exist)
{
    const char* missing[] = {
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Value",
        "HKEY_CURRENT_USER\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0\\~MHz",
        "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\x\\~MHz",
        "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0x\\~MHz",
    };
    for (const char* path : missing)
    {
        SCOPED_TRACE(path);
        message_capture_t capture;
        uint32_t value = 0;
        EXPECT_FALSE(registry_read_u32(&value, path));
        ASSERT_EQ(capture.lines.size(), 2u);
        EXPECT_EQ(capture.lines[0].rfind("[reg] Failed to open registry sub key '", 0), 0u);
    }
}

TEST(registry_posix, serves_the_clock_as_an_integer_when_the_kernel_reports_one)
{
    message_capture_t capture;
    uint32_t mhz = 0;
    if (!registry_read_u32(&mhz, "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0\\~MHz"))
        GTEST_SKIP() << "this kernel reports no processor clock";
    EXPECT_GT(mhz, 0u);
    uint32_t other = 0;
    EXPECT_FALSE(registry_read_u32(&other, "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0\\Identifier"));
}
