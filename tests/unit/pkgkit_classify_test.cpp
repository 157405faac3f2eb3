// Splitting packages into the base package and bundles, the loose-collection helpers, and the
// extra managed packages that an install brought in.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

namespace tessel_installer::pkgkit {
namespace {

using Names = std::vector<std::string>;
using NameSet = std::set<std::string>;

const OrderedMap<std::string> catalogue{{"bundle-cedar", "bundle"},
                                        {"tessel-enterprise", "base"},
                                        {"bundle-alder", "bundle"},
                                        {"other", "addon"}};

TEST(SplitBaseAndBundles, ByProductKind) {
    EXPECT_EQ(split_base_and_bundles(catalogue),
              NameLists(Names{"tessel-enterprise"}, Names{"bundle-alder", "bundle-cedar"}));
    // Kinds compare exactly: "Base" and " bundle" are neither kind.
    const OrderedMap<std::string> odd{{"x", "Base"}, {"y", " bundle"}, {"z", ""}};
    EXPECT_EQ(split_base_and_bundles(odd), NameLists());
    EXPECT_EQ(split_base_and_bundles(OrderedMap<std::string>{}), NameLists());
}

TEST(SplitBaseAndBundles, ByNameIgnoresKinds) {
    EXPECT_EQ(split_base_and_bundles(catalogue, false),
              NameLists(Names{"tessel-enterprise"}, Names{"bundle-alder", "bundle-cedar", "other"}));
    const OrderedMap<std::string> keys{{"bundle-cedar", "x"}, {"tessel-enterprise", "y"}};
    EXPECT_EQ(split_base_and_bundles(keys, false),
              NameLists(Names{"tessel-enterprise"}, Names{"bundle-cedar"}));
}

TEST(SplitBaseAndBundles, PrefixIsExactAndSortingByCodePoint) {
    OrderedMap<std::string> names;
    for (const char* name : {"tessel-enterprise-full", "Tessel-Enterprise", "tessel-enterprise",
                             "b", "B", "a", "\u00e9", "z"})
        names.set(name, "bundle");
    const auto [base, bundles] = split_base_and_bundles(names, false);
    EXPECT_EQ(base, (Names{"tessel-enterprise", "tessel-enterprise-full"}));
    EXPECT_EQ(bundles, (Names{"B", "Tessel-Enterprise", "a", "b", "z", "\u00e9"}));
}

TEST(CheckIsTesselEnterpriseIncluded, PrefixTest) {
    EXPECT_FALSE(check_is_tessel_enterprise_included({}));
    EXPECT_TRUE(check_is_tessel_enterprise_included({"bundle-alder", "tessel-enterprise"}));
    EXPECT_FALSE(check_is_tessel_enterprise_included({"my-tessel-enterprise"}));
    EXPECT_TRUE(check_is_tessel_enterprise_included({"tessel-enterprise-full"}));
    EXPECT_FALSE(check_is_tessel_enterprise_included({"Tessel-Enterprise", "tessel_enterprise"}));
}

TEST(ConvertToSet, EachForm) {
    EXPECT_EQ(convert_to_set(std::string("bundle-alder")), NameSet{"bundle-alder"});
    EXPECT_EQ(convert_to_set(OrderedMap<std::string>{{"a", "1"}, {"b", "2"}}), (NameSet{"a", "b"}));
    EXPECT_EQ(convert_to_set(Names{"a", "a", "b"}), (NameSet{"a", "b"}));
    EXPECT_EQ(convert_to_set(NameSet{"x", "y"}), (NameSet{"x", "y"}));
    EXPECT_EQ(convert_to_set(std::monostate{}), NameSet{});
    EXPECT_EQ(convert_to_set(std::string()), NameSet{""});
}

TEST(IsNoneOrEmptyIterate, EachForm) {
    EXPECT_TRUE(is_none_or_empty_iterate(std::monostate{}));
    EXPECT_TRUE(is_none_or_empty_iterate(std::string()));
    EXPECT_TRUE(is_none_or_empty_iterate(Names{}));
    EXPECT_TRUE(is_none_or_empty_iterate(OrderedMap<std::string>{}));
    EXPECT_TRUE(is_none_or_empty_iterate(NameSet{}));
    EXPECT_FALSE(is_none_or_empty_iterate(std::string("0")));
    EXPECT_FALSE(is_none_or_empty_iterate(Names{""}));
    EXPECT_FALSE(is_none_or_empty_iterate(NameSet{"a"}));
}

TEST(DetermineAdditionalDeps, DescribedExample) {
    EXPECT_EQ(determine_additional_tessel_enterprise_deps(
                  Names{"numpy"}, Names{"numpy", "tessel-enterprise", "bundle-alder", "scipy"},
                  Names{"bundle-alder>=1.0"}),
              NameSet{"tessel-enterprise"});
}

TEST(DetermineAdditionalDeps, NothingRequestedMeansNothingExtra) {
    const Names after{"tessel-enterprise", "bundle-alder"};
    EXPECT_EQ(determine_additional_tessel_enterprise_deps(Names{}, after, std::monostate{}), NameSet{});
    EXPECT_EQ(determine_additional_tessel_enterprise_deps(Names{}, after, Names{}), NameSet{});
    // The other arguments are not looked at, so an invalid entry elsewhere raises nothing.
    EXPECT_EQ(determine_additional_tessel_enterprise_deps(Names{}, after, std::string(),
                                                          Names{"!!!"}),
              NameSet{});
}

TEST(DetermineAdditionalDeps, ExactNamesAndEveryForm) {
    // A requested "Bundle_Alder" does not cancel an installed "bundle-alder".
    EXPECT_EQ(determine_additional_tessel_enterprise_deps(
                  NameSet{}, NameSet{"bundle-alder"}, std::string("Bundle_Alder[x]==1.0")),
              NameSet{"bundle-alder"});
    // A mapping counts by its keys; a package present before is not new.
    const OrderedMap<std::string> before{{"bundle-birch", "1.0"}};
    const OrderedMap<std::string> after{
        {"bundle-birch", "2.0"}, {"bundle-cedar", "1.0"}, {"tessel-enterprise-full", "1.0"}};
    EXPECT_EQ(determine_additional_tessel_enterprise_deps(before, after,
                                                          std::string("tessel-enterprise-full")),
              NameSet{"bundle-cedar"});
    // A caller's related set replaces the managed packages.
    EXPECT_EQ(determine_additional_tessel_enterprise_deps(Names{}, Names{"numpy", "bundle-cedar"},
                                                          Names{"x"}, Names{"numpy"}),
              NameSet{"numpy"});
    // An absent "before" counts as no names.
    EXPECT_EQ(determine_additional_tessel_enterprise_deps(std::monostate{}, Names{"bundle-dogwood"},
                                                          Names{"x"}),
              NameSet{"bundle-dogwood"});
}

TEST(DetermineAdditionalDeps, InvalidRequestRaises) {
    EXPECT_THROW(determine_additional_tessel_enterprise_deps(Names{}, Names{"bundle-alder"},
                                                             Names{"not a requirement"}),
                 InvalidRequirement);
}

}  // namespace
}  // namespace tessel_installer::pkgkit
