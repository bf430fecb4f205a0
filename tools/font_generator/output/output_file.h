// Creating the tool's output files: a fresh file at a path, replacing any earlier one.
#pragma once

#include "ovcore/collections/auto_ptr.h"

class file_t;

// Drops the file cache's entry for the path, then opens it in mode create_truncate on SYSFS.
// The file system reports a failure itself; null then.
[[nodiscard]] auto_ptr_t<file_t> create_output_file(const char* path);
