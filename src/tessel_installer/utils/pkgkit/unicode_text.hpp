// Text helpers for names and versions that arrive as UTF-8: white space as Python's str.strip()
// sees it, lower-casing, and ASCII character classes that never depend on the process locale.
#pragma once

#include <string>
#include <string_view>

#include "tessel_installer/terminal_text.hpp"

namespace tessel_installer::pkgkit::text {

constexpr bool is_ascii_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_alpha(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool is_ascii_alnum(char c) noexcept { return is_ascii_digit(c) || is_ascii_alpha(c); }
constexpr char ascii_lower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The white space that surrounds a requirement or a version: space, tab, CR and LF.
constexpr bool is_token_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The text without leading and trailing spaces and tabs.
constexpr std::string_view trim_blanks(std::string_view text) noexcept {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// True when `a` equals `b` ignoring ASCII case; `b` must be lower case.
bool iequals_ascii(std::string_view a, std::string_view lower_b) noexcept;

// The text without leading and trailing Unicode white space (every code point that Python's
// str.isspace() accepts). Bytes that are not valid UTF-8 are kept as they are.
std::string_view trim_unicode_space(std::string_view text) noexcept;

// Lower case: ASCII always; other code points through the C.UTF-8 character tables where the
// platform has them. Invalid UTF-8 is copied unchanged.
std::string to_lower(std::string_view text);

// The one terminal-safe rendering of outside text, also under this unit's name.
using tessel_installer::text::terminal_safe;

// A short, printable rendering of arbitrary input for error messages: quoted, control bytes
// escaped, and cut in the middle when long, so a huge input cannot flood the terminal.
std::string quote_for_message(std::string_view text);

}  // namespace tessel_installer::pkgkit::text
