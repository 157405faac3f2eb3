// PEP 508 requirements. Version clauses must name PEP 440 versions (except the arbitrary-equality
// "===", which compares text), and a URL must be absolute, so a requirement that pip would refuse
// is refused here too.
#include "tessel_installer/utils/pkgkit/requirement.hpp"

#include <array>

#include "tessel_installer/utils/pkgkit/requirement_cursor.hpp"
#include "tessel_installer/utils/pkgkit/version.hpp"

namespace tessel_installer::pkgkit {
namespace {

using detail::Cursor;

constexpr std::array<std::string_view, 8> specifier_ops{"===", "==", "!=", "<=",
                                                        ">=",  "~=", "<",  ">"};

bool ends_a_version(char c) noexcept {
    return text::is_token_space(c) || c == ',' || c == ';' || c == ')';
}

// Why `version` cannot follow `op`, or empty when it can.
std::string version_problem(std::string_view op, std::string_view version) {
    if (op == "===") return {};  // arbitrary equality: any text without white space
    const auto trimmed = text::trim_unicode_space(version);
    if (trimmed.data() + trimmed.size() != version.data() + version.size()) {
        return "white space inside the version";
    }
    const bool equality = op == "==" || op == "!=";
    std::string_view body = version;
    const bool wildcard = equality && body.ends_with(".*");
    if (wildcard) body.remove_suffix(2);
    const auto parsed = Version::parse(body);
    if (!parsed) return "it is not a PEP 440 version";
    if (wildcard && (parsed->dev() || !parsed->local().empty())) {
        return "a '.*' prefix match cannot follow a dev release or a local version";
    }
    if (!equality && !parsed->local().empty()) {
        return "only '==' and '!=' accept a local version";
    }
    if (op == "~=" && parsed->release().size() < 2) {
        return "'~=' needs at least two release numbers";
    }
    return {};
}

void read_specifiers(Cursor& c, std::vector<Specifier>& out) {
    for (;;) {
        c.skip_space();
        std::string_view op;
        for (auto candidate : specifier_ops) {
            if (c.consume(candidate)) {
                op = candidate;
                break;
            }
        }
        if (op.empty()) c.fail("expected a version operator (==, !=, <, <=, >, >=, ~=, ===)");
        c.skip_space();
        const std::size_t start = c.pos;
        while (!c.at_end() && !ends_a_version(c.peek())) ++c.pos;
        const auto version = c.whole.substr(start, c.pos - start);
        if (version.empty()) {
            c.fail("expected a version after '" + std::string(op) + "'");
        }
        if (auto problem = version_problem(op, version); !problem.empty()) {
            c.pos = start;
            c.fail("the version " + text::quote_for_message(version) + " after '" +
                   std::string(op) + "' is not valid: " + problem);
        }
        out.push_back(Specifier{std::string(op), std::string(version)});
        const std::size_t before = c.pos;
        c.skip_space();
        if (!c.consume(",")) {
            c.pos = before;
            return;
        }
    }
}

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

// Why `url` is not an absolute URL that pip can fetch, or empty when it is.
std::string url_problem(std::string_view url) {
    std::string scheme;
    std::string_view rest = url;
    const auto colon = url.find(':');
    if (colon != std::string_view::npos && colon > 0 && text::is_ascii_alpha(url[0])) {
        bool scheme_chars = true;
        for (char ch : url.substr(0, colon)) {
            if (!text::is_ascii_alnum(ch) && ch != '+' && ch != '-' && ch != '.') scheme_chars = false;
        }
        if (scheme_chars) {
            scheme = text::to_lower(url.substr(0, colon));
            rest = url.substr(colon + 1);
        }
    }
    std::string_view netloc;
    std::string_view after_netloc = rest;
    const bool has_authority = rest.starts_with("//");
    if (has_authority) {
        const auto end = rest.find_first_of("/?#", 2);
        netloc = rest.substr(2, end == std::string_view::npos ? std::string_view::npos : end - 2);
        after_netloc = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    }
    const auto open = netloc.find('[');
    const auto close = netloc.find(']');
    if ((open == std::string_view::npos) != (close == std::string_view::npos)) {
        return "unbalanced brackets in the host";
    }
    if (open != std::string_view::npos) {
        if (close < open || !is_bracketed_host(netloc.substr(open + 1, close - open - 1))) {
            return "the bracketed host is not an IPv6 address";
        }
    }

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

}  // namespace

Requirement parse_requirement(std::string_view text_in) {
    Cursor c{text_in, "requirement"};
    Requirement req;
    c.skip_space();
    std::string_view name;
    if (!detail::read_identifier(c, name)) c.fail("expected a package name");
    req.name = std::string(name);

    c.skip_space();
    if (c.consume("[")) {
        c.skip_space();
        if (!c.consume("]")) {
            for (;;) {
                c.skip_space();
                std::string_view extra;
                if (!detail::read_identifier(c, extra)) c.fail("expected the name of an extra");
                req.extras.emplace_back(extra);
                c.skip_space();
                if (c.consume(",")) continue;
                if (c.consume("]")) break;
                c.fail("expected ',' or ']' in the extras");
            }
        }
    }

    c.skip_space();
    if (c.consume("@")) {
        c.skip_space();
        const std::size_t start = c.pos;
        while (!c.at_end() && !text::is_token_space(c.peek())) ++c.pos;
        const auto url = c.whole.substr(start, c.pos - start);
        if (url.empty()) c.fail("expected a URL after '@'");
        if (auto problem = url_problem(url); !problem.empty()) {
            c.pos = start;
            c.fail("the URL " + text::quote_for_message(url) + " is not valid: " + problem);
        }
        req.url = std::string(url);
    } else if (c.consume("(")) {
        read_specifiers(c, req.specifiers);
        c.skip_space();
        if (!c.consume(")")) c.fail("expected ',' or ')' after the version specifiers");
    } else if (!c.at_end() && std::string_view("<>=!~").find(c.peek()) != std::string_view::npos) {
        read_specifiers(c, req.specifiers);
    }

    c.skip_space();
    if (c.consume(";")) {
        req.marker = detail::read_marker(c);
        c.skip_space();
    }
    if (!c.at_end()) {
        c.fail(req.marker ? "expected 'and', 'or' or the end of the marker"
                          : "expected a version specifier, '@ URL', ';' and a marker, or the end");
    }
    return req;
}

std::string get_requirement_name(std::string_view requirement) {
    return parse_requirement(requirement).name;
}

}  // namespace tessel_installer::pkgkit
