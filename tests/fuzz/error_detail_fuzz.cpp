// The error detail of an HTTP error reply. A body that is not JSON comes back unchanged, a JSON
// string as its text, and any other value as a printed form that has no control character and is
// valid UTF-8; every status becomes one of the error kinds, never a crash.
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/httpfault/error_detail.hpp"
#include "tessel_installer/utils/httpfault/httpfault.hpp"

namespace httpfault = tessel_installer::httpfault;

namespace {

bool has_control(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = tessel_fuzz::as_text(data, size);
    const std::string detail = httpfault::detail::render_error_detail(body);
    if (!nlohmann::json::accept(body)) {
        FUZZ_CHECK(detail == body);
    } else {
        const nlohmann::json value = nlohmann::json::parse(body, nullptr, false);
        if (value.is_string()) {
            FUZZ_CHECK(detail == value.get_ref<const std::string&>());
        } else if (detail != body) {
            // Printed, not handed back because it nests too deep.
            FUZZ_CHECK(!has_control(detail));
            FUZZ_CHECK(tessel_fuzz::is_valid_utf8(detail));
        }
    }

    static constexpr long statuses[] = {400, 403, 404, 405, 422, 500, 503, 418, 302, 0, 99999};
    const httpfault::Response response{statuses[size % std::size(statuses)], std::string(body)};
    try {
        httpfault::handle_http_error_response(response);
    } catch (const tessel_installer::Exception& error) {
        // Only 403, 404 and 405 have fixed texts; every other message ends with the detail, as
        // far as what() shows it: a C string ends at the detail's first NUL.
        const long status = response.status_code;
        if (status != 403 && status != 404 && status != 405) {
            const std::string_view shown = std::string_view(detail).substr(0, detail.find('\0'));
            FUZZ_CHECK(std::string_view(error.what()).ends_with(shown));
        }
        return 0;
    }
    FUZZ_FAIL("an error reply must end in an error");
}
