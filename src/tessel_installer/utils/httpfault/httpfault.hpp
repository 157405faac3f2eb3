// Turns an HTTP error reply of a web service into a typed error with a readable message.
#pragma once

#include <string>

namespace tessel_installer::httpfault {

struct Response {
    long status_code = 0;
    std::string text;  // the body
};

// Always throws: ValueError (400, 422), PermissionError (403), NotFoundError (404),
// RuntimeError (405, >= 500) or Exception (anything else).
[[noreturn]] void handle_http_error_response(const Response& response);

}  // namespace tessel_installer::httpfault
