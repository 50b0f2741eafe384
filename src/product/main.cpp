// The product's program: a window that says what it is and where its
// documents are, in the language chosen at installation; started by the
// installer with /Register for its self-registration.
#include <windows.h>
#include <shlobj.h>

#include <chrono>
#include <string>
#include <thread>

#include "identity/product.h"
#include "platform/language.h"
#include "platform/module_path.h"
#include "platform/string_table.h"
#include "platform/sync_objects.h"
#include "platform/version_info.h"
#include "product/command_line.h"
#include "product/product_ids.h"
#include "product/product_language.h"
#include "product/registration.h"

namespace {

// The installer releases the lock just before it starts the registration run.
constexpr auto lock_wait_limit = std::chrono::seconds(30);

bool take_lock(named_mutex& lock)
{
    const auto deadline = std::chrono::steady_clock::now() + lock_wait_limit;
    while (!lock.try_lock()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

std::wstring parent_folder(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring documents_folder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

struct window_content {
    std::wstring title;
    std::wstring lines;
};

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_SIZE:
        if (HWND text = GetDlgItem(window, IDC_PRODUCT_TEXT))
            MoveWindow(text, 16, 16, LOWORD(lparam) > 32 ? LOWORD(lparam) - 32 : 0,
                       HIWORD(lparam) > 32 ? HIWORD(lparam) - 32 : 0, TRUE);
        return 0;
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

int show_window(HINSTANCE instance, int show, const window_content& content)
{
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PRODUCT_ICON));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = L"HaldenVoss.Quillmar3";
    if (!RegisterClassExW(&window_class))
        return product_exit_normal;
    HWND window = CreateWindowExW(0, window_class.lpszClassName, content.title.c_str(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 560, 240, nullptr, nullptr, instance, nullptr);
    if (!window)
        return product_exit_normal;
    HWND text = CreateWindowExW(0, L"STATIC", content.lines.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                16, 16, 500, 160, window, reinterpret_cast<HMENU>(IDC_PRODUCT_TEXT), instance,
                                nullptr);
    SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return product_exit_normal;
}

int run(HINSTANCE instance, int show)
{
    const product_options options = parse_product_arguments(command_line_arguments(GetCommandLineW()));
    const std::wstring program = executable_path();
    const version_info own;
    const std::wstring application_id =
        application_id_from(own.string_value(L"ApplicationId"), own.product_name(), program);
    instance_counter::instance(instance_counter_name(application_id));
    named_mutex lock(installation_lock_name(application_id), false, true);

    if (options.register_only) {
        if (!options.valid)
            return product_exit_bad_command_line;
        if (!take_lock(lock))
            return product_exit_installation_running;
        try {
            register_product(program);
        }
        catch (const std::exception&) {
            return product_exit_registration_failed;
        }
        return product_exit_registered;
    }

    const product_texts texts(parent_folder(program), product_language());
    const std::wstring title = own.product_name() + L" " + own.product_version();
    if (!options.valid) {
        MessageBoxW(nullptr, texts.text(IDS_BAD_COMMAND_LINE).c_str(), title.c_str(), MB_ICONERROR);
        return product_exit_bad_command_line;
    }
    if (!lock.try_lock()) {
        const std::wstring text = format_text(texts.text(IDS_INSTALLATION_RUNNING), product_name(true));
        MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_ICONINFORMATION);
        return product_exit_installation_running;
    }
    lock.release();

    window_content content{title, title + L"\r\n" + texts.text(IDS_PRODUCT_DESCRIPTION) + L"\r\n\r\n" +
                                      texts.text(IDS_DOCUMENTS_FOLDER) + L"\r\n" + documents_folder()};
    if (!options.document.empty())
        content.lines += L"\r\n\r\n" + texts.text(IDS_OPENED_DOCUMENT) + L"\r\n" + options.document;
    return show_window(instance, show, content);
}

}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    try {
        return run(instance, show);
    }
    catch (...) {
        return product_exit_failure;
    }
}
