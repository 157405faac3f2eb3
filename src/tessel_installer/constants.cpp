#include "tessel_installer/constants.hpp"

#include <algorithm>

namespace tessel_installer::constants {

bool is_expected_package(std::string_view name) noexcept {
    return std::ranges::find(EXPECTED_PACKAGES, name) != EXPECTED_PACKAGES.end();
}

bool is_connectors_package(std::string_view name) noexcept {
    return std::ranges::find(CONNECTORS_PACKAGES, name) != CONNECTORS_PACKAGES.end();
}

}  // namespace tessel_installer::constants
