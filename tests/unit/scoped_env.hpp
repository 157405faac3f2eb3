// Test helpers: environment variables set for one test and restored after it, and a fresh
// temporary directory per test.
#pragma once

#include <stdlib.h>
#if defined(_WIN32)
#include <process.h>
#endif

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
#if defined(_WIN32)
            const wchar_t* wide_old = _wgetenv(widen(name).c_str());
            const char* old = nullptr;
            std::string narrow_old;
            if (wide_old) {
                const auto text = std::filesystem::path(wide_old).u8string();
                narrow_old.assign(text.begin(), text.end());
                old = narrow_old.c_str();
            }
#else
            const char* old = std::getenv(name.c_str());
#endif
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        apply(name, value);
    }
    ~ScopedEnv() {
        for (const auto& [name, value] : saved_) apply(name, value);
    }

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
#if defined(_WIN32)
        // The wide form, so UTF-8 values arrive whole; it updates the C runtime's copy and the
        // process environment that GetEnvironmentVariableW reads. An empty value removes the
        // variable on Windows, so an empty value cannot be tested there.
        const std::wstring wide_name = widen(name);
        _wputenv_s(wide_name.c_str(), value ? widen(*value).c_str() : L"");
#else
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
#endif
    }
#if defined(_WIN32)
    static std::wstring widen(const std::string& text) {
        const std::u8string utf8(text.begin(), text.end());
        return std::filesystem::path(utf8).wstring();
    }
#endif
    std::map<std::string, std::optional<std::string>> saved_;
};

// A new, empty directory under the system's temporary directory; empty path on failure.
inline std::filesystem::path make_temp_dir(const std::string& prefix) {
#if defined(_WIN32)
    // No mkdtemp: try names until one can be created (create_directory fails on an existing one).
    for (unsigned k = 0; k < 1000; ++k) {
        const auto dir = std::filesystem::temp_directory_path() /
                         (prefix + "-" + std::to_string(_getpid()) + "-" + std::to_string(k));
        std::error_code error;
        if (std::filesystem::create_directory(dir, error)) return dir;
    }
    return {};
#else
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
#endif
}

}  // namespace tessel_test
