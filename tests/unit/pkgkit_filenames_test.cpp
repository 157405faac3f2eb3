// Package names from file paths: clean_path, wheel and source-archive names, the normalised
// distribution name, and the errors a malformed package file name raises.
#include <algorithm>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tessel_installer/utils/pkgkit/filenames.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

namespace tessel_installer::pkgkit {
namespace {

TEST(CleanPath, TrimsUnicodeSpaceAndLowerCasesOnly) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"  /Tmp/Pkgs/Bundle_Alder-1.0-py3-none-any.WHL \n",
         "/tmp/pkgs/bundle_alder-1.0-py3-none-any.whl"},
        {"\u3000\u00a0Dir/../A B/./C.TXT\u2029", "dir/../a b/./c.txt"},
        {"\u00c4\u00d6\u00dc/\u0393", "\u00e4\u00f6\u00fc/\u03b3"},
        {"", ""},
        {" \t\r\n", ""},
        {"x\u200by", "x\u200by"},  // a zero-width space is not white space
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(clean_path(input), expected) << input;
}

TEST(GetPackageName, DescribedExamples) {
    const std::pair<std::string_view, std::optional<std::string>> cases[] = {
        {"  /Tmp/Pkgs/Bundle_Alder-1.0-py3-none-any.WHL \n", "bundle-alder"},
        {"dist/Tessel_Enterprise-2.1.0.tar.gz", "tessel-enterprise"},
        {"dist/tessel-enterprise-2.1.0.zip", "tessel-enterprise-2.1.0.zip"},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"\u3000\t", std::nullopt},
        {"pkgs/readme.txt", "readme.txt"},
        {"pkg-1.0.TAR.GZ", "pkg"},
        {"/abs/Bundle.Birch-2.0-1-py3-none-any.whl", "bundle-birch"},
        {"tessel_enterprise_full-3.0-py3-none-any.whl", "tessel-enterprise-full"},
        {"rel/../x/My..Pkg-1.0.tar.gz", "my-pkg"},
        {"dir/", "dir"},
        {"a/b/.", "b"},
        {"a/b/..", ".."},
        {"/", ""},
        {"dir.whl/readme.md", "readme.md"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(get_package_name(input), expected) << input;
}

TEST(GetPackageName, MalformedPackageFileNamesRaise) {
    EXPECT_THROW(get_package_name("broken.whl"), InvalidWheelFilename);
    EXPECT_THROW(get_package_name("dir/pkg-1.0-py3-none.whl"), InvalidWheelFilename);
    EXPECT_THROW(get_package_name("dir/pkg-latest.tar.gz"), InvalidSdistFilename);
    EXPECT_THROW(get_package_name("nodash.tar.gz"), InvalidSdistFilename);
    // Both kinds are ValueErrors, which the front end reports as errors.
    EXPECT_THROW(get_package_name("dir/.whl"), ValueError);
}

TEST(WheelFilename, ValidNames) {
    struct Case {
        std::string_view file;
        std::string_view name;
        std::string_view version;
        std::optional<std::string_view> build;  // "number,suffix"
        std::size_t tags;
    };
    const Case cases[] = {
        {"pkg-1.0-py3-none-any.whl", "pkg", "1.0", std::nullopt, 1},
        {"Pkg_Name-1.0RC1-PY3-NONE-ANY.whl", "pkg-name", "1.0rc1", std::nullopt, 1},
        {"pkg.name-1.0-py2.py3-none-any.whl", "pkg-name", "1.0", std::nullopt, 2},
        {"pkg-1.0-007abc-py3-none-any.whl", "pkg", "1.0", "7,abc", 1},
        {"pkg-1.0-99999999999999999999x-py3-none-any.whl", "pkg", "1.0", "99999999999999999999,x", 1},
        {"pkg-v1!2.0+local-cp39.cp310-abi3.none-a.b.c.whl", "pkg", "1!2.0+local", std::nullopt, 12},
        {"a-1---.whl", "a", "1", std::nullopt, 1},
        // Repeated and empty tags count once.
        {"pkg-1.0-py3.PY3.py3-none.None-any.ANY.any.whl", "pkg", "1.0", std::nullopt, 1},
        {"a-1-....-..-.........whl", "a", "1", std::nullopt, 1},
        {"pkg-1.0-py3.cp39.py3-none.abi3-b.a.B.whl", "pkg", "1.0", std::nullopt, 8},
    };
    for (const auto& c : cases) {
        const auto w = parse_wheel_filename(c.file);
        EXPECT_EQ(w.name, c.name) << c.file;
        EXPECT_EQ(w.version.to_string(), c.version) << c.file;
        if (c.build) {
            ASSERT_TRUE(w.build.has_value()) << c.file;
            EXPECT_EQ(w.build->number.digits() + "," + w.build->suffix, *c.build) << c.file;
        } else {
            EXPECT_FALSE(w.build.has_value()) << c.file;
        }
        EXPECT_EQ(w.tags.size(), c.tags) << c.file;
        EXPECT_TRUE(std::is_sorted(w.tags.begin(), w.tags.end())) << c.file;
        EXPECT_EQ(std::adjacent_find(w.tags.begin(), w.tags.end()), w.tags.end()) << c.file;
    }
    const auto w = parse_wheel_filename("x-1-CP39.py3-NONE-ANY.whl");
    ASSERT_EQ(w.tags.size(), 2u);
    EXPECT_EQ(w.tags[0].interpreter, "cp39");
    EXPECT_EQ(w.tags[1].interpreter, "py3");
    EXPECT_EQ(w.tags[1].abi, "none");
}

TEST(WheelFilename, InvalidNamesSayWhy) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"broken.whl", "found 0 '-'"},
        {"pkg-1.0-1-2-py3-none-any.whl", "found 6 '-'"},
        {"pkg-1.0-abc-py3-none-any.whl", "build tag 'abc' does not begin with a digit"},
        {"pkg-1.0--py3-none-any.whl", "build tag '' does not begin with a digit"},
        {"pkg__name-1.0-py3-none-any.whl", "contains \"__\""},
        {"pkg name-1.0-py3-none-any.whl", "may hold only letters, digits"},
        {"pkg\u00e9-1.0-py3-none-any.whl", "may hold only letters, digits"},
        {"-1.0-py3-none-any.whl", "the distribution name is empty"},
        {"pkg-latest-py3-none-any.whl", "'latest' is not a PEP 440 version"},
        {"pkg-1.0-py3-none-any.WHL", "does not end with \".whl\""},
    };
    for (const auto& [file, why] : cases) {
        try {
            parse_wheel_filename(file);
            ADD_FAILURE() << "accepted " << file;
        } catch (const InvalidWheelFilename& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(why), std::string::npos) << message;
            EXPECT_NE(message.find("Invalid wheel filename '"), std::string::npos) << message;
        }
    }
}

