// Writing, reading and checking tessel-bundle.json, the manifest of a download folder.
#include "tessel_installer/installation/bundle_manifest.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tessel_installer/config.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/digest.hpp"
#include "tessel_installer/utils/ledgerfile/record_io.hpp"
#include "tessel_installer/terminal_text.hpp"

namespace tessel_installer::installer {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A name or path from outside, whole (a wheel's name is often long) and rendered terminal-safe.
std::string _quoted(std::string_view text) {
    return "'" + tessel_installer::text::terminal_safe(text) + "'";
}

// What pip accepts from a --find-links folder: wheels and the archive kinds of source
// distributions. A file of any of these kinds could be installed, so each one is covered.
constexpr std::array<std::string_view, 12> DISTRIBUTION_SUFFIXES{
    ".whl", ".zip", ".tar.gz", ".tgz", ".tar", ".tar.bz2", ".tbz", ".tar.xz", ".txz", ".tlz",
    ".tar.lz", ".tar.lzma"};

fs::path _folder_path(const std::string& folder) { return fs::path(folder.empty() ? "." : folder); }

// The bundle's folder, opened once for the manifest's reads and its rewrite. A symbolic link the
// user named as the folder is followed.
ledgerfile::detail::RecordFolder _open_folder(const fs::path& dir) {
    std::error_code error;
    const fs::path real = fs::canonical(dir, error);
    return ledgerfile::detail::RecordFolder(error ? dir : real);
}

// The one error of a failed check: which folder, then the file and what is wrong with it.
[[noreturn]] void _refuse(const std::string& folder, const std::string& problem) {
    throw ValueError("the folder " + _quoted(folder) + " failed its check against " +
                     std::string(BUNDLE_MANIFEST_NAME) + ", nothing was installed: " + problem);
}

[[noreturn]] void _malformed(const std::string& problem) {
    throw ValueError("the manifest '" + std::string(BUNDLE_MANIFEST_NAME) +
                     "' is unreadable: " + problem);
}

// A bare name inside the folder: a name with a separator or a parent step would reach outside it
// once the folder has been moved.
bool _is_bare_file_name(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find_first_of(std::string_view("/\\:\0", 4)) != std::string_view::npos) return false;
    return name.find("..") == std::string_view::npos;
}

bool _is_sha256_hex(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// The distribution files directly inside the folder (links followed; hidden names too, since pip
// sees them), sorted by name.
std::vector<std::string> _distribution_files(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        std::error_code kind_error;
        if (_is_distribution_file_name(name) && fs::is_regular_file(entries->path(), kind_error)) {
            names.push_back(name);
        }
    }
    if (error) {
        throw OSError("cannot read the folder " + _quoted(folder.string()) + ": " +
                      error.message());
    }
    std::sort(names.begin(), names.end());
    return names;
}

json _optional_text(const OptionalText& text) { return text ? json(*text) : json(nullptr); }
json _optional_list(const OptionalList& list) { return list ? json(*list) : json(nullptr); }

OptionalText _read_text(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

OptionalList _read_list(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_array()) return std::nullopt;
    std::vector<std::string> list;
    for (const auto& item : *found) {
        if (item.is_string()) list.push_back(item.get<std::string>());
    }
    return list;
}

std::string _now_utc() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(now));
}

}  // namespace

bool _is_distribution_file_name(std::string_view name) {
    return std::any_of(DISTRIBUTION_SUFFIXES.begin(), DISTRIBUTION_SUFFIXES.end(),
                       [name](std::string_view suffix) {
                           return name.size() > suffix.size() && name.ends_with(suffix);
                       });
}

