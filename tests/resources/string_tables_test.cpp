// The installer's string tables, read back from the built executable: every
// language has the same blocks, and the UTF-8 sources became the intended UTF-16.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

const std::set<LANGID> table_languages = {
    0x040C, 0x0409, 0x0407, 0x0C0A, 0x0816, 0x0413, 0x0406, 0x041F, 0x0402,
    0x0418, 0x0804, 0x0410, 0x0405, 0x0414, 0x0408, 0x0415, 0x040D, 0x042A,
    0x0411, 0x040E, 0x081A, 0x0401, 0x0424, 0x0419, 0x041A};

const std::set<unsigned> text_blocks = {63, 64, 69, 70, 71, 72};

class string_tables : public testing::Test {
protected:
    void SetUp() override
    {
        std::wstring path = test_support::build_file(L"src\\Quillmar3Setup.exe");
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << GetLastError();
    }

    void TearDown() override
    {
        if (module)
            FreeLibrary(module);
    }

    // The entry of one id in the block of exactly that language.
    std::optional<std::wstring> entry(LANGID language, unsigned id) const
    {
        HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW((id >> 4) + 1), language);
        if (!found)
            return std::nullopt;
        auto data = static_cast<const wchar_t*>(LockResource(LoadResource(module, found)));
        const wchar_t* end = data + SizeofResource(module, found) / sizeof(wchar_t);
        for (unsigned skip = id & 15; skip > 0 && data < end; --skip)
            data += 1 + *data;
        if (data >= end || data + 1 + *data > end)
            return std::nullopt;
        return std::wstring(data + 1, *data);
    }

    HMODULE module = nullptr;
};

BOOL CALLBACK collect_block(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR blocks)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::set<unsigned>*>(blocks)->insert(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::set<LANGID>*>(languages)->insert(language);
    return TRUE;
}

TEST_F(string_tables, every_block_exists_in_exactly_the_table_languages)
{
    std::set<unsigned> blocks;
    ASSERT_TRUE(EnumResourceNamesW(module, RT_STRING, collect_block, reinterpret_cast<LONG_PTR>(&blocks)));
    EXPECT_EQ(blocks, text_blocks);

    for (unsigned block : text_blocks) {
        std::set<LANGID> languages;
        EXPECT_TRUE(EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(block), collect_language,
                                           reinterpret_cast<LONG_PTR>(&languages)));
        EXPECT_EQ(languages, table_languages) << "block " << block;
    }
}

struct text_case {
    LANGID language;
    unsigned id;
    const wchar_t* expected;
};

// Escapes rather than literal characters, so the expectation does not depend
// on how this file itself is decoded.
const text_case text_cases[] = {
    {0x0409, 1014, L"Select Installation Langage"},
    {0x0409, 1110, L"Installation is not complete.\n\nDo you still confirm exit Installation ?"},
    {0x0409, 1115, L"Copying File \"{0}\"..."},
    {0x0409, 1123, L"Installation Folder: \"{0}\"."},
    {0x0409, 1116, L""},
    {0x040C, 1012, L"\u00c9chec"},
    {0x0405, 1006, L"Dal\u0161\u00ed"},
    {0x0405, 1007, L"#"},
    {0x0405, 1115, L"Kop\u00edrov\u00e1n\u00ed souboru \u201e{0}\u201c..."},
    {0x0418, 1004, L"Ie\u0219ire"},
    {0x0401, 1013, L"\u062e\u0637\u0623"},
    {0x0411, 1013, L"\u30a8\u30e9\u30fc"},
    {0x0411, 1000, L"#"},
    {0x0804, 1013, L"\u9519\u8bef"},
};

TEST_F(string_tables, texts_decode_to_the_intended_utf16)
{
    for (const auto& c : text_cases) {
        auto text = entry(c.language, c.id);
        ASSERT_TRUE(text) << std::hex << c.language << std::dec << " " << c.id;
        EXPECT_EQ(*text, c.expected) << std::hex << c.language << std::dec << " " << c.id;
    }
}

}

// An icon image stored as PNG is documented as 8-bit RGBA only; Wine skips
// another depth with a warning, and Windows may show nothing at that size.
TEST_F(string_tables, icon_images_stored_as_png_are_eight_bit_rgba)
{
    std::vector<std::wstring> names;
    EnumResourceNamesW(
        module, RT_ICON,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
            reinterpret_cast<std::vector<std::wstring>*>(found)->push_back(
                IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<std::uintptr_t>(name)) : name);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&names));
    ASSERT_FALSE(names.empty());
    int png_images = 0;
    for (const std::wstring& name : names) {
        HRSRC found = FindResourceW(module, name.c_str(), RT_ICON);
        ASSERT_NE(found, nullptr);
        const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
        const DWORD size = SizeofResource(module, found);
        static constexpr unsigned char png_signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (size < 26 || !std::equal(std::begin(png_signature), std::end(png_signature), bytes))
            continue;
        ++png_images;
        EXPECT_EQ(bytes[24], 8) << "bit depth of icon " << std::string(name.begin(), name.end());
        EXPECT_EQ(bytes[25], 6) << "colour type of icon " << std::string(name.begin(), name.end());
    }
    EXPECT_GT(png_images, 0) << "the 256-pixel image is stored as PNG";
}