TEST(SdistFilename, SplitsAtTheLastDash) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"tessel-enterprise-2.1.0.tar.gz", "tessel-enterprise 2.1.0"},
        {"Tessel_Enterprise-2.1.0.tar.gz", "tessel-enterprise 2.1.0"},
        {"pkg-1.0-1.tar.gz", "pkg-1-0 1"},
        {"pkg name-1.0.tar.gz", "pkg name 1.0"},
        {"a-b-c-1.0rc1.tar.gz", "a-b-c 1.0rc1"},
    };
    for (const auto& [file, expected] : cases) {
        const auto s = parse_sdist_filename(file);
        EXPECT_EQ(s.name + " " + s.version.to_string(), expected) << file;
    }
    const std::string_view invalid[] = {"pkg.tar.gz",     "pkg-latest.tar.gz", "pkg-1.0.tgz",
                                        "pkg-1.0.zip",    "pkg-.tar.gz",       "-1.0.tar.gz",
                                        "pkg-1.0-.tar.gz", ".tar.gz"};
    for (auto file : invalid) EXPECT_THROW(parse_sdist_filename(file), InvalidSdistFilename) << file;
}

TEST(CanonicalizeName, RunsOfSeparatorsBecomeOneDash) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Foo", "foo"},           {"foo_bar", "foo-bar"}, {"Foo__Bar..Baz", "foo-bar-baz"},
        {"-foo-", "-foo-"},       {"a-_.b", "a-b"},       {"TESSEL_Enterprise", "tessel-enterprise"},
        {"", ""},                 {"...", "-"},           {"\u00dcNI", "\u00fcni"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(canonicalize_name(input), expected);
}

TEST(PackageFileNames, LongInputsDoNotCrash) {
    const std::string dashes(300000, '-');
    EXPECT_THROW(parse_wheel_filename(dashes + ".whl"), InvalidWheelFilename);
    EXPECT_THROW(parse_sdist_filename(dashes + ".tar.gz"), InvalidSdistFilename);
    const std::string long_name(300000, 'a');
    EXPECT_EQ(get_package_name(long_name + "-1.0.tar.gz"), long_name);
    EXPECT_EQ(get_package_name(std::string(300000, '/') + "x"), "x");
    try {
        parse_wheel_filename(long_name + ".whl");
        ADD_FAILURE() << "accepted";
    } catch (const InvalidWheelFilename& e) {
        // The message quotes a shortened form of the text, not all of it.
        EXPECT_LT(std::string(e.what()).size(), 400u);
    }
}

}  // namespace
}  // namespace tessel_installer::pkgkit
