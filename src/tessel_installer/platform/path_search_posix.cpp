// Finding a program on PATH the way the shell does: the first directory holding an executable
// regular file of that name wins; an empty entry stands for the working directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "tessel_installer/platform/process.hpp"

namespace tessel_installer::platform {
namespace {

bool is_executable_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::string> find_on_path(const std::string& name, PathSearchNotes*) {
    if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
    const char* path_env = std::getenv("PATH");
    if (path_env == nullptr) return std::nullopt;
    std::string_view rest(path_env);
    for (;;) {
        std::size_t colon = rest.find(':');
        std::string_view dir = rest.substr(0, colon);
        std::string candidate = dir.empty() ? name : std::string(dir) + "/" + name;
        if (is_executable_file(candidate)) {
            // Absolute, but links are kept: a venv's interpreter is a link that must stay in the venv.
            std::error_code ec;
            std::filesystem::path absolute = std::filesystem::absolute(candidate, ec);
            if (!ec) return absolute.lexically_normal().string();
        }
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

}  // namespace tessel_installer::platform
