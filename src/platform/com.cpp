#include "platform/com.h"

#include <system_error>

void throw_hresult(HRESULT hr, const char* what)
{
    throw std::system_error(static_cast<int>(hr), std::system_category(), what);
}

com_apartment::com_apartment()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == RPC_E_CHANGED_MODE)
        return;
    if (FAILED(hr))
        throw_hresult(hr, "CoInitializeEx");
    // S_FALSE (already initialised on this thread) also takes a reference.
    initialised_ = true;
}

void com_apartment::reset() noexcept
{
    if (std::exchange(initialised_, false))
        CoUninitialize();
}
