// PEP 440 versions: parsing of every spelling the standard allows, the normalised text, and the
// standard's ordering. Numbers are kept as decimal digit strings, so any length compares exactly.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel_installer::pkgkit {

// A non-negative integer of any length: decimal digits without leading zeros ("0" for zero).
class Number {
public:
    Number() = default;
    // `digits` must be ASCII digits; leading zeros are dropped.
    explicit Number(std::string_view digits);

    const std::string& digits() const noexcept { return digits_; }
    bool is_zero() const noexcept { return digits_ == "0"; }

    friend std::strong_ordering operator<=>(const Number& a, const Number& b) noexcept;
    friend bool operator==(const Number& a, const Number& b) noexcept = default;

private:
    std::string digits_ = "0";
};

// The kind of a pre-release, in the order the standard gives them.
enum class PreKind { alpha, beta, release_candidate };

struct PreRelease {
    PreKind kind;
    Number number;
    friend bool operator==(const PreRelease&, const PreRelease&) = default;
};

// One dot-separated part of a local version: a number or a lower-case alphanumeric text.
struct LocalSegment {
    bool numeric;
    std::string text;  // the digits without leading zeros when numeric
    friend bool operator==(const LocalSegment&, const LocalSegment&) = default;
};

class Version {
public:
    // The version that `text` spells, or none when it is not a PEP 440 version. Surrounding Unicode
    // white space, a leading 'v' and any letter case are accepted.
    static std::optional<Version> parse(std::string_view text);

    const std::vector<Number>& release() const noexcept { return release_; }
    const std::optional<PreRelease>& pre() const noexcept { return pre_; }
    const std::optional<Number>& post() const noexcept { return post_; }
    const std::optional<Number>& dev() const noexcept { return dev_; }
    const std::vector<LocalSegment>& local() const noexcept { return local_; }

    // The normalised spelling: "1!2.0rc1.post3.dev4+ubuntu.1".
    std::string to_string() const;
    // The normalised spelling without the local part.
    std::string public_version() const;

    // The standard's order; versions that differ only in trailing release zeros are equal.
    friend std::strong_ordering operator<=>(const Version& a, const Version& b) noexcept;
    friend bool operator==(const Version& a, const Version& b) noexcept {
        return (a <=> b) == 0;
    }

private:
    Number epoch_;
    std::vector<Number> release_;
    std::optional<PreRelease> pre_;
    std::optional<Number> post_;
    std::optional<Number> dev_;
    std::vector<LocalSegment> local_;  // empty when the version has no local part

    friend struct VersionParser;
};

// Same as Version::parse.
std::optional<Version> parse_version(std::string_view text);

}  // namespace tessel_installer::pkgkit
