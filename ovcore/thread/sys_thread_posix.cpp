// POSIX threads behind the thread seam.
#include "ovcore/thread/sys_thread.h"

#include <atomic>
#include <cerrno>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

const sys_thread_api_t* sys_thread = &sys_thread_posix;

namespace
{
struct posix_start_t
{
    void (*routine)(void*);
    void* argument;
};

void* posix_thread_main(void* start_record)
{
    posix_start_t start = *static_cast<posix_start_t*>(start_record);
    delete static_cast<posix_start_t*>(start_record);
    start.routine(start.argument);
    return nullptr;
}

bool posix_create(uint64_t* handle, std::size_t stack_size, void (*routine)(void*), void* argument)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    bool created = false;
    if (pthread_attr_setstacksize(&attributes, stack_size) == 0)
    {
        posix_start_t* start = new posix_start_t{ routine, argument };
        pthread_t thread;
        created = pthread_create(&thread, &attributes, posix_thread_main, start) == 0;
        if (created)
            *handle = uint64_t(thread);
        else
            delete start;
    }
    pthread_attr_destroy(&attributes);
    return created;
}

void posix_join(uint64_t handle)
{
    pthread_join(pthread_t(handle), nullptr);
}

bool posix_set_current_priority(int32_t priority)
{
    // Nice values are per thread on Linux; steps are relative to the process's main thread.
    // Raising needs privileges the process may not have.
    errno = 0;
    int base = getpriority(PRIO_PROCESS, id_t(getpid()));
    if (base == -1 && errno != 0)
        return false;
    int nice = priority > 0 ? base - 4 : priority < 0 ? base + 2 : base;
    return setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), nice) == 0;
}

bool posix_set_current_name(const char* name)
{
    return pthread_setname_np(pthread_self(), name) == 0;
}

bool posix_set_current_ideal_processor(uint32_t processor_number)
{
    // An ideal processor is a preference, and Linux has none softer than binding. A bound
    // worker waits for its processor while another idles, and the workers of runs started
    // together all crowd onto the same one: the scheduler keeps placing the thread. The number
    // is checked as the preference would be: a processor this thread may run on.
    if (processor_number >= CPU_SETSIZE)
        return false;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    return pthread_getaffinity_np(pthread_self(), sizeof(allowed), &allowed) == 0 &&
           CPU_ISSET(processor_number, &allowed);
}

void posix_sleep_ms(uint32_t milliseconds)
{
    timespec delay = { time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L };
    while (nanosleep(&delay, &delay) != 0)
    {
    }
}

void posix_yield()
{
    sched_yield();
}

std::atomic<void (*)(void*)> exit_notify{ nullptr };
pthread_key_t exit_key;
pthread_once_t exit_key_once = PTHREAD_ONCE_INIT;

void posix_on_thread_exit(void* value)
{
    if (void (*notify)(void*) = exit_notify.load())
        notify(value);
}

void create_exit_key()
{
    pthread_key_create(&exit_key, posix_on_thread_exit);
}

void posix_notify_at_thread_exit(void (*notify)(void* value), void* value)
{
    pthread_once(&exit_key_once, create_exit_key);
    if (value != nullptr)
        exit_notify.store(notify);
    pthread_setspecific(exit_key, value);
}
} // namespace

extern const sys_thread_api_t sys_thread_posix = {
    posix_create,       posix_join,     posix_set_current_priority,
    posix_set_current_name, posix_set_current_ideal_processor,
    posix_sleep_ms,     posix_yield,    posix_notify_at_thread_exit,
};
