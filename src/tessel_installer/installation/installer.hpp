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

int install_packages(const OptionalText& package = std::nullopt,
                     const OptionalList& options = std::nullopt, bool debug = false,
                     const OptionalText& version = std::nullopt, bool upgrade = false);

int install_packages_from_folder(const std::string& folder,
                                 const OptionalText& package = std::nullopt,
                                 const OptionalList& options = std::nullopt, bool debug = false);

int download_packages(const OptionalText& package = std::nullopt,
                      const OptionalText& python_version = std::nullopt,
                      const OptionalList& platform = std::nullopt,
                      const OptionalText& folder = std::nullopt,
                      const OptionalText& version = std::nullopt,
                      const OptionalList& options = std::nullopt, bool debug = false);

int uninstall_packages(bool debug = false);

int list_packages();

}  // namespace tessel_installer::installer
