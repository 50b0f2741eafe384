#include "platform/sync_objects.h"

#include "platform/module_path.h"
#include "platform/security.h"

namespace {

constexpr wchar_t lock_suffix[] = L".{5ead623c-dfcd-474d-8e3c-e6978cac039e}";
constexpr wchar_t counter_suffix[] = L".{a3526b56-ca7c-4e16-8a26-da7758a378fd}";

// What every program of the application needs of the objects, whatever
// account it runs under: to wait for and give back the lock, to count
// itself in and out. Only administrators and the system may do more (change
// the objects' access or owner), and the handles ask for no more either, so
// that a program without administrator rights opens an object an elevated
// one made.
constexpr DWORD lock_access = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD counter_access = SYNCHRONIZE | SEMAPHORE_MODIFY_STATE;

bool acquired(DWORD wait_result)
{
    return wait_result == WAIT_OBJECT_0 || wait_result == WAIT_ABANDONED;
}

}

std::wstring installation_lock_name(const std::wstring& application_id)
{
    return application_id + lock_suffix;
}

std::wstring instance_counter_name(const std::wstring& application_id)
{
    return application_id + counter_suffix;
}

std::wstring application_id_from(const std::wstring& id_value, const std::wstring& product_name,
                                 const std::wstring& program_path)
{
    if (!id_value.empty())
        return id_value;
    if (!product_name.empty())
        return product_name;
    return file_stem(program_path);
}

kernel_handle create_global_mutex(bool initial_owner, const std::wstring& name)
{
    const std::wstring full_name = L"Global\\" + name;
    DWORD error = 0;
    kernel_handle mutex;
    {
        access_security_attributes attributes(shared_object_access(MUTEX_ALL_ACCESS, lock_access));
        mutex.reset(CreateMutexExW(attributes.get(), full_name.c_str(), initial_owner ? CREATE_MUTEX_INITIAL_OWNER : 0,
                                   lock_access));
        error = GetLastError();
    }
    SetLastError(error);
    return mutex;
}

kernel_handle create_global_semaphore(LONG initial_count, LONG maximum_count, const std::wstring& name)
{
    const std::wstring full_name = L"Global\\" + name;
    DWORD error = 0;
    kernel_handle semaphore;
    {
        access_security_attributes attributes(shared_object_access(SEMAPHORE_ALL_ACCESS, counter_access));
        semaphore.reset(
            CreateSemaphoreExW(attributes.get(), initial_count, maximum_count, full_name.c_str(), 0, counter_access));
        error = GetLastError();
    }
    SetLastError(error);
    return semaphore;
}

named_mutex::named_mutex(const std::wstring& name, bool initial_owner, bool global)
{
    if (global)
        handle_ = create_global_mutex(initial_owner, name);
    else
        handle_.reset(CreateMutexW(nullptr, initial_owner, name.c_str()));
    if (handle_ && initial_owner && GetLastError() == ERROR_ALREADY_EXISTS)
        owned_ = acquired(WaitForSingleObject(handle_.get(), INFINITE));
    else
        owned_ = handle_ && initial_owner;
}

named_mutex::~named_mutex()
{
    if (handle_ && owned_)
        ReleaseMutex(handle_.get());
}

bool named_mutex::try_lock()
{
    // A second wait would take the mutex twice, and the one release at the
    // end would leave it held.
    if (owned_)
        return true;
    owned_ = handle_ && acquired(WaitForSingleObject(handle_.get(), 0));
    return owned_;
}

void named_mutex::release()
{
    if (handle_ && owned_)
        ReleaseMutex(handle_.get());
    owned_ = false;
}

instance_counter::instance_counter(const std::wstring& name)
    : handle_(create_global_semaphore(0, 0x7FFFFFFF, name))
{
    if (handle_ && ReleaseSemaphore(handle_.get(), 1, nullptr))
        own_count_ = 1;
}

instance_counter::~instance_counter()
{
    if (!handle_)
        return;
    if (own_count_ > 0) {
        LONG taken = 0;
        while (taken < own_count_ && WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0)
            ++taken;
        if (taken == own_count_)
            own_count_ = 0;
        else if (taken > 0)
            ReleaseSemaphore(handle_.get(), taken, nullptr);
    }
    else if (own_count_ < 0) {
        if (ReleaseSemaphore(handle_.get(), -own_count_, nullptr))
            own_count_ = 0;
    }
}

instance_counter& instance_counter::instance(const std::wstring& name)
{
    static instance_counter counter(name);
    return counter;
}

LONG instance_counter::running_count()
{
    LONG previous = 0;
    if (!handle_ || !ReleaseSemaphore(handle_.get(), 1, &previous))
        return 0;
    WaitForSingleObject(handle_.get(), 0);
    return previous;
}
