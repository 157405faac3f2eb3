// PEP 508 requirements. Version clauses must name PEP 440 versions (except the arbitrary-equality
// "===", which compares text made of version characters), and a URL must be absolute, so a
// requirement that pip would refuse is refused here too.
#include "tessel_installer/utils/pkgkit/requirement.hpp"

#include <algorithm>
#include <array>

#include "tessel_installer/utils/pkgkit/requirement_cursor.hpp"
#include "tessel_installer/utils/pkgkit/url_check.hpp"
#include "tessel_installer/utils/pkgkit/version.hpp"

namespace tessel_installer::pkgkit {
namespace {

using detail::Cursor;

constexpr std::array<std::string_view, 8> specifier_ops{"===", "==", "!=", "<=",
                                                        ">=",  "~=", "<",  ">"};

bool ends_a_version(char c) noexcept {
    return text::is_token_space(c) || c == ',' || c == ';' || c == ')';
}

// The characters of a version in a requirement's grammar; arbitrary equality compares text, but
// only text made of these, so a control byte or a Unicode space cannot hide inside it.
bool is_version_char(char c) noexcept {
    return text::is_ascii_alnum(c) || std::string_view("-_.*+!").find(c) != std::string_view::npos;
}

// Why `version` cannot follow `op`, or empty when it can.
std::string version_problem(std::string_view op, std::string_view version) {
    if (op == "===") {
        if (std::all_of(version.begin(), version.end(), is_version_char)) return {};
        return "arbitrary equality takes only ASCII letters, digits and '-_.*+!'";
    }
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
        const std::string_view op = c.consume_any(specifier_ops);
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
        if (auto problem = detail::url_problem(url); !problem.empty()) {
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
        if (req.marker) c.fail("expected 'and', 'or' or the end of the marker");
        if (!req.specifiers.empty()) {
            c.fail("expected ',' before another version specifier, ';' and a marker, or the end");
        }
        c.fail("expected a version specifier, '@ URL', ';' and a marker, or the end");
    }
    return req;
}

std::string get_requirement_name(std::string_view requirement) {
    return parse_requirement(requirement).name;
}

}  // namespace tessel_installer::pkgkit
