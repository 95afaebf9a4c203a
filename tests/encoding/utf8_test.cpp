#include "encoding/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillpost;
using namespace std::string_literals;

namespace {

struct TextCase {
    const char* what;
    std::string text;
    bool expected;
};

}  // namespace

TEST(Utf8, ValidatorAcceptsEachLengthAtItsLimitsAndRefusesEveryMalformedSequence) {
    const TextCase cases[] = {
        {"empty", ""s, true},
        {"ascii with a NUL", "a\0b"s, true},
        {"U+0080", "\xC2\x80"s, true},
        {"U+07FF", "\xDF\xBF"s, true},
        {"U+0800", "\xE0\xA0\x80"s, true},
        {"U+D7FF before the surrogates", "\xED\x9F\xBF"s, true},
        {"U+E000 after the surrogates", "\xEE\x80\x80"s, true},
        {"U+FFFF", "\xEF\xBF\xBF"s, true},
        {"U+10000", "\xF0\x90\x80\x80"s, true},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF"s, true},
        {"mixed text", "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80!"s, true},
        {"overlong NUL", "\xC0\x80"s, false},
        {"overlong two bytes", "\xC1\xBF"s, false},
        {"overlong three bytes", "\xE0\x9F\xBF"s, false},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF"s, false},
        {"high surrogate", "\xED\xA0\x80"s, false},
        {"low surrogate", "\xED\xBF\xBF"s, false},
        {"above U+10FFFF", "\xF4\x90\x80\x80"s, false},
        {"lead byte F5", "\xF5\x80\x80\x80"s, false},
        {"byte FF", "a\xFF"s, false},
        {"stray continuation", "a\x80"s, false},
        {"two bytes cut at the end", "ab\xC3"s, false},
        {"three bytes cut at the end", "\xE2\x82"s, false},
        {"four bytes cut before a letter", "\xF0\x9F\x98" "A"s, false},
        {"third byte not a continuation", "\xE2\x82\x41"s, false},
        {"second byte not a continuation", "\xC3\x41"s, false},
    };
    for (const TextCase& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.expected) << c.what;
}

TEST(Utf8, IsAsciiIsFalseForAnyByteAbove7F) {
    const TextCase cases[] = {
        {"empty", ""s, true},
        {"all of ASCII's edges", "\0\x1F !~\x7F"s, true},
        {"byte 80 at the end", "abc\x80"s, false},
        {"a two-byte character", "K\xC3\xB6ln"s, false},
        {"byte FF first", "\xFFx"s, false},
    };
    for (const TextCase& c : cases) EXPECT_EQ(IsAscii(c.text), c.expected) << c.what;
}

TEST(Utf8, WholeCharactersWithinNeverCutsACharacter) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::size_t expected;
    };
    const std::string euro = "\xE2\x82\xAC";
    const Case cases[] = {
        {"abc", 2, 2},
        {"abc", 9, 3},
        {"a" + euro, 3, 1},
        {"a" + euro, 4, 4},
        {euro + euro, 5, 3},
        {"\xF0\x9F\x98\x80", 3, 0},
        {"\xF0\x9F\x98\x80", 4, 4},
        {"", 4, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(WholeCharactersWithin(c.text, c.limit), c.expected) << c.text << " " << c.limit;
}
