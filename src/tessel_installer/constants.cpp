#include "tessel_installer/constants.hpp"

#include <algorithm>

namespace tessel_installer::constants {

bool is_expected_package(std::string_view name) noexcept {
    return std::find(EXPECTED_PACKAGES.begin(), EXPECTED_PACKAGES.end(), name) !=
           EXPECTED_PACKAGES.end();
}

bool is_connectors_package(std::string_view name) noexcept {
    return std::find(CONNECTORS_PACKAGES.begin(), CONNECTORS_PACKAGES.end(), name) !=
           CONNECTORS_PACKAGES.end();
}

}  // namespace tessel_installer::constants
