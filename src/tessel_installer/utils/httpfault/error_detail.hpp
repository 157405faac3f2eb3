// The error detail of an HTTP error reply as text for a message.
#pragma once

#include <string>
#include <string_view>

namespace tessel_installer::httpfault::detail {

// A body that decodes as a JSON string gives the string itself; any other JSON value is printed in
// the notation Python prints values in ({'k': [1, 'a', True, None]}); a body that is not JSON (or
// nests deeper than the decoder follows) is returned unchanged.
std::string render_error_detail(std::string_view body);

}  // namespace tessel_installer::httpfault::detail
