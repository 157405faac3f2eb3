// PEP 508 requirements: the name as written, extras, version clauses, URLs and environment
// markers, the errors for texts that are not requirements, and hostile input sizes.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/requirement.hpp"

namespace tessel_installer::pkgkit {
namespace {

std::string specifiers_of(const Requirement& r) {
    std::string out;
    for (const auto& s : r.specifiers) out += (out.empty() ? "" : ",") + s.to_string();
    return out;
}

// The package texts the engine takes: a distribution name with optional extras in brackets.
// Everything else, above all what pip would read as an option, is refused.
TEST(ParsePackageText, NamesWithOptionalExtrasPassEverythingElseIsRefused) {
    using Extras = std::vector<std::string>;
    struct Case {
        std::string_view text;
        std::optional<PackageText> parsed;
    };
    const Case cases[] = {
        {"bundle-alder", PackageText{"bundle-alder", {}}},
        {"tessel-enterprise[alder]", PackageText{"tessel-enterprise", Extras{"alder"}}},
        {"bundle-birch[postgres,mysql]", PackageText{"bundle-birch", Extras{"postgres", "mysql"}}},
        {"bundle-birch[postgres, mysql]", PackageText{"bundle-birch", Extras{"postgres", "mysql"}}},
        {"x[ \ta\t ,b ]", PackageText{"x", Extras{"a", "b"}}},
        {"Bundle_Alder.2", PackageText{"Bundle_Alder.2", {}}},
        {"a..b", PackageText{"a..b", {}}},
        {"0", PackageText{"0", {}}},
        {"x[]", PackageText{"x", {}}},
        {"x[ \t]", PackageText{"x", {}}},
        {"a[b-c_d.e]", PackageText{"a", Extras{"b-c_d.e"}}},
        {"", std::nullopt},
        {"-r", std::nullopt},
        {"--index-url=http://elsewhere/", std::nullopt},
        {"-e.", std::nullopt},
        {"_x", std::nullopt},
        {"x.", std::nullopt},
        {"bundle-alder[", std::nullopt},
        {"bundle-alder]", std::nullopt},
        {"[x]", std::nullopt},
        {"bundle-alder[x", std::nullopt},
        {"bundle-alder[-x]", std::nullopt},
        {"bundle-alder[x,]", std::nullopt},
        {"bundle-alder[,x]", std::nullopt},
        {"bundle-alder[x y]", std::nullopt},
        {"bundle-alder[x\ny]", std::nullopt},
        {"bundle-alder==1.0", std::nullopt},
        {"bundle-alder[x]==1.0", std::nullopt},
        {"bundle-alder[x][y]", std::nullopt},
        {" bundle-alder", std::nullopt},
        {"bundle-alder ", std::nullopt},
        {"bundle alder", std::nullopt},
        {"bundle-alder; os_name=='nt'", std::nullopt},
        {"caf\xc3\xa9", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_package_text(c.text);
        ASSERT_EQ(parsed.has_value(), c.parsed.has_value()) << c.text;
        if (!parsed) continue;
        EXPECT_EQ(parsed->name, c.parsed->name) << c.text;
        EXPECT_EQ(parsed->extras, c.parsed->extras) << c.text;
    }
    // The name at the start of a longer text, as the requirement parser reads it.
    const std::pair<std::string_view, std::size_t> prefixes[] = {
        {"bundle-alder>=1", 12}, {"a-.b_", 4}, {"a--", 1}, {"-a", 0}, {"", 0}, {"x[y]", 1}};
    for (const auto& [text, length] : prefixes)
        EXPECT_EQ(distribution_name_length(text), length) << text;
}

TEST(GetRequirementName, NameAsWritten) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"bundle-alder>=1.2", "bundle-alder"},
        {"Bundle_Alder[extra]==1.0", "Bundle_Alder"},
        {"bundle-alder; python_version >= '3.8'", "bundle-alder"},
        {"  Tessel.Enterprise  ", "Tessel.Enterprise"},
        {"A.B-C_D (>=1, <2)", "A.B-C_D"},
        {"name[x] @ https://example.com/name.whl", "name"},
        {"1a", "1a"},
    };
    for (const auto& [text, name] : cases) EXPECT_EQ(get_requirement_name(text), name) << text;
}

