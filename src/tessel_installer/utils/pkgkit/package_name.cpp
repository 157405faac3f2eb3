// Package names from file paths: the folder install hands over whatever files it found, so only
// ".whl" and ".tar.gz" names are parsed and every other file keeps its own base name.
#include <string>

#include "tessel_installer/utils/pkgkit/filenames.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::pkgkit {
namespace {

constexpr bool is_path_separator(char c) noexcept {
#if defined(_WIN32)
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The text after the last separator; the whole text when there is none.
std::string_view after_last_separator(std::string_view path) noexcept {
    for (std::size_t k = path.size(); k > 0; --k) {
        if (is_path_separator(path[k - 1])) return path.substr(k);
    }
    return path;
}

// The final component of a pure path: empty and "." components are skipped, so trailing
// separators and a trailing "/." do not count; ".." is a component like any other.
std::string_view last_component(std::string_view path) noexcept {
#if defined(_WIN32)
    if (path.size() >= 2 && path[1] == ':' && text::is_ascii_alpha(path[0])) path.remove_prefix(2);
#endif
    std::size_t end = path.size();
    while (end > 0) {
        std::size_t start = end;
        while (start > 0 && !is_path_separator(path[start - 1])) --start;
        const auto component = path.substr(start, end - start);
        if (!component.empty() && component != ".") return component;
        if (start == 0) break;
        end = start - 1;
    }
    return {};
}

}  // namespace

std::string clean_path(std::string_view path) {
    return text::to_lower(text::trim_unicode_space(path));
}

std::optional<std::string> get_package_name(std::string_view file_path) {
    if (text::trim_unicode_space(file_path).empty()) return std::nullopt;
    const std::string cleaned = clean_path(file_path);
    const std::string_view path = cleaned;

    if (path.ends_with(".whl")) return parse_wheel_filename(after_last_separator(path)).name;
    if (path.ends_with(".tar.gz")) return parse_sdist_filename(after_last_separator(path)).name;
    return std::string(last_component(path));
}

}  // namespace tessel_installer::pkgkit
