// Certificate authorities and proxy for the catalogue request, taken where pip takes them.
#include "tessel_installer/installation/trust_store.hpp"

#include <curl/curl.h>

#include <filesystem>
#include <set>

#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/utils/pkgkit/pip_child.hpp"

namespace tessel_installer::installer {
namespace {

std::optional<std::string> _set(const PipConfigPlaces& places, const char* name) {
    std::optional<std::string> value = places.environment ? places.environment(name) : std::nullopt;
    if (value && value->empty()) return std::nullopt;
    return value;
}

}  // namespace

TrustStore _choose_trust_store(
    const PipConfigPlaces& places,
    const std::function<std::optional<std::string>(const std::string&)>& read_file,
    const std::function<bool(const std::string&)>& is_directory) {
    auto store = [&](const std::string& path, std::string source) {
        TrustStore trust;
        (is_directory(path) ? trust.ca_dir : trust.ca_file) = path;
        trust.source = std::move(source);
        return trust;
    };
    if (std::optional<PipSetting> cert = _pip_setting(places, "cert", "install", read_file)) {
        return store(cert->value,
                     cert->source == "PIP_CERT" ? cert->source : "cert in " + cert->source);
    }
    for (const char* name : {"REQUESTS_CA_BUNDLE", "CURL_CA_BUNDLE"}) {
        if (auto path = _set(places, name)) return store(*path, name);
    }
    TrustStore trust;
    if (auto file = _set(places, "SSL_CERT_FILE")) {
        trust.ca_file = *file;
        trust.source = "SSL_CERT_FILE";
    }
    if (auto dir = _set(places, "SSL_CERT_DIR")) {
        trust.ca_dir = *dir;
        trust.source += trust.source.empty() ? "SSL_CERT_DIR" : " and SSL_CERT_DIR";
    }
    return trust;
}

std::optional<PipSetting> _pip_proxy(
    const PipConfigPlaces& places,
    const std::function<std::optional<std::string>(const std::string&)>& read_file) {
    // libcurl reads these itself (and no_proxy with them); pip's proxy is only a fallback.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (_set(places, name)) return std::nullopt;
    }
    return _pip_setting(places, "proxy", "install", read_file);
}

NetworkSettings _current_network_settings(std::string_view url) {
    const PipConfigPlaces places = _current_pip_config_places();
    NetworkSettings settings;
    settings.trust = _choose_trust_store(places, _read_text_file, [](const std::string& path) {
        std::error_code error;
        return std::filesystem::is_directory(std::filesystem::u8path(path), error);
    });
    settings.proxy = _pip_proxy(places, _read_text_file);
    if (settings.proxy) {
        settings.proxy_in_use = settings.proxy->value;
        return settings;
    }
    // The proxy libcurl takes from its own variables for this scheme.
    static constexpr const char* kHttps[] = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    static constexpr const char* kHttp[] = {"http_proxy", "all_proxy", "ALL_PROXY", nullptr};
    for (const char* name : url.rfind("https://", 0) == 0 ? kHttps : kHttp) {
        if (name == nullptr) break;
        if (auto value = platform::environment_variable(name); value && !value->empty()) {
            settings.proxy_in_use = *value;
            break;
        }
    }
    return settings;
}

void _apply_network_settings(void* curl_handle, const NetworkSettings& settings) {
    CURL* h = static_cast<CURL*>(curl_handle);
    if (settings.trust.ca_file) curl_easy_setopt(h, CURLOPT_CAINFO, settings.trust.ca_file->c_str());
#if !defined(_WIN32)
    // Schannel takes a bundle file only; a folder of certificates is OpenSSL's.
    if (settings.trust.ca_dir) curl_easy_setopt(h, CURLOPT_CAPATH, settings.trust.ca_dir->c_str());
#endif
#if LIBCURL_VERSION_NUM >= 0x075700  // 7.87.0
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
    if (settings.proxy) curl_easy_setopt(h, CURLOPT_PROXY, settings.proxy->value.c_str());
}

std::string _url_host(std::string_view url) {
    const std::size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = rest.rfind('@');
    return std::string(at == std::string_view::npos ? rest : rest.substr(at + 1));
}

std::string _explain_transfer_failure(int curl_code, std::string_view url, long connect_status,
                                      const NetworkSettings& settings) {
    const auto code = static_cast<CURLcode>(curl_code);
    if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
        code == CURLE_SSL_ISSUER_ERROR) {
        std::string text = " (the certificate of " + _url_host(url) + " was checked against ";
        if (settings.trust.source.empty()) {
            text += "the system's store";
        } else {
            text += pkgkit::mask_url_credentials(settings.trust.ca_file.value_or(
                        settings.trust.ca_dir.value_or(std::string()))) +
                    " from " + settings.trust.source;
        }
        text += "; looked at " + std::string(TRUST_STORE_PLACES) +
                ": name the certificate authority of your network in one of them)";
        return text;
    }
    const std::string_view proxy_in_use = settings.proxy_in_use;
    if (proxy_in_use.empty()) return {};
    // 200: the tunnel stood, and whatever failed after it is no fault of the proxy.
    const bool refused = connect_status != 0 && connect_status != 200;
    const bool unreached = code == CURLE_COULDNT_RESOLVE_PROXY || code == CURLE_COULDNT_CONNECT;
    // With no answer to a CONNECT (or a plain request, which the proxy answers itself), the
    // connection that ended is the one to the proxy.
    const bool cut = connect_status == 0 && (code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
                                             code == CURLE_GOT_NOTHING);
    if (!refused && !unreached && !cut) return {};
    std::string text = " (through the proxy " + pkgkit::mask_url_credentials(proxy_in_use);
    if (settings.proxy) text += " from " + settings.proxy->source;
    if (connect_status == 407) {
        // No scheme in the example: the notice masks credentials in every address it shows.
        text += ", which asks for credentials: put them in the proxy address, as "
                "user:password@host:port)";
    } else if (refused) {
        text += ", which refused the connection with status " + std::to_string(connect_status) + ")";
    } else if (cut) {
        text += ", which ended the connection without an answer)";
    } else {
        text += ", which could not be reached)";
    }
    return text;
}

bool _first_time_in_run(const std::string& notice) {
    static std::set<std::string> shown;
    return shown.insert(notice).second;
}

}  // namespace tessel_installer::installer
