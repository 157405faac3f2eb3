// Reading the distribution's name out of the release files, and the leading part of a version.
#include <string>
#include <string_view>

#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/hostcheck/hostcheck.hpp"

namespace tessel_installer::hostcheck {
namespace {

constexpr std::string_view kKey = "PRETTY_NAME=";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The value after the key, in the os-release spellings: "double quoted" (with backslash escapes
// of the shell's double quotes), 'single quoted', or bare. Like the shell, a quoted value runs to
// the last quote of the same kind on the line. None for a quote that is never closed.
std::optional<std::string> value_of(std::string_view raw) {
    while (!raw.empty() && is_blank(raw.back())) raw.remove_suffix(1);
    if (raw.empty()) return std::string();
    const char quote = raw.front();
    if (quote != '"' && quote != '\'') return std::string(raw);
    std::size_t close = raw.rfind(quote);
    if (close == 0) return std::nullopt;
    std::string_view inner = raw.substr(1, close - 1);
    if (quote == '\'') return std::string(inner);
    std::string value;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\' && i + 1 < inner.size() &&
            std::string_view("\"\\$`").find(inner[i + 1]) != std::string_view::npos) {
            ++i;
        }
        value += inner[i];
    }
    return value;
}

}  // namespace

std::optional<std::string> _find_pretty_name(std::string_view release_text) {
    for (std::string_view line : text::split(release_text, '\n')) {
        while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
        if (line.substr(0, kKey.size()) != kKey) continue;
        // An empty or malformed value names nothing; a later release file may still name it.
        if (auto value = value_of(line.substr(kKey.size())); value && !value->empty()) return value;
    }
    return std::nullopt;
}

std::string _major_component(std::string_view version) {
    return std::string(version.substr(0, version.find('.')));
}

}  // namespace tessel_installer::hostcheck
