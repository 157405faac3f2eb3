// The engine's children as real interpreter children.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/pyenv.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

namespace tessel_installer::installer {

namespace {

class SpawnedChild final : public platform::Child {
public:
    explicit SpawnedChild(platform::Process process) : process_(std::move(process)) {}
    bool wait_for_end(std::chrono::milliseconds limit) override {
        return platform::wait_passing_on_termination(process_, limit);
    }
    int wait() override {
        const std::optional<int> returncode = process_.returncode();
        return returncode.has_value() ? *returncode : process_.wait();
    }

private:
    platform::Process process_;
};

class SystemChildren final : public Children {
public:
    std::string interpreter() override { return pyenv::interpreter_path(); }
    std::vector<pyenv::Distribution> installed_distributions() override {
        return pyenv::installed_distributions();
    }
    pkgkit::VersionLookUp latest_version(const std::string& package,
                                         const OptionalText& index_url) override {
        return pkgkit::look_up_latest_package_version(package, index_url);
    }
    std::string check_target_environment(pyenv::TargetUse use) override {
        return pyenv::check_target_environment(use);
    }
    std::unique_ptr<platform::Child> start(const std::vector<std::string>& argv,
                                           platform::SpawnOptions options) override {
        return std::make_unique<SpawnedChild>(platform::Process::spawn(argv, options));
    }
};

}  // namespace

Children& system_children() {
    // Stateless: every call goes straight to the platform.
    static SystemChildren children;
    return children;
}

}  // namespace tessel_installer::installer
