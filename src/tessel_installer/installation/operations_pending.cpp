// Placeholder operations until the installation engine lands: every engine sub-command fails
// plainly instead of pretending to work.
#include "tessel_installer/errors.hpp"
#include "tessel_installer/installation/installer.hpp"

namespace tessel_installer::installer {

namespace {
[[noreturn]] void _engine_missing() {
    throw RuntimeError("the installation engine is not part of this build yet");
}
}  // namespace

int install_packages(const OptionalText&, const OptionalList&, bool, const OptionalText&, bool) {
    _engine_missing();
}
int install_packages_from_folder(const std::string&, const OptionalText&, const OptionalList&,
                                 bool) {
    _engine_missing();
}
int download_packages(const OptionalText&, const OptionalText&, const OptionalList&,
                      const OptionalText&, const OptionalText&, const OptionalList&, bool) {
    _engine_missing();
}
int uninstall_packages(bool) { _engine_missing(); }
int list_packages() { _engine_missing(); }

}  // namespace tessel_installer::installer
