// The installation engine's public operations, one per sub-command. Each returns the process exit
// status: 0 when it did what was asked or found nothing to do, 1 when a package failed, the asked-for
// package is not on offer, or the catalogue could not be fetched.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessel_installer::installer {

using OptionalText = std::optional<std::string>;
using OptionalList = std::optional<std::vector<std::string>>;

// The settings that a run passes on unchanged, from the command line down to each pip child. The
// action and runner records carry them whole, so a new option of this kind is one field here, its
// declaration in the front end, and the one place that reads it.
struct RunSettings {
    bool debug = false;
    bool upgrade = false;
    bool dry_run = false;     // decide and print what would happen; start no pip child
    bool no_progress = false; // no animation frames: each outcome line once, when its child ends
};

// What the command line asked for, as the front end parsed it. A field is meaningful only for the
// options of the chosen action; options that were not given keep their default (none, or false).
struct Request : RunSettings {
    OptionalText package{};
    OptionalList options{};
    OptionalText folder{};
    OptionalText version{};
    OptionalText python_version{};
    OptionalList platform{};  // in the order given; none when --platform was never given
    bool json = false;        // list-packages, check-requirements: one JSON document, no text
    OptionalText report{};    // the JSON report written when the run ends
    OptionalText log{};       // the log every child's command line and output are appended to
};

int install_packages(const Request& request);
// The install from request.folder.
int install_packages_from_folder(const Request& request);
int download_packages(const Request& request);
int uninstall_packages(const Request& request);
int list_packages();
// The catalogue as one JSON document on standard output, in the listing's order. A catalogue that
// cannot be fetched is an error (RuntimeError), so nothing but the document reaches the output.
int list_packages_json();

}  // namespace tessel_installer::installer
