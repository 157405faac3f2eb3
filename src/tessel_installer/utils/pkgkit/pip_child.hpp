// What the program asks of a pip child beyond its arguments: the environment that keeps the
// user's own pip settings from changing what the child reads or where it gets packages, the
// reading of the version look-up's output, and the masking of credentials in addresses.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessel_installer::pkgkit {

using EnvironmentSettings = std::vector<std::pair<std::string, std::string>>;

// For the children of managed packages (the look-up, install, download): the user's extra
// package sources (extra-index-url, find-links, from config files or PIP_* variables) switched
// off. pip ignores an empty value, so the override is a blank, which it reads as an empty list;
// pip's environment variables take precedence over every config file.
EnvironmentSettings vendor_sources_only();

// For the version look-up: vendor_sources_only() with quiet mode neutralised, since the
// "Available versions: " line it reads is what quiet mode suppresses, and with pip's no-input
// setting turned off, so that an index that asks for credentials makes pip ask its question: it
// then names the question where it refuses to ask (a PIP_NO_INPUT in the environment), or its
// prompt meets the input, the null device. With no-input on, pip would say only that it found
// nothing.
EnvironmentSettings lookup_environment();

// True when pip's output shows that an index asked for credentials that pip could not supply: a
// 401 reply, or pip's question for a user name or password, refused or met by the closed input.
bool index_asked_for_credentials(std::string_view pip_output);

// The version look-up's output read: the newest version pip listed, when it is a PEP 440
// version. `listed` is the piece pip printed first (empty when no "Available versions: " line).
struct IndexListing {
    bool has_line = false;
    std::string listed;
    std::optional<std::string> version;  // `listed` when valid; none otherwise
};
IndexListing read_index_versions(std::string_view pip_output);

// `text` with the password of every URL's credentials shown as "****" (a user name alone, which
// may be a token, is masked whole), as pip shows them.
std::string mask_url_credentials(std::string_view text);

}  // namespace tessel_installer::pkgkit
