#include "platform/version_info.h"

#include "identity/product.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

constexpr unsigned french = 0, english = 1, german = 2;
constexpr LCID lcid_french = 0x040c, lcid_canadian_french = 0x0c0c, lcid_english = 0x0409, lcid_german = 0x0407;

version_info version_file(const wchar_t* name)
{
    return version_info(test_support::build_file(std::wstring(L"tests\\platform\\version_files\\") + name));
}

// Restores the product code a test changes.
struct product_code_override {
    unsigned saved = product_code;
    explicit product_code_override(unsigned code) { product_code = code; }
    ~product_code_override() { product_code = saved; }
};

TEST(VersionInfo, OnlyAnsiTranslationHasNoStringsButAVersion)
{
    const auto info = version_file(L"only_1252.dll");
    ASSERT_NE(info.size(), 0u);
    EXPECT_TRUE(info.translations().empty());
    EXPECT_EQ(info.product_name(), L"");
    EXPECT_EQ(info.file_version(), 0x0003000500030001u);
}

TEST(VersionInfo, ReadsTheFirstUnicodeTranslation)
{
    const auto info = version_file(L"french_then_english.dll");
    EXPECT_EQ(info.translations(), std::vector<std::wstring>{L"040904b0"});
    EXPECT_EQ(info.product_name(), L"English Name");
}

TEST(VersionInfo, FileWithoutVersionResourceGivesNothing)
{
    for (const auto* name : {L"none.dll", L"missing.dll"}) {
        const auto info = version_file(name);
        EXPECT_EQ(info.size(), 0u) << name;
        EXPECT_EQ(info.fixed(), nullptr) << name;
        EXPECT_EQ(info.file_version(), 0u) << name;
        EXPECT_EQ(info.product_name(), L"") << name;
        EXPECT_EQ(info.display_name(english, lcid_english), L"") << name;
    }
}

