#include "platform/sync_objects.h"

#include "support/sync_helper_process.h"
#include "support/test_support.h"

#include <sddl.h>

#include <thread>
#include <utility>
#include <vector>

#include <fmt/xchar.h>
#include <gtest/gtest.h>

namespace {

using test_support::sync_helper_process;
using test_support::sync_wait_limit_ms;

std::wstring unique_name(const wchar_t* what)
{
    return test_support::unique_object_name(what);
}

TEST(SyncNames, GlobalNamesFromTheApplicationId)
{
    EXPECT_EQ(installation_lock_name(L"Quillmar3"), L"Quillmar3.{5ead623c-dfcd-474d-8e3c-e6978cac039e}");
    EXPECT_EQ(instance_counter_name(L"Quillmar3"), L"Quillmar3.{a3526b56-ca7c-4e16-8a26-da7758a378fd}");

    EXPECT_EQ(application_id_from(L"Quillmar3", L"Install", L"C:\\x\\Setup.exe"), L"Quillmar3");
    EXPECT_EQ(application_id_from(L"", L"Install", L"C:\\x\\Setup.exe"), L"Install");
    EXPECT_EQ(application_id_from(L"", L"", L"C:\\x.y\\Quillmar3Setup.exe"), L"Quillmar3Setup");
    EXPECT_EQ(application_id_from(L"", L"", L"C:\\x.y\\Setup"), L"Setup");
}

TEST(GlobalObjects, CreationKeepsTheAlreadyExistsError)
{
    const std::wstring name = unique_name(L"mutex");
    const auto first = create_global_mutex(false, name);
    ASSERT_TRUE(first) << GetLastError();
    EXPECT_NE(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
    const auto second = create_global_mutex(false, name);
    ASSERT_TRUE(second);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});

    const std::wstring semaphore_name = unique_name(L"semaphore");
    const auto semaphore = create_global_semaphore(0, 5, semaphore_name);
    ASSERT_TRUE(semaphore);
    const auto again = create_global_semaphore(0, 5, semaphore_name);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
    // Opened by the full name, as another program of the application does.
    const kernel_handle opened(OpenSemaphoreW(SYNCHRONIZE, FALSE, (L"Global\\" + semaphore_name).c_str()));
    EXPECT_TRUE(opened);
}

// Every account may wait for the lock and count itself, only administrators
// and the system may change the objects. Wine keeps the access list of a
// kernel object and gives it back, but checks no access against it for
// programs of the same Unix user, so the entries are what is checked.
TEST(GlobalObjects, OthersMayOnlyWaitAndCount)
{
    const struct {
        const char* what;
        bool mutex;
        DWORD full;
        DWORD others;
    } cases[] = {
        {"installation lock", true, MUTEX_ALL_ACCESS, SYNCHRONIZE | MUTEX_MODIFY_STATE},
        {"instance counter", false, SEMAPHORE_ALL_ACCESS, SYNCHRONIZE | SEMAPHORE_MODIFY_STATE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring name = unique_name(L"access");
        const kernel_handle object = c.mutex ? create_global_mutex(false, name) : create_global_semaphore(0, 5, name);
        ASSERT_TRUE(object) << GetLastError();
        const std::wstring full_name = L"Global\\" + name;
        const kernel_handle reader(c.mutex ? OpenMutexW(READ_CONTROL, FALSE, full_name.c_str())
                                           : OpenSemaphoreW(READ_CONTROL, FALSE, full_name.c_str()));
        ASSERT_TRUE(reader) << GetLastError();
        DWORD size = 0;
        GetKernelObjectSecurity(reader.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
        std::vector<BYTE> descriptor(size);
        ASSERT_TRUE(GetKernelObjectSecurity(reader.get(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size));
        BOOL present = FALSE, defaulted = FALSE;
        ACL* dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl) << "a missing DACL would let everybody do anything";
        std::vector<std::pair<std::wstring, DWORD>> entries;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            ASSERT_TRUE(GetAce(dacl, i, &ace));
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
            wchar_t* sid = nullptr;
            ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &sid);
            entries.emplace_back(sid, allowed->Mask);
            LocalFree(sid);
        }
        EXPECT_EQ(entries, (std::vector<std::pair<std::wstring, DWORD>>{
                               {L"S-1-5-32-544", c.full}, {L"S-1-5-18", c.full}, {L"S-1-1-0", c.others}}));
    }
}

TEST(NamedMutex, SecondProcessCannotTakeAHeldLock)
{
    const std::wstring name = unique_name(L"lock");
    named_mutex lock(name, false, true);
    ASSERT_TRUE(lock.handle());
    EXPECT_FALSE(lock.owned());

    sync_helper_process holder(L"hold", name);
    ASSERT_TRUE(holder.wait_ready());
    EXPECT_FALSE(lock.try_lock());
    EXPECT_FALSE(lock.owned());
    EXPECT_EQ(holder.finish(), 0u);
    EXPECT_TRUE(lock.try_lock());
    EXPECT_TRUE(lock.owned());
}

