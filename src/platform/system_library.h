// System DLLs that are not among the loader's KnownDLLs: loaded at run time
// from the system folder only. An installer is started from download
// folders, where a DLL named like a system one may have been dropped; the
// loader would take that one for a static import or a plain LoadLibrary.
#pragma once

#include <windows.h>

#include <system_error>
#include <utility>

// Owner of a module loaded from the system folder; frees it on destruction.
class system_module {
public:
    system_module() = default;
    // Raises std::system_error (system category) when the system folder has
    // no such DLL.
    explicit system_module(const wchar_t* name);

    system_module(system_module&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
    system_module& operator=(system_module&& other) noexcept
    {
        if (this != &other) {
            reset();
            module_ = std::exchange(other.module_, nullptr);
        }
        return *this;
    }
    ~system_module() { reset(); }

    HMODULE get() const noexcept { return module_; }
    explicit operator bool() const noexcept { return module_ != nullptr; }

    // An exported function; raises std::system_error (ERROR_PROC_NOT_FOUND)
    // when the module lacks it.
    template <class F>
    F* function(const char* name) const
    {
        return reinterpret_cast<F*>(reinterpret_cast<void*>(address(name)));
    }

private:
    FARPROC address(const char* name) const;
    void reset() noexcept;

    HMODULE module_ = nullptr;
};

// Limits the loader's search for the rest of the process to the system
// folder (for LoadLibrary and for the imports of DLLs loaded later). Where
// the loader lacks that setting, the current folder is at least taken out
// of the search. Returns whether the search is limited to the system folder.
bool restrict_dll_search() noexcept;