std::string _render_bundle_manifest(const BundleManifest& manifest) {
    json packages = json::object();
    for (const auto& [name, kind] : manifest.packages) packages[name] = kind;
    json files = json::array();
    for (const auto& file : manifest.files) {
        files.push_back({{"name", file.name}, {"size", file.size}, {"sha256", file.sha256}});
    }
    const json document = {
        {"schema", BUNDLE_MANIFEST_SCHEMA},
        {"program_version", manifest.program_version},
        {"created_utc", manifest.created_utc},
        {"request",
         {{"package", _optional_text(manifest.request.package)},
          {"version", _optional_text(manifest.request.version)},
          {"options", _optional_list(manifest.request.options)},
          {"python_version", _optional_text(manifest.request.python_version)},
          {"platforms", _optional_list(manifest.request.platform)}}},
        {"packages", packages},
        {"files", files}};
    // nlohmann keeps the keys of an object sorted; names outside ASCII are written as \u escapes,
    // so the file is plain ASCII whatever the folder holds.
    return document.dump(2, ' ', true) + "\n";
}

BundleManifest _parse_bundle_manifest(std::string_view text) {
    const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) _malformed("not JSON");
    if (!document.is_object()) _malformed("not a JSON object");
    const auto schema = document.find("schema");
    if (schema == document.end()) _malformed("it names no schema");
    if (!schema->is_number_integer() || schema->get<long long>() != BUNDLE_MANIFEST_SCHEMA) {
        _malformed("schema " + _quoted(schema->dump()) + " is unknown to this version");
    }

    BundleManifest manifest;
    manifest.program_version = _read_text(document, "program_version").value_or("");
    manifest.created_utc = _read_text(document, "created_utc").value_or("");
    if (const auto request = document.find("request");
        request != document.end() && request->is_object()) {
        manifest.request.package = _read_text(*request, "package");
        manifest.request.version = _read_text(*request, "version");
        manifest.request.options = _read_list(*request, "options");
        manifest.request.python_version = _read_text(*request, "python_version");
        manifest.request.platform = _read_list(*request, "platforms");
    }
    const auto packages = document.find("packages");
    if (packages == document.end() || !packages->is_object()) _malformed("no \"packages\" object");
    for (const auto& [name, kind] : packages->items()) {
        if (!kind.is_string()) _malformed("the kind of " + _quoted(name) + " is no text");
        manifest.packages.set(name, kind.get<std::string>());
    }

    const auto files = document.find("files");
    if (files == document.end() || !files->is_array()) _malformed("no \"files\" list");
    std::set<std::string> seen;
    for (const auto& entry : *files) {
        const auto name = entry.is_object() ? _read_text(entry, "name") : std::nullopt;
        if (!name) _malformed("a file entry without a name");
        const std::string quoted = _quoted(*name);
        if (!_is_bare_file_name(*name)) _malformed(quoted + " is not a bare file name");
        if (!seen.insert(*name).second) _malformed(quoted + " is listed twice");
        const auto size = entry.find("size");
        if (size == entry.end() || !size->is_number_unsigned()) {
            _malformed("the size of " + quoted + " is not a count of bytes");
        }
        const auto sha256 = _read_text(entry, "sha256");
        if (!sha256 || !_is_sha256_hex(*sha256)) {
            _malformed("the SHA-256 of " + quoted + " is not 64 lower-case hex digits");
        }
        manifest.files.push_back({*name, size->get<std::uint64_t>(), *sha256});
    }
    std::sort(manifest.files.begin(), manifest.files.end(),
              [](const BundleFile& a, const BundleFile& b) { return a.name < b.name; });
    return manifest;
}

