#include "platform/common_controls.h"

#include <system_error>

namespace {

template <class F>
void resolve(HMODULE module, const char* name, F*& function)
{
    function = reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!function)
        throw std::system_error(ERROR_PROC_NOT_FOUND, std::system_category(), name);
}

}

const common_controls_api& common_controls_api::instance()
{
    static const common_controls_api api = [] {
        const HMODULE module = LoadLibraryExW(L"comctl32.dll", nullptr, 0);
        if (!module)
            throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "comctl32.dll");
        common_controls_api loaded{};
        resolve(module, "InitCommonControlsEx", loaded.init_common_controls_ex);
        resolve(module, "ImageList_Create", loaded.image_list_create);
        resolve(module, "ImageList_Add", loaded.image_list_add);
        resolve(module, "ImageList_Destroy", loaded.image_list_destroy);
        resolve(module, "SetWindowSubclass", loaded.set_window_subclass);
        resolve(module, "RemoveWindowSubclass", loaded.remove_window_subclass);
        resolve(module, "DefSubclassProc", loaded.def_subclass_proc);
        return loaded;
    }();
    return api;
}
