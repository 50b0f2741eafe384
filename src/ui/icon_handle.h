// Owns one icon loaded by the program; destroys it at scope end.
#pragma once

#include <windows.h>

#include <utility>

class icon_handle {
public:
    icon_handle() = default;
    explicit icon_handle(HICON icon) noexcept : icon_(icon) {}
    icon_handle(icon_handle&& other) noexcept : icon_(std::exchange(other.icon_, nullptr)) {}
    icon_handle& operator=(icon_handle&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.icon_, nullptr));
        return *this;
    }
    icon_handle(const icon_handle&) = delete;
    icon_handle& operator=(const icon_handle&) = delete;
    ~icon_handle() { reset(); }

    HICON get() const noexcept { return icon_; }
    explicit operator bool() const noexcept { return icon_ != nullptr; }
    void reset(HICON icon = nullptr) noexcept
    {
        if (icon_)
            DestroyIcon(icon_);
        icon_ = icon;
    }

private:
    HICON icon_ = nullptr;
};

// An icon resource of `module` at the given size (0 x 0: the system's default size).
inline icon_handle load_icon(HMODULE module, int id, int width, int height)
{
    return icon_handle(static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, width, height, LR_DEFAULTCOLOR)));
}
