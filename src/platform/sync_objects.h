// Named kernel objects shared by the programs of one application across
// logon sessions: the installation lock and the instance counter.
#pragma once

#include "platform/kernel_handle.h"

#include <windows.h>

#include <string>

// "<application_id>.{guid}" of the installation lock and of the instance
// counter; the objects live under "Global\" + that name.
std::wstring installation_lock_name(const std::wstring& application_id);
std::wstring instance_counter_name(const std::wstring& application_id);

// The application id: "ApplicationId" of the own version resource, else its
// product name, else the executable's file name without extension.
std::wstring application_id_from(const std::wstring& id_value, const std::wstring& product_name,
                                 const std::wstring& program_path);

// A mutex or semaphore named "Global\" + name that every account may open,
// to wait and release or count, and only administrators and the system may
// change. The last error of the creation is kept for ERROR_ALREADY_EXISTS.
kernel_handle create_global_mutex(bool initial_owner, const std::wstring& name);
kernel_handle create_global_semaphore(LONG initial_count, LONG maximum_count, const std::wstring& name);

class named_mutex {
public:
    // `name` is the whole object name; `global` adds "Global\" and the
    // access of create_global_mutex. An initial owner waits for a mutex that
    // another process holds.
    named_mutex(const std::wstring& name, bool initial_owner, bool global);
    named_mutex(const named_mutex&) = delete;
    named_mutex& operator=(const named_mutex&) = delete;
    ~named_mutex();

    // Takes the mutex without waiting; a mutex its holder abandoned counts,
    // and one this object owns already is not taken again.
    bool try_lock();
    // Gives the mutex up for a while (another program may take it).
    void release();

    bool owned() const noexcept { return owned_; }
    HANDLE handle() const noexcept { return handle_.get(); }

private:
    kernel_handle handle_;
    bool owned_ = false;
};

// Counts the running programs of the application: each adds one unit to a
// shared semaphore while it runs and takes it back at exit.
class instance_counter {
public:
    // `name` without "Global\".
    explicit instance_counter(const std::wstring& name);
    instance_counter(const instance_counter&) = delete;
    instance_counter& operator=(const instance_counter&) = delete;
    // Gives back this process's units.
    ~instance_counter();

    // The process-wide counter, created by its first use.
    static instance_counter& instance(const std::wstring& name);

    // The units in the semaphore now; the semaphore keeps its count.
    LONG running_count();

    LONG own_count() const noexcept { return own_count_; }
    HANDLE handle() const noexcept { return handle_.get(); }

private:
    kernel_handle handle_;
    LONG own_count_ = 0;
};
