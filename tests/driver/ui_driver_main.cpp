// Command-line front of the UI driver: starts a program and runs steps on
// its dialogs, printing one line per step that reads something.
#include <windows.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "support/wine_paths.h"
#include "ui_driver.h"

namespace {

constexpr const wchar_t* usage =
    L"usage: ui_driver [--timeout MS] PROGRAM [ARGUMENT...] -- STEP...\n"
    L"steps (a control ID is looked for on the current dialog and all its pages,\n"
    L"a visible one first):\n"
    L"  dialog [CAPTION]   wait for the program's dialog; it becomes the current one\n"
    L"  caption            print the current dialog's caption\n"
    L"  text ID            print a control's text\n"
    L"  enabled ID         print 1 when the control is enabled, else 0\n"
    L"  checked ID         print the button's check state (0, 1, 2)\n"
    L"  focus              print the id of the control with the keyboard focus\n"
    L"  click ID           click a button\n"
    L"  type ID TEXT       type the text into an edit, replacing what it holds\n"
    L"  key KEY            press tab, shift+tab, enter, escape, space, up, down, left, right\n"
    L"                     or alt+LETTER in the current dialog\n"
    L"  items ID           print a combo box's items (ComboBoxEx too), one a line\n"
    L"  pick ID INDEX      select a combo box item\n"
    L"  syscommand N       choose command N of the dialog's system menu\n"
    L"  wait-text ID TEXT  wait until the control shows the text\n"
    L"  wait-enabled ID    wait until the control is enabled\n"
    L"  wait-disabled ID   wait until the control is disabled\n"
    L"  wait-checked ID N  wait until the button's check state is N\n"
    L"  wait-focus ID      wait until the control has the keyboard focus\n"
    L"  wait-closed        wait until the current dialog is gone\n"
    L"  screenshot FILE    save a BMP picture of the current dialog; print its size\n"
    L"                     and colour count (up to 256)\n"
    L"  box                wait for a message box and print its text\n"
    L"  answer BUTTON_ID   answer the message box\n"
    L"  exit               wait for the program to end and print its exit code\n"
    L"Every wait ends after the timeout (default 20000 ms); on a failed step the\n"
    L"program is ended and ui_driver exits with 1. Output is UTF-8.\n";

// Step names with the number of arguments each takes ("dialog" takes an
// optional one).
struct step_kind {
    const wchar_t* name;
    std::size_t arguments;
};
constexpr step_kind step_kinds[] = {
    {L"dialog", 0},       {L"caption", 0},      {L"text", 1},          {L"enabled", 1},
    {L"checked", 1},      {L"focus", 0},        {L"click", 1},         {L"type", 2},
    {L"key", 1},          {L"items", 1},        {L"pick", 2},          {L"syscommand", 1},
    {L"wait-text", 2},    {L"wait-enabled", 1}, {L"wait-disabled", 1}, {L"wait-checked", 2},
    {L"wait-focus", 1},   {L"wait-closed", 0},  {L"screenshot", 1},    {L"box", 0},
    {L"answer", 1},       {L"exit", 0},
};

const step_kind* find_step(const std::wstring& word)
{
    for (const auto& kind : step_kinds)
        if (word == kind.name)
            return &kind;
    return nullptr;
}

void print(const std::wstring& line)
{
    ui_driver::write_line(GetStdHandle(STD_OUTPUT_HANDLE), line);
}

void print_error(const std::wstring& line)
{
    try {
        ui_driver::write_line(GetStdHandle(STD_ERROR_HANDLE), line);
    }
    catch (const std::exception&) {
        // Nowhere left to tell; the exit code still says it.
    }
}

std::wstring widened(const std::string& text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    return result;
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
        const step_kind* kind = find_step(args[i]);
        if (!kind)
            throw ui_driver::driver_error("unknown step");
        const std::wstring step = kind->name;
        if (step == L"dialog") {
            bool captioned = i + 1 < args.size() && !find_step(args[i + 1]);
            dialog_ = ui_driver::wait_for_dialog(program_.id(), timeout_, captioned ? args[i + 1] : L"");
            return i + (captioned ? 2 : 1);
        }
        if (i + kind->arguments >= args.size())
            throw ui_driver::driver_error("the step is missing an argument");
        const std::wstring first = kind->arguments > 0 ? args[i + 1] : L"";
        const std::wstring second = kind->arguments > 1 ? args[i + 2] : L"";
        run(step, first, second);
        return i + 1 + kind->arguments;
    }

private:
    void run(const std::wstring& step, const std::wstring& first, const std::wstring& second)
    {
        using namespace ui_driver;
        if (step == L"exit") {
            auto code = program_.wait_for_exit(timeout_);
            if (!code)
                throw driver_error("the program did not end in time");
            print(L"exit " + std::to_wstring(static_cast<int>(*code)));
        }
        else if (step == L"box") {
            box_ = wait_for_message_box(program_.id(), current_dialog(), timeout_);
            print(L"box " + message_box_text(box_));
        }
        else if (step == L"answer") {
            if (!box_)
                throw driver_error("answer needs a box step before it");
            answer_message_box(box_, std::stoi(first));
            box_ = nullptr;
        }
        else if (step == L"caption") {
            print(L"caption " + text(current_dialog()));
        }
        else if (step == L"focus") {
            HWND focus = focused_control(current_dialog());
            print(L"focus " + std::to_wstring(focus ? GetDlgCtrlID(focus) : 0));
        }
        else if (step == L"key") {
            press(first);
        }
        else if (step == L"syscommand") {
            choose_system_command(current_dialog(), static_cast<UINT>(std::stoul(first)));
        }
        else if (step == L"wait-closed") {
            wait_for_close(current_dialog(), timeout_);
            dialog_ = nullptr;
        }
        else if (step == L"screenshot") {
            picture shot = capture_window(current_dialog());
            save_bmp(shot, test_support::windows_path(first));
            print(L"screenshot " + std::to_wstring(shot.width) + L"x" + std::to_wstring(shot.height) + L" colours "
                  + std::to_wstring(colour_count(shot)));
        }
        else {
            run_on_control(step, find_control(current_dialog(), std::stoi(first)), first, second);
        }
    }

