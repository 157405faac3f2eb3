#include "tessel_installer/utils/pkgkit/filenames.hpp"

#include <algorithm>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::pkgkit {
namespace {

// The checks of one file name; each failure is an `Error` that names the file and the rule.
template <typename Error>
struct FilenameCheck {
    std::string_view kind;  // "wheel" or "sdist"
    std::string_view filename;

    [[noreturn]] void fail(std::string_view why) const {
        throw Error("Invalid " + std::string(kind) + " filename " +
                    text::quote_for_message(filename) + ": " + std::string(why));
    }
    // The file name without `suffix`, which it must end with.
    std::string_view stem(std::string_view suffix) const {
        if (!filename.ends_with(suffix)) {
            fail("the name does not end with \"" + std::string(suffix) + "\"");
        }
        return filename.substr(0, filename.size() - suffix.size());
    }
    Version version(std::string_view spelled) const {
        auto version = Version::parse(spelled);
        if (!version) {
            fail("the version " + text::quote_for_message(spelled) + " is not a PEP 440 version");
        }
        return std::move(*version);
    }
};
using WheelCheck = FilenameCheck<InvalidWheelFilename>;
using tessel_installer::text::split;

// Wheel names escape everything but letters, digits, '_' and '.'; an installer that accepted more
// would hand pip a name it cannot look up.
void check_wheel_name(const WheelCheck& check, std::string_view name) {
    if (name.empty()) check.fail("the distribution name is empty");
    for (char c : name) {
        if (!text::is_ascii_alnum(c) && c != '_' && c != '.') {
            check.fail("the distribution name " + text::quote_for_message(name) +
                       " may hold only letters, digits, '_' and '.'");
        }
    }
    if (name.find("__") != std::string_view::npos) {
        check.fail("the distribution name " + text::quote_for_message(name) + " contains \"__\"");
    }
}

// One dotted tag set, lower-cased, sorted and without repeats. The product of three such sets is
// every combination once and already in order, so a name full of repeated or empty tags ("py3.py3",
// "...") costs no more than its distinct tags, and the product is never sorted.
std::vector<std::string> tag_set(std::string_view part) {
    std::vector<std::string> tags;
    for (const auto tag : split(part, '.')) tags.push_back(text::to_lower(tag));
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    return tags;
}

}  // namespace

std::string canonicalize_name(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    bool in_run = false;
    for (char c : name) {
        if (c == '-' || c == '_' || c == '.') {
            if (!in_run) out.push_back('-');
            in_run = true;
        } else {
            out.push_back(c);
            in_run = false;
        }
    }
    return text::to_lower(out);
}

WheelFilename parse_wheel_filename(std::string_view filename) {
    const WheelCheck check{"wheel", filename};
    const auto parts = split(check.stem(".whl"), '-');
    const std::size_t dashes = parts.size() - 1;
    if (dashes != 4 && dashes != 5) {
        check.fail("expected NAME-VERSION[-BUILD]-PYTHON-ABI-PLATFORM (4 or 5 '-'), found " +
                   std::to_string(dashes) + " '-'");
    }
    check_wheel_name(check, parts[0]);
    WheelFilename result{canonicalize_name(parts[0]), check.version(parts[1]), std::nullopt, {}};

    if (dashes == 5) {
        const auto build = parts[2];
        std::size_t digits = 0;
        while (digits < build.size() && text::is_ascii_digit(build[digits])) ++digits;
        if (digits == 0) {
            check.fail("the build tag " + text::quote_for_message(build) +
                       " does not begin with a digit");
        }
        result.build = BuildTag{Number(build.substr(0, digits)), std::string(build.substr(digits))};
    }

    const auto interpreters = tag_set(parts[dashes - 2]);
    const auto abis = tag_set(parts[dashes - 1]);
    const auto platforms = tag_set(parts[dashes]);
    result.tags.reserve(interpreters.size() * abis.size() * platforms.size());
    for (const auto& interpreter : interpreters) {
        for (const auto& abi : abis) {
            for (const auto& platform : platforms) {
                result.tags.push_back(WheelTag{interpreter, abi, platform});
            }
        }
    }
    return result;
}

SdistFilename parse_sdist_filename(std::string_view filename) {
    const FilenameCheck<InvalidSdistFilename> check{"sdist", filename};
    const auto stem = check.stem(".tar.gz");
    // A PEP 440 version holds no '-' once normalised, so the last one ends the name.
    const auto dash = stem.rfind('-');
    if (dash == std::string_view::npos) check.fail("expected NAME-VERSION.tar.gz, found no '-'");
    const auto name = stem.substr(0, dash);
    if (name.empty()) check.fail("the distribution name is empty");
    return SdistFilename{canonicalize_name(name), check.version(stem.substr(dash + 1))};
}

}  // namespace tessel_installer::pkgkit
