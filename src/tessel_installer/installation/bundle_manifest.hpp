// The manifest of a download folder, tessel-bundle.json: written by `download` after its children,
// checked by `install --folder` before any child starts. It lists every distribution file of the
// folder by its bare name, with its size and SHA-256, so the folder can be moved or copied whole
// and a file truncated, lost, swapped or added on the way is found before anything changes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_installer/installation/installer.hpp"
#include "tessel_installer/ordered_map.hpp"

namespace tessel_installer::installer {

inline constexpr std::string_view BUNDLE_MANIFEST_NAME = "tessel-bundle.json";
inline constexpr int BUNDLE_MANIFEST_SCHEMA = 1;

struct BundleFile {
    std::string name;  // a bare file name inside the folder
    std::uint64_t size = 0;
    std::string sha256;  // 64 lower-case hex digits
};

struct BundleManifest {
    std::string program_version;
    std::string created_utc;
    Request request;  // what the download was asked for, as it was given (its download fields)
    PackageKinds packages;  // the packages downloaded (with their extras), by catalogue kind
    std::vector<BundleFile> files;  // sorted by name
};

// True for the names pip takes from a --find-links folder: wheels and every source archive kind.
bool _is_distribution_file_name(std::string_view name);

// The manifest as JSON text, and back. Reading throws ValueError for text that is not JSON, an
// unknown schema, or a manifest of the wrong shape (a file name with a separator or "..", a size
// that is not a count, a hash that is not 64 lower-case hex digits, a name listed twice).
std::string _render_bundle_manifest(const BundleManifest& manifest);
BundleManifest _parse_bundle_manifest(std::string_view text);

// After a download: lists and hashes the distribution files now in request.folder and replaces
// the manifest atomically. `downloaded` holds the packages whose download succeeded; the packages of
// a manifest already there are kept beside them, since its files are still covered. Nothing is
// written when the folder does not exist.
void write_bundle_manifest(const Request& request, const PackageKinds& downloaded);

// Before an install from the folder: none when the folder holds no manifest. Otherwise the
// manifest, once every listed file is present with its size and hash and no unlisted distribution
// file is there; any failure is a ValueError naming the file and what is wrong.
std::optional<BundleManifest> check_bundle_folder(const std::string& folder);

// The asked-for package (and each of its extras) must be among the manifest's packages: a package
// the download did not fetch may lack dependencies in the folder. ValueError otherwise.
void check_request_in_bundle(const BundleManifest& manifest, const std::string& folder,
                             const std::string& package, const OptionalList& options);

}  // namespace tessel_installer::installer
