#include "ui_driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/kernel_handle.h"

namespace ui_driver {

namespace {

constexpr UINT answer_wait_ms = 5000;
constexpr milliseconds poll_interval(20);

using clock = std::chrono::steady_clock;

[[noreturn]] void throw_last_error(const std::string& what)
{
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
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

// The window's text, or nothing when it does not answer in time; for the
// enumeration callbacks, which no exception may leave.
std::optional<std::wstring> text_if_answered(HWND window) noexcept
{
    try {
        return text(window);
    }
    catch (const std::exception&) {
        return std::nullopt;
    }
}

// Polls `done` until it holds or the timeout passes; returns whether it held.
template <typename Condition>
bool wait_until(Condition done, milliseconds timeout)
{
    auto deadline = clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(poll_interval);
    }
}

std::wstring class_name(HWND window)
{
    wchar_t name[64]{};
    GetClassNameW(window, name, 64);
    return name;
}

bool is_dialog(HWND window)
{
    return class_name(window) == L"#32770";
}

bool is_combo_box_ex(HWND window)
{
    return _wcsicmp(class_name(window).c_str(), WC_COMBOBOXEXW) == 0;
}

DWORD process_of(HWND window)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner;
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
    if (process_of(window) != search.process_id || window == search.except || !IsWindowVisible(window)
        || !IsWindowEnabled(window) || !is_dialog(window))
        return TRUE;
    // A window busy elsewhere is looked at again on the next round.
    if (!search.caption->empty() && text_if_answered(window) != *search.caption)
        return TRUE;
    search.found = window;
    return FALSE;
}

struct control_search {
    int id;
    HWND visible = nullptr;
    HWND hidden = nullptr;
};

BOOL CALLBACK match_control(HWND window, LPARAM parameter)
{
    auto& search = *reinterpret_cast<control_search*>(parameter);
    if (GetDlgCtrlID(window) != search.id)
        return TRUE;
    if (IsWindowVisible(window)) {
        search.visible = window;
        return FALSE;
    }
    if (!search.hidden)
        search.hidden = window;
    return TRUE;
}

struct static_texts {
    std::wstring joined;
};

BOOL CALLBACK collect_static_text(HWND window, LPARAM parameter)
{
    auto& texts = *reinterpret_cast<static_texts*>(parameter);
    if (_wcsicmp(class_name(window).c_str(), L"Static") == 0) {
        std::wstring part = text_if_answered(window).value_or(L"");
        if (!part.empty())
            texts.joined += texts.joined.empty() ? part : L"\n" + part;
    }
    return TRUE;
}

// Memory in the process that owns a window, for messages whose structures
// hold pointers the system does not carry across processes.
class remote_memory {
public:
    remote_memory(HWND window, std::size_t size)
        : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               process_of(window))),
          size_(size)
    {
        if (!process_)
            throw_last_error("cannot open the window's process");
        address_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!address_)
            throw_last_error("cannot reserve memory in the window's process");
    }
    remote_memory(const remote_memory&) = delete;
    remote_memory& operator=(const remote_memory&) = delete;
    ~remote_memory() { VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE); }

    void* address() const { return address_; }

    void write(std::size_t offset, const void* data, std::size_t size)
    {
        if (offset + size > size_ || !WriteProcessMemory(process_.get(), at(offset), data, size, nullptr))
            throw_last_error("cannot write to the window's process");
    }

    void read(std::size_t offset, void* data, std::size_t size) const
    {
        if (offset + size > size_ || !ReadProcessMemory(process_.get(), at(offset), data, size, nullptr))
            throw_last_error("cannot read from the window's process");
    }

private:
    void* at(std::size_t offset) const { return static_cast<char*>(address_) + offset; }

    kernel_handle process_;
    std::size_t size_;
    void* address_ = nullptr;
};

// A ComboBoxEx keeps its items' texts itself; CB_GETLBTEXT does not reach them.
std::wstring combo_box_ex_item(HWND combo, int index)
{
    constexpr std::size_t capacity = 1024;
    remote_memory memory(combo, sizeof(COMBOBOXEXITEMW) + capacity * sizeof(wchar_t));
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT;
    item.iItem = index;
    item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(memory.address()) + sizeof item);
    item.cchTextMax = capacity;
    memory.write(0, &item, sizeof item);
    const wchar_t nothing = 0;
    memory.write(sizeof item, &nothing, sizeof nothing);
    if (!ask(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory.address())))
        throw driver_error("the combo box has no item " + std::to_string(index));
    std::wstring result(capacity, L'\0');
    memory.read(sizeof item, result.data(), capacity * sizeof(wchar_t));
    result.back() = L'\0';
    result.resize(std::wcslen(result.c_str()));
    return result;
}

