// The URL of a "name @ URL" requirement must be absolute: a scheme and a host, or a file URL in
// its canonical "file://HOST/PATH" form, with a bracketed host that is really an IPv6 address.
#include "tessel_installer/utils/pkgkit/url_check.hpp"

#include <algorithm>

#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::pkgkit::detail {
namespace {

bool is_hex(char ch) noexcept {
    return text::is_ascii_digit(ch) || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

bool is_ipv4(std::string_view s) noexcept {
    int parts = 0;
    std::size_t k = 0;
    while (true) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (k < s.size() && text::is_ascii_digit(s[k]) && digits < 4) {
            value = value * 10 + static_cast<unsigned>(s[k] - '0');
            ++k;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && s[k - digits] == '0')) {
            return false;
        }
        ++parts;
        if (k == s.size()) return parts == 4;
        if (s[k] != '.' || parts == 4) return false;
        ++k;
    }
}

// An IPv6 address (optionally with a "%zone"), or an "vHEX.text" future address, as written
// between brackets in a URL's host.
bool is_bracketed_host(std::string_view host) noexcept {
    if (!host.empty() && (host[0] == 'v' || host[0] == 'V')) {
        std::size_t k = 1;
        while (k < host.size() && is_hex(host[k])) ++k;
        return k > 1 && k + 1 < host.size() && host[k] == '.';
    }
    if (const auto zone = host.find('%'); zone != std::string_view::npos) {
        if (zone + 1 == host.size()) return false;
        host = host.substr(0, zone);
    }
    int groups = 0;
    bool compressed = false;
    std::size_t k = 0;
    if (host.starts_with("::")) {
        compressed = true;
        k = 2;
    } else if (host.starts_with(":")) {
        return false;
    }
    while (k < host.size()) {
        std::size_t start = k;
        while (k < host.size() && is_hex(host[k])) ++k;
        if (k < host.size() && host[k] == '.') {
            // A trailing IPv4 address stands for the last two groups.
            if (!is_ipv4(host.substr(start))) return false;
            groups += 2;
            k = host.size();
            break;
        }
        if (k == start || k - start > 4) return false;
        ++groups;
        if (k == host.size()) break;
        if (host[k] != ':') return false;
        ++k;
        if (k < host.size() && host[k] == ':') {
            if (compressed) return false;
            compressed = true;
            ++k;
        } else if (k == host.size()) {
            return false;
        }
    }
    return compressed ? groups < 8 : groups == 8;
}

// '[' and ']' belong only around an IP literal that is the whole host ("[::1]" or "[::1]:8080"
// after any "user@"); in the user part, the port, the path, the query or the fragment they are
// not part of a URL, and a host such as "C[::1]" or "[::1]x" is not an address at all.
std::string bracket_problem(std::string_view url, std::string_view netloc) {
    std::size_t literal_open = std::string_view::npos;
    std::size_t literal_close = std::string_view::npos;
    const auto at = netloc.rfind('@');
    const std::string_view host_port = at == std::string_view::npos ? netloc : netloc.substr(at + 1);
    if (host_port.starts_with('[')) {
        const auto close = host_port.find(']');
        if (close == std::string_view::npos) return "unbalanced brackets in the host";
        if (!is_bracketed_host(host_port.substr(1, close - 1))) {
            return "the bracketed host is not an IPv6 address";
        }
        if (close + 1 < host_port.size() && host_port[close + 1] != ':') {
            return "'[' and ']' may only enclose the whole host";
        }
        literal_open = static_cast<std::size_t>(host_port.data() - url.data());
        literal_close = literal_open + close;
    }
    for (std::size_t k = 0; k < url.size(); ++k) {
        if ((url[k] == '[' || url[k] == ']') && k != literal_open && k != literal_close) {
            return "'[' and ']' may only enclose the whole host";
        }
    }
    return {};
}

}  // namespace

std::string url_problem(std::string_view url) {
    std::string scheme;
    std::string_view rest = url;
    const auto colon = url.find(':');
    const auto is_scheme_char = [](char ch) {
        return text::is_ascii_alnum(ch) || ch == '+' || ch == '-' || ch == '.';
    };
    if (colon != std::string_view::npos && colon > 0 && text::is_ascii_alpha(url[0]) &&
        std::all_of(url.begin(), url.begin() + colon, is_scheme_char)) {
        scheme = text::to_lower(url.substr(0, colon));
        rest = url.substr(colon + 1);
    }
    std::string_view netloc;
    std::string_view after_netloc = rest;
    const bool has_authority = rest.starts_with("//");
    if (has_authority) {
        const auto end = rest.find_first_of("/?#", 2);
        netloc = rest.substr(2, end - 2);
        after_netloc = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    }
    if (auto problem = bracket_problem(url, netloc); !problem.empty()) return problem;

    if (scheme == "file") {
        // A file URL must be written in its one canonical form, "file://HOST/PATH".
        if (url.substr(0, colon) != "file" || !has_authority) {
            return "a file URL must begin with \"file://\"";
        }
        const auto hash = after_netloc.find('#');
        std::string_view before_fragment = after_netloc.substr(0, hash);
        if (hash != std::string_view::npos && hash + 1 == after_netloc.size()) {
            return "an empty fragment";
        }
        const auto question = before_fragment.find('?');
        if (question != std::string_view::npos && question + 1 == before_fragment.size()) {
            return "an empty query";
        }
        if (netloc.empty() && before_fragment.substr(0, question).starts_with("//")) {
            return "a file URL path cannot begin with \"//\" when the host is empty";
        }
        return {};
    }
    if (scheme.empty()) return "the URL has no scheme";
    if (netloc.empty()) return "the URL has no host";
    return {};
}

}  // namespace tessel_installer::pkgkit::detail
