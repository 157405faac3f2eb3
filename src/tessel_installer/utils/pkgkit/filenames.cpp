#include "tessel_installer/utils/pkgkit/filenames.hpp"

#include <algorithm>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::pkgkit {
namespace {

constexpr std::string_view wheel_suffix = ".whl";
constexpr std::string_view sdist_suffix = ".tar.gz";

[[noreturn]] void bad_wheel(std::string_view filename, std::string_view why) {
    throw InvalidWheelFilename("Invalid wheel filename " + text::quote_for_message(filename) +
                               ": " + std::string(why));
}

[[noreturn]] void bad_sdist(std::string_view filename, std::string_view why) {
    throw InvalidSdistFilename("Invalid sdist filename " + text::quote_for_message(filename) +
                               ": " + std::string(why));
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const auto pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            parts.push_back(s.substr(start));
            return parts;
        }
        parts.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

// Wheel names escape everything but letters, digits, '_' and '.'; an installer that accepted more
// would hand pip a name it cannot look up.
void check_wheel_name(std::string_view filename, std::string_view name) {
    if (name.empty()) bad_wheel(filename, "the distribution name is empty");
    for (char c : name) {
        if (!text::is_ascii_alnum(c) && c != '_' && c != '.') {
            bad_wheel(filename, "the distribution name " + text::quote_for_message(name) +
                                    " may hold only letters, digits, '_' and '.'");
        }
    }
    if (name.find("__") != std::string_view::npos) {
        bad_wheel(filename,
                  "the distribution name " + text::quote_for_message(name) + " contains \"__\"");
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
    if (filename.size() < wheel_suffix.size() || !filename.ends_with(wheel_suffix)) {
        bad_wheel(filename, "the name does not end with \".whl\"");
    }
    const auto stem = filename.substr(0, filename.size() - wheel_suffix.size());
    const auto parts = split(stem, '-');
    const std::size_t dashes = parts.size() - 1;
    if (dashes != 4 && dashes != 5) {
        bad_wheel(filename, "expected NAME-VERSION[-BUILD]-PYTHON-ABI-PLATFORM (4 or 5 '-'), found " +
                                std::to_string(dashes) + " '-'");
    }
    check_wheel_name(filename, parts[0]);

    WheelFilename result{canonicalize_name(parts[0]), Version{}, std::nullopt, {}};
    auto version = Version::parse(parts[1]);
    if (!version) {
        bad_wheel(filename, "the version " + text::quote_for_message(parts[1]) +
                                " is not a PEP 440 version");
    }
    result.version = std::move(*version);

    if (dashes == 5) {
        const auto build = parts[2];
        std::size_t digits = 0;
        while (digits < build.size() && text::is_ascii_digit(build[digits])) ++digits;
        if (digits == 0) {
            bad_wheel(filename, "the build tag " + text::quote_for_message(build) +
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
    if (filename.size() < sdist_suffix.size() || !filename.ends_with(sdist_suffix)) {
        bad_sdist(filename, "the name does not end with \".tar.gz\"");
    }
    const auto stem = filename.substr(0, filename.size() - sdist_suffix.size());
    // A PEP 440 version holds no '-' once normalised, so the last one ends the name.
    const auto dash = stem.rfind('-');
    if (dash == std::string_view::npos) {
        bad_sdist(filename, "expected NAME-VERSION.tar.gz, found no '-'");
    }
    const auto name = stem.substr(0, dash);
    const auto version_text = stem.substr(dash + 1);
    if (name.empty()) bad_sdist(filename, "the distribution name is empty");
    auto version = Version::parse(version_text);
    if (!version) {
        bad_sdist(filename, "the version " + text::quote_for_message(version_text) +
                                " is not a PEP 440 version");
    }
    return SdistFilename{canonicalize_name(name), std::move(*version)};
}

}  // namespace tessel_installer::pkgkit
