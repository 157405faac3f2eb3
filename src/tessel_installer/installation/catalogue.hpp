// The catalogue fetch in its two steps: the HTTP transfer, which only gathers what came back, and
// the reading of that reply, which alone decides between the catalogue and the reason it failed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tessel_installer::installer {

struct CatalogueRequest;
struct CatalogueReading;

// What one catalogue request came back with.
struct CatalogueReply {
    // None when the transfer ran to its end; otherwise what stopped it (libcurl's words, or why
    // the request could not be prepared).
    std::optional<std::string> transport_error;
    // The reply went beyond the largest size accepted (max_reply_bytes), which stops the transfer.
    bool too_large = false;
    std::size_t max_reply_bytes = 0;
    long status = 0;                          // 0 when no status line arrived
    std::optional<std::string> redirect_url;  // where a redirect pointed, as the service said
    std::string body;                         // what was read of the body
};

// Runs the request over libcurl. Never prints; throws Interrupted when a signal arrives meanwhile.
CatalogueReply _fetch_catalogue_reply(const CatalogueRequest& request);

// The catalogue from a reply, or (packages none) the reason the fetch failed, as the notice shows
// it: a failed transfer, a status other than 200, or a body that is not a catalogue.
CatalogueReading _catalogue_from_reply(const CatalogueReply& reply);

}  // namespace tessel_installer::installer
