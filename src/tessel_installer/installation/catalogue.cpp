// The catalogue of the package service and the resolution of --package/--options against it.
//
// One POST per call, nothing cached. The transfer only gathers what came back; reading that reply
// decides between the catalogue and the reason for failing. Every way the request can go wrong
// (transport, status, size, a reply that is not the expected shape) ends in one printed notice
// naming the address and what was wrong, and in none; the callers decide what none means.
#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>

#include "tessel_installer/config.hpp"
#include "tessel_installer/constants.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/catalogue.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/installation/trust_store.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/pkgkit/pip_child.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"

namespace tessel_installer::installer {

namespace {

using nlohmann::json;

// ---- libcurl handles ----------------------------------------------------------------------------

struct EasyDeleter {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct HeaderListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// A multi handle with the one easy handle it drives; removed and cleaned up in that order.
class MultiTransfer {
public:
    explicit MultiTransfer(CURL* easy) : multi_(curl_multi_init()), easy_(easy) {
        if (multi_ != nullptr && curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
            curl_multi_cleanup(multi_);
            multi_ = nullptr;
        }
    }
    ~MultiTransfer() {
        if (multi_ == nullptr) return;
        curl_multi_remove_handle(multi_, easy_);
        curl_multi_cleanup(multi_);
    }
    MultiTransfer(const MultiTransfer&) = delete;
    MultiTransfer& operator=(const MultiTransfer&) = delete;
    CURLM* get() const noexcept { return multi_; }

private:
    CURLM* multi_;
    CURL* easy_;
};

// How long one wait for the connection may last before the interrupt flag is looked at again: a
// request on a silent connection is abandoned this soon after Ctrl-C or a termination request.
constexpr int kInterruptCheckMs = 50;

// Runs the transfer to its end, or until a signal of ours is recorded, which abandons it: the
// user asked to stop, and what the request would have said no longer matters.
CURLcode _perform_interruptibly(CURL* easy) {
    MultiTransfer transfer(easy);
    if (transfer.get() == nullptr) return CURLE_OUT_OF_MEMORY;
    for (int running = 1;;) {
        platform::throw_if_interrupted();
        if (curl_multi_perform(transfer.get(), &running) != CURLM_OK) return CURLE_FAILED_INIT;
        if (running == 0) break;
        // A signal cuts the wait short; anything else that goes wrong shows in the next perform.
        curl_multi_poll(transfer.get(), nullptr, 0, kInterruptCheckMs, nullptr);
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(transfer.get(), &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            return message->data.result;
        }
    }
    return CURLE_FAILED_INIT;
}

// libcurl wants its global set-up done once before the first handle; a function-local static runs
// it exactly once and keeps no state anyone changes afterwards.
bool _curl_ready() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

// Appends one header line; false when libcurl could not allocate it (the list stays intact).
bool _append_header(HeaderList& list, const std::string& line) {
    curl_slist* head = curl_slist_append(list.get(), line.c_str());
    if (head == nullptr) return false;
    static_cast<void>(list.release());
    list.reset(head);
    return true;
}

// Collects the reply body up to a limit. A reply that would go beyond it stops the transfer: the
// catalogue is a short list, and a huge reply is a broken or hostile service, not one to buffer.
struct ReplySink {
    std::string body;
    std::size_t limit = 0;
    bool too_large = false;
};

std::size_t _write_reply(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto* sink = static_cast<ReplySink*>(user);
    const std::size_t length = size * count;
    if (length > sink->limit - sink->body.size()) {
        sink->too_large = true;
        return 0;  // anything but `length` makes libcurl abort with CURLE_WRITE_ERROR
    }
    try {
        sink->body.append(data, length);
    } catch (...) {
        return 0;  // an exception must not unwind through libcurl's C frames
    }
    return length;
}

std::string _size_text(std::size_t bytes) {
    constexpr std::size_t mebibyte = 1024 * 1024;
    if (bytes >= mebibyte && bytes % mebibyte == 0)
        return std::to_string(bytes / mebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

constexpr std::string_view kFetchFailure = "Could not fetch the list of packages from ";

// The reason may carry what the service said (a redirect's target, a certificate's names):
// shown, never obeyed by the terminal.
void _print_fetch_failure(const std::string& url, std::string_view reason) {
    std::string notice(kFetchFailure);
    notice += text::terminal_safe(pkgkit::mask_url_credentials(url));
    notice += ": ";
    notice += text::terminal_safe(pkgkit::mask_url_credentials(reason));
    if (_first_time_in_run(notice)) termwrite::print_message(notice);
}

// The body the service receives: who is asking. It carries no secrets; credentials travel in the
// configured header lines.
std::string _request_body() {
    const json body = {{"client", "tessel-installer"},
                       {"client_version", std::string(config::PROGRAM_VERSION)}};
    return body.dump();
}

// A name quoted for a notice: JSON escapes keep control characters off the terminal, and a very
// long name is cut so the notice stays one readable line.
std::string _quoted_name(const std::string& name) {
    constexpr std::size_t shown = 60;
    std::string text = name.size() > shown ? name.substr(0, shown) + "..." : name;
    return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

CatalogueReading _failure(std::string problem) {
    return {std::nullopt, std::move(problem)};
}

// The text of a member that must be a string, or none.
const std::string* _string_member(const json& element, const char* key) {
    const auto it = element.find(key);
    if (it == element.end() || !it->is_string()) return nullptr;
    return it->get_ptr<const std::string*>();
}

void _print_invalid_package(const std::string& package) {
    termwrite::print_message("Invalid package " + text::terminal_safe(package) +
                             " or no access to the given package.");
}

}  // namespace

// ---- Names --------------------------------------------------------------------------------------

// The name part of the package text grammar alone: no brackets.
bool _is_valid_package_name(std::string_view name) noexcept {
    return !name.empty() && pkgkit::distribution_name_length(name) == name.size();
}

// ---- Reading the reply --------------------------------------------------------------------------

CatalogueReading _parse_catalogue_reply(std::string_view body) {
    const json document = json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) return _failure("the reply is not JSON");
    if (!document.is_object()) return _failure("the reply is not a JSON object");

    PackageKinds catalogue;
    const auto packages = document.find("packages");
    if (packages == document.end()) return {std::move(catalogue), {}};
    if (!packages->is_array()) return _failure("the reply's \"packages\" is not an array");

    std::size_t position = 0;
    for (const json& element : *packages) {
        ++position;
        const std::string entry =
            "entry " + std::to_string(position) + " of the reply's \"packages\"";
        if (!element.is_object()) return _failure(entry + " is not an object");
        const std::string* name = _string_member(element, "package_name");
        if (name == nullptr) return _failure(entry + " has no text \"package_name\"");
        const std::string* kind = _string_member(element, "product_type");
        if (kind == nullptr) return _failure(entry + " has no text \"product_type\"");
        // Catalogue names end up as pip arguments; one pip would read as an option, or that is no
        // distribution name at all, means the reply cannot be trusted as a whole.
        if (!_is_valid_package_name(*name)) {
            return _failure(entry + " has an invalid package name " + _quoted_name(*name));
        }
        catalogue.set(*name, *kind);
    }
    return {std::move(catalogue), {}};
}

// ---- Fetching -----------------------------------------------------------------------------------

CatalogueRequest _configured_catalogue_request() {
    CatalogueRequest request;
    request.url = std::string(config::API_PACKAGE_PERMISSIONS);
    for (std::string_view line : config::HEADERS)
        request.headers.emplace_back(line);
    request.timeout = std::chrono::seconds(config::TIMEOUT);
    return request;
}

std::optional<PackageKinds> _get_accessible_packages(RunJournal* journal) {
    return _get_accessible_packages(_configured_catalogue_request(), journal);
}

std::optional<PackageKinds> _get_accessible_packages(const CatalogueRequest& request,
                                                     RunJournal* journal) {
    const CatalogueReply reply = _fetch_catalogue_reply(request);
    CatalogueReading fetched = _catalogue_from_reply(reply);
    // The address and the status only: the request's headers carry the credentials.
    if (journal != nullptr) {
        journal->log_catalogue(request.url, reply.status, fetched.packages ? "" : fetched.problem);
    }
    if (!fetched.packages) _print_fetch_failure(request.url, fetched.problem);
    return std::move(fetched.packages);
}

PackageKinds _get_accessible_packages_or_raise() {
    const CatalogueRequest request = _configured_catalogue_request();
    CatalogueReading fetched = _catalogue_from_reply(_fetch_catalogue_reply(request));
    if (!fetched.packages) {
        // Rendered for the terminal where the error is shown, like every escaped error.
        throw RuntimeError(std::string(kFetchFailure) + pkgkit::mask_url_credentials(request.url) +
                           ": " + pkgkit::mask_url_credentials(fetched.problem));
    }
    return std::move(*fetched.packages);
}

CatalogueReply _fetch_catalogue_reply(const CatalogueRequest& request) {
    CatalogueReply reply;
    reply.max_reply_bytes = request.max_reply_bytes;
    EasyHandle easy(_curl_ready() ? curl_easy_init() : nullptr);
    if (!easy) {
        reply.transport_error = "the HTTP client could not be initialised";
        return reply;
    }

    HeaderList headers;
    bool headers_ok = true;
    for (const std::string& line : request.headers)
        headers_ok = headers_ok && _append_header(headers, line);
    headers_ok = headers_ok && _append_header(headers, "Content-Type: application/json");
    if (!headers_ok) {
        reply.transport_error = "out of memory while preparing the request";
        return reply;
    }

    const std::string body = _request_body();
    const std::string user_agent = "tessel-installer/" + std::string(config::PROGRAM_VERSION);
    ReplySink sink;
    sink.limit = request.max_reply_bytes;
    char error_text[CURL_ERROR_SIZE] = {};

    CURL* h = easy.get();
    // Options that cannot fail on a healthy libcurl; a failure shows up when the transfer runs.
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_USERAGENT, user_agent.c_str());
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    // The catalogue is fetched from the configured address only; a redirect elsewhere is reported,
    // never followed, and certificates are always verified.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // pip's certificate authorities and proxy, so that both halves of a run reach the same hosts.
    const NetworkSettings network = _current_network_settings(request.url);
    _apply_network_settings(h, network);
#if defined(_WIN32)
    // Schannel asks the certificate's revocation service, which is unreachable offline and behind
    // many proxies: that alone would fail every fetch. The chain and the name are still verified.
    curl_easy_setopt(h, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
#endif
    // A reply that announces its size is refused before any of it is read.
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(request.max_reply_bytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &_write_reply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_text);
    // Our own signal handlers stay in charge of SIGINT/SIGTERM; libcurl must not touch signals.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);

    const CURLcode result = _perform_interruptibly(h);
    if (result != CURLE_OK) {
        long connect_status = 0;
        curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connect_status);
        reply.transport_error =
            (error_text[0] != '\0' ? std::string(error_text) : curl_easy_strerror(result)) +
            _explain_transfer_failure(result, request.url, connect_status, network);
    }
    reply.too_large = sink.too_large || result == CURLE_FILESIZE_EXCEEDED;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply.status);
    // A plain-HTTP request through a proxy gets the proxy's own 407 as its status (often followed
    // by a reset, as the proxy closes with the body unread): the service never saw the request.
    if (reply.status == 407 && !network.proxy_in_use.empty()) {
        reply.transport_error =
            "the proxy answered with HTTP status 407" +
            _explain_transfer_failure(result, request.url, 407, network);
    }
    char* location = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location != nullptr)
        reply.redirect_url = location;
    reply.body = std::move(sink.body);
    return reply;
}

CatalogueReading _catalogue_from_reply(const CatalogueReply& reply) {
    // A reply cut short for its size still names its status when that status says more: an error
    // page that is too large is an error first.
    const bool status_known = reply.too_large && reply.status != 0 && reply.status != 200;
    if (reply.transport_error && !status_known) {
        if (reply.too_large) {
            return _failure("the reply is larger than " + _size_text(reply.max_reply_bytes));
        }
        return _failure(*reply.transport_error);
    }
    if (reply.status != 200) {
        std::string reason = "the service answered with HTTP status " + std::to_string(reply.status);
        if (reply.redirect_url) {
            reason += " (a redirect to ";
            reason += *reply.redirect_url;
            reason += ", which is not followed)";
        }
        return _failure(std::move(reason));
    }
    return _parse_catalogue_reply(reply.body);
}

// ---- Selection ----------------------------------------------------------------------------------

Selection _select_from_catalogue(const std::optional<PackageKinds>& catalogue,
                                 const OptionalText& package, const OptionalList& options) {
    if (!catalogue) return {std::nullopt, SelectionOutcome::FetchFailed};
    if (catalogue->empty()) return {std::nullopt, SelectionOutcome::EmptyCatalogue};

    if (!_non_empty(package)) return {*catalogue, SelectionOutcome::Selected};
    // Membership first, then the options: a package not on offer is refused even with extras.
    if (!catalogue->contains(*package)) {
        _print_invalid_package(*package);
        return {std::nullopt, SelectionOutcome::UnknownPackage};
    }
    if (options.has_value() && !options->empty()) {
        PackageKinds selection;
        for (const std::string& option : *options) {
            const std::string text = *package + "[" + option + "]";
            // The option becomes part of a pip argument: anything that is not an extra name
            // (a blank, a bracket, a comma, a leading '-') would change what pip is asked to do.
            if (!_is_valid_package_name(option)) {
                _print_invalid_package(text);
                return {std::nullopt, SelectionOutcome::UnknownPackage};
            }
            selection.set(text, std::string(constants::value_of(constants::ProductType::BUNDLE)));
        }
        return {std::move(selection), SelectionOutcome::Selected};
    }
    PackageKinds selection;
    selection.set(*package, *catalogue->find(*package));
    return {std::move(selection), SelectionOutcome::Selected};
}

Selection _select_packages(const OptionalText& package, const OptionalList& options,
                           RunJournal* journal) {
    return _select_from_catalogue(_get_accessible_packages(journal), package, options);
}

std::optional<PackageKinds> _get_packages(const OptionalText& package,
                                          const OptionalList& options) {
    return _select_packages(package, options).packages;
}

}  // namespace tessel_installer::installer
