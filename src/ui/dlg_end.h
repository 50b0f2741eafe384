// The end page: the final text after a completed installation.
#pragma once

#include "ui/basic_dialog.h"

class dlg_end : public basic_dialog {
public:
    static dlg_end& instance();

    void update_texts() override;
    void on_size(int width, int height) override;

    void show_final_text();
};
