#include "tessel_installer/platform/standard_streams.hpp"

namespace tessel_installer::platform {

// Windows hands out handles, not the lowest free descriptor number, and has no SIGPIPE: a closed
// stream cannot capture another file, and a failed write already shows as an error.
void reserve_standard_streams() noexcept {}

void ignore_broken_pipe() noexcept {}

}  // namespace tessel_installer::platform
