#include "encoding/utf16.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace quillpost;

namespace {

struct Utf16Case {
    const char* what;
    std::string utf16le;
    std::string utf8;
};

}  // namespace

TEST(Utf16LeToUtf8, DecodesEachLengthAndReplacesBrokenSurrogates) {
    using namespace std::string_literals;
    const Utf16Case cases[] = {
        {"empty", ""s, ""s},
        {"ascii", "A\0z\0"s, "Az"s},
        {"two bytes", "\xE9\0"s, "\xC3\xA9"s},
        {"longest two bytes", "\xFF\x07"s, "\xDF\xBF"s},
        {"shortest three bytes", "\x00\x08"s, "\xE0\xA0\x80"s},
        {"three bytes", "\xAC\x20"s, "\xE2\x82\xAC"s},
        {"last before surrogates", "\xFF\xD7"s, "\xED\x9F\xBF"s},
        {"pair", "\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80"s},
        {"highest pair", "\xFF\xDB\xFF\xDF"s, "\xF4\x8F\xBF\xBF"s},
        {"lone low", "\x00\xDC" "A\0"s, "\xEF\xBF\xBD" "A"s},
        {"high at the end", "A\0\x3D\xD8"s, "A\xEF\xBF\xBD"s},
        {"high before a letter", "\x3D\xD8" "A\0"s, "\xEF\xBF\xBD" "A"s},
        {"two highs", "\x3D\xD8\x3D\xD8\x00\xDE"s, "\xEF\xBF\xBD\xF0\x9F\x98\x80"s},
        {"odd last byte", "A\0B"s, "A"s},
        {"after the surrogates", "\x00\xE0"s, "\xEE\x80\x80"s},
    };
    for (const Utf16Case& c : cases) EXPECT_EQ(Utf16LeToUtf8(c.utf16le), c.utf8) << c.what;
}
