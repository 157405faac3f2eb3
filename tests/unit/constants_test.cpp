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
    if (c::TRUSTED_HOSTS.empty()) GTEST_SKIP() << "built with no trusted hosts";
    ASSERT_EQ(c::TRUSTED_HOSTS.size(), 4u);
    EXPECT_EQ(c::TRUSTED_HOSTS.back(), tessel_installer::config::PYPI_URL);
}

TEST(ManagedPackages, MembershipIsExact) {
    EXPECT_TRUE(c::is_expected_package("bundle-dogwood"));
    EXPECT_FALSE(c::is_expected_package("Bundle-Dogwood"));
    EXPECT_TRUE(c::is_connectors_package("bundle-birch"));
    EXPECT_FALSE(c::is_connectors_package("bundle-birch[postgres]"));
}

#include "tessel_installer/ordered_map.hpp"

TEST(OrderedMap, KeepsFirstPositionAndTakesLaterValue) {
    tessel_installer::PackageKinds kinds;
    kinds.set("bundle-alder", "bundle");
    kinds.set("tessel-enterprise", "base");
    kinds.set("bundle-alder", "base");
    EXPECT_EQ(kinds.keys(), (std::vector<std::string>{"bundle-alder", "tessel-enterprise"}));
    EXPECT_EQ(kinds.get("bundle-alder"), "base");
    EXPECT_FALSE(kinds.contains("Bundle-Alder"));
    EXPECT_EQ(kinds, (tessel_installer::PackageKinds{{"bundle-alder", "base"},
                                                     {"tessel-enterprise", "base"}}));
}

TEST(OrderedMap, ManyDistinctKeysStayInOrder) {
    tessel_installer::OrderedMap<int> numbers;
    for (int i = 0; i < 50000; ++i) numbers.set("name-" + std::to_string(i), i);
    for (int i = 0; i < 50000; i += 2) numbers.set("name-" + std::to_string(i), -i);
    ASSERT_EQ(numbers.size(), 50000u);
    int expected = 0;
    for (const auto& [key, value] : numbers) {
        ASSERT_EQ(key, "name-" + std::to_string(expected));
        ASSERT_EQ(value, expected % 2 == 0 ? -expected : expected);
        ++expected;
    }
}