TEST(ParseRequirement, Parts) {
    struct Case {
        std::string_view text;
        std::vector<std::string> extras;
        std::string_view specifiers;
        std::optional<std::string> url;
        std::optional<std::string> marker;
    };
    const Case cases[] = {
        {"name", {}, "", std::nullopt, std::nullopt},
        {"name[]", {}, "", std::nullopt, std::nullopt},
        {"name [ a , b-c ]", {"a", "b-c"}, "", std::nullopt, std::nullopt},
        {"name>=1.0,<2", {}, ">=1.0,<2", std::nullopt, std::nullopt},
        {"name ( == 1.0 , != 1.0.1 )", {}, "==1.0,!=1.0.1", std::nullopt, std::nullopt},
        {"name==1.*,!=1.0.*,~=1.0,===anything", {}, "==1.*,!=1.0.*,~=1.0,===anything",
         std::nullopt, std::nullopt},
        {"name==1.0+local", {}, "==1.0+local", std::nullopt, std::nullopt},
        {"name[x] @ https://example.com/p.whl ; os_name=='nt'", {"x"}, "",
         "https://example.com/p.whl", "os_name == \"nt\""},
        {"name @ file:///tmp/p.whl", {}, "", "file:///tmp/p.whl", std::nullopt},
        {"name @ http://[::1]:8080/p.whl", {}, "", "http://[::1]:8080/p.whl", std::nullopt},
        // Without white space before ';' the marker is part of the URL.
        {"name @ http://x/p.whl;os_name=='a'", {}, "", "http://x/p.whl;os_name=='a'", std::nullopt},
        {"name>=1;os.name=='posix'andpython_implementation==\"CPython\"", {}, ">=1", std::nullopt,
         "os_name == \"posix\" and platform_python_implementation == \"CPython\""},
        {"name; (os_name == 'a' or os_name == 'b') and python_version < '4'", {}, "", std::nullopt,
         "(os_name == \"a\" or os_name == \"b\") and python_version < \"4\""},
        {"name; ((os_name == 'a'))", {}, "", std::nullopt, "os_name == \"a\""},
        {"name; 'linux' in sys_platform and sys_platform not \t in 'win32'", {}, "", std::nullopt,
         "\"linux\" in sys_platform and sys_platform not in \"win32\""},
        {"name===1.0;extra=='t'", {}, "===1.0", std::nullopt, "extra == \"t\""},
        {"name===1!0.A-b_c.*+d", {}, "===1!0.A-b_c.*+d", std::nullopt, std::nullopt},
        {"name @ https://u:p@[::1]:8443/p.whl", {}, "", "https://u:p@[::1]:8443/p.whl",
         std::nullopt},
    };
    for (const auto& c : cases) {
        const auto r = parse_requirement(c.text);
        EXPECT_EQ(r.name, "name") << c.text;
        EXPECT_EQ(r.extras, c.extras) << c.text;
        EXPECT_EQ(specifiers_of(r), c.specifiers) << c.text;
        EXPECT_EQ(r.url, c.url) << c.text;
        EXPECT_EQ(r.marker ? std::optional<std::string>(r.marker->to_string()) : std::nullopt,
                  c.marker)
            << c.text;
    }
}

