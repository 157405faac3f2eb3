// The URL of a "name @ URL" requirement. An accepted URL has a scheme and at most one pair of
// brackets; and the requirement parser, which reads a URL up to the first blank, accepts
// "name @ URL" exactly when the URL check accepts the URL.
#include <algorithm>
#include <string>

#include "fuzz_support.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/requirement.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"
#include "tessel_installer/utils/pkgkit/url_check.hpp"

namespace pkgkit = tessel_installer::pkgkit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view url = tessel_fuzz::as_text(data, size);
    const std::string problem = pkgkit::detail::url_problem(url);
    FUZZ_CHECK(pkgkit::detail::url_problem(url) == problem);
    if (problem.empty()) {
        const std::size_t colon = url.find(':');
        FUZZ_CHECK(colon != std::string_view::npos && colon > 0);
        FUZZ_CHECK(std::count(url.begin(), url.end(), '[') <= 1);
        FUZZ_CHECK(std::count(url.begin(), url.end(), ']') <= 1);
    }

    const bool one_token = !url.empty() && std::none_of(url.begin(), url.end(), [](char c) {
        return pkgkit::text::is_token_space(c);
    });
    if (!one_token) return 0;
    try {
        const pkgkit::Requirement r = pkgkit::parse_requirement("name @ " + std::string(url));
        FUZZ_CHECK(problem.empty());
        FUZZ_CHECK(r.url && *r.url == url);
    } catch (const pkgkit::InvalidRequirement&) {
        FUZZ_CHECK(!problem.empty());
    }
    return 0;
}
