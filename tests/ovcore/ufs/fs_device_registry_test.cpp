// The device registry: id hand-out and reuse, and the file cache dropping the images of a
// device that leaves.
#include "ovcore/ufs/fs_device_registry.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/fs_file.h"
#include "tests/ovcore/ufs/fs_test_support.h"

#include <gtest/gtest.h>

TEST(fs_device_registry, hands_out_the_lowest_free_id_and_forgets_removed_devices)
{
    ufs_device_t a, b, c;
    const uint16_t first = fs_register_device(&a);
    const uint16_t second = fs_register_device(&b);
    ASSERT_NE(first, fs_no_device_id);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(fs_find_device(first), &a);
    EXPECT_TRUE(fs_unregister_device(first));
    EXPECT_FALSE(fs_unregister_device(first));
    EXPECT_EQ(fs_find_device(first), nullptr);
    EXPECT_EQ(fs_register_device(&c), first);  // the freed id comes back
    EXPECT_EQ(fs_find_device(first), &c);
    EXPECT_TRUE(fs_unregister_device(first));
    EXPECT_TRUE(fs_unregister_device(second));
    EXPECT_FALSE(fs_unregister_device(fs_no_device_id));
    EXPECT_EQ(fs_register_device(nullptr), fs_no_device_id);
}

TEST(fs_device_registry, a_device_that_leaves_takes_its_cached_images_along)
{
    scratch_directory_t scratch;
    write_file_bytes(scratch.path("mine.bin"), pattern_bytes(100));
    write_file_bytes(scratch.path("other.bin"), pattern_bytes(50));
    sysfs_device_t device(scratch.root().c_str());
    ASSERT_TRUE(device.is_valid());
    device.set_device_id(fs_register_device(&device));
    ASSERT_NE(device.get_device_id(), fs_no_device_id);

    ASSERT_TRUE(fs_cache_preload_file("mine.bin", SYSFS,
                                      device.open("mine.bin", fs_open_mode_t::read_only)));
    const std::string other = scratch.path("other.bin");
    ASSERT_TRUE(fs_cache_preload(other.c_str(), SYSFS));  // the plain SYSFS device: no id
    auto_ptr_t<file_t> reading(fs_cache_lookup("mine.bin", SYSFS));
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->get_device_id(), device.get_device_id());

    EXPECT_TRUE(fs_unregister_device(device.get_device_id()));
    EXPECT_EQ(fs_cache_lookup("mine.bin", SYSFS), nullptr);
    EXPECT_EQ(fs_cache_uses(other.c_str(), SYSFS), 0);  // other devices keep theirs
    std::string bytes(100, '\0');
    EXPECT_TRUE(reading->read(bytes.data(), 100));  // an open cache file keeps its image
    EXPECT_EQ(bytes, pattern_bytes(100));
    EXPECT_TRUE(fs_cache_remove(other.c_str(), SYSFS));
}
