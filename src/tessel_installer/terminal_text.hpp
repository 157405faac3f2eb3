// Text that came from outside the program (the network, the record file, a child's output, file
// names) on its way to the terminal, the UTF-8 decoding that it and the name handling share, and
// the splitting of such text at a separator and the joining of pieces with one.
// Kept in the lowest shared unit so that every message, wherever it is built, can use it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel_installer::text {

struct DecodedCodePoint {
    char32_t code_point;
    std::size_t length;  // bytes taken
};

// Decodes one UTF-8 sequence at `pos` (< s.size()); none for an invalid, overlong, surrogate or
// truncated one.
std::optional<DecodedCodePoint> decode_utf8_at(std::string_view s, std::size_t pos) noexcept;

// The text as it may be shown on a terminal: every control character but tab (C0 with NUL and
// line breaks, DEL, C1, and so the start of every escape sequence) and the bidirectional controls
// appear escaped (\x1b, \u0085), as do bytes that are not valid UTF-8; valid UTF-8 is kept. The
// result is one line that cannot move the cursor, clear the screen or hide what follows.
std::string terminal_safe(std::string_view text);

// Appends the rendering above; with `quoted`, a quote or backslash is also escaped with a
// backslash, for text shown between single quotes.
void append_terminal_safe(std::string& out, std::string_view text, bool quoted = false);

// The pieces between the separators, empty ones included: "a,,b" gives "a", "", "b"; "" gives "".
std::vector<std::string_view> split(std::string_view text, char separator);
// The pieces with the separator between each two: {"a", "b"} and ", " give "a, b".
std::string join(const std::vector<std::string>& pieces, std::string_view separator);

}  // namespace tessel_installer::text
