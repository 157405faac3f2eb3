// The check of the URL in a "name @ URL" requirement.
#pragma once

#include <string>
#include <string_view>

namespace tessel_installer::pkgkit::detail {

// Why `url` is not an absolute URL that pip can fetch, or empty when it is.
std::string url_problem(std::string_view url);

}  // namespace tessel_installer::pkgkit::detail
