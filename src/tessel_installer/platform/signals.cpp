// The part of the interrupt handling that is the same on every platform.
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/signals.hpp"

namespace tessel_installer::platform {

void throw_if_interrupted() {
    if (const int signal_number = pending_interrupt(); signal_number != 0) {
        throw Interrupted(signal_number);
    }
}

}  // namespace tessel_installer::platform
