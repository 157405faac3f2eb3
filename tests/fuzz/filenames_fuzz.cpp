// Wheel and source-archive file names, and the package name of a path. A file name that parses
// is built again from its parts (normalised name, version, build tag, one tag) and must give the
// same parts; normalising a name twice changes nothing; a blank path is the only one without name.
#include <algorithm>
#include <string>

#include "fuzz_support.hpp"
#include "tessel_installer/utils/pkgkit/filenames.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace pkgkit = tessel_installer::pkgkit;

namespace {

void check_wheel(std::string_view text) {
    pkgkit::WheelFilename wheel;
    try {
        wheel = pkgkit::parse_wheel_filename(text);
    } catch (const pkgkit::InvalidWheelFilename&) {
        return;
    }
    FUZZ_CHECK(!wheel.name.empty() && pkgkit::canonicalize_name(wheel.name) == wheel.name);
    FUZZ_CHECK(!wheel.tags.empty() && std::is_sorted(wheel.tags.begin(), wheel.tags.end()));

    std::string name = wheel.name;
    std::replace(name.begin(), name.end(), '-', '_');
    std::string rebuilt = name + "-" + wheel.version.to_string();
    if (wheel.build) rebuilt += "-" + wheel.build->number.digits() + wheel.build->suffix;
    const pkgkit::WheelTag& tag = wheel.tags.front();
    rebuilt += "-" + tag.interpreter + "-" + tag.abi + "-" + tag.platform + ".whl";
    pkgkit::WheelFilename again;
    try {
        again = pkgkit::parse_wheel_filename(rebuilt);
    } catch (const pkgkit::InvalidWheelFilename&) {
        FUZZ_FAIL("a wheel name built from its parts must parse");
    }
    FUZZ_CHECK(again.name == wheel.name);
    FUZZ_CHECK(again.version == wheel.version);
    FUZZ_CHECK(again.build.has_value() == wheel.build.has_value());
    if (wheel.build && again.build) {
        FUZZ_CHECK(again.build->number == wheel.build->number);
        FUZZ_CHECK(again.build->suffix == wheel.build->suffix);
    }
    FUZZ_CHECK(again.tags.size() == 1 && again.tags.front() == tag);
}

void check_sdist(std::string_view text) {
    pkgkit::SdistFilename sdist;
    try {
        sdist = pkgkit::parse_sdist_filename(text);
    } catch (const pkgkit::InvalidSdistFilename&) {
        return;
    }
    FUZZ_CHECK(!sdist.name.empty());
    const std::string rebuilt = sdist.name + "-" + sdist.version.to_string() + ".tar.gz";
    try {
        const pkgkit::SdistFilename again = pkgkit::parse_sdist_filename(rebuilt);
        FUZZ_CHECK(again.name == sdist.name);
        FUZZ_CHECK(again.version == sdist.version);
    } catch (const pkgkit::InvalidSdistFilename&) {
        FUZZ_FAIL("an archive name built from its parts must parse");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = tessel_fuzz::as_text(data, size);
    const std::string canonical = pkgkit::canonicalize_name(text);
    FUZZ_CHECK(pkgkit::canonicalize_name(canonical) == canonical);

    check_wheel(text);
    check_sdist(text);

    try {
        const auto name = pkgkit::get_package_name(text);
        FUZZ_CHECK(name.has_value() == !pkgkit::text::trim_unicode_space(text).empty());
    } catch (const pkgkit::InvalidWheelFilename&) {
    } catch (const pkgkit::InvalidSdistFilename&) {
    }
    return 0;
}
