// The units' diagnostic loggers. Nothing configures log output, so debug records are dropped and
// error records reach standard error as their bare text.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tessel_installer {

class Logger {
public:
    explicit constexpr Logger(std::string_view name) : name_(name) {}

    std::string_view name() const noexcept { return name_; }

    void debug(std::string_view) const noexcept {}

    void error(std::string_view message) const noexcept {
        std::fwrite(message.data(), 1, message.size(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    std::string_view name_;
};

}  // namespace tessel_installer
