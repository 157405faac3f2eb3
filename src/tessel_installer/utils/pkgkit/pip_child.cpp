// The environment of pip children, the look-up's output and masked addresses.
#include "tessel_installer/utils/pkgkit/pip_child.hpp"

#include "tessel_installer/utils/pkgkit/unicode_text.hpp"
#include "tessel_installer/utils/pkgkit/version.hpp"

namespace tessel_installer::pkgkit {
namespace {

constexpr std::string_view kAvailablePrefix = "Available versions: ";

// Splits text into lines at every line break Python's str.splitlines() knows: \n, \r\n, \r, \v,
// \f, the file/group/record separators, and (in UTF-8) NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    // The byte at `k`, 0 past the end (no break begins or continues with 0).
    auto byte = [text](std::size_t k) {
        return k < text.size() ? static_cast<unsigned char>(text[k]) : 0;
    };
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t width = 0;
        const unsigned char c = byte(i);
        if (c == '\r') {
            width = byte(i + 1) == '\n' ? 2 : 1;
        } else if (c == '\n' || c == '\v' || c == '\f' || c == 0x1c || c == 0x1d || c == 0x1e) {
            width = 1;
        } else if (c == 0xc2 && byte(i + 1) == 0x85) {
            width = 2;
        } else if (c == 0xe2 && byte(i + 1) == 0x80 &&
                   (byte(i + 2) == 0xa8 || byte(i + 2) == 0xa9)) {
            width = 3;
        }
        if (width == 0) {
            ++i;
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        i += width;
        start = i;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

}  // namespace

EnvironmentSettings vendor_sources_only() {
    return {{"PIP_EXTRA_INDEX_URL", " "}, {"PIP_FIND_LINKS", " "}};
}

EnvironmentSettings lookup_environment() {
    EnvironmentSettings settings = vendor_sources_only();
    settings.emplace_back("PIP_QUIET", "0");
    settings.emplace_back("PIP_NO_INPUT", "0");
    return settings;
}

bool index_asked_for_credentials(std::string_view pip_output) {
    // pip's question ("User for HOST: ", then "Password: ") is refused while PIP_NO_INPUT is in
    // the environment ("No input was expected"), and otherwise reads the null device: EOFError.
    const bool asked = pip_output.find("User for ") != std::string_view::npos ||
                       pip_output.find("Password: ") != std::string_view::npos;
    if (asked && (pip_output.find("EOFError") != std::string_view::npos ||
                  pip_output.find("No input was expected") != std::string_view::npos)) {
        return true;
    }
    // Credentials that the index turned down, or a 401 that pip reports as it is.
    return pip_output.find("401 Error, Credentials not correct") != std::string_view::npos ||
           pip_output.find("401 Client Error") != std::string_view::npos;
}

IndexListing read_index_versions(std::string_view pip_output) {
    IndexListing listing;
    for (std::string_view line : split_lines(pip_output)) {
        if (!line.starts_with(kAvailablePrefix)) continue;
        std::string text_versions;
        for (std::size_t pos = 0;;) {
            std::size_t hit = line.find(kAvailablePrefix, pos);
            text_versions.append(line.substr(pos, hit - pos));
            if (hit == std::string_view::npos) break;
            pos = hit + kAvailablePrefix.size();
        }
        // pip lists the newest version first; blanks around the piece are no part of the version.
        listing.has_line = true;
        listing.listed =
            text::trim_blanks(std::string_view(text_versions).substr(0, text_versions.find(',')));
        // pip lists whatever an index's file names carry; only a PEP 440 version may become a pin
        // (a marker or an option in its place would change what pip is asked to install).
        if (parse_version(listing.listed).has_value() &&
            listing.listed.find_first_of(" \t;@<>=!~[](),\\") == std::string::npos) {
            listing.version = listing.listed;
        }
        return listing;
    }
    return listing;
}

std::string mask_url_credentials(std::string_view text) {
    std::string masked;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t scheme_end = text.find("://", pos);
        if (scheme_end == std::string_view::npos) break;
        const std::size_t authority = scheme_end + 3;
        const std::size_t authority_end = text.find_first_of("/?# \t\r\n\"'", authority);
        const std::string_view netloc = text.substr(authority, authority_end - authority);
        const std::size_t at = netloc.rfind('@');
        masked.append(text.substr(pos, authority - pos));
        if (at == std::string_view::npos) {
            masked.append(netloc);
        } else {
            const std::string_view userinfo = netloc.substr(0, at);
            const std::size_t colon = userinfo.find(':');
            if (colon == std::string_view::npos) {
                masked += "****";
            } else {
                masked.append(userinfo.substr(0, colon));
                masked += ":****";
            }
            masked.append(netloc.substr(at));
        }
        pos = authority + netloc.size();
    }
    masked.append(text.substr(pos));
    return masked;
}

}  // namespace tessel_installer::pkgkit
