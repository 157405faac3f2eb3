// PEP 440 parsing and ordering: a strictly ascending table, equal spellings, normalised forms,
// rejected texts, and the promise that the comparison helpers answer false instead of failing.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/version.hpp"

namespace tessel_installer::pkgkit {
namespace {

Version v(std::string_view text) {
    auto parsed = Version::parse(text);
    EXPECT_TRUE(parsed.has_value()) << text;
    return parsed.value_or(Version{});
}

TEST(VersionOrder, AscendingTableIsStrictlySorted) {
    const std::vector<std::string> ascending = {
        "0.9",  "1.0.dev0", "1.0.dev456", "1.0a0.dev0", "1.0a1", "1.0a2.dev456", "1.0a12.dev456",
        "1.0a12", "1.0b1.dev456", "1.0b2", "1.0b2.post345.dev456", "1.0b2.post345",
        "1.0rc1.dev456", "1.0rc1", "1.0rc1.post1", "1.0", "1.0+abc", "1.0+abc.5", "1.0+abc.7",
        "1.0+abd", "1.0+0", "1.0+5", "1.0+5.a", "1.0+5.0", "1.0+10", "1.0.post0.dev0",
        "1.0.post0", "1.0.post456.dev34", "1.0.post456", "1.0.0.1", "1.0.15", "1.1.dev1",
        "1.9", "1.10", "1.99999999999999999999999999", "1.100000000000000000000000000", "2.0rc1",
        "2.0", "1!0.1", "2!0.0.dev0",
    };
    std::vector<Version> parsed;
    for (const auto& text : ascending) parsed.push_back(v(text));
    EXPECT_TRUE(std::is_sorted(parsed.begin(), parsed.end()));
    for (std::size_t k = 1; k < parsed.size(); ++k) {
        EXPECT_LT(parsed[k - 1], parsed[k]) << ascending[k - 1] << " < " << ascending[k];
        EXPECT_TRUE(is_version_bigger(ascending[k], ascending[k - 1])) << ascending[k];
        EXPECT_FALSE(is_version_bigger(ascending[k - 1], ascending[k])) << ascending[k];
        EXPECT_FALSE(is_version_equal(ascending[k - 1], ascending[k])) << ascending[k];
    }
}

TEST(VersionOrder, EqualSpellings) {
    const std::pair<std::string_view, std::string_view> equal[] = {
        {"1.0", "1.0.0"},          {"1.0", "v1.0"},        {"1.0", "V1.0.0.0"},
        {"1.0a1", "1.0alpha1"},    {"1.0a1", "1.0.A-1"},   {"1.0c1", "1.0rc1"},
        {"1.0pre1", "1.0preview1"}, {"1.0b", "1.0BETA0"},  {"1.0-1", "1.0.post1"},
        {"1.0r", "1.0rev0"},       {"1.0_post_2", "1.0post2"}, {"1.0.dev", "1.0-dev0"},
        {"1.0+ABC", "1.0+abc"},    {"1.0+1", "1.0+01"},    {"1.0+a-b", "1.0+a_b"},
        {"0!1.0", "1.0"},          {"0", "0.0.0"},         {" 1.0\n", "1.0"},
        {"00001.0", "1.0"},        {"1.0a", "1.0a0"},      {"\u00a01.0\u3000", "1.0"},
    };
    for (const auto& [a, b] : equal) {
        EXPECT_EQ(v(a), v(b)) << a << " == " << b;
        EXPECT_TRUE(is_version_equal(std::string(a), std::string(b))) << a << " == " << b;
        EXPECT_FALSE(is_version_bigger(std::string(a), std::string(b))) << a << " vs " << b;
    }
}

TEST(VersionParse, NormalisedSpelling) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"v1.0", "1.0"},
        {"01.02.03", "1.2.3"},
        {"0!1.0", "1.0"},
        {"01!1.0", "1!1.0"},
        {"1.0ALPHA", "1.0a0"},
        {"1.0-b-2", "1.0b2"},
        {"1.0.c.1", "1.0rc1"},
        {"1.0preview3", "1.0rc3"},
        {"1.0-1", "1.0.post1"},
        {"1.0rev", "1.0.post0"},
        {"1.0.r.7", "1.0.post7"},
        {"1.0-dev", "1.0.dev0"},
        {"1.0rc1-1", "1.0rc1.post1"},
        {"1.0a..dev", "1.0a0.dev0"},
        {"1.0+Ubuntu-1_02", "1.0+ubuntu.1.2"},
        {"00001!0001.0001a0001.post0001.dev0001+0001", "1!1.1a1.post1.dev1+1"},
        {"1.0-dev-", "1.0.dev0"},
        {"18446744073709551616.1", "18446744073709551616.1"},
    };
    for (const auto& [input, normal] : cases) {
        EXPECT_EQ(v(input).to_string(), normal) << input;
    }
    EXPECT_EQ(v("1!2.0rc1.post3.dev4+local.7").public_version(), "1!2.0rc1.post3.dev4");
}

