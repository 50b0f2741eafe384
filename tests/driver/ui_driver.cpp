#include "ui_driver.h"

#include <system_error>
#include <thread>
#include <utility>

namespace ui_driver {

namespace {

constexpr UINT answer_wait_ms = 5000;
constexpr milliseconds poll_interval(20);

std::string narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
}

// Sends a message that the target answers at once; a target that does not
// answer in time is an error rather than a hang.
LRESULT ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, answer_wait_ms, &result))
        throw driver_error("the window did not answer message " + std::to_string(message));
    return static_cast<LRESULT>(result);
}

std::wstring class_name(HWND window)
{
    wchar_t name[64]{};
    GetClassNameW(window, name, 64);
    return name;
}

struct dialog_search {
    DWORD process_id;
    const std::wstring* caption;
    HWND except;
    HWND found = nullptr;
};

BOOL CALLBACK match_dialog(HWND window, LPARAM parameter)
{
    auto& search = *reinterpret_cast<dialog_search*>(parameter);
    DWORD owner_process = 0;
    GetWindowThreadProcessId(window, &owner_process);
    if (owner_process != search.process_id || window == search.except || !IsWindowVisible(window)
        || !IsWindowEnabled(window) || class_name(window) != L"#32770")
        return TRUE;
    if (!search.caption->empty() && text(window) != *search.caption)
        return TRUE;
    search.found = window;
    return FALSE;
}

struct static_texts {
    std::wstring joined;
};

BOOL CALLBACK collect_static_text(HWND window, LPARAM parameter)
{
    auto& texts = *reinterpret_cast<static_texts*>(parameter);
    if (_wcsicmp(class_name(window).c_str(), L"Static") == 0) {
        std::wstring part = text(window);
        if (!part.empty())
            texts.joined += texts.joined.empty() ? part : L"\n" + part;
    }
    return TRUE;
}

}

process::process(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring command_line = L"\"" + program + L"\"";
    if (!arguments.empty())
        command_line += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "cannot start " + narrow(program));
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    id_ = info.dwProcessId;
}

process::process(process&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), id_(std::exchange(other.id_, 0))
{
}

process::~process()
{
    if (!handle_)
        return;
    terminate();
    CloseHandle(handle_);
}

std::optional<DWORD> process::wait_for_exit(milliseconds timeout)
{
    if (WaitForSingleObject(handle_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(handle_, &code);
    return code;
}

void process::terminate()
{
    if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(handle_, 0xDEAD);
        WaitForSingleObject(handle_, 5000);
    }
}

HWND wait_for_dialog(DWORD process_id, milliseconds timeout, const std::wstring& caption, HWND except)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        dialog_search search{process_id, &caption, except};
        EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (std::chrono::steady_clock::now() >= deadline)
            throw driver_error("no dialog " + narrow(caption) + " appeared within "
                               + std::to_string(timeout.count()) + " ms");
        std::this_thread::sleep_for(poll_interval);
    }
}

HWND wait_for_message_box(DWORD process_id, HWND dialog, milliseconds timeout)
{
    return wait_for_dialog(process_id, timeout, {}, dialog);
}

HWND control(HWND dialog, int id)
{
    HWND window = GetDlgItem(dialog, id);
    if (!window)
        throw driver_error("the dialog has no control " + std::to_string(id));
    return window;
}

std::wstring text(HWND window)
{
    auto length = static_cast<std::size_t>(ask(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring result(length + 1, L'\0');
    auto copied = static_cast<std::size_t>(
        ask(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(result.data())));
    result.resize(copied < length ? copied : length);
    return result;
}

std::wstring wait_for_text(HWND window, const std::wstring& expected, milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::wstring seen = text(window);
        if (seen == expected || std::chrono::steady_clock::now() >= deadline)
            return seen;
        std::this_thread::sleep_for(poll_interval);
    }
}

bool is_enabled(HWND window)
{
    return IsWindowEnabled(window) != FALSE;
}

int check_state(HWND button)
{
    return static_cast<int>(ask(button, BM_GETCHECK, 0, 0));
}

bool click(HWND button, milliseconds wait)
{
    if (!is_enabled(button))
        throw driver_error("cannot click a disabled button");
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, static_cast<UINT>(wait.count()),
                            &result))
        return true;
    DWORD error = GetLastError();
    if (error == ERROR_TIMEOUT || error == 0)
        return false;
    // The program may end while it handles the click.
    if (!IsWindow(button))
        return true;
    throw std::system_error(static_cast<int>(error), std::system_category(), "BM_CLICK");
}

std::vector<std::wstring> combo_items(HWND combo)
{
    std::vector<std::wstring> items;
    auto count = static_cast<int>(ask(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        auto length = ask(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length == CB_ERR)
            throw driver_error("combo box item " + std::to_string(i) + " has no text");
        std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
        auto copied = ask(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
        item.resize(copied == CB_ERR ? 0 : static_cast<std::size_t>(copied));
        items.push_back(std::move(item));
    }
    return items;
}

int combo_selection(HWND combo)
{
    return static_cast<int>(ask(combo, CB_GETCURSEL, 0, 0));
}

void pick_combo_item(HWND combo, int index)
{
    if (ask(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == CB_ERR)
        throw driver_error("the combo box has no item " + std::to_string(index));
    ask(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
        reinterpret_cast<LPARAM>(combo));
}

std::wstring message_box_text(HWND box)
{
    if (HWND message = GetDlgItem(box, 0xFFFF))
        return text(message);
    static_texts texts;
    EnumChildWindows(box, collect_static_text, reinterpret_cast<LPARAM>(&texts));
    return texts.joined;
}

void answer_message_box(HWND box, int button_id)
{
    click(control(box, button_id));
}

}
