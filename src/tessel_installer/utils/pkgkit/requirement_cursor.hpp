// The shared reading position of the requirement and marker parsers.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/requirement.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace tessel_installer::pkgkit::detail {

struct Cursor {
    std::string_view whole;   // for messages
    std::string_view kind;    // "requirement" or "marker", for messages
    std::size_t pos = 0;

    bool at_end() const noexcept { return pos >= whole.size(); }
    char peek(std::size_t ahead = 0) const noexcept {
        return pos + ahead < whole.size() ? whole[pos + ahead] : '\0';
    }
    void skip_space() noexcept {
        while (!at_end() && text::is_token_space(whole[pos])) ++pos;
    }
    bool starts_with(std::string_view literal) const noexcept {
        return whole.substr(pos).starts_with(literal);
    }
    bool consume(std::string_view literal) noexcept {
        if (!starts_with(literal)) return false;
        pos += literal.size();
        return true;
    }
    // The first of `literals` at the cursor, consumed; empty when none is there.
    template <std::size_t N>
    std::string_view consume_any(const std::array<std::string_view, N>& literals) noexcept {
        for (const auto literal : literals) {
            if (consume(literal)) return literal;
        }
        return {};
    }

    [[noreturn]] void fail(const std::string& what) const {
        std::string found = at_end() ? std::string("the end of the text")
                                     : text::quote_for_message(whole.substr(pos, 20));
        throw InvalidRequirement("Invalid " + std::string(kind) + " " +
                                 text::quote_for_message(whole) + ": " + what + " at position " +
                                 std::to_string(pos) + ", found " + found);
    }
};

// A name or extra: letters and digits, with runs of '-', '_' and '.' only between them.
inline bool read_identifier(Cursor& c, std::string_view& out) noexcept {
    if (c.at_end()) return false;
    const std::size_t length = distribution_name_length(c.whole.substr(c.pos));
    if (length == 0) return false;
    out = c.whole.substr(c.pos, length);
    c.pos += length;
    return true;
}

// Parses an environment marker at the cursor; stops before the first text it cannot use.
Marker read_marker(Cursor& c);

}  // namespace tessel_installer::pkgkit::detail