void write_bundle_manifest(const Request& request, const PackageKinds& downloaded) {
    const fs::path dir = _folder_path(request.folder.value_or(""));
    std::error_code error;
    if (!fs::is_directory(dir, error)) return;  // nothing came, and there is nothing to cover
    const fs::path path = dir / BUNDLE_MANIFEST_NAME;

    BundleManifest manifest;
    manifest.program_version = std::string(config::PROGRAM_VERSION);
    manifest.created_utc = _now_utc();
    manifest.request = request;
    // The files of an earlier download are covered again, so its packages still count.
    bool existed = false;
    const auto opened = _open_folder(dir);
    try {
        if (const auto old_text = ledgerfile::detail::read_whole_file(opened, BUNDLE_MANIFEST_NAME)) {
            existed = true;
            manifest.packages = _parse_bundle_manifest(*old_text).packages;
        }
    } catch (const Exception&) {
        // An unreadable manifest is replaced by one that covers what is there now.
    }
    for (const auto& [name, kind] : downloaded) manifest.packages.set(name, kind);

    for (const auto& name : _distribution_files(dir)) {
        platform::FileDigest digest;
        try {
            digest = platform::sha256_file(dir / name);
        } catch (const OSError& failure) {
            throw OSError("cannot read " + _quoted((dir / name).string()) + ": " +
                          failure.what());
        }
        manifest.files.push_back({name, digest.size, digest.sha256});
    }
    ledgerfile::detail::replace_file(opened, BUNDLE_MANIFEST_NAME, _render_bundle_manifest(manifest));
    if (!existed) {
        // The temporary file was private to us; a bundle is carried to other machines and users.
        fs::permissions(path,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read,
                        error);
    }
}

std::optional<BundleManifest> check_bundle_folder(const std::string& folder) {
    const fs::path dir = _folder_path(folder);
    std::optional<std::string> text;
    try {
        const auto opened = _open_folder(dir);
        text = ledgerfile::detail::read_whole_file(opened, BUNDLE_MANIFEST_NAME);
    } catch (const FileNotFoundError&) {
        // No folder, so no manifest: what to say about the missing folder is the caller's.
    } catch (const OSError& failure) {
        _refuse(folder, "the manifest '" + std::string(BUNDLE_MANIFEST_NAME) +
                            "' is unreadable: " + failure.what());
    }
    if (!text) return std::nullopt;

    std::optional<BundleManifest> manifest;
    try {
        manifest = _parse_bundle_manifest(*text);
    } catch (const ValueError& failure) {
        _refuse(folder, failure.what());
    }

    std::set<std::string> listed;
    for (const auto& file : manifest->files) {
        listed.insert(file.name);
        const fs::path path = dir / file.name;
        const std::string quoted = _quoted(file.name);
        std::error_code error;
        const std::uintmax_t size = fs::file_size(path, error);
        if (error) _refuse(folder, quoted + " is missing");
        if (size != file.size) {
            _refuse(folder, fmt::format("{} has {} bytes, the manifest lists {}", quoted, size,
                                        file.size));
        }
        platform::FileDigest digest;
        try {
            digest = platform::sha256_file(path);
        } catch (const OSError& failure) {
            _refuse(folder, quoted + " cannot be read: " + failure.what());
        }
        if (digest.size != file.size || digest.sha256 != file.sha256) {
            _refuse(folder, quoted + " does not match its SHA-256 in the manifest");
        }
    }
    for (const auto& name : _distribution_files(dir)) {
        if (listed.count(name) == 0) {
            _refuse(folder, _quoted(name) + " is not listed in the manifest");
        }
    }
    return manifest;
}

void check_request_in_bundle(const BundleManifest& manifest, const std::string& folder,
                             const std::string& package, const OptionalList& options) {
    std::vector<std::string> wanted;
    if (options && !options->empty()) {
        for (const auto& option : *options) wanted.push_back(package + "[" + option + "]");
    } else {
        // The bare package, or the package downloaded with any of its extras.
        bool found = manifest.packages.contains(package);
        for (const auto& [name, kind] : manifest.packages) {
            found = found || name.rfind(package + "[", 0) == 0;
        }
        if (found) return;
        wanted.push_back(package);
    }
    for (const auto& text : wanted) {
        if (!manifest.packages.contains(text)) {
            _refuse(folder, "the manifest does not list the package " + _quoted(text));
        }
    }
}

}  // namespace tessel_installer::installer
