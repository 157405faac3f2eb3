// A running child as the loops that wait for one see it. platform::Process is behind the real
// one; the engine's unit tests answer with children of their own, in process.
#pragma once

#include <chrono>

namespace tessel_installer::platform {

class Child {
public:
    virtual ~Child() = default;
    // Waits at most `limit` and returns as soon as the child ends: true when it has ended. A
    // termination request that arrived is passed on to the child (wait_passing_on_termination).
    virtual bool wait_for_end(std::chrono::milliseconds limit) = 0;
    // Blocks until the child ends, passing a termination request on; its exit status (the exit
    // code, or minus the signal that ended it).
    virtual int wait() = 0;
};

}  // namespace tessel_installer::platform
