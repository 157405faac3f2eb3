#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

#include "tessel_installer/terminal_text.hpp"

#include <cstdint>
#include <optional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <locale.h>
#include <wctype.h>
#endif

namespace tessel_installer::pkgkit::text {
namespace {

using tessel_installer::text::decode_utf8_at;

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
#else
    // The invariant locale's simple lower-case mapping, as the C.UTF-8 tables give elsewhere; the
    // C runtime's towlower knows only its code page's letters, which would leave "Ü" as it is.
    wchar_t in[2];
    int length = 1;
    if (cp >= 0x10000) {
        in[0] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        in[1] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        length = 2;
    } else {
        in[0] = static_cast<wchar_t>(cp);
    }
    wchar_t out[2];
    const int got = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, in, length, out, 2,
                                  nullptr, nullptr, 0);
    if (got == 1 && (out[0] < 0xD800 || out[0] > 0xDFFF)) return static_cast<char32_t>(out[0]);
    if (got == 2 && out[0] >= 0xD800 && out[0] <= 0xDBFF && out[1] >= 0xDC00 && out[1] <= 0xDFFF) {
        return 0x10000 + ((static_cast<char32_t>(out[0]) - 0xD800) << 10) +
               (static_cast<char32_t>(out[1]) - 0xDC00);
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
        const auto d = decode_utf8_at(text, begin);
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
        const auto d = decode_utf8_at(text, start);
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
        const auto d = decode_utf8_at(text, pos);
        if (!d) {
            out.push_back(text[pos]);
            ++pos;
            continue;
        }
        // ASCII is lowered here whatever the platform's tables say.
        append_utf8(out, d->code_point < 0x80 ? static_cast<char32_t>(ascii_lower(text[pos]))
                                              : lower_code_point(d->code_point));
        pos += d->length;
    }
    return out;
}

std::string quote_for_message(std::string_view text) {
    constexpr std::size_t keep = 60;
    const bool cut = text.size() > 2 * keep;
    std::string out = "'";
    tessel_installer::text::append_terminal_safe(out, cut ? text.substr(0, keep) : text, true);
    if (cut) {
        out += "...";
        tessel_installer::text::append_terminal_safe(out, text.substr(text.size() - keep), true);
    }
    out += "'";
    if (cut) out += " (" + std::to_string(text.size()) + " bytes)";
    return out;
}

}  // namespace tessel_installer::pkgkit::text
