// PEP 440 versions: up to three, one per line. A version that parses prints as a normalised text
// that parses to an equal version and prints the same; the order is antisymmetric and transitive,
// and the text comparisons the engine uses agree with it.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/version.hpp"

using tessel_installer::pkgkit::Version;
namespace pkgkit = tessel_installer::pkgkit;

namespace {

int sign_of(std::strong_ordering order) { return order < 0 ? -1 : (order > 0 ? 1 : 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> texts;
    std::vector<Version> versions;
    for (const std::string_view piece : tessel_fuzz::split(tessel_fuzz::as_text(data, size), '\n', 3)) {
        const std::string text(piece);
        const std::optional<Version> version = Version::parse(text);
        FUZZ_CHECK(pkgkit::is_version_equal(text, text) == version.has_value());
        if (!version) continue;

        const std::string normal = version->to_string();
        const std::optional<Version> again = Version::parse(normal);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(*again == *version);
        FUZZ_CHECK(again->to_string() == normal);
        FUZZ_CHECK(again->local() == version->local());
        FUZZ_CHECK(again->pre().has_value() == version->pre().has_value());
        FUZZ_CHECK(again->dev() == version->dev());

        // A local part sorts after the public version it extends.
        const std::optional<Version> public_part = Version::parse(version->public_version());
        FUZZ_CHECK(public_part.has_value() && public_part->local().empty());
        FUZZ_CHECK(version->local().empty() ? *public_part == *version : *public_part < *version);

        texts.push_back(text);
        versions.push_back(*version);
    }

    const std::size_t n = versions.size();
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const int ij = sign_of(versions[i] <=> versions[j]);
            FUZZ_CHECK(ij == -sign_of(versions[j] <=> versions[i]));
            FUZZ_CHECK(pkgkit::is_version_bigger(texts[i], texts[j]) == (ij > 0));
            FUZZ_CHECK(pkgkit::is_version_equal(texts[i], texts[j]) == (ij == 0));
            for (std::size_t k = 0; k < n; ++k) {
                const int jk = sign_of(versions[j] <=> versions[k]);
                const int ik = sign_of(versions[i] <=> versions[k]);
                if (ij <= 0 && jk <= 0) FUZZ_CHECK(ik <= 0);
                if (ij == 0) FUZZ_CHECK(ik == jk);
            }
        }
    }
    return 0;
}
