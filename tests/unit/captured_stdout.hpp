// Captures everything written to standard output (C stdio, iostreams and the raw descriptor) into
// an anonymous temporary file for the lifetime of the object.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

namespace tessel_installer::testing {

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

}  // namespace tessel_installer::testing
