// The common controls, loaded at run time once the loader's search has been
// limited, never imported: Wine resolves what comctl32 loads later (uxtheme,
// msimg32) with the search in force when comctl32 itself was loaded, and an
// import is loaded before any code of the program could limit it. The
// manifest's side-by-side assembly still gives version 6.
#pragma once

#include <windows.h>
#include <commctrl.h>

struct common_controls_api {
    // Loaded on first use and kept; raises std::system_error when the
    // library or one of the functions is missing.
    static const common_controls_api& instance();

    decltype(&::InitCommonControlsEx) init_common_controls_ex;
    decltype(&::ImageList_Create) image_list_create;
    decltype(&::ImageList_Add) image_list_add;
    decltype(&::ImageList_Destroy) image_list_destroy;
    decltype(&::SetWindowSubclass) set_window_subclass;
    decltype(&::RemoveWindowSubclass) remove_window_subclass;
    decltype(&::DefSubclassProc) def_subclass_proc;
};
