// The start page: the language list with flags, the copyright line and what
// the installer is about to do.
#pragma once

#include "ui/basic_dialog.h"

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

// The situation and status texts of the start page for a state of an
// existing installation.
struct start_texts {
    std::wstring situation;
    std::wstring status;
};
start_texts start_texts_for(std::int32_t existing_state, const std::wstring& existing_name);

// The user picked a language of the list: it becomes the product's (and,
// when it has installer texts, the installer's) language, and the whole
// wizard takes up its texts.
void select_ui_language(int index, HWND page);

class dlg_start : public basic_dialog {
public:
    static dlg_start& instance();

    HIMAGELIST image_list = nullptr;

    void update_texts() override;
    void on_init() override;
    void on_destroy() override;
    // Draws the list's flags for the DPI: 18 x 12 pixels at 96 DPI, in
    // proportion at any other. Returns each language's image, in list order
    // (-1 for a flag that did not load).
    std::vector<int> show_flags(UINT dpi);
    void on_size(int width, int height) override;
    bool on_command(int id, int code) override;
};
