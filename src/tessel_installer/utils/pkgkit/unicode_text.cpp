#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

#include <cstdint>
#include <optional>

#if !defined(_WIN32)
#include <locale.h>
#include <wctype.h>
#endif

namespace tessel_installer::pkgkit::text {
namespace {

struct Decoded {
    char32_t code_point;
    std::size_t length;
};

// Decodes one UTF-8 sequence at `pos`; none for an invalid or truncated one.
std::optional<Decoded> decode_at(std::string_view s, std::size_t pos) noexcept {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) return Decoded{b0, 1};
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
    return Decoded{cp, len};
}

bool is_unicode_space(char32_t cp) noexcept {
    return (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x20) || cp == 0x85 || cp == 0xA0 ||
           cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 ||
           cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t lower_code_point(char32_t cp) noexcept {
#if !defined(_WIN32)
    // The C.UTF-8 tables are read-only once made; the process locale is never touched.
    static const locale_t utf8_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (utf8_locale != locale_t{}) {
        const wint_t lowered = towlower_l(static_cast<wint_t>(cp), utf8_locale);
        if (lowered != WEOF && lowered <= 0x10FFFF) return static_cast<char32_t>(lowered);
    }
#endif
    return cp;
}

}  // namespace

bool iequals_ascii(std::string_view a, std::string_view lower_b) noexcept {
    if (a.size() != lower_b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != lower_b[i]) return false;
    }
    return true;
}

std::string_view trim_unicode_space(std::string_view text) noexcept {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto d = decode_at(text, begin);
        if (!d || !is_unicode_space(d->code_point)) break;
        begin += d->length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the first byte of the last sequence (at most three continuation bytes).
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 &&
               (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            --start;
        }
        const auto d = decode_at(text, start);
        if (!d || start + d->length != end || !is_unicode_space(d->code_point)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string to_lower(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (static_cast<unsigned char>(c) < 0x80) {
            out.push_back(ascii_lower(c));
            ++pos;
            continue;
        }
        const auto d = decode_at(text, pos);
        if (!d) {
            out.push_back(c);
            ++pos;
            continue;
        }
        append_utf8(out, lower_code_point(d->code_point));
        pos += d->length;
    }
    return out;
}

namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_byte_escape(std::string& out, unsigned char byte) {
    out += "\\x";
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
}

void append_code_point_escape(std::string& out, char32_t cp) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(cp >> shift) & 0xF]);
}

// Code points that steer the terminal or the reading order rather than showing a letter: C1
// controls, line and paragraph separators, and the bidirectional overrides and isolates that can
// make a line read differently from what it holds.
constexpr bool is_invisible_control(char32_t cp) noexcept {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x200E || cp == 0x200F || cp == 0x2028 ||
           cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
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
        const std::optional<Decoded> decoded = decode_at(text, pos);
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

}  // namespace

std::string terminal_safe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    append_terminal_safe(out, text, false);
    return out;
}

std::string quote_for_message(std::string_view text) {
    constexpr std::size_t keep = 60;
    std::string_view head = text;
    std::string_view tail;
    bool cut = false;
    if (text.size() > 2 * keep) {
        head = text.substr(0, keep);
        tail = text.substr(text.size() - keep);
        cut = true;
    }
    std::string out = "'";
    append_terminal_safe(out, head, true);
    if (cut) {
        out += "...";
        append_terminal_safe(out, tail, true);
    }
    out += "'";
    if (cut) out += " (" + std::to_string(text.size()) + " bytes)";
    return out;
}

}  // namespace tessel_installer::pkgkit::text
