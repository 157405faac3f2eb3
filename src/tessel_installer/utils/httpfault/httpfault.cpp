// The failure that an HTTP error reply stands for, chosen by its status code.
#include "tessel_installer/utils/httpfault/httpfault.hpp"

#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/httpfault/error_detail.hpp"

namespace tessel_installer::httpfault {

void handle_http_error_response(const Response& response) {
    const long status = response.status_code;
    const std::string error_detail = detail::render_error_detail(response.text);
    const std::string code = std::to_string(status);

    // Every server-side status, also those past 599, is a server error.
    if (status >= 500) throw RuntimeError("Server Error (" + code + "): " + error_detail);
    switch (status) {
        case 400:
            throw ValueError("Bad Request: " + error_detail);
        case 403:
            throw PermissionError(
                "Forbidden: You don\u2019t have permission to access this resource.");
        case 404:
            throw NotFoundError("Not Found: The requested endpoint does not exist.");
        case 405:
            throw RuntimeError("Method Not Allowed: Check the HTTP method.");
        case 422:
            throw ValueError("Validation Error: " + error_detail);
        default:
            throw Exception("Unexpected Error (" + code + "): " + error_detail);
    }
}

}  // namespace tessel_installer::httpfault
