// What both platforms share: starting a child and waiting for it.
#include "tessel_installer/platform/process.hpp"

namespace tessel_installer::platform {

CompletedProcess run(const std::vector<std::string>& argv, SpawnOptions options) {
    Process child = Process::spawn(argv, options);
    CompletedProcess done;
    done.returncode = child.wait();
    done.args = child.args();
    done.out = child.stdout_text();
    done.err = child.stderr_text();
    return done;
}

}  // namespace tessel_installer::platform
