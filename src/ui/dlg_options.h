// The options page of an advanced installation: the installation folder and
// the two shortcuts.
#pragma once

#include "ui/basic_dialog.h"

#include <cstdint>
#include <string>

// A drive, a colon and a separator, or a server's root name ("\\server").
bool is_absolute_folder(const std::wstring& path);

// The path with "/" read as "\\", runs of separators collapsed, "." and
// "name\\.." removed, ".." right after the root dropped; "." when nothing is left.
std::wstring normalised_folder(const std::wstring& path);

// The folder a user typed: joined under `program_files` unless absolute,
// then lexically normalised ("/" read as "\", "." and "x\.." removed).
std::wstring typed_install_folder(const std::wstring& typed, const std::wstring& program_files);

class dlg_options : public basic_dialog {
public:
    static dlg_options& instance();

    std::wstring program_files;
    std::uint32_t edit_guard = 0;

    void update_texts() override;
    void on_init() override;
    void on_size(int width, int height) override;
    bool on_command(int id, int code) override;

private:
    // Writes the folder edit without taking the text back as typed input.
    void show_folder(const std::wstring& folder);
};
