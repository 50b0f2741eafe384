// What an installation shows while it runs: the page implements it, tests
// record it. The engine reports only through this interface and never draws.
#pragma once

#include <string>

class installation_view {
public:
    virtual ~installation_view() = default;

    virtual void set_status(const std::wstring& text) = 0;
    // Text added at the end of the running log; a line ends only with "\r\n".
    virtual void append_log(const std::wstring& text) = 0;
    virtual void set_progress(int percent) = 0;
    // Resets the progress to 0 and makes it visible.
    virtual void show_progress() {}
    // Lets the window answer its pending messages between two steps.
    virtual void pump() {}
    // Chooses the wait cursor at the start, and sets it again after a pump.
    virtual void begin_wait() {}
    virtual void restore_wait() {}
    virtual void end_wait() {}
};
