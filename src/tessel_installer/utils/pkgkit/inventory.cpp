// The inventory of the target environment and the newest version an index offers.
#include <cstdio>
#include <string_view>

#include "tessel_installer/constants.hpp"

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/pyenv.hpp"
#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/pkgkit/pip_child.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::pkgkit {
namespace {

// One line before the package's progress line: the index offered a version that cannot be a pin.
void _print_ignored_version(const std::string& package_name, const std::string& listed) {
    const std::string line = "Warning: the index lists " + text::terminal_safe(listed) +
                             " as the newest version of " + text::terminal_safe(package_name) +
                             ", which is not a valid version; it is ignored and not pinned.\n";
    if (std::fputs(line.c_str(), stdout) == EOF || std::fflush(stdout) == EOF) {
        throw OSError("cannot write to standard output");
    }
}

}  // namespace

std::vector<std::string> list_current_installed_packages() {
    std::vector<std::string> names;
    for (auto& dist : pyenv::installed_distributions()) names.push_back(std::move(dist.name));
    return names;
}

OrderedMap<std::string> list_current_installed_packages_with_their_version() {
    OrderedMap<std::string> versions;
    for (auto& dist : pyenv::installed_distributions()) versions.set(dist.name, std::move(dist.version));
    return versions;
}

std::optional<std::string> get_latest_package_version(const std::string& package_name,
                                                      const std::optional<std::string>& index_url) {
    return look_up_latest_package_version(package_name, index_url).version;
}

VersionLookUp look_up_latest_package_version(const std::string& package_name,
                                             const std::optional<std::string>& index_url) {
    std::vector<std::string> cmd{pyenv::interpreter_path(), "-m", "pip", "index", "versions",
                                 package_name};
    if (index_url && !index_url->empty()) {
        cmd.push_back("--index-url");
        cmd.push_back(*index_url);
        // The same trusted hosts as the install: a certificate pip cannot check would otherwise
        // fail the look-up silently and leave the install unpinned.
        for (const auto host : constants::TRUSTED_HOSTS) {
            cmd.emplace_back("--trusted-host");
            cmd.emplace_back(host);
        }
    }
    // The user's quiet mode and extra package sources must not decide what is read or found.
    const auto done = platform::run(
        cmd, {platform::Stream::Capture, platform::Stream::Capture, lookup_environment()});
    // A failed look-up leaves the package unpinned; what the index asked for is kept for the
    // line after the summary.
    if (done.returncode != 0) {
        return {.version = std::nullopt,
                // The prompt goes to standard output, the traceback to standard error.
                .index_asked_for_credentials =
                    index_asked_for_credentials(done.out + "\n" + done.err)};
    }

    const IndexListing listing = read_index_versions(done.out);
    if (!listing.has_line) {
        throw RuntimeError("pip printed no \"Available versions: \" line: " +
                           mask_url_credentials(tessel_installer::text::join(cmd, " ")) +
                           (done.out.empty() ? std::string(" (no output)")
                                             : "\n" + mask_url_credentials(done.out)));
    }
    if (!listing.version) {
        _print_ignored_version(package_name, listing.listed);
    }
    return {.version = listing.version};
}

}  // namespace tessel_installer::pkgkit
