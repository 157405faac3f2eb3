#include <gtest/gtest.h>

#include <string>

#include "tessel_installer/terminal_text.hpp"

using tessel_installer::text::append_terminal_safe;
using tessel_installer::text::terminal_safe;

TEST(TerminalSafe, EscapesWhatCouldSteerTheTerminalAndKeepsText) {
    using namespace std::string_literals;
    struct Case { std::string in; std::string out; };
    const Case cases[] = {
        {"plain text, tabs\tstay", "plain text, tabs\tstay"},
        {"\x1b[2J\x1b[HSuccess!", "\\x1b[2J\\x1b[HSuccess!"},
        {"a\0b"s, "a\\x00b"},
        {"line one\nline two\r\n", "line one\\x0aline two\\x0d\\x0a"},
        {"bell\x07 del\x7f", "bell\\x07 del\\x7f"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6"},
        {"c1 \xc2\x9b" "31m next \xc2\x85", "c1 \\u009b31m next \\u0085"},
        {"rtl \xe2\x80\xae" "gnp.exe", "rtl \\u202egnp.exe"},
        {"sep \xe2\x80\xa8 x", "sep \\u2028 x"},
        {"arabic mark \xd8\x9c" "x", "arabic mark \\u061cx"},
        {"zero\xe2\x80\x8bwidth\xe2\x80\x8d", "zero\\u200bwidth\\u200d"},
        {"word\xe2\x81\xa0joiner\xe2\x81\xa4", "word\\u2060joiner\\u2064"},
        {"\xef\xbb\xbf" "bom", "\\ufeffbom"},
        {"tag \xf3\xa0\x80\x81\xf3\xa0\x81\xbf", "tag \\U000e0001\\U000e007f"},
        {"kept \xe2\x80\x8a \xe2\x81\xa5 \xf3\xa0\x82\x80", "kept \xe2\x80\x8a \xe2\x81\xa5 \xf3\xa0\x82\x80"},
        {"bad \xff\xfe end", "bad \\xff\\xfe end"},
        {"overlong \xc0\xaf", "overlong \\xc0\\xaf"},
        {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
        {"cut \xe2\x82", "cut \\xe2\\x82"},
        {"back\\slash 'q'", "back\\slash 'q'"},
        {"", ""},
    };
    for (const auto& tc : cases) EXPECT_EQ(terminal_safe(tc.in), tc.out) << tc.out;
}

TEST(TerminalSafe, QuotedFormAlsoEscapesQuoteAndBackslash) {
    std::string out = "'";
    append_terminal_safe(out, "it's a\\b\x1b", true);
    EXPECT_EQ(out, "'it\\'s a\\\\b\\x1b");
}
