// Owner of a kernel object handle (file, token, process, event...).
#pragma once

#include <windows.h>

#include <utility>

class kernel_handle {
public:
    kernel_handle() = default;

    // Takes ownership; INVALID_HANDLE_VALUE (what CreateFileW fails with) is
    // kept as "no handle".
    explicit kernel_handle(HANDLE handle) noexcept
        : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle)
    {
    }

    kernel_handle(kernel_handle&& other) noexcept : handle_(other.release()) {}

    kernel_handle& operator=(kernel_handle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }

    ~kernel_handle() { reset(); }

    HANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }

    // Closes the handle held and gives the address for a function that
    // returns a new one through an out-parameter.
    HANDLE* put() noexcept
    {
        reset();
        return &handle_;
    }

    [[nodiscard]] HANDLE release() noexcept { return std::exchange(handle_, nullptr); }

    void reset(HANDLE handle = nullptr) noexcept
    {
        if (handle == INVALID_HANDLE_VALUE)
            handle = nullptr;
        if (handle_)
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};
