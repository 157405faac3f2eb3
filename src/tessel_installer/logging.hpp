// The units' diagnostic loggers. Nothing configures log output, so debug records are dropped and
// error records reach standard error as their bare text.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "tessel_installer/terminal_text.hpp"

namespace tessel_installer {

class Logger {
public:
    explicit constexpr Logger(std::string_view name) : name_(name) {}

    std::string_view name() const noexcept { return name_; }

    // Nothing shows debug records, so the parts of one are never joined into a text.
    template <typename... Parts>
    void debug(const Parts&...) const noexcept {}

    // The message names files and carries what the system said about them: one line, rendered
    // terminal-safe.
    void error(std::string_view message) const noexcept {
        std::string line;
        try {
            line = text::terminal_safe(message);
        } catch (...) {
            line = "(a diagnostic that could not be rendered)";
        }
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    std::string_view name_;
};

}  // namespace tessel_installer
