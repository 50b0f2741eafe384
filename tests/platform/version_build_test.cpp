// Whether the process runs a "Merrin" or "Pellary" build is decided once,
// so these checks run alone in a process of their own and in this order.
#include "platform/version_info.h"

#include "identity/product.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

constexpr unsigned french = 0, english = 1, german = 2;

version_info version_file(const wchar_t* name)
{
    return version_info(test_support::build_file(std::wstring(L"tests\\platform\\version_files\\") + name));
}

TEST(SpecialBuild, DecidedByTheFirstObjectAndKept)
{
    const unsigned saved = product_code;

    product_code = 259;
    const auto pellary = version_file(L"pellary.dll");
    EXPECT_EQ(pellary.localized_product_name(german), L"Pellary 3");
    EXPECT_EQ(pellary.localized_product_name(english), L"Quillmar 3");
    // A later object without the build name gets the same answer.
    EXPECT_EQ(version_file(L"private_debug.dll").localized_product_name(german), L"Pellary");

    product_code = 600;
    const auto merrin = version_file(L"merrin.dll");
    EXPECT_EQ(merrin.localized_product_name(german), L"Merrin 6");
    EXPECT_EQ(merrin.localized_product_name(english), L"Tallow 6");
    EXPECT_EQ(merrin.localized_product_name(french), L"Corvane 6");
    EXPECT_EQ(version_file(L"corvane.dll").localized_product_name(german), L"Merrin 6");

    product_code = saved;
}

}