TEST(ParseRequirement, InvalidTextsSayWhereAndWhy) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", "expected a package name at position 0"},
        {"-name", "expected a package name"},
        {"name-", "position 4"},
        {"name>=", "expected a version after '>='"},
        {"name>=latest", "'latest' after '>=' is not valid: it is not a PEP 440 version"},
        {"name~=1", "needs at least two release numbers"},
        {"name>=1.0.*", "it is not a PEP 440 version"},
        {"name>1.0+x", "only '==' and '!=' accept a local version"},
        {"name==1.0.dev1.*", "'.*' prefix match cannot follow"},
        {"name[a,]", "expected the name of an extra"},
        {"name[a b]", "expected ',' or ']'"},
        {"name(>=1.0", "expected ',' or ')'"},
        {"name >=1.0 <2", "position 11"},
        {"name; python_version", "expected a marker operator"},
        {"name; unknown == 'a'", "expected a marker variable"},
        {"name; os_name == \"a'", "no closing \""},
        {"name; os_name == 'a\nb'", "cannot span lines"},
        {"name; (os_name == 'a'", "expected ')'"},
        {"name; os_name == 'a' xor", "expected 'and', 'or' or the end of the marker"},
        {"name @ ", "expected a URL after '@'"},
        {"name @ /abs/path", "has no scheme"},
        {"name @ http:x", "has no host"},
        {"name @ FILE:///x", "must begin with \"file://\""},
        {"name @ http://[zz]/x", "not an IPv6 address"},
        {"name<>1", "is not valid"},
        // Arbitrary equality compares text made of version characters only.
        {"name===a\u2000b", "arbitrary equality takes only"},
        {"name===a\u0085b", "arbitrary equality takes only"},
        {"name===a\x01b", "arbitrary equality takes only"},
        {"name===a\x7f", "arbitrary equality takes only"},
        {"name===1.0\u00e9", "arbitrary equality takes only"},
        {"name===a@b", "arbitrary equality takes only"},
        // Brackets only around an IP literal that is the whole host.
        {"name @ https://C[::1]/x", "may only enclose the whole host"},
        {"name @ https://[::1]x/", "may only enclose the whole host"},
        {"name @ https://[::1][::2]/", "may only enclose the whole host"},
        {"name @ https://u[s]@h/x", "may only enclose the whole host"},
        {"name @ https://h/a[b].whl", "may only enclose the whole host"},
        {"name @ https://[::1]/x#[a]", "may only enclose the whole host"},
        {"name @ http://[::1/x", "unbalanced brackets"},
    };
    for (const auto& [text, why] : cases) {
        try {
            parse_requirement(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const InvalidRequirement& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(why), std::string::npos) << text << " -> " << message;
        }
    }
    EXPECT_THROW(get_requirement_name("na me"), ValueError);
}

TEST(ParseMarker, CanonicalTextKeepsMeaningfulParentheses) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {" python_full_version ~= '3.8.0' ", "python_full_version ~= \"3.8.0\""},
        {"((os_name == 'a'))", "os_name == \"a\""},
        {"(os_name == 'a') and (os_name == 'b')", "os_name == \"a\" and os_name == \"b\""},
        // Doubled parentheses around an "or" still group it.
        {"((os_name == 'a' or os_name == 'b')) and python_version < '4'",
         "(os_name == \"a\" or os_name == \"b\") and python_version < \"4\""},
        {"((os_name == 'a' or os_name == 'b'))", "os_name == \"a\" or os_name == \"b\""},
        {"sys.platform == \"it's\" or platform.machine=='x'",
         "sys_platform == \"it's\" or platform_machine == \"x\""},
        // A value holding a double quote keeps single quotes, so the text reads back.
        {"os_name == 'say \"hi\"' and os_name=='\"'", "os_name == 'say \"hi\"' and os_name == '\"'"},
    };
    for (const auto& [text, canonical] : cases) {
        EXPECT_EQ(parse_marker(text).to_string(), canonical);
        EXPECT_EQ(parse_marker(canonical).to_string(), canonical);
    }
    EXPECT_THROW(parse_marker("os_name == 'a' )"), InvalidRequirement);
}

TEST(ParseRequirement, HostileSizesAreRefusedOrHandled) {
    const std::size_t n = 300000;
    // Deep nesting is refused with an error instead of exhausting the stack.
    const std::string deep = "name; " + std::string(n, '(') + "os_name == 'a'" + std::string(n, ')');
    EXPECT_THROW(parse_requirement(deep), InvalidRequirement);
    // Nesting within the limit is fine.
    const std::string nested = "name; " + std::string(50, '(') + "os_name == 'a'" + std::string(50, ')');
    EXPECT_EQ(parse_requirement(nested).marker->to_string(), "os_name == \"a\"");
    // A long flat marker is read without recursion.
    std::string flat = "name; os_name == 'a'";
    while (flat.size() < n) flat += " or os_name == 'a'";
    EXPECT_EQ(parse_requirement(flat).name, "name");
    // Long names, versions and garbage.
    EXPECT_EQ(get_requirement_name(std::string(n, 'x') + ">=1"), std::string(n, 'x'));
    std::string versions = "name>=1";
    std::size_t clauses = 1;
    for (; versions.size() < n; ++clauses) versions += ",>=1";
    EXPECT_EQ(parse_requirement(versions).specifiers.size(), clauses);
    EXPECT_THROW(parse_requirement(std::string(n, '[')), InvalidRequirement);
    EXPECT_THROW(parse_requirement("name" + std::string(n, '[')), InvalidRequirement);
    EXPECT_THROW(parse_requirement("name==" + std::string(n, '1') + "+"), InvalidRequirement);
}

}  // namespace
}  // namespace tessel_installer::pkgkit
