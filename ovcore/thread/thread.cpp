// Engine threads: settings applied on the new thread before its entry runs, run context installed.
#include "ovcore/thread/thread.h"

#include "ovcore/cpu_info.h"
#include "ovcore/message.h"
#include "ovcore/thread/sys_thread.h"

#include <cstring>

thread_t::~thread_t()
{
    // A running thread still points at this record.
    if (started_)
        join();
}

void thread_t::start(thread_entry_t entry_function, void* entry_argument)
{
    if (started_)
        OV_FATAL("[thread] Thread started twice.");
    entry = entry_function;
    argument = entry_argument;
    api_ = sys_thread;
    has_ideal_processor_ = processor != nullptr;
    ideal_processor_ = has_ideal_processor_ ? processor->processor_number : 0;
    if (!api_->create(&handle, stack_size, &thread_t::run, this))
        OV_FATAL("[thread] Failed to create thread.");
    started_ = true;
}

void thread_t::join()
{
    if (!started_)
        return;
    api_->join(handle);
    handle = 0;
    started_ = false;
}

void thread_t::set_name(const char* text)
{
    std::strncpy(name_buffer, text, name_capacity - 1);
    name_buffer[name_capacity - 1] = 0;
    name = name_buffer;
}

void thread_t::run(void* record)
{
    thread_t* self = static_cast<thread_t*>(record);
    char short_name[name_capacity];
    std::strncpy(short_name, self->name, name_capacity - 1);
    short_name[name_capacity - 1] = 0;
    self->api_->set_current_name(short_name);
    // Raising the priority needs privileges the process may lack; the thread then runs at normal.
    if (self->priority != 0)
        (void)self->api_->set_current_priority(self->priority);
    if (self->has_ideal_processor_ &&
        !self->api_->set_current_ideal_processor(self->ideal_processor_))
        msg_warning("[thread] Failed to alter thread CPU affinity.");

    self->run_context = { run_context_magic, run_context_type_t::engine_thread, self, nullptr, nullptr };
    run_context_install(&self->run_context);
    self->entry(self, self->argument);
    run_context_install(nullptr);
}
