// The end page (placeholder until the installation sequence lands).
#pragma once

#include "ui/basic_dialog.h"

class dlg_end : public basic_dialog {
public:
    static dlg_end& instance();

    void update_texts() override {}
    void on_size(int, int) override {}
    void show_final_text() {}
};
