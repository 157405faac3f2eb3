// The step between the raw command line and CLI11: it finds the action, gives every argument its
// role (option, value, action name), widens unique prefixes of long options to their full names,
// and hands CLI11 only canonical "--name" / "--name VALUE" pairs.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "tessel_installer/cli/frontdoor.hpp"

namespace tessel_installer::frontdoor {

using ExpansionOutcome = std::variant<std::vector<std::string>, HelpRequest, UsageError>;

// Rules, in the order the arguments are read:
// - The top level takes only -h/--help and the action's name; the action's options follow it.
// - "--name=VALUE" and "--name VALUE" both give VALUE; a short value option also takes "-vVALUE".
// - A long name that is not declared exactly is widened when it is the prefix of exactly one
//   declared long option; the prefix of several is an error naming them all. --report, --log,
//   --dry-run and --no-progress are taken by their full names only.
// - A value is never read from an argument that starts with "-" (besides "-" itself): "--package
//   --debug" lacks its value instead of installing a package called "--debug". "--package=-x" is
//   the way to pass such a value on purpose.
// - "--options" takes every following argument up to the next option; given again, the later
//   list replaces the earlier one, like any other option given twice.
// - After a lone "--" nothing is read as an option: the first argument names the action when none
//   was named yet, and any other argument is unexpected.
// - -h/--help wins over any usage error in the same parser, wherever it stands before "--".
ExpansionOutcome expand_arguments(const CLI::App& top, const std::vector<std::string>& arguments);

}  // namespace tessel_installer::frontdoor
