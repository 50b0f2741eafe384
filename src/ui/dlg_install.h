// The install page (placeholder until the installation sequence lands).
#pragma once

#include <string>

#include "ui/basic_dialog.h"

class dlg_install : public basic_dialog {
public:
    static dlg_install& instance();

    void update_texts() override {}
    void on_size(int, int) override {}

    void show_summary() {}
    void append_log(const std::wstring&) {}
    void set_status(const std::wstring&) {}
    void set_progress(int) {}
    bool do_installation() { return false; }
};
