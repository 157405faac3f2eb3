// The one grammar of a package text as the engine takes it: a distribution name, optionally
// followed by extras in brackets. pip reads a leading "-" as an option, so a text that does not
// match is never put on a command line.
#include <string>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::pkgkit {
namespace {

constexpr bool is_name_separator(char c) noexcept { return c == '-' || c == '_' || c == '.'; }

bool is_whole_name(std::string_view text) noexcept {
    return !text.empty() && distribution_name_length(text) == text.size();
}

}  // namespace

std::size_t distribution_name_length(std::string_view text) noexcept {
    if (text.empty() || !text::is_ascii_alnum(text.front())) return 0;
    std::size_t end = 1;  // just after the last letter or digit taken
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text::is_ascii_alnum(text[i])) {
            end = i + 1;
        } else if (!is_name_separator(text[i])) {
            break;
        }
    }
    return end;
}

std::optional<PackageText> parse_package_text(std::string_view text) {
    const std::size_t open = text.find('[');
    const std::string_view name = text.substr(0, open);
    if (!is_whole_name(name)) return std::nullopt;
    PackageText parsed{std::string(name), {}};
    if (open == std::string_view::npos) return parsed;
    if (text.back() != ']') return std::nullopt;

    // One or more extras separated by commas, blanks allowed around each; blanks alone are none.
    std::string_view extras = text.substr(open + 1, text.size() - open - 2);
    if (text::trim_blanks(extras).empty()) return parsed;
    for (;;) {
        const std::size_t comma = extras.find(',');
        const std::string_view extra = text::trim_blanks(extras.substr(0, comma));
        if (!is_whole_name(extra)) return std::nullopt;
        parsed.extras.emplace_back(extra);
        if (comma == std::string_view::npos) return parsed;
        extras.remove_prefix(comma + 1);
    }
}

}  // namespace tessel_installer::pkgkit
