#include "records/shell_link.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <system_error>
#include <thread>

#include <gtest/gtest.h>

#include "identity/product.h"
#include "platform/com.h"
#include "records/log_test_support.h"

namespace {

struct link_contents {
    std::wstring target;
    std::wstring working_folder;
    std::wstring arguments;
    std::wstring description;
    WORD hot_key = 0;
};

link_contents read_link(const std::wstring& file)
{
    com_apartment apartment;
    com_ptr<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IShellLinkW), link.put_void());
    if (FAILED(hr))
        throw_hresult(hr, "CoCreateInstance");
    com_ptr<IPersistFile> persist;
    if (FAILED(hr = link.query(persist)) || FAILED(hr = persist->Load(file.c_str(), STGM_READ)))
        throw_hresult(hr, "IPersistFile::Load");

    wchar_t text[MAX_PATH]{};
    link_contents contents;
    link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
    contents.target = text;
    text[0] = 0;
    link->GetWorkingDirectory(text, MAX_PATH);
    contents.working_folder = text;
    text[0] = 0;
    link->GetArguments(text, MAX_PATH);
    contents.arguments = text;
    text[0] = 0;
    link->GetDescription(text, MAX_PATH);
    contents.description = text;
    link->GetHotkey(&contents.hot_key);
    return contents;
}

void expect_thread_uninitialised()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(hr, S_OK) << "the thread was left in an apartment";
    if (SUCCEEDED(hr))
        CoUninitialize();
}

class shell_link_test : public ::testing::Test {
protected:
    scratch_folder scratch{L"shell-link"};
    std::wstring program = (scratch / L"Quillmar 3\\Quillmar.exe").wstring();
    std::wstring menu = (scratch / L"Menu").wstring();

    void SetUp() override
    {
        std::filesystem::create_directories(std::filesystem::path{program}.parent_path());
        write_bytes(program, "x");
        std::filesystem::create_directories(menu);
    }
};

}

TEST(shortcut_working_folder, is_the_target_text_up_to_its_last_separator)
{
    struct row {
        const wchar_t* target;
        const wchar_t* folder;
    };
    const row rows[] = {
        {L"C:\\Program Files\\Halden & Voss\\Quillmar 3\\Quillmar.exe",
         L"C:\\Program Files\\Halden & Voss\\Quillmar 3"},
        {L"C:\\Apps\\\\Quillmar.exe", L"C:\\Apps"},
        {L"C:/Apps/Quillmar.exe", L"C:/Apps"},
        {L"\\\\server\\share\\Quillmar.exe", L"\\\\server\\share"},
        {L"D:\\Quillmar.exe", L"D:\\"},
        {L"Quillmar.exe", L""},
    };
    for (const row& r : rows)
        EXPECT_EQ(shortcut_working_folder(r.target), r.folder) << r.target;
}

TEST(shortcut_file, joins_the_folder_and_appends_the_extension_as_text)
{
    struct row {
        const wchar_t* target;
        const wchar_t* folder;
        const wchar_t* name;
        const wchar_t* file;
    };
    const row rows[] = {
        {L"C:\\Q\\Quillmar.exe", L"C:\\Menu", L"Quillmar 3.05c", L"C:\\Menu\\Quillmar 3.05c.lnk"},
        {L"C:\\Q\\Quillmar.exe", L"C:\\Menu\\", L"Quillmar 3.05c", L"C:\\Menu\\Quillmar 3.05c.lnk"},
        {L"C:\\Q\\Quillmar.exe", L"C:\\Menu", L"", L"C:\\Menu\\Quillmar.lnk"},
        {L"C:\\Q\\a.b.exe", L"C:\\Menu", L"", L"C:\\Menu\\a.b.lnk"},
    };
    for (const row& r : rows)
        EXPECT_EQ(shortcut_file(r.target, r.folder, r.name), r.file) << r.target << L" " << r.name;
}

TEST_F(shell_link_test, writes_a_link_to_the_program_started_in_its_folder)
{
    std::wstring file = create_shortcut(program, menu, product_name(false));

    EXPECT_EQ(file, menu + L"\\Quillmar 3.05c.lnk");
    ASSERT_TRUE(std::filesystem::is_regular_file(file));
    link_contents link = read_link(file);
    EXPECT_EQ(lstrcmpiW(link.target.c_str(), program.c_str()), 0) << link.target;
    EXPECT_EQ(lstrcmpiW(link.working_folder.c_str(), (scratch / L"Quillmar 3").c_str()), 0)
        << link.working_folder;
    EXPECT_EQ(link.arguments, L"");
    EXPECT_EQ(link.description, L"");
    EXPECT_EQ(link.hot_key, 0);
    expect_thread_uninitialised();
}

TEST_F(shell_link_test, replaces_a_file_of_the_same_name)
{
    write_bytes(menu + L"\\Quillmar 3.05c.lnk", "not a link");

    std::wstring file = create_shortcut(program, menu, product_name(false));

    EXPECT_EQ(lstrcmpiW(read_link(file).target.c_str(), program.c_str()), 0);
}

TEST_F(shell_link_test, an_empty_name_takes_the_program_name)
{
    std::wstring file = create_shortcut(program, menu, L"");

    EXPECT_EQ(file, menu + L"\\Quillmar.lnk");
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
}

TEST_F(shell_link_test, a_folder_that_cannot_take_the_link_raises_the_hresult)
{
    std::wstring missing = (scratch / L"missing").wstring();
    try {
        create_shortcut(program, missing, product_name(false));
        FAIL() << "nothing was raised";
    }
    catch (const std::system_error& error) {
        EXPECT_EQ(error.code().category(), std::system_category());
        EXPECT_TRUE(FAILED(static_cast<HRESULT>(error.code().value())))
            << std::hex << error.code().value();
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    expect_thread_uninitialised();
}

TEST_F(shell_link_test, works_on_a_thread_of_the_multithreaded_apartment)
{
    std::thread thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_NO_THROW(create_shortcut(program, menu, product_name(false)));
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        EXPECT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
        EXPECT_EQ(type, APTTYPE_MTA);
        CoUninitialize();
    });
    thread.join();
    EXPECT_TRUE(std::filesystem::is_regular_file(menu + L"\\Quillmar 3.05c.lnk"));
}
