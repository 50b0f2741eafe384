// The mode page: a quick or an advanced installation.
#pragma once

#include "ui/basic_dialog.h"

class dlg_mode : public basic_dialog {
public:
    static dlg_mode& instance();

    void update_texts() override;
    void on_init() override;
    void on_size(int width, int height) override;
    bool on_command(int id, int code) override;
};
