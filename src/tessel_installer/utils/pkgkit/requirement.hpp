// PEP 508 requirements: a name, optional extras, then either version specifiers or "@ URL", and
// an optional environment marker after ';'.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel_installer::pkgkit {

// One version clause such as ">=1.0" or "==2.*"; the version is kept as written.
struct Specifier {
    std::string op;
    std::string version;
    std::string to_string() const { return op + version; }
};

// One comparison of a marker, "python_version >= '3.8'": each side is a variable (stored under its
// standard name, so "os.name" reads "os_name") or a quoted value.
struct MarkerOperand {
    bool is_variable;
    std::string text;
};
struct MarkerComparison {
    MarkerOperand lhs;
    std::string op;  // "==", "not in", ...
    MarkerOperand rhs;
};

// The marker as written: a flat sequence of comparisons and parenthesised groups joined by "and" or
// "or". Precedence is left to whoever evaluates it; this keeps the written shape.
struct MarkerElement {
    enum class Kind { comparison, boolean, group };
    Kind kind;
    MarkerComparison comparison;        // kind == comparison
    std::string boolean;                // kind == boolean: "and" or "or"
    std::vector<MarkerElement> group;   // kind == group
};

struct Marker {
    std::vector<MarkerElement> elements;
    // Canonical text: single spaces, double-quoted values (single-quoted when they hold a double
    // quote), standard variable names, and no parentheses around a lone comparison.
    std::string to_string() const;
};

struct Requirement {
    std::string name;                     // as written
    std::vector<std::string> extras;      // as written, in order
    std::vector<Specifier> specifiers;    // in order
    std::optional<std::string> url;
    std::optional<Marker> marker;
};

// Throws InvalidRequirement that names the text, the position and what was expected there.
Requirement parse_requirement(std::string_view text);

// An environment marker alone (the text after ';'). Throws InvalidRequirement.
Marker parse_marker(std::string_view text);

}  // namespace tessel_installer::pkgkit
