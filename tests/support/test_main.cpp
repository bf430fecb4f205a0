// Test entry: every test runs between core start-up and shut-down, as the tool does.
#include "ovcore/core.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Death tests re-run this binary; "threadsafe" keeps the core's threads out of the fork.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    core_startup();
    const int status = RUN_ALL_TESTS();
    core_shutdown();
    return status;
}