TEST(VersionInfo, DisplayNameOfBuilds)
{
    const struct {
        const wchar_t* file;
        unsigned language;
        LCID lcid;
        const wchar_t* expected;
    } cases[] = {
        {L"beta.dll", french, lcid_french, L"Quillmar 3.05 b\u00eata 2"},
        {L"beta.dll", french, lcid_canadian_french, L"Quillmar 3.05 b\u00eata 2"},
        {L"beta.dll", english, lcid_english, L"Quillmar 3.05 beta 2"},
        {L"beta.dll", german, lcid_german, L"Quillmar 3.05 beta 2"},
        {L"private_debug.dll", english, lcid_english, L"Quillmar 3.05c \u2013 Private \u2013 Debug"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(version_file(c.file).display_name(c.language, c.lcid), c.expected)
            << c.file << " lcid " << c.lcid;
    EXPECT_EQ(version_file(L"private_debug.dll").file_flags(), 9u);
}

TEST(VersionInfo, CorvaneFamilyReadsTallowOutsideFrench)
{
    const product_code_override corvane_code(600);
    const auto info = version_file(L"corvane.dll");
    EXPECT_EQ(info.display_name(english, lcid_english), L"Tallow 6 6.0");
    EXPECT_EQ(info.display_name(german, lcid_german), L"Tallow 6 6.0");
    EXPECT_EQ(info.display_name(french, lcid_french), L"Corvane 6 6.0");
}

TEST(VersionInfo, OwnModuleIsTheInstallersResource)
{
    const version_info info;
    ASSERT_NE(info.size(), 0u);
    EXPECT_EQ(info.file_version(), 0x0003000100000000u);
    EXPECT_EQ(info.string_value(L"ApplicationId"), L"Quillmar3");
    EXPECT_EQ(info.string_value(L"SpecialBuild"), L"");
    EXPECT_EQ(info.file_flags(), 0u);
    EXPECT_EQ(info.display_name(english, lcid_english), L"Install 3.01");
    EXPECT_EQ(info.display_name(german, lcid_german), L"Install 3.01");
    EXPECT_EQ(info.display_name(), L"Install 3.01") << "in the current language";
}

TEST(ProductNameRule, ByFamilyLanguageAndBuild)
{
    const struct {
        const wchar_t* name;
        unsigned code;
        unsigned language;
        bool merrin, pellary;
        const wchar_t* expected;
    } cases[] = {
        {L"Corvane 6 Corvane", 600, german, true, false, L"Merrin 6 Corvane"},
        {L"Corvane 6", 600, english, true, false, L"Tallow 6"},
        {L"Corvane 6", 600, french, true, false, L"Corvane 6"},
        {L"Corvane 6", 511, english, false, false, L"Corvane 6"},
        {L"Corvane 6", 512, english, false, false, L"Tallow 6"},
        {L"Corvane 6", 767, german, false, false, L"Tallow 6"},
        {L"Corvane 6", 768, german, true, false, L"Corvane 6"},
        {L"Quillmar 3", 259, german, false, true, L"Pellary 3"},
        {L"Quillmar 3", 259, english, false, true, L"Quillmar 3"},
        {L"Quillmar 3", 259, german, false, false, L"Quillmar 3"},
        {L"Quillmar 3", 255, german, false, true, L"Quillmar 3"},
        {L"Quillmar 3", 600, german, false, true, L"Quillmar 3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(localized_product_name(c.name, c.code, c.language, c.merrin, c.pellary), c.expected)
            << c.name << " code " << c.code << " language " << c.language;
}

TEST(ProductNameRule, SpecialBuildMatchesExactly)
{
    EXPECT_TRUE(is_special_build(L"Merrin", L"Merrin"));
    for (const auto* value : {L"merrin", L"Merrin ", L"Merri", L"", L"Pellary"})
        EXPECT_FALSE(is_special_build(value, L"Merrin")) << value;
}

TEST(Comctl32Version, CommonControlsSixUnderTheManifest)
{
    const auto version = comctl32_version();
    EXPECT_GE(version >> 16, 5u);
    EXPECT_LT(version >> 16, 100u);
    EXPECT_EQ(GetModuleHandleW(L"Comctl32.dll"), nullptr) << "a library loaded for the question stays loaded";
    if (test_support::running_under_wine())
        GTEST_SKIP() << "Wine's side-by-side common controls 6 report version 5.81 from DllGetVersion";
    EXPECT_GE(version, 0x60000u);
}

}

namespace {

TEST(CommonControls, VersionOfAnEncodedAssemblyIdentity)
{
    struct row {
        const wchar_t* identity;
        std::uint32_t expected;
    };
    const row rows[] = {
        {LR"(Microsoft.Windows.Common-Controls,processorArchitecture="amd64",type="win32",version="6.0.2600.2982")", 0x60000},
        {LR"(Microsoft.Windows.Common-Controls,version="6.10.19041.1110",type="win32")", 0x6000A},
        {LR"(Microsoft.Windows.Common-Controls,version="5.82.0.0")", 0x50052},
        {LR"(Microsoft.Windows.Common-Controls,version="6")", 0},
        {LR"(Microsoft.Windows.Common-Controls,version="x.1")", 0},
        {LR"(Microsoft.Windows.Common-Controls,version="70000.0.0.0")", 0},
        {LR"(Microsoft.Windows.Common-Controls,type="win32")", 0},
        {L"", 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(assembly_identity_version(r.identity), r.expected) << std::wstring_view(r.identity).size();
}

TEST(CommonControls, SixWhenTheLibraryOrItsAssemblySaysSo)
{
    struct row {
        std::uint32_t library;
        std::uint32_t assembly;
        bool expected;
    };
    const row rows[] = {
        {0x6000A, 0, true},       // the library of the assembly reports its version
        {0x50051, 0x60000, true}, // an assembly whose library reports an older version
        {0x50052, 0, false},      // no manifest: the system's version 5 library
        {0, 0, false},
        {0x5FFFF, 0x5FFFF, false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(common_controls_6_active(r.library, r.assembly), r.expected) << std::hex << r.library << " " << r.assembly;
}

TEST(CommonControls, TheManifestGivesCommonControls6)
{
    EXPECT_GE(common_controls_assembly_version(), 0x60000u);
    EXPECT_TRUE(common_controls_6_active());
}

}
