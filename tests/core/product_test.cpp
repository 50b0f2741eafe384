#include "identity/product.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace {

TEST(ProductName, WithAndWithoutVersion)
{
    EXPECT_EQ(product_name(true), L"Quillmar");
    EXPECT_EQ(product_name(false), L"Quillmar 3.05c");
}

TEST(ProductKeyName, NamesEveryProductFamily)
{
    const struct {
        unsigned code;
        const wchar_t* name;
    } cases[] = {
        {2, L"Quillmar"},     {257, L"Quillmar"},   {258, L"Quillmar 2"}, {259, L"Quillmar 3"},
        {260, L"Corvane 6"},  {516, L"Corvane 6"},  {517, L"Corvane 5"},  {518, L"Corvane 6"},
        {771, L"Corvane 6"},  {774, L"Plindor 6"},  {775, L"Plindor 7"},  {776, L"Plindor 8"},
        {1030, L"Stelvik 6"}, {1031, L"Stelvik 7"}, {1284, L"Tarrow 4"},  {1285, L"Tarrow 5"},
        {1286, L"Brisane"},   {0x600, L"Brisane"},  {0xFFFFFFFF, L"Brisane"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(product_key_name(c.code), c.name) << "code " << c.code;
}

TEST(ProductKeyName, InvalidCodesRaiseTheAssertion)
{
    for (unsigned code : {0u, 1u, 772u, 773u, 777u, 1029u, 1032u, 1100u, 1283u}) {
        try {
            product_key_name(code);
            ADD_FAILURE() << "code " << code << " gave a name";
        }
        catch (const std::logic_error& error) {
            EXPECT_STREQ(error.what(), "Debug Assertion Failed!") << "code " << code;
        }
    }
}

TEST(ProductIdentity, InstallerCarriesQuillmar3)
{
    EXPECT_EQ(product_code, 259u);
    EXPECT_EQ(product_key_name(), L"Quillmar 3");
    EXPECT_EQ(product_version, 0x0003000500030001ull);
    EXPECT_EQ(version_text(product_version), L"3.5.3.1");
}

TEST(ProductIdentity, VersionLabelsAsUsersKnowThem)
{
    const struct {
        std::uint64_t version;
        const wchar_t* label;
    } cases[] = {
        {0x0003000500030001, L"3.05c"},
        {0x0003000500020009, L"3.05b"},
        {0x0003000A00010000, L"3.10a"},
        {0x0004000000000000, L"4.00"}, // no build letter for build 0
    };
    for (const auto& c : cases)
        EXPECT_EQ(version_label(c.version), c.label);
    EXPECT_EQ(product_name(false), L"Quillmar " + version_label(product_version));
}

}
