#include "ui/folder_browser.h"

#include <system_error>

#include <gtest/gtest.h>

namespace {

std::wstring current_directory()
{
    wchar_t path[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, path);
    return path;
}

TEST(ChildFolder, AppendedWithoutRepeatingWhatThePathEndsWith)
{
    const struct {
        const wchar_t* path;
        const wchar_t* child;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\X", L"A\\B", L"C:\\X\\A\\B"},
        {L"C:\\X\\A", L"A\\B", L"C:\\X\\A\\B"},
        {L"C:\\X\\A\\B", L"A\\B", L"C:\\X\\A\\B"},
        {L"C:\\X\\a\\b", L"A\\B", L"C:\\X\\a\\b"},
        {L"C:\\X\\A\\", L"A\\B", L"C:\\X\\A\\B"},
        {L"C:\\XA", L"A\\B", L"C:\\XA\\A\\B"},
        {L"C:\\X\\B", L"A\\B", L"C:\\X\\B\\A\\B"},
        {L"C:\\", L"Quillmar 3", L"C:\\Quillmar 3"},
        {L"D:\\Apps", L"Quillmar 3", L"D:\\Apps\\Quillmar 3"},
        {L"C:\\Program Files\\Halden & Voss\\Quillmar 3", L"Quillmar 3",
         L"C:\\Program Files\\Halden & Voss\\Quillmar 3"},
        {L"C:\\X", L"", L"C:\\X"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(append_child_folder(c.path, c.child), c.expected) << c.path << " + " << c.child;
}

TEST(ChildFolder, RefusedRatherThanDroppedWhenTooLong)
{
    const std::wstring deep = L"C:\\" + std::wstring(250, L'd');
    EXPECT_EQ(append_child_folder(deep, L"Quill").size(), 259u) << "what fits is appended";
    for (const std::wstring& path : {deep, L"C:\\" + std::wstring(258, L'd')}) {
        try {
            const std::wstring result = append_child_folder(path, L"Quillmar 3");
            ADD_FAILURE() << "gave " << result.size() << " characters";
        }
        catch (const std::system_error& e) {
            EXPECT_EQ(e.code(), std::error_code(ERROR_FILENAME_EXCED_RANGE, std::system_category()));
        }
    }
    EXPECT_EQ(append_child_folder(deep + L"\\Quillmar 3", L"Quillmar 3"), deep + L"\\Quillmar 3")
        << "nothing to append";
}

TEST(ChildFolder, OnlyValidPathCharactersWithoutTrailingDots)
{
    const struct {
        const wchar_t* name;
        const wchar_t* expected;
    } cases[] = {
        {L"Quillmar 3", L"Quillmar 3"}, {L"A\\B", L"A\\B"}, {L"Name...", L"Name"}, {L"...", L""},
        {L"Quill*", L""},               {L"Quill?", L""},   {L"a|b", L""},         {L"a\"b", L""},
        {L"a<b", L""},                  {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(usable_child_folder(c.name), c.expected) << c.name;
}

TEST(TypedPath, ValidationAndQualification)
{
    const std::wstring here = current_directory();
    const std::wstring qualified_here = here.back() == L'\\' ? here : here + L'\\';
    const std::wstring long_text = L"C:\\" + std::wstring(256, L'a');
    ASSERT_EQ(long_text.size(), 259u);

    const struct {
        std::wstring typed;
        std::wstring path;
        DWORD error;
    } cases[] = {
        {L"C:\\Some Folder\\Not Yet", L"C:\\Some Folder\\Not Yet", 0},
        {L"  C:\\Some Folder\\  ", L"C:\\Some Folder", 0},
        {L"D:", L"D:\\", 0},
        {L"D:\\", L"D:\\", 0},
        {L"sub\\dir", qualified_here + L"sub\\dir", 0},
        {long_text, long_text, 0},
        {long_text + L"a", L"", 0x800700CE},
        {std::wstring(400, L'b'), L"", 0x800700CE},
        {L"C:\\Fold*", L"", ERROR_BAD_PATHNAME},
        {L"C:\\What?", L"", ERROR_BAD_PATHNAME},
        {L"C:\\a|b", L"", ERROR_BAD_PATHNAME},
        {L"C:\\a<b>", L"", ERROR_BAD_PATHNAME},
    };
    for (const auto& c : cases) {
        const auto result = validate_typed_path(c.typed);
        EXPECT_EQ(result.error, c.error) << std::hex << result.error << " for " << c.typed.size() << " chars";
        EXPECT_EQ(result.path, c.path);
    }
    const auto empty = validate_typed_path(L"   ");
    EXPECT_EQ(empty.error, 0u);
    EXPECT_EQ(empty.path, here);
}

}
