// A test thread acting as a user without administrator rights.
#pragma once

#include "platform/kernel_handle.h"
#include "platform/security.h"

#include <windows.h>

namespace test_support {

// The test's thread runs on a copy of the process token in which the
// Administrators group only denies access, as for a user without rights.
class without_administrators {
public:
    without_administrators()
    {
        kernel_handle process_token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process_token.put()))
            return;
        const owned_sid administrators(sid_kind::administrators);
        SID_AND_ATTRIBUTES deny_only{administrators.get(), 0};
        kernel_handle restricted;
        kernel_handle impersonation;
        if (CreateRestrictedToken(process_token.get(), 0, 1, &deny_only, 0, nullptr, 0, nullptr, restricted.put()) &&
            DuplicateTokenEx(restricted.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenImpersonation,
                             impersonation.put()))
            active_ = SetThreadToken(nullptr, impersonation.get()) != FALSE;
    }
    ~without_administrators()
    {
        if (active_)
            RevertToSelf();
    }
    bool active() const { return active_; }

private:
    bool active_ = false;
};

}
