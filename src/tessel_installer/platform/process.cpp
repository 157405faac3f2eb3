// What both platforms share: ownership of a child, its accessors, and starting a child and waiting
// for it.
#include "tessel_installer/platform/process.hpp"

#include <utility>

#include "tessel_installer/platform/process_state.hpp"

namespace tessel_installer::platform {

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Process old(std::move(impl_));  // the child held so far is waited for as `old` ends
        impl_ = std::move(other.impl_);
    }
    return *this;
}

Process::~Process() {
    if (!impl_) return;
    try {
        wait();
    } catch (...) {
        // A destructor cannot report; the child has been collected or is beyond reach.
    }
}

std::optional<int> Process::returncode() const noexcept { return impl_->returncode; }
int Process::termination_passed_on() const noexcept { return impl_->passed_on; }
long Process::pid() const noexcept { return impl_->pid; }
const std::vector<std::string>& Process::args() const noexcept { return impl_->args; }
const std::string& Process::stdout_text() const noexcept { return impl_->out_text; }
const std::string& Process::stderr_text() const noexcept { return impl_->err_text; }

CompletedProcess run(const std::vector<std::string>& argv, SpawnOptions options) {
    Process child = Process::spawn(argv, options);
    const int returncode = child.wait();
    return {child.args(), returncode, child.stdout_text(), child.stderr_text()};
}

}  // namespace tessel_installer::platform
