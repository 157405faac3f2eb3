#include "tessel_installer/utils/pkgkit/version.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::pkgkit {

using text::is_ascii_alnum;
using text::is_ascii_digit;

Number::Number(std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    digits_ = first == std::string_view::npos ? std::string("0") : std::string(digits.substr(first));
}

std::strong_ordering operator<=>(const Number& a, const Number& b) noexcept {
    // Without leading zeros, a longer digit string is the larger number.
    if (a.digits_.size() != b.digits_.size()) return a.digits_.size() <=> b.digits_.size();
    return a.digits_.compare(b.digits_) <=> 0;
}

// A hand-written scanner for the version grammar. Each optional part is taken greedily; every part
// after the release may start with its own optional separator, so a separator taken by an earlier
// part never leaves a later one without its match.
struct VersionParser {
    std::string_view s;
    std::size_t i = 0;

    bool at_end() const noexcept { return i >= s.size(); }
    char peek(std::size_t ahead = 0) const noexcept {
        return i + ahead < s.size() ? s[i + ahead] : '\0';
    }
    static bool is_separator(char c) noexcept { return c == '.' || c == '-' || c == '_'; }

    std::optional<Number> digits() {
        const std::size_t start = i;
        while (!at_end() && is_ascii_digit(s[i])) ++i;
        if (i == start) return std::nullopt;
        return Number(s.substr(start, i - start));
    }

    // Matches one of `words` (lower case, longest first) at position `at`, ignoring ASCII case.
    template <std::size_t N>
    std::size_t match_word(std::size_t at, const std::array<std::string_view, N>& words,
                           std::size_t& which) const noexcept {
        for (std::size_t w = 0; w < N; ++w) {
            const auto word = words[w];
            if (at + word.size() <= s.size() && text::iequals_ascii(s.substr(at, word.size()), word)) {
                which = w;
                return word.size();
            }
        }
        return 0;
    }

    // An optional "[sep]WORD[sep][digits]" part; the number defaults to 0.
    template <std::size_t N>
    bool lettered_part(const std::array<std::string_view, N>& words, std::size_t& which,
                       Number& number) {
        std::size_t j = i;
        if (j < s.size() && is_separator(s[j])) ++j;
        const std::size_t len = match_word(j, words, which);
        if (len == 0) return false;
        i = j + len;
        if (!at_end() && is_separator(s[i])) ++i;
        number = digits().value_or(Number());
        return true;
    }

    std::optional<Version> run() {
        Version v;
        if (peek() == 'v' || peek() == 'V') ++i;
        auto first = digits();
        if (!first) return std::nullopt;
        if (peek() == '!') {
            ++i;
            v.epoch_ = *first;
            first = digits();
            if (!first) return std::nullopt;
        }
        v.release_.push_back(*first);
        while (peek() == '.' && is_ascii_digit(peek(1))) {
            ++i;
            v.release_.push_back(*digits());
        }

        static constexpr std::array<std::string_view, 8> pre_words{
            "preview", "alpha", "beta", "pre", "rc", "a", "b", "c"};
        static constexpr std::array<PreKind, 8> pre_kinds{
            PreKind::release_candidate, PreKind::alpha, PreKind::beta, PreKind::release_candidate,
            PreKind::release_candidate, PreKind::alpha, PreKind::beta, PreKind::release_candidate};
        std::size_t which = 0;
        Number number;
        if (lettered_part(pre_words, which, number)) v.pre_ = PreRelease{pre_kinds[which], number};

        static constexpr std::array<std::string_view, 3> post_words{"post", "rev", "r"};
        if (peek() == '-' && is_ascii_digit(peek(1))) {
            ++i;  // "1.0-1" is the implicit spelling of a post-release
            v.post_ = digits();
        } else if (lettered_part(post_words, which, number)) {
            v.post_ = number;
        }

        static constexpr std::array<std::string_view, 1> dev_words{"dev"};
        if (lettered_part(dev_words, which, number)) v.dev_ = number;

        if (peek() == '+') {
            do {
                ++i;  // the '+', then each separator between the segments
                const std::size_t start = i;
                while (!at_end() && is_ascii_alnum(s[i])) ++i;
                if (i == start) return std::nullopt;
                const auto part = s.substr(start, i - start);
                const bool numeric = std::all_of(part.begin(), part.end(), is_ascii_digit);
                v.local_.push_back(numeric ? LocalSegment{true, Number(part).digits()}
                                           : LocalSegment{false, text::to_lower(part)});
            } while (is_separator(peek()) && is_ascii_alnum(peek(1)));
        }
        if (!at_end()) return std::nullopt;
        return v;
    }
};

std::optional<Version> Version::parse(std::string_view text_in) {
    return VersionParser{text::trim_unicode_space(text_in)}.run();
}

std::optional<Version> parse_version(std::string_view text_in) { return Version::parse(text_in); }

