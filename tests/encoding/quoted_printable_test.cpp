#include "encoding/quoted_printable.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillpost;
using namespace std::string_literals;

namespace {

std::string Encode(const std::vector<std::string>& lines, std::size_t flushAt = 1 << 20) {
    std::string out;
    QuotedPrintableEncoder encoder([&](std::string_view piece) { out += piece; }, flushAt);
    for (const std::string& line : lines) encoder.Line(line);
    encoder.Flush();
    return out;
}

// Undoes the encoding of one text: soft breaks go, "=XX" becomes its byte.
std::string Decode(std::string_view encoded) {
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '=') {
            out += encoded[i];
        } else if (encoded.substr(i + 1, 2) == "\r\n") {
            i += 2;
        } else {
            out += static_cast<char>(std::stoi(std::string(encoded.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

struct Case {
    const char* what;
    std::string line;
    std::string expected;
};

}  // namespace

TEST(QuotedPrintable, EncodesEachLineAndBreaksItAt76Characters) {
    const std::string a75(75, 'a');
    const Case cases[] = {
        {"empty line", "", "\r\n"},
        {"plain ASCII and inner blanks", "a b\tc.", "a b\tc.\r\n"},
        {"equals sign", "1+1=2", "1+1=3D2\r\n"},
        {"trailing blank", "end ", "end=20\r\n"},
        {"trailing tab", "end\t", "end=09\r\n"},
        {"two-byte characters", "Gr\xC3\xBC\xC3\x9F" "e", "Gr=C3=BC=C3=9Fe\r\n"},
        {"control characters", "\x01\x7F"s, "=01=7F\r\n"},
        {"76 characters stay one line", std::string(76, 'a'), std::string(76, 'a') + "\r\n"},
        {"77 characters break once", std::string(77, 'a'), a75 + "=\r\naa\r\n"},
        {"equals sign does not fit before the break", std::string(74, 'a') + "=b",
         std::string(74, 'a') + "=\r\n=3Db\r\n"},
        {"equals sign ends the line at 76", std::string(73, 'a') + "=", std::string(73, 'a') + "=3D\r\n"},
        {"trailing blank after a break", a75 + " ", a75 + "=\r\n=20\r\n"},
        {"blank before a soft break stays literal", std::string(74, 'a') + " bc",
         std::string(74, 'a') + " =\r\nbc\r\n"},
        {"four-byte character moves whole to the next line", std::string(73, 'a') + "\xF0\x9F\x98\x80",
         std::string(73, 'a') + "=\r\n=F0=9F=98=80\r\n"},
        {"four-byte character that fits stays", std::string(63, 'a') + "\xF0\x9F\x98\x80" + "bc",
         std::string(63, 'a') + "=F0=9F=98=80=\r\nbc\r\n"},
        {"stray continuation byte goes alone", "\x80" "a", "=80a\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Encode({c.line}), c.expected) << c.what;
}

TEST(QuotedPrintable, AThousandOctetLineBecomes76CharacterLinesThatDecodeBack) {
    std::string line;
    for (int i = 0; i < 1000; ++i) line += static_cast<char>(i % 3 == 0 ? '=' : 'a' + i % 26);
    const std::string encoded = Encode({line, "next"});
    const std::vector<std::string> lines = Lines(encoded);
    ASSERT_GT(lines.size(), 14u);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), kQuotedPrintableLineLength) << i;
        EXPECT_TRUE(i + 2 == lines.size() || lines[i].back() == '=') << i;
    }
    EXPECT_EQ(lines.back(), "next");
    EXPECT_EQ(Decode(encoded), line + "\r\nnext\r\n");
}

TEST(QuotedPrintable, PiecesAreWholeLinesAndDoNotChangeTheResult) {
    std::string line;
    for (int i = 0; i < 5000; ++i) line += i % 5 == 0 ? "\xC3\xA9" : "x";
    const std::string whole = Encode({line, "", "tail "});
    std::vector<std::string> pieces;
    QuotedPrintableEncoder encoder([&](std::string_view piece) { pieces.emplace_back(piece); }, 200);
    encoder.Line(line);
    encoder.Line("");
    encoder.Line("tail ");
    encoder.Flush();
    ASSERT_GT(pieces.size(), 10u);
    std::string joined;
    for (const std::string& piece : pieces) {
        EXPECT_LE(piece.size(), 200u + kQuotedPrintableLineLength + 2);
        EXPECT_TRUE(piece.ends_with("\r\n"));
        joined += piece;
    }
    EXPECT_EQ(joined, whole);
    EXPECT_TRUE(whole.ends_with("\r\n\r\ntail=20\r\n"));
}