void post(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (!PostMessageW(window, message, wparam, lparam))
        throw_last_error("cannot post a message to the window");
}

// The window a key press reaches: the focused control inside `window`, else `window`.
HWND key_target(HWND window)
{
    HWND focus = focused_control(window);
    return focus && (focus == window || IsChild(window, focus)) ? focus : window;
}

LPARAM key_data(UINT virtual_key, bool release)
{
    auto scan = static_cast<LPARAM>(MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC));
    LPARAM data = 1 | (scan << 16);
    if (release)
        data |= (LPARAM(1) << 30) | (LPARAM(1) << 31);
    return data;
}

struct bitmap_headers {
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
};

std::size_t bmp_row_bytes(int width)
{
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t(3);
}

kernel_handle open_file(const std::wstring& path, DWORD access, DWORD disposition)
{
    kernel_handle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw_last_error("cannot open " + utf8(path));
    return file;
}

}

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}

void write_line(HANDLE output, const std::wstring& line)
{
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(output, &mode)) {
        std::wstring text = line + L"\n";
        if (!WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
            throw_last_error("cannot write to the console");
        return;
    }
    std::string bytes = utf8(line + L"\n");
    if (!WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
        || written != bytes.size())
        throw_last_error("cannot write the output");
}

process::process(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring command_line = L"\"" + program + L"\"";
    if (!arguments.empty())
        command_line += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Wine on a heavily loaded machine now and then fails a start with
    // ERROR_INTERNAL_ERROR before the program runs at all; a second try starts it.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info))
            break;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3)
            throw_last_error("cannot start " + utf8(program));
        Sleep(200);
    }
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    id_ = info.dwProcessId;
    thread_id_ = info.dwThreadId;
}

process::process(process&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), id_(std::exchange(other.id_, 0)),
      thread_id_(std::exchange(other.thread_id_, 0))
{
}

bool process::wait_for_input_idle(milliseconds timeout) const
{
    return WaitForInputIdle(handle_, static_cast<DWORD>(timeout.count())) == 0;
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
    HWND found = nullptr;
    auto appeared = [&] {
        dialog_search search{process_id, &caption, except};
        EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&search));
        found = search.found;
        return found != nullptr;
    };
    if (!wait_until(appeared, timeout))
        throw driver_error("no dialog " + utf8(caption) + " appeared within " + std::to_string(timeout.count())
                           + " ms");
    return found;
}

HWND wait_for_window(DWORD process_id, const std::wstring& window_class, milliseconds timeout)
{
    const auto deadline = clock::now() + timeout;
    do {
        HWND window = nullptr;
        while ((window = FindWindowExW(nullptr, window, window_class.c_str(), nullptr))) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == process_id && IsWindowVisible(window))
                return window;
        }
        Sleep(100);
    } while (clock::now() < deadline);
    return nullptr;
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

HWND find_control(HWND root, int id)
{
    control_search search{id};
    EnumChildWindows(root, match_control, reinterpret_cast<LPARAM>(&search));
    if (search.visible)
        return search.visible;
    if (search.hidden)
        return search.hidden;
    throw driver_error("no control " + std::to_string(id) + " below the window");
}

