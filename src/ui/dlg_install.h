// The install page: the summary of what is about to be installed, then the
// running log, progress bar and status line of the installation itself.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "engine/installation_view.h"
#include "ui/basic_dialog.h"

// How long the window's upkeep during an installation (serving the queue,
// adding to the log) waits after a round that took `cost`.
std::chrono::steady_clock::duration upkeep_pause(std::chrono::steady_clock::duration cost);

class dlg_install : public basic_dialog, public installation_view {
public:
    static dlg_install& instance();

    void update_texts() override;
    void on_init() override;
    void on_size(int width, int height) override;

    // Replaces the log with the summary of the chosen options.
    void show_summary();
    void append_log(const std::wstring& text) override;
    void set_status(const std::wstring& text) override;
    void set_progress(int percent) override;
    // The whole installation; true when the payload is in place. Never throws.
    bool do_installation();

    void show_progress() override;
    void pump() override;
    void begin_wait() override;
    void restore_wait() override;
    void end_wait() override;

private:
    HCURSOR wait_cursor_ = nullptr;
    HCURSOR previous_cursor_ = nullptr;
    // The frame whose dialog keys the pump serves, found once per installation.
    HWND root_ = nullptr;
    // Only a message handled since the cursor was set can have changed it.
    bool pumped_ = false;
    // When the queue may be served and the log added to again.
    std::chrono::steady_clock::time_point next_pump_;
    std::chrono::steady_clock::time_point next_log_;
    // Log text of an installation not yet in the window, and how many
    // additions it holds (each scrolls the log by a line).
    bool installing_ = false;
    std::wstring pending_log_;
    int pending_appends_ = 0;
    // The newest status and bar position not yet shown.
    std::optional<std::wstring> pending_status_;
    std::optional<int> pending_progress_;

    void add_to_log(const std::wstring& text, int lines);
    void flush_log();
    // Puts the newest status and bar position in the window.
    void show_pending_status();
};
