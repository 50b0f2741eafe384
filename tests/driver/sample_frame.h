// A frame with two child pages, built like the installer's wizard: the
// frame's Back, Next and Exit buttons, a ComboBoxEx of languages whose
// greeting is Czech or Japanese, mnemonics, an edit that enables Next, an
// About command in the system menu and a question before leaving.
// Finish ends it with 60 + the language, plus 10 for the desktop shortcut
// and 20 for the Start menu shortcut; leaving ends it with 2.
#pragma once

#include <string>

#include "ui/basic_dialog.h"

class sample_frame;

class sample_page : public basic_dialog {
public:
    sample_frame* frame = nullptr;

    void update_texts() override {}
    void on_size(int, int) override {}
    void on_init() override;
    bool on_command(int id, int code) override;
};

class sample_frame : public basic_dialog {
public:
    sample_page language_page;
    sample_page folder_page;

    void update_texts() override {}
    void on_size(int, int) override {}
    void on_init() override;
    bool on_command(int id, int code) override;
    bool on_sys_command(int command) override;

    // Shows page 0 or 1 and sets the buttons for it.
    void show_page(int index);
    int current_page() const { return current_; }

    // Next is enabled on the folder page only while a folder is given.
    void update_next();

private:
    bool confirm_leaving();
    int current_ = 0;
};

// The greeting of a language index of the sample's combo box.
std::wstring sample_greeting(int language);
