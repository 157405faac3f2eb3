#include "tessel_installer/terminal_text.hpp"

namespace tessel_installer::text {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_byte_escape(std::string& out, unsigned char byte) {
    out += "\\x";
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
}

// "\\u" and four hex digits, or above U+FFFF "\\U" and eight.
void append_code_point_escape(std::string& out, char32_t cp) {
    out += cp > 0xFFFF ? "\\U" : "\\u";
    for (int shift = cp > 0xFFFF ? 28 : 12; shift >= 0; shift -= 4) {
        out.push_back(kHex[(cp >> shift) & 0xF]);
    }
}

// Code points that steer the terminal or the reading order rather than showing a letter: C1
// controls, line and paragraph separators, the bidirectional marks, overrides and isolates that
// can make a line read differently from what it holds (U+061C ARABIC LETTER MARK among them), and
// the invisible format characters that hide inside a name: zero-width space and joiners, word
// joiner and invisible operators, the byte order mark, and the tag characters.
constexpr bool is_invisible_control(char32_t cp) noexcept {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || (cp >= 0x200B && cp <= 0x200F) ||
           cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2060 && cp <= 0x2064) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF ||
           (cp >= 0xE0000 && cp <= 0xE007F);
}

}  // namespace

std::optional<DecodedCodePoint> decode_utf8_at(std::string_view s, std::size_t pos) noexcept {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) return DecodedCodePoint{b0, 1};
    std::size_t len = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        return std::nullopt;
    }
    if (pos + len > s.size()) return std::nullopt;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[pos + k]);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates are not characters.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;
    }
    return DecodedCodePoint{cp, len};
}

void append_terminal_safe(std::string& out, std::string_view text, bool quoted) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            if (quoted && (byte == '\'' || byte == '\\')) {
                out.push_back('\\');
                out.push_back(static_cast<char>(byte));
            } else if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
                append_byte_escape(out, byte);
            } else {
                out.push_back(static_cast<char>(byte));
            }
            ++pos;
            continue;
        }
        const std::optional<DecodedCodePoint> decoded = decode_utf8_at(text, pos);
        if (!decoded) {
            append_byte_escape(out, byte);
            ++pos;
            continue;
        }
        if (is_invisible_control(decoded->code_point)) {
            append_code_point_escape(out, decoded->code_point);
        } else {
            out.append(text.substr(pos, decoded->length));
        }
        pos += decoded->length;
    }
}

std::string terminal_safe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    append_terminal_safe(out, text, false);
    return out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const auto end = text.find(separator, start);
        // After the last separator npos - start is past the end: the rest is taken.
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return pieces;
        start = end + 1;
    }
}

std::string join(const std::vector<std::string>& pieces, std::string_view separator) {
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i != 0) joined += separator;
        joined += pieces[i];
    }
    return joined;
}

}  // namespace tessel_installer::text
