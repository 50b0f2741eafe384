// A registry key of one test program's own under HKCU, deleted with
// everything below it at the end; optionally HKEY_LOCAL_MACHINE is
// redirected into it so code that writes or reads HKLM leaves the machine clean.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

class registry_sandbox {
public:
    explicit registry_sandbox(const wchar_t* name)
        : path_(std::wstring(L"Software\\Halden & Voss Test ") + name + L"-" +
                std::to_wstring(GetCurrentProcessId()))
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                         KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        if (status != ERROR_SUCCESS)
            ADD_FAILURE() << "cannot create the test key, error " << status;
    }
    registry_sandbox(const registry_sandbox&) = delete;
    registry_sandbox& operator=(const registry_sandbox&) = delete;
    ~registry_sandbox()
    {
        if (redirected_)
            RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (key_)
            RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
    }

    // The sandbox's path below HKEY_CURRENT_USER.
    const std::wstring& path() const { return path_; }
    HKEY key() const { return key_; }

    void redirect_local_machine()
    {
        LSTATUS status = RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_);
        ASSERT_EQ(status, ERROR_SUCCESS) << "RegOverridePredefKey";
        redirected_ = true;
    }

private:
    std::wstring path_;
    HKEY key_ = nullptr;
    bool redirected_ = false;
};
