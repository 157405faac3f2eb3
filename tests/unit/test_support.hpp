// Helpers of the unit tests: environment variables set for one test and restored after it, a fresh
// temporary directory per test (kept when the test fails, for a look), whole files written and
// read, look-ups in a fixed table, standard output captured, the program's interrupt handlers for
// the length of a test, and on POSIX a command's output.
#pragma once

#include <stdlib.h>
#include <unistd.h>
#if defined(_WIN32)
#include <process.h>
#else
#include <signal.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "tessel_installer/platform/signals.hpp"

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

// A fresh temporary directory for as long as the object lives; removed at its end unless the
// running test has failed, and then named on standard error.
class TempDir {
public:
    explicit TempDir(const std::string& prefix) : path_(make_temp_dir(prefix)) {
        if (path_.empty()) throw std::runtime_error("no temporary directory for " + prefix);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        if (::testing::Test::HasFailure()) {
            std::fprintf(stderr, "kept %s\n", path_.string().c_str());
        } else {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Writes the file whole, its folders first.
inline void write_file(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A look-up in a fixed table (environment variables, files by path): none for a missing key.
inline auto lookup_in(std::map<std::string, std::string> table) {
    return [table = std::move(table)](const std::string& key) -> std::optional<std::string> {
        const auto it = table.find(key);
        if (it == table.end()) return std::nullopt;
        return it->second;
    };
}

// A /bin/sh script with the body, executable unless asked otherwise.
inline std::filesystem::path write_script(const std::filesystem::path& path,
                                          const std::string& body, bool executable = true) {
    write_file(path, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms(executable ? 0755 : 0644));
    return path;
}

// Captures everything written to standard output (C stdio, iostreams and the raw descriptor) into
// an anonymous temporary file for the lifetime of the object.
class CapturedStdout {
public:
    CapturedStdout() {
        std::cout.flush();
        std::fflush(stdout);
        file_ = std::tmpfile();
        if (file_ == nullptr) throw std::runtime_error("tmpfile failed");
        saved_ = ::dup(STDOUT_FILENO);
        if (saved_ < 0 || ::dup2(::fileno(file_), STDOUT_FILENO) < 0) {
            throw std::runtime_error("redirecting standard output failed");
        }
    }
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;
    ~CapturedStdout() {
        restore();
        if (file_ != nullptr) std::fclose(file_);
    }

    // Stops capturing and returns what was written.
    std::string text() {
        restore();
        return so_far();
    }

    // What has reached the file so far, capturing on: standard output is not flushed for it, so
    // it holds only what the code under test flushed itself.
    std::string so_far() const {
        std::string out;
        std::rewind(file_);
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
            out.append(buffer, n);
        return out;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

#if !defined(_WIN32)
// The standard output of a shell command line, or none when it could not be started or failed.
inline std::optional<std::string> command_output(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    if (::pclose(pipe) != 0) return std::nullopt;
    return out;
}
#endif

// The program's interrupt handlers for the lifetime of the object, with no signal pending; at its
// end whatever was recorded meanwhile is cleared, and on POSIX the dispositions from before return.
class InterruptHandlers {
public:
    InterruptHandlers() {
#if !defined(_WIN32)
        for (int k = 0; k < 3; ++k) ::sigaction(kSignals[k], nullptr, &saved_[k]);
#endif
        tessel_installer::platform::install_interrupt_handlers();
        tessel_installer::platform::clear_pending_interrupt();
    }
    InterruptHandlers(const InterruptHandlers&) = delete;
    InterruptHandlers& operator=(const InterruptHandlers&) = delete;
    ~InterruptHandlers() {
        tessel_installer::platform::clear_pending_interrupt();
#if !defined(_WIN32)
        for (int k = 0; k < 3; ++k) ::sigaction(kSignals[k], &saved_[k], nullptr);
#endif
    }

private:
#if !defined(_WIN32)
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction saved_[3] {};
#endif
};

}  // namespace tessel_test
