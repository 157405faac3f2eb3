// The terminal-safe rendering of outside text, plain and quoted, and the quoted form of messages.
// The output has no C0 control but tab, no DEL, no C1 code point, no line separator, no
// bidirectional control and no invisible format character (zero-width ones, the byte order mark,
// tags), and is valid UTF-8; printable ASCII comes through unchanged.
#include <algorithm>
#include <string>

#include "fuzz_support.hpp"
#include "tessel_installer/terminal_text.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace text = tessel_installer::text;

namespace {

// Every code point of valid UTF-8, with a visitor.
template <typename Visit>
void for_each_code_point(std::string_view s, Visit visit) {
    for (std::size_t pos = 0; pos < s.size();) {
        const auto lead = static_cast<unsigned char>(s[pos]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (s[pos + k] & 0x3F);
        visit(cp);
        pos += length;
    }
}

bool shows_safely(char32_t cp) {
    if (cp < 0x20) return cp == '\t';
    return !(cp >= 0x7F && cp <= 0x9F) && cp != 0x061C && !(cp >= 0x200B && cp <= 0x200F) &&
           cp != 0x2028 && cp != 0x2029 && !(cp >= 0x202A && cp <= 0x202E) &&
           !(cp >= 0x2060 && cp <= 0x2064) && !(cp >= 0x2066 && cp <= 0x2069) && cp != 0xFEFF &&
           !(cp >= 0xE0000 && cp <= 0xE007F);
}

void check_safe(std::string_view out) {
    FUZZ_CHECK(tessel_fuzz::is_valid_utf8(out));
    for_each_code_point(out, [](char32_t cp) { FUZZ_CHECK(shows_safely(cp)); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = tessel_fuzz::as_text(data, size);
    const std::string plain = text::terminal_safe(input);
    check_safe(plain);
    const bool printable_ascii = std::all_of(input.begin(), input.end(), [](char c) {
        return c >= 0x20 && c <= 0x7E;
    });
    if (printable_ascii) FUZZ_CHECK(plain == input);

    // Quoted: a quote in the output is always escaped, so the text cannot end the quotation.
    std::string quoted;
    text::append_terminal_safe(quoted, input, true);
    check_safe(quoted);
    for (std::size_t k = 0; k < quoted.size(); ++k) {
        if (quoted[k] != '\'') continue;
        std::size_t backslashes = 0;
        while (backslashes < k && quoted[k - 1 - backslashes] == '\\') ++backslashes;
        FUZZ_CHECK(backslashes % 2 == 1);
    }

    const std::string message = tessel_installer::pkgkit::text::quote_for_message(input);
    check_safe(message);
    FUZZ_CHECK(message.size() <= 2 * 60 * 4 + 64);
    return 0;
}