TEST(NamedMutex, HelperCannotTakeTheLockWeHold)
{
    const std::wstring name = unique_name(L"lock");
    named_mutex lock(name, false, true);
    ASSERT_TRUE(lock.try_lock());
    sync_helper_process second(L"hold", name);
    EXPECT_EQ(second.finish(), 3u) << "the second program's try_lock must fail";
}

TEST(NamedMutex, AbandonedLockCountsAsTaken)
{
    const std::wstring name = unique_name(L"lock");
    named_mutex lock(name, false, true);
    {
        sync_helper_process crashed(L"abandon", name, false);
        ASSERT_TRUE(crashed.wait_ready());
        EXPECT_EQ(crashed.finish(), 0u);
    }
    EXPECT_TRUE(lock.try_lock());
}

TEST(NamedMutex, TryLockWhileOwnedTakesTheMutexOnce)
{
    const std::wstring name = unique_name(L"lock");
    // Keeps the mutex in existence after the owner's handle is closed.
    const named_mutex observer(name, false, true);
    {
        named_mutex lock(name, false, true);
        ASSERT_TRUE(lock.try_lock());
        EXPECT_TRUE(lock.try_lock());
        EXPECT_TRUE(lock.owned());
    }
    sync_helper_process next(L"hold", name);
    EXPECT_TRUE(next.wait_ready()) << "the mutex was left held after its owner went away";
    EXPECT_EQ(next.finish(), 0u);
}

TEST(NamedMutex, ReleasedLockCanBeTakenByOthersAndAgain)
{
    const std::wstring name = unique_name(L"lock");
    named_mutex lock(name, false, true);
    ASSERT_TRUE(lock.try_lock());
    lock.release();
    EXPECT_FALSE(lock.owned());
    {
        sync_helper_process other(L"hold", name);
        ASSERT_TRUE(other.wait_ready()) << "another program could not take the released lock";
        EXPECT_FALSE(lock.try_lock());
        EXPECT_EQ(other.finish(), 0u);
    }
    EXPECT_TRUE(lock.try_lock());
    EXPECT_TRUE(lock.owned());
    sync_helper_process after(L"hold", name);
    EXPECT_EQ(after.finish(), 3u) << "the lock taken again must be held";
}

TEST(NamedMutex, InitialOwnerWaitsForTheHolder)
{
    const std::wstring name = unique_name(L"lock");
    sync_helper_process holder(L"hold", name);
    ASSERT_TRUE(holder.wait_ready());

    bool owned = false;
    const kernel_handle constructed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread waiter([&] {
        named_mutex lock(name, true, true);
        owned = lock.owned();
        SetEvent(constructed.get());
    });
    EXPECT_EQ(WaitForSingleObject(constructed.get(), 200), DWORD{WAIT_TIMEOUT})
        << "the constructor returned while another process held the mutex";
    EXPECT_EQ(holder.finish(), 0u);
    waiter.join();
    EXPECT_TRUE(owned);
}

TEST(NamedMutex, LocalMutexWithoutGlobalName)
{
    const std::wstring name = unique_name(L"local");
    named_mutex first(name, true, false);
    EXPECT_TRUE(first.owned());
    const kernel_handle opened(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    EXPECT_TRUE(opened);
}

TEST(InstanceCounter, CountsTheOtherRunningProgram)
{
    const std::wstring name = unique_name(L"counter");
    instance_counter counter(name);
    EXPECT_EQ(counter.own_count(), 1);
    EXPECT_EQ(counter.running_count(), 1);
    {
        sync_helper_process other(L"count", name);
        ASSERT_TRUE(other.wait_ready());
        EXPECT_EQ(counter.running_count(), 2);
        EXPECT_EQ(counter.running_count(), 2) << "running_count changed the count";
        EXPECT_EQ(other.finish(), 0u);
    }
    EXPECT_EQ(counter.running_count(), 1) << "the other program gave its unit back at exit";
}

TEST(InstanceCounter, GivesItsUnitBackWhenDestroyed)
{
    const std::wstring name = unique_name(L"counter");
    instance_counter first(name);
    {
        instance_counter second(name);
        EXPECT_EQ(first.running_count(), 2);
    }
    EXPECT_EQ(first.running_count(), 1);
    const kernel_handle semaphore(OpenSemaphoreW(SYNCHRONIZE, FALSE, (L"Global\\" + name).c_str()));
    ASSERT_TRUE(semaphore);
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), DWORD{WAIT_OBJECT_0});
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), DWORD{WAIT_TIMEOUT}) << "one unit only, this process's own";
    ReleaseSemaphore(semaphore.get(), 1, nullptr);
}

TEST(InstanceCounter, WithoutSemaphoreCountsNothing)
{
    instance_counter broken(L"bad\\name\\with\\separators");
    EXPECT_EQ(broken.handle(), nullptr);
    EXPECT_EQ(broken.own_count(), 0);
    EXPECT_EQ(broken.running_count(), 0);
}

}
