// Owners for the COM apartment of the calling thread and for interface
// pointers, and the error an HRESULT travels in.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

// Raises `hr` as a std::system_error of the system category.
[[noreturn]] void throw_hresult(HRESULT hr, const char* what);

// A single-threaded apartment for the current thread while the object lives.
// A thread already in another apartment keeps it (RPC_E_CHANGED_MODE); only
// an initialisation that succeeded is balanced by CoUninitialize.
class com_apartment {
public:
    com_apartment();
    com_apartment(com_apartment&& other) noexcept
        : initialised_(std::exchange(other.initialised_, false))
    {
    }
    com_apartment& operator=(com_apartment&& other) noexcept
    {
        if (this != &other) {
            reset();
            initialised_ = std::exchange(other.initialised_, false);
        }
        return *this;
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
    ~com_apartment() { reset(); }

    // Whether this object owes the thread a CoUninitialize.
    bool initialised() const noexcept { return initialised_; }

private:
    void reset() noexcept;

    bool initialised_ = false;
};

// Owns one reference to a COM interface.
template <class T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    explicit com_ptr(T* pointer) noexcept : pointer_(pointer) {}
    com_ptr(com_ptr&& other) noexcept : pointer_(other.release()) {}
    com_ptr& operator=(com_ptr&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { reset(); }

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    // Releases the reference held and gives the address for a function that
    // returns a new one through an out-parameter.
    T** put() noexcept
    {
        reset();
        return &pointer_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    [[nodiscard]] T* release() noexcept { return std::exchange(pointer_, nullptr); }
    void reset(T* pointer = nullptr) noexcept
    {
        if (pointer_)
            pointer_->Release();
        pointer_ = pointer;
    }

    // The object's interface U; an empty pointer and the HRESULT when the
    // object does not offer it.
    template <class U>
    HRESULT query(com_ptr<U>& out) const noexcept
    {
        return pointer_->QueryInterface(__uuidof(U), out.put_void());
    }

private:
    T* pointer_ = nullptr;
};
