// Owns one bitmap loaded by the program; deletes it at scope end.
#pragma once

#include <windows.h>

#include <utility>

class bitmap_handle {
public:
    bitmap_handle() = default;
    explicit bitmap_handle(HBITMAP bitmap) noexcept : bitmap_(bitmap) {}
    bitmap_handle(bitmap_handle&& other) noexcept : bitmap_(std::exchange(other.bitmap_, nullptr)) {}
    bitmap_handle& operator=(bitmap_handle&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.bitmap_, nullptr));
        return *this;
    }
    bitmap_handle(const bitmap_handle&) = delete;
    bitmap_handle& operator=(const bitmap_handle&) = delete;
    ~bitmap_handle() { reset(); }

    HBITMAP get() const noexcept { return bitmap_; }
    explicit operator bool() const noexcept { return bitmap_ != nullptr; }
    void reset(HBITMAP bitmap = nullptr) noexcept
    {
        if (bitmap_)
            DeleteObject(bitmap_);
        bitmap_ = bitmap;
    }

private:
    HBITMAP bitmap_ = nullptr;
};
