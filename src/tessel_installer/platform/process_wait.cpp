// Waiting for a child while passing a termination request on to it, the same on every platform.
#include "tessel_installer/platform/process.hpp"

namespace tessel_installer::platform {

bool wait_passing_on_termination(Process& process, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        const auto remaining =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const bool ended = remaining.count() > 0 ? process.wait_for(remaining) : process.poll();
        if (ended) return true;
        if (remaining.count() <= 0) return false;
    }
}

}  // namespace tessel_installer::platform
