// One inventory snapshot of the target environment, as the installation engine takes it before
// and after each pip run: names with versions, in enumeration order.
#include <cstdio>
#include <exception>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"

int main() {
    try {
        auto installed = tessel_installer::pkgkit::list_current_installed_packages_with_their_version();
        std::printf("%zu distributions\n", installed.size());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "inventory_snapshot: error: %s\n", e.what());
        return 1;
    }
}
