// The product's command line, its language libraries and its
// self-registration, in process with HKEY_LOCAL_MACHINE redirected.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "identity/product.h"
#include "platform/language.h"
#include "platform/registry.h"
#include "platform/version_info.h"
#include "product/command_line.h"
#include "product/product_ids.h"
#include "product/product_language.h"
#include "product/registration.h"
#include "support/registry_sandbox.h"
#include "support/registry_tree.h"
#include "support/test_support.h"

namespace {

TEST(product_command_line, switches_and_their_combinations)
{
    const struct {
        std::vector<std::wstring> arguments;
        bool valid;
        bool register_only;
        std::optional<std::uint64_t> update_from;
        std::wstring document;
    } cases[] = {
        {{}, true, false, {}, L""},
        {{L"/Register", L"/Background"}, true, true, {}, L""},
        {{L"/register", L"/BACKGROUND"}, true, true, {}, L""},
        {{L"/Register", L"/Background", L"/update=0003000500020009"}, true, true, 0x0003000500020009, L""},
        {{L"/Register", L"/Background", L"/update=000300050002000a"}, true, true, 0x000300050002000A, L""},
        {{L"C:\\Docs\\Letter.qmd"}, true, false, {}, L"C:\\Docs\\Letter.qmd"},
        // Malformed versions: too short, too long, not hexadecimal, empty, twice.
        {{L"/Register", L"/update=000300050002009"}, false, true, {}, L""},
        {{L"/Register", L"/update=00030005000200090"}, false, true, {}, L""},
        {{L"/Register", L"/update=000300050002000G"}, false, true, {}, L""},
        {{L"/Register", L"/update=0x03000500020009"}, false, true, {}, L""},
        {{L"/Register", L"/update="}, false, true, {}, L""},
        {{L"/Register", L"/update=0003000500020009", L"/update=0003000500020009"}, false, true, {}, L""},
        // Switches of the registration run without it, unknown switches, two documents.
        {{L"/Background"}, false, false, {}, L""},
        {{L"/update=0003000500020009"}, false, false, 0x0003000500020009, L""},
        {{L"/Unregister"}, false, false, {}, L""},
        {{L"a.qmd", L"b.qmd"}, false, false, {}, L"a.qmd"},
        {{L"/Register", L"a.qmd"}, false, true, {}, L"a.qmd"},
    };
    for (const auto& c : cases) {
        std::wstring line;
        for (const auto& a : c.arguments)
            line += a + L" ";
        SCOPED_TRACE(std::string(line.begin(), line.end()));
        const product_options options = parse_product_arguments(c.arguments);
        EXPECT_EQ(options.valid, c.valid);
        EXPECT_EQ(options.register_only, c.register_only);
        if (c.valid) {
            EXPECT_EQ(options.update_from, c.update_from);
        }
        EXPECT_EQ(options.document, c.document);
    }
}

TEST(product_command_line, splits_like_the_shell)
{
    EXPECT_EQ(command_line_arguments(L"\"C:\\Program Files\\Q\\Quillmar.exe\" /Register /Background"),
              (std::vector<std::wstring>{L"/Register", L"/Background"}));
    EXPECT_EQ(command_line_arguments(L"Quillmar.exe \"C:\\My Docs\\a.qmd\""),
              (std::vector<std::wstring>{L"C:\\My Docs\\a.qmd"}));
}

TEST(product_language, library_names)
{
    const struct {
        language_index index;
        const wchar_t* name;
    } cases[] = {
        {0, L""}, // French is the program's own language
        {1, L"Quillmar.en.dll"},  {2, L"Quillmar.de.dll"},  {3, L"Quillmar.es.dll"},
        {4, L"Quillmar.pt.dll"},  {7, L"Quillmar.tk.dll"},  {9, L"Quillmar.ro.dll"},
        {11, L"Quillmar.it.dll"}, {15, L"Quillmar.pl.dll"}, {19, L"Quillmar.hu.dll"},
        {12, L"Quillmar.en.dll"}, // Czech: no library of its own
        {24, L"Quillmar.en.dll"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(language_library_name(c.index), c.name) << c.index;
}

TEST(product_language, every_library_carries_the_texts_in_its_language)
{
    const std::wstring folder = test_support::build_file(L"src\\product");
    // This test program carries the product's own French texts.
    const product_texts french(L"C:\\nowhere", 0);
    ASSERT_FALSE(french.text(IDS_PRODUCT_DESCRIPTION).empty());
    for (language_index index : {1, 2, 3, 4, 7, 9, 11, 15, 19}) {
        SCOPED_TRACE(index);
        const product_texts texts(folder, index);
        ASSERT_TRUE(texts.from_library());
        for (unsigned id = 1; id <= 5; ++id) {
            EXPECT_FALSE(texts.text(id).empty()) << id;
            EXPECT_NE(texts.text(id), french.text(id)) << id;
        }
    }
    EXPECT_FALSE(french.from_library());
}

TEST(product_language, comes_from_the_installers_choice)
{
    registry_sandbox sandbox(L"product language");
    sandbox.redirect_local_machine();
    reg_key entry = create_key(registry_root::local_machine, product_uninstall_key().c_str());
    set_dword(entry, L"HvLanguage", 19);
    EXPECT_EQ(product_language(), 19);
    set_dword(entry, L"HvLanguage", 99);
    EXPECT_EQ(product_language(), language_for_user(GetUserDefaultLangID(), product_language_mask))
        << "an index outside the table is not used";
}

TEST(product_programs, carry_the_products_version_resource)
{
    for (const wchar_t* program : {L"src\\product\\Quillmar.exe", L"src\\product\\Uninstall.exe"}) {
        const version_info info(test_support::build_file(program));
        SCOPED_TRACE(std::wstring(program).size());
        EXPECT_EQ(info.file_version(), product_version);
        EXPECT_EQ(info.string_value(L"FileVersion"), version_text(product_version));
        EXPECT_EQ(info.product_name(), L"Quillmar");
        EXPECT_EQ(info.product_version(), version_label(product_version));
        EXPECT_EQ(info.string_value(L"ApplicationId"), L"Quillmar3");
        EXPECT_EQ(info.string_value(L"CompanyName"), L"Halden & Voss");
    }
}

class product_registration : public ::testing::Test {
protected:
    product_registration()
    {
        sandbox_.redirect_local_machine();
        create_key(registry_root::local_machine, L"Software\\Classes");
    }

    test_support::registry_tree tree() const
    {
        test_support::registry_tree result;
        test_support::add_registry_tree(sandbox_.key(), L"", result);
        return result;
    }

    std::wstring value(const std::wstring& key, const std::wstring& name) const
    {
        std::wstring text;
        reg_key opened = open_key(registry_root::local_machine, key.c_str());
        if (!opened || !read_string(opened, name.c_str(), text))
            return L"(missing)";
        return text;
    }

    registry_sandbox sandbox_{L"product registration"};
    const std::wstring program_ = L"C:\\Program Files\\Halden & Voss\\Quillmar 3\\Quillmar.exe";
};

TEST_F(product_registration, writes_the_path_and_the_association_and_nothing_else)
{
    const test_support::registry_tree before = tree();
    register_product(program_);
    EXPECT_EQ(value(L"Software\\Halden & Voss", L"Quillmar 3 Path"), program_);
    EXPECT_EQ(value(L"Software\\Classes\\.qmd", L""), L"Quillmar.Document.3");
    EXPECT_EQ(value(L"Software\\Classes\\Quillmar.Document.3", L""), L"Quillmar Document");
    EXPECT_EQ(value(L"Software\\Classes\\Quillmar.Document.3\\DefaultIcon", L""), L"\"" + program_ + L"\",0");
    EXPECT_EQ(value(L"Software\\Classes\\Quillmar.Document.3\\shell\\open\\command", L""),
              L"\"" + program_ + L"\" \"%1\"");
    const test_support::registry_tree after = tree();
    std::size_t new_entries = 0;
    for (const auto& [name, data] : after)
        new_entries += before.count(name) == 0;
    // Six values, and the keys Halden & Voss, .qmd, OpenWithProgids, the ProgID, DefaultIcon, shell, open
    // and command.
    EXPECT_EQ(new_entries, 6u + 8u);

    register_product(program_);
    EXPECT_EQ(tree(), after) << "a second run changes nothing";

    EXPECT_EQ(unregister_product(program_), 6);
    EXPECT_EQ(tree(), before) << "the uninstaller's side takes all of it back";
}

TEST_F(product_registration, a_failure_part_way_leaves_nothing_it_wrote)
{
    // Values an earlier program left stay as they were.
    reg_key maker = create_key(registry_root::local_machine, L"Software\\Halden & Voss");
    set_string(maker, L"Quillmar 3 Path", std::wstring(L"D:\\old\\Quillmar.exe"));
    // A volatile ProgID key takes its name but no lasting sub-key: the
    // registration fails after it wrote the path, the extension and the name.
    HKEY prog_id = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Quillmar.Document.3", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &prog_id, nullptr),
              ERROR_SUCCESS);
    reg_key owned(prog_id);
    const test_support::registry_tree before = tree();
    HKEY probe = nullptr;
    if (RegCreateKeyExW(prog_id, L"probe", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &probe,
                        nullptr) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        RegDeleteKeyW(prog_id, L"probe");
        GTEST_SKIP() << "this registry lets a lasting key live below a volatile one, so no failure part-way "
                        "can be made here";
    }

    EXPECT_THROW(register_product(program_), std::system_error);
    EXPECT_EQ(tree(), before);
}

}