    void run_on_control(const std::wstring& step, HWND control, const std::wstring& id, const std::wstring& second)
    {
        using namespace ui_driver;
        if (step == L"text")
            print(L"text " + id + L" " + text(control));
        else if (step == L"enabled")
            print(L"enabled " + id + L" " + (is_enabled(control) ? L"1" : L"0"));
        else if (step == L"checked")
            print(L"checked " + id + L" " + std::to_wstring(check_state(control)));
        else if (step == L"click")
            click(control);
        else if (step == L"type")
            type_text(control, second, timeout_);
        else if (step == L"items")
            for (const auto& item : combo_items(control))
                print(L"item " + id + L" " + item);
        else if (step == L"pick")
            pick_combo_item(control, std::stoi(second));
        else if (step == L"wait-text") {
            std::wstring shown = wait_for_text(control, second, timeout_);
            if (shown != second)
                throw driver_error("the control shows \"" + utf8(shown) + "\"");
        }
        else if (step == L"wait-enabled" || step == L"wait-disabled")
            wait_for_enabled(control, step == L"wait-enabled", timeout_);
        else if (step == L"wait-checked")
            wait_for_check(control, std::stoi(second), timeout_);
        else if (step == L"wait-focus")
            wait_for_focus(control, timeout_);
    }

    void press(const std::wstring& name)
    {
        using ui_driver::key;
        static const std::pair<const wchar_t*, key> keys[]{
            {L"tab", key::tab},     {L"shift+tab", key::shift_tab}, {L"enter", key::enter},
            {L"escape", key::escape}, {L"space", key::space},       {L"up", key::up},
            {L"down", key::down},   {L"left", key::left},           {L"right", key::right},
        };
        for (const auto& [key_name, pressed] : keys)
            if (name == key_name) {
                ui_driver::press_key(current_dialog(), pressed);
                return;
            }
        if (name.size() == 5 && name.compare(0, 4, L"alt+") == 0)
            ui_driver::press_alt(current_dialog(), name[4]);
        else
            throw ui_driver::driver_error("unknown key " + ui_driver::utf8(name));
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
        print_error(usage);
        return 2;
    }
    std::size_t separator = i;
    while (separator < args.size() && args[separator] != L"--")
        ++separator;
    if (i >= separator || separator == args.size()) {
        print_error(usage);
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
        print_error(L"ui_driver: step " + (step < args.size() ? args[step] : std::wstring(L"(start)")) + L" failed: "
                    + widened(error.what()));
        return 1;
    }
}
