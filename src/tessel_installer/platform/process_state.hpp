// What a child process holds on every platform. process_posix.cpp and process_win32.cpp each
// derive their own state from it; process.cpp implements what only needs this part.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tessel_installer/platform/process.hpp"

namespace tessel_installer::platform {

struct Process::Impl {
    virtual ~Impl() = default;

    long pid = -1;
    std::vector<std::string> args;
    std::string out_text;  // captured text, complete once the child has ended
    std::string err_text;
    std::optional<int> returncode;  // set once the child has ended and its output is read
    int passed_on = 0;              // the termination request passed on to the child, once
};

}  // namespace tessel_installer::platform
