#include "platform/sync_objects.h"

#include "support/test_support.h"

#include <thread>

#include <fmt/xchar.h>
#include <gtest/gtest.h>

namespace {

constexpr DWORD wait_limit_ms = 30000;

// A name no other test process uses.
std::wstring unique_name(const wchar_t* what)
{
    static int serial = 0;
    return fmt::format(L"HvSyncTest.{}.{}.{}", GetCurrentProcessId(), ++serial, what);
}

// The helper program running as a second process, ended by the test at the
// latest when this object goes away.
class helper_process {
public:
    helper_process(const std::wstring& mode, const std::wstring& object_name, bool with_finish = true)
        : ready_name_(unique_name(L"ready")), finish_name_(unique_name(L"finish")),
          ready_(CreateEventW(nullptr, TRUE, FALSE, ready_name_.c_str())),
          finish_(CreateEventW(nullptr, TRUE, FALSE, finish_name_.c_str()))
    {
        const std::wstring program = test_support::build_file(L"tests\\platform\\sync_helper.exe");
        std::wstring command = L"\"" + program + L"\" " + mode + L" \"" + object_name + L"\" " + ready_name_;
        if (with_finish)
            command += L" " + finish_name_;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info)) {
            CloseHandle(info.hThread);
            process_.reset(info.hProcess);
        }
    }

    ~helper_process()
    {
        if (!process_)
            return;
        SetEvent(finish_.get());
        if (WaitForSingleObject(process_.get(), wait_limit_ms) != WAIT_OBJECT_0) {
            TerminateProcess(process_.get(), 0xDEAD);
            WaitForSingleObject(process_.get(), wait_limit_ms);
        }
    }

    // Whether the helper reports that it holds its object.
    bool wait_ready() const
    {
        const HANDLE both[] = {ready_.get(), process_.get()};
        return process_ && WaitForMultipleObjects(2, both, FALSE, wait_limit_ms) == WAIT_OBJECT_0;
    }

    // Lets the helper end and returns its exit code.
    DWORD finish()
    {
        SetEvent(finish_.get());
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(process_.get(), wait_limit_ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    std::wstring ready_name_;
    std::wstring finish_name_;
    kernel_handle ready_;
    kernel_handle finish_;
    kernel_handle process_;
};

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

TEST(NamedMutex, SecondProcessCannotTakeAHeldLock)
{
    const std::wstring name = unique_name(L"lock");
    named_mutex lock(name, false, true);
    ASSERT_TRUE(lock.handle());
    EXPECT_FALSE(lock.owned());

    helper_process holder(L"hold", name);
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
    helper_process second(L"hold", name);
    EXPECT_EQ(second.finish(), 3u) << "the second program's try_lock must fail";
}

TEST(NamedMutex, AbandonedLockCountsAsTaken)
{
    const std::wstring name = unique_name(L"lock");
    named_mutex lock(name, false, true);
    {
        helper_process crashed(L"abandon", name, false);
        ASSERT_TRUE(crashed.wait_ready());
        EXPECT_EQ(crashed.finish(), 0u);
    }
    EXPECT_TRUE(lock.try_lock());
}

TEST(NamedMutex, InitialOwnerWaitsForTheHolder)
{
    const std::wstring name = unique_name(L"lock");
    helper_process holder(L"hold", name);
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
        helper_process other(L"count", name);
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
