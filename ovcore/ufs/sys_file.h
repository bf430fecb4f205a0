// The file system's operating-system seam: one table of file operations, the I/O request record
// and the "io_pump" thread that serves reads and writes.
//
// Reads and writes are asynchronous: start_read / start_write hand a request to the io_pump
// thread, which keeps at most 8 operations in flight and finishes the others in arrival order.
// Until the io_pump is first needed, a request of at most 1 MiB is instead served at once on the
// caller's thread, so a run of small reads and writes never starts the thread; afterwards a read
// or write of at most 1 MiB to a file with nothing on the io_pump still is. Callers block
// only in wait / release (and for such a request in its start). Operating-system failures are
// not reported here: they come back as null or false and the caller reports in its own words.
#pragma once

#include "ovcore/ufs/fs_types.h"

#include <cstdint>

struct sys_file_handle_t;  // an open operating-system file, owned by whoever opened it
struct sys_io_event_t;     // completion event of a request, recycled by the implementation

enum fs_io_state_t : uint32_t
{
    fs_io_posted = 1,    // handed to the io_pump thread
    fs_io_queued = 2,    // in the io_pump thread's FIFO
    fs_io_issued = 3,    // issued to the operating system
    fs_io_finished = 4,
};

enum fs_io_operation_t : uint32_t
{
    fs_io_read = 1,
    fs_io_write = 2,
};

// One asynchronous read or write. Owned by the seam's pool from start_read / start_write until
// wait or release gives it back.
struct fs_io_request_t
{
    fs_io_request_t* next;  // pool, port and FIFO link
    uint32_t state;         // fs_io_state_t
    uint32_t operation;     // fs_io_operation_t
    void* buffer;
    uint32_t size;
    uint32_t transferred;   // bytes moved so far
    uint64_t offset;
    sys_file_handle_t* handle;
    sys_io_event_t* event;
    bool success;
};

// Receives one directory entry name of list_directory.
using sys_file_list_callback_t = void (*)(void* context, const char* name);

// Paths are system paths in UTF-8 (device root already joined).
struct sys_file_api_t
{
    // Starts the io_pump thread; false when it could not be started.
    bool (*startup)();
    // Fails every queued request, finishes those in flight and joins the io_pump thread.
    void (*shutdown)();
    // Opens a regular file in the mode; null on failure (including any other kind of file).
    sys_file_handle_t* (*open)(const char* path, fs_open_mode_t mode);
    void (*close)(sys_file_handle_t* handle);
    bool (*delete_file)(const char* path);
    // Null when the request could not be posted (the io_pump is not running).
    fs_io_request_t* (*start_read)(sys_file_handle_t* handle, void* buffer, uint32_t size,
                                   uint64_t offset);
    fs_io_request_t* (*start_write)(sys_file_handle_t* handle, const void* buffer, uint32_t size,
                                    uint64_t offset);
    // True when the request has finished; never waits.
    bool (*poll)(fs_io_request_t* request);
    // Waits for the request, gives it back and returns whether every byte was transferred.
    bool (*wait)(fs_io_request_t* request);
    // Waits for the request and gives it back, ignoring its result.
    void (*release)(fs_io_request_t* request);
    bool (*stat_handle)(sys_file_handle_t* handle, fs_stat_t* out);
    // False when the path does not exist.
    bool (*stat_path)(const char* path, fs_stat_t* out);
    // True when the directory was created or already existed.
    bool (*make_directory)(const char* path);
    bool (*remove_directory)(const char* path);
    // Copies in 16384-byte chunks; without `overwrite` an existing destination fails the copy.
    bool (*copy_file)(const char* source, const char* destination, bool overwrite);
    bool (*move_file)(const char* source, const char* destination, bool replace);
    // Calls `add` for every entry but "." and "..".
    bool (*list_directory)(const char* path, sys_file_list_callback_t add, void* context);
    bool (*set_size)(sys_file_handle_t* handle, uint64_t size);
    // The first `size` bytes of the open file mapped for reading, without a copy: only the
    // pages read are brought in, and the mapping stays valid after the file is closed. Null when
    // the file cannot be mapped; the caller then reads it.
    const void* (*map_read_only)(sys_file_handle_t* handle, uint64_t size);
    // Gives back a mapping from map_read_only with the same size.
    void (*unmap)(const void* bytes, uint64_t size);
    // Why opening the path in the mode failed, found by looking at the path again.
    fs_open_failure_t (*explain_open_failure)(const char* path, fs_open_mode_t mode);
    // The process's current folder, zero-terminated; false when it does not fit `size` bytes.
    bool (*current_folder)(char* buffer, uint32_t size);
};

// The table in use: installed by fs_startup, null before and after. Tests may swap it.
extern const sys_file_api_t* sys_file;

// io_uring where the kernel allows it, else the io_pump thread reads and writes itself.
extern const sys_file_api_t sys_file_posix;
// Always the io_pump thread reading and writing itself (pread / pwrite).
extern const sys_file_api_t sys_file_posix_pread;

// What the io_pump thread has done since start-up; for tests and benchmarks.
struct sys_file_pump_stats_t
{
    bool running;
    bool uses_io_uring;
    uint32_t peak_in_flight;  // the most operations issued and not yet completed at one time
    uint64_t issued;          // operations issued to the operating system
    uint64_t failed_on_stop;  // queued requests failed by the stop signal
};
sys_file_pump_stats_t sys_file_pump_stats();

// Test hook: the io_pump thread's next sleep ends as if the operating system failed its wait.
void sys_file_pump_fail_next_wait();

// Test hook: while held, the io_pump thread takes nothing from its port, so requests pile up.
// Shut-down lets go of the hold itself.
void sys_file_pump_hold(bool held);

// Test hook: while set, no request is served on its caller's thread: each goes to the io_pump.
void sys_file_pump_post_all(bool post_all);
