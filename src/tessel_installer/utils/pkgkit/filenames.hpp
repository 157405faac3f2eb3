// Package file names: wheels (NAME-VERSION[-BUILD]-PYTHON-ABI-PLATFORM.whl), source archives
// (NAME-VERSION.tar.gz) and the normalised form of distribution names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/utils/pkgkit/version.hpp"

namespace tessel_installer::pkgkit {

// A wheel's build tag: its leading digits as a number, and the text after them.
struct BuildTag {
    Number number;
    std::string suffix;
};

// One interpreter-ABI-platform combination that a wheel supports, in lower case.
struct WheelTag {
    std::string interpreter;
    std::string abi;
    std::string platform;
    friend auto operator<=>(const WheelTag&, const WheelTag&) = default;
};

struct WheelFilename {
    std::string name;  // normalised
    Version version;
    std::optional<BuildTag> build;
    std::vector<WheelTag> tags;  // every combination of the dotted tag sets, sorted, unique
};

struct SdistFilename {
    std::string name;  // normalised
    Version version;
};

// Lower case, and every run of '-', '_' and '.' replaced by one '-'.
std::string canonicalize_name(std::string_view name);

// Throws InvalidWheelFilename, naming the file and the rule it breaks.
WheelFilename parse_wheel_filename(std::string_view filename);

// Throws InvalidSdistFilename, naming the file and the rule it breaks.
SdistFilename parse_sdist_filename(std::string_view filename);

}  // namespace tessel_installer::pkgkit
