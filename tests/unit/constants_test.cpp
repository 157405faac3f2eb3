#include <gtest/gtest.h>

#include "tessel_installer/constants.hpp"

namespace c = tessel_installer::constants;

TEST(ProductType, EqualsOnlyItsExactText) {
    struct Case { std::string_view text; bool base; bool bundle; };
    const Case cases[] = {
        {"base", true, false},  {"bundle", false, true}, {"Base", false, false},
        {"BUNDLE", false, false}, {" base", false, false}, {"bundle ", false, false},
        {"", false, false},
    };
    for (const auto& tc : cases) {
        EXPECT_EQ(c::ProductType::BASE == tc.text, tc.base) << tc.text;
        EXPECT_EQ(c::ProductType::BUNDLE == tc.text, tc.bundle) << tc.text;
    }
}

TEST(ExitCode, StatusesCompareWithPlainIntegers) {
    EXPECT_EQ(0, c::SUCCESS);
    for (int status : {1, 2, 255}) EXPECT_GE(status, c::ERROR);
}

TEST(MessageTables, LookupsByExactActionWord) {
    EXPECT_FALSE(c::ACTION_SUCCESS_MESSAGE.find("uninstall"));
    EXPECT_FALSE(c::ACTION_ERROR_MESSAGE.find("uninstall"));
    EXPECT_EQ(c::ACTION_SUCCESS_MESSAGE.find("uninstall -y"), "Uninstalled!");
    EXPECT_EQ(c::ACTION_ERROR_MESSAGE.find("uninstall -y"),
              "Uninstall failed. Use --debug for more details.");
    EXPECT_FALSE(c::ACTION_SUCCESS_ALREADY_INSTALLED.find("download"));
    EXPECT_FALSE(c::ACTION_SUCCESS_ALREADY_UPDATED.find("download"));
    EXPECT_FALSE(c::SUMMARY_SUCCESS_MESSAGE.find("uninstall -y"));
}

TEST(TrustedHosts, FourEntriesConfiguredIndexLast) {
    ASSERT_EQ(c::TRUSTED_HOSTS.size(), 4u);
    EXPECT_EQ(c::TRUSTED_HOSTS.back(), tessel_installer::config::PYPI_URL);
}

TEST(ManagedPackages, MembershipIsExact) {
    EXPECT_TRUE(c::is_expected_package("bundle-dogwood"));
    EXPECT_FALSE(c::is_expected_package("Bundle-Dogwood"));
    EXPECT_TRUE(c::is_connectors_package("bundle-birch"));
    EXPECT_FALSE(c::is_connectors_package("bundle-birch[postgres]"));
}
