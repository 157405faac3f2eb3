// Lines, in-place writes and the fixed messages after a run. Everything goes through C stdio on
// standard output, so the animation's in-place writes and whole lines keep their order.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#if defined(__GLIBC__) || defined(__linux__)
#include <stdio_ext.h>
#endif
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::termwrite {
namespace {

std::string write_error_text(int error) {
    return "[Errno " + std::to_string(error) + "] " + std::strerror(error) +
           ": cannot write to standard output";
}

// Drops what is still buffered for standard output: after a failed write it cannot be delivered,
// and trying again at exit would only report the same failure twice.
void discard_buffered_output() noexcept {
#if defined(__GLIBC__) || defined(__linux__)
    __fpurge(stdout);
#elif defined(__APPLE__)
    fpurge(stdout);
#endif
}

// A failed write to the terminal is the caller's problem, not something to swallow here.
[[noreturn]] void raise_write_error() {
    const int error = errno;
    discard_buffered_output();
    std::clearerr(stdout);
    throw OSError(write_error_text(error));
}

void write_out(std::string_view text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        raise_write_error();
    }
}

// A message after an empty line, from its parts.
void print_note(std::initializer_list<std::string_view> parts) {
    std::string note = "\n";
    for (const auto part : parts) note += part;
    print_message(note);
}

}  // namespace

void print_with_flush(std::string_view text) {
    write_out(text);
    if (std::fflush(stdout) != 0) raise_write_error();
}

void print_message(std::string_view message) {
    write_out(message);
    if (std::fputc('\n', stdout) == EOF) raise_write_error();
}

void print_warning_base_connector_package_installed() {
    print_message(
        "\nWarning: In order to use Birch, you'll need to install database-specific packages. "
        "Please "
        "use the `--options` flag to specify your database variants.");
}

void print_additional_dependencies_installed(const std::set<std::string>& additional_dependencies) {
    if (additional_dependencies.empty()) return;
    auto name = additional_dependencies.begin();
    std::string names = *name;
    while (++name != additional_dependencies.end()) names += ", " + *name;
    print_note({constants::ADDITIONAL_DEPS_MESSAGE_PREFIX, " (", names, ")."});
}

bool all_succeeded(const PackageStatus& package_status) noexcept {
    for (const auto& [package, succeeded] : package_status) {
        if (!succeeded) return false;
    }
    return true;
}

void print_package_summary(PipAction action, const PackageStatus& package_status,
                           bool tessel_included) {
    const std::string_view key = constants::message_key(action);
    const auto message = !all_succeeded(package_status) ? constants::SUMMARY_WARNING_MESSAGE.find(key)
                         : tessel_included ? constants::SUMMARY_SUCCESS_MESSAGE.find(key)
                                           : constants::SUMMARY_PARTIAL_SUCCESS_MESSAGE.find(key);
    if (message) print_note({*message});
}

void print_index_asked_for_credentials(std::string_view index) {
    print_note({constants::INDEX_CREDENTIALS_MESSAGE_PREFIX, index,
                constants::INDEX_CREDENTIALS_MESSAGE_SUFFIX});
}

std::optional<std::string> close_standard_output() {
    // A write that failed earlier through the C++ stream (help) left only the stream's error flag;
    // its cause is what errno still says, as nothing else has failed since.
    const int earlier = errno;
    const bool failed_before = std::ferror(stdout) != 0;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0 && !failed_before;
    int error = errno != 0 ? errno : failed_before ? earlier : 0;
#if !defined(_WIN32)
    // Some file systems report a failed write only when the file is closed; closing a duplicate
    // asks for that report and leaves the stream itself usable for whatever runs at exit.
    bool closed = true;
    if (flushed) {
        const int duplicate = ::dup(STDOUT_FILENO);
        if (duplicate >= 0 && ::close(duplicate) != 0 && errno != EINTR) {
            closed = false;
            error = errno;
        }
    }
#else
    const bool closed = true;
#endif
    if (flushed && closed) return std::nullopt;
    discard_buffered_output();
    std::clearerr(stdout);
    return write_error_text(error != 0 ? error : EIO);
}

}  // namespace tessel_installer::termwrite
