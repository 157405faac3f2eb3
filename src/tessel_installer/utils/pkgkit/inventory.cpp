// The inventory of the target environment and the newest version an index offers.
#include <string_view>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/pyenv.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

namespace tessel_installer::pkgkit {
namespace {

constexpr std::string_view kAvailablePrefix = "Available versions: ";

// Splits text into lines at every line break Python's str.splitlines() knows: \n, \r\n, \r, \v,
// \f, the file/group/record separators, and (in UTF-8) NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t width = 0;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            width = (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        } else if (c == '\n' || c == '\v' || c == '\f' || c == 0x1c || c == 0x1d || c == 0x1e) {
            width = 1;
        } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
            width = 2;
        } else if (c == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xa8 ||
                    static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
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

std::string command_text(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& arg : args) {
        if (!text.empty()) text += ' ';
        text += arg;
    }
    return text;
}

}  // namespace

std::vector<std::string> list_current_installed_packages() {
    std::vector<std::string> names;
    for (auto& dist : pyenv::installed_distributions()) names.push_back(std::move(dist.name));
    return names;
}

OrderedMap<std::string> list_current_installed_packages_with_their_version() {
    OrderedMap<std::string> versions;
    for (auto& dist : pyenv::installed_distributions()) versions.set(dist.name, std::move(dist.version));
    return versions;
}

std::optional<std::string> get_latest_package_version(const std::string& package_name,
                                                      const std::optional<std::string>& index_url) {
    std::vector<std::string> cmd{pyenv::interpreter_path(), "-m", "pip", "index", "versions",
                                 package_name};
    if (index_url && !index_url->empty()) {
        cmd.push_back("--index-url");
        cmd.push_back(*index_url);
    }
    const auto done =
        platform::run(cmd, {platform::Stream::Capture, platform::Stream::Capture});
    if (done.returncode != 0) return std::nullopt;

    for (std::string_view line : split_lines(done.out)) {
        if (line.substr(0, kAvailablePrefix.size()) != kAvailablePrefix) continue;
        std::string text_versions;
        for (std::size_t pos = 0;;) {
            std::size_t hit = line.find(kAvailablePrefix, pos);
            text_versions.append(line.substr(pos, hit == std::string_view::npos ? hit : hit - pos));
            if (hit == std::string_view::npos) break;
            pos = hit + kAvailablePrefix.size();
        }
        // pip lists the newest version first; the piece is taken as it stands.
        return text_versions.substr(0, text_versions.find(','));
    }
    throw RuntimeError("pip printed no \"Available versions: \" line: " + command_text(cmd) +
                       (done.out.empty() ? std::string(" (no output)") : "\n" + done.out));
}

}  // namespace tessel_installer::pkgkit
