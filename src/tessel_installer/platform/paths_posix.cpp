// Per-user directories on Linux (and other XDG systems) and macOS; the executable's directory.
#include "tessel_installer/platform/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include "tessel_installer/errors.hpp"

namespace tessel_installer::platform {
namespace {

// The home directory as a shell's "~" means it: $HOME when set (even when empty), else the
// password database. Trailing slashes are dropped so that "~/x" never becomes "//x"; a home of
// "" or "/" therefore yields "" and "~/x" becomes "/x".
std::optional<std::string> home_directory() {
    std::string home;
    if (const char* env = std::getenv("HOME")) {
        home = env;
    } else {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr || found->pw_dir == nullptr) {
            return std::nullopt;
        }
        home = found->pw_dir;
    }
    while (!home.empty() && home.back() == '/')
        home.pop_back();
    return home;
}

// "~/" + rest expanded; without any home the text stays as written, unexpanded.
std::string expand_home(std::string_view rest) {
    return home_directory().value_or("~") + "/" + std::string(rest);
}

std::filesystem::path below(const std::string& base, const std::string& app_name) {
    std::filesystem::path dir(base);
    if (!app_name.empty()) dir /= app_name;
    return dir;
}

}  // namespace

std::filesystem::path user_data_dir(const std::string& app_name, const std::string& app_author) {
    (void)app_author;  // only the Windows layout has an author level
#if defined(__APPLE__)
    return below(expand_home("Library/Application Support"), app_name);
#else
    // Only an absolute path counts: a relative one (or an empty or blank value) would name a
    // different folder in every working directory, so it is ignored as if unset.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return below(xdg, app_name);
    return below(expand_home(".local/share"), app_name);
#endif
}

std::filesystem::path executable_dir() {
#if defined(__APPLE__)
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> raw(size + 1, '\0');
    if (_NSGetExecutablePath(raw.data(), &size) != 0) {
        throw OSError("Cannot determine the path of the running program");
    }
    char resolved[PATH_MAX];
    if (realpath(raw.data(), resolved) == nullptr) {
        throw OSError(std::string("Cannot resolve the path of the running program '") + raw.data() +
                      "': " + std::strerror(errno));
    }
    return std::filesystem::path(resolved).parent_path();
#else
    // The kernel keeps the program's resolved absolute path behind this link.
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw OSError("Cannot determine the path of the running program: " + error.message());
    }
    return exe.parent_path();
#endif
}

}  // namespace tessel_installer::platform
