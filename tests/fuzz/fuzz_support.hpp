// What the harnesses share: a property check that stops the run, so libFuzzer keeps the input as a
// crash file, and the helpers that turn the raw bytes into the texts a parser receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

// Checked in every build type: the fuzz preset builds with NDEBUG, which silences assert().
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::tessel_fuzz::property_failed(#condition, __FILE__, __LINE__))
#define FUZZ_FAIL(what) ::tessel_fuzz::property_failed(what, __FILE__, __LINE__)

namespace tessel_fuzz {

[[noreturn]] inline void property_failed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "property failed: %s at %s:%d\n", what, file, line);
    std::abort();
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The pieces of `text` between `separator`s, at most `most` of them (the last takes the rest).
inline std::vector<std::string_view> split(std::string_view text, char separator, std::size_t most) {
    std::vector<std::string_view> pieces;
    while (pieces.size() + 1 < most) {
        const std::size_t at = text.find(separator);
        if (at == std::string_view::npos) break;
        pieces.push_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
    pieces.push_back(text);
    return pieces;
}

// Well-formed UTF-8 by the table of the Unicode standard (no overlong forms, no surrogates,
// nothing past U+10FFFF), written apart from the decoder the program uses so it can judge it.
inline bool is_valid_utf8(std::string_view text) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead <= 0x7F) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = byte(i + k);
            if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace tessel_fuzz