namespace {

std::string_view pre_letters(PreKind kind) noexcept {
    switch (kind) {
        case PreKind::alpha: return "a";
        case PreKind::beta: return "b";
        case PreKind::release_candidate: return "rc";
    }
    return "";
}

// Release numbers with trailing zeros removed take part in comparisons: 1.0 == 1.0.0.
std::size_t significant_release_length(const std::vector<Number>& release) noexcept {
    std::size_t n = release.size();
    while (n > 0 && release[n - 1].is_zero()) --n;
    return n;
}

std::strong_ordering compare_release(const std::vector<Number>& a,
                                     const std::vector<Number>& b) noexcept {
    const std::size_t na = significant_release_length(a);
    const std::size_t nb = significant_release_length(b);
    for (std::size_t k = 0; k < na && k < nb; ++k) {
        if (auto c = a[k] <=> b[k]; c != 0) return c;
    }
    return na <=> nb;
}

// A rank for the pre-release slot: a dev release of a final version sorts before its
// pre-releases, pre-releases in their own order, and the final (or post) release after them.
struct PreKey {
    int rank;  // 0: before every pre-release, 1: a pre-release, 2: no pre-release
    const PreRelease* pre;
};

PreKey pre_key(const Version& v) noexcept {
    if (v.pre()) return {1, &*v.pre()};
    if (!v.post() && v.dev()) return {0, nullptr};
    return {2, nullptr};
}

std::strong_ordering compare_local(const std::vector<LocalSegment>& a,
                                   const std::vector<LocalSegment>& b) noexcept {
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
        const auto& x = a[k];
        const auto& y = b[k];
        if (x.numeric != y.numeric) {
            // A numeric segment sorts after an alphanumeric one.
            return x.numeric ? std::strong_ordering::greater : std::strong_ordering::less;
        }
        const auto c = x.numeric ? Number(x.text) <=> Number(y.text) : x.text.compare(y.text) <=> 0;
        if (c != 0) return c;
    }
    return a.size() <=> b.size();
}

// An absent number sorts before any present one when `absent_first`, else after it.
std::strong_ordering compare_optional(const std::optional<Number>& a,
                                      const std::optional<Number>& b, bool absent_first) noexcept {
    if (a.has_value() != b.has_value()) {
        return a.has_value() == absent_first ? std::strong_ordering::greater
                                             : std::strong_ordering::less;
    }
    return a ? *a <=> *b : std::strong_ordering::equal;
}

// The order of two version texts; none when either is absent or not a version.
std::optional<std::strong_ordering> compare_texts(const std::optional<std::string>& a,
                                                  const std::optional<std::string>& b) noexcept {
    try {
        if (!a || !b) return std::nullopt;
        const auto va = Version::parse(*a);
        const auto vb = Version::parse(*b);
        if (va && vb) return *va <=> *vb;
    } catch (...) {
        // Only memory exhaustion can land here; a comparison that cannot be made is none.
    }
    return std::nullopt;
}

}  // namespace

std::strong_ordering operator<=>(const Version& a, const Version& b) noexcept {
    if (auto c = a.epoch_ <=> b.epoch_; c != 0) return c;
    if (auto c = compare_release(a.release_, b.release_); c != 0) return c;

    const PreKey pa = pre_key(a);
    const PreKey pb = pre_key(b);
    if (auto c = pa.rank <=> pb.rank; c != 0) return c;
    if (pa.rank == 1) {
        if (auto c = static_cast<int>(pa.pre->kind) <=> static_cast<int>(pb.pre->kind); c != 0)
            return c;
        if (auto c = pa.pre->number <=> pb.pre->number; c != 0) return c;
    }

    // No post-release sorts before any post-release; a dev release before the same version
    // without one.
    if (auto c = compare_optional(a.post_, b.post_, true); c != 0) return c;
    if (auto c = compare_optional(a.dev_, b.dev_, false); c != 0) return c;

    // A local version sorts after its public version.
    if (a.local_.empty() != b.local_.empty()) {
        return a.local_.empty() ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    return compare_local(a.local_, b.local_);
}

std::string Version::public_version() const {
    std::string out;
    if (!epoch_.is_zero()) out += epoch_.digits() + "!";
    for (std::size_t k = 0; k < release_.size(); ++k) {
        if (k > 0) out += '.';
        out += release_[k].digits();
    }
    if (pre_) {
        out += pre_letters(pre_->kind);
        out += pre_->number.digits();
    }
    if (post_) out += ".post" + post_->digits();
    if (dev_) out += ".dev" + dev_->digits();
    return out;
}

std::string Version::to_string() const {
    std::string out = public_version();
    for (std::size_t k = 0; k < local_.size(); ++k) {
        out += k == 0 ? '+' : '.';
        out += local_[k].text;
    }
    return out;
}

bool is_version_bigger(const std::optional<std::string>& installed_version,
                       const std::optional<std::string>& requested_version) noexcept {
    return compare_texts(installed_version, requested_version) == std::strong_ordering::greater;
}

bool is_version_equal(const std::optional<std::string>& installed_version,
                      const std::optional<std::string>& requested_version) noexcept {
    return compare_texts(installed_version, requested_version) == std::strong_ordering::equal;
}

}  // namespace tessel_installer::pkgkit
