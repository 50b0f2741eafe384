// Command-line front of the UI driver: starts a program and runs steps on
// its dialogs, printing one line per step that reads something.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "support/wine_paths.h"
#include "ui_driver.h"

namespace {

constexpr const char* usage =
    "usage: ui_driver [--timeout MS] PROGRAM [ARGUMENT...] -- STEP...\n"
    "steps:\n"
    "  dialog [CAPTION]   wait for the program's dialog; it becomes the current one\n"
    "  caption            print the current dialog's caption\n"
    "  text ID            print a control's text\n"
    "  enabled ID         print 1 when the control is enabled, else 0\n"
    "  checked ID         print the button's check state (0, 1, 2)\n"
    "  click ID           click a button\n"
    "  items ID           print a combo box's items, one a line\n"
    "  pick ID INDEX      select a combo box item\n"
    "  box                wait for a message box and print its text\n"
    "  answer BUTTON_ID   answer the message box\n"
    "  exit               wait for the program to end and print its exit code\n"
    "Every wait ends after the timeout (default 20000 ms); on a failed step the\n"
    "program is ended and ui_driver exits with 1.\n";

void print(const std::wstring& line)
{
    std::printf("%ls\n", line.c_str());
    std::fflush(stdout);
}

class step_runner {
public:
    step_runner(ui_driver::process& program, ui_driver::milliseconds timeout)
        : program_(program), timeout_(timeout)
    {
    }

    // Runs the step starting at args[i]; returns the index after it.
    std::size_t run(const std::vector<std::wstring>& args, std::size_t i)
    {
        const std::wstring& step = args[i];
        auto argument = [&](std::size_t n) -> const std::wstring& {
            if (i + n >= args.size())
                throw ui_driver::driver_error("step is missing an argument");
            return args[i + n];
        };
        auto id = [&](std::size_t n) { return std::stoi(argument(n)); };

        if (step == L"dialog") {
            bool captioned = i + 1 < args.size() && !is_step(args[i + 1]);
            dialog_ = ui_driver::wait_for_dialog(program_.id(), timeout_, captioned ? args[i + 1] : L"");
            return i + (captioned ? 2 : 1);
        }
        if (step == L"exit") {
            auto code = program_.wait_for_exit(timeout_);
            if (!code)
                throw ui_driver::driver_error("the program did not end in time");
            print(L"exit " + std::to_wstring(static_cast<int>(*code)));
            return i + 1;
        }
        if (step == L"box") {
            box_ = ui_driver::wait_for_message_box(program_.id(), current_dialog(), timeout_);
            print(L"box " + ui_driver::message_box_text(box_));
            return i + 1;
        }
        if (step == L"answer") {
            if (!box_)
                throw ui_driver::driver_error("answer needs a box step before it");
            ui_driver::answer_message_box(box_, id(1));
            box_ = nullptr;
            return i + 2;
        }
        if (step == L"caption") {
            print(L"caption " + ui_driver::text(current_dialog()));
            return i + 1;
        }
        HWND control = ui_driver::control(current_dialog(), id(1));
        if (step == L"text") {
            print(L"text " + args[i + 1] + L" " + ui_driver::text(control));
            return i + 2;
        }
        if (step == L"enabled") {
            print(L"enabled " + args[i + 1] + L" " + (ui_driver::is_enabled(control) ? L"1" : L"0"));
            return i + 2;
        }
        if (step == L"checked") {
            print(L"checked " + args[i + 1] + L" " + std::to_wstring(ui_driver::check_state(control)));
            return i + 2;
        }
        if (step == L"click") {
            ui_driver::click(control);
            return i + 2;
        }
        if (step == L"items") {
            for (const auto& item : ui_driver::combo_items(control))
                print(L"item " + args[i + 1] + L" " + item);
            return i + 2;
        }
        if (step == L"pick") {
            ui_driver::pick_combo_item(control, id(2));
            return i + 3;
        }
        throw ui_driver::driver_error("unknown step");
    }

private:
    static bool is_step(const std::wstring& word)
    {
        for (auto name : {L"dialog", L"caption", L"text", L"enabled", L"checked", L"click", L"items",
                          L"pick", L"box", L"answer", L"exit"})
            if (word == name)
                return true;
        return false;
    }

    HWND current_dialog()
    {
        if (!dialog_ || !IsWindow(dialog_))
            throw ui_driver::driver_error("no current dialog: use the dialog step first");
        return dialog_;
    }

    ui_driver::process& program_;
    ui_driver::milliseconds timeout_;
    HWND dialog_ = nullptr;
    HWND box_ = nullptr;
};

}

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    std::size_t i = 0;
    ui_driver::milliseconds timeout(20000);
    try {
        if (i + 1 < args.size() && args[i] == L"--timeout") {
            timeout = ui_driver::milliseconds(std::stoi(args[i + 1]));
            i += 2;
        }
    }
    catch (const std::exception&) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::size_t separator = i;
    while (separator < args.size() && args[separator] != L"--")
        ++separator;
    if (i >= separator || separator == args.size()) {
        std::fputs(usage, stderr);
        return 2;
    }

    std::wstring arguments;
    for (std::size_t a = i + 1; a < separator; ++a)
        arguments += (arguments.empty() ? L"" : L" ") + (L"\"" + args[a] + L"\"");
    std::size_t step = separator + 1;
    try {
        ui_driver::process program(test_support::windows_path(args[i]), arguments);
        step_runner runner(program, timeout);
        while (step < args.size())
            step = runner.run(args, step);
        return 0;
    }
    catch (const std::exception& error) {
        std::fprintf(stderr, "ui_driver: step %ls failed: %s\n",
                     step < args.size() ? args[step].c_str() : L"(start)", error.what());
        return 1;
    }
}