HWND visible_page(HWND frame)
{
    for (HWND child = GetWindow(frame, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && is_dialog(child))
            return child;
    throw driver_error("the frame shows no page");
}

HWND page_control(HWND frame, int id)
{
    return control(visible_page(frame), id);
}

HWND turn_page(HWND frame, int button, int marker, milliseconds timeout)
{
    const HWND before = visible_page(frame);
    click(control(frame, button));
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        for (HWND child = GetWindow(frame, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (child != before && IsWindowVisible(child) && is_dialog(child) && (!marker || GetDlgItem(child, marker)))
                return child;
        Sleep(20);
    } while (std::chrono::steady_clock::now() < deadline);
    throw driver_error("the frame did not turn to the expected page");
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
    std::wstring seen;
    wait_until([&] { return (seen = text(window)) == expected; }, timeout);
    return seen;
}

bool is_enabled(HWND window)
{
    return IsWindowEnabled(window) != FALSE;
}

int check_state(HWND button)
{
    return static_cast<int>(ask(button, BM_GETCHECK, 0, 0));
}

void wait_for_enabled(HWND window, bool enabled, milliseconds timeout)
{
    if (!wait_until([&] { return is_enabled(window) == enabled; }, timeout))
        throw driver_error(std::string("the control did not become ") + (enabled ? "enabled" : "disabled")
                           + " within " + std::to_string(timeout.count()) + " ms");
}

void wait_for_check(HWND button, int state, milliseconds timeout)
{
    if (!wait_until([&] { return check_state(button) == state; }, timeout))
        throw driver_error("the button's check state did not become " + std::to_string(state) + " within "
                           + std::to_string(timeout.count()) + " ms");
}

void wait_for_visible(HWND window, bool visible, milliseconds timeout)
{
    if (!wait_until([&] { return (IsWindowVisible(window) != FALSE) == visible; }, timeout))
        throw driver_error(std::string("the window did not become ") + (visible ? "visible" : "hidden") + " within "
                           + std::to_string(timeout.count()) + " ms");
}

void wait_for_close(HWND window, milliseconds timeout)
{
    if (!wait_until([&] { return !IsWindow(window); }, timeout))
        throw driver_error("the window did not close within " + std::to_string(timeout.count()) + " ms");
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

void type_text(HWND edit, const std::wstring& typed, milliseconds timeout)
{
    if (!is_enabled(edit))
        throw driver_error("cannot type into a disabled control");
    // Typing replaces the selection, so select everything first; nothing
    // typed is a Backspace on the selection.
    ask(edit, EM_SETSEL, 0, -1);
    if (typed.empty())
        post(edit, WM_CHAR, VK_BACK, 1);
    for (wchar_t c : typed)
        post(edit, WM_CHAR, c, 1);
    std::wstring shown = wait_for_text(edit, typed, timeout);
    if (shown != typed)
        throw driver_error("the edit shows \"" + utf8(shown) + "\" instead of the typed \"" + utf8(typed) + "\"");
}

namespace {

UINT virtual_key_of(key pressed)
{
    constexpr std::pair<key, UINT> keys[]{
        {key::tab, VK_TAB},     {key::shift_tab, VK_TAB}, {key::enter, VK_RETURN}, {key::escape, VK_ESCAPE},
        {key::space, VK_SPACE}, {key::up, VK_UP},         {key::down, VK_DOWN},    {key::left, VK_LEFT},
        {key::right, VK_RIGHT},
    };
    for (const auto& [each, virtual_key] : keys)
        if (each == pressed)
            return virtual_key;
    throw driver_error("unknown key");
}

// Shift held down for the window's thread while it exists. A posted key
// carries no Shift: the dialog manager and the edit control ask GetKeyState,
// which reads the keyboard state of the thread's input. Attached to that
// input, this thread shares it and sets Shift there; the state before is put
// back and the input detached at scope end.
class shift_held {
public:
    explicit shift_held(HWND window)
        : own_(GetCurrentThreadId()), target_(GetWindowThreadProcessId(window, nullptr))
    {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE); // this thread's queue, which the attachment needs
        if (!target_ || !AttachThreadInput(own_, target_, TRUE))
            throw_last_error("cannot attach to the window's input");
        if (!GetKeyboardState(before_)) {
            AttachThreadInput(own_, target_, FALSE);
            throw_last_error("cannot read the keyboard state");
        }
        BYTE held[256];
        std::memcpy(held, before_, sizeof held);
        held[VK_SHIFT] = held[VK_LSHIFT] = 0x80;
        if (!SetKeyboardState(held)) {
            AttachThreadInput(own_, target_, FALSE);
            throw_last_error("cannot hold Shift");
        }
    }
    shift_held(const shift_held&) = delete;
    shift_held& operator=(const shift_held&) = delete;
    ~shift_held()
    {
        SetKeyboardState(before_);
        AttachThreadInput(own_, target_, FALSE);
    }

private:
    DWORD own_;
    DWORD target_;
    BYTE before_[256]{};
};

}

void press_key(HWND window, key pressed)
{
    const UINT virtual_key = virtual_key_of(pressed);
    HWND target = key_target(window);
    if (pressed != key::shift_tab) {
        post(target, WM_KEYDOWN, virtual_key, key_data(virtual_key, false));
        post(target, WM_KEYUP, virtual_key, key_data(virtual_key, true));
        return;
    }
    // Shift stays down until the program has handled the Tab, which moves the focus.
    const HWND before = focused_control(window);
    const shift_held shift(window);
    post(target, WM_KEYDOWN, virtual_key, key_data(virtual_key, false));
    post(target, WM_KEYUP, virtual_key, key_data(virtual_key, true));
    if (!wait_until([&] { return focused_control(window) != before; }, milliseconds(answer_wait_ms)))
        throw driver_error("Shift+Tab did not move the focus within " + std::to_string(answer_wait_ms) + " ms");
}

void press_alt(HWND window, wchar_t letter)
{
    // What the keyboard layout makes of Alt held with the letter's key.
    constexpr LPARAM alt_down = LPARAM(1) << 29;
    UINT virtual_key = static_cast<UINT>(VkKeyScanW(letter) & 0xFF);
    post(key_target(window), WM_SYSCHAR, letter, key_data(virtual_key, false) | alt_down);
}

HWND focused_control(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (!thread || !GetGUIThreadInfo(thread, &info))
        return nullptr;
    return info.hwndFocus;
}

void wait_for_focus(HWND control, milliseconds timeout)
{
    if (!wait_until([&] { return focused_control(control) == control; }, timeout))
        throw driver_error("control " + std::to_string(GetDlgCtrlID(control)) + " did not get the focus within "
                           + std::to_string(timeout.count()) + " ms");
}

std::wstring combo_item(HWND combo, int index)
{
    if (is_combo_box_ex(combo))
        return combo_box_ex_item(combo, index);
    auto length = ask(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR)
        throw driver_error("the combo box has no item " + std::to_string(index));
    std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
    auto copied = ask(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.data()));
    item.resize(copied == CB_ERR ? 0 : static_cast<std::size_t>(copied));
    return item;
}

std::vector<std::wstring> combo_items(HWND combo)
{
    std::vector<std::wstring> items;
    auto count = static_cast<int>(ask(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        items.push_back(combo_item(combo, i));
    return items;
}

int combo_selection(HWND combo)
{
    return static_cast<int>(ask(combo, CB_GETCURSEL, 0, 0));
}

void pick_combo_item(HWND combo, int index)
{
    if (index < 0 || ask(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == CB_ERR)
        throw driver_error("the combo box has no item " + std::to_string(index));
    ask(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
        reinterpret_cast<LPARAM>(combo));
}

void choose_system_command(HWND window, UINT command)
{
    // Another program's menu cannot always be read (Wine keeps menus per
    // process); when it can, a missing or greyed item is refused as a user
    // could not choose it.
    if (HMENU menu = GetSystemMenu(window, FALSE)) {
        UINT state = GetMenuState(menu, command, MF_BYCOMMAND);
        if (state == static_cast<UINT>(-1))
            throw driver_error("the system menu has no command " + std::to_string(command));
        if (state & (MF_GRAYED | MF_DISABLED))
            throw driver_error("system menu command " + std::to_string(command) + " is disabled");
    }
    post(window, WM_SYSCOMMAND, command, 0);
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

picture capture_window(HWND window)
{
    RECT rect{};
    if (!GetWindowRect(window, &rect))
        throw_last_error("cannot read the window's rectangle");
    picture shot;
    shot.width = rect.right - rect.left;
    shot.height = rect.bottom - rect.top;
    if (shot.width <= 0 || shot.height <= 0)
        throw driver_error("the window has no area");

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = shot.width;
    info.bmiHeader.biHeight = -shot.height; // rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool drawn = false;
    if (memory && bitmap) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (process_of(window) == GetCurrentProcessId()) {
            // What the window and its children last painted, whatever covers it.
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
            HDC source = GetWindowDC(window);
            drawn = source && BitBlt(memory, 0, 0, shot.width, shot.height, source, 0, 0, SRCCOPY);
            if (source)
                ReleaseDC(window, source);
        }
        else {
            drawn = BitBlt(memory, 0, 0, shot.width, shot.height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
        }
        GdiFlush();
        if (drawn) {
            const auto* pixels = static_cast<const std::uint32_t*>(bits);
            shot.pixels.assign(pixels, pixels + static_cast<std::size_t>(shot.width) * shot.height);
            for (auto& pixel : shot.pixels)
                pixel &= 0x00FFFFFF;
        }
        SelectObject(memory, previous);
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!drawn)
        throw driver_error("cannot take a picture of the window");
    return shot;
}

std::size_t colour_count(const picture& shot, std::size_t limit)
{
    std::set<std::uint32_t> colours;
    for (auto pixel : shot.pixels) {
        colours.insert(pixel);
        if (colours.size() >= limit)
            break;
    }
    return colours.size();
}

void save_bmp(const picture& shot, const std::wstring& path)
{
    if (shot.width <= 0 || shot.height <= 0
        || shot.pixels.size() != static_cast<std::size_t>(shot.width) * shot.height)
        throw driver_error("the picture has no pixels");
    std::size_t row_bytes = bmp_row_bytes(shot.width);
    std::vector<std::uint8_t> rows(row_bytes * shot.height);
    for (int y = 0; y < shot.height; ++y) {
        // A BMP stores the bottom row first.
        std::uint8_t* row = rows.data() + row_bytes * (shot.height - 1 - y);
        for (int x = 0; x < shot.width; ++x) {
            std::uint32_t pixel = shot.pixels[static_cast<std::size_t>(y) * shot.width + x];
            row[x * 3] = static_cast<std::uint8_t>(pixel);
            row[x * 3 + 1] = static_cast<std::uint8_t>(pixel >> 8);
            row[x * 3 + 2] = static_cast<std::uint8_t>(pixel >> 16);
        }
    }
    bitmap_headers headers{};
    headers.file.bfType = 0x4D42; // "BM"
    headers.file.bfOffBits = sizeof headers.file + sizeof headers.info;
    headers.file.bfSize = static_cast<DWORD>(headers.file.bfOffBits + rows.size());
    headers.info.biSize = sizeof headers.info;
    headers.info.biWidth = shot.width;
    headers.info.biHeight = shot.height;
    headers.info.biPlanes = 1;
    headers.info.biBitCount = 24;
    headers.info.biCompression = BI_RGB;
    headers.info.biSizeImage = static_cast<DWORD>(rows.size());

    std::wstring partial = path + L".partial";
    {
        kernel_handle file = open_file(partial, GENERIC_WRITE, CREATE_ALWAYS);
        DWORD written = 0;
        bool complete = WriteFile(file.get(), &headers.file, sizeof headers.file, &written, nullptr)
                        && WriteFile(file.get(), &headers.info, sizeof headers.info, &written, nullptr)
                        && WriteFile(file.get(), rows.data(), static_cast<DWORD>(rows.size()), &written, nullptr)
                        && written == rows.size();
        if (!complete) {
            DWORD error = GetLastError();
            file.reset();
            DeleteFileW(partial.c_str());
            throw std::system_error(static_cast<int>(error), std::system_category(), "cannot write " + utf8(path));
        }
    }
    if (!MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD error = GetLastError();
        DeleteFileW(partial.c_str());
        throw std::system_error(static_cast<int>(error), std::system_category(), "cannot write " + utf8(path));
    }
}

picture load_bmp(const std::wstring& path)
{
    kernel_handle file = open_file(path, GENERIC_READ, OPEN_EXISTING);
    bitmap_headers headers{};
    DWORD read = 0;
    if (!ReadFile(file.get(), &headers.file, sizeof headers.file, &read, nullptr) || read != sizeof headers.file
        || !ReadFile(file.get(), &headers.info, sizeof headers.info, &read, nullptr) || read != sizeof headers.info
        || headers.file.bfType != 0x4D42 || headers.info.biBitCount != 24 || headers.info.biCompression != BI_RGB
        || headers.info.biWidth <= 0 || headers.info.biHeight <= 0 || headers.info.biWidth > 16384
        || headers.info.biHeight > 16384)
        throw driver_error("not a 24-bit BMP picture: " + utf8(path));
    picture shot;
    shot.width = headers.info.biWidth;
    shot.height = headers.info.biHeight;
    std::size_t row_bytes = bmp_row_bytes(shot.width);
    std::vector<std::uint8_t> rows(row_bytes * shot.height);
    if (SetFilePointer(file.get(), static_cast<LONG>(headers.file.bfOffBits), nullptr, FILE_BEGIN)
            == INVALID_SET_FILE_POINTER
        || !ReadFile(file.get(), rows.data(), static_cast<DWORD>(rows.size()), &read, nullptr) || read != rows.size())
        throw driver_error("the BMP picture is cut short: " + utf8(path));
    shot.pixels.resize(static_cast<std::size_t>(shot.width) * shot.height);
    for (int y = 0; y < shot.height; ++y) {
        const std::uint8_t* row = rows.data() + row_bytes * (shot.height - 1 - y);
        for (int x = 0; x < shot.width; ++x)
            shot.pixels[static_cast<std::size_t>(y) * shot.width + x]
                = row[x * 3] | (row[x * 3 + 1] << 8) | (static_cast<std::uint32_t>(row[x * 3 + 2]) << 16);
    }
    return shot;
}

}