TEST(VersionParse, RejectedTexts) {
    const std::string_view invalid[] = {
        "",       " ",          "latest",      "1.0.",      ".1",          "1..0",
        "1.0-",   "1.0+",       "1.0+abc.",    "1.0+.abc",  "1.0+a+b",     "1.0 a1",
        "1.0a1a2", "1!",        "!1",          "1!!1",      "v",           "vv1",
        "1.0.dev1.post1", "1.0.post1a1", "1.0_", "a1.0",    "1.0.x",       "1.*",
        "1,0",    "\u0661.\u0660", "1.0+\u00fc", "1.0-1-1", "1.0.0-SNAPSHOT", "\u200b1.0",
        "1.0e10", "0x10",       "+1.0",        "1.0\n1.0",  "1.0.po\u017ft1",
    };
    for (auto text : invalid) {
        EXPECT_FALSE(Version::parse(text).has_value()) << text;
    }
    EXPECT_FALSE(Version::parse(std::string_view("1.0\0", 4)).has_value());
}

TEST(VersionHelpers, DescribedExamples) {
    EXPECT_TRUE(is_version_bigger("2.0", "1.9"));
    EXPECT_FALSE(is_version_bigger("1.9", "2.0"));
    EXPECT_FALSE(is_version_bigger("2.0", "2.0"));
    EXPECT_TRUE(is_version_bigger("2.0", "2.0rc1"));
    EXPECT_TRUE(is_version_bigger("1.10", "1.9"));
    EXPECT_TRUE(is_version_equal("1.0", "1.0.0"));
    EXPECT_FALSE(is_version_equal("1.0", "1.0.1"));
    EXPECT_FALSE(is_version_equal("1.0+local", "1.0"));
}

TEST(VersionHelpers, AbsentOrInvalidSidesAnswerFalse) {
    const std::optional<std::string> sides[] = {std::nullopt, std::string("latest"), std::string(""),
                                                std::string("1.0-")};
    for (const auto& bad : sides) {
        EXPECT_FALSE(is_version_bigger(bad, std::string("1.0")));
        EXPECT_FALSE(is_version_bigger(std::string("1.0"), bad));
        EXPECT_FALSE(is_version_equal(bad, std::string("1.0")));
        EXPECT_FALSE(is_version_equal(std::string("1.0"), bad));
        EXPECT_FALSE(is_version_equal(bad, bad));
    }
}

TEST(VersionHelpers, HugeNumbersCompareExactly) {
    const std::string nines(5000, '9');
    const std::string one_and_zeros = "1" + std::string(5000, '0');
    EXPECT_TRUE(is_version_bigger(one_and_zeros, nines));
    EXPECT_TRUE(is_version_bigger("1." + one_and_zeros, "1." + nines));
    EXPECT_TRUE(is_version_equal(std::string(4000, '0') + "7", "7"));
    EXPECT_TRUE(is_version_bigger(nines + "!0", "99!" + nines));
    EXPECT_TRUE(is_version_bigger("1.0.post" + one_and_zeros, "1.0.post" + nines));
    EXPECT_TRUE(is_version_bigger("1.0+" + one_and_zeros, "1.0+" + nines));
    // Numbers past 64 bits do not wrap around.
    EXPECT_TRUE(is_version_bigger("18446744073709551616", "18446744073709551615"));
}

TEST(VersionHelpers, GarbageNeverThrowsOrCrashes) {
    std::mt19937 random(20261208);  // fixed start value: the same inputs every run
    const std::string alphabet = "0123456789.!+-_vV abcdeprvostlih\t\n*=<>\xc2\xa0\xff";
    for (int round = 0; round < 3000; ++round) {
        std::string a;
        std::string b;
        const int len = static_cast<int>(random() % 24);
        for (int k = 0; k < len; ++k) {
            a.push_back(alphabet[random() % alphabet.size()]);
            b.push_back(alphabet[random() % alphabet.size()]);
        }
        const bool bigger = is_version_bigger(a, b);
        const bool smaller = is_version_bigger(b, a);
        const bool equal = is_version_equal(a, b);
        // At most one of the three relations holds for any pair.
        EXPECT_LE(int(bigger) + int(smaller) + int(equal), 1) << a << " / " << b;
    }
}

TEST(VersionHelpers, LongInputsAreHandledWithoutRecursion) {
    // A few hundred kilobytes of each shape: the scanner keeps no recursion or per-part stack.
    const std::size_t n = 300000;
    std::string release = "1";
    while (release.size() < n) release += ".0";
    EXPECT_TRUE(is_version_equal(release, "1"));
    std::string local = "1.0+a";
    while (local.size() < n) local += ".a";
    EXPECT_TRUE(is_version_bigger(local, "1.0"));
    EXPECT_FALSE(is_version_equal(std::string(n, '.'), "1.0"));
    EXPECT_FALSE(is_version_bigger(std::string(n, '+'), "1.0"));
    EXPECT_FALSE(is_version_bigger(std::string(n, ' ') + "x", "1.0"));
    EXPECT_TRUE(is_version_equal(std::string(n, ' ') + "1.0" + std::string(n, '\t'), "1.0"));
    EXPECT_FALSE(is_version_equal(std::string(n, 'a'), std::string(n, 'a')));
}

}  // namespace
}  // namespace tessel_installer::pkgkit
