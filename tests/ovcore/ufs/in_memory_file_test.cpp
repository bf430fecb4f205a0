// What the files held in memory share: requests that complete at once and the texts of a path
// that is a name of their own.
#include "ovcore/ufs/in_memory_file.h"

#include "ovcore/collections/auto_ptr.h"
#include "ovcore/ufs/fs_cache.h"
#include "ovcore/ufs/mem_file.h"
#include "ovcore/ufs/sequential_mem_file.h"
#include "tests/ovcore/ufs/fs_test_support.h"

#include <gtest/gtest.h>

#include <string>

TEST(in_memory_file, memory_and_cached_files_give_the_same_texts_for_every_device_type)
{
    scratch_directory_t scratch;
    const std::string cached = scratch.path("cached.bin");
    write_file_bytes(cached, "abc");
    ASSERT_TRUE(fs_cache_preload(cached.c_str(), SYSFS));
    auto_ptr_t<file_t> image(fs_cache_lookup(cached.c_str(), SYSFS));
    ASSERT_TRUE(image);
    const char bytes[1] = { 'a' };
    mem_file_t pages;
    sequential_mem_file_t stream(bytes, sizeof bytes, "/stream", UNKNOWNFS);

    struct type_case_t
    {
        uint32_t type;
        const char* name;
    };
    const type_case_t types[] = { { 0, "UNKNOWNFS" }, { 1, "UFS" }, { 2, "SYSFS" }, { 7, "BADFS" } };
    struct file_case_t
    {
        file_t* file;
        const char* kind;  // of the description; null: the cached path's own
    };
    const file_case_t files[] = { { &pages, "MEMFILE" }, { &stream, "SEQMEMFILE" },
                                  { image.get(), nullptr } };
    for (const file_case_t& f : files)
    {
        const std::string path = f.file->get_path().c_str();
        EXPECT_FALSE(f.file->uses_read_cache());
        EXPECT_TRUE(f.file->io_is_done(&fs_finished_request));
        EXPECT_TRUE(f.file->io_wait(&fs_finished_request));
        for (const type_case_t& t : types)
        {
            SCOPED_TRACE(path + " " + t.name);
            f.file->set_device_type(fs_device_type_t(t.type));
            string_dyn_t out;
            EXPECT_TRUE(f.file->get_system_path(&out));
            EXPECT_EQ(out.c_str(), path);
            out.clear();
            EXPECT_EQ(f.file->get_mount_path(&out), t.type == UFS);
            EXPECT_EQ(out.c_str(), t.type == UFS ? path : std::string());
            if (f.kind == nullptr)
                continue;
            std::string description = "<";
            description += f.kind;
            description += "><";
            description += t.name;
            description += ">";
            description += path;
            EXPECT_TRUE(f.file->get_description(&out));
            EXPECT_EQ(out.c_str(), description);
        }
    }
    image.reset();
    EXPECT_TRUE(fs_cache_remove(cached.c_str(), SYSFS));
}
