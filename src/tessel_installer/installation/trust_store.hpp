// The network settings the catalogue request shares with pip: the certificate authorities (from
// the same places as pip, in pip's order) and the proxy named the pip way, plus the wording of a
// failure that comes from either.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tessel_installer/installation/pip_config.hpp"

namespace tessel_installer::installer {

// The certificate authorities a request trusts: a bundle file or a folder of hashed certificates,
// or (both none) the system's store.
struct TrustStore {
    std::optional<std::string> ca_file;
    std::optional<std::string> ca_dir;
    std::string source;  // the variable or config file it came from; empty for the system store
};

// The places looked at, in order, as the failure message names them.
inline constexpr std::string_view TRUST_STORE_PLACES =
    "PIP_CERT, a pip config's cert, REQUESTS_CA_BUNDLE, CURL_CA_BUNDLE, SSL_CERT_FILE, SSL_CERT_DIR";

// pip's order: --cert's sources (PIP_CERT, a pip config's cert), REQUESTS_CA_BUNDLE,
// CURL_CA_BUNDLE; then OpenSSL's own SSL_CERT_FILE and SSL_CERT_DIR; else the system store.
// `is_directory` tells a folder (taken as a certificate folder, as pip does) from a file.
TrustStore _choose_trust_store(const PipConfigPlaces& places,
                               const std::function<std::optional<std::string>(const std::string&)>& read_file,
                               const std::function<bool(const std::string&)>& is_directory);

// The proxy of the catalogue request when no proxy variable is set: pip's (PIP_PROXY, a pip
// config's proxy), or none.
std::optional<PipSetting> _pip_proxy(
    const PipConfigPlaces& places,
    const std::function<std::optional<std::string>(const std::string&)>& read_file);

// The network settings of this process for a request to one address, read once per request.
struct NetworkSettings {
    TrustStore trust;
    std::optional<PipSetting> proxy;  // set only when libcurl's own variables name none
    std::string proxy_in_use;         // the proxy the request goes through (empty: none)
};
NetworkSettings _current_network_settings(std::string_view url);

// Sets the certificate authorities, the pip proxy and the quick clean-up (a resolver thread still
// at work on a slow name is not waited for) on a handle.
void _apply_network_settings(void* curl_handle, const NetworkSettings& settings);

// The host[:port] of a URL, without credentials.
std::string _url_host(std::string_view url);

// What a failed transfer means, added to libcurl's words: for a certificate problem the host and
// the places looked at; for a refused proxy tunnel the proxy (credentials masked) and the cause.
// `connect_status` is the proxy's answer to CONNECT (0: none). Empty when there is nothing to add.
std::string _explain_transfer_failure(int curl_code, std::string_view url, long connect_status,
                                      const NetworkSettings& settings);

// True the first time in this run that `notice` is offered: a notice printed once is not printed
// again for the second fetch of the same run.
bool _first_time_in_run(const std::string& notice);

}  // namespace tessel_installer::installer
