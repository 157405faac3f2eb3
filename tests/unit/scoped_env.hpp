// Test helpers: environment variables set for one test and restored after it, and a fresh
// temporary directory per test.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace tessel_test {

// Sets or clears environment variables and puts the old values back when it goes.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const std::string& name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        apply(name, value);
    }
    ~ScopedEnv() {
        for (const auto& [name, value] : saved_) apply(name, value);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

// A new, empty directory under the system's temporary directory; empty path on failure.
inline std::filesystem::path make_temp_dir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

}  // namespace tessel_test
