#include "encoding/header_text.hpp"
#include "encoding/utf8.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

using namespace quillpost;

namespace {

// The lines of a folded text that begins at `column`, the first one counted
// with what stands before it.
std::vector<std::size_t> LineLengths(const std::string& text, std::size_t column) {
    std::vector<std::size_t> lengths;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lengths.push_back(end - start + (start == 0 ? column : 0));
    lengths.push_back(text.size() - start + (start == 0 ? column : 0));
    return lengths;
}

std::string FromBase64(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') break;
        bits = (bits << 6) | static_cast<unsigned>(alphabet.find(c));
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

const std::string kAe = "\xC3\xA4";                 // ä
const std::string kGrin = "\xF0\x9F\x98\x80";       // U+1F600
const std::string kUe = "\xC3\x9C";                 // Ü

struct WordsCase {
    const char* what;
    std::string text;
    std::size_t column;
    std::string expected;
};

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

}  // namespace

TEST(EncodedWords, FillEachLineWithWholeCharactersAndFoldBetweenWords) {
    const std::string ae22 = "=?utf-8?B?" + Repeat("w6TDpMOk", 7) + "w6Q=?=";
    const std::string ae21 = "=?utf-8?B?" + Repeat("w6TDpMOk", 7) + "?=";
    const WordsCase cases[] = {
        {"one short word", "\xC3\xA9", 9, "=?utf-8?B?w6k=?="},
        {"a subject", "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln", 9, "=?utf-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?="},
        {"45 bytes hold 22 characters of two bytes", Repeat(kAe, 40), 1,
         ae22 + "\r\n =?utf-8?B?" + Repeat("w6TDpMOk", 6) + "?="},
        {"after Subject: the first line holds 42 bytes", Repeat(kAe, 40), 9,
         ae21 + "\r\n =?utf-8?B?" + Repeat("w6TDpMOk", 6) + "w6Q=?="},
        {"four-byte character at the end of a word moves on",
         std::string(44, 'a') + kGrin, 1,
         "=?utf-8?B?" + Repeat("YWFh", 14) + "YWE=?=\r\n =?utf-8?B?8J+YgA==?="},
        {"no room for one character: fold first", "\xC3\xA9", 63, "\r\n =?utf-8?B?w6k=?="},
        {"room for exactly one character", "\xC3\xA9", 62, "=?utf-8?B?w6k=?="},
    };
    for (const WordsCase& c : cases) EXPECT_EQ(EncodeWords(c.text, c.column), c.expected) << c.what;
}

TEST(EncodedWords, EveryWordIsWholeCharactersWithin75AndEveryLineWithin78) {
    // Characters of every length, in an order that puts each kind at word
    // ends, at every starting column a header name can leave.
    std::string text;
    for (int i = 0; i < 120; ++i) text += i % 4 == 0 ? kGrin : i % 4 == 1 ? "x" : i % 4 == 2 ? kAe : "\xE2\x82\xAC";
    const std::regex word(R"(=\?utf-8\?B\?([A-Za-z0-9+/=]*)\?=)");
    for (std::size_t column = 0; column < 80; ++column) {
        const std::string encoded = EncodeWords(text, column);
        // Only the header name may pass 78 characters; the words never do.
        for (const std::size_t length : LineLengths(encoded, column))
            EXPECT_LE(length, std::max<std::size_t>(column, 78)) << column;
        std::string decoded;
        std::size_t words = 0;
        for (auto it = std::sregex_iterator(encoded.begin(), encoded.end(), word); it != std::sregex_iterator(); ++it) {
            EXPECT_LE(it->length(), 75) << column;
            const std::string piece = FromBase64((*it)[1]);
            EXPECT_TRUE(IsValidUtf8(piece)) << column << " " << it->str();
            decoded += piece;
            ++words;
        }
        EXPECT_EQ(decoded, text) << column;
        // Between the words only folds; one before the first word where the
        // text's first character (four bytes, 20 characters) cannot fit.
        const std::size_t folds = words - 1 + (column > 58 ? 1 : 0);
        EXPECT_EQ(std::regex_replace(encoded, word, ""), Repeat("\r\n ", static_cast<int>(folds))) << column;
    }
}

struct ParameterCase {
    const char* what;
    std::string value;
    std::string expected;
};

TEST(ExtendedParameters, PercentEncodeAndContinueInSectionsOfWholeCharacters) {
    const std::string ue = "%C3%9C";
    const ParameterCase cases[] = {
        {"short name", kUe + "bersicht.pdf", "filename*=utf-8''%C3%9Cbersicht.pdf"},
        {"separators and blanks are encoded", "a b'c*%\"(;)=?" + kAe + ".txt",
         "filename*=utf-8''a%20b%27c%2A%25%22%28%3B%29%3D%3F%C3%A4.txt"},
        {"attribute characters stay", "x-1_2.~!#$&+^`|" + kAe, "filename*=utf-8''x-1_2.~!#$&+^`|%C3%A4"},
        {"60 encoded characters fit one line", Repeat(kUe, 10), "filename*=utf-8''" + Repeat(ue, 10)},
        {"61 need sections", Repeat(kUe, 10) + "x",
         "filename*0*=utf-8''" + Repeat(ue, 9) + ";\r\n filename*1*=" + ue + "x"},
        {"long name", Repeat(kUe, 30) + ".pdf",
         "filename*0*=utf-8''" + Repeat(ue, 9) + ";\r\n filename*1*=" + Repeat(ue, 10) + ";\r\n filename*2*=" +
             Repeat(ue, 10) + ";\r\n filename*3*=" + ue + ".pdf"},
    };
    for (const ParameterCase& c : cases) {
        const std::string encoded = ExtendedParameter("filename", c.value);
        EXPECT_EQ(encoded, c.expected) << c.what;
        for (const std::size_t length : LineLengths(encoded, 1)) EXPECT_LE(length, 78u) << c.what;
    }
}
